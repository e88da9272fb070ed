// Every way the real program is asked to stop ends like Exit: the store and the log are
// written, and nothing of the start-up runs or sends after Exit has finished.
#include "BridgeRig.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString storePath(const BridgeRig& rig)
{
    return rig.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini");
}

// The value field of a device's line in the saved store.
QByteArray storedValue(const BridgeRig& rig, const QByteArray& code)
{
    for (const QByteArray& line : readAll(storePath(rig)).split('\n'))
        if (line.startsWith(code + '='))
            return line.mid(code.size() + 1).split(';').value(8);
    return {};
}

}  // namespace

// A closed terminal (SIGHUP) and SIGQUIT save the store like SIGTERM: the value set since
// start is in the file afterwards.
TEST(Stopping, HangUpAndQuitSaveLikeExit)
{
    for (int signal : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        BridgeRig rig;
        ASSERT_TRUE(rig.start());
        rig.send(rig.message(QStringLiteral("xAPBSC.cmd"), rig.source + QStringLiteral(":>"),
                             {{"output.state.1", {"ID=05", "State=on", "Level=100/32767"}}}));
        ASSERT_TRUE(waitUntil([&] { return rig.sim.vars[4] == 100; }, 20000)) << "the command never reached the controller";
        waitUntil([] { return false; }, 1000);
        QFile::remove(storePath(rig) + QStringLiteral("_bck"));
        ::kill(pid_t(rig.program->pid()), signal);
        EXPECT_EQ(rig.program->waitForExit(), 0);
        EXPECT_TRUE(QFileInfo::exists(storePath(rig) + QStringLiteral("_bck"))) << "nothing was saved";
        EXPECT_EQ(storedValue(rig, "Q5"), QByteArray("100")) << readAll(storePath(rig)).constData();
        rig.program.reset();
    }
}

// SIGTERM while the start-up still waits on the controller: Exit runs once the start-up has
// returned, so no start-up step runs against a closed link and logs a false error after it.
TEST(Stopping, TerminateDuringStartUpSendsNothingAfterExit)
{
    BridgeRig rig;
    ASSERT_TRUE(rig.listener.listen());
    ASSERT_TRUE(rig.transport.listen());
    rig.sim.attach(&rig.transport);
    rig.sim.setUnit(3, 11);
    rig.folder.writeFile(QStringLiteral("Config/tvkXapKorvane.ini"),
                         BridgeRig::defaultStore() + "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort="
                             + QByteArray::number(rig.transport.port()) + "\r\n");
    rig.folder.writeFile(QStringLiteral("Config/xaptvkKorvane.ini"), "[tspi_quillon]\r\n" + rig.pluginSettings);
    rig.program = std::make_unique<KorvaneProcess>(rig.folder);
    ASSERT_TRUE(waitUntil([&] { return !rig.of(QStringLiteral("xap-hbeat.alive")).isEmpty(); }));
    waitUntil([] { return false; }, 1000);
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(rig.program->pid()), SIGTERM);
    // The simulator lives in this process: it must go on answering while the program stops.
    ASSERT_TRUE(waitUntil([&] { return !rig.program->running(); }, 60000));
    EXPECT_EQ(rig.program->waitForExit(), 0);
    // The start-up's own reply time-outs bound the wait.
    EXPECT_LT(stopping.elapsed(), 30000);
    waitUntil([] { return false; }, 300);
    QStringList entries;
    for (const QByteArray& d : rig.of(QStringLiteral("Tessera.Event")))
        entries.append(BridgeRig::item(d, QStringLiteral("Data")));
    for (const QString& entry : entries) {
        EXPECT_FALSE(entry.contains(QStringLiteral("Timeout")) || entry.contains(QStringLiteral("Object variable not set")))
            << entry.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(storePath(rig) + QStringLiteral("_bck"))) << "Exit did not save";
}

