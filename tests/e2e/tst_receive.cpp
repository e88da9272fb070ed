// Received datagrams reach the dispatcher entry in arrival order; bad input never crashes.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class ReceiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.bound);
        program = std::make_unique<KorvaneProcess>(folder);
        ASSERT_TRUE(listener.waitForCount(1));
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\nport=(\\d+)\n")).match(QString::fromLatin1(listener.received.at(0)));
        ASSERT_TRUE(m.hasMatch());
        port = quint16(m.captured(1).toUInt());
    }

    void send(const QByteArray& datagram)
    {
        sender.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port);
    }

    bool waitForDispatched(qsizetype n)
    {
        return waitUntil([&] { return folder.dispatched().size() >= n; }, 20000);
    }

    static QByteArray message(int n)
    {
        return "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=xAPBSC.cmd\nsource=acme.test.pc\n}\noutput.state.1\n{\nID="
            + QByteArray::number(n) + "\nState=on\n}\n";
    }

    XapListener listener;
    ProgramFolder folder;
    std::unique_ptr<KorvaneProcess> program;
    QUdpSocket sender;
    quint16 port = 0;
};

}  // namespace

TEST_F(ReceiveTest, DatagramsReachTheDispatcherInArrivalOrder)
{
    QList<QByteArray> sent;
    for (int i = 0; i < 40; ++i) {
        if (i % 10 == 5)
            send("xap-hbeat\n{\nv=13\nhop=1\nuid=FF.9:00\nclass=xap-hbeat.alive\nsource=other.device.pc\n}\n");
        sent.append(message(i));
        send(sent.last());
    }
    sent.append(QByteArray("XAP-HEADER\n{\nclass=latin\n}\nx\n{\nv=\xe9\xff\x01\n}\n"));
    send(sent.last());
    ASSERT_TRUE(waitForDispatched(sent.size()));
    EXPECT_EQ(folder.dispatched(), sent);
    EXPECT_EQ(program->terminate(), 0);
}

TEST_F(ReceiveTest, RandomAndTruncatedDatagramsNeverCrashIt)
{
    QRandomGenerator random(20240611);
    const QByteArray valid = message(7);
    int expectedQueued = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray datagram;
        switch (i % 3) {
        case 0:
            datagram = valid.left(random.bounded(valid.size() + 1));
            break;
        case 1:
            datagram.resize(random.bounded(1, 1400));
            for (char& c : datagram)
                c = char(random.bounded(256));
            break;
        default:
            datagram = valid;
            datagram[random.bounded(valid.size())] = char(random.bounded(256));
            datagram.append(QByteArray(random.bounded(200), '}'));
            break;
        }
        if (datagram.left(8).toLower() == "xap-head")
            ++expectedQueued;
        send(datagram);
        if (i % 500 == 499)
            ASSERT_TRUE(waitForDispatched(expectedQueued)) << "after " << i + 1 << " datagrams";
    }
    send(valid);
    ASSERT_TRUE(waitForDispatched(expectedQueued + 1));
    EXPECT_EQ(folder.dispatched().last(), valid);
    EXPECT_TRUE(program->running());
    EXPECT_EQ(program->terminate(), 0);
}
