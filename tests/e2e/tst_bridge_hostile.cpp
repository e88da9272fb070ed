// The whole program against hostile and careless peers: long X10 unit lists,
// repeated queries, relays the poll stored as off, bursts of IR macros, echo
// queries from odd sources, negative levels, and floods of commands and
// queries on a controller with many endpoints. After each flood an echo query
// shows how long the program was deaf.
#include "BridgeRig.h"

#include <QFile>
#include <cstdio>
#include <QSet>

#include <gtest/gtest.h>

namespace {

class BridgeHostile : public ::testing::Test
{
protected:
    void start()
    {
        ASSERT_TRUE(rig.start()) << "the program did not come up against the simulator";
        quietMs = rig.echo().ownMs();
        ASSERT_GE(quietMs, 0) << "no echo answer in the quiet";
    }
    void startMany()
    {
        rig.extraUnits = BridgeRig::kManyEndpointUnits;
        rig.store = BridgeRig::manyEndpointsStore();
        start();
    }

    // The Data items of the program's log messages.
    QStringList logData() const
    {
        QStringList out;
        for (const QByteArray &m : rig.of("Tessera.Event"))
            out.append(BridgeRig::item(m, "Data"));
        return out;
    }
    qsizetype logCount(const QString &start) const
    {
        qsizetype n = 0;
        for (const QString &d : logData())
            n += d.startsWith(start) ? 1 : 0;
        return n;
    }
    static void pause(int ms) { waitUntil([] { return false; }, ms); }

    // An echo query is answered within a bound measured against the quiet
    // echo taken at the start, both the program's own time (what a loaded
    // machine kept it waiting for a processor left out); the times are
    // printed for the record.
    void expectAnswering(const char *after)
    {
        const BridgeRig::Echo echo = rig.echo(60000);
        std::printf("echo answered %lld ms after %s, %lld of them waiting for a processor (quiet %lld ms)\n",
                    static_cast<long long>(echo.ms), after, static_cast<long long>(echo.waitedForCpuMs),
                    static_cast<long long>(quietMs));
        ASSERT_GE(echo.ms, 0) << "no echo answer after " << after;
        EXPECT_LT(echo.ownMs(), quietMs + BridgeRig::kEchoRoomMs) << "echo answered " << echo.ms << " ms after " << after;
    }

