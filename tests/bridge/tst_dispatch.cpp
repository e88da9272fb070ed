// The receive dispatcher: the target gate and every class of the catalogue.
#include "BridgeTestSupport.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <functional>

#include "bridge/BridgeHooks.h"
#include "bridge/CommAndTimer.h"
#include "bridge/IrPlayQueue.h"
#include "bridge/X10RequestQueue.h"
#include "bridge/ReceiveDispatcher.h"
#include "bridge/ReceivedNumber.h"
#include "bridge/XapReports.h"

#include "host/HostGlobals.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"

#include "automation/VbError.h"

namespace {

using Blocks = QList<QPair<QString, QStringList>>;

class DispatchTest : public BridgeTest
{
protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        tables.varsHouseCode = 'Q';
        for (int i : {2, 3, 4})
            tables.varUsed[size_t(i)] = 1; // Q3, Q4, Q5
        tables.x10Used[0] = 1;             // A1
        tables.x10Used[2] = 1;             // A3
        addDevice("Q", "3", "Hall", "Temp");
        addDevice("Q", "4", "Hall", "Humidity");
        addDevice("Q", "5", "Hall", "Mode");
        addDevice("A", "1", "Garden", "Lamp");
        addDevice("A", "3", "Garden", "Fountain");
    }

    // The calls once every queued one has gone to the plug-in.
    QStringList played()
    {
        drainPlugin();
        return calls();
    }

    QStringList calls(const QString &member = QString()) const
    {
        QStringList out;
        for (const PluginCall &c : plugin->calls) {
            if (member.isEmpty() || c.member == member)
                out.append(c.member + QLatin1Char('(') + c.args.join(QLatin1Char(',')) + QLatin1Char(')'));
        }
        return out;
    }

    void command(const QString &target, const Blocks &blocks)
    {
        receive(message(QStringLiteral("xAPBSC.cmd"), target, blocks));
    }

    QString me() const { return ownSource(); }
};

TEST_F(DispatchTest, EveryMessageReachesTheFilterButOnlyOwnTargetsAct)
{
    QStringList filtered;
    BridgeHooksInstance().checkReceivedMessage = [&](const std::shared_ptr<XapMessage> &m) {
        filtered.append(m->MsgClass());
    };
    command(QStringLiteral("other.program.pc:>"), {{"output.state", {"ID=03", "State=on"}}});
    receive(message("WDT.Echo", "other.program.pc", {{"Echo.Query", {"Query=x"}}}));
    receive("garbage that is no xAP at all");
    EXPECT_EQ(filtered, QStringList({"xAPBSC.cmd", "WDT.Echo", "Unknown"}));
    EXPECT_TRUE(plugin->calls.empty());
    settle(200);
    EXPECT_TRUE(sentOf("WDT.Echo").isEmpty());
}

TEST_F(DispatchTest, CommandBlocksAreHandedOnInOrder)
{
    command(me() + ":>", {{"output.state", {"ID=03", "State=on"}}});
    EXPECT_TRUE(calls().isEmpty()) << "the receive path never waits for the controller";
    EXPECT_EQ(played(), QStringList{"SetIO(Nothing,Q,3,19,1,0,0)"});

    plugin->calls.clear();
    command(me() + ":>", {{"output.state.1", {"ID=03", "State=on", "Level=50/32767"}},
                          {"output.state.2", {"ID=04", "State=off"}},
                          {"output.state.4", {"ID=05", "State=on"}}});
    drainWrites();
    EXPECT_EQ(calls(), QStringList({"SetIO(Nothing,Q,3,19,50,0,0)", "SetIO(Nothing,Q,4,19,0,0,0)"}));

    plugin->calls.clear();
    // A plain block with an ID starts the walk at 0, then .1 follows.
    command(me() + ":>", {{"output.state", {"ID=05", "State=on", "Text=12"}},
                          {"output.state.1", {"ID=04", "State=off", "Level=16384/32767"}},
                          {"output.state.2", {"State=on"}},
                          {"output.state.3", {"ID=03", "State=on"}}});
    drainWrites();
    EXPECT_EQ(calls(), QStringList({"SetIO(Nothing,Q,5,19,12,0,0)", "SetIO(Nothing,Q,4,19,16384,0,0)"}));
}

TEST_F(DispatchTest, EveryBlockIsCarriedOutUpToOnePerEndpoint)
{
    // Five endpoints: three variables and two X10 units (which no command writes).
    Blocks blocks;
    for (int n = 1; n <= 1000; ++n)
        blocks.append({QStringLiteral("output.state.%1").arg(n), {"ID=*", "State=on", QStringLiteral("Level=%1").arg(n)}});
    command(me() + ":>", blocks);
    // Five blocks are read; each later one sets again what the first set, and a
    // point whose write still waits takes the latest level.
    EXPECT_EQ(played(), QStringList({"SetIO(Nothing,Q,3,19,5,0,0)", "SetIO(Nothing,Q,4,19,5,0,0)",
                                     "SetIO(Nothing,Q,5,19,5,0,0)"}));

    plugin->calls.clear();
    blocks.clear();
    for (int n = 1; n <= 1000; ++n)
        blocks.append({QStringLiteral("output.state.%1").arg(n), {"ID=03", "State=on", QStringLiteral("Level=%1").arg(n)}});
    command(me() + ":>", blocks);
    EXPECT_EQ(played(), QStringList({"SetIO(Nothing,Q,3,19,5,0,0)"}));
    // Two refused messages, one entry: the refusals of a kind collapse.
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    settle(100);
    ASSERT_EQ(logData().size(), 1) << logData().join('|').toStdString();
    EXPECT_TRUE(logData().first().startsWith("BSCCmd: more blocks than the 5 endpoints")) << logData().first().toStdString();
}

// While the program starts there are no devices yet: a command of one block is not
// "more blocks than" anything.
class DispatchWithoutDevices : public DispatchTest
{
protected:
    void SetUp() override { BridgeTest::SetUp(); }
};

TEST_F(DispatchWithoutDevices, ACommandSaysThereAreNoEndpointsYet)
{
    command(me() + ":>", {{"output.state", {"ID=*", "State=on", "Level=7"}}});
    EXPECT_TRUE(played().isEmpty());
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    ASSERT_FALSE(logData().isEmpty());
    EXPECT_EQ(logData().first(), QStringLiteral("BSCCmd: no endpoints yet, the command ignored"));
}

