// Every command carried out once and in order: each change gives one event,
// every block of a command reaches the controller with its own value even when
// it repeats an earlier one, and a scene of X10 requests that the line carries
// in a few seconds is carried out whole.
#include "BridgeRig.h"

#include <gtest/gtest.h>

namespace {

QList<QByteArray> eventsFrom(const BridgeRig &rig, const QString &subAddress)
{
    QList<QByteArray> out;
    for (const QByteArray &e : rig.of("xapBSC.Event")) {
        if (BridgeRig::item(e, "source").endsWith(":" + subAddress, Qt::CaseInsensitive))
            out.append(e);
    }
    return out;
}

void pause(int ms)
{
    waitUntil([] { return false; }, ms);
}

// The last command frame the controller received whose hex starts with `prefixHex`.
QByteArray lastFrame(const QuillonSim &sim, const QByteArray &prefixHex)
{
    QByteArray last;
    for (const QByteArray &f : sim.framesOf(QuillonSim::FrameKind::Command)) {
        if (f.toHex(' ').startsWith(prefixHex))
            last = f.toHex(' ');
    }
    return last;
}

// The events a change gives: BSC events of an endpoint, or X10 events of a unit.
qsizetype eventsOf(const BridgeRig &rig, const char *endpoint)
{
    if (QByteArray(endpoint).startsWith("X10 ")) {
        qsizetype n = 0;
        for (const QByteArray &e : rig.of("xAP-X10.event"))
            n += BridgeRig::item(e, "Device") == QLatin1String(endpoint + 4) ? 1 : 0;
        return n;
    }
    return eventsFrom(rig, QLatin1String(endpoint)).size();
}

// The hall temperature is tagged with its trigger set: each of its changes
// runs the script, which counts the runs into the cellar variable.
const QByteArray kCountingScript = "Dim runs\r\n"
                                   "Sub Main(tag)\r\n"
                                   "  If tag = \"hall\" Then\r\n"
                                   "    runs = runs + 1\r\n"
                                   "    Response \"cellar\", runs\r\n"
                                   "  End If\r\n"
                                   "End Sub\r\n";

TEST(Once, EveryChangeGivesOneEventAndOneScriptRun)
{
    BridgeRig rig;
    rig.store.replace("Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;;False",
                      "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;True");
    rig.store.replace("R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;;False",
                      "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False");
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), kCountingScript);
    ASSERT_TRUE(rig.start());
    pause(1000); // the first polls store what the controller holds
    const struct
    {
        const char *what;
        QByteArray message;
        const char *endpoint; // "X10 <device>" for the X10 events of a unit
    } rows[] = {
        {"variable by level", rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "Level=321"}}}),
         "Hall_Temp.Quillon_Var__V004.Index"},
        {"variable by state", rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "State=off"}}}),
         "Hall_Temp.Quillon_Var__V004.Index"},
        {"relay output", rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=89", "State=on"}}}),
         "Porch_Light.SIO16_X8____Pt_9.Relay"},
        {"X10 unit", rig.message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A5", "Command=on"}}}),
         "X10 A5"},
    };
    for (const auto &row : rows) {
        const qsizetype before = eventsOf(rig, row.endpoint);
        rig.send(row.message);
        EXPECT_TRUE(waitUntil([&] { return eventsOf(rig, row.endpoint) > before; }, 20000)) << row.what << ": no event";
        pause(1500); // several polls read the point back
        EXPECT_EQ(eventsOf(rig, row.endpoint) - before, 1) << row.what;
    }
    // Two changes of the hall ran the script twice, and each of its writes to
    // the cellar was announced once.
    EXPECT_EQ(rig.sim.vars[64], 2) << "script runs";
    EXPECT_EQ(eventsFrom(rig, "Cellar_Level.Quillon_Var__V064.Index").size(), 2) << "events of the script's writes";
}

