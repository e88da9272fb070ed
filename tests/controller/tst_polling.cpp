#include "PluginTestSupport.h"

#include "controller/link/CommsLog.h"
#include "controller/link/Frames.h"
#include "controller/VariablePoll.h"
#include "core/Globals.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"

#include <QFile>
#include <QTimer>

using PollingTest = PluginFixture;

namespace {
int warnings(const QString& text)
{
    int n = 0;
    for (const QString& e : loggedEntries())
        n += e == "Warning|" + text ? 1 : 0;
    return n;
}
} // namespace

TEST_F(PollingTest, MirrorsEveryModuleTypeWithAndWithoutInvert)
{
    startPlugin();
    selectAndCreate({}, {{1, 0}, {1, 1}, {1, 8}, {1, 9}, {5, 0}, {5, 15}, {10, 0}, {10, 7}}, {5});
    const QString sio = houseOf(1), sioi = houseOf(5), rly = houseOf(10);
    // Inputs: level 0 on the line is an active input; outputs: level 1 is driven.
    sim->setPointLevel(1, 0, 0);   // SIO16 input active
    sim->setPointLevel(1, 1, 1);   // SIO16 input idle
    sim->setPointLevel(1, 8, 1);   // SIO16 relay driven
    sim->setPointLevel(1, 9, 0);   // SIO16 relay released
    sim->setPointLevel(5, 0, 0);   // SIO16I input active, inverted
    sim->setPointLevel(5, 15, 1);  // SIO16I input idle, inverted
    sim->setPointLevel(10, 0, 1);  // relay driven
    sim->setPointLevel(10, 7, 0);  // relay released
    gPlugin.IOPollDue = true;
    form().loop.Timer3_Timer();
    EXPECT_EQ(status(sio + "1"), 2);
    EXPECT_EQ(status(sio + "2"), 3);
    EXPECT_EQ(status(sio + "9"), 2);
    EXPECT_EQ(status(sio + "10"), 3);
    EXPECT_EQ(status(sioi + "1"), 3);   // state 1 inverted
    EXPECT_EQ(status(sioi + "16"), 2);
    EXPECT_EQ(status(rly + "1"), 2);
    EXPECT_EQ(status(rly + "8"), 3);
    EXPECT_TRUE(bscAnnounced.contains(sioi + "16"));
    // A report of the same output agrees with the poll: no flapping, and no
    // event for a state the mirror holds already; a report of a change is told.
    bscAnnounced.clear();
    sim->sendIOChange(1, 8, 1); // arriving data runs the loop by itself
    sim->sendIOChange(1, 9, 1);
    ASSERT_TRUE(waitFor([&] { return bscAnnounced.contains(sio + "10"); }));
    EXPECT_FALSE(bscAnnounced.contains(sio + "9"));
    EXPECT_EQ(status(sio + "9"), 2);
    EXPECT_EQ(status(sio + "10"), 2);
    gPlugin.IOPollDue = true;
    bscAnnounced.clear();
    form().loop.Timer3_Timer();
    EXPECT_FALSE(bscAnnounced.contains(sio + "9"));
}

TEST_F(PollingTest, ReportUpdatesThePointAtOnceAndMappingsWithoutHouseAreSkipped)
{
    startPlugin();
    selectAndCreate({}, {{5, 3}});
    const QString sioi = houseOf(5);
    form().loop.Timer3_Timer();
    ASSERT_EQ(status(sioi + "4"), 3);
    sim->sendIOChange(5, 3, 0);
    ASSERT_TRUE(waitFor([&] { return status(sioi + "4") == 2; }));
    // A mapping without a house code is never mirrored.
    for (umap& m : gPlugin.UnitMaps)
        if (m.unit == 5)
            m.hc.clear();
    sim->setPointLevel(5, 3, 1);
    gPlugin.IOPollDue = true;
    form().loop.Timer3_Timer();
    EXPECT_EQ(status(sioi + "4"), 2);
}