// A block after one that named every endpoint still counts: whichever block
// writes a point last decides its value, whatever the blocks before it did.
TEST_F(DispatchTest, BlocksAfterAWildcardBlockStillApply)
{
    const struct
    {
        Blocks blocks;
        QStringList writes;
    } cases[] = {
        {{{"output.state.1", {"ID=*", "Level=0"}}, {"output.state.2", {"ID=03", "State=on"}}},
         {"SetIO(Nothing,Q,3,19,1,0,0)", "SetIO(Nothing,Q,4,19,0,0,0)", "SetIO(Nothing,Q,5,19,0,0,0)"}},
        {{{"output.state.1", {"ID=*", "State=off"}}, {"output.state.2", {"ID=05", "Level=55"}}},
         {"SetIO(Nothing,Q,3,19,0,0,0)", "SetIO(Nothing,Q,4,19,0,0,0)", "SetIO(Nothing,Q,5,19,55,0,0)"}},
        {{{"output.state", {"ID=04", "Level=9"}}, {"output.state.1", {"ID=*", "Level=2"}}, {"output.state.2", {"ID=*", "Level=3"}}},
         {"SetIO(Nothing,Q,4,19,3,0,0)", "SetIO(Nothing,Q,3,19,3,0,0)", "SetIO(Nothing,Q,5,19,3,0,0)"}},
        {{{"output.state.1", {"ID=*", "Level=1"}}, {"output.state.2", {"ID=03", "Level=7"}}, {"output.state.3", {"ID=*", "Level=2"}}},
         {"SetIO(Nothing,Q,3,19,2,0,0)", "SetIO(Nothing,Q,4,19,2,0,0)", "SetIO(Nothing,Q,5,19,2,0,0)"}},
        {{{"output.state.1", {"ID=*", "Level=1"}}, {"output.state.2", {"ID=*", "Level=2"}}, {"output.state.3", {"ID=04", "Level=7"}}},
         {"SetIO(Nothing,Q,3,19,2,0,0)", "SetIO(Nothing,Q,4,19,7,0,0)", "SetIO(Nothing,Q,5,19,2,0,0)"}},
        // A block whose level does not fit is logged and skipped; the others still count.
        {{{"output.state.1", {"ID=03", "Level=5"}}, {"output.state.2", {"ID=*", "Level=1e10"}}, {"output.state.3", {"ID=05", "Level=6"}}},
         {"SetIO(Nothing,Q,3,19,5,0,0)", "SetIO(Nothing,Q,5,19,6,0,0)"}},
    };
    for (const auto &c : cases) {
        plugin->calls.clear();
        command(me() + ":>", c.blocks);
        EXPECT_EQ(played(), c.writes) << c.blocks.last().second.join(';').toStdString();
    }
}

// A block that comes back to an earlier value after another block changed the
// point is carried out in its place: the point ends as the last block left it.
TEST_F(DispatchTest, RepeatedBlocksAreCarriedOutInOrder)
{
    const struct
    {
        const char *what;
        const char *target; // after the program's own address
        Blocks blocks;
        const char *write;
    } cases[] = {
        {"Level A-B-A", ":>",
         {{"output.state.1", {"ID=03", "Level=10"}}, {"output.state.2", {"ID=03", "Level=20"}},
          {"output.state.3", {"ID=03", "Level=10"}}},
         "SetIO(Nothing,Q,3,19,10,0,0)"},
        {"State A-B-A", ":>",
         {{"output.state.1", {"ID=03", "State=on"}}, {"output.state.2", {"ID=03", "State=off"}},
          {"output.state.3", {"ID=03", "State=on"}}},
         "SetIO(Nothing,Q,3,19,1,0,0)"},
        // The wildcard names the hall temperature alone, which is 03.
        {"* then ID then *", ":hall_temp.>",
         {{"output.state.1", {"ID=*", "Level=7"}}, {"output.state.2", {"ID=03", "Level=5"}},
          {"output.state.3", {"ID=*", "Level=7"}}},
         "SetIO(Nothing,Q,3,19,7,0,0)"},
    };
    for (const auto &c : cases) {
        plugin->calls.clear();
        command(me() + QLatin1String(c.target), c.blocks);
        drainWrites();
        EXPECT_EQ(calls(), QStringList{QString::fromLatin1(c.write)}) << c.what;
    }
}

TEST_F(DispatchTest, BlocksRepeatingAnEarlierOneAreNotCounted)
{
    // Five endpoints allow five blocks; repeats of a block are not among them.
    Blocks blocks;
    for (int n = 1; n <= 20; ++n) {
        blocks.append({QStringLiteral("output.state.%1").arg(n),
                       {"ID=03", n % 2 ? "State=on" : "State=ON", n % 2 ? "Level=7" : "Level=7/32767"}});
    }
    blocks.append({"output.state.21", {"ID=03", "State=off", "Level=7"}}); // another state: a block of its own
    blocks.append({"output.state.22", {"ID=04", "State=on", "Level=7"}});
    command(me() + ":>", blocks);
    // The two blocks of point 03 differ, so both count; the write of the first still waited and took the second's value.
    EXPECT_EQ(played(), QStringList({"SetIO(Nothing,Q,3,19,7,0,0)", "SetIO(Nothing,Q,4,19,7,0,0)"}));
    settle(100);
    EXPECT_TRUE(logData().isEmpty()) << logData().join('|').toStdString();
}

TEST_F(DispatchTest, QueuedWritesWaitWhileThePlugInIsBusy)
{
    command(me() + ":>", {{"output.state.1", {"ID=03", "Level=1"}}, {"output.state.2", {"ID=04", "Level=2"}}});
    tables.queuedCommands = 3;
    settle(200);
    EXPECT_TRUE(calls().isEmpty());
    tables.queuedCommands = 0;
    drainWrites();
    EXPECT_EQ(calls(), QStringList({"SetIO(Nothing,Q,3,19,1,0,0)", "SetIO(Nothing,Q,4,19,2,0,0)"}));
}

