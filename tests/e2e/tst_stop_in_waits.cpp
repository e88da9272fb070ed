// The whole program stopped at any moment: inside each wait that lets events through, inside a
// running script, under a file-size limit. Every row ends as a plain Exit ends: exit code 0 (a
// sanitizer report aborts), every device of the store still there with its fields, the store's
// backup the store from before the run (Exit writes the store once, nothing writes after it),
// and no log entry of a step that ran against what Exit had released.
//
// One row per entry of Shutdown::Wait (src/core/Shutdown.h) that a running program can reach
// from outside. Two need a display and its user: ToolRun begins only after the configuration
// dialog's button for the programming tool, and the Prompts are the dialog's own and the IR
// learning's message box, shown only on a display. The dialog's waits are tested in
// tests/controller/ui/tst_stop_in_dialog.cpp.
#include "BridgeRig.h"
#include "TestPorts.h"
#include "DemoProgram.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString storePath(const ProgramFolder& folder)
{
    return folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini");
}

// code -> fields of the [PluginDevices] lines of an INI text.
QMap<QByteArray, QList<QByteArray>> deviceLines(const QByteArray& ini)
{
    QMap<QByteArray, QList<QByteArray>> out;
    bool inDevices = false;
    for (QByteArray line : ini.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            inDevices = line.toUpper() == "[PLUGINDEVICES]";
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (inDevices && eq > 0)
            out.insert(line.left(eq).toUpper(), line.mid(eq + 1).split(';'));
    }
    return out;
}

// The fields a stop may not change: all but the controller's live state (status, value,
// last change, string).
QList<QByteArray> lasting(QList<QByteArray> fields)
{
    while (fields.size() < 13)
        fields.append(QByteArray());
    fields.remove(7, 4);
    return fields;
}

// SIGTERM, then the ms until the process has ended; -1 when it has not ended within a minute.
// With `traceGrewMs`: the ms until the file `trace` grew, -1 when it did not.
qint64 stopMs(KorvaneProcess& program, const QString& trace = QString(), qint64* traceGrewMs = nullptr)
{
    const qint64 traceSize = QFileInfo(trace).size();
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(program.pid()), SIGTERM);
    return waitUntil([&] {
        if (traceGrewMs && *traceGrewMs < 0 && QFileInfo(trace).size() > traceSize)
            *traceGrewMs = stopping.elapsed();
        return !program.running();
    }, 60000) ? stopping.elapsed() : -1;
}

const QByteArray kProbeFilter = "[Received]\r\nacme.wx.pc~Probe.Request=probe;1\r\n";

// When the program is stopped.
enum class At {
    Running,        // after the start-up
    StartUp,        // during the start-up
    SilentStartUp,  // during the start-up's discovery of a controller that never answers
};

struct Row
{
    const char* name;
    const char* wait;     // the wait the program is stopped in, as the wait trace names it; null: none of the list
    QByteArray script;    // body of Sub Main, run by a probe; "%SILENT%" and "%REFUSING%" are ports
    At at;
    bool silentCommand;   // the controller stops answering, then a command waits for it
    int stopWithinMs;     // from the signal to the end of the process
    // Above 0: what the program does after the wait (the wait trace's next entry) begins within
    // this many ms of the signal: the wait ended at the stop rather than when it was over.
    int waitEndsWithinMs = 0;
};

std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << row.name;
}

// The serial-server link class of a script, opened on `port`.
QByteArray scriptLink(const char* port)
{
    return QByteArray("  Set c = CreateObject(\"xaptvkKorvane.SerialComm\")\r\n  c.IP = \"127.0.0.1\"\r\n  c.CommPort = ")
        + port + "\r\n  c.InputMode = 1\r\n  c.InputLen = 1\r\n  c.Timeout = 50000\r\n";
}

class StopInWaits : public ::testing::TestWithParam<Row>
{
protected:
    QString tracePath() const { return rig.folder.path() + QStringLiteral("/waits.trace"); }
    qsizetype traced(const char* wait) const
    {
        return readAll(tracePath()).split('\n').count(QByteArray(wait));
    }
    // The "looping" entries the scripts log before their loop.
    qsizetype looping() const
    {
        qsizetype n = 0;
        for (const QByteArray& d : rig.of(QStringLiteral("Tessera.Event")))
            n += BridgeRig::item(d, QStringLiteral("Data")) == QLatin1String("looping") ? 1 : 0;
        return n;
    }
    // Sends probes until the program has entered `wait` once more than `before` (without a
    // wait of the list: until the script logged that it loops).
    bool probeUntilIn(const char* wait, qsizetype before, bool probe)
    {
        QElapsedTimer since;
        since.start();
        qint64 last = -5000;
        return waitUntil(
            [&] {
                if (wait ? traced(wait) > before : looping() > 0)
                    return true;
                if (probe && since.elapsed() - last >= 3000) {
                    last = since.elapsed();
                    rig.send(rig.message(QStringLiteral("Probe.Request"), QString(), {{"probe", {"x=1"}}},
                                         QStringLiteral("acme.wx.pc")));
                }
                return false;
            },
            60000);
    }

