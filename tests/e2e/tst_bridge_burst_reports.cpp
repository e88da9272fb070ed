// What a burst of commands leaves behind, seen from the network and the
// controller: every block of a command counts, an X10 request is reported only
// when it went to the controller, and an echo never goes to a wildcard.
#include "BridgeRig.h"

#include <gtest/gtest.h>

namespace {

// Waits until the count stops growing for `quietMs`.
void waitQuiet(const std::function<qsizetype()> &count, int quietMs, int timeoutMs = 60000)
{
    qsizetype last = -1;
    QElapsedTimer still;
    still.start();
    waitUntil(
        [&] {
            const qsizetype now = count();
            if (now != last) {
                last = now;
                still.restart();
            }
            return still.elapsed() >= quietMs;
        },
        timeoutMs);
}

TEST(BurstReports, ABlockAfterAWildcardBlockStillSetsItsPoint)
{
    BridgeRig rig;
    ASSERT_TRUE(rig.start());
    const struct
    {
        QList<QPair<QString, QStringList>> blocks;
        std::function<bool(const QuillonSim &)> done;
        const char *what;
    } cases[] = {
        // The porch light (sub-UID 89) on after every endpoint was set to 0.
        {{{"output.state.1", {"ID=*", "Level=0"}}, {"output.state.2", {"ID=89", "State=on"}}},
         [](const QuillonSim &sim) { return sim.pointLevel(3, 8) == 1 && sim.vars[4] == 0; }, "relay after ID=*"},
        // Variable 4 (sub-UID 05) at 55 after every endpoint was set to 1.
        {{{"output.state.1", {"ID=*", "Level=1"}}, {"output.state.2", {"ID=05", "Level=55"}}},
         [](const QuillonSim &sim) { return sim.vars[4] == 55 && sim.vars[64] == 1; }, "variable after ID=*"},
    };
    for (const auto &c : cases) {
        rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", c.blocks));
        EXPECT_TRUE(waitUntil([&] { return c.done(rig.sim); }, 20000)) << c.what;
    }
}

TEST(BurstReports, X10RequestsAreReportedOnlyWhenSent)
{
    BridgeRig rig;
    rig.sim.paced = true;
    ASSERT_TRUE(rig.start());
    const auto functions = [&] {
        qsizetype n = 0;
        for (const QString &entry : rig.sim.x10Log)
            n += entry.startsWith(QLatin1String("address")) ? 0 : 1;
        return n;
    };
    const qsizetype logsBefore = rig.of("Tessera.Event").size();
    // Two frames a request: more than the queue's frames can wait.
    for (int i = 0; i < 200; ++i) {
        rig.send(rig.message("xap-x10.request", QString(),
                             {{"xap-x10.request", {"Device=A5", i % 2 ? "Command=on" : "Command=off"}}}));
    }
    waitQuiet([&] { return functions() + rig.of("xAP-X10.event").size(); }, 3000);
    const qsizetype events = rig.of("xAP-X10.event").size();
    EXPECT_GT(events, 0);
    EXPECT_LT(events, 200) << "requests beyond what waits are not carried out";
    EXPECT_EQ(events, functions()) << "one event for each request the controller received";
    // The last request sent sets the unit's state the controller holds.
    const QString lastEvent = BridgeRig::item(rig.of("xAP-X10.event").last(), "Event");
    EXPECT_EQ(rig.sim.x10Units.value("A5"), lastEvent);
    qsizetype refusals = 0;
    for (const QByteArray &log : rig.of("Tessera.Event").mid(logsBefore))
        refusals += BridgeRig::item(log, "Data").startsWith("xap-x10.request") ? 1 : 0;
    EXPECT_EQ(refusals, 1) << "the dropped requests of the burst leave one entry";
}

TEST(BurstReports, AnEchoGoesToNoWildcardSource)
{
    BridgeRig rig;
    ASSERT_TRUE(rig.start());
    for (const char *source : {">", "*.*.*", "acme.*.pc", "acme.>", "*"}) {
        rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {QStringLiteral("Query=") + QString::fromLatin1(source)}}},
                             QString::fromLatin1(source)));
    }
    // A plain source still gets its answer, after the others were taken.
    ASSERT_GE(rig.echoAnswerMs(), 0);
    waitUntil([] { return false; }, 500);
    for (const QByteArray &echo : rig.of("WDT.Echo")) {
        const QString target = BridgeRig::item(echo, "target");
        EXPECT_FALSE(target.contains(QLatin1Char('*')) || target.contains(QLatin1Char('>'))) << target.toStdString();
    }
}

} // namespace
