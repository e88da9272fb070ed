// Whatever happens to a block reply (stopped, odd header, late, late rest,
// garbage around it) and wherever it lands (in its own wait, after every wait
// gave up, just ahead of the retry's answer, among commands sent back to back
// whose acknowledgements it delays), the reports the controller made
// around it are delivered, none is made up from its bytes, and the commands
// that follow get their acknowledgements at once.
#include "ProtocolFixture.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

enum class Fault { Cut, OddHeader, LateWhole, LateRest, Garbage };
enum class Timing {
    InsideAWait,
    OutsideAWait,
    BeforeTheRetrysAnswer,
    // The retry's answer comes while the ring sends commands one after the other:
    // some time after its wait gave up, ahead of a command's acknowledgement
    // (just after that command's wait began), or right behind one (as the next
    // command goes out).
    AmidCommands,
    AheadOfAnAck,
    BehindAnAck,
    // As among commands, with acknowledgements that begin with 2A as a block reply does.
    AmidTwoAAcks,
};

struct Row
{
    Fault fault;
    Timing timing;
    bool paced;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << int(row.fault) << "/" << int(row.timing) << (row.paced ? " paced" : "");
}

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    static const char* faults[] = {"Cut", "OddHeader", "LateWhole", "LateRest", "Garbage"};
    static const char* timings[] = {"InsideAWait",  "OutsideAWait", "BeforeTheRetrysAnswer",
                                    "AmidCommands", "AheadOfAnAck", "BehindAnAck",  "AmidTwoAAcks"};
    return std::string(faults[int(info.param.fault)]) + "_" + timings[int(info.param.timing)]
        + (info.param.paced ? "_Paced" : "_AtOnce");
}

constexpr int kTimeoutS = 2;
constexpr int kT = kTimeoutS * 1000;
// Reports longer than the link's pause after a stopped reply: they are no part of it.
constexpr int kAfterPauseMs = 900;
// A stalled answer's rest comes this long after the stall; what the controller
// sends meanwhile, acknowledgements too, waits behind it.
constexpr int kRestAfterMs = kAfterPauseMs + 400;
// How long the ring keeps sending commands while a late answer comes in.
constexpr int kCommandsMs = 3500;
// The command whose acknowledgement a late answer goes with.
constexpr int kRiddenCommand = 5;

// The real reports: an X10 address and function pair and a door contact's change,
// ahead of the answer, inside it (while it is stalled) and behind it.
const QByteArray kBefore = hex("FE0104" "FE0112" "F0050200");
const QByteArray kInside = hex("FE0207" "FE0213" "F0050201");
const QByteArray kAfter = hex("FE0300" "FE0312");
// Bytes that are neither a report nor the start of a reply.
const QByteArray kGarbage = hex("0107135580113C00");

QStringList expectedCalls()
{
    QStringList l{"X10Event B5 B 2 [] []", "SetDeviceStatus #3 2", "ValueChangeEvent #3 1",
                  "X10Event C8 C 3 [] []", "SetDeviceStatus #3 3", "ValueChangeEvent #3 0",
                  "X10Event D1 D 2 [] []"};
    l.sort();
    return l;
}

class MisreadBlockTest : public ProtocolTest
{
protected:
    void SetUp() override
    {
        ProtocolTest::SetUp();
        gPlugin.UnitMaps = {umap{5, 12, "#", 0}};
        // The I/O block reads as reports of other points and units wherever a
        // reader falls out of step with it.
        const QByteArray misread = hex("F0050300" "FE0405" "FE0412");
        for (int i = 0; i < 256; ++i)
            sim->ioBlock[i] = misread[i % misread.size()];
    }
};

class ReplyFaults : public MisreadBlockTest, public ::testing::WithParamInterface<Row>
{
protected:

