// One exchange on the line at a time. Whatever sends to the controller may be
// started by code that runs inside another exchange's wait (a script's direct
// command, a page button, a timer): it must not take the outer reply's bytes
// as its own, nor free the line for the timers, nor leave a report unread.
// And whatever block reply comes (late, twice, naming another block, or an
// acknowledgement owed from earlier that begins like one) no read takes
// another block's data for its own and no report is lost or made up.
#include "ProtocolFixture.h"

#include <QElapsedTimer>
#include <QThread>

#include "core/Shutdown.h"


namespace {

// An X10 address and function pair: one event.
const QByteArray kReport = hex("FE0104" "FE0112");
const QString kReportEvent = "X10Event B5 B 2 [] []";
// The I/O block reads as reports of other points and units wherever a reader
// falls out of step with it.
const QByteArray kMisread = hex("F0050300" "FE0405" "FE0412");

class LineFixture : public ProtocolTest
{
protected:
    void SetUp() override
    {
        ProtocolTest::SetUp();
        gPlugin.UnitMaps = {umap{5, 12, "#", 0}};
        for (int i = 0; i < 256; ++i)
            sim->ioBlock[i] = kMisread[i % kMisread.size()];
        sim->setUnit(3, 11);
        sim->setUnit(7, 13);
        sim->setUnit(112, 12);
        sim->parameterSets[4] = QVector<quint16>(128, 0);
        sim->parameterSets[4][2] = 777;
        sim->paced = true;
    }

    bool readBlock(quint8 hi, quint8 lo, int waitS = 2)
    {
        protocol->SendFrame(Frames::BlockRequest(hi, lo));
        return protocol->WaitReply(waitS, 264, 0x2A) && gPlugin.ReplyBuffer[3] == hi && gPlugin.ReplyBuffer[4] == lo;
    }

    // What the start-up discovery found, as the table reads it.
    void expectDiscovered()
    {
        EXPECT_EQ(gPlugin.VarBlockHigh, 0x4A);
        EXPECT_EQ(gPlugin.IRLocationCount, 1008);
        for (int k = 0; k < 128; ++k)
            EXPECT_EQ(gPlugin.UnitTypes[size_t(k)], sim->unitTypes[k]) << "unit " << k + 1;
    }
};

// ---------------------------------------------------------------------------
// Every sender, started inside every kind of wait.

enum class Nested { SetVar, WriteScreen, GetParameter, PlayIR, IRLearnStart, X10, BlockRead };
enum class Outer { BlockWait, CommandWait, Discovery, ParameterRead };

struct NestRow
{
    Nested nested;
    Outer outer;
};

void PrintTo(const NestRow& r, std::ostream* os) { *os << int(r.nested) << "/" << int(r.outer); }

std::string nestName(const ::testing::TestParamInfo<NestRow>& info)
{
    static const char* nested[] = {"SetVar", "WriteScreen", "GetParameter", "PlayIR", "IRLearnStart", "X10", "BlockRead"};
    static const char* outer[] = {"InABlockWait", "InACommandWait", "InDiscovery", "InAParameterRead"};
    return std::string(nested[int(info.param.nested)]) + "_" + outer[int(info.param.outer)];
}

class NestedExchanges : public LineFixture, public ::testing::WithParamInterface<NestRow>
{
protected:
    int m_fired = 0;
    int m_reportsSent = 0;
    bool m_inNested = false;
    bool m_busyAfterNested = false;
    bool m_outerRunning = false;
    QList<bool> m_nestedOk;