TEST_F(PollingTest, VariablesReachTheHostOnlyWhenTheyChange)
{
    startPlugin();
    selectAndCreate({0, 5, 63, 64}, {});
    form().poll.Timer2_Timer(); // fills the cache from the host
    sim->vars[0] = 0x1234;
    sim->vars[5] = 5;
    sim->vars[63] = 9;
    sim->vars[64] = 1;
    bscAnnounced.clear();
    form().poll.Timer2_Timer();
    EXPECT_EQ(gPlugin.ControllerVars[0], 4660);
    EXPECT_EQ(value("[1"), 4660);
    EXPECT_EQ(value("[64"), 9);      // variable 63: unit 64 of the first house
    EXPECT_EQ(value("\\1"), 1);      // variable 64: unit 1 of the second
    EXPECT_EQ(status("[6"), 2);
    EXPECT_EQ(bscAnnounced.size(), 4);
    sim->vars[5] = 0;
    bscAnnounced.clear();
    form().poll.Timer2_Timer();
    EXPECT_EQ(status("[6"), 3);
    EXPECT_EQ(value("[6"), 0);
    EXPECT_EQ(bscAnnounced, QStringList{"[6"});
    // A change made to the host device alone is not noticed until the controller changes.
    int v = 77;
    QString code = "[6";
    hs->SetDeviceValue(code, v);
    bscAnnounced.clear();
    form().poll.Timer2_Timer();
    EXPECT_TRUE(bscAnnounced.isEmpty());
    EXPECT_EQ(value("[6"), 77);
    EXPECT_TRUE(gPlugin.IOPollDue);
}

TEST_F(PollingTest, AnotherBlocksReplyBeforeTheVariablesWereReadComparesNothing)
{
    // The variables request is answered with another block's reply, from the
    // plug-in's start on, until spoil is cleared.
    bool spoil = true;
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray& f) {
        if (spoil && f.size() == 8 && quint8(f[0]) == 0x2A && quint8(f[3]) == sim->varBlockHigh
            && quint8(f[4]) == sim->varBlockLow)
            sim->wrongEchoCount = 1;
    });
    startPlugin();
    selectAndCreate({5}, {});
    // The host still holds the value the controller has: nothing is to change.
    QString code = "[6";
    int v = 55;
    hs->SetDeviceValue(code, v);
    sim->vars[5] = 55;
    bscAnnounced.clear();
    form().poll.Timer2_Timer();
    EXPECT_EQ(value("[6"), 55) << "compared with values never read";
    EXPECT_TRUE(bscAnnounced.isEmpty());
    spoil = false;
    form().poll.Timer2_Timer();
    EXPECT_EQ(value("[6"), 55);
    EXPECT_TRUE(bscAnnounced.isEmpty());
    // Once read, another block's reply keeps the values last read.
    sim->vars[5] = 56;
    form().poll.Timer2_Timer();
    EXPECT_EQ(value("[6"), 56);
    sim->vars[5] = 57;
    spoil = true;
    bscAnnounced.clear();
    form().poll.Timer2_Timer();
    EXPECT_EQ(value("[6"), 56);
    EXPECT_TRUE(bscAnnounced.isEmpty());
}

