#include "XapListener.h"

#include "core/Globals.h"
#include "core/xap/XapEndpoint.h"


#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

    // While shutting down nothing is queued.
    gShuttingDown = true;
    const qint64 before = endpoint.datagramsRead();
    send("xap-header\n{\nclass=late\n}\n");
    ASSERT_TRUE(waitUntil([&] { return endpoint.datagramsRead() > before; }));
    gShuttingDown = false;
    send("xap-header\n{\nclass=marker\n}\n");
    ASSERT_TRUE(waitUntil([&] { return drained.size() >= 5; }));
    EXPECT_EQ(drained.size(), 5);
    EXPECT_EQ(drained.last(), QStringLiteral("xap-header\n{\nclass=marker\n}\n"));
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
