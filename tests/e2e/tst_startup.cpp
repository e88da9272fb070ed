// Start-up of the real program: heartbeat, first log entries, port search, stop on SIGTERM.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

int portOf(const QByteArray& heartbeat)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\nport=(\\d+)\n")).match(QString::fromLatin1(heartbeat));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

bool isLogEntryWithData(const QByteArray& text, const QByteArray& data)
{
    return text.startsWith("xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:00\n") && text.contains("class=Tessera.Event\nsource=" + programSource().toLatin1() + "\n}\nEvent.Log\n{\nTime=")
        && text.contains("\nType=xaptvkKorvane\nData=" + data + "\n}\n");
}

std::vector<std::unique_ptr<QUdpSocket>> holdPorts(int first, int count)
{
    std::vector<std::unique_ptr<QUdpSocket>> held;
    for (int p = first; p < first + count; ++p) {
        auto s = std::make_unique<QUdpSocket>();
        if (s->bind(QHostAddress(QHostAddress::LocalHost), quint16(p), QAbstractSocket::DontShareAddress))
            held.push_back(std::move(s));
    }
    return held;
}

}  // namespace

TEST(Startup, HeartbeatThenUsingPortEntryThenCleanStop)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    KorvaneProcess program(folder);
    ASSERT_TRUE(listener.waitForCount(2));
    const int port = portOf(listener.received.at(0));
    ASSERT_GE(port, 32768);
    EXPECT_EQ(listener.received.at(0), expectedHeartbeat(port));
    EXPECT_TRUE(isLogEntryWithData(listener.received.at(1), "Using xAP port " + QByteArray::number(port)))
        << listener.received.at(1).toStdString();
    EXPECT_TRUE(QFileInfo(folder.path() + QStringLiteral("/Data")).isDir());
    EXPECT_TRUE(QFileInfo(folder.path() + QStringLiteral("/HTML")).isDir());
    EXPECT_EQ(program.terminate(), 0);
}

// Data and HTML exist as files, so making those folders fails: both failures are logged
// before the endpoint is up and go out after the heartbeat, oldest first, before "Using".
TEST(Startup, EntriesLoggedBeforeTheEndpointArriveFirst)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    folder.writeFile(QStringLiteral("Data"), "not a folder");
    folder.writeFile(QStringLiteral("HTML"), "not a folder");
    KorvaneProcess program(folder);
    ASSERT_TRUE(listener.waitForCount(4));
    const int port = portOf(listener.received.at(0));
    EXPECT_EQ(listener.received.at(0), expectedHeartbeat(port));
    EXPECT_TRUE(isLogEntryWithData(listener.received.at(1), " CreateFolders " + folder.path().toLatin1() + "/Data"))
        << listener.received.at(1).toStdString();
    EXPECT_TRUE(isLogEntryWithData(listener.received.at(2), " CreateFolders " + folder.path().toLatin1() + "/HTML"))
        << listener.received.at(2).toStdString();
    EXPECT_TRUE(isLogEntryWithData(listener.received.at(3), "Using xAP port " + QByteArray::number(port)));
    EXPECT_EQ(program.terminate(), 0);
}

TEST(Startup, SkipsPortsHeldByOtherPrograms)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    const auto held = holdPorts(32768, 3);
    // Whatever else holds ports here, the program takes the first one that is free right now
    // (32771 on a quiet machine).
    int expected = 32768;
    while (!QUdpSocket().bind(QHostAddress(QHostAddress::LocalHost), quint16(expected), QAbstractSocket::DontShareAddress))
        ++expected;
    EXPECT_GE(expected, 32771);
    ProgramFolder folder;
    KorvaneProcess program(folder);
    ASSERT_TRUE(listener.waitForCount(1));
    EXPECT_EQ(listener.received.at(0), expectedHeartbeat(expected));
    EXPECT_EQ(program.terminate(), 0);
}

TEST(Startup, NoFreePortEndsTheProgramWithALogLine)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    const auto held = holdPorts(32768, 200);
    if (held.size() != 200u)
        GTEST_SKIP() << "some of the ports 32768-32967 are in use on this machine";
    ProgramFolder folder;
    KorvaneProcess program(folder);
    EXPECT_EQ(program.waitForExit(), 1);
    QFile log(folder.logFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), QByteArray("xaptvkKorvane xAP Init Error -1 occurred 0 \n"));
    // Loopback delivery is immediate, so anything sent would be waiting by now.
    EXPECT_FALSE(listener.socket.hasPendingDatagrams());
    EXPECT_TRUE(listener.received.isEmpty());
}

TEST(Startup, MalformedSettingsFileLoadsWhatItCan)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    QByteArray ini("\xff\xfe[interface\n;BroadcastAddress=255.255.255.255\n[INTERFACE]\r\ngarbage line\r\n=\r\n");
    ini += QByteArray(70000, '#') + "\r\n";
    ini += "broadcastaddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\nBroadcastAddress=10.255.255.255\r\n[unterminated";
    ProgramFolder folder(ini);
    KorvaneProcess program(folder);
    ASSERT_TRUE(listener.waitForCount(2));
    EXPECT_EQ(listener.received.at(0), expectedHeartbeat(portOf(listener.received.at(0))));
    EXPECT_EQ(program.terminate(), 0);
}

namespace {

// The soft and hard open-file limits of a running process, from /proc; {-1, -1} when unknown.
QPair<qint64, qint64> openFileLimits(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Max open files\\s+(\\d+)\\s+(\\d+)"))
                                          .match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? qMakePair(m.captured(1).toLongLong(), m.captured(2).toLongLong()) : qMakePair(-1LL, -1LL);
}

}  // namespace

// A service starts with a soft open-file limit of 1,024 under a much higher hard one: the
// page's server takes what the hard limit allows, up to what its pool can use, so that a
// crowd of idle connections does not fill its places; a hard limit is never passed.
TEST(Startup, TheWebServerTakesTheOpenFilesTheHardLimitAllows)
{
    // (A hard limit can only be lowered: the highest row is this test's own.)
    rlimit own{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
    const qint64 ownHard = own.rlim_max == RLIM_INFINITY ? qint64(1) << 20 : qint64(own.rlim_max);
    ASSERT_GE(ownHard, 4096);
    struct Row { qint64 soft, hard, expectedSoft; };
    const Row rows[] = {{1024, 2048, 2048}, {1024, 4096, 2304}, {1024, ownHard, qMin<qint64>(ownHard, 2304)}, {700, 700, 700}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.hard);
        ProgramFolder folder;
        std::unique_ptr<KorvaneProcess> program;
        const quint16 port = startOnFreeWebPort([&](quint16 p) {
            folder.writeFile(QStringLiteral("Config/tvkXapKorvane.ini"),
                             "[tspi_quillon]\r\nHTTPPort=" + QByteArray::number(p) + "\r\n");
            program = std::make_unique<KorvaneProcess>(folder, QList<QPair<QString, QString>>{}, 0,
                                                       qMakePair(row.soft, row.hard));
            return program->pid();
        });
        ASSERT_GT(port, 0);
        EXPECT_EQ(openFileLimits(program->pid()), qMakePair(row.expectedSoft, row.hard));
        EXPECT_EQ(program->terminate(), 0);
    }
}