// Blocks that come back to an earlier value after a block between them
// changed the point: the point ends as the last block left it.
TEST(Once, ARepeatedBlockIsCarriedOutInItsPlace)
{
    BridgeRig rig;
    ASSERT_TRUE(rig.start());
    const QString hall = rig.source + QStringLiteral(":hall_temp.>");
    const QString all = rig.source + QStringLiteral(":>");
    const struct
    {
        const char *what;
        QString target;
        QList<QPair<QString, QStringList>> blocks;
        QByteArray framePrefix; // the point's write frame
        QByteArray lastWanted;
    } rows[] = {
        {"Level A-B-A", all,
         {{"output.state.1", {"ID=05", "Level=10"}},
          {"output.state.2", {"ID=05", "Level=20"}},
          {"output.state.3", {"ID=05", "Level=10"}}},
         "c8 29 04", "c8 29 04 0a 00"},
        {"State A-B-A", all,
         {{"output.state.1", {"ID=89", "State=on"}},
          {"output.state.2", {"ID=89", "State=off"}},
          {"output.state.3", {"ID=89", "State=on"}}},
         "c8 33 03 08", "c8 33 03 08 01"},
        {"* then ID then *", hall,
         {{"output.state.1", {"ID=*", "Level=7"}},
          {"output.state.2", {"ID=05", "Level=5"}},
          {"output.state.3", {"ID=*", "Level=7"}}},
         "c8 29 04", "c8 29 04 07 00"},
    };
    for (const auto &row : rows) {
        rig.send(rig.message("xAPBSC.cmd", row.target, row.blocks));
        EXPECT_TRUE(waitUntil([&] { return lastFrame(rig.sim, row.framePrefix).startsWith(row.lastWanted); }, 10000))
            << row.what << ": last frame " << lastFrame(rig.sim, row.framePrefix).constData();
        pause(500); // nothing later undoes it
        EXPECT_TRUE(lastFrame(rig.sim, row.framePrefix).startsWith(row.lastWanted))
            << row.what << ": last frame " << lastFrame(rig.sim, row.framePrefix).constData();
    }
}

// A scene: sixteen lamps on, then eight of them off again, one request each,
// on a line as slow as a real one.
TEST(Once, AScenesRequestsAllReachTheController)
{
    BridgeRig rig;
    rig.sim.paced = true;
    for (int u = 1; u <= 16; ++u) {
        if (u != 5 && u != 6)
            rig.store += QByteArray("A") + QByteArray::number(u) + "=Yard;Unit" + QByteArray::number(u)
                + ";Veltro Quillon;0;;0;X10;3;0;;;;False\r\n";
    }
    ASSERT_TRUE(rig.start());
    QStringList asked;
    for (int u = 1; u <= 16; ++u)
        asked << QStringLiteral("A%1 on").arg(u);
    for (int u = 1; u <= 8; ++u)
        asked << QStringLiteral("A%1 off").arg(u);
    for (const QString &a : asked) {
        rig.send(rig.message("xap-x10.request", QString(),
                             {{"xap-x10.request", {"Device=" + a.section(' ', 0, 0), "Command=" + a.section(' ', 1)}}}));
    }
    ASSERT_TRUE(rig.waitFor("xAP-X10.event", asked.size(), 30000)) << rig.of("xAP-X10.event").size() << " reported";
    QStringList reported;
    for (const QByteArray &e : rig.of("xAP-X10.event"))
        reported << BridgeRig::item(e, "Device") + ' ' + BridgeRig::item(e, "Event");
    EXPECT_EQ(reported, asked);
    ASSERT_TRUE(waitUntil([&] { return rig.sim.x10Frames.size() >= 2 * asked.size(); }, 20000));
    for (int u = 1; u <= 16; ++u) {
        EXPECT_EQ(rig.sim.x10Units.value(QStringLiteral("A%1").arg(u)), u <= 8 ? "off" : "on") << "A" << u;
    }
    EXPECT_EQ(rig.sim.x10Frames.size(), 2 * asked.size());
}

} // namespace