// Every queue a timer drains hands its consumer one entry per turn of the
// event loop: behind a consumer that takes 25 ms an entry, a backlog of 40
// never keeps a timer, an echo or a page waiting for more than a few
// entries. (The BSC replies' consumer is a send, which cannot be slow; the
// row holds it to one reply a turn.) A queue drained by a timer joins here.
TEST_F(DispatchTest, EveryQueueLetsTheEventLoopTurnBehindASlowConsumer)
{
    tables.learnedIR.insert("tv-power", "30");
    plugin->duringCall = [](const QString &) { QThread::msleep(25); };
    CommAndTimer &queues = CommAndTimer::instance();
    const struct
    {
        const char *queue;
        std::function<void()> fill;
        std::function<int()> waiting;
        int least; // entries waiting after the fill
    } rows[] = {
        {"BSC replies", [&] { receive(message("xAPBSC.query", ">:>", {{"request", {}}})); },
         [&] { return queues.queuedCount(); }, 2},
        {"point writes",
         [&] {
             for (int v = 10; v < 50; ++v) {
                 tables.varUsed[size_t(v)] = 1;
                 addDevice("Q", QString::number(v + 1), "Room", QStringLiteral("Var%1").arg(v));
             }
             command(me() + ":>", {{"output.state", {"ID=*", "Level=7"}}});
         },
         [&] { return queues.Writes.count(); }, 42},
        {"X10 requests",
         [&] {
             for (int i = 0; i < 40; ++i)
                 receive(message("xap-x10.request", QString(),
                                 {{"xap-x10.request", {"Device=A1", i % 2 ? "Command=off" : "Command=on"}}}));
         },
         [&] { return queues.X10Requests.waiting(); }, 39},
        {"IR plays",
         [&] {
             for (int i = 0; i < 40; ++i)
                 receive(message("IR.Transmit", QString(), {{"IR.Signal", {"Device=TV", "Signal=Power"}}}));
         },
         [&] { return queues.IRPlays.waitingRequests(); }, 39},
    };
    for (const auto &row : rows) {
        plugin->calls.clear();
        row.fill();
        // (An idle queue hands its first entry over at once.)
        int last = row.waiting();
        EXPECT_GE(last, row.least) << row.queue;
        // A posted call runs at the start of every turn of the event loop,
        // before the turn's timers: it counts the entries each turn took.
        int mostInATurn = 0;
        qint64 longestTurn = 0;
        QElapsedTimer sinceLastTurn;
        sinceLastTurn.start();
        bool counting = true;
        QObject context;
        std::function<void()> turn = [&] {
            const int now = row.waiting();
            mostInATurn = std::max(mostInATurn, last - now);
            last = now;
            longestTurn = std::max(longestTurn, sinceLastTurn.restart());
            if (counting)
                QMetaObject::invokeMethod(&context, turn, Qt::QueuedConnection);
        };
        QMetaObject::invokeMethod(&context, turn, Qt::QueuedConnection);
        EXPECT_TRUE(waitUntil([&] { return row.waiting() == 0; }, 60000)) << row.queue;
        drainPlugin();
        counting = false;
        settle(10);
        EXPECT_LE(mostInATurn, 1) << row.queue << ": entries taken in one turn";
        // A drain of the whole backlog in one go would take a second.
        EXPECT_LT(longestTurn, 400) << row.queue << ": the longest turn, ms";
    }
}

TEST_F(DispatchTest, CommandsNeedTheProgramsOwnAddress)
{
    command(QString(), {{"output.state", {"ID=03", "State=on"}}});
    command(QStringLiteral("*"), {{"output.state", {"ID=03", "State=on"}}});
    command(me(), {{"output.state", {"ID=03", "State=on"}}}); // no sub-address: no pattern
    command(QStringLiteral("tvk.*.") + LocalComputerName() + ":hall_temp.>", {{"output.state", {"ID=03", "State=on"}}});
    command(me().toUpper() + ":*.*.index", {{"output.state", {"ID=04", "State=abc", "Level=abc"}}});
    drainWrites();
    EXPECT_EQ(calls(), QStringList({"SetIO(Nothing,Q,3,19,1,0,0)", "SetIO(Nothing,Q,4,19,0,0,0)"}));
}

TEST_F(DispatchTest, BadCommandInputIsIgnoredOrLogged)
{
    command(me() + ":>", {{"output.state", {"State=on"}}});              // no ID anywhere
    command(me() + ":>", {{"output.state.1", {"ID=zz", "State=on"}}});  // not hex
    command(me() + ":>", {{"output.state.1", {"ID=0x3", "State=on"}}}); // too long
    command(me() + ":>", {{"output.state.1", {"ID=03", "State=on", "Level=40000"}}});
    EXPECT_TRUE(calls().isEmpty());
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    EXPECT_TRUE(logData().first().startsWith("BSCCmd Line ")) << logData().first().toStdString();
    command(me() + ":>", {{"output.state.1", {"ID=03", "State=on", "Level=12.5"}}});
    EXPECT_EQ(played(), QStringList{"SetIO(Nothing,Q,3,19,12,0,0)"});
}

TEST(ReceivedNumberText, NumbersTooLargeToHoldAreOverflowsNotZero)
{
    const struct { const char *text; double value; } read[] = {
        {"50/32767", 50}, {"12.5", 12.5}, {" 1 2", 12}, {"abc", 0}, {"", 0}, {"0e400", 0}, {"1e-400", 0},
        {"-0", 0}, {"&HFFFF", -1}, {"&H0000000000", 0}, {"&", 0}, {"&H", 0}, {"1e300", 1e300},
    };
    for (const auto &c : read)
        EXPECT_EQ(ReceivedNumber(QString::fromLatin1(c.text)), c.value) << c.text;
    for (const char *text : {"1e400", "-1e400", "1D999", " 9 9e 999", "&H1FFFFFFFF", "&O77777777777777", "&777777777777"}) {
        EXPECT_THROW(ReceivedNumber(QString::fromLatin1(text)), VbError) << text;
    }
    EXPECT_EQ(ReceivedCInt(QStringLiteral("2.5")), 2);
    EXPECT_THROW(ReceivedCInt(QStringLiteral("32768")), VbError);
    EXPECT_EQ(ReceivedCLng(QStringLiteral("99999")), 99999);
    EXPECT_THROW(ReceivedCLng(QStringLiteral("1e400")), VbError);
}

