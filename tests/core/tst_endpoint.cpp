#include "XapListener.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

#include "automation/VbTimer.h"

#include <QDir>
#include <QFile>
#include <QNetworkInterface>


#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <cerrno>
#include <cstddef>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class EndpointTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.bound);
        endpoint.setXapSource(QStringLiteral("tvk.Korvane.pc1"));
        endpoint.setXapUID(QStringLiteral("FF.00C7:00"));
        endpoint.setBroadcastAddress(QStringLiteral("127.0.0.1"));
        endpoint.setInterfaceAddress(QStringLiteral("127.0.0.1"));
    }

    QByteArray heartbeat(const char* interval, int port) const
    {
        return QByteArray("xap-hbeat\n{\nv=13\nhop=1\nuid=FF.00C7:00\nclass=xap-hbeat.alive\nsource=tvk.Korvane.pc1\ninterval=")
            + interval + "\nport=" + QByteArray::number(port) + "\n}\n";
    }

    XapListener listener;
    xap endpoint;
};

}  // namespace

TEST_F(EndpointTest, HeartbeatVariants)
{
    const int port = endpoint.Init();
    ASSERT_GE(port, xap::kFirstPort);
    endpoint.SendHeartbeat(60);
    endpoint.SendHeartbeat(3);
    EXPECT_EQ(endpoint.heartbeatIntervalMs(), 5000);
    endpoint.SendHeartbeat(0);
    EXPECT_EQ(endpoint.heartbeatIntervalMs(), 0);
    endpoint.SendHeartbeat(600);
    EXPECT_EQ(endpoint.heartbeatIntervalMs(), 60000);
    ASSERT_TRUE(listener.waitForCount(4));
    EXPECT_EQ(listener.received.at(0), heartbeat("600", port));
    EXPECT_EQ(listener.received.at(1), heartbeat("50", port));
    EXPECT_EQ(listener.received.at(2), heartbeat("00", port));
    EXPECT_EQ(listener.received.at(3), heartbeat("600", port));
}

TEST_F(EndpointTest, SkipsPortsHeldByOthers)
{
    std::vector<std::unique_ptr<QUdpSocket>> held;
    for (int p = xap::kFirstPort; p < xap::kFirstPort + 3; ++p) {
        auto s = std::make_unique<QUdpSocket>();
        s->bind(QHostAddress(QHostAddress::LocalHost), quint16(p), QAbstractSocket::DontShareAddress);
        held.push_back(std::move(s));
    }
    const int port = endpoint.Init();
    EXPECT_GT(port, xap::kFirstPort + 2);
    endpoint.SendHeartbeat(60);
    ASSERT_TRUE(listener.waitForCount(1));
    EXPECT_TRUE(listener.received.at(0).contains("\nport=" + QByteArray::number(port) + "\n"));
}

TEST_F(EndpointTest, BodyItemsWithoutSeparatorAreDropped)
{
    ASSERT_GT(endpoint.Init(), 0);
    const QString body = QStringLiteral("a") + QChar(1) + QStringLiteral("1") + QChar(0) + QStringLiteral("junk") + QChar(0)
        + QStringLiteral("b") + QChar(1) + QStringLiteral("x") + QChar(1) + QStringLiteral("y") + QChar(0)
        + QStringLiteral("latin") + QChar(1) + QString(QChar(0xe9));
    endpoint.SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("sec"), body, QString(), QStringLiteral("FF.1:2"));
    endpoint.SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("sec"), QString(), QString(), QString());
    ASSERT_TRUE(listener.waitForCount(2));
    EXPECT_EQ(listener.received.at(0),
              QByteArray("xap-header\n{\nv=13\nhop=1\nuid=FF.1:2\nclass=c.d\nsource=tvk.Korvane.pc1\n}\nsec\n{\na=1\nb=x\x01y\nlatin=\xe9\n}\n"));
    EXPECT_TRUE(listener.received.at(1).endsWith("}\nsec\n{\n}\n"));
}