    // The nested sender, run as a script's direct command would be.
    void runNested(Nested n)
    {
        m_inNested = true;
        bool ok = true;
        switch (n) {
        case Nested::SetVar:
            cmds->SetVar(20 + m_fired, 1000 + m_fired);
            ok = sim->vars[20 + m_fired] == 1000 + m_fired;
            break;
        case Nested::WriteScreen:
            cmds->WriteScreen(1, 2, "hello", true, 0, false, false);
            ok = sim->screenText.startsWith("hello");
            break;
        case Nested::GetParameter:
            ok = cmds->GetParameter(3, 5) == 777;
            break;
        case Nested::PlayIR:
            ir->PlayIRLocation(300 + m_fired);
            ok = sim->irPlayed.contains(300 + m_fired);
            break;
        case Nested::IRLearnStart:
            gPlugin.IRKeyLocations[size_t(12)] = 400 + m_fired;
            ir->LearnIRStart(12);
            ok = sim->irLearned.contains(400 + m_fired);
            break;
        case Nested::X10:
            x10->ExecX10("C", "3", 2, 0, 0, 0);
            ok = sim->x10Units.value("C3") == "on";
            break;
        case Nested::BlockRead:
            ok = readBlock(0x00, 0x7F)
                && gPlugin.ReplyBuffer[6 + 244] + 256 * gPlugin.ReplyBuffer[6 + 245] == 1008;
            break;
        }
        m_nestedOk << ok;
        ++m_fired;
        // The outer exchange still holds the line.
        m_busyAfterNested = m_busyAfterNested || !gPlugin.TransferBusy;
        m_inNested = false;
    }
};

TEST_P(NestedExchanges, RunAfterTheOuterReplyNothingMadeUpNothingLost)
{
    const NestRow row = GetParam();
    if (row.outer == Outer::Discovery)
        gControllerTiming.unitTableDelayMs = 400; // a settle with the module table's reply outstanding
    if (row.outer == Outer::ParameterRead)
        gControllerTiming.parameterDelayMs = 400;
    // Every answer comes a while after its frame, so the outer one is still owed
    // when the nested sender starts.
    sim->lateAnswerMs = 250;
    // A nested sender starts right after each frame of the outer exchange has
    // reached the controller, and a report comes between it and its answer.
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [this, row](const QByteArray&) {
        if (m_inNested || !m_outerRunning || m_fired >= 3)
            return;
        sim->sendRaw(kReport);
        ++m_reportsSent;
        QTimer::singleShot(20, sim.get(), [this, row] {
            if (!m_inNested && m_outerRunning && m_fired < 3)
                runNested(row.nested);
        });
    });

    m_outerRunning = true;
    bool outerOk = false;
    {
        TransferBusyScope busy;
        switch (row.outer) {
        case Outer::BlockWait:
            outerOk = readBlock(0x8D, 0xB5) && Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data());
            break;
        case Outer::CommandWait:
            outerOk = command() && sim->vars[1] == 7;
            break;
        case Outer::Discovery:
            start->FindCPUQX();
            outerOk = gPlugin.DiscoveryComplete;
            break;
        case Outer::ParameterRead:
            outerOk = cmds->GetParameter(3, 5) == 777;
            break;
        }
    }
    m_outerRunning = false;
    EXPECT_TRUE(outerOk) << "the outer exchange got another reply than its own";
    EXPECT_FALSE(gPlugin.TransferBusy);
    EXPECT_GE(m_fired, 1) << "no sender was started inside the wait";
    for (int i = 0; i < m_nestedOk.size(); ++i)
        EXPECT_TRUE(m_nestedOk[i]) << "nested exchange " << i;
    EXPECT_FALSE(m_busyAfterNested) << "a nested exchange freed the line under the outer one";
    if (row.outer == Outer::Discovery)
        expectDiscovered();

    sim->lateAnswerMs = 0;
    reportLoop(600);
    // Each report the controller sent arrives once, and nothing else does (the
    // IR play's own announcement aside).
    QStringList events;
    for (const QString& c : host.calls)
        if (!c.endsWith("IR.Info"))
            events << c;
    EXPECT_EQ(events, QStringList(m_reportsSent, kReportEvent));
    expectLineFree();
}

