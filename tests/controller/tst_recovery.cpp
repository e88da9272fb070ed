// A controller that comes up late, answers late or floods the line, against the simulator.
#include "PluginTestSupport.h"

#include "controller/link/Frames.h"
#include "controller/link/SerialComm.h"
#include "host/Application.h"
#include "host/HostGlobals.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstdio>

namespace {
QByteArray hex(const char* s) { return QByteArray::fromHex(s); }
} // namespace

class RecoveryTest : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        gControllerTiming.discoveryReplySeconds = 1;
        gControllerTiming.startReplyTimeout = 1;
        sim->varBlockHigh = 0x4A;
        sim->varBlockLow = 0x10;
    }

    // The plug-in with its I/O side started, the timers stopped afterwards.
    void startIO()
    {
        plugin = std::make_shared<tspi>();
        plugin->RegisterCallback(gHostForm);
        plugin->InitIO(tcp->port());
        form().Timer2.setEnabled(false);
        form().Timer3.setEnabled(false);
    }

    // Block reads the simulator received, as "HHLL" addresses.
    QStringList blockReads() const
    {
        QStringList out;
        for (const QByteArray& f : sim->framesOf(QuillonSim::FrameKind::BlockRead))
            out << f.mid(3, 2).toHex().toUpper();
        return out;
    }
    bool discoveryRan() const
    {
        const QStringList reads = blockReads();
        return reads.contains("8FB7") && reads.contains("007F") && reads.contains("01B0")
            && !commands(0x28).isEmpty();
    }
};

TEST_F(RecoveryTest, LateServerGetsDiscoveryAgainAndNoVariablePollBeforeIt)
{
    attachSim(Path::Tcp);
    const quint16 port = tcp->port();
    tcp->stopListening();
    startIO();
    ASSERT_FALSE(gPlugin.CommsStarted);
    EXPECT_FALSE(gPlugin.VarBlockKnown);
    // The serial-server port stays the configured one, not the comport default.
    EXPECT_EQ(gPlugin.CommPort, QString::number(port));
    selectAndCreate({0, 5}, {});
    int seeded = 9;
    QString v0 = "[1", v5 = "[6";
    hs->SetDeviceValue(v0, seeded);
    hs->SetDeviceValue(v5, seeded);
    bscAnnounced.clear();
    form().poll.Timer2_Timer(); // nothing to read from: nothing changes
    EXPECT_EQ(value("[1"), 9);

    sim->vars[0] = 4660;
    sim->vars[5] = 9;
    ASSERT_TRUE(tcp->listen(port));
    ASSERT_TRUE(waitFor([&] { return gPlugin.CommsStarted; }, 5000));
    ASSERT_TRUE(waitFor([&] { return discoveryRan() && gPlugin.DiscoveryComplete; }, 20000)) << blockReads().join(" ").toStdString();
    EXPECT_TRUE(gPlugin.VarBlockKnown);
    EXPECT_EQ(sim->ioSide, 2); // the started side was switched on again
    EXPECT_TRUE(logged("Looking for CPU-QX/Quillon again"));

    form().poll.Timer2_Timer();
    EXPECT_EQ(value("[1"), 4660);
    EXPECT_EQ(value("[6"), 9);
    EXPECT_EQ(bscAnnounced, QStringList{"[1"});
    // Only the blocks the protocol names, and the variables where the controller said they are.
    for (const QString& b : blockReads())
        EXPECT_TRUE(QStringList({"8FB7", "007F", "01B0", "8DB5", "4A10"}).contains(b)) << b.toStdString().c_str();
}

TEST_F(RecoveryTest, SilentControllerIsLookedForAgainUntilItAnswers)
{
    gControllerTiming.rediscoveryProbeMs = 500;
    attachSim(Path::Tcp);
    sim->silent = true;
    startIO();
    ASSERT_TRUE(gPlugin.CommsStarted);
    EXPECT_FALSE(gPlugin.DiscoveryComplete);
    selectAndCreate({0}, {});
    int seeded = 9;
    QString v0 = "[1";
    hs->SetDeviceValue(v0, seeded);
    bscAnnounced.clear();
    sim->clearRecord();
    waitFor([] { return false; }, 600); // the start's own pass has looked already
    form().poll.Timer2_Timer();
    // A look for the controller, never a variable block read at an unknown address.
    EXPECT_EQ(blockReads(), QStringList{"8FB7"});
    EXPECT_EQ(value("[1"), 9);
    EXPECT_TRUE(bscAnnounced.isEmpty());
    form().poll.Timer2_Timer(); // too soon for another look
    EXPECT_EQ(blockReads(), QStringList{"8FB7"});

    sim->silent = false;
    sim->vars[0] = 321;
    waitFor([] { return false; }, 600);
    form().poll.Timer2_Timer();
    EXPECT_TRUE(discoveryRan());
    EXPECT_TRUE(gPlugin.DiscoveryComplete);
    EXPECT_EQ(value("[1"), 321);
    EXPECT_EQ(blockReads().last(), "4A10");
}

