// Opening, losing and regaining the controller link over TCP and a pseudo-terminal.
#include "TestSupport.h"
#include "controller/link/Frames.h"
#include "controller/link/SerialComm.h"
#include "controller/link/SerialPortLink.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>

TEST(SerialPortPath, ComNumbersAndDevicePaths)
{
    EXPECT_EQ(SerialPortLink::DevicePath("1"), "/dev/ttyS0");
    EXPECT_EQ(SerialPortLink::DevicePath("4"), "/dev/ttyS3");
    EXPECT_EQ(SerialPortLink::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

class LinkTest : public LinkFixture
{
};

TEST_F(LinkTest, InvalidServerAddressesAreRefused)
{
    SerialComm c;
    c.setIP("127.0.0.1");
    c.setCommPort(100);
    c.setPortOpen(true);
    EXPECT_FALSE(c.PortOpen());
    EXPECT_TRUE(logged("SerialComm 127.0.0.1:100 is not valid IP:Port"));
    loggedEntries().clear();
    c.setIP("localhost");
    c.setCommPort(5000);
    c.setPortOpen(true);
    EXPECT_FALSE(c.PortOpen());
    EXPECT_TRUE(logged("SerialComm localhost:5000 is not valid IP:Port"));

    // Port 101 is valid: a server there is reached.
    // Binding a low port needs privileges; check the lowest valid port only where we may.
    SimTcpTransport server;
    if (server.listen(101)) {
        loggedEntries().clear();
        c.setIP("127.0.0.1");
        c.setCommPort(101);
        c.setPortOpen(true);
        EXPECT_TRUE(c.PortOpen());
        EXPECT_FALSE(logged("is not valid"));
    }
}

TEST_F(LinkTest, BufferedBytesAreReadInOrderAndAnEmptyReadWaitsThenGivesZero)
{
    openTcp();
    SerialComm* c = link->serialCommLink();
    ASSERT_NE(c, nullptr);
    int comms = 0;
    QObject::connect(c, &SerialComm::onComm, [&] { ++comms; });
    sim->sendRaw(QByteArray::fromHex("0A0B0C"));
    ASSERT_TRUE(waitFor([&] { return c->InBufferCount() == 3; }));
    EXPECT_GE(comms, 1);
    EXPECT_EQ(c->InputData(), QByteArray::fromHex("0A"));
    EXPECT_EQ(c->InputData(), QByteArray::fromHex("0B"));
    EXPECT_EQ(c->InputData(), QByteArray::fromHex("0C"));
    EXPECT_EQ(c->InBufferCount(), 0);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(c->InputData(), QByteArray(1, '\0'));
    EXPECT_GE(t.elapsed(), 900);
}

TEST_F(LinkTest, TextReadsAreInTheScriptsCodePage)
{
    openTcp();
    SerialComm* c = link->serialCommLink();
    ASSERT_NE(c, nullptr);
    sim->sendRaw(QByteArray::fromHex("809C41"));
    ASSERT_TRUE(waitFor([&] { return c->InBufferCount() == 3; }));
    c->setInputMode(0);
    c->setInputLen(0);
    EXPECT_EQ(c->InputDataVariant().toString(), QString::fromUtf8("\u20ac\u0153A"));
}

TEST_F(LinkTest, RemoteCloseReconnectsAndTheNextCommandSucceeds)
{
    openTcp();
    sim->closeAfterNextFrame = true;
    EXPECT_EQ(cmds->SetVar(2, 5), 0);
    EXPECT_NE(sim->vars[2], 5);
    EXPECT_TRUE(logged("IP Connection Closed"));
    ASSERT_TRUE(waitFor([&] { return gPlugin.PortOpenFlag && gPlugin.CommsStarted; }));
    cmds->SetVar(2, 6);
    EXPECT_EQ(sim->vars[2], 6);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::Command), 2);
}

TEST_F(LinkTest, ServerAwayForAWhileIsRetriedUntilItReturns)
{
    openTcp();
    tcp->stopListening();
    sim->dropConnection();
    ASSERT_TRUE(waitFor([&] { return !gPlugin.PortOpenFlag; }));
    EXPECT_FALSE(gPlugin.CommsStarted);
    // Several retry periods pass without a server; one error entry, no crash.
    QElapsedTimer t;
    t.start();
    waitFor([] { return false; }, 1000);
    // The close and the refused reconnects are one outage: one entry.
    EXPECT_EQ(loggedEntries().filter(QRegularExpression("oWinsock_Error|IP Connection Closed|Unable to connect")).size(), 1)
        << loggedEntries().join("\n").toStdString();
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    cmds->SetVar(3, 9); // sent nowhere: times out quietly
    ASSERT_TRUE(tcp->listen());
    ASSERT_TRUE(waitFor([&] { return gPlugin.PortOpenFlag && gPlugin.CommsStarted; }));
    cmds->SetVar(3, 10);
    EXPECT_EQ(sim->vars[3], 10);
}

TEST_F(LinkTest, LocalCloseDoesNotReconnect)
{
    openTcp();
    link->CloseCommLink(false);
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    waitFor([] { return false; }, 800);
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    EXPECT_FALSE(tcp->isConnected());
    EXPECT_FALSE(logged("IP Connection Closed"));
    // Opening again works.
    link->OpenCommLink();
    EXPECT_TRUE(gPlugin.CommsStarted);
    cmds->SetVar(1, 1);
    EXPECT_EQ(sim->vars[1], 1);
}