std::vector<NestRow> nestRows()
{
    std::vector<NestRow> rows;
    for (Outer o : {Outer::BlockWait, Outer::CommandWait, Outer::Discovery, Outer::ParameterRead})
        for (Nested n : {Nested::SetVar, Nested::WriteScreen, Nested::GetParameter, Nested::PlayIR,
                         Nested::IRLearnStart, Nested::X10, Nested::BlockRead})
            rows.push_back({n, o});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, NestedExchanges, ::testing::ValuesIn(nestRows()), nestName);

// ---------------------------------------------------------------------------
// Every block read, answered late, twice, or with another block's reply: each
// read takes its own block or none, and a read that follows takes its own too.

enum class Read { Identify, IRSize, ModuleTable, Parameter, IOPoll };
enum class Answer { Late, Twice, OtherBlock };

struct ReadRow
{
    Read read;
    Answer answer;
};

void PrintTo(const ReadRow& r, std::ostream* os) { *os << int(r.read) << "/" << int(r.answer); }

std::string readName(const ::testing::TestParamInfo<ReadRow>& info)
{
    static const char* reads[] = {"Identify", "IRSize", "ModuleTable", "Parameter", "IOPoll"};
    static const char* answers[] = {"AnsweredLate", "AnsweredTwice", "AnsweredByAnotherBlock"};
    return std::string(reads[int(info.param.read)]) + "_" + answers[int(info.param.answer)];
}

class BlockReads : public LineFixture, public ::testing::WithParamInterface<ReadRow>
{};

TEST_P(BlockReads, EachReadTakesItsOwnBlockOrNone)
{
    const ReadRow row = GetParam();
    gControllerTiming.discoveryReplySeconds = 2;
    static const quint16 address[] = {0x8FB7, 0x007F, 0x01B0, 0x8BB4, 0x8DB5};
    QuillonSim::ReplyFault f;
    f.onBlock = address[int(row.read)];
    switch (row.answer) {
    case Answer::Late:
        f.delayMs = 2500; // after its wait gave up
        break;
    case Answer::Twice:
        f.twice = true;
        break;
    case Answer::OtherBlock:
        f.otherBlock = true;
        break;
    }
    sim->replyFaults = {f};
    // A report on the line while the reads go on.
    QTimer::singleShot(300, sim.get(), [this] { sim->sendRaw(kReport); });

    if (row.read <= Read::ModuleTable) {
        start->FindCPUQX();
        if (row.read == Read::ModuleTable && row.answer == Answer::Late) {
            // Its one wait gave up: nothing found, and nothing made up.
            EXPECT_FALSE(gPlugin.DiscoveryComplete);
            for (int k = 0; k < 128; ++k)
                EXPECT_EQ(gPlugin.UnitTypes[size_t(k)], 0) << "unit " << k + 1;
        } else {
            EXPECT_TRUE(gPlugin.DiscoveryComplete);
            expectDiscovered();
        }
    } else if (row.read == Read::Parameter) {
        EXPECT_EQ(cmds->GetParameter(3, 5), 777);
    } else {
        bool got = false;
        for (int attempt = 0; attempt < 2 && !got; ++attempt)
            got = readBlock(0x8D, 0xB5);
        EXPECT_TRUE(got);
    }
    // Whatever of the fault is still on its way reaches a read that follows.
    for (const Read next : {Read::IRSize, Read::IOPoll}) {
        const bool ok = next == Read::IRSize ? readBlock(0x00, 0x7F) : readBlock(0x8D, 0xB5);
        EXPECT_TRUE(ok) << "the read after the fault took another block";
    }
    EXPECT_TRUE(sim->replyFaults.isEmpty()) << "the fault was never played";
    reportLoop(600);
    EXPECT_EQ(host.calls, QStringList{kReportEvent});
    expectLineFree();
}

std::vector<ReadRow> readRows()
{
    std::vector<ReadRow> rows;
    for (Read r : {Read::Identify, Read::IRSize, Read::ModuleTable, Read::Parameter, Read::IOPoll})
        for (Answer a : {Answer::Late, Answer::Twice, Answer::OtherBlock})
            rows.push_back({r, a});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, BlockReads, ::testing::ValuesIn(readRows()), readName);