TEST_F(EndpointTest, ReceiveQueueFiltersAndKeepsArrivalOrder)
{
    const int port = endpoint.Init();
    ASSERT_GT(port, 0);
    QStringList drained;
    int drains = 0;
    endpoint.RegisterNewMessageCallback([&] {
        ++drains;
        for (QString t = endpoint.GetMessage(); !t.isEmpty(); t = endpoint.GetMessage())
            drained.append(t);
    });
    QUdpSocket sender;
    const auto send = [&](const QByteArray& text) { sender.writeDatagram(text, QHostAddress(QHostAddress::LocalHost), quint16(port)); };
    send("xap-hbeat\n{\n}\n");
    send("xap-header\n{\nclass=one\n}\n");
    send("XAP-HEADER\n{\nclass=two\n}\n");
    send("xap-header\n{\nclass=\xe9\xff\n}\n");
    ASSERT_TRUE(waitUntil([&] { return drained.size() >= 3; }));
    EXPECT_EQ(drains, 1);
    EXPECT_EQ(drained, QStringList({QStringLiteral("xap-header\n{\nclass=one\n}\n"), QStringLiteral("XAP-HEADER\n{\nclass=two\n}\n"),
                                    QString::fromLatin1("xap-header\n{\nclass=\xe9\xff\n}\n")}));

    endpoint.setFilterHeartbeats(false);
    send("xap-hbeat\n{\n}\n");
    ASSERT_TRUE(waitUntil([&] { return drained.size() >= 4; }));
    EXPECT_EQ(drained.last(), QStringLiteral("xap-hbeat\n{\n}\n"));

    // A text that comes while the program stops is still queued: the stop stores it as a record.
    gShuttingDown = true;
    const qint64 before = endpoint.datagramsRead();
    send("xap-header\n{\nclass=late\n}\n");
    ASSERT_TRUE(waitUntil([&] { return endpoint.datagramsRead() > before; }));
    gShuttingDown = false;
    send("xap-header\n{\nclass=marker\n}\n");
    ASSERT_TRUE(waitUntil([&] { return drained.size() >= 6; }));
    EXPECT_EQ(drained.size(), 6);
    EXPECT_EQ(drained.mid(4), QStringList({QStringLiteral("xap-header\n{\nclass=late\n}\n"),
                                           QStringLiteral("xap-header\n{\nclass=marker\n}\n")}));
}