    // The I/O poll: a block read and one retry.
    bool poll()
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            protocol->SendFrame(Frames::BlockRequest(0x8D, 0xB5));
            if (protocol->WaitReply(kTimeoutS, 264, 0x2A))
                return true;
        }
        return false;
    }

    // The answers to the poll's two requests, spoilt as the row says.
    QList<QuillonSim::ReplyFault> faults(Fault fault, Timing timing)
    {
        QuillonSim::ReplyFault f;
        f.before = kBefore;
        f.after = kAfter;
        switch (fault) {
        case Fault::Cut:
            f.cutAfter = 150;
            f.inside = kInside;
            f.insideAfterMs = kAfterPauseMs;
            break;
        case Fault::OddHeader:
            f.oddHeader = true;
            break;
        case Fault::LateWhole:
            f.delayMs = kT / 2;
            break;
        case Fault::LateRest:
            f.cutAfter = 150;
            f.inside = kInside;
            f.insideAfterMs = kAfterPauseMs;
            f.restAfterMs = kRestAfterMs;
            break;
        case Fault::Garbage:
            f.before = kGarbage + kBefore + kGarbage;
            f.after = kAfter + kGarbage;
            break;
        }
        QuillonSim::ReplyFault drop;
        drop.drop = true;
        switch (timing) {
        case Timing::InsideAWait:
            return {f};
        case Timing::OutsideAWait:
            // The first request goes unanswered; the retry's answer comes after its wait gave up.
            f.delayMs = kT + 600;
            return {drop, f};
        case Timing::BeforeTheRetrysAnswer:
            switch (fault) {
            case Fault::Cut:
                f.delayMs = kT - 300; // stops right before the first wait gives up
                return {f};
            case Fault::LateRest:
                f.restAfterMs = kT + 100; // the retry's answer queues behind the rest
                return {f};
            case Fault::OddHeader:
            case Fault::LateWhole: {
                // Clear of the first wait's end, however loaded the machine.
                f.delayMs = kT + 400;
                QuillonSim::ReplyFault retry;
                retry.delayMs = 700;
                return {f, retry};
            }
            case Fault::Garbage:
                return {drop, f};
            }
            break;
        case Timing::AmidCommands:
        case Timing::AmidTwoAAcks:
            f.delayMs = kT + 600;
            return {drop, f};
        case Timing::AheadOfAnAck:
        case Timing::BehindAnAck:
            f.withCommand = kRiddenCommand;
            f.behindThatAck = timing == Timing::BehindAnAck;
            return {drop, f};
        }
        return {};
    }

    // Commands one after the other, as the ring drains them, while the late answer
    // comes in: each takes its acknowledgement (or ends on a report) without
    // waiting beyond what the line itself holds it.
    void commandsBackToBack(Fault fault)
    {
        const int heldMs = fault == Fault::LateRest ? kRestAfterMs : 0;
        QElapsedTimer all;
        all.start();
        for (int i = 0; all.elapsed() < kCommandsMs; ++i) {
            QElapsedTimer t;
            t.start();
            EXPECT_TRUE(command()) << "command " << i << " timed out";
            EXPECT_LT(t.elapsed(), heldMs + 1000) << "command " << i << " waited for its acknowledgement";
        }
    }
};

TEST_P(ReplyFaults, NoReportMadeUpNoneLostEveryAcknowledgementTaken)
{
    const Row row = GetParam();
    sim->paced = row.paced;
    sim->replyFaults = faults(row.fault, row.timing);
    if (row.timing == Timing::AmidTwoAAcks)
        sim->ackFirstByte = 0x2A;
    const bool lateWholeInside = row.fault == Fault::LateWhole && row.timing == Timing::InsideAWait;
    if (row.fault != Fault::Cut && row.fault != Fault::LateRest) // reports in the wait, ahead of the answer
        QTimer::singleShot(300, sim.get(), [this] { sim->sendRaw(kInside); });

    const bool got = poll();
    if (row.timing >= Timing::AmidCommands) {
        EXPECT_FALSE(got) << "both requests went unanswered in time";
        commandsBackToBack(row.fault);
    }
    if (row.timing == Timing::InsideAWait && (row.fault == Fault::OddHeader || row.fault == Fault::Garbage
                                              || lateWholeInside))
        EXPECT_TRUE(got) << "a whole reply that passes its check is the reply";
    if (got)
        EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    reportLoop(4000);

    QStringList calls = host.calls;
    calls.sort();
    EXPECT_EQ(calls, expectedCalls());
    EXPECT_TRUE(sim->replyFaults.isEmpty()) << "the fault was never played";

    expectLineFree();
}