// ---------------------------------------------------------------------------
// An acknowledgement owed from a command whose wait ended on a report, coming
// with a door change right behind it, in each kind of wait that follows.

enum class Next { BlockRead, ParameterRead, Command, ReportLoop };

std::string nextName(const ::testing::TestParamInfo<Next>& info)
{
    static const char* next[] = {"InABlockWait", "InAParameterRead", "InACommandWait", "InTheReportLoop"};
    return std::string("OwedAcknowledgement_") + next[int(info.param)];
}

class OwedAcknowledgements : public LineFixture, public ::testing::WithParamInterface<Next>
{};

TEST_P(OwedAcknowledgements, IsNoBlockReplyAndTheReportBehindItIsKept)
{
    const Next next = GetParam();
    // Acknowledgements begin as block replies do.
    sim->ackFirstByte = 0x2A;
    // The command's answer: a door change at once (which ends its wait), the
    // acknowledgement itself later, with the door's next change right behind it.
    sim->reportBeforeAnswer = hex("F0050200");
    QuillonSim::ReplyFault f;
    f.on = QuillonSim::FrameKind::Command;
    f.delayMs = 250;
    f.after = hex("F0050201");
    sim->replyFaults = {f};
    ASSERT_TRUE(sendAndWait(Frames::Command(0x29, 2, 9), 3, 0));
    ASSERT_TRUE(waitFor([this] { return !host.calls.isEmpty(); }, 2000));

    switch (next) {
    case Next::BlockRead:
        EXPECT_TRUE(readBlock(0x8D, 0xB5));
        break;
    case Next::ParameterRead:
        EXPECT_EQ(cmds->GetParameter(3, 5), 777);
        break;
    case Next::Command:
        EXPECT_TRUE(command());
        break;
    case Next::ReportLoop:
        break;
    }
    reportLoop(600);
    QStringList expected{"SetDeviceStatus #3 2", "ValueChangeEvent #3 1", "SetDeviceStatus #3 3",
                         "ValueChangeEvent #3 0"};
    EXPECT_EQ(host.calls, expected);
    EXPECT_TRUE(readBlock(0x8D, 0xB5));
    expectLineFree();
}

// ---------------------------------------------------------------------------
// A reply that trickles in a byte at a time, or stops and is followed by a
// report: the reply's bytes are never reports, the report is never lost.

struct StopRow
{
    const char* name;
    int trickleSlowGaps;   // > 0: the reply trickles with this many gaps of 400 ms
    int reportAfterStopMs; // >= 0: the reply stops, a report follows this late
};

void PrintTo(const StopRow& r, std::ostream* os) { *os << r.name; }

class StoppedReplies : public LineFixture, public ::testing::WithParamInterface<StopRow>
{
protected:
    bool m_trickled = false;
};