// Commands to one variable arriving while every block read is on its way: the poll leaves
// only that variable to its writer, and keeps announcing what the controller changes elsewhere,
// wherever those variables sit in the walk.
TEST_F(PollingTest, AStreamOfWritesToOneVariableHidesNoOtherChange)
{
    startPlugin();
    selectAndCreate({0, 20, 30}, {});
    form().poll.Timer2_Timer();
    struct Row {
        const char* name;
        int written;          // the variable the stream writes
        QList<int> changing;  // variables the controller changes meanwhile
        int perRead = 1;      // writes during each block read; the ring merges the later ones
    };
    const Row rows[] = {{"written first in the walk", 0, {20, 30}},
                        {"written between", 20, {0, 30}},
                        {"written last", 30, {0, 20}},
                        {"written twice a read, merged in the ring", 20, {0, 30}, 2}};
    int level = 100;
    bool writing = false;
    int written = 0;
    int perRead = 1;
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray& f) {
        if (writing && f.size() == 8 && quint8(f[0]) == 0x2A && quint8(f[3]) == sim->varBlockHigh
            && quint8(f[4]) == sim->varBlockLow) {
            for (int n = 0; n < perRead; ++n)
                plugin->SetIO(Variant(), "[", QString::number(written + 1), 19, qint16(++level), 0, 0);
        }
    });
    const auto writeFrames = [&] {
        int n = 0;
        for (const QByteArray& f : sim->framesOf(QuillonSim::FrameKind::Command))
            n += quint8(f[1]) == 0x29 && quint8(f[2]) == written ? 1 : 0;
        return n;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        written = row.written;
        perRead = row.perRead;
        const int framesBefore = writeFrames();
        const QString writtenCode = "[" + QString::number(written + 1);
        QMap<QString, int> events;
        HostHooksInstance().sendXapBSC = [&](const QString& dc) { ++events[dc]; };
        writing = true;
        const int writesBefore = level;
        const int changes = 4;
        for (int change = 1; change <= changes; ++change) {
            for (int v : row.changing)
                sim->vars[v] = quint16(1000 * change + v);
            for (int pass = 0; pass < 3; ++pass) {
                form().poll.Timer2_Timer();
                form().loop.Timer3_Timer(); // the write queued during the read goes out
            }
        }
        writing = false;
        for (int v : row.changing)
            EXPECT_EQ(events.value("[" + QString::number(v + 1)), changes) << "variable " << v;
        // Writes merged in the ring reach the controller as one change.
        EXPECT_EQ(events.value(writtenCode), writeFrames() - framesBefore) << "one event per write sent";
        form().poll.Timer2_Timer();
        form().loop.Timer3_Timer();
        EXPECT_EQ(sim->vars[written], level);
        EXPECT_EQ(events.value(writtenCode), writeFrames() - framesBefore) << "the poll announced a write again";
        EXPECT_EQ(writeFrames() - framesBefore, (level - writesBefore) / row.perRead) << "frames of the writes";
    }
}

TEST_F(PollingTest, WithoutVariableHouseTheIOPollIsStillMarkedDue)
{
    startPlugin();
    ASSERT_EQ(gPlugin.VarsHouseCode, 0);
    gPlugin.IOPollDue = false;
    form().poll.Timer2_Timer();
    EXPECT_TRUE(gPlugin.IOPollDue);
    EXPECT_FALSE(gPlugin.VarCacheFilled);
}

TEST_F(PollingTest, AQueuedCommandStopsTheWalk)
{
    startPlugin();
    selectAndCreate({0, 1}, {});
    form().poll.Timer2_Timer();
    sim->vars[0] = 11;
    sim->vars[1] = 12;
    gPlugin.IOPollDue = false;
    gPlugin.TransferBusy = false;
    // The command arrives while the block read waits: the loop is kept out and only queues.
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray& f) {
        if (quint8(f[0]) == 0x2A && gPlugin.Ring.isEmpty())
            gPlugin.Ring.push(RingEntry{"", "9", 19, 5, 0, 0});
    });
    form().poll.Timer2_Timer();
    EXPECT_EQ(value("[1"), 11);
    EXPECT_EQ(value("[2"), 0);
    EXPECT_FALSE(gPlugin.IOPollDue);
    form().loop.Timer3_Timer();
    EXPECT_EQ(sim->vars[9], 5);
}