    BridgeRig rig;
    QTcpServer silentServer;  // takes connections and never answers
};

TEST_P(StopInWaits, ExitInsideTheWaitEndsAsAPlainExit)
{
    const Row& row = GetParam();
    ASSERT_TRUE(silentServer.listen(QHostAddress::LocalHost));
    const QByteArray refusing = QByteArray::number(TestPorts::tcp());
    rig.store = BridgeRig::defaultStore() + kProbeFilter;
    rig.pluginSettings = "poll_interval=200\r\nPeriodicScriptInterval=off\r\n";
    rig.programEnvironment = {{QStringLiteral("KORVANE_TRACE_WAITS"), tracePath()}};
    if (!row.script.isEmpty()) {
        QByteArray body = row.script;
        body.replace("%SILENT%", QByteArray::number(silentServer.serverPort())).replace("%REFUSING%", refusing);
        rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), "Sub Main(tag)\r\n  Dim c, b\r\n  xap.WriteLog \"script\", \"looping\"\r\n" + body + "End Sub\r\n");
    }
    if (row.at != At::Running) {
        ASSERT_TRUE(rig.listener.listen());
        ASSERT_TRUE(rig.transport.listen());
        rig.sim.attach(&rig.transport);
        rig.sim.setUnit(3, 11);
        // Silent: the start-up's discovery waits for a controller that does not answer.
        rig.sim.silent = row.at == At::SilentStartUp;
        rig.folder.writeFile(QStringLiteral("Config/tvkXapKorvane.ini"),
                             rig.store + "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort="
                                 + QByteArray::number(rig.transport.port()) + "\r\n");
        rig.folder.writeFile(QStringLiteral("Config/xaptvkKorvane.ini"), "[tspi_quillon]\r\n" + rig.pluginSettings);
        rig.program = std::make_unique<KorvaneProcess>(rig.folder, rig.programEnvironment);
    } else {
        ASSERT_TRUE(rig.start());
    }
    ASSERT_TRUE(rig.program && rig.program->running());
    const QByteArray storeBefore = readAll(storePath(rig.folder));
    const QByteArray pluginSettingsBefore = readAll(rig.folder.path() + QStringLiteral("/Config/xaptvkKorvane.ini"));

    const qsizetype before = row.wait ? traced(row.wait) : 0;
    if (row.silentCommand) {
        rig.sim.silent = true;
        rig.send(rig.message(QStringLiteral("xAPBSC.cmd"), rig.source + QStringLiteral(":>"),
                             {{"output.state.1", {"ID=05", "State=on", "Level=100/32767"}}}));
    }
    ASSERT_TRUE(probeUntilIn(row.wait, row.at != At::Running ? 0 : before, !row.script.isEmpty()))
        << "the program never entered the wait " << (row.wait ? row.wait : "of the script");
    if (!row.wait)
        waitUntil([] { return false; }, 300);  // inside WaitSecs
    const qsizetype logsBefore = rig.of(QStringLiteral("Tessera.Event")).size();

    // The simulator lives in this process: it goes on (not) answering while the program stops.
    qint64 waitEndedMs = -1;
    const qint64 stoppedMs = stopMs(*rig.program, tracePath(), &waitEndedMs);
    ASSERT_GE(stoppedMs, 0) << "the program did not end";
    if (row.waitEndsWithinMs > 0) {
        EXPECT_GE(waitEndedMs, 0) << "nothing followed the wait";
        EXPECT_LT(waitEndedMs, row.waitEndsWithinMs) << "the wait ran on after the stop";
    }
    EXPECT_EQ(rig.program->waitForExit(), 0);
    rig.program.reset();
    EXPECT_LT(stoppedMs, row.stopWithinMs);

    const QByteArray storeAfter = readAll(storePath(rig.folder));
    const auto devicesBefore = deviceLines(storeBefore);
    const auto devicesAfter = deviceLines(storeAfter);
    ASSERT_FALSE(devicesBefore.isEmpty());
    EXPECT_EQ(devicesAfter.keys(), devicesBefore.keys()) << storeAfter.constData();
    for (auto it = devicesBefore.begin(); it != devicesBefore.end(); ++it)
        EXPECT_EQ(lasting(devicesAfter.value(it.key())), lasting(it.value())) << it.key().constData();
    EXPECT_TRUE(storeAfter.contains("acme.wx.pc~Probe.Request=probe;1")) << "the filters were lost";
    // Exit wrote the store once, and nothing after it: the backup is the store from before.
    EXPECT_EQ(readAll(storePath(rig.folder) + QStringLiteral("_bck")), storeBefore);
    EXPECT_EQ(deviceLines(readAll(rig.folder.path() + QStringLiteral("/Config/xaptvkKorvane.ini"))).size(), 0);
    EXPECT_TRUE(readAll(rig.folder.path() + QStringLiteral("/Config/xaptvkKorvane.ini")).toUpper().contains("POLL_INTERVAL=200"))
        << pluginSettingsBefore.constData();

    waitUntil([] { return false; }, 300);
    const QList<QByteArray> logs = rig.of(QStringLiteral("Tessera.Event"));
    bool scriptStopped = false;
    for (qsizetype i = logsBefore; i < logs.size(); ++i) {
        const QString entry = BridgeRig::item(logs.at(i), QStringLiteral("Data"));
        scriptStopped = scriptStopped || entry.contains(QStringLiteral("The script was stopped"));
        EXPECT_FALSE(entry.contains(QStringLiteral("Object variable not set")) || entry.contains(QStringLiteral("not written"))
                     || entry.contains(QStringLiteral("time-out")))
            << entry.toStdString();
    }
    if (!row.script.isEmpty())
        EXPECT_TRUE(scriptStopped) << "the script did not end at the stop";
}