TEST_P(StoppedReplies, NoReportMadeUpNoneLost)
{
    const StopRow row = GetParam();
    if (row.trickleSlowGaps > 0) {
        // Gaps of 1 to 400 ms between single bytes: a few long ones among short.
        QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [this, row](const QByteArray& f) {
            if (quint8(f[0]) != 0x2A || !sim->trickleGapsMs.isEmpty() || m_trickled)
                return;
            m_trickled = true;
            static const int kGaps[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 30};
            for (int i = 0; i < 264; ++i)
                sim->trickleGapsMs << kGaps[i % 10];
            for (int k = 1; k <= row.trickleSlowGaps; ++k)
                sim->trickleGapsMs[k * 264 / (row.trickleSlowGaps + 1)] = 400;
        });
        QTimer::singleShot(300, sim.get(), [this] { sim->sendRaw(kReport); });
    } else {
        QuillonSim::ReplyFault f;
        f.cutAfter = 160;
        f.inside = kReport;
        f.insideAfterMs = row.reportAfterStopMs;
        sim->replyFaults = {f};
    }
    QElapsedTimer sinceRead;
    sinceRead.start();
    qint64 reportedAfterMs = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (reportedAfterMs < 0 && host.calls.contains(kReportEvent))
            reportedAfterMs = sinceRead.elapsed();
    });
    watch.start(5);
    // A wait long enough that a report kept until its end is seen to be late.
    const int waitS = row.reportAfterStopMs >= 0 ? 6 : 2;
    bool got = false;
    for (int attempt = 0; attempt < 2 && !got; ++attempt)
        got = readBlock(0x8D, 0xB5, waitS);
    EXPECT_TRUE(got);
    reportLoop(1500);
    watch.stop();
    EXPECT_EQ(host.calls, QStringList{kReportEvent});
    if (row.reportAfterStopMs >= 0) {
        // Handed on once the line has been quiet a moment after it, not when
        // the wait for the rest of the reply gives up.
        EXPECT_GE(reportedAfterMs, 0);
        EXPECT_LT(reportedAfterMs, row.reportAfterStopMs + 2500) << "report kept back";
    }
    EXPECT_TRUE(readBlock(0x8D, 0xB5));
    expectLineFree();
}