TEST(IpMatches, BitsOfTheAddressMustBeInThePattern)
{
    EXPECT_TRUE(xap::IpMatches(QStringLiteral("255.255.255.255"), QStringLiteral("10.1.2.3")));
    EXPECT_TRUE(xap::IpMatches(QStringLiteral("192.168.1.255"), QStringLiteral("192.168.1.20")));
    EXPECT_FALSE(xap::IpMatches(QStringLiteral("192.168.1.255"), QStringLiteral("192.168.2.20")));
    EXPECT_TRUE(xap::IpMatches(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(xap::IpMatches(QStringLiteral("Default"), QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(xap::IpMatches(QStringLiteral("1.2.3"), QStringLiteral("1.2.3")));
}

// After the first heartbeat the next one follows ten timer periods later, not sooner.
TEST_F(EndpointTest, HeartbeatEveryTenPeriods)
{
    const int port = endpoint.Init();
    ASSERT_GT(port, 0);
    endpoint.SendHeartbeat(60);
    ASSERT_TRUE(listener.waitForCount(1));
    VbTimer* beat = endpoint.findChild<VbTimer*>(QStringLiteral("HBeatTimer"));
    ASSERT_NE(beat, nullptr);
    EXPECT_EQ(beat->interval(), 60000);
    for (int round = 0; round < 2; ++round) {
        for (int tick = 1; tick < 10; ++tick)
            emit beat->timer();
        // Loopback delivery is immediate: a heartbeat sent by now would be waiting.
        QCoreApplication::processEvents();
        EXPECT_FALSE(listener.socket.hasPendingDatagrams()) << "round " << round;
        EXPECT_EQ(listener.received.size(), 1 + round);
        emit beat->timer();
        ASSERT_TRUE(listener.waitForCount(2 + round));
        EXPECT_EQ(listener.received.last(), heartbeat("600", port));
    }
}

// A host name is looked up once at Init; an address or name that gives no IPv4 address fails
// Init with a line in the xAP log file instead of sending to 0.0.0.0.
TEST_F(EndpointTest, BroadcastAddressMayBeAHostName)
{
    endpoint.setBroadcastAddress(QStringLiteral("localhost"));
    ASSERT_GT(endpoint.Init(), 0);
    EXPECT_EQ(endpoint.remoteHost(), QHostAddress(QHostAddress::LocalHost));
    endpoint.SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("sec"), QString(), QString(), QString());
    ASSERT_TRUE(listener.waitForCount(1));
    EXPECT_TRUE(listener.received.at(0).contains("class=c.d\n"));

    // An entry of its own first, so that no count of repeats left by earlier tests lands in the new file.
    WriteLogFile(QStringLiteral("test"), QStringLiteral("before the host-name cases"));
    QDir(gAppPath + QStringLiteral("/Data")).removeRecursively();
    for (const char* unusable : {"::1", "not an address!"}) {
        xap other;
        other.setInterfaceAddress(QStringLiteral("127.0.0.1"));
        other.setBroadcastAddress(QString::fromLatin1(unusable));
        EXPECT_EQ(other.Init(), -1) << unusable;
        EXPECT_EQ(other.localPort(), 0) << "nothing was bound for " << unusable;
    }
    QFile log(gAppPath + QStringLiteral("/Data/xaptvkKorvane/xaptvkKorvane.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), QByteArray("xaptvkKorvane Init BroadcastAddress ::1 gives no IPv4 address 0 \n"
                                        "xaptvkKorvane Init BroadcastAddress not an address! gives no IPv4 address 0 \n"));

    // "Default" in any case is the limited broadcast (only looked at here, nothing is sent).
    xap byDefault;
    byDefault.setInterfaceAddress(QStringLiteral("127.0.0.1"));
    byDefault.setBroadcastAddress(QStringLiteral("DeFaUlT"));
    ASSERT_GT(byDefault.Init(), 0);
    EXPECT_EQ(byDefault.remoteHost(), QHostAddress(QHostAddress::Broadcast));
}

// "Default" as the interface matches no address, so the first network address is taken and
// loopback only when the machine has nothing else; an address that is set is taken as it is.
TEST_F(EndpointTest, DefaultInterfaceTakesTheFirstNetworkAddress)
{
    QStringList network;
    for (const QHostAddress& addr : QNetworkInterface::allAddresses()) {
        if (addr.protocol() == QAbstractSocket::IPv4Protocol && !addr.isLoopback())
            network.append(addr.toString());
    }
    xap byDefault;
    byDefault.setBroadcastAddress(QStringLiteral("127.0.0.1"));
    byDefault.setInterfaceAddress(QStringLiteral("Default"));
    ASSERT_GT(byDefault.Init(), 0);
    EXPECT_EQ(byDefault.localIp(), network.isEmpty() ? QString() : network.first());

    xap everything;
    everything.setBroadcastAddress(QStringLiteral("127.0.0.1"));
    everything.setInterfaceAddress(QStringLiteral("255.255.255.255"));
    ASSERT_GT(everything.Init(), 0);
    EXPECT_EQ(everything.localIp(), network.isEmpty() ? QStringLiteral("127.0.0.1") : network.first());

    ASSERT_GT(endpoint.Init(), 0);
    EXPECT_EQ(endpoint.localIp(), QStringLiteral("127.0.0.1"));
}

// A flood while the dispatcher does not keep up: the queue stops at its count and size and
// the rest waits in the socket, with one log entry per burst; once half is taken the socket
// is read again, and nothing is lost or reordered that the socket could hold.
TEST_F(EndpointTest, ReceiveQueueIsBoundedByCountAndSize)
{
    const int port = endpoint.Init();
    ASSERT_GT(port, 0);
    endpoint.RegisterNewMessageCallback([] {});
    QUdpSocket sender;
    const auto send = [&](const QByteArray& text) {
        return sender.writeDatagram(text, QHostAddress(QHostAddress::LocalHost), quint16(port)) == text.size();
    };
    const auto queueFullEntries = [] {
        int n = 0;
        for (const QString& body : PendingXapBodies())
            n += body.contains(QStringLiteral("Receive queue full")) ? 1 : 0;
        return n;
    };
    const int entriesBefore = queueFullEntries();

    const int extra = 300;
    int sent = 0;
    for (int i = 0; i < xap::kMaxQueuedTexts + extra; ++i) {
        sent += send("xap-header\n{\nclass=n" + QByteArray::number(i) + "\n}\n") ? 1 : 0;
        if (i % 20 == 19)
            waitUntil([&] { return endpoint.datagramsRead() >= std::min(sent, xap::kMaxQueuedTexts); }, 5000);
    }
    ASSERT_EQ(sent, xap::kMaxQueuedTexts + extra);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(endpoint.queuedCount(), xap::kMaxQueuedTexts);
    EXPECT_EQ(endpoint.datagramsRead(), xap::kMaxQueuedTexts) << "the rest waits in the socket";
    EXPECT_TRUE(endpoint.readingPaused());
    EXPECT_EQ(queueFullEntries(), entriesBefore + 1);

    // Taking half lets the rest in, in order.
    QStringList taken;
    for (int i = 0; i < xap::kMaxQueuedTexts / 2; ++i)
        taken.append(endpoint.GetMessage());
    ASSERT_TRUE(waitUntil([&] { return endpoint.datagramsRead() == sent; }));
    EXPECT_FALSE(endpoint.readingPaused());
    for (QString t = endpoint.GetMessage(); !t.isEmpty(); t = endpoint.GetMessage())
        taken.append(t);
    ASSERT_EQ(taken.size(), sent);
    for (int i = 0; i < sent; i += 997)
        EXPECT_EQ(taken.at(i), QStringLiteral("xap-header\n{\nclass=n%1\n}\n").arg(i));
    EXPECT_EQ(endpoint.queuedBytes(), 0);

    // Large texts stop at the size bound well before the count.
    const QByteArray big = "xap-header\n{\nclass=big\n}\nbody\n{\ntext=" + QByteArray(60000, 'x') + "\n}\n";
    const int fitting = int((xap::kMaxQueuedBytes + big.size() - 1) / big.size());
    const qint64 readBefore = endpoint.datagramsRead();
    for (int i = 0; i < fitting + 10; ++i) {
        ASSERT_TRUE(send(big));
        waitUntil([&] { return endpoint.datagramsRead() >= readBefore + std::min(i + 1, fitting); }, 5000);
    }
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(endpoint.queuedCount(), fitting);
    EXPECT_LT(endpoint.queuedBytes(), xap::kMaxQueuedBytes + big.size());
    EXPECT_EQ(queueFullEntries(), entriesBefore + 2) << "a second burst, after the queue drained, logs again";
}

// The parser opens a section at every "}" line followed by another line, whatever comes
// after it; the bound on blocks must see every layout it accepts, or a peer leaves out
// the "{" lines and gets thousands of sections parsed and carried out.
TEST_F(EndpointTest, TooManyBlocksAreRefusedInEveryLayoutTheParserTakes)
{
    struct Layout {
        const char* name;
        QByteArray (*block)(int n);
        bool finalLf;
    };
    const Layout layouts[] = {
        {"braces", [](int n) { return "output.state." + QByteArray::number(n) + "\n{\nID=01\nLevel=4\n}\n"; }, true},
        {"no opening brace", [](int n) { return "output.state." + QByteArray::number(n) + "\nID=01\nLevel=4\n}\n"; }, true},
        {"name only", [](int n) { return "s" + QByteArray::number(n) + "\n}\n"; }, true},
        {"brace on the name line", [](int n) { return "{" + QByteArray::number(n) + "\n}\n"; }, true},
        {"no final line feed", [](int n) { return "s" + QByteArray::number(n) + "\n}\n"; }, false},
    };
    const auto message = [](const Layout& l, int blocks) {
        QByteArray text = "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\nsource=acme.probe.one\n"
                          "target=tvk.Korvane.pc1\n}\n";
        for (int n = 1; n <= blocks; ++n)
            text += l.block(n);
        if (!l.finalLf)
            text.chop(1);
        return text;
    };
    const auto parsedSections = [](const QByteArray& text) {
        XapMessage m;
        m.FromXap(QString::fromLatin1(text));
        int n = 0;
        while (m.msgCollection(n))
            ++n;
        return n;
    };

    const int port = endpoint.Init();
    ASSERT_GT(port, 0);
    QStringList drained;
    endpoint.RegisterNewMessageCallback([&] {
        for (QString t = endpoint.GetMessage(); !t.isEmpty(); t = endpoint.GetMessage())
            drained.append(t);
    });
    QUdpSocket sender;
    const auto send = [&](const QByteArray& text) { sender.writeDatagram(text, QHostAddress(QHostAddress::LocalHost), quint16(port)); };
    const int largest = xap::kMostBlocks - 1; // a command to every endpoint a two-digit ID names
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        const QByteArray fits = message(l, largest);
        const QByteArray tooMany = message(l, largest + 40);
        EXPECT_EQ(xap::blockCount(fits), parsedSections(fits)) << "counted otherwise than the parser finds them";
        EXPECT_GT(xap::blockCount(tooMany), xap::kMostBlocks);
        drained.clear();
        send(tooMany);
        send(fits);
        ASSERT_TRUE(waitUntil([&] { return !drained.isEmpty(); }));
        waitUntil([] { return false; }, 50);
        EXPECT_EQ(drained.size(), 1) << "a message of " << parsedSections(tooMany) << " sections was queued";
        EXPECT_EQ(drained.last(), QString::fromLatin1(fits));
    }
}

TEST(EndpointBytes, HighAndLowByteOfAWord)
{
    EXPECT_EQ(xap::hibyte(0), 0);
    EXPECT_EQ(xap::lobyte(0), 0);
    EXPECT_EQ(xap::hibyte(255), 0);
    EXPECT_EQ(xap::lobyte(255), 255);
    EXPECT_EQ(xap::hibyte(256), 1);
    EXPECT_EQ(xap::lobyte(256), 0);
    EXPECT_EQ(xap::hibyte(65535), 255);
    EXPECT_EQ(xap::lobyte(65535), 255);
    // The division truncates toward zero: -1 div 256 is 0; its low byte is all ones.
    EXPECT_EQ(xap::hibyte(-1), 0);
    EXPECT_EQ(xap::lobyte(-1), 255);
    EXPECT_EQ(xap::hibyte(0x1234), 0x12);
    EXPECT_EQ(xap::lobyte(0x1234), 0x34);
}

namespace {

QByteArray xapLog()
{
    QFile log(gAppPath + QStringLiteral("/Data/xaptvkKorvane/xaptvkKorvane.txt"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

// Loads the endpoint in a child process whose kernel refuses IPv4 sockets;
// true when the child ran to its end.
bool loadWithoutIPv4()
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(3);
        {
            xap endpoint;
        }
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(EndpointSockets, MissingIPv4LayerIsLoggedAtLoad)
{
    const QByteArray label = "xaptvkKorvane SocketsInitialize IPv4 UDP sockets are not available: ";
    {
        xap endpoint; // a working platform logs nothing at load or unload
    }
    EXPECT_FALSE(xapLog().contains(label));
    ASSERT_TRUE(loadWithoutIPv4());
    const QByteArray log = xapLog();
    EXPECT_TRUE(log.contains(label + "Address family not supported by protocol")) << log.right(300).constData();
}