TEST_F(PollingTest, TimeoutsAndCheckErrorsWarnOnEverySecond)
{
    startPlugin();
    gPlugin.LogErrors = 1;
    sim->silent = true;
    EXPECT_FALSE(form().poll.PollIO());
    EXPECT_EQ(warnings("Quillon Plug-in, Timeout getting realtime I/O"), 0);
    // The second time-out warns; the silence goes on as the same outage.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(form().poll.PollIO());
    EXPECT_EQ(warnings("Quillon Plug-in, Timeout getting realtime I/O"), 1);
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 1);
    sim->silent = false;
    sim->corruptCrcCount = 3;
    EXPECT_FALSE(form().poll.PollVars());
    EXPECT_FALSE(form().poll.PollVars());
    EXPECT_EQ(warnings("Quillon Plug-in, Checksum error reading vars"), 1);
    EXPECT_FALSE(form().poll.PollIO());
    EXPECT_TRUE(form().poll.PollIO());
    EXPECT_EQ(gPlugin.CheckErrorCount, 0);
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 0);
    gPlugin.LogErrors = 0;
    sim->silent = true;
    form().poll.PollIO();
    form().poll.PollIO();
    EXPECT_EQ(warnings("Quillon Plug-in, Timeout getting realtime I/O"), 1);
}

TEST_F(PollingTest, AnotherBlocksReplyIsNeverReadAsTheIOBlock)
{
    startPlugin();
    ASSERT_TRUE(form().poll.PollIO());
    const auto before = gPlugin.IOPointStates;
    sim->setPointLevel(1, 0, 0);
    // Answered with another block's reply: the poll asks again and reads its own.
    sim->wrongEchoCount = 1;
    EXPECT_TRUE(form().poll.PollIO());
    EXPECT_NE(gPlugin.IOPointStates, before);
    // Never answered with its own: the states stay as they were.
    const auto after = gPlugin.IOPointStates;
    sim->setPointLevel(1, 0, 1);
    sim->wrongEchoCount = 8;
    EXPECT_FALSE(form().poll.PollIO());
    EXPECT_EQ(gPlugin.IOPointStates, after);
}

TEST_F(PollingTest, AnalogReadingIsTheFirstByteOfTheUnitsSlot)
{
    startPlugin();
    // The block holds 16-bit words, low byte first; a reading is the word's first byte.
    sim->analogValues[0] = 0x0302;
    sim->analogValues[4] = 0x00C8;
    sim->clearRecord();
    EXPECT_EQ(plugin->GetPoint(1, 3, false), 0x02);
    ASSERT_FALSE(commands(0x1F).isEmpty());
    EXPECT_EQ(quint8(commands(0x1F)[0][2]), 0x0D);
    EXPECT_EQ(plugin->GetAnalogInputValue(5, 0), 200);
    EXPECT_EQ(plugin->GetAnalogInputValue(0, 1), 0);
    EXPECT_TRUE(logged("GetAnalogInputValue unit 0 out of range"));
    sim->setPointLevel(1, 2, 0);
    form().poll.PollIO();
    EXPECT_EQ(plugin->GetPoint(1, 2, true), 1);
}

TEST_F(PollingTest, PageHandshakeAndDailyClockSync)
{
    startPlugin();
    int hour = 1;
    form().poll.currentHour = [&] { return hour; };
    form().poll.ClockSynced = 0;
    gPlugin.PageRefreshFlag = 1;
    form().poll.Timer2_Timer();
    EXPECT_EQ(gPlugin.PageRefreshFlag, -1);
    EXPECT_EQ(form().poll.ClockSynced, 1);
    EXPECT_TRUE(form().start.clockSyncTimer().isActive());
    form().start.clockSyncTimer().stop();
    form().poll.Timer2_Timer();
    EXPECT_FALSE(form().start.clockSyncTimer().isActive());
    hour = 2;
    form().poll.Timer2_Timer();
    EXPECT_EQ(form().poll.ClockSynced, 0);
    hour = 1;
    form().poll.Timer2_Timer();
    EXPECT_TRUE(form().start.clockSyncTimer().isActive());
    // A busy pass leaves the handshake alone.
    gPlugin.PageRefreshFlag = 1;
    gPlugin.TransferBusy = true;
    form().poll.Timer2_Timer();
    gPlugin.TransferBusy = false;
    EXPECT_EQ(gPlugin.PageRefreshFlag, 1);
}