std::vector<Row> allRows()
{
    std::vector<Row> rows;
    for (bool paced : {false, true})
        for (Fault f : {Fault::Cut, Fault::OddHeader, Fault::LateWhole, Fault::LateRest, Fault::Garbage})
            for (Timing t : {Timing::InsideAWait, Timing::OutsideAWait, Timing::BeforeTheRetrysAnswer,
                             Timing::AmidCommands, Timing::AheadOfAnAck, Timing::BehindAnAck,
                             Timing::AmidTwoAAcks}) {
                // Written at once, an answer that comes whole or whose rest follows
                // reads the same wherever it lands among commands: one timing of
                // those is enough.
                const bool whole = f == Fault::OddHeader || f == Fault::LateWhole || f == Fault::LateRest;
                if (t > Timing::AmidCommands && whole && !paced)
                    continue;
                rows.push_back({f, t, paced});
            }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyFaults, ::testing::ValuesIn(allRows()), rowName);

// ---------------------------------------------------------------------------
// A block reply that stops a few bytes short of its end, with reports on the
// line a moment after the stop: the reports fill the place of the missing
// bytes, and the unit they make fails its check. Whichever wait meets it (its
// own block read, or, as a late reply, a command's wait, a learn, a settle
// time or the report loop), the reports are handed on and no reply byte is.

enum class Meets { PollWait, ParameterRead, Discovery, CommandWait, LearnWait, Settle, ReportLoop };

struct ShortRow
{
    Meets meets;
    int shortBy; // bytes of the reply that never come
};

void PrintTo(const ShortRow& r, std::ostream* os) { *os << int(r.meets) << "/" << r.shortBy; }

std::string shortName(const ::testing::TestParamInfo<ShortRow>& info)
{
    static const char* meets[] = {"PollWait",  "ParameterRead", "Discovery", "CommandWait",
                                  "LearnWait", "Settle",        "ReportLoop"};
    return std::string(meets[int(info.param.meets)]) + "_" + std::to_string(info.param.shortBy) + "BytesShort";
}

// Quiet on the line between the stop and the reports behind it.
constexpr int kStopQuietMs = 300;
// A late answer comes this long after its request, when its wait has given up.
constexpr int kLateMs = 1300;
// A door change and an X10 pair: more bytes than any cut here leaves missing.
const QByteArray kBehindStop = hex("F0050200" "FE0104" "FE0112");

class LineFaultFixture : public MisreadBlockTest
{
protected:
    void SetUp() override
    {
        MisreadBlockTest::SetUp();
        gPlugin.ReplyTimeout = 1;
        gControllerTiming.discoveryReplySeconds = 1;
        sim->paced = true;
    }

    // The I/O poll's request, whose one wait gives up before its answer comes.
    void givenUpPoll()
    {
        protocol->SendFrame(Frames::BlockRequest(0x8D, 0xB5));
        EXPECT_FALSE(protocol->WaitReply(1, 264, 0x2A));
    }