// A peer repeating one malformed message: the log file collapses the repeats into a count,
// and the count still waiting at SIGTERM is written, not lost.
TEST(Stopping, CollapsedRepeatCountIsWrittenAtExit)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    KorvaneProcess program(folder);
    ASSERT_TRUE(waitUntil([&] { return boundXapPort(program.pid()) != 0 && !listener.received.isEmpty(); }));
    const quint16 port = boundXapPort(program.pid());
    QUdpSocket sender;
    const QByteArray repeatedKey = "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=a.b\nsource=acme.peer.pc\n}\n"
                                   "sec\n{\nk=1\nk=2\n}\n";
    constexpr int kSent = 400;
    for (int i = 0; i < kSent; ++i) {
        sender.writeDatagram(repeatedKey, QHostAddress(QHostAddress::LocalHost), port);
        if (i % 50 == 49)
            waitUntil([] { return false; }, 50);
    }
    const QString logFile = folder.logFile();
    ASSERT_TRUE(waitUntil([&] { return readAll(logFile).contains("From XAP"); })) << readAll(logFile).constData();
    waitUntil([] { return false; }, 2000);
    EXPECT_EQ(program.terminate(), 0);
    const QList<QByteArray> lines = readAll(logFile).split('\n');
    int first = 0;
    int repeated = 0;
    for (const QByteArray& line : lines) {
        if (!line.startsWith("From XAP"))
            continue;
        const qsizetype at = line.indexOf(" (repeated ");
        if (at < 0)
            ++first;
        else
            repeated += line.mid(at + 11).split(' ').value(0).toInt();
    }
    EXPECT_EQ(first, 1) << readAll(logFile).constData();
    EXPECT_EQ(first + repeated, kSent) << readAll(logFile).constData();
}

// Peers that go on sending while the program stops: what arrives after the stop
// was asked for is no work of the stop's, so the stop takes about as long as a
// quiet one whatever the flood (a stop that served it took seconds more). The
// bound is the program's own time: its shutdown pause and saves, with room for
// a loaded machine. The script runs still waiting at the stop go with one entry.
TEST(Stopping, AFloodGoingOnThroughTheStopDoesNotLengthenIt)
{
    using Flood = std::function<void(BridgeRig &rig, int k)>;
    const auto datagrams = [](std::function<QByteArray(BridgeRig &, int)> make) -> Flood {
        return [make](BridgeRig &rig, int k) { rig.send(make(rig, k)); };
    };
    const struct
    {
        const char *what;
        Flood flood;
    } rows[] = {
        {"messages the receive filters keep",
         datagrams([](BridgeRig &rig, int k) {
             return rig.message("acme.burst", QString(), {{"burst", {"seq=" + QString::number(k)}}},
                                "acme.src." + QString::number(k % 1000));
         })},
        {"BSC commands",
         datagrams([](BridgeRig &rig, int k) {
             return rig.message("xAPBSC.cmd", rig.source + ":>", {{"output.state.1", {"ID=*", "Level=" + QString::number(k % 100)}}},
                                "acme.src." + QString::number(k % 1000));
         })},
    };
    QByteArray filters = "[Received]\r\n";
    for (int i = 0; i < 1000; ++i) {
        filters += "acme.src." + QByteArray::number(i) + "~acme.burst=Tag" + QByteArray::number(i) + ";1\r\n";
        filters += "acme.src." + QByteArray::number(i) + "~xAPBSC.cmd=Cmd" + QByteArray::number(i) + ";1\r\n";
    }
    for (const auto &row : rows) {
        BridgeRig rig;
        rig.store += filters;
        // Each kept message runs a script that takes a while: runs wait when the stop comes.
        rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"),
                             "Sub Main(tag)\r\n  t = Timer\r\n  Do While Timer - t < 0.005\r\n  Loop\r\nEnd Sub\r\n");
        ASSERT_TRUE(rig.start()) << row.what;
        int k = 0;
        QTimer flood;
        QObject::connect(&flood, &QTimer::timeout, [&] {
            for (int n = 0; n < 100; ++n)
                row.flood(rig, k++);
        });
        flood.start(20);
        waitUntil([] { return false; }, 1500);
        const OwnClock stopping(*rig.program);
        qint64 waited = 0, took = 0;
        ::kill(pid_t(rig.program->pid()), SIGTERM);
        ASSERT_TRUE(waitUntil(
            [&] {
                took = stopping.elapsedMs();
                if (!rig.program->running())
                    return true;
                waited = stopping.waitedForCpuMs();
                return false;
            },
            60000))
            << row.what;
        const qint64 own = took - waited;
        flood.stop();
        EXPECT_EQ(rig.program->waitForExit(), 0) << row.what;
        std::printf("%-36s stop %lld ms, %lld of them waiting for a processor, %d sent\n", row.what,
                    static_cast<long long>(took), static_cast<long long>(waited), k);
        EXPECT_LT(own, 2000 + BridgeRig::kEchoRoomMs) << row.what;
        // The runs that waited go with one entry, and none is queued after it.
        waitUntil([] { return false; }, 300); // the last entries on their way
        qsizetype dropEntries = 0;
        for (const QByteArray &d : rig.of(QStringLiteral("Tessera.Event")))
            dropEntries += BridgeRig::item(d, QStringLiteral("Data")).contains(QStringLiteral("script runs dropped")) ? 1 : 0;
        EXPECT_LE(dropEntries, 1) << row.what;
    }
}