TEST_F(PollingTest, PollIntervalZeroMeansNoPolling)
{
    writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\npoll_interval=0\r\n");
    startPlugin(false);
    EXPECT_EQ(form().Timer2.interval(), 0);
    EXPECT_FALSE(form().Timer2.isRunning());
    EXPECT_EQ(form().Timer3.interval(), 200);
    // No variable block read follows, however long the timers run.
    waitFor([] { return false; }, 300);
    sim->clearRecord();
    waitFor([] { return false; }, 1500);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::BlockRead), 0);
    // A new interval is taken up by the next pass.
    gPlugin.PollInterval = "750";
    form().poll.Timer2_Timer();
    EXPECT_EQ(form().Timer2.interval(), 750);
    EXPECT_TRUE(form().Timer2.isRunning());
}

TEST_F(PollingTest, OutputsStoredUnderTheOldValueConventionAreBroughtToTheCurrentOneByThePoll)
{
    startPlugin();
    selectAndCreate({}, {{1, 8}, {1, 9}, {10, 0}, {10, 1}, {5, 0}});
    const QString sio = houseOf(1), rly = houseOf(10), sioi = houseOf(5);
    sim->setPointLevel(1, 8, 1);  // driven: on
    sim->setPointLevel(1, 9, 0);  // released: off
    sim->setPointLevel(10, 0, 1);
    sim->setPointLevel(10, 1, 0);
    gPlugin.IOPollDue = true;
    form().loop.Timer3_Timer();
    struct Row
    {
        QString code;
        int status;
        int storedValue; // the value an older store kept with the right status
        int value;
    };
    const Row rows[] = {{sio + "9", 2, 0, 1}, {sio + "10", 3, 1, 0}, {rly + "1", 2, 0, 1}, {rly + "2", 3, 1, 0}};
    for (const Row& r : rows) {
        QString code = r.code;
        int v = r.storedValue;
        qint16 report = 0;
        hs->SetDeviceValueNoReport(code, v, report);
        ASSERT_EQ(status(r.code), r.status) << r.code.toStdString();
    }
    const int inputValue = value(sioi + "1");
    bscAnnounced.clear();
    gPlugin.IOPollDue = true;
    form().loop.Timer3_Timer();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code.toStdString());
        EXPECT_EQ(status(r.code), r.status);
        EXPECT_EQ(value(r.code), r.value);
        EXPECT_TRUE(bscAnnounced.contains(r.code));
    }
    EXPECT_EQ(value(sioi + "1"), inputValue);
    EXPECT_FALSE(bscAnnounced.contains(sioi + "1")) << "a point that agreed was announced again";
    // Once they agree, the poll leaves them alone.
    bscAnnounced.clear();
    gPlugin.IOPollDue = true;
    form().loop.Timer3_Timer();
    EXPECT_TRUE(bscAnnounced.isEmpty()) << bscAnnounced.join(" ").toStdString();
}

// A script's command run inside the I/O poll's wait lets the poll's block come
// whole and then reads the report behind it: the block, older, must not put
// the point back.
TEST_F(PollingTest, APointReportedBehindThePollsBlockKeepsItsNewerState)
{
    startPlugin();
    sim->setPointLevel(1, 0, 0);
    QuillonSim::ReplyFault f;
    f.delayMs = 300;
    f.after = QByteArray::fromHex("F0010001");
    sim->replyFaults = {f};
    QTimer::singleShot(100, &form(), [this] { form().cmds.SetVar(3, 9); });
    EXPECT_TRUE(form().poll.PollIO());
    EXPECT_TRUE(sim->replyFaults.isEmpty()) << "the fault was never played";
    EXPECT_EQ(sim->vars[3], 9);
    EXPECT_EQ(gPlugin.IOPointStates[0] & 1, 1) << "the report behind the block was undone by it";
}