TEST_F(RecoveryTest, BlockReplyAfterItsWaitIsOneUnitNeverReports)
{
    startPlugin();
    SetControllerHost(&host);
    selectAndCreate({}, {{3, 0}, {5, 1}});
    gPlugin.X10XmitFlag = 1;
    form().loop.Timer3_Timer();
    const auto statesBefore = gPlugin.IOPointStates;
    // I/O data that reads as an input report and X10 reports when taken a few bytes at a time.
    QByteArray block(256, '\0');
    block.replace(0, 7, hex("F0030001FE0001"));
    block.replace(20, 6, hex("FE0004FE0012"));
    sim->ioBlock = block;
    sim->lateAnswerMs = 2500; // both tries (1 s each) give up before either reply comes
    bscAnnounced.clear();
    host.calls.clear();
    EXPECT_FALSE(form().poll.PollIO());
    sim->lateAnswerMs = 0;
    waitFor([] { return false; }, 2500); // the late replies arrive and the report loop runs on them
    form().loop.Timer3_Timer();
    EXPECT_EQ(form().link.BytesWaiting(), 0);
    EXPECT_TRUE(bscAnnounced.isEmpty()) << bscAnnounced.join(",").toStdString();
    EXPECT_TRUE(host.calls.isEmpty()) << host.calls.join(",").toStdString();
    EXPECT_EQ(gPlugin.IOPointStates, statesBefore);
    EXPECT_TRUE(gPlugin.PendingX10Units.isEmpty());

    // One arriving while a command waits for its acknowledgement is passed over
    // and the acknowledgement behind it is still taken.
    sim->lateAnswerMs = 2500;
    EXPECT_FALSE(form().poll.PollIO()); // replies due 0.5 s and 1.5 s from now
    sim->lateAnswerMs = 0;
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray& f) {
        if (quint8(f[0]) == 0xC8)
            QTimer::singleShot(1000, sim.get(), [&] { sim->sendRaw(hex("060000")); });
    });
    sim->dropAnswers = 1; // the acknowledgement comes after the first late reply
    gPlugin.ReplyTimeout = 2;
    QElapsedTimer t;
    t.start();
    plugin->SetVar(3, 77);
    EXPECT_LT(t.elapsed(), 1900) << "the wait did not take the acknowledgement";
    EXPECT_EQ(gPlugin.ReplyBuffer[0], 0x06);
    waitFor([] { return false; }, 1500);
    form().loop.Timer3_Timer();
    EXPECT_EQ(form().link.BytesWaiting(), 0);
    EXPECT_TRUE(host.calls.isEmpty()) << host.calls.join(",").toStdString();
    EXPECT_TRUE(bscAnnounced.isEmpty());
}

TEST_F(RecoveryTest, ReportBetweenARequestAndAMissingReplyIsHandedOnAtOnce)
{
    startPlugin();
    SetControllerHost(&host);
    gPlugin.ReplyTimeout = 3;
    gPlugin.UnitMaps = {umap{5, 12, "#", 0}};
    gPlugin.X10Started = true;
    int requests = 0;
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray& f) {
        if (quint8(f[0]) == 0x2A && ++requests == 1) {
            sim->sendIOChange(5, 2, 0);
            sim->sendReport(hex("FE0204FE0212"));
        }
    });
    sim->dropAnswers = 1; // the first request is never answered
    host.calls.clear();
    QElapsedTimer t;
    t.start();
    qint64 handedOn = -1;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (handedOn < 0 && host.calls.size() >= 3)
            handedOn = t.elapsed();
    });
    probe.start(10);
    // The reports must reach the host while the first try still waits (3 s).
    EXPECT_TRUE(form().poll.PollIO()); // the second try is answered
    ASSERT_GE(handedOn, 0) << host.calls.join(",").toStdString();
    EXPECT_LT(handedOn, 2000);
    EXPECT_EQ(host.calls, (QStringList{"SetDeviceStatus #3 2", "ValueChangeEvent #3 1", "X10Event C5 C 2 [] []"}));
}

TEST_F(RecoveryTest, PollStartedByAnArrivingReportGetsItsReply)
{
    startPlugin();
    SetControllerHost(&host);
    selectAndCreate({}, {{5, 2}, {5, 3}});
    gPlugin.ReplyTimeout = 2;
    form().loop.Timer3_Timer();
    sim->clearRecord();
    host.calls.clear();
    // The report's arrival runs the loop, which finds the I/O poll due.
    sim->setPointLevel(5, 3, 0);
    gPlugin.IOPollDue = true;
    sim->sendIOChange(5, 2, 0);
    ASSERT_TRUE(waitFor([&] { return sim->count(QuillonSim::FrameKind::BlockRead) >= 1 && !gPlugin.TimerRunning; }, 8000));
    EXPECT_EQ(blockReads(), QStringList{"8DB5"}) << "the poll missed its reply and asked again";
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 0);
    const QString house = houseOf(5);
    EXPECT_EQ(status(house + "3"), 2); // the report
    EXPECT_EQ(status(house + "4"), 2); // the poll
}