// Scripts loop around their wait, as a user's script waiting for something would.
const Row kRows[] = {
    {"ControllerReply", "ControllerReply", {}, At::Running, true, 20000},
    {"StartUpDiscovery", "ControllerReply", {}, At::SilentStartUp, false, 20000},
    // The link's settle delay (2 s) after it opened at the start-up. Exit waits for the end of
    // the start-up anyway, so the delay's early end is what shows the stop reached it.
    {"LinkDelay", "LinkDelay", {}, At::StartUp, false, 20000, 1500},
    {"ScriptWaitSecs", nullptr, "  Do\r\n    xap.WaitSecs 1\r\n  Loop\r\n", At::Running, false, 3000},
    {"ScriptEvents", "ScriptEvents", "  Do\r\n    xap.WaitEvents\r\n  Loop\r\n", At::Running, false, 3000},
    {"ScriptSerialRead", "ScriptSerialRead",
     scriptLink("%SILENT%") + "  c.PortOpen = True\r\n  Do\r\n    b = c.InputData\r\n  Loop\r\n", At::Running, false, 3000},
    {"LinkOpen", "LinkOpen", scriptLink("%REFUSING%") + "  Do\r\n    c.PortOpen = True\r\n  Loop\r\n", At::Running, false, 3000},
    // No wait at all: the stop finds the script inside one long built-in call.
    {"LongBuiltIn", nullptr,
     "  Dim re, t\r\n  t = String(3000000, \"a\")\r\n  Set re = New RegExp\r\n  re.Global = True\r\n  re.Pattern = \"a\"\r\n"
     "  Do\r\n    b = re.Replace(t, \"bb\")\r\n  Loop\r\n",
     At::Running, false, 3000},
};