INSTANTIATE_TEST_SUITE_P(Table, StoppedReplies,
                         ::testing::Values(StopRow{"TricklingWithinItsWait", 1, -1},
                                           StopRow{"TricklingPastItsWait", 5, -1},
                                           StopRow{"ReportAfterAStop_100ms", 0, 100},
                                           StopRow{"ReportAfterAStop_200ms", 0, 200},
                                           StopRow{"ReportAfterAStop_300ms", 0, 300},
                                           StopRow{"ReportAfterAStop_450ms", 0, 450}),
                         [](const ::testing::TestParamInfo<StopRow>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A steady stream of door changes (an alarm panel with a few active sensors)
// running through start-up or through polls, while acknowledgements begin as
// block replies do: every change is reported once and soon, and no command
// waits out its time with its acknowledgement already in.

enum class Phase { StartUp, Polls };

struct StreamRow
{
    const char* name;
    Phase phase;
    int periodMs;
    // Acknowledgements 2A 00 00: a few back to back look like a block reply's header.
    bool zeroAcks = false;
};

void PrintTo(const StreamRow& r, std::ostream* os) { *os << r.name; }

class ReportStreams : public LineFixture, public ::testing::WithParamInterface<StreamRow>
{};

TEST_P(ReportStreams, EveryChangeReportedOnceAndSoonNoCommandTimesOut)
{
    const StreamRow row = GetParam();
    constexpr int kPoints = 7;
    constexpr int kLatencyMs = 3000;
    sim->ackFirstByte = 0x2A;
    sim->ackEchoesCode = !row.zeroAcks;
    // As the program runs it: the module table is awaited after a settle time.
    gControllerTiming.unitTableDelayMs = 2000;
    gPlugin.ReplyTimeout = 4;

    // Per point, the events its changes must give, and when each change went out.
    QVector<QStringList> expected(kPoints);
    QVector<QList<qint64>> sentAt(kPoints);
    QElapsedTimer clock;
    clock.start();
    int changes = 0;
    auto change = [&] {
        const int point = changes % kPoints;
        // Each point alternates, starting by coming on.
        const int level = (changes / kPoints) % 2;
        const QString code = "#" + QString::number(point + 1);
        expected[point] << "SetDeviceStatus " + code + (level ? " 3" : " 2")
                        << "ValueChangeEvent " + code + (level ? " 0" : " 1");
        sentAt[point] << clock.elapsed();
        sim->sendIOChange(5, point, level);
        ++changes;
    };
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, change);
    QVector<QList<qint64>> seenAt(kPoints);
    qsizetype watched = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (; watched < host.calls.size(); ++watched) {
            const QString& c = host.calls[watched];
            if (c.startsWith("SetDeviceStatus #"))
                seenAt[c.mid(17, 1).toInt() - 1] << clock.elapsed();
        }
    });
    watch.start(5);
    if (row.phase == Phase::StartUp) {
        // The stream sets in behind the module table's reply with a few changes
        // at once, so that the first side commands' waits end on them and their
        // acknowledgements come back to back.
        QObject::connect(sim.get(), &QuillonSim::frameReceived, &stream, [&](const QByteArray& f) {
            if (f.startsWith(Frames::BlockRequest(0x01, 0xB0)) && !stream.isActive())
                QTimer::singleShot(50, &stream, [&] {
                    for (int i = 0; i < 5; ++i)
                        change();
                    stream.start(row.periodMs);
                });
        });
    } else {
        stream.start(row.periodMs);
    }

    QList<qint64> slowCommands; // ms, of each command that waited its time out
    auto timed = [&](const std::function<bool()>& f) {
        QElapsedTimer t;
        t.start();
        if (!f() || t.elapsed() >= 1500)
            slowCommands << t.elapsed();
    };
    if (row.phase == Phase::StartUp) {
        start->FindCPUQX();
        EXPECT_TRUE(gPlugin.DiscoveryComplete);
        expectDiscovered();
        // The side switches as a start sends them: off, then on again. A wait
        // may end on a report, before the controller has the frame.
        timed([&] { return start->SendIOCommand(false), true; });
        timed([&] { return start->SendX10Command(false), true; });
        timed([&] { return start->SendIRCommands(false), true; });
        timed([&] { return start->SendCommand07(), true; });
        // The start's own work before it switches the sides on (the IR files,
        // the devices): no one reads the line meanwhile.
        QThread::msleep(300);
        timed([&] { return start->SendIRCommands(true), true; });
        timed([&] { return start->SendIOCommand(true), true; });
        timed([&] { return start->SendX10Command(true), true; });
    }
    // The polls' cycle: a block read, a command between.
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(readBlock(0x8D, 0xB5, 4)) << "poll " << i;
        timed([&] { return command(); });
    }
    if (row.phase == Phase::StartUp) {
        EXPECT_EQ(sim->ioSide, 2);
        EXPECT_EQ(sim->x10Side, 1);
        EXPECT_EQ(sim->irSide, 1);
    }
    stream.stop();
    reportLoop(1500);
    watch.stop();

    EXPECT_TRUE(slowCommands.isEmpty()) << "commands that waited their time out (ms): "
                                        << QStringList([&] {
                                               QStringList l;
                                               for (qint64 ms : slowCommands)
                                                   l << QString::number(ms);
                                               return l;
                                           }()).join(", ").toStdString();
    for (int p = 0; p < kPoints; ++p) {
        QStringList got;
        const QString code = "#" + QString::number(p + 1) + " ";
        for (const QString& c : host.calls)
            if (c.contains(code))
                got << c;
        EXPECT_EQ(got, expected[p]) << "point " << p;
        for (qsizetype i = 0; i < qMin(sentAt[p].size(), seenAt[p].size()); ++i)
            EXPECT_LT(seenAt[p][i] - sentAt[p][i], kLatencyMs) << "point " << p << " change " << i;
    }
    expectLineFree();
}

