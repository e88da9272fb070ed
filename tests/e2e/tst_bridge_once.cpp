// Every command carried out once and in order: each change gives one event,
// every block of a command reaches the controller with its own value even when
// it repeats an earlier one, and a scene of X10 requests that the line carries
// in a few seconds is carried out whole.
#include "BridgeRig.h"
#include "HttpExchange.h"

#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

namespace {

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
qsizetype eventsOf(const BridgeRig &rig, const QString &endpoint)
{
    if (endpoint.startsWith(QLatin1String("X10 "))) {
        qsizetype n = 0;
        for (const QByteArray &e : rig.of("xAP-X10.event"))
            n += BridgeRig::item(e, "Device") == endpoint.mid(4) ? 1 : 0;
        return n;
    }
    return rig.eventsFrom(endpoint, Qt::CaseInsensitive).size();
}

// The hall temperature and the porch light tagged with their trigger set, the
// cellar tagged for the script's count of runs; the page served.
void tagHallCellarPorch(BridgeRig &rig)
{
    rig.serveWeb = true;
    rig.store.replace("Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;;False",
                      "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;True");
    rig.store.replace("R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;;False",
                      "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False");
    rig.store.replace("[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;3;0;;;;False",
                      "[9=Porch;Light;Veltro Quillon;1;3!11!8!0;0;Output;3;0;;;porch;True");
}

// The hall temperature and the porch light are tagged with their trigger
// set: each of their changes runs the script, which counts the runs into the
// cellar variable. Two received filters make the script write the hall itself.
const QByteArray kCountingScript = "Dim runs\r\n"
                                   "Sub Main(tag)\r\n"
                                   "  If tag = \"hall\" Or tag = \"porch\" Then\r\n"
                                   "    runs = runs + 1\r\n"
                                   "    Response \"cellar\", runs\r\n"
                                   "  ElseIf tag = \"setvar\" Then\r\n"
                                   "    xap.GetPlugins(1).SetVar 4, 55\r\n"
                                   "  ElseIf tag = \"setio\" Then\r\n"
                                   "    xap.GetPlugins(1).SetIO Nothing, \"Q\", \"5\", 19, 66, 0, 0\r\n"
                                   "  End If\r\n"
                                   "End Sub\r\n";

// The script handles the probe messages of the classes given: Probe.SetVar is
// tagged "setvar" and so on. The rig is started with periodic runs off and has
// polled once, so it holds what the controller holds.
bool startWithProbes(BridgeRig &rig, const QList<QByteArray> &classes, const QByteArray &script)
{
    QByteArray received = "[Received]\r\n", devices = "[Devices]\r\n";
    for (const QByteArray &cls : classes) {
        const QByteArray tag = cls.toLower();
        received += "acme.probe.pc~Probe." + cls + "=" + tag + ";1\r\n";
        devices += tag + "=1/1/2000\r\n";
    }
    rig.store += received + devices;
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), script);
    if (!rig.start())
        return false;
    pause(1000);
    return true;
}

void sendProbe(BridgeRig &rig, const char *cls)
{
    rig.send(rig.message(QLatin1String(cls), QString(), {{"probe", {"x=1"}}}, "acme.probe.pc"));
}

// The `key` item of each event of the endpoint from the `from`th on.
QStringList eventItems(const BridgeRig &rig, const QString &endpoint, qsizetype from, const QString &key)
{
    QStringList seen;
    for (const QByteArray &e : rig.eventsFrom(endpoint, Qt::CaseInsensitive).mid(from))
        seen << BridgeRig::item(e, key).toUpper();
    return seen;
}

// A button of the status page, as the browser posts it.
bool pressButton(const BridgeRig &rig, const QByteArray &row, const QByteArray &code, const QByteArray &button,
                 const QByteArray &value = QByteArray())
{
    const QByteArray field = QUrl::toPercentEncoding(QString::fromLatin1(row));
    const QByteArray body = "clientinput=" + field + "&clientvalue=" + button + "&" + field
        + "DC=" + QUrl::toPercentEncoding(QString::fromLatin1(code)) + "&" + field + "Value=" + value;
    const QByteArray host = "127.0.0.1:" + QByteArray::number(rig.webPort);
    const QByteArray reply = httpExchange(rig.webPort, formPost("/stat", host, "http://" + host, body),
                                          {.connectMs = 10000, .replyMs = 20000});
    return reply.startsWith("HTTP/1.1 ");
}