    BridgeRig rig;
    qint64 quietMs = 0;
};

TEST_F(BridgeHostile, X10UnitListsCostAtMostSeventeenFrames)
{
    start();
    QStringList units;
    for (int i = 0; i < 2001; ++i)
        units.append(i % 2 ? QStringLiteral("A6") : QStringLiteral("A5"));
    rig.send(rig.message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=" + units.join(','), "Command=on"}}}));
    expectAnswering("the long unit list");
    ASSERT_TRUE(waitUntil([&] { return logCount("xap-x10.request: a list of 2001 units refused") == 1; }));
    pause(1000);
    EXPECT_TRUE(rig.sim.x10Frames.isEmpty()) << rig.sim.x10Frames.size() << " X10 frames for a refused list";
    EXPECT_TRUE(rig.of("xAP-X10.event").isEmpty());

    // Sixteen entries naming two units: two addresses and one function.
    rig.send(rig.message("xap-x10.request", QString(),
                         {{"xap-x10.request", {"Device=" + units.mid(0, 16).join(','), "Command=on"}}}));
    ASSERT_TRUE(rig.waitFor("xAP-X10.event", 1));
    EXPECT_EQ(BridgeRig::item(rig.of("xAP-X10.event").first(), "Device"), "A5+6");
    ASSERT_TRUE(waitUntil([&] { return rig.sim.x10Frames.size() >= 3; }));
    pause(1000);
    EXPECT_EQ(rig.sim.x10Frames.size(), 3);
}

TEST_F(BridgeHostile, APeerRepeatingItsQueryHearsEveryEndpoint)
{
    start();
    pause(500); // the start-up query's replies run down
    const qsizetype before = rig.of("xAPBSC.info").size();
    // Six endpoints take 1.2 s to answer; the peer asks every 300 ms for 3 s.
    QSet<QString> heard;
    const auto collect = [&] {
        const QList<QByteArray> infos = rig.of("xAPBSC.info");
        for (qsizetype i = before; i < infos.size(); ++i)
            heard.insert(BridgeRig::item(infos.at(i), "source").section(':', 1));
    };
    for (int i = 0; i < 10; ++i) {
        rig.send(rig.message("xAPBSC.query", rig.source + ":>", {{"request", {}}}, "acme.impatient.pc"));
        pause(300);
    }
    // Heard while the peer kept asking, not once it stopped.
    collect();
    EXPECT_EQ(heard.size(), 6) << "heard only " << QStringList(heard.values()).join(' ').toStdString();
    expectAnswering("the repeated queries");
}

TEST_F(BridgeHostile, ARelayThePollStoredAsOffReportsBeingSwitchedOn)
{
    // The store remembers the porch light as on; the controller has it off.
    rig.store.replace("[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;3;0;",
                      "[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;2;1;");
    start();
    const QString porch = QStringLiteral("Porch_Light.SIO16_X8____Pt_9.Relay");
    ASSERT_TRUE(waitUntil([&] { return !rig.eventsFrom(porch).isEmpty(); })) << "the poll did not mirror the relay";
    EXPECT_EQ(BridgeRig::item(rig.eventsFrom(porch).last(), "State"), "OFF");

    rig.send(rig.message("xAPBSC.cmd", rig.source + ":porch_light.>", {{"output.state", {"ID=*", "State=on"}}}));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.pointLevel(3, 8) == 1; })) << "the relay was not switched";
    ASSERT_TRUE(waitUntil([&] { return rig.eventsFrom(porch).size() >= 2; })) << "switching the relay on sent no event";
    EXPECT_EQ(BridgeRig::item(rig.eventsFrom(porch).at(1), "State"), "ON");

    // The controller switches it off; the stored value says off, as a command's would.
    rig.sim.sendIOChange(3, 8, 0);
    ASSERT_TRUE(waitUntil([&] { return rig.eventsFrom(porch).size() >= 3; }));
    EXPECT_EQ(BridgeRig::item(rig.eventsFrom(porch).at(2), "State"), "OFF");
    ASSERT_EQ(rig.program->terminate(), 0);
    QFile store(rig.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    QByteArray line;
    for (const QByteArray &l : store.readAll().split('\n')) {
        if (l.startsWith("[9="))
            line = l.trimmed();
    }
    const QList<QByteArray> fields = line.mid(3).split(';');
    ASSERT_GE(fields.size(), 9) << line.toStdString();
    EXPECT_EQ(fields.at(7), "3") << line.toStdString();
    EXPECT_EQ(fields.at(8), "0") << "the value of an output that is off: " << line.toStdString();
}

TEST_F(BridgeHostile, ABurstOfIRMacrosLeavesTheProgramAnswering)
{
    rig.bridgeSettings = "[IRMacro]\r\nMovie Night=12,13,14\r\n";
    start();
    const QByteArray macro = rig.message("IR.Transmit", QString(), {{"IR.Signal", {"Device=Movie", "Signal=Night"}}});
    for (int i = 0; i < 300; ++i)
        rig.send(macro);
    expectAnswering("the burst of IR macros");

    // The queue holds some 3 s of codes and pauses (twelve of these macros);
    // what plays while the burst still arrives makes room for a few more, far
    // from all 300. The codes of each macro keep their order.
    ASSERT_TRUE(waitUntil([&] { return rig.sim.irPlayed.size() >= 36; }, 30000)) << rig.sim.irPlayed.size() << " codes played";
    pause(3000);
    EXPECT_EQ(rig.sim.irPlayed.size() % 3, 0);
    EXPECT_LE(rig.sim.irPlayed.size(), 150);
    for (int i = 0; i < rig.sim.irPlayed.size(); ++i)
        EXPECT_EQ(rig.sim.irPlayed.at(i), 12 + i % 3) << "code " << i;
    EXPECT_EQ(logCount("IR requests dropped"), 1) << logData().join('|').toStdString();
}