TEST_F(DispatchTest, MalformedMessagesDoNothingOrAreLogged)
{
    tables.irZoneModules = {0xa0};
    const struct {
        const char *cls;
        Blocks blocks;
        QStringList calls;
        const char *log; // the start of the one log entry the message leaves, if any
        bool plainTarget = false; // the program's address without a sub-address
    } cases[] = {
        // Numbers beyond what any type holds are errors, not a silent 0 that switches a point off.
        {"xAPBSC.cmd", {{"output.state.1", {"ID=03", "State=on", "Level=1e400"}}}, {}, "Readmessage Line "},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=03", "State=on", "Text=-1e400"}}}, {}, "Readmessage Line "},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=03", "State=on", "Level=&H1FFFFFFFF"}}}, {}, "Readmessage Line "},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=03", "State=on", "Level=1e10"}}}, {}, "BSCCmd Line "},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=03", "State=on", "Level=1e-400"}}}, {"SetIO(Nothing,Q,3,19,0,0,0)"}, nullptr},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=99999999999999999999", "State=on"}}}, {}, nullptr},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=", "State=on"}}}, {}, nullptr},
        {"xAPBSC.cmd", {{"output.state.1", {"ID=-1", "State=on"}}}, {}, nullptr},
        {"xAPBSC.cmd", {}, {}, nullptr},
        {"xap-x10.request", {{"xap-x10.request", {"Device=A1", "Command=dim", "Count=1e400"}}}, {}, "Readmessage Line "},
        {"xap-x10.request", {{"xap-x10.request", {"Device=A1", "Command=dim", "Count=40000"}}}, {}, "Readmessage Line "},
        {"xap-x10.request", {{"xap-x10.request", {"Device=A99999999999", "Command=on"}}}, {}, nullptr},
        {"xap-x10.request", {{"xap-x10.request", {"Device=A1e400", "Command=on"}}}, {}, nullptr},
        {"xap-x10.request", {{"xap-x10.request", {"Device=A1+", "Command=on"}}}, {}, nullptr},
        {"xap-x10.request", {}, {}, nullptr},
        {"IR.Transmit", {{"IR.Signal", {"Location=5", "Zone=1e400"}}}, {}, "Readmessage Line "},
        {"IR.Transmit", {{"IR.Signal", {"Location=99999999999"}}}, {}, "Readmessage Line "},
        {"IR.Transmit", {{"IR.Signal", {"Location=1e400"}}}, {}, nullptr}, // not a number at all
        {"IR.Transmit", {}, {}, nullptr},
        {"Tessera.IR", {{"IR.Transmit", {"Location=1e400"}}}, {}, nullptr}, // not a number at all
        {"Tessera.IR", {{"IR.Transmit", {"Location=5", "Zone=1e400"}}}, {}, "Readmessage Line "},
        {"Tessera.IR", {{"IR.Transmit", {"Location=abc"}}}, {}, nullptr},
        {"Tessera.IR", {{"IR.Transmit", {"Location="}}}, {}, nullptr},
        {"Tessera.IR", {{"IR.Transmit", {"Location=abc", "Zone=3"}}}, {}, nullptr},
        {"Tessera.IR", {}, {}, nullptr},
        {"WDT.Echo", {}, {}, nullptr},
        {"Tessera.Role", {}, {}, nullptr},
        {"xAPBSC.query", {}, {}, nullptr, true},
        {"xAPBSC.cmd", {{"output.state", {"ID=*", "State=on"}}}, {}, nullptr, true},
        {"No.Such.Class", {{"x", {"a=b"}}}, {}, nullptr},
    };
    QStringList expectedLogs;
    for (const auto &c : cases) {
        plugin->calls.clear();
        receive(message(QString::fromLatin1(c.cls), c.plainTarget ? me() : me() + ":>", c.blocks));
        EXPECT_EQ(played(), c.calls) << c.cls << " " << (c.blocks.isEmpty() ? QString() : c.blocks[0].second.join(';')).toStdString();
        // Refusals of one kind collapse: only the first of each is logged at once.
        if (c.log && !expectedLogs.contains(QString::fromLatin1(c.log)))
            expectedLogs.append(QString::fromLatin1(c.log));
    }
    ASSERT_TRUE(waitForSent("Tessera.Event", int(expectedLogs.size())));
    settle(300);
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), expectedLogs.size()) << logs.join('|').toStdString();
    for (int i = 0; i < logs.size(); ++i)
        EXPECT_TRUE(logs[i].startsWith(expectedLogs[i])) << logs[i].toStdString() << " / " << expectedLogs[i].toStdString();
    for (const char *reply : {"xAPBSC.info", "xAP-X10.event", "WDT.Echo", "Tessera.Role", "IR.Info"})
        EXPECT_TRUE(sentOf(QString::fromLatin1(reply)).isEmpty()) << reply;

    // The dispatcher keeps serving.
    plugin->calls.clear();
    command(me() + ":>", {{"output.state", {"ID=03", "State=on", "Level=7"}}});
    EXPECT_EQ(played(), QStringList{"SetIO(Nothing,Q,3,19,7,0,0)"});
}

TEST_F(DispatchTest, QueriesAreAnsweredForAnyMatchingTarget)
{
    receive(message("xAPBSC.query", me() + ":hall_temp.>", {{"request", {}}}));
    ASSERT_TRUE(waitForSent("xAPBSC.info", 1));
    receive(message("xAPBSC.query", "*.*.*:hall_humidity.>", {{"request", {}}}));
    ASSERT_TRUE(waitForSent("xAPBSC.info", 2));
    receive(message("xAPBSC.query", "elsewhere.x.y:>", {{"request", {}}}));
    settle(500);
    const QList<SentMessage> infos = sentOf("xAPBSC.info");
    ASSERT_EQ(infos.size(), 2);
    EXPECT_EQ(infos[0].source(), me() + ":hall_temp.quillon_var__v002.index");
    EXPECT_EQ(infos[1].source(), me() + ":hall_humidity.quillon_var__v003.index");
}

TEST_F(DispatchTest, X10RequestsDriveTheControllerAndAreReported)
{
    QString a1 = "A1", a3 = "A3";
    qint16 off = 3;
    m_hs->SetDeviceStatus(a1, off);
    m_hs->SetDeviceStatus(a3, off);
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=a1,a3", "Command=ON"}}}));
    EXPECT_EQ(played(), QStringList{"Exec(Nothing,A,1+3,2,0,0,0)"});
    ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
    EXPECT_EQ(sentOf("xAP-X10.event")[0].item("xAP-X10.event", "Device"), "A1+3");
    EXPECT_EQ(sentOf("xAP-X10.event")[0].item("xAP-X10.event", "Event"), "on");
    EXPECT_EQ(m_hs->deviceStatus("A1"), 2);
    EXPECT_EQ(m_hs->deviceStatus("A3"), 2) << "every unit of the request takes the status";

    plugin->calls.clear();
    receive(message("xap-x10.request", me(), {{"xap-x10.request", {"Device=A1", "Command=dim", "Count=5"}}}));
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A3", "Command=hail"}}}));
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1", "Command=bright"}}}));
    EXPECT_EQ(played(), QStringList({"Exec(dev,A,1,4,5,0,0)", "Exec(dev,A,3,8,0,0,0)", "Exec(dev,A,1,5,0,0,0)"}));
    ASSERT_TRUE(waitForSent("xAP-X10.event", 4));
    EXPECT_EQ(sentOf("xAP-X10.event")[2].item("xAP-X10.event", "Event"), "hail");
    EXPECT_EQ(m_hs->deviceStatus("A3"), 8);
}