    quint64 received() { return link->readCount() + quint64(link->BytesWaiting()); }
    // Once the first request for the block is in, the pieces go out, each the
    // given time after the one before, from when the program has received
    // replyBytes more bytes: a loaded machine's stall cannot run a stop and
    // what follows it together.
    void behindTheStop(quint16 block, int replyBytes, const QList<QPair<int, QByteArray>>& pieces)
    {
        QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(),
                         [this, block, replyBytes, pieces](const QByteArray& fr) {
            if (m_armed || quint8(fr[0]) != 0x2A || (quint8(fr[3]) << 8 | quint8(fr[4])) != block)
                return;
            m_armed = true;
            const quint64 target = received() + quint64(replyBytes);
            auto* watch = new QTimer(sim.get());
            QObject::connect(watch, &QTimer::timeout, sim.get(), [this, watch, target, pieces] {
                if (received() < target)
                    return;
                watch->stop();
                watch->deleteLater();
                sendPieces(pieces);
            });
            watch->start(5);
        });
    }
    void sendPieces(QList<QPair<int, QByteArray>> pieces)
    {
        if (pieces.isEmpty())
            return;
        const QPair<int, QByteArray> p = pieces.takeFirst();
        QTimer::singleShot(p.first, sim.get(), [this, p, pieces] {
            sim->sendRaw(p.second);
            sendPieces(pieces);
        });
    }
    bool m_armed = false;
};

class StoppedShort : public LineFaultFixture, public ::testing::WithParamInterface<ShortRow>
{};

TEST_P(StoppedShort, TheReportsBehindTheStopAreHandedOnNoneMadeUp)
{
    const ShortRow row = GetParam();
    QuillonSim::ReplyFault f;
    f.cutAfter = 264 - row.shortBy;
    static const quint16 address[] = {0x8DB5, 0x8BB4, 0x8FB7};
    behindTheStop(row.meets <= Meets::Discovery ? address[int(row.meets)] : 0x8DB5, f.cutAfter,
                  {{kStopQuietMs, kBehindStop}});
    switch (row.meets) {
    case Meets::PollWait: {
        f.onBlock = 0x8DB5;
        sim->replyFaults = {f};
        bool got = false;
        for (int attempt = 0; attempt < 2 && !got; ++attempt) {
            protocol->SendFrame(Frames::BlockRequest(0x8D, 0xB5));
            got = protocol->WaitReply(1, 264, 0x2A);
        }
        EXPECT_TRUE(got) << "the retry's whole reply";
        break;
    }
    case Meets::ParameterRead:
        f.onBlock = 0x8BB4;
        sim->parameterSets[4] = QVector<quint16>(128, 0);
        sim->parameterSets[4][2] = 777;
        sim->replyFaults = {f};
        EXPECT_EQ(cmds->GetParameter(3, 5), 777);
        break;
    case Meets::Discovery:
        f.onBlock = 0x8FB7;
        sim->replyFaults = {f};
        start->FindCPUQX();
        EXPECT_TRUE(gPlugin.DiscoveryComplete);
        break;
    case Meets::CommandWait:
        f.delayMs = kLateMs;
        sim->replyFaults = {f};
        givenUpPoll();
        // The acknowledgement comes behind the late reply and the reports.
        sim->lateAnswerMs = 1200;
        EXPECT_TRUE(command());
        sim->lateAnswerMs = 0;
        break;
    case Meets::LearnWait:
        f.delayMs = kLateMs;
        sim->replyFaults = {f};
        givenUpPoll();
        QTimer::singleShot(1000, sim.get(), [this] { sim->sendIRMatch(0, 17); });
        ir->LearnIREnd();
        EXPECT_FALSE(host.calls.contains("IREvent 17")) << "the match ended the learn";
        break;
    case Meets::Settle:
        f.delayMs = kLateMs;
        sim->replyFaults = {f};
        givenUpPoll();
        protocol->Settle(1000);
        break;
    case Meets::ReportLoop:
        f.delayMs = kLateMs;
        sim->replyFaults = {f};
        givenUpPoll();
        break;
    }
    reportLoop(1500);
    QStringList calls;
    for (const QString& c : host.calls)
        if (!c.startsWith("IREvent") && !c.contains("IR.Info") && !c.startsWith("Log"))
            calls << c;
    calls.sort();
    QStringList expected{"X10Event B5 B 2 [] []", "SetDeviceStatus #3 2", "ValueChangeEvent #3 1"};
    expected.sort();
    EXPECT_EQ(calls, expected);
    expectLineFree();
}

