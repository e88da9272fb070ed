// The bridge in the whole program: xAP commands drive the simulated controller,
// controller changes go out as BSC events, queries are answered paced.
#include "BridgeRig.h"

#include <gtest/gtest.h>

namespace {

using Frames = QList<QByteArray>;

class BridgeE2E : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(rig.start()) << "the program did not come up against the simulator"; }

    // Controller command frames (C8 ...) whose hex starts with `prefix`.
    Frames commandFrames(const QByteArray &prefixHex) const
    {
        Frames out;
        for (const QByteArray &f : rig.sim.framesOf(QuillonSim::FrameKind::Command)) {
            if (f.toHex(' ').startsWith(prefixHex))
                out.append(f);
        }
        return out;
    }
    bool waitForFrame(const QByteArray &prefixHex, int timeoutMs = 20000)
    {
        return waitUntil([&] { return !commandFrames(prefixHex).isEmpty(); }, timeoutMs);
    }
    QByteArray expectedEvent(const QByteArray &uid, const QByteArray &sub, const QByteArray &body) const
    {
        return "xap-header\n{\nv=13\nhop=1\nuid=" + uid + "\nclass=xapBSC.Event\nsource=" + rig.source.toLatin1() + ":"
            + sub + "\n}\n" + body;
    }

    BridgeRig rig;
};

TEST_F(BridgeE2E, CommandSetsAVariableAndItsEventArrivesByteExact)
{
    rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "State=on", "Level=100/32767"}}}));
    ASSERT_TRUE(waitForFrame("c8 29 04 64 00"));
    ASSERT_TRUE(waitUntil([&] { return !rig.eventsFrom("Hall_Temp.Quillon_Var__V004.Index").isEmpty(); }));
    // The next polls find the new value too; whatever events follow, none
    // carries the old State with the new Level.
    waitUntil([] { return false; }, 1000);
    for (const QByteArray &e : rig.eventsFrom("Hall_Temp.Quillon_Var__V004.Index")) {
        EXPECT_EQ(e, expectedEvent("FF.00C7:05", "Hall_Temp.Quillon_Var__V004.Index",
                                   "output.state\n{\nState=ON\nLevel=100/32767\n}\n"));
    }
    EXPECT_EQ(rig.sim.vars[4], 100);
}

// The store remembers the porch light as on while the controller has it off,
// so the first poll stores it as off before the command switches it on.
class BridgeE2ERelayPolledOff : public BridgeE2E
{
protected:
    void SetUp() override
    {
        rig.store.replace("[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;3;0;",
                          "[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;2;1;");
        BridgeE2E::SetUp();
    }
};

TEST_F(BridgeE2ERelayPolledOff, CommandSwitchesARelayPointByPattern)
{
    ASSERT_TRUE(waitUntil([&] { return !rig.eventsFrom("Porch_Light.SIO16_X8____Pt_9.Relay").isEmpty(); }))
        << "the poll did not store the relay as off";
    EXPECT_EQ(rig.eventsFrom("Porch_Light.SIO16_X8____Pt_9.Relay").first(),
              expectedEvent("FF.00C7:89", "Porch_Light.SIO16_X8____Pt_9.Relay", "output.state\n{\nState=OFF\n}\n"));
    rig.send(rig.message("xAPBSC.cmd", rig.source + ":porch_light.>", {{"output.state", {"ID=*", "State=on", "Level=1"}}}));
    ASSERT_TRUE(waitForFrame("c8 33 03 08 01"));
    ASSERT_TRUE(waitUntil([&] { return rig.eventsFrom("Porch_Light.SIO16_X8____Pt_9.Relay").size() == 2; }));
    EXPECT_EQ(rig.eventsFrom("Porch_Light.SIO16_X8____Pt_9.Relay").last(),
              expectedEvent("FF.00C7:89", "Porch_Light.SIO16_X8____Pt_9.Relay", "output.state\n{\nState=ON\n}\n"));
    EXPECT_EQ(rig.sim.pointLevel(3, 8), 1);
}

TEST_F(BridgeE2E, ControllerChangesBecomeEvents)
{
    // An input report from the controller.
    rig.sim.sendIOChange(3, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !rig.eventsFrom("Door_Contact.SIO16_X0____Pt_1.Switch").isEmpty(); }));
    EXPECT_EQ(BridgeRig::item(rig.eventsFrom("Door_Contact.SIO16_X0____Pt_1.Switch").first(), "uid"), "FF.00C7:81");

    // A variable changed on the controller shows after the next poll.
    rig.sim.vars[64] = 777;
    ASSERT_TRUE(waitUntil([&] { return !rig.eventsFrom("Cellar_Level.Quillon_Var__V064.Index").isEmpty(); }));
    const QByteArray e = rig.eventsFrom("Cellar_Level.Quillon_Var__V064.Index").first();
    EXPECT_EQ(BridgeRig::item(e, "uid"), "FF.00C7:41");
    EXPECT_EQ(BridgeRig::item(e, "Level"), "777/32767");
}