TEST_F(DispatchTest, X10UnitListsLoseRepeatsAndLongOnesAreRefused)
{
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1,a3,A1,01,3", "Command=on"}}}));
    EXPECT_EQ(played(), QStringList{"Exec(Nothing,A,1+3,2,0,0,0)"});
    ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
    EXPECT_EQ(sentOf("xAP-X10.event")[0].item("xAP-X10.event", "Device"), "A1+3");

    // Sixteen entries are taken (as two units); seventeen are refused before any is looked at.
    plugin->calls.clear();
    QStringList sixteen(16, QStringLiteral("A1"));
    sixteen[15] = QStringLiteral("A3");
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=" + sixteen.join(','), "Command=off"}}}));
    EXPECT_EQ(played(), QStringList{"Exec(Nothing,A,1+3,3,0,0,0)"});
    plugin->calls.clear();
    receive(message("xap-x10.request", QString(),
                    {{"xap-x10.request", {"Device=" + QStringList(17, QStringLiteral("A1")).join(','), "Command=on"}}}));
    receive(message("xap-x10.request", QString(),
                    {{"xap-x10.request", {"Device=" + QStringList(2001, QStringLiteral("A1")).join(','), "Command=on"}}}));
    EXPECT_TRUE(calls().isEmpty());
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    settle(200);
    EXPECT_EQ(sentOf("xAP-X10.event").size(), 2) << "a refused request is not reported";
    // One entry for the kind: the second refusal is counted for the minute's summary.
    EXPECT_EQ(logData(), QStringList({"xap-x10.request: a list of 17 units refused (at most 16)"}));
}

// Only a request the plug-in took is reported and sets its units' status; the
// refusals of a burst leave one log entry.
TEST_F(DispatchTest, X10RequestsThePlugInRefusedAreNotReported)
{
    QString a1 = "A1";
    qint16 off = 3;
    m_hs->SetDeviceStatus(a1, off);
    const struct
    {
        Variant answer;
        bool reported;
    } cases[] = {{Variant(false), false}, {Variant(true), true}, {Variant(), true}, {Variant(false), false}};
    int reports = 0;
    for (const auto &c : cases) {
        plugin->execResult = c.answer;
        m_hs->SetDeviceStatus(a1, off);
        receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1", "Command=on"}}}));
        drainPlugin();
        settle(50);
        reports += c.reported ? 1 : 0;
        EXPECT_EQ(sentOf("xAP-X10.event").size(), reports) << c.answer.toString().toStdString();
        EXPECT_EQ(m_hs->deviceStatus("A1"), c.reported ? 2 : 3) << c.answer.toString().toStdString();
    }
    EXPECT_EQ(calls().size(), 4);
    EXPECT_EQ(logData(), QStringList{"xap-x10.request: not taken by the controller, not reported"});
}

// Requests beyond the queue are dropped before they reach the plug-in, with
// one entry for the burst; every request taken is carried out and reported.
TEST_F(DispatchTest, X10RequestBurstIsBoundedAndReportsOnlyWhatWasSent)
{
    tables.queuedCommands = 1; // the plug-in is busy: the requests wait
    // A single unit is two frames on the line: its address and the function.
    const int fit = X10RequestQueue::kMostFrames / 2;
    for (int i = 0; i < fit + 40; ++i)
        receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1", "Command=on"}}}));
    EXPECT_TRUE(calls().isEmpty());
    EXPECT_EQ(CommAndTimer::instance().X10Requests.waiting(), fit);
    tables.queuedCommands = 0;
    drainPlugin();
    settle(100);
    EXPECT_EQ(calls().size(), fit);
    EXPECT_EQ(sentOf("xAP-X10.event").size(), fit);
    EXPECT_EQ(logData(), QStringList{"xap-x10.request: requests dropped, "
                                     + QString::number(X10RequestQueue::kMostFrames) + " frames still wait to be sent"});
    EXPECT_EQ(CommAndTimer::instance().X10Requests.framesWaiting(), 0);
}