TEST_F(RecoveryTest, FloodIsReadInBoundedPassesAndTheLinkWorksAfterIt)
{
    startPlugin(false);
    gPlugin.X10XmitFlag = 1;
    SerialComm* c = form().link.serialCommLink();
    ASSERT_NE(c, nullptr);
    int maxBuffered = 0;
    int ticks = 0, longestGapMs = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        maxBuffered = qMax(maxBuffered, c->InBufferCount());
        longestGapMs = qMax(longestGapMs, int(gap.restart()));
        ++ticks;
    });
    watch.start(20);
    sim->startFlood();
    waitFor([] { return false; }, 4000);
    sim->stopFlood();
    watch.stop();
    EXPECT_GT(sim->flooded(), 4 * 64 * 1024);
    EXPECT_LE(maxBuffered, SerialComm::kMaxBuffered);
    EXPECT_GT(ticks, 40);
    EXPECT_LT(longestGapMs, 1500) << "the event loop was held";
    EXPECT_LE(gPlugin.PendingX10Units.count('+'), Protocol::kMaxPendingX10Units);
    // Once the flood is over and its bytes are read, the controller answers again.
    QElapsedTimer quiet, drain;
    quiet.start();
    drain.start();
    ASSERT_TRUE(waitFor([&] {
        if (c->InBufferCount() != 0)
            quiet.restart();
        return quiet.elapsed() > 500;
    }, 60000));
    std::printf("flooded %lld bytes, drained %lld ms after\n", sim->flooded(), qlonglong(drain.elapsed()));
    form().Timer2.setEnabled(false);
    form().Timer3.setEnabled(false);
    ASSERT_TRUE(waitFor([&] { return !gPlugin.TransferBusy && !gPlugin.TimerRunning && !gPlugin.X10Sending; }, 20000));
    gPlugin.ReplyTimeout = 2;
    plugin->SetVar(6, 606);
    EXPECT_EQ(sim->vars[6], 606);
}

TEST_F(RecoveryTest, ReconnectStartsWithAnEmptyBufferAndErrorsCarryTheSystemNumber)
{
    EXPECT_EQ(SerialComm::SystemErrorNumber(QAbstractSocket::ConnectionRefusedError), ECONNREFUSED);
    EXPECT_EQ(SerialComm::SystemErrorNumber(QAbstractSocket::SocketTimeoutError), ETIMEDOUT);
    openTcp();
    const quint16 port = tcp->port();
    // Half a report left over from the old connection.
    sim->sendRaw(hex("F005"));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 2; }));
    tcp->stopListening();
    sim->dropConnection();
    ASSERT_TRUE(waitFor([&] { return !gPlugin.PortOpenFlag; }));
    // The close is the outage's one entry; the refused reconnects add none.
    waitFor([] { return false; }, 1000);
    EXPECT_TRUE(logged("IP Connection Closed"));
    EXPECT_FALSE(logged("oWinsock_Error")) << loggedEntries().join("\n").toStdString();
    ASSERT_TRUE(tcp->listen(port));
    ASSERT_TRUE(waitFor([&] { return gPlugin.PortOpenFlag; }));
    EXPECT_EQ(link->BytesWaiting(), 0);
    cmds->SetVar(2, 22);
    EXPECT_EQ(sim->vars[2], 22);
    EXPECT_EQ(gPlugin.ReplyBuffer[0], 0x06);
}

TEST_F(RecoveryTest, TrafficLogNamesTheLinkThatBroughtTheData)
{
    writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\nlog_comms=1\r\n");
    const QString path = appDir.filePath("Data/quillon.log");
    auto has = [&](const char* text) {
        QFile log(path);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(QByteArray(" ") + text);
    };
    startPlugin(false);
    ASSERT_EQ(gPlugin.LogComms, 1);
    QFile::remove(path);
    sim->sendFF();
    ASSERT_TRUE(waitFor([&] { return has("TCPCOMM"); }));
    EXPECT_FALSE(has("MSCOMM"));
}

TEST_F(RecoveryTest, SerialPortDataIsLoggedAsSuch)
{
    writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\nlog_comms=1\r\n");
    attachSim(Path::Pty);
    plugin = std::make_shared<tspi>();
    plugin->RegisterCallback(gHostForm);
    plugin->InitX10(0); // the device path stays the comm port
    ASSERT_TRUE(gPlugin.CommsStarted);
    const QString path = appDir.filePath("Data/quillon.log");
    QFile::remove(path);
    sim->sendFF();
    ASSERT_TRUE(waitFor([&] {
        QFile log(path);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(" MSCOMM");
    }));
    QFile log(path);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_FALSE(log.readAll().contains("TCPCOMM"));
}