std::vector<ShortRow> shortRows()
{
    std::vector<ShortRow> rows;
    for (Meets m : {Meets::PollWait, Meets::ParameterRead, Meets::Discovery, Meets::CommandWait, Meets::LearnWait,
                    Meets::Settle, Meets::ReportLoop})
        for (int k = 1; k <= 6; ++k)
            rows.push_back({m, k});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, StoppedShort, ::testing::ValuesIn(shortRows()), shortName);

// ---------------------------------------------------------------------------
// A block reply that pauses in the middle longer than the line's pause after a
// stop, with a report in the pause, and then comes whole: whichever read asked
// for it takes it as its reply, without asking again, and the report is kept.

enum class PausedRead { Poll, Parameter, Identify, IRSize, ModuleTable };

struct PauseRow
{
    PausedRead read;
    int pausedAfter; // bytes of the reply ahead of the pause
};

void PrintTo(const PauseRow& r, std::ostream* os) { *os << int(r.read) << "/" << r.pausedAfter; }

std::string pauseName(const ::testing::TestParamInfo<PauseRow>& info)
{
    static const char* reads[] = {"Poll", "Parameter", "Identify", "IRSize", "ModuleTable"};
    return std::string(reads[int(info.param.read)]) + "_PausedAfter" + std::to_string(info.param.pausedAfter);
}

class PausedReplies : public LineFaultFixture, public ::testing::WithParamInterface<PauseRow>
{};

TEST_P(PausedReplies, TheReadTakesItsWholeReplyTheReportIsKept)
{
    const PauseRow row = GetParam();
    gPlugin.ReplyTimeout = 2;
    gControllerTiming.discoveryReplySeconds = 2;
    static const quint16 address[] = {0x8DB5, 0x8BB4, 0x8FB7, 0x007F, 0x01B0};
    const quint16 block = address[int(row.read)];
    QuillonSim::ReplyFault f;
    f.onBlock = block;
    f.cutAfter = row.pausedAfter;
    f.inside = hex("F0050200");
    f.insideAfterMs = 550;
    f.restAfterMs = 900;
    sim->replyFaults = {f};
    sim->parameterSets[4] = QVector<quint16>(128, 0);
    sim->parameterSets[4][2] = 777;
    sim->setUnit(7, 13);
    switch (row.read) {
    case PausedRead::Poll:
        protocol->SendFrame(Frames::BlockRequest(0x8D, 0xB5));
        EXPECT_TRUE(protocol->WaitReply(2, 264, 0x2A));
        EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
        EXPECT_EQ(gPlugin.ReplyBuffer[4], 0xB5);
        break;
    case PausedRead::Parameter:
        EXPECT_EQ(cmds->GetParameter(3, 5), 777);
        break;
    case PausedRead::Identify:
    case PausedRead::IRSize:
    case PausedRead::ModuleTable:
        start->FindCPUQX();
        EXPECT_TRUE(gPlugin.DiscoveryComplete);
        EXPECT_EQ(gPlugin.UnitTypes[6], 13);
        break;
    }
    int asked = 0;
    for (const QByteArray& fr : sim->framesOf(QuillonSim::FrameKind::BlockRead))
        if ((quint8(fr[3]) << 8 | quint8(fr[4])) == block)
            ++asked;
    EXPECT_EQ(asked, 1) << "the block was asked for again";
    EXPECT_TRUE(sim->replyFaults.isEmpty());
    reportLoop(600);
    EXPECT_EQ(host.calls, (QStringList{"SetDeviceStatus #3 2", "ValueChangeEvent #3 1"}));
    expectLineFree();
}

std::vector<PauseRow> pauseRows()
{
    std::vector<PauseRow> rows;
    for (PausedRead r : {PausedRead::Poll, PausedRead::Parameter, PausedRead::Identify, PausedRead::IRSize,
                         PausedRead::ModuleTable})
        for (int n : {6, 200})
            rows.push_back({r, n});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, PausedReplies, ::testing::ValuesIn(pauseRows()), pauseName);