TEST_F(BridgeHostile, AnEchoFromASourceWithAControlCharacterIsNotAnswered)
{
    start();
    const qsizetype before = rig.of("WDT.Echo").size(); // the quiet echo's answer
    for (const QChar c : {QChar(1), QChar(9), QChar(27)}) {
        rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=odd"}}},
                             QStringLiteral("acme.x") + c + QStringLiteral("y.pc")));
    }
    rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=plain"}}}, "acme.plain.pc"));
    ASSERT_TRUE(rig.waitFor("WDT.Echo", before + 1));
    pause(500);
    const QList<QByteArray> replies = rig.of("WDT.Echo").mid(before);
    ASSERT_EQ(replies.size(), 1);
    EXPECT_EQ(BridgeRig::item(replies.first(), "target"), "acme.plain.pc");
    EXPECT_EQ(BridgeRig::item(replies.first(), "Response"), "plain");
}

TEST_F(BridgeHostile, ANegativeLevelIsRefused)
{
    start();
    const QString hall = QStringLiteral("Hall_Temp.Quillon_Var__V004.Index");
    pause(500);
    const qsizetype events = rig.eventsFrom(hall).size();
    rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "State=on", "Level=-5"}}}));
    ASSERT_TRUE(waitUntil([&] { return logCount("BSCCmd") == 1; })) << logData().join('|').toStdString();
    pause(1500); // several polls
    EXPECT_EQ(rig.sim.vars[4], 21);
    EXPECT_EQ(rig.eventsFrom(hall).size(), events);
    // A level of 0 is still taken.
    rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "State=off", "Level=0"}}}));
    EXPECT_TRUE(waitUntil([&] { return rig.sim.vars[4] == 0; }));
}

TEST_F(BridgeHostile, TheLargestCommandOnManyEndpointsLeavesTheProgramAnswering)
{
    startMany();
    // One block for every endpoint a two-digit ID can name: the most a peer has reason to send.
    QList<QPair<QString, QStringList>> blocks;
    for (int n = 1; n <= 255; ++n)
        blocks.append({QStringLiteral("output.state.%1").arg(n), {"ID=*", "State=on", "Level=1/32767"}});
    rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", blocks));
    pause(100); // let the command be taken up, then ask
    expectAnswering("the largest command");
    // Every point was written: the last variable and the last relay.
    EXPECT_TRUE(waitUntil([&] { return rig.sim.vars[127] == 1 && rig.sim.pointLevel(5, 7) == 1; }, 60000));
}

TEST_F(BridgeHostile, TwentyThousandQueriesLeaveTheProgramAnswering)
{
    startMany();
    pause(1000);
    const QByteArray query = rig.message("xAPBSC.query", ">:>", {{"request", {}}}, "acme.flood.pc");
    const qsizetype before = rig.of("xAPBSC.info").size();
    for (int i = 0; i < 20000; ++i)
        rig.send(query);
    expectAnswering("the query flood");
    // The flood was answered, once.
    ASSERT_TRUE(rig.waitFor("xAPBSC.info", before + 10));
    pause(1000);
    const QList<QByteArray> infos = rig.of("xAPBSC.info").mid(before);
    QSet<QString> endpoints;
    for (const QByteArray &i : infos)
        endpoints.insert(BridgeRig::item(i, "source"));
    EXPECT_EQ(qsizetype(endpoints.size()), infos.size()) << "an endpoint was answered twice within a second";
}

} // namespace