TEST_F(LinkTest, NoServerAtStartLeavesTheFlagsClear)
{
    SimTcpTransport probe;
    ASSERT_TRUE(probe.listen());
    quint16 port = probe.port();
    probe.stopListening();
    gPlugin.UseSerialComm = true;
    gPlugin.SerialIPAddress = "127.0.0.1";
    gPlugin.CommPort = QString::number(port);
    link->OpenCommLink(); // waits six retry periods
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    EXPECT_FALSE(gPlugin.CommsStarted);
    // The refusal says why; the connect wait running out is the same outage.
    EXPECT_TRUE(logged(QString(", %1 Connection refused").arg(ECONNREFUSED))) << loggedEntries().join("\n").toStdString();
    EXPECT_FALSE(logged("Unable to connect via TCP"));
    EXPECT_TRUE(logged("Using Comm Port 127.0.0.1 " + QString::number(port)));
    // The server turns up later: the link comes up by itself.
    sim->attach(&probe);
    ASSERT_TRUE(probe.listen(port));
    ASSERT_TRUE(waitFor([&] { return gPlugin.PortOpenFlag && gPlugin.CommsStarted; }));
    cmds->SetVar(4, 44);
    EXPECT_EQ(sim->vars[4], 44);
    link->CloseCommLink(true);
}

TEST_F(LinkTest, SerialPortThatCannotOpenIsLoggedAndLeftClosed)
{
    gPlugin.UseSerialComm = false;
    gPlugin.CommPort = "/dev/does-not-exist-korvane";
    link->OpenCommLink();
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    EXPECT_FALSE(gPlugin.CommsStarted);
    EXPECT_TRUE(logged("Open Comm Port"));
    EXPECT_EQ(protocol->SendFrame(Frames::Command(0x29)), 0);
}

TEST_F(LinkTest, PtyCarriesCommandsAndReports)
{
    open(Path::Pty);
    gPlugin.X10Started = true;
    cmds->SetVar(7, 700);
    EXPECT_EQ(sim->vars[7], 700);
    sim->sendX10(4, 7);
    sim->sendX10(4, 0x13);
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 6; }));
    protocol->ReadReports();
    EXPECT_EQ(host.calls, QStringList{"X10Event E8 E 3 [] []"});
    EXPECT_EQ(link->BytesWaiting(), 0);
}

TEST_F(LinkTest, SerialNoiseAndCorruptFramesAreSurvived)
{
    open(Path::Pty);
    gPlugin.X10Started = true;
    // Garbage from the line, including report-looking and frame-looking bytes.
    QByteArray junk = QByteArray::fromHex("00FF2A0102F1C8FE");
    for (int i = 0; i < 40; ++i)
        junk.append(char((i * 37) & 0xFF));
    sim->sendRaw(junk);
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() >= junk.size() - 2; }));
    // The report loop's passes: a 2A among the junk is held a little, in case a
    // block reply follows it, and then goes like any stray byte.
    waitFor([&] {
        protocol->ReadReports();
        return link->BytesWaiting() == 0;
    }, 5000);
    // A command whose checksum the controller rejects gets no answer.
    QByteArray bad = Frames::Command(0x29, 1, 1);
    bad[7] = char(bad[7] ^ 0xFF);
    protocol->SendFrame(bad);
    EXPECT_FALSE(protocol->WaitReply(1, 3, 0));
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::BadCheck), 1);
    // Whatever is left is drained and the link recovers.
    while (link->BytesWaiting() > 0)
        link->ReadByte();
    cmds->SetVar(8, 88);
    EXPECT_EQ(sim->vars[8], 88);
}

TEST_F(LinkTest, SerialDeviceThatVanishesIsLoggedOnceAndUsedAgainWhenItReturns)
{
    gControllerTiming.linkSettleMs = 0;
    attachSim(Path::Pty);
    const QString device = appDir.filePath("ttyQuillon");
    ASSERT_TRUE(QFile::link(pty->slavePath(), device));
    gPlugin.CommPort = device;
    link->OpenCommLink();
    ASSERT_TRUE(gPlugin.CommsStarted);
    cmds->SetVar(3, 258);
    ASSERT_EQ(sim->vars[3], 258);

    loggedEntries().clear();
    // Unplugged: the line fails and its name goes (a new pseudo-terminal may
    // reuse the old one's number).
    pty->close();
    QFile::remove(device);
    waitFor([] { return false; }, 5000);
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    EXPECT_FALSE(gPlugin.CommsStarted);
    EXPECT_EQ(loggedEntries().filter("Serial port").size(), 1) << loggedEntries().join("; ").toStdString();
    EXPECT_TRUE(loggedEntries().filter("Open Comm Port").isEmpty()) << loggedEntries().join("; ").toStdString();

    // The adapter is back, under the same name.
    auto again = std::make_unique<SimPtyTransport>();
    ASSERT_TRUE(again->open());
    sim->attach(again.get());
    QFile::remove(device);
    ASSERT_TRUE(QFile::link(again->slavePath(), device));
    ASSERT_TRUE(waitFor([] { return gPlugin.CommsStarted && gPlugin.PortOpenFlag; }, 10000));
    cmds->SetVar(3, 7);
    EXPECT_EQ(sim->vars[3], 7);
    EXPECT_EQ(loggedEntries().filter("Serial port").size(), 1) << loggedEntries().join("; ").toStdString();
    pty = std::move(again);
}