// A request is reported once its frames went out, whenever the plug-in's
// command ring gets to them; one the ring dropped, or a stop left unsent, is
// never reported, and a stop says once how many it dropped.
TEST_F(DispatchTest, X10RequestsAreReportedOnlyOnceSent)
{
    plugin->carriedIn = nullptr; // the ring holds each request behind a pass in progress
    const auto request = [this](const char *device) {
        receive(message("xap-x10.request", QString(),
                        {{"xap-x10.request", {QStringLiteral("Device=") + QLatin1String(device), "Command=on"}}}));
    };
    const struct
    {
        const char *what;
        std::function<void()> meanwhile; // what becomes of the first request in the ring
        int reported;
        QString logged;
    } rows[] = {
        {"sent later", [this] { ++tables.x10CommandsSent, ++tables.x10CommandsEnded; }, 1, QString()},
        {"dropped unsent", [this] { ++tables.x10CommandsEnded; }, 0,
         "xap-x10.request: not sent to the controller, not reported"},
        {"a stop first", [] { gShuttingDown = true; }, 0,
         "2 waiting xap-x10.requests dropped: the program is stopping"},
        {"sent, then a stop before the queue looked",
         [this] { ++tables.x10CommandsSent, ++tables.x10CommandsEnded, gShuttingDown = true; }, 1,
         "1 waiting xap-x10.requests dropped: the program is stopping"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        RefusalLog::Reset();
        const qsizetype logsBefore = logData().size();
        const qsizetype before = sentOf("xAP-X10.event").size();
        const qsizetype callsBefore = calls("Exec").size();
        request("A1");
        request("A3");
        settle(100);
        EXPECT_EQ(calls("Exec").size() - callsBefore, 1) << "the second waits for the first";
        EXPECT_EQ(sentOf("xAP-X10.event").size(), before) << "reported before it was sent";
        row.meanwhile();
        settle(100);
        EXPECT_EQ(sentOf("xAP-X10.event").size() - before, row.reported);
        if (!row.logged.isEmpty())
            EXPECT_EQ(logData().mid(logsBefore), QStringList{row.logged});
        const bool stopped = std::exchange(gShuttingDown, false);
        // The second request went next (unless the stop dropped it); the ring sends it.
        ++tables.x10CommandsSent, ++tables.x10CommandsEnded;
        settle(100);
        EXPECT_TRUE(CommAndTimer::instance().X10Requests.idle());
        EXPECT_EQ(sentOf("xAP-X10.event").size() - before, row.reported + (stopped ? 0 : 1));
    }
}

TEST_F(DispatchTest, X10RequestWithAUnitNotInUseIsDropped)
{
    QString a1 = "A1";
    qint16 off = 3;
    m_hs->SetDeviceStatus(a1, off);
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1,A2", "Command=on"}}}));
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=", "Command=on"}}}));
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Command=on"}}}));
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A99", "Command=on"}}}));
    receive(message("xap-x10.request", "elsewhere.x.y", {{"xap-x10.request", {"Device=A1", "Command=on"}}}));
    settle(300);
    EXPECT_TRUE(calls().isEmpty());
    EXPECT_TRUE(sentOf("xAP-X10.event").isEmpty());
    EXPECT_EQ(m_hs->deviceStatus("A1"), 3);
}

TEST_F(DispatchTest, X10RequestsNamingNoX10UnitSwitchNothing)
{
    // A variable and an I/O point in use, on houses that are not X10 letters.
    tables.addUnit(3, 11, QStringLiteral("["));
    tables.pointUsed[3][8] = 1;
    addDevice("[", "9", "Porch", "Light", 1);
    for (const char *code : {"Q5", "[9", "A1", "A3"}) {
        QString c = QString::fromLatin1(code);
        qint16 off = 3;
        m_hs->SetDeviceStatus(c, off);
    }
    for (const char *device : {"Q5", "q5", "[9", "A5.9", "A0.6", "A1.4", "A1e0", "A 1", "A1 ", "A001", "A+1", "A1,3.0",
                               "A0", "A17", "A-1", "A&H1", "A1\x01", "A", "1", "@1", "Q1"}) {
        receive(message("xap-x10.request", QString(),
                        {{"xap-x10.request", {QStringLiteral("Device=") + QString::fromLatin1(device), "Command=on"}}}));
    }
    settle(300);
    EXPECT_TRUE(calls().isEmpty()) << calls().join(' ').toStdString();
    EXPECT_TRUE(sentOf("xAP-X10.event").isEmpty());
    for (const char *code : {"Q5", "[9", "A1", "A3"})
        EXPECT_EQ(m_hs->deviceStatus(QString::fromLatin1(code)), 3) << code;

    // Two-digit units stay what the Part reads: "01" is unit 1.
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A01,03", "Command=on"}}}));
    EXPECT_EQ(played(), QStringList{"Exec(Nothing,A,01+03,2,0,0,0)"});
}

TEST_F(DispatchTest, ControlCharactersInReceivedValuesAddNoItems)
{
    receive(message("WDT.Echo", QString(), {{"Echo.Query", {QStringLiteral("Query=a") + QChar(0) + QStringLiteral("Extra")
                                                             + QChar(1) + QStringLiteral("evil\rx")}}},
                    "acme.pinger.pc"));
    receive(message("xap-x10.request", QString(),
                    {{"xap-x10.request", {"Device=A1", QStringLiteral("Command=on") + QChar(0) + QStringLiteral("Device")
                                                           + QChar(1) + QStringLiteral("B2")}}}));
    ASSERT_TRUE(waitForSent("WDT.Echo", 1));
    ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
    EXPECT_TRUE(sentOf("WDT.Echo").first().raw.endsWith("Echo.Response\n{\nResponse=aextraevilx\n}\n"))
        << sentOf("WDT.Echo").first().raw.toStdString();
    EXPECT_TRUE(sentOf("xAP-X10.event").first().raw.endsWith("xAP-X10.event\n{\nDevice=A1\nEvent=ondeviceb2\n}\n"))
        << sentOf("xAP-X10.event").first().raw.toStdString();
    // An unknown word is sent as code 8, as any other word is.
    EXPECT_EQ(played(), QStringList{"Exec(dev,A,1,8,0,0,0)"});
}

TEST_F(DispatchTest, X10ReportGoesOutEvenWhenTheStatusAlreadyMatches)
{
    QString a1 = "A1";
    qint16 on = 2;
    m_hs->SetDeviceStatus(a1, on);
    Variant when = Variant::fromDate(40000);
    m_hs->SetDeviceLastChange(a1, when);
    receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1", "Command=on"}}}));
    ASSERT_TRUE(waitForSent("xAP-X10.event", 1));
    EXPECT_EQ(m_hs->deviceLastChange("A1"), 40000.0) << "status unchanged: last change kept";
}

// A controller that reports the X10 frames it sends: the report of a
// request's own frames gives no second event, whether it comes while the
// plug-in still waits for the frames or after; a report of another function
// during the request is a change of its own.
TEST_F(DispatchTest, AnX10RequestIsReportedOnceWhenTheControllerReportsItsFrames)
{
    const struct
    {
        const char *what;
        int reportedFunction; // what the controller reports for A1
        bool duringTheCall;
        QStringList events;
    } rows[] = {
        {"its own frames, while the plug-in waits", 2, true, {"A1 on"}},
        {"its own frames, after", 2, false, {"A1 on"}},
        {"another function, while the plug-in waits", 3, true, {"A1 off", "A1 on"}},
    };
    for (const auto &row : rows) {
        QString a1 = "A1";
        qint16 unknown = 17;
        m_hs->SetDeviceStatus(a1, unknown);
        settle(50);
        sent.clear();
        plugin->duringCall = [&](const QString &member) {
            if (member == QLatin1String("Exec") && row.duringTheCall)
                SendXapX10Event("1", "A", row.reportedFunction);
        };
        receive(message("xap-x10.request", QString(), {{"xap-x10.request", {"Device=A1", "Command=on"}}}));
        drainPlugin();
        if (!row.duringTheCall)
            SendXapX10Event("1", "A", row.reportedFunction);
        settle(100);
        QStringList events;
        for (const SentMessage &m : sentOf("xAP-X10.event"))
            events << m.item("xAP-X10.event", "Device") + ' ' + m.item("xAP-X10.event", "Event");
        EXPECT_EQ(events, row.events) << row.what;
        EXPECT_EQ(m_hs->deviceStatus("A1"), 2) << row.what;
    }
}

TEST_F(DispatchTest, IRTransmitByNameMacroAndLocation)
{
    tables.learnedIR.insert("tv-power", "12");
    receive(message("IR.Transmit", QString(), {{"IR.Signal", {"Device=TV", "Signal=Power", "Location=3"}}}));
    EXPECT_EQ(played(), QStringList{"PlayIR(12)"});

    plugin->calls.clear();
    gIRMacroDictionary->add(Variant(QStringLiteral("movie night")), Variant(QStringLiteral("12,13,14")));
    receive(message("IR.Transmit", QString(), {{"IR.Signal", {"Device=Movie", "Signal=Night", "Location=20"}}}));
    drainIRPlays();
    ASSERT_EQ(calls(), QStringList({"PlayIR(12)", "PlayIR(13)", "PlayIR(14)", "PlayIR(20)"}));
    const auto &c = plugin->calls;
    EXPECT_GE(c[1].atMs - c[0].atMs, 95);
    EXPECT_GE(c[2].atMs - c[1].atMs, 95);
    // A wait after the last code would make every run's last gap 100 ms; a
    // loaded machine may stretch one run, hardly three.
    qint64 shortestLastGap = c[3].atMs - c[2].atMs;
    for (int run = 0; run < 2; ++run) {
        plugin->calls.clear();
        receive(message("IR.Transmit", QString(), {{"IR.Signal", {"Device=Movie", "Signal=Night", "Location=20"}}}));
        drainIRPlays();
        ASSERT_EQ(plugin->calls.size(), 4u);
        shortestLastGap = std::min(shortestLastGap, plugin->calls[3].atMs - plugin->calls[2].atMs);
    }
    EXPECT_LT(shortestLastGap, 90) << "no wait after the last code";

    // Empty and misspelt steps play nothing, and no pause stands for them.
    plugin->calls.clear();
    gIRMacroDictionary->add(Variant(QStringLiteral("gappy macro")), Variant(QStringLiteral(",12,,x, ,13,")));
    receive(message("IR.Transmit", QString(), {{"IR.Signal", {"Device=Gappy", "Signal=Macro"}}}));
    drainIRPlays();
    ASSERT_EQ(calls(), QStringList({"PlayIR(12)", "PlayIR(13)"}));
    EXPECT_GE(c[1].atMs - c[0].atMs, 95);
    EXPECT_LT(c[1].atMs - c[0].atMs, 300) << "one pause, not one per skipped step (400 ms)";

    plugin->calls.clear();
    gIRMacroDictionary->add(Variant(QStringLiteral("empty macro")), Variant(QString()));
    receive(message(QStringLiteral("IR.Transmit"), QString(), {{"IR.Signal", {"Device=Empty", "Signal=Macro"}}}));
    receive(message(QStringLiteral("IR.Transmit"), QString(), {{"IR.Signal", {"Device=Empty", "Signal=Macro", "Location=9"}}}));
    EXPECT_EQ(played(), QStringList{"PlayIR(9)"}) << "an empty macro plays nothing";

    plugin->calls.clear();
    tables.irZoneModules = {0xa0, 0xa1};
    const struct { QStringList items; const char *call; } cases[] = {
        {{"Location=5", "Zone=18"}, "PlayRemoteIR(161,1,5)"},
        {{"Location=5", "Zone=1"}, "PlayRemoteIR(160,0,5)"},
        {{"Location=5", "Zone=32"}, "PlayRemoteIR(161,15,5)"},
        {{"Location=5"}, "PlayIR(5)"},
        {{"Location=5", "Zone=0"}, "PlayIR(5)"},
        {{"Location=5", "Zone=40"}, "PlayIR(5)"},
        {{"Location=5", "Zone=-3"}, "PlayIR(5)"},
        {{"Location=abc"}, nullptr},
        {{"Zone=3"}, nullptr},
    };
    for (const auto &k : cases) {
        plugin->calls.clear();
        receive(message("IR.Transmit", QString(), {{"IR.Signal", QStringList{"Device=VCR", "Signal=Play"} + k.items}}));
        EXPECT_EQ(played(), k.call ? QStringList{QString::fromLatin1(k.call)} : QStringList()) << k.items.join(';').toStdString();
    }
}

TEST_F(DispatchTest, IRMacroBurstKeepsTheDispatcherFreeAndIsBounded)
{
    gIRMacroDictionary->add(Variant(QStringLiteral("movie night")), Variant(QStringLiteral("12,13,14")));
    tables.learnedIR.insert("tv-power", "30");
    const QByteArray macro = message("IR.Transmit", QString(), {{"IR.Signal", {"Device=Movie", "Signal=Night"}}});
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 300; ++i)
        receive(macro);
    EXPECT_LT(clock.elapsed(), 2000) << "the dispatcher waited for the macros to play";
    EXPECT_TRUE(calls().isEmpty()) << "nothing plays inside the receive path";
    // Three codes and two pauses a macro: as many as the queue's time holds.
    const int macroMs = 3 * IrPlayQueue::kCodeMs + 2 * IrPlayQueue::kPauseMs;
    const int fit = IrPlayQueue::kMostWaitMs / macroMs;
    EXPECT_EQ(CommAndTimer::instance().IRPlays.waitingRequests(), fit);
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    EXPECT_EQ(logData(), QStringList{QStringLiteral("IR requests dropped, %1 ms of codes still wait to play").arg(fit * macroMs)})
        << "one entry for the burst";

    drainIRPlays();
    QStringList expected;
    for (int i = 0; i < fit; ++i)
        expected << "PlayIR(12)" << "PlayIR(13)" << "PlayIR(14)";
    ASSERT_EQ(calls(), expected);
    const auto &c = plugin->calls;
    for (size_t i = 1; i < c.size(); ++i) {
        if (i % 3)
            EXPECT_GE(c[i].atMs - c[i - 1].atMs, 95) << "between the codes of one macro, call " << i;
    }

    // What a later request plays, the zone it sets included, follows the macro that still plays.
    plugin->calls.clear();
    receive(macro);
    receive(message("IR.Transmit", QString(), {{"IR.Signal", {"Device=TV", "Signal=Power"}}}));
    receive(message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=7", "Zone=2"}}}));
    drainIRPlays();
    EXPECT_EQ(calls(), QStringList({"PlayIR(12)", "PlayIR(13)", "PlayIR(14)", "PlayIR(30)", "SetZone(2)", "PlayIR(7)"}));
    settle(100);
    EXPECT_EQ(logData().size(), 1);
}

// The IR queue holds what the line plays in a few seconds, however it is
// split into requests: a scene of single codes is taken whole, a burst is cut
// where its time runs out, and a macro longer than the whole bound is still
// taken when nothing waits before it.
TEST_F(DispatchTest, IRRequestsAreBoundedByTheTimeTheyWait)
{
    tables.learnedIR.insert("tv-power", "30");
    QStringList longMacro;
    for (int i = 1; i <= 40; ++i)
        longMacro << QString::number(i);
    gIRMacroDictionary->add(Variant(QStringLiteral("movie night")), Variant(QStringLiteral("12,13,14")));
    gIRMacroDictionary->add(Variant(QStringLiteral("all on")), Variant(longMacro.join(',')));
    const QByteArray code = message("IR.Transmit", QString(), {{"IR.Signal", {"Device=TV", "Signal=Power"}}});
    const QByteArray macro = message("IR.Transmit", QString(), {{"IR.Signal", {"Device=Movie", "Signal=Night"}}});
    const QByteArray zoned = message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=7", "Zone=2"}}});
    const QByteArray longOne = message("IR.Transmit", QString(), {{"IR.Signal", {"Device=All", "Signal=On"}}});
    const int macroMs = 3 * IrPlayQueue::kCodeMs + 2 * IrPlayQueue::kPauseMs;
    const struct
    {
        const char *what;
        QList<QByteArray> requests;
        int taken;
    } rows[] = {
        {"a scene of 24 codes", QList<QByteArray>(24, code), 24},
        {"a scene of 24 codes, each with its zone", QList<QByteArray>(24, zoned), 24},
        {"300 codes", QList<QByteArray>(300, code), IrPlayQueue::kMostWaitMs / IrPlayQueue::kCodeMs},
        {"40 macros", QList<QByteArray>(40, macro), IrPlayQueue::kMostWaitMs / macroMs},
        {"a macro longer than the bound, alone", {longOne}, 1},
        {"a macro longer than the bound, behind a code", {code, longOne}, 1},
    };
    for (const auto &row : rows) {
        CommAndTimer::unload();
        RefusalLog::Reset();
        const qsizetype logs = logData().size();
        for (const QByteArray &r : row.requests)
            receive(r);
        const IrPlayQueue &plays = CommAndTimer::instance().IRPlays;
        EXPECT_EQ(plays.waitingRequests(), row.taken) << row.what;
        const bool dropped = row.taken < row.requests.size();
        if (row.taken > 1)
            EXPECT_LE(plays.waitingMs(), IrPlayQueue::kMostWaitMs) << row.what;
        settle(50);
        EXPECT_EQ(logData().size() - logs, dropped ? 1 : 0) << row.what << ": " << logData().join('|').toStdString();
    }
    // What a scene asked is what plays.
    CommAndTimer::unload();
    plugin->calls.clear();
    for (int i = 0; i < 24; ++i)
        receive(code);
    drainIRPlays();
    EXPECT_EQ(calls(), QStringList(24, QStringLiteral("PlayIR(30)")));
    EXPECT_EQ(CommAndTimer::instance().IRPlays.waitingMs(), 0);
}

TEST_F(DispatchTest, TesseraIRSetsTheZoneThenPlays)
{
    receive(message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=7", "Zone=2"}}}));
    receive(message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=8"}}}));
    receive(message("Tessera.IR", QString(), {{"IR.Transmit", {"Zone=2"}}}));
    EXPECT_EQ(played(), QStringList({"SetZone(2)", "PlayIR(7)", "PlayIR(8)"}));
}

TEST_F(DispatchTest, EchoRoleAndTime)
{
    receive(message("WDT.Echo", QString(), {{"Echo.Query", {"Query=Hello"}}}, "acme.pinger.pc"));
    receive(message("WDT.Echo", QString(), {{"Echo.Query", {}}}));
    // A source with a control character names no one a reply could go to,
    // and one with a wildcard would reach every device it matches.
    for (const QChar c : {QChar(0), QChar(1), QChar(9), QChar(31)})
        receive(message("WDT.Echo", QString(), {{"Echo.Query", {"Query=x"}}}, QStringLiteral("acme.x") + c + QStringLiteral("y.pc")));
    for (const char *source : {">", "*.*.*", "acme.*.pc", "acme.pinger.>", "acme.pinger.pc:>", "acme.pinger.pc:*.x", "*"})
        receive(message("WDT.Echo", QString(), {{"Echo.Query", {"Query=x"}}}, QString::fromLatin1(source)));
    ASSERT_TRUE(waitForSent("WDT.Echo", 1));
    settle(200);
    ASSERT_EQ(sentOf("WDT.Echo").size(), 1);
    const SentMessage echo = sentOf("WDT.Echo").first();
    EXPECT_EQ(echo.msg->MsgTarget(), "acme.pinger.pc");
    EXPECT_EQ(echo.item("Echo.Response", "Response"), "hello");

    gHTTPPort = "8123";
    gExePath = "/opt/korvane/xaptvkKorvane";
    receive(message("Tessera.Role", QString(), {{"Role.Query", {"Role=ANY"}}}));
    receive(message("Tessera.Role", QString(), {{"Role.Query", {"Role=server"}}}));
    receive(message("Tessera.Role", QString(), {{"Role.Query", {}}}));
    receive(message("Tessera.Role", QString(), {{"Role.Query", {"Role=Application"}}}));
    ASSERT_TRUE(waitForSent("Tessera.Role", 2));
    settle(300);
    ASSERT_EQ(sentOf("Tessera.Role").size(), 2);
    const SentMessage role = sentOf("Tessera.Role").first();
    EXPECT_TRUE(role.raw.endsWith("Role.Notification\n{\nRole=Application\nPath=/opt/korvane/xaptvkKorvane\nServer="
                                  + LocalComputerName().toLatin1() + "\nPort=8123\nForm=SetupForm\n}\n"))
        << role.raw.toStdString();
    EXPECT_EQ(sentOf("WDT.Echo").size(), 1);

    receive(message("Time.Today", QString(), {{"Time.Today", {"Sunrise=6:45 AM"}}}));
    EXPECT_EQ(SunriseText(), "6:45 AM");
    EXPECT_EQ(SunsetText(), "Unknown");
}

TEST_F(DispatchTest, AFailingPlugInCallEndsOnlyThatMessage)
{
    gPluginInstance.reset();
    receive(message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=7"}}}));
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    EXPECT_TRUE(logData().first().startsWith("Readmessage Line ")) << logData().first().toStdString();
    gPluginInstance = plugin;
    receive(message("Tessera.IR", QString(), {{"IR.Transmit", {"Location=7"}}}));
    EXPECT_EQ(played(), QStringList{"PlayIR(7)"});
}

TEST_F(DispatchTest, MenuCallbacksKeepTheirFirstItem)
{
    EXPECT_EQ(AcceptMenuCallbacks("xaptvkKorvane", "Setup", "xaptvkKorvane"), QString());
    AcceptMenuCallbacks("xaptvkKorvane", "Setup", "Other");
    AcceptMenuCallbacks("xaptvkKorvane", "setup", "Lower");
    ASSERT_TRUE(gRegisteredMenus);
    EXPECT_EQ(gRegisteredMenus->count(), 2);
    EXPECT_EQ(gRegisteredMenus->item(Variant(QStringLiteral("xaptvkKorvane~Setup"))).toString(), "xaptvkKorvane");
    settle(100);
    EXPECT_TRUE(sentOf("Tessera.Event").isEmpty());
    gDebugMode = 1;
    AcceptMenuCallbacks("xaptvkKorvane", "Setup", "Again");
    ASSERT_TRUE(waitForSent("Tessera.Event", 1));
    const SentMessage log = sentOf("Tessera.Event").first();
    EXPECT_EQ(log.item("Event.Log", "Type"), "xaptvkKorvane Debug");
    EXPECT_EQ(log.item("Event.Log", "Data"), "Accepting Callback xaptvkKorvane~Setup");
}

} // namespace