// ---------------------------------------------------------------------------
// Where a block reply stopped, or whether it stopped at all, is told by its
// check and by what the bytes around it can be, not by the line's pauses: a
// reply that trickles past its wait, pauses and then trickles, or pauses
// inside data that reads as reports, is never read as reports; reports right
// behind a stop, packed with it, split in two or holding a 2A are never taken
// for its tail. A read whose reply is known to have stopped asks again at once.

enum class Shape {
    PauseThenTrickle,
    StallInsideCutData,
    ReportSplitBehindCut,
    ReportBehindStop,
    PackedWithStop,
    IRReportWith2ABehindStop,
    X10PairPackedBehindCut,
};
// What the polled block's data reads as, when read out of step: door and X10
// reports, IR matches (every I/O point 1 alone on), or the variables' values.
enum class Fill { Misread, IRMatches, Variables };

struct ShapeRow
{
    Shape shape;
    Fill fill;
    int quietMs; // silence between the stop and what comes behind it
};

void PrintTo(const ShapeRow& r, std::ostream* os) { *os << int(r.shape) << "/" << int(r.fill) << "/" << r.quietMs; }

std::string shapeName(const ::testing::TestParamInfo<ShapeRow>& info)
{
    static const char* shapes[] = {"PauseThenTrickle",         "StallInsideCutData", "ReportSplitBehindCut",
                                   "ReportBehindStop",         "PackedWithStop",     "IRReportWith2ABehindStop",
                                   "X10PairPackedBehindCut"};
    static const char* fills[] = {"Misread", "IRMatches", "Variables"};
    return std::string(shapes[int(info.param.shape)]) + "_" + fills[int(info.param.fill)] + "_"
        + std::to_string(info.param.quietMs) + "ms";
}

class ReplyShapes : public LineFaultFixture, public ::testing::WithParamInterface<ShapeRow>
{
protected:
    // Single bytes with a gap behind each: 1 ms mostly, one in every `every` a
    // gap of 1 to 400 ms, and after byte `pauseAfter` (when > 0) the pause given.
    void trickleNextBlockReply(quint16 block, int every, int pauseAfter, int pauseMs)
    {
        QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(),
                         [this, block, every, pauseAfter, pauseMs](const QByteArray& fr) {
            if (m_trickled || quint8(fr[0]) != 0x2A || (quint8(fr[3]) << 8 | quint8(fr[4])) != block)
                return;
            m_trickled = true;
            static const int kGaps[] = {100, 250, 40, 180, 1, 120, 60, 200, 150, 30, 90, 170, 400};
            for (int i = 0; i < Frames::kBlockReplyLength; ++i)
                sim->trickleGapsMs << (i % every == every - 1 ? kGaps[(i / every) % 13] : 1);
            if (pauseAfter > 0)
                sim->trickleGapsMs[pauseAfter - 1] = pauseMs;
        });
    }
    bool m_trickled = false;
};

