// Every way the real program is asked to stop ends like Exit: the store and the log are
// written, and nothing of the start-up runs or sends after Exit has finished.
#include "BridgeRig.h"

#include <QFile>
#include <QFileInfo>

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