INSTANTIATE_TEST_SUITE_P(Waits, StopInWaits, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// A file-size limit smaller than the store: the save at Exit fails like a full disk (the store
// on disk and its backup as they were, a log entry) instead of ending the process unsaved.
TEST(StopUnderFileSizeLimit, StoreLargerThanTheLimitStaysWholeAndTheFailureIsLogged)
{
    BridgeRig rig;
    // A section of the user's own, kept by every save, makes the store large.
    QByteArray store = BridgeRig::defaultStore() + "[Notes]\r\n";
    for (int i = 0; store.size() < 96 * 1024; ++i)
        store += "Note" + QByteArray::number(100000 + i) + "=kept as it is by every save of the store\r\n";
    rig.store = store;
    rig.fileSizeLimit = 64 * 1024;
    ASSERT_TRUE(rig.start());
    const QByteArray storeBefore = readAll(storePath(rig.folder));
    ASSERT_GT(storeBefore.size(), rig.fileSizeLimit);
    // A changed value, so that Exit has something to write.
    rig.send(rig.message(QStringLiteral("xAPBSC.cmd"), rig.source + QStringLiteral(":>"),
                         {{"output.state.1", {"ID=05", "State=on", "Level=100/32767"}}}));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.vars[4] == 100; }, 20000)) << "the command never reached the controller";
    waitUntil([] { return false; }, 1000);
    EXPECT_EQ(rig.program->terminate(), 0) << "the limit ended the program";
    rig.program.reset();
    EXPECT_EQ(readAll(storePath(rig.folder)), storeBefore) << "the store on disk is not whole";
    waitUntil([] { return false; }, 300);
    const QByteArray logFile = readAll(rig.folder.logFile());
    QStringList entries;
    for (const QByteArray& d : rig.of(QStringLiteral("Tessera.Event")))
        entries << BridgeRig::item(d, QStringLiteral("Data"));
    EXPECT_TRUE(entries.join('\n').contains(QStringLiteral("tvkXapKorvane.ini")) || logFile.contains("tvkXapKorvane.ini"))
        << "no log entry of the failed save: " << entries.join('\n').toStdString() << logFile.constData();
}

// The status page's IR macro pauses between its items: a stop there ends the macro and the
// program as a plain Exit, without playing the rest of the macro first.
TEST(StopInWaitsOfThePage, MacroPause)
{
    DemoProgram demo;
    const QString trace = demo.folder.path() + QStringLiteral("/waits.trace");
    demo.programEnvironment = {{QStringLiteral("KORVANE_TRACE_WAITS"), trace}};
    ASSERT_TRUE(demo.start());
    const QByteArray storeBefore = demo.readConfig(QStringLiteral("tvkXapKorvane.ini"));
    DemoProgram::Fields form = DemoProgram::collectForm(QString::fromLatin1(demo.get()));
    QStringList items;
    for (int i = 1; i <= 100; ++i)
        items << QString::number(i);
    DemoProgram::set(form, QStringLiteral("clientinput"), QStringLiteral("MAC1"));
    DemoProgram::set(form, QStringLiteral("MAC1DC"), items.join(QLatin1Char(',')));
    DemoProgram::set(form, QStringLiteral("clientvalue"), QStringLiteral("SEND"));
    const std::unique_ptr<QTcpSocket> socket = demo.postWithoutWaiting(form);
    ASSERT_TRUE(socket);
    ASSERT_TRUE(waitUntil([&] { return readAll(trace).contains("MacroPause"); }, 20000)) << "the macro never paused";
    const qint64 stoppedMs = stopMs(*demo.program);
    ASSERT_GE(stoppedMs, 0) << "the program did not end";
    EXPECT_EQ(demo.program->waitForExit(), 0);
    // The rest of the macro would take ten seconds.
    EXPECT_LT(stoppedMs, 6000);
    const QByteArray storeAfter = demo.readConfig(QStringLiteral("tvkXapKorvane.ini"));
    const auto devicesBefore = deviceLines(storeBefore);
    ASSERT_FALSE(devicesBefore.isEmpty());
    EXPECT_EQ(deviceLines(storeAfter).keys(), devicesBefore.keys());
    EXPECT_EQ(readAll(demo.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini_bck")), storeBefore);
}

// Repeats of a logged refusal are counted and logged once their minute is
// over: a stop before then still logs what was counted.
TEST(StopLogsCounts, RepeatsCountedSinceTheirEntryAreLoggedAtAStop)
{
    DemoProgram demo;
    demo.editConfig("xaptvkKorvane.ini", "PeriodicScriptInterval=", "PeriodicScriptInterval=1");
    demo.folder.writeFile("Scripts/xaptvkKorvane.txt",
                          "Sub Main(tag)\r\n"
                          "    Dim i\r\n"
                          "    For i = 1 To 20\r\n"
                          "        xap.Response \"nosuch\", 1\r\n"
                          "    Next\r\n"
                          "    xap.WriteLog \"Demo script\", \"responses sent\"\r\n"
                          "End Sub\r\n");
    ASSERT_TRUE(demo.start());
    ASSERT_TRUE(waitUntil([&] { return demo.sent("responses sent"); }, 30000));
    ASSERT_TRUE(demo.sent("Tag nosuch not recognized in Response"));
    ASSERT_FALSE(demo.sent("(repeated ")) << "a minute has passed already";
    ASSERT_TRUE(demo.stop());
    EXPECT_TRUE(waitUntil([&] { return demo.sent("Tag nosuch not recognized in Response (repeated "); }, 5000))
        << "the counted repeats were lost at the stop";
}

}  // namespace