TEST_P(ReplyShapes, NoReplyByteReadAsAReportNoReportTakenForTheReply)
{
    const ShapeRow row = GetParam();
    switch (row.fill) {
    case Fill::Misread:
        break;
    case Fill::IRMatches:
        sim->ioBlock = QByteArray(256, char(0xFD));
        break;
    case Fill::Variables:
        for (int i = 0; i < 128; ++i)
            sim->vars[i] = i % 2 ? 0x0003 : 0x05F0; // F0 05 03 00: a door report
        break;
    }
    const quint16 block = row.fill == Fill::Variables ? 0x4A00 : 0x8DB5;
    // The block as the program last polled it.
    {
        protocol->SendFrame(Frames::BlockRequest(quint8(block >> 8), quint8(block)));
        ASSERT_TRUE(protocol->WaitReply(2, 264, 0x2A));
    }
    QuillonSim::ReplyFault f;
    f.onBlock = block;
    int waitS = 3;
    bool stops = true;
    QStringList expected{"X10Event B5 B 2 [] []", "SetDeviceStatus #3 2", "ValueChangeEvent #3 1"};
    switch (row.shape) {
    case Shape::PauseThenTrickle:
        waitS = 1;
        stops = false;
        trickleNextBlockReply(block, 20, 6, 700);
        behindTheStop(block, 264, {{row.quietMs, kBehindStop}});
        break;
    case Shape::StallInsideCutData:
        f.cutAfter = 102;
        f.restAfterMs = 100;
        f.endsAt = 262;
        behindTheStop(block, 262, {{row.quietMs, kBehindStop}});
        break;
    case Shape::ReportSplitBehindCut:
        f.cutAfter = 258;
        behindTheStop(block, 258, {{row.quietMs, hex("F005")}, {80, hex("0200" "FE0104" "FE0112")}});
        break;
    case Shape::ReportBehindStop:
        f.cutAfter = 262;
        f.after = kBehindStop;
        f.insideAfterMs = row.quietMs;
        break;
    case Shape::PackedWithStop:
        sim->paced = false;
        f.cutAfter = 262;
        f.after = kBehindStop;
        f.packed = true;
        break;
    case Shape::IRReportWith2ABehindStop:
        f.cutAfter = 262;
        f.after = hex("FD2A2A") + kBehindStop; // location 42 whichever byte is read
        f.insideAfterMs = row.quietMs;
        expected << "IREvent 42";
        break;
    case Shape::X10PairPackedBehindCut:
        sim->paced = false;
        f.cutAfter = 262;
        f.after = hex("FE0104" "FE0112");
        f.packed = true;
        expected = QStringList{"X10Event B5 B 2 [] []"};
        break;
    }
    if (row.shape != Shape::PauseThenTrickle)
        sim->replyFaults = {f};
    host.calls.clear();

    QElapsedTimer t;
    t.start();
    bool got = false;
    for (int attempt = 0; attempt < 2 && !got; ++attempt) {
        protocol->SendFrame(Frames::BlockRequest(quint8(block >> 8), quint8(block)));
        got = protocol->WaitReply(waitS, 264, 0x2A);
    }
    if (stops) {
        EXPECT_TRUE(got) << "the retry's whole reply";
        // Asked again as soon as the reply is known to have stopped, not after its wait.
        EXPECT_LT(t.elapsed(), waitS * 1000 - 500) << "the read waited out its time-out";
    }
    if (got)
        EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    // Until every trickled byte is out.
    QElapsedTimer trickle;
    trickle.start();
    while (!sim->trickleGapsMs.isEmpty() && trickle.elapsed() < 15000)
        reportLoop(100);
    EXPECT_TRUE(sim->trickleGapsMs.isEmpty());
    reportLoop(1500);

    QStringList calls;
    for (const QString& c : host.calls)
        if (!c.contains("IR.Info") && !c.startsWith("Log"))
            calls << c;
    calls.sort();
    expected.sort();
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(sim->replyFaults.isEmpty()) << "the fault was never played";
    expectLineFree();
}

std::vector<ShapeRow> shapeRows()
{
    std::vector<ShapeRow> rows;
    // The reply's own data read as reports: every fill that reads as some.
    for (Shape s : {Shape::PauseThenTrickle, Shape::StallInsideCutData})
        for (Fill f : {Fill::Misread, Fill::IRMatches, Fill::Variables})
            rows.push_back({s, f, 300});
    // Reports taken for the reply's tail: however soon behind the stop.
    rows.push_back({Shape::ReportSplitBehindCut, Fill::Misread, 300});
    for (int quiet : {0, 20, 40})
        rows.push_back({Shape::ReportBehindStop, Fill::Misread, quiet});
    rows.push_back({Shape::PackedWithStop, Fill::Misread, 0});
    for (int quiet : {0, 20})
        rows.push_back({Shape::IRReportWith2ABehindStop, Fill::Misread, quiet});
    rows.push_back({Shape::X10PairPackedBehindCut, Fill::Misread, 0});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyShapes, ::testing::ValuesIn(shapeRows()), shapeName);

} // namespace