TEST_F(BridgeE2E, QueryIsAnsweredByEveryEndpointOnePerTickInDeviceOrder)
{
    ASSERT_TRUE(waitUntil([&] { return rig.of("xAPBSC.info").size() == 1; }));
    waitUntil([] { return false; }, 500); // the start-up query's timer runs down
    const qsizetype before = rig.listener.received.size();
    rig.send(rig.message("xAPBSC.query", rig.source + ":>", {{"request", {}}}));
    ASSERT_TRUE(rig.waitFor("xAPBSC.info", 1 + 6));
    QStringList order;
    QList<qint64> times;
    for (qsizetype i = before; i < rig.listener.received.size(); ++i) {
        const QByteArray &d = rig.listener.received.at(i);
        if (BridgeRig::item(d, "class") == "xAPBSC.info") {
            order.append(BridgeRig::item(d, "source").section(':', 1));
            times.append(rig.arrivals.value(i));
        }
    }
    EXPECT_EQ(order, QStringList({"hall_temp.quillon_var__v004.index", "cellar_level.quillon_var__v064.index",
                                  "door_contact.sio16_x0____pt_1.switch", "porch_light.sio16_x8____pt_9.relay",
                                  "garden_lamp.quillon_x10____a5.switch", "garden_fountain.quillon_x10____a6.switch"}));
    for (int i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], 150) << "reply " << i;
}

TEST_F(BridgeE2E, X10RequestDrivesTheControllerAndIsReported)
{
    rig.send(rig.message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A5,A6", "Command=on"}}}));
    ASSERT_TRUE(rig.waitFor("xAP-X10.event", 1));
    const QByteArray report = rig.of("xAP-X10.event").first();
    EXPECT_EQ(BridgeRig::item(report, "Device"), "A5+6");
    EXPECT_EQ(BridgeRig::item(report, "Event"), "on");
    EXPECT_TRUE(waitUntil([&] { return !rig.sim.x10Frames.isEmpty(); })) << "no X10 frame reached the controller";
}

TEST_F(BridgeE2E, IRTransmitPlaysAndReports)
{
    rig.send(rig.message("IR.Transmit", QString(), {{"IR.Signal", {"Device=TV", "Signal=Power", "Location=12"}}}));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.irPlayed.contains(12); }));
    ASSERT_TRUE(rig.waitFor("IR.Info", 1));
    const QByteArray info = rig.of("IR.Info").first();
    EXPECT_EQ(BridgeRig::item(info, "Location"), "12");
    EXPECT_EQ(BridgeRig::item(info, "Device"), "Quillon");
    EXPECT_EQ(BridgeRig::item(info, "Signal"), "Location12");

    rig.send(rig.message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=7"}}}));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.irPlayed.contains(7); }));
    ASSERT_TRUE(rig.waitFor("IR.Info", 2));
}

TEST_F(BridgeE2E, EchoIsAnsweredAndOtherTargetsAreIgnored)
{
    rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=Ping"}}}, "acme.pinger.pc"));
    ASSERT_TRUE(rig.waitFor("WDT.Echo", 1));
    EXPECT_EQ(BridgeRig::item(rig.of("WDT.Echo").first(), "target"), "acme.pinger.pc");
    EXPECT_EQ(BridgeRig::item(rig.of("WDT.Echo").first(), "Response"), "ping");

    const qsizetype frames = rig.sim.received.size();
    rig.send(rig.message("xAPBSC.cmd", "other.program.pc:>", {{"output.state", {"ID=05", "State=on", "Level=9"}}}));
    rig.send(rig.message("xap-x10.request", "other.program.pc", {{"xap-x10.request", {"Device=A5", "Command=off"}}}));
    rig.send(rig.message("WDT.Echo", "other.program.pc", {{"Echo.Query", {"Query=x"}}}));
    rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=after"}}}));
    ASSERT_TRUE(rig.waitFor("WDT.Echo", 2));
    EXPECT_EQ(BridgeRig::item(rig.of("WDT.Echo").at(1), "Response"), "after");
    EXPECT_TRUE(rig.of("xAP-X10.event").isEmpty());
    for (qsizetype i = frames; i < rig.sim.received.size(); ++i)
        EXPECT_FALSE(rig.sim.received.at(i).bytes.toHex(' ').startsWith("c8 29 04")) << "another program's command ran";
}

TEST_F(BridgeE2E, BadInputIsIgnoredOrLoggedAndServiceGoesOn)
{
    const QString me = rig.source + ":>";
    rig.send(rig.message("xAPBSC.cmd", me, {{"output.state", {"State=on"}}}));
    rig.send(rig.message("xAPBSC.cmd", me, {{"output.state.1", {"ID=zz", "State=on"}}}));
    rig.send(rig.message("xAPBSC.cmd", me, {{"output.state.1", {"ID=1-", "State=on"}}}));
    rig.send(rig.message("xAPBSC.cmd", me, {{"output.state.1", {"ID=05", "State=on", "Level=40000"}}}));
    rig.send(rig.message("No.Such.Class", me, {{"x", {"a=b"}}}));
    rig.send("\x01\x02 not xap at all");
    // A bounded flood of queries, each matching every endpoint.
    for (int i = 0; i < 30; ++i)
        rig.send(rig.message("xAPBSC.query", me, {{"request", {}}}));
    rig.send(rig.message("WDT.Echo", QString(), {{"Echo.Query", {"Query=alive"}}}));
    ASSERT_TRUE(rig.waitFor("WDT.Echo", 1));
    ASSERT_TRUE(waitUntil([&] {
        for (const QByteArray &log : rig.of("Tessera.Event")) {
            if (BridgeRig::item(log, "Data").startsWith("BSCCmd Line "))
                return true;
        }
        return false;
    }));
    rig.send(rig.message("xAPBSC.cmd", me, {{"output.state.1", {"ID=05", "State=on", "Level=55"}}}));
    ASSERT_TRUE(waitForFrame("c8 29 04 37 00"));
    EXPECT_TRUE(rig.program->running());
    EXPECT_TRUE(commandFrames("c8 29 04 40 9c").isEmpty()) << "the level above 32767 reached the controller";
}

} // namespace