TEST(Once, EveryChangeGivesOneEventAndOneScriptRun)
{
    BridgeRig rig;
    tagHallCellarPorch(rig);
    // The controller reports the X10 frames it sends too: the program's own
    // X10 commands come back to it as reports.
    rig.sim.echoX10Transmit = true;
    ASSERT_TRUE(startWithProbes(rig, {"SetVar", "SetIO"}, kCountingScript));
    const auto xapSend = [&rig](const QByteArray &message) {
        return [&rig, message] {
            rig.send(message);
            return true;
        };
    };
    const auto probe = [&rig](const char *cls) {
        return [&rig, cls] {
            sendProbe(rig, cls);
            return true;
        };
    };
    const QString hall = QStringLiteral("Hall_Temp.Quillon_Var__V004.Index");
    const QString porch = QStringLiteral("Porch_Light.SIO16_X8____Pt_9.Relay");
    const struct
    {
        const char *what;
        std::function<bool()> write;
        QString endpoint; // "X10 <device>" for the X10 events of a unit
        int runs;         // X10 units are no BSC endpoints: their changes run no script
    } rows[] = {
        {"xAP, variable by level", xapSend(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "Level=321"}}})),
         hall, 1},
        {"xAP, variable by state", xapSend(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=05", "State=off"}}})),
         hall, 1},
        {"xAP, relay output", xapSend(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=89", "State=on"}}})),
         porch, 1},
        {"xAP, X10 unit", xapSend(rig.message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A5", "Command=on"}}})),
         "X10 A5", 0},
        {"page, variable row", [&] { return pressButton(rig, "V4:05", "Q5", "ON", "77"); }, hall, 1},
        {"page, relay row", [&] { return pressButton(rig, "X8:89", "[9", "OFF"); }, porch, 1},
        {"page, X10 row", [&] { return pressButton(rig, "A6", "A6", "ON"); }, "X10 A6", 0},
        {"script, SetVar", probe("Probe.SetVar"), hall, 1},
        {"script, the plug-in's SetIO", probe("Probe.SetIO"), hall, 1},
    };
    for (const auto &row : rows) {
        const qsizetype before = eventsOf(rig, row.endpoint);
        const int runsBefore = rig.sim.vars[64];
        EXPECT_TRUE(row.write()) << row.what << ": not sent";
        EXPECT_TRUE(waitUntil([&] { return eventsOf(rig, row.endpoint) > before; }, 20000)) << row.what << ": no event";
        pause(1500); // several polls read the point back
        EXPECT_EQ(eventsOf(rig, row.endpoint) - before, 1) << row.what;
        EXPECT_EQ(rig.sim.vars[64] - runsBefore, row.runs) << row.what << ": script runs";
    }
    EXPECT_EQ(rig.sim.vars[4], 66);
    // Each of the script's counting writes to the cellar was announced once.
    EXPECT_EQ(rig.eventsFrom("Cellar_Level.Quillon_Var__V064.Index", Qt::CaseInsensitive).size(), rig.sim.vars[64]);
}

// A script that writes one point several times in a row: each value the
// controller took that changed the point is announced once, in order, as it
// is made, whichever of the plug-in's members the script used; a value equal
// to the one before announces nothing, and no poll announces one again.
TEST(Once, EachChangeAScriptMakesIsAnnouncedInOrder)
{
    BridgeRig rig;
    ASSERT_TRUE(startWithProbes(rig, {"SetVar", "ExecVar", "ExecPoint"},
                         "Sub Main(tag)\r\n"
                         "  Set p = xap.GetPlugins(1)\r\n"
                         "  Select Case tag\r\n"
                         "  Case \"setvar\"\r\n"
                         "    p.SetVar 4, 10: p.SetVar 4, 20: p.SetVar 4, 20: p.SetVar 4, 10\r\n"
                         "  Case \"execvar\"\r\n"
                         "    p.Exec Nothing, \"\", \"4\", 19, 30, 0, 0: p.Exec Nothing, \"\", \"4\", 19, 40, 0, 0\r\n"
                         "    p.Exec Nothing, \"\", \"4\", 19, 40, 0, 0: p.Exec Nothing, \"\", \"4\", 19, 30, 0, 0\r\n"
                         "  Case \"execpoint\"\r\n"
                         "    p.Exec Nothing, \"\", \"\", 101, 1, 3, 8: p.Exec Nothing, \"\", \"\", 101, 0, 3, 8\r\n"
                         "    p.Exec Nothing, \"\", \"\", 101, 0, 3, 8: p.Exec Nothing, \"\", \"\", 101, 1, 3, 8\r\n"
                         "  End Select\r\n"
                         "End Sub\r\n"));
    // Each row names the point's write frames and how a frame's value reads in an event.
    const auto level = [](const QByteArray &f) { return QStringLiteral("%1/32767").arg(quint8(f[3]) + 256 * quint8(f[4])); };
    const auto state = [](const QByteArray &f) { return quint8(f[4]) ? QStringLiteral("ON") : QStringLiteral("OFF"); };
    const struct
    {
        const char *what;
        const char *cls;
        QString endpoint;
        QString key;
        QByteArray frame; // the point's write frames start so
        std::function<QString(const QByteArray &)> value;
        QStringList wanted; // when the controller took every write on its own
    } rows[] = {
        {"SetVar", "Probe.SetVar", "Hall_Temp.Quillon_Var__V004.Index", "Level", "\xc8\x29\x04", level,
         {"10/32767", "20/32767", "10/32767"}},
        {"Exec, a variable", "Probe.ExecVar", "Hall_Temp.Quillon_Var__V004.Index", "Level", "\xc8\x29\x04", level,
         {"30/32767", "40/32767", "30/32767"}},
        {"Exec, an output point", "Probe.ExecPoint", "Porch_Light.SIO16_X8____Pt_9.Relay", "State", "\xc8\x33\x03\x08",
         state, {"ON", "OFF", "ON"}},
    };
    QString last[2] = {QStringLiteral("21/32767"), QStringLiteral("OFF")}; // what the store and the controller hold
    for (const auto &row : rows) {
        QString &was = last[row.key == QLatin1String("State") ? 1 : 0];
        const qsizetype before = rig.eventsFrom(row.endpoint, Qt::CaseInsensitive).size();
        const qsizetype framesBefore = rig.sim.framesOf(QuillonSim::FrameKind::Command).size();
        sendProbe(rig, row.cls);
        waitUntil([&] { return rig.eventsFrom(row.endpoint, Qt::CaseInsensitive).size() >= before + row.wanted.size(); }, 10000);
        pause(1000); // several polls read the point back
        // The changes the controller made: writes queued while the loop was busy merge in
        // the command ring and reach it as one.
        QStringList changes;
        for (const QByteArray &f : rig.sim.framesOf(QuillonSim::FrameKind::Command).mid(framesBefore)) {
            if (f.startsWith(row.frame) && row.value(f) != was)
                changes << (was = row.value(f));
        }
        const QStringList seen = eventItems(rig, row.endpoint, before, row.key);
        EXPECT_EQ(seen.join(' ').toStdString(), changes.join(' ').toStdString()) << row.what;
        if (changes != row.wanted)
            std::printf("%s: the controller made %s (writes merged)\n", row.what, qPrintable(changes.join(' ')));
    }
}

// A script's write that never reached the controller, whose wait a report
// ended (or whose answer an earlier command's late acknowledgement could be),
// announces nothing: the controller did not make that change.
TEST(Once, AWriteTheControllerDidNotTakeIsNotAnnounced)
{
    BridgeRig rig;
    ASSERT_TRUE(startWithProbes(rig, {"SetVar", "ExecPoint"},
                         "Sub Main(tag)\r\n"
                         "  Set p = xap.GetPlugins(1)\r\n"
                         "  Select Case tag\r\n"
                         "  Case \"setvar\"\r\n"
                         "    p.SetVar 4, 55\r\n"
                         "  Case \"execpoint\"\r\n"
                         "    p.Exec Nothing, \"\", \"\", 101, 1, 3, 8\r\n"
                         "  End Select\r\n"
                         "End Sub\r\n"));
    const struct
    {
        const char *what;
        const char *cls;
        QString endpoint;
        QString key;
        QString invented; // what announcing the lost write would say
    } rows[] = {
        {"SetVar", "Probe.SetVar", "Hall_Temp.Quillon_Var__V004.Index", "Level", "55/32767"},
        {"Exec, an output point", "Probe.ExecPoint", "Porch_Light.SIO16_X8____Pt_9.Relay", "State", "ON"},
    };
    for (const auto &row : rows) {
        const qsizetype before = rig.eventsFrom(row.endpoint, Qt::CaseInsensitive).size();
        const qsizetype framesBefore = rig.sim.framesOf(QuillonSim::FrameKind::Command).size();
        QuillonSim::ReplyFault lost;
        lost.on = QuillonSim::FrameKind::Command;
        lost.lost = true;
        rig.sim.replyFaults << lost;
        sendProbe(rig, row.cls);
        ASSERT_TRUE(waitUntil([&] { return rig.sim.framesOf(QuillonSim::FrameKind::Command).size() > framesBefore; }, 10000))
            << row.what;
        // An input changes while the write waits for its answer.
        pause(100);
        rig.sim.sendIOChange(2, 5, 1);
        pause(2000); // past the polls that read the point back
        rig.sim.sendIOChange(2, 5, 0);
        const QStringList seen = eventItems(rig, row.endpoint, before, row.key);
        EXPECT_FALSE(seen.contains(row.invented)) << row.what << ": " << seen.join(' ').toStdString();
    }
}

// Every writer of a point against every other writer, and against a
// controller that answers late, merges writes or reports its own outputs: a
// peer and the tagged script hear one event per change the controller made,
// in the order it made them, with the value it holds, and nothing else.
TEST(Once, EveryWriterAgreesWithTheControllersChanges)
{
    BridgeRig rig;
    tagHallCellarPorch(rig);
    ASSERT_TRUE(startWithProbes(rig, {"Chain", "Hold"},
                                "Dim runs\r\n"
                                "Sub Main(tag)\r\n"
                                "  Set p = xap.GetPlugins(1)\r\n"
                                "  Select Case tag\r\n"
                                "  Case \"hall\", \"porch\"\r\n"
                                "    runs = runs + 1\r\n"
                                "    Response \"cellar\", runs\r\n"
                                "  Case \"chain\"\r\n"
                                "    p.SetVar 4, 101: p.SetVar 4, 102: p.SetVar 4, 103\r\n"
                                "  Case \"hold\"\r\n"
                                "    p.SetVar 10, 1\r\n"
                                "  End Select\r\n"
                                "End Sub\r\n"));
    const QString hall = QStringLiteral("Hall_Temp.Quillon_Var__V004.Index");
    const QString porch = QStringLiteral("Porch_Light.SIO16_X8____Pt_9.Relay");
    const auto probe = [&rig](const char *cls) { sendProbe(rig, cls); };
    const auto bsc = [&rig](const char *id, const char *item) {
        rig.send(rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {id, item}}}));
    };
    const auto framesOf = [&rig](const QByteArray &prefix) {
        qsizetype n = 0;
        for (const QByteArray &f : rig.sim.framesOf(QuillonSim::FrameKind::Command))
            n += f.startsWith(prefix) ? 1 : 0;
        return n;
    };
    // The script's writes wait on late answers, holding the line meanwhile.
    const auto lateAnswers = [&rig](int n, int ms) {
        for (int i = 0; i < n; ++i) {
            QuillonSim::ReplyFault late;
            late.on = QuillonSim::FrameKind::Command;
            late.delayMs = ms;
            rig.sim.replyFaults << late;
        }
    };
    const auto answerWith = [&rig](const char *before, const char *after, bool undone) {
        QuillonSim::ReplyFault f;
        f.on = QuillonSim::FrameKind::Command;
        f.before = QByteArray::fromHex(before);
        f.after = QByteArray::fromHex(after);
        f.undone = undone;
        rig.sim.replyFaults << f;
    };
    const QByteArray hallFrame("\xc8\x29\x04", 3), porchFrame("\xc8\x33\x03\x08", 4);
    const struct
    {
        const char *what;
        QString endpoint;
        QString key;
        std::function<void()> write;
        QStringList wanted; // the events, in order
    } rows[] = {
        {"a script's chain, and an xAP write inside it", hall, "Level",
         [&] {
             lateAnswers(3, 200);
             const qsizetype sent = framesOf(hallFrame);
             probe("Probe.Chain");
             waitUntil([&] { return framesOf(hallFrame) > sent; }, 10000);
             bsc("ID=05", "Level=200");
         },
         {"101/32767", "102/32767", "103/32767", "200/32767"}},
        {"a script's chain, and the page's button inside it", hall, "Level",
         [&] {
             lateAnswers(3, 200);
             const qsizetype sent = framesOf(hallFrame);
             probe("Probe.Chain");
             waitUntil([&] { return framesOf(hallFrame) > sent; }, 10000);
             pressButton(rig, "V4:05", "Q5", "ON", "77");
         },
         {"101/32767", "102/32767", "103/32767", "77/32767"}},
        {"two presses merged while a script holds the line", porch, "State",
         [&] {
             lateAnswers(1, 1500);
             const qsizetype sent = framesOf(QByteArray("\xc8\x29\x0a", 3));
             probe("Probe.Hold");
             waitUntil([&] { return framesOf(QByteArray("\xc8\x29\x0a", 3)) > sent; }, 10000);
             // The second press comes while the first one's page is still on its way.
             QTimer::singleShot(300, [&] { pressButton(rig, "X8:89", "[9", "OFF"); });
             pressButton(rig, "X8:89", "[9", "ON");
         },
         {}},
        {"a negative value from the page", hall, "Level", [&] { pressButton(rig, "V4:05", "Q5", "ON", "-5"); },
         {"65531/32767"}},
        {"the same negative value again", hall, "Level", [&] { pressButton(rig, "V4:05", "Q5", "ON", "-5"); }, {}},
        {"the controller reports the output it switched, ahead of its answer, after a script's write", porch, "State",
         [&] {
             lateAnswers(1, 600);
             answerWith("F0030801", "", false);
             const qsizetype sent = framesOf(QByteArray("\xc8\x29\x0a", 3));
             probe("Probe.Hold");
             waitUntil([&] { return framesOf(QByteArray("\xc8\x29\x0a", 3)) > sent; }, 10000);
             bsc("ID=89", "State=on");
         },
         {"ON"}},
        {"the controller reports the output it switched, behind its answer", porch, "State",
         [&] {
             answerWith("", "F0030800", false);
             bsc("ID=89", "State=off");
         },
         {"OFF"}},
        {"the controller switches the output back and reports that before its answer", porch, "State",
         [&] {
             answerWith("", "", true);
             bsc("ID=89", "State=on");
         },
         {}},
    };
    for (const auto &row : rows) {
        const qsizetype before = rig.eventsFrom(row.endpoint, Qt::CaseInsensitive).size();
        const int runsBefore = rig.sim.vars[64];
        const qsizetype framesBefore = rig.sim.framesOf(QuillonSim::FrameKind::Command).size();
        row.write();
        waitUntil([&] { return rig.eventsFrom(row.endpoint, Qt::CaseInsensitive).size() >= before + row.wanted.size()
                               && rig.sim.replyFaults.isEmpty(); },
                  10000);
        pause(1500); // several polls read the point back
        const QStringList seen = eventItems(rig, row.endpoint, before, row.key);
        QStringList sent;
        for (const QByteArray &f : rig.sim.framesOf(QuillonSim::FrameKind::Command).mid(framesBefore))
            sent << QString::fromLatin1(f.toHex(' '));
        EXPECT_EQ(seen.join(' ').toStdString(), row.wanted.join(' ').toStdString())
            << row.what << "; the controller received " << sent.join(", ").toStdString();
        EXPECT_EQ(rig.sim.vars[64] - runsBefore, row.wanted.size()) << row.what << ": script runs";
    }
    EXPECT_EQ(rig.sim.pointLevel(3, 8), 0);
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