INSTANTIATE_TEST_SUITE_P(Table, ReportStreams,
                         ::testing::Values(StreamRow{"Every150msThroughStartUp", Phase::StartUp, 150},
                                           StreamRow{"Every200msThroughStartUp", Phase::StartUp, 200},
                                           StreamRow{"Every150msThroughPolls", Phase::Polls, 150},
                                           StreamRow{"Every200msThroughPolls", Phase::Polls, 200},
                                           StreamRow{"Every150msThroughStartUp_ZeroAcks", Phase::StartUp, 150, true},
                                           StreamRow{"Every200msThroughStartUp_ZeroAcks", Phase::StartUp, 200, true},
                                           StreamRow{"Every150msThroughPolls_ZeroAcks", Phase::Polls, 150, true}),
                         [](const ::testing::TestParamInfo<StreamRow>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A stop (or a wait its user gave up) inside an exchange that goes on to more
// frames or tries again: nothing more goes on the line, and a wait the stop
// ended is logged as no time-out of the controller's.

enum class Sender { Parameter, Discovery, X10Sequence };

void PrintTo(const Sender& s, std::ostream* os) { *os << int(s); }

std::string senderName(const ::testing::TestParamInfo<Sender>& info)
{
    static const char* names[] = {"GetParameter", "Discovery", "X10Sequence"};
    return std::string("StoppedInItsFirstWait_") + names[int(info.param)];
}

class StopInsideAnExchange : public LineFixture, public ::testing::WithParamInterface<Sender>
{};

TEST_P(StopInsideAnExchange, NothingMoreSentNoTimeOutLogged)
{
    Shutdown::CancellableWaits mark;
    startLogCapture();
    sim->dropAnswers = 1000; // every wait would run to its end
    int frames = 0;
    QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray&) {
        if (++frames == 1)
            QTimer::singleShot(100, sim.get(), [] { Shutdown::cancelWaits(); });
    });
    QElapsedTimer t;
    t.start();
    switch (GetParam()) {
    case Sender::Parameter:
        EXPECT_EQ(cmds->GetParameter(3, 5), 0);
        break;
    case Sender::Discovery:
        start->FindCPUQX();
        EXPECT_FALSE(gPlugin.DiscoveryComplete);
        break;
    case Sender::X10Sequence:
        x10->ExecX10("C", "3", 2, 0, 0, 0);
        break;
    }
    EXPECT_LT(t.elapsed(), 1500) << "the stop did not end the exchange";
    waitFor([] { return false; }, 300); // frames written last reach the controller
    EXPECT_EQ(frames, 1) << "frames sent after the stop";
    EXPECT_EQ(loggedEntries().filter("Timeout"), QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Table, StopInsideAnExchange,
                         ::testing::Values(Sender::Parameter, Sender::Discovery, Sender::X10Sequence), senderName);

// ---------------------------------------------------------------------------
// A line that delivers IR codes without pause.

TEST_F(LineFixture, IRCodesWithoutPauseGoOnAtARemotesRateTheRestCountedOncePerPeriod)
{
    gControllerTiming.irFloodLogMs = 2500; // longer than the flood lasts
    loggedEntries().clear();
    constexpr int kSent = 300;
    QByteArray flood;
    for (int i = 0; i < kSent; ++i)
        flood += hex("FD") + QByteArray(1, char(i % 200 + 1)) + hex("00");
    QElapsedTimer t;
    t.start();
    sim->sendRaw(flood); // about a second on the line
    reportLoop(1500);
    const qint64 seconds = (t.elapsed() + 999) / 1000;
    const int delivered = int(host.calls.filter("IREvent").size());
    EXPECT_GE(delivered, Protocol::kIRBurst);
    EXPECT_LE(delivered, Protocol::kIRBurst + Protocol::kIRPerSecond * seconds);
    ASSERT_TRUE(waitFor([] { return !loggedEntries().filter("not sent on xAP").isEmpty(); }, 5000));
    waitFor([] { return false; }, 1000);
    const QStringList entries = loggedEntries().filter("not sent on xAP");
    ASSERT_EQ(entries.size(), 1) << entries.join("\n").toStdString();
    EXPECT_TRUE(entries[0].contains(": " + QString::number(kSent - delivered) + " not sent")) << entries[0].toStdString();
    // After the flood, a person's remote is heard at once.
    host.calls.clear();
    sim->sendRaw(hex("FD0700"));
    reportLoop(300);
    EXPECT_EQ(host.calls, QStringList{"IREvent 7"});
}

INSTANTIATE_TEST_SUITE_P(Table, OwedAcknowledgements,
                         ::testing::Values(Next::BlockRead, Next::ParameterRead, Next::Command, Next::ReportLoop),
                         nextName);

} // namespace
