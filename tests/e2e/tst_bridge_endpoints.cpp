// The whole program's BSC endpoints as peers see them: every endpoint keeps
// its own UID and name, also after a restart on a store in another order,
// and hostile values in received messages switch nothing and add nothing.
#include "BridgeRig.h"

#include <QMap>
#include <QSet>

#include <gtest/gtest.h>

namespace {

// A second module (5, a RELAY08) besides the default store's SIO16 (3); both
// the store's orders below name the same devices.
const QByteArray kYardGate = "]2=Yard;Gate;Veltro Quillon;1;5!13!1!0;0;Output;3;0;;;;False\r\n";

class BridgeEndpoints : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rig.extraUnits = {{5, 13}};
        rig.store = BridgeRig::defaultStore() + kYardGate;
        ASSERT_TRUE(rig.start()) << "the program did not come up against the simulator";
    }

    // Asks for every endpoint and returns sub-address -> UID of the replies.
    QMap<QString, QString> endpoints(const QString &asker)
    {
        const qsizetype before = rig.of("xAPBSC.info").size();
        rig.send(rig.message("xAPBSC.query", rig.source + ":>", {{"request", {}}}, asker));
        EXPECT_TRUE(rig.waitFor("xAPBSC.info", before + 7));
        waitUntil([] { return false; }, 500); // nothing more comes
        QMap<QString, QString> found;
        const QList<QByteArray> infos = rig.of("xAPBSC.info");
        for (qsizetype i = before; i < infos.size(); ++i)
            found.insert(BridgeRig::item(infos.at(i), "source").section(':', 1), BridgeRig::item(infos.at(i), "uid"));
        EXPECT_EQ(found.size(), 7) << "one reply per endpoint";
        return found;
    }

    // Frames that set a variable or a point, X10 frames and IR plays, in that order of counting.
    qsizetype switching() const
    {
        qsizetype n = rig.sim.x10Frames.size() + rig.sim.irPlayed.size();
        for (const QByteArray &f : rig.sim.framesOf(QuillonSim::FrameKind::Command)) {
            const QByteArray hex = f.toHex(' ');
            n += hex.startsWith("c8 29") || hex.startsWith("c8 33") ? 1 : 0;
        }
        return n;
    }

    BridgeRig rig;
};

TEST_F(BridgeEndpoints, EveryEndpointHasAUidOfItsOwnAndNoneIsTheProgramsOwn)
{
    const QMap<QString, QString> found = endpoints(QStringLiteral("acme.one.pc"));
    const QList<QString> uids = found.values();
    EXPECT_EQ(QSet<QString>(uids.begin(), uids.end()).size(), uids.size()) << "two endpoints share a UID";
    for (const QString &uid : uids)
        EXPECT_FALSE(uid.endsWith(QLatin1String(":00"))) << uid.toStdString();
    EXPECT_EQ(found.value("garden_lamp.quillon_x10____a5.switch"), "FF.00C7:0104");
    EXPECT_EQ(found.value("garden_fountain.quillon_x10____a6.switch"), "FF.00C7:0105");
    EXPECT_EQ(found.value("hall_temp.quillon_var__v004.index"), "FF.00C7:05");
}

TEST_F(BridgeEndpoints, RestartOnAStoreInAnotherOrderKeepsEveryUidAndName)
{
    const QMap<QString, QString> first = endpoints(QStringLiteral("acme.one.pc"));
    EXPECT_EQ(first.value("yard_gate.relay08_x17_pt_2.relay"), "FF.00C7:92");
    EXPECT_EQ(first.value("door_contact.sio16_x0____pt_1.switch"), "FF.00C7:81");

    // The same devices, the second module's first and everything else reversed.
    QList<QByteArray> lines = BridgeRig::defaultStore().split('\n');
    lines.removeAll(QByteArray());
    QByteArray reordered = "[PluginDevices]\r\n" + kYardGate;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (!lines.at(i).startsWith("[PluginDevices]"))
            reordered += lines.at(i) + '\n';
    }
    ASSERT_TRUE(rig.restart(reordered)) << "the program did not come back";
    EXPECT_EQ(endpoints(QStringLiteral("acme.two.pc")), first);

    // A peer's learned ID still reaches the same point.
    rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=92", "State=on"}}}));
    EXPECT_TRUE(waitUntil([&] { return rig.sim.pointLevel(5, 1) == 1; })) << "ID 92 did not switch the yard gate";
    EXPECT_EQ(rig.sim.pointLevel(3, 8), 0) << "the porch light was switched instead";
}

TEST_F(BridgeEndpoints, HostileValuesSwitchNothingAndAddNothing)
{
    waitUntil([] { return false; }, 500);
    const qsizetype before = switching();
    const QString nul(QChar(0)), soh(QChar(1));
    // Devices that are no X10 unit in use: a variable, an I/O point, units that are no whole number.
    for (const QString &device : {QStringLiteral("Q5"), QStringLiteral("[9"), QStringLiteral("A5.9"),
                                  QStringLiteral("A6") + soh, QStringLiteral("A5") + nul + QStringLiteral("Device") + soh + QStringLiteral("A6")}) {
        rig.send(rig.message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=" + device, "Command=on"}}}));
    }
    // IR locations that are no number.
    rig.send(rig.message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=abc", "Zone=2"}}}));
    rig.send(rig.message("Tessera.IR", QString(), {{"IR.Transmit", {"Location="}}}));
    rig.send(rig.message("IR.Transmit", QString(), {{"IR.Signal", {"Device=TV", "Signal=Power", "Location=abc"}}}));
    // An echo whose query would carry an item of its own.
    rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=a" + nul + "Extra" + soh + "evil"}}}, "acme.pinger.pc"));
    rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=after"}}}, "acme.pinger.pc"));
    ASSERT_TRUE(rig.waitFor("WDT.Echo", 2));
    waitUntil([] { return false; }, 500);

    EXPECT_EQ(switching(), before) << "a hostile value reached the controller";
    EXPECT_TRUE(rig.of("xAP-X10.event").isEmpty());
    EXPECT_TRUE(rig.of("IR.Info").isEmpty());
    const QByteArray reply = rig.of("WDT.Echo").first();
    EXPECT_TRUE(reply.endsWith("\nEcho.Response\n{\nResponse=aextraevil\n}\n")) << reply.toStdString();
    EXPECT_EQ(BridgeRig::item(rig.of("WDT.Echo").at(1), "Response"), "after");
}

} // namespace
