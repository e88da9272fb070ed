// Start-up on a machine whose network is not up yet (a service started at boot): the test
// re-runs itself in a private network namespace whose loopback starts down, so the first
// heartbeat has no route, and brings the loopback up later.
#include "KorvaneProcess.h"
#include "PrivateNetwork.h"
#include "XapListener.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Waits without spinning: the wait here is a minute long.
bool waitSlowly(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(StartupWithoutNetwork, FirstHeartbeatFailsTheStartUpGoesOnAndTheTimerSendsItLater)
{
    RUN_IN_PRIVATE_NETWORK(.loopbackUp = false, .onlyThere = true);

    // Inside: the loopback is down, so nothing can be sent yet.
    QUdpSocket probe;
    ASSERT_EQ(probe.writeDatagram("x", QHostAddress(QHostAddress::LocalHost), 9), -1) << "the loopback is already up";
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    KorvaneProcess program(folder);

    // The failed heartbeat is written to the xAP log file, and the start-up goes on: the host
    // side loads (it creates the device store's file) and the program keeps running.
    ASSERT_TRUE(waitSlowly([&] { return readFile(folder.logFile()).contains("xaptvkKorvane SendHeartbeat "); }, 60000))
        << readFile(folder.logFile()).toStdString();
    ASSERT_TRUE(waitSlowly([&] { return QFileInfo::exists(folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini")); }, 60000));
    EXPECT_FALSE(readFile(folder.logFile()).contains("Main Load")) << readFile(folder.logFile()).toStdString();
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(listener.received.isEmpty());

    // The network comes up: the heartbeat timer's next tick (within a minute) sends it.
    ASSERT_TRUE(PrivateNetwork::setLoopbackUp());
    const auto heartbeat = [&] {
        for (const QByteArray& text : listener.received) {
            if (text.startsWith("xap-hbeat\n"))
                return text;
        }
        return QByteArray();
    };
    ASSERT_TRUE(waitSlowly([&] { return !heartbeat().isEmpty(); }, 120000));
    const QRegularExpressionMatch port = QRegularExpression(QStringLiteral("\nport=(\\d+)\n")).match(QString::fromLatin1(heartbeat()));
    ASSERT_TRUE(port.hasMatch()) << heartbeat().toStdString();
    EXPECT_EQ(heartbeat(), expectedHeartbeat(port.captured(1).toInt()));
    EXPECT_EQ(program.terminate(), 0);
}
