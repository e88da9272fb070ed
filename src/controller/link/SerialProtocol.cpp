#include "SerialProtocol.h"
#include "CommsLog.h"
#include "Frames.h"
#include "LinkState.h"
#include "core/Globals.h"
#include "core/Shutdown.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
QString dec(int v) { return QString::number(v); }
// How many event pumps of the link are on the stack: code that runs inside one
// is nested in whatever exchange pumped it.
int s_pumpDepth = 0;
struct Pumping
{
    Pumping() { ++s_pumpDepth; }
    ~Pumping() { --s_pumpDepth; }
    Pumping(const Pumping&) = delete;
    Pumping& operator=(const Pumping&) = delete;
};
} // namespace

struct SerialProtocol::Wait
{
    int limitMs;
    int length;
    int firstByte;
    Mode mode;
    bool wantsBlock;
    QElapsedTimer wall;
    qint64 lastEvents = -1;
    int elapsed = 0;
    int count = 0;
    bool done = false;
    bool result = false;
    // Its reply was taken by a sender nested inside it: kept here, as the
    // nested exchange's own reply overwrites the buffer.
    bool takenByNested = false;
    std::array<quint8, 264> reply{};
    // A reply naming another block came: the request goes once more.
    bool foreignSeen = false;
    bool retried = false;
    bool resentAfterStop = false;
    Wait* outer = nullptr;
};

void SerialProtocol::Delay(int ms)
{
    Pumping p;
    CommLink::Delay(ms);
}

SerialProtocol::SerialProtocol(CommLink& link, QObject* parent) : QObject(parent), m_link(link)
{
    m_clock.start();
    // Arrival times are taken as the bytes come, not when someone next looks.
    connect(&m_link, &CommLink::dataArrived, this, &SerialProtocol::noteArrivals);
}

void SerialProtocol::noteArrivals()
{
    const quint64 read = m_link.readCount();
    const quint64 end = read + quint64(qMax(0, m_link.BytesWaiting()));
    const qint64 now = m_clock.elapsed();
    if (end < m_streamEnd) {
        // The link threw its buffer away (a new connection): nothing before counts.
        m_arrivals.clear();
        m_owed = 0;
    }
    if (end != m_streamEnd && end > read) {
        // Bytes coming within a few milliseconds are one chunk: a stream read a
        // byte at a time must not leave an entry per byte.
        if (!m_arrivals.empty() && m_arrivals.back().end > read && now - m_arrivals.back().ms <= kChunkMs)
            m_arrivals.back().end = end;
        else
            m_arrivals.push_back({end, now});
    }
    m_streamEnd = end;
    // Kept: the chunk holding the front byte and the one before it.
    while (m_arrivals.size() >= 2 && m_arrivals[1].end <= read)
        m_arrivals.pop_front();
}

qint64 SerialProtocol::arrivalMsAt(quint64 offset) const
{
    for (const Arrival& a : m_arrivals)
        if (a.end > offset)
            return a.ms;
    return m_clock.elapsed();
}

qint64 SerialProtocol::frontArrivalMs() const
{
    return arrivalMsAt(m_link.readCount());
}

qint64 SerialProtocol::quietMs() const
{
    return m_arrivals.empty() ? m_clock.elapsed() : m_clock.elapsed() - m_arrivals.back().ms;
}

int SerialProtocol::contiguous(int count, int gapMs) const
{
    const quint64 read = m_link.readCount();
    const Arrival* previous = nullptr;
    for (const Arrival& a : m_arrivals) {
        if (a.end > read && previous && previous->end > read && a.ms - previous->ms > gapMs)
            return int(qMin<quint64>(quint64(count), previous->end - read));
        previous = &a;
    }
    return count;
}

int SerialProtocol::sleepForData(int ms)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto c = connect(&m_link, &CommLink::dataArrived, &loop, &QEventLoop::quit);
    limit.start(ms);
    {
        Pumping p;
        Shutdown::WaitScope waiting(Shutdown::Wait::ControllerReply, loop);
        if (!Shutdown::waitsEnding())
            loop.exec();
    }
    disconnect(c);
    return int(t.elapsed());
}

bool SerialProtocol::exchangeOutstanding() const
{
    return (m_wait && !m_wait->done) || m_sent.pending;
}

void SerialProtocol::finishOutstanding()
{
    if (m_wait && !m_wait->done) {
        Wait& w = *m_wait;
        drive(w);
        w.takenByNested = true;
        w.reply = {};
        std::copy_n(linkState().ReplyBuffer.begin(), w.reply.size(), w.reply.begin());
        return;
    }
    if (!m_sent.pending || m_sent.depth >= s_pumpDepth)
        return; // nothing sent, or sent by this very caller, whose wait follows
    // Sent by someone pumping events before its wait (a settle time): its reply
    // is taken now and handed to that wait when it begins.
    const int depth = m_sent.depth;
    const bool block = m_sent.block;
    m_sent.pending = false;
    const bool result = waitFor(m_lastTimeoutS, block ? Frames::kBlockReplyLength : 3, block ? 0x2A : 0);
    TakenAhead t{depth, result, {}};
    std::copy_n(linkState().ReplyBuffer.begin(), t.reply.size(), t.reply.begin());
    // Kept only while its owner may still come for it.
    while (m_takenAhead.size() >= kMaxTakenAhead)
        m_takenAhead.erase(m_takenAhead.begin());
    m_takenAhead.push_back(t);
}

int SerialProtocol::SendFrame(const QByteArray& frame)
{
    // Once waits are ending (a stop, a wait given up by its user) no reply can
    // be waited for: a frame sent now would be followed at once by the next.
    if (Shutdown::waitsEnding())
        return 0;
    finishOutstanding();
    const bool block = frame.size() == 8 && quint8(frame[0]) == 0x2A;
    if (block)
        m_blockRequest = frame;
    if (linkState().CommsStarted)
        m_sent = {true, block, frame, s_pumpDepth};
    // What comes after a new request is no longer the rest of an old reply
    // unless its check says so.
    m_owed = 0;
    noteArrivals();
    m_sentAt = m_streamEnd;
    if (linkState().CommsStarted)
        m_link.WriteBytes(frame);
    return 0;
}

QByteArray SerialProtocol::take(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(char(m_link.ReadByte()));
    return out;
}

SerialProtocol::Front SerialProtocol::front(int count, Mode mode, int length)
{
    if (count <= 0)
        return {Front::Empty, 0, -1};
    const int b0 = m_link.PeekByte();
    if (b0 < 0)
        return {Front::Empty, 0, -1};
    if (const int len = Frames::ReportLength(quint8(b0)))
        return {count >= len ? Front::Report : Front::Partial, len, b0};
    if (b0 == 0x2A)
        return frontBlock(count, mode, length);
    return {Front::Other, 1, b0};
}

SerialProtocol::Front SerialProtocol::frontBlock(int count, Mode mode, int length)
{
    constexpr int kUnit = Frames::kBlockReplyLength;
    const Front partial{Front::Partial, kUnit, 0x2A};
    const Front stale{Front::Stale, kUnit, 0x2A};
    const Front block{Front::Block, kUnit, 0x2A};
    const Front other{Front::Other, 1, 0x2A};
    // Bytes that came after a pause do not belong to a unit that had stopped before it.
    const bool stalled = count < kUnit && contiguous(count) < count;
    if (mode == Mode::BlockWait) {
        // Whatever its header says, a unit that starts with 2A is judged whole, by its check.
        if (count >= kUnit)
            return block;
        // So is a unit the line has stopped delivering for as long: what came
        // just before the stop (a report behind a cut reply) is then not kept
        // until the wait gives up.
        return stalled || quietMs() >= kRestGapMs ? stale : partial;
    }
    // Acknowledgements owed from waits that ended on reports come back to back
    // with reports between them, and a few of those (2A 00 00 2A 00 00) read as
    // a block header: where a header names its block they carry the next
    // acknowledgement or a report. Given up as a reply's start, they would hold
    // every byte behind them.
    if (owedAckAtFront(count))
        return other;
    const QByteArray head = m_link.Peek(Frames::kBlockHeaderLength);
    const bool header = Frames::IsBlockHeader(head);
    if (count >= kUnit) {
        const QByteArray unit = m_link.Peek(kUnit);
        if (header || Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData())))
            return block;
        return other;
    }
    const qint64 age = m_clock.elapsed() - frontArrivalMs();
    // Still coming about as fast as the line carries a unit.
    const bool live = !stalled && quietMs() < kLinePauseMs && age < kUnitLineMs;
    if (mode == Mode::ShortWait) {
        // An acknowledgement may begin with 2A: only a stream that goes on past
        // it can still be a block reply out of turn.
        if (count > length && live)
            return partial;
        // Just as long, after trouble, while it may still go on (a late reply's first bytes).
        if (wary() && !stalled && quietMs() < kLinePauseMs && age < kUnitLineMs)
            return partial;
        // A block reply that stopped: more than an acknowledgement and a few reports.
        if (header && count >= 16)
            return stale;
        return other;
    }
    const bool givenUp = m_givenUpMs >= 0 && m_clock.elapsed() - m_givenUpMs < kRemainderMs;
    if (!stalled && (live || ((header || givenUp) && age < kStuckMs)))
        return partial;
    return header || givenUp ? stale : other;
}

bool SerialProtocol::stuck(int count)
{
    const quint64 mark = m_link.readCount();
    if (!m_stuckClock.isValid() || mark != m_stuckMark || count != m_stuckCount) {
        m_stuckMark = mark;
        m_stuckCount = count;
        m_stuckClock.start();
        return false;
    }
    return m_stuckClock.elapsed() >= kStuckMs;
}

void SerialProtocol::readReply(int length)
{
    for (int i = 0; i < length; ++i) {
        const int b = m_link.ReadByte();
        if (i < int(linkState().ReplyBuffer.size()))
            linkState().ReplyBuffer[size_t(i)] = quint8(b);
    }
}

void SerialProtocol::keepPartial(int n)
{
    const qint64 lastMs = arrivalMsAt(m_link.readCount() + quint64(n) - 1);
    const QByteArray start = take(n);
    noteTrouble();
    // Pieces dropped one right after the other are the start of one unit.
    if (!m_partial.isEmpty() && m_partialEnd + quint64(start.size()) == m_link.readCount())
        m_partial += start;
    else
        m_partial = start;
    m_partial = m_partial.left(Frames::kBlockReplyLength - 1);
    m_partialEnd = m_link.readCount();
    m_partialMs = m_clock.elapsed();
    m_partialLastMs = lastMs;
    // Its rest is owed for as long as it follows without a pause.
    m_owed = m_clock.elapsed() - lastMs > kRestGapMs ? 0 : Frames::kBlockReplyLength - int(m_partial.size());
    m_owedLastMs = lastMs;
}

bool SerialProtocol::askedHeaderAt(const QByteArray& bytes, int pos) const
{
    // A 2A that is not the header of the reply to the block asked for (a
    // report's location byte, a reply's data) begins no reply.
    const int n = int(bytes.size());
    auto is = [&](int i, quint8 v) { return pos + i >= n || quint8(bytes[pos + i]) == v; };
    if (!is(0, 0x2A) || !is(1, 0) || !is(2, 0) || !is(5, 0))
        return false;
    if (m_blockRequest.size() < 5)
        return true;
    return is(3, quint8(m_blockRequest[3])) && is(4, quint8(m_blockRequest[4]));
}

void SerialProtocol::noteReply(const QByteArray& unit)
{
    if (unit.size() < Frames::kBlockReplyLength || !Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData())))
        return;
    for (QByteArray& r : m_lastReplies)
        if (r[3] == unit[3] && r[4] == unit[4]) {
            r = unit.left(Frames::kBlockReplyLength);
            return;
        }
    if (m_lastReplies.size() >= kMaxBlocksKept)
        m_lastReplies.erase(m_lastReplies.begin());
    m_lastReplies.push_back(unit.left(Frames::kBlockReplyLength));
}

int SerialProtocol::whereItStopped(int count, bool whole) const
{
    constexpr int kUnit = Frames::kBlockReplyLength;
    // Far enough behind the unit to see the reports there to their end.
    constexpr int kLookBehind = 64;
    const QByteArray bytes = m_link.Peek(qMin(count, kUnit + kLookBehind));
    const int n = int(bytes.size());
    if (n < 2)
        return whole ? n : 0;
    // The block as last read: a reply's bytes match it at their offsets, mostly
    // (only what changed since differs); reports behind a stop rarely do. A
    // match is strong evidence of reply data, a difference weak (values
    // change): a block that has mostly changed since tells nothing.
    const QByteArray* known = nullptr;
    if (n >= Frames::kBlockHeaderLength && Frames::IsBlockHeader(bytes))
        for (const QByteArray& r : m_lastReplies)
            if (r[3] == bytes[3] && r[4] == bytes[4])
                known = &r;
    if (known) {
        int same = 0;
        const int compared = qMin(n, kUnit) - Frames::kBlockHeaderLength;
        for (int i = Frames::kBlockHeaderLength; i < qMin(n, kUnit); ++i)
            same += bytes[i] == (*known)[i];
        if (2 * same < compared)
            known = nullptr;
    }
    constexpr int kMatchWeight = 8;
    // Where the line paused, to choose between places when nothing else tells.
    std::vector<bool> pause(size_t(n) + 1, false);
    const quint64 read = m_link.readCount();
    const Arrival* previous = nullptr;
    for (const Arrival& a : m_arrivals) {
        if (previous && previous->end > read && a.end > read && a.ms - previous->ms > kStopPauseMs
            && previous->end - read <= quint64(n))
            pause[size_t(previous->end - read)] = true;
        previous = &a;
    }
    // Whether the bytes from pos read as whole reports up to the next reply's
    // header or to the end of what came (where the last may still be coming).
    auto reportsFrom = [&](int pos) {
        while (pos < n) {
            const quint8 b = quint8(bytes[pos]);
            if (b == 0x2A)
                return askedHeaderAt(bytes, pos);
            const int len = Frames::ReportLength(b);
            if (len == 0)
                return false;
            pos += len;
        }
        return true;
    };
    int last = whole ? qMin(n, kUnit) : qMin(n, kUnit) - 1;
    // A stop lies before the header of the reply that follows, never inside it.
    for (int p = 1; p < last; ++p)
        if (quint8(bytes[p]) == 0x2A && askedHeaderAt(bytes, p)) {
            last = p;
            break;
        }
    int best = 0;
    int bestScore = 0;
    bool bestPause = false;
    int score = 0;
    for (int s = 1; s <= last; ++s) {
        // The score of stopping at s weighs the bytes before s that match the
        // block as last read against those that do not.
        const int i = s - 1;
        if (known && i >= Frames::kBlockHeaderLength)
            score += quint8(bytes[i]) == quint8((*known)[i]) ? kMatchWeight : -1;
        if (!(s == n && whole) && !reportsFrom(s))
            continue;
        const bool atPause = !known && pause[size_t(s)];
        if (best == 0 || score > bestScore || (score == bestScore && (atPause || !bestPause))) {
            best = s;
            bestScore = score;
            bestPause = atPause;
        }
    }
    return best;
}

void SerialProtocol::abandonBlockUnit(int count)
{
    // The bytes of the reply go as the unit's start; what came after the
    // place it stopped may be its rest or reports, and waits for the check.
    // Unless the bytes tell that reports came behind it, all that came is the
    // unit's start: a trickle's gap is no stop.
    const int stop = whereItStopped(count, true);
    const int n = qMin(stop > 0 ? stop : count, Frames::kBlockReplyLength - 1);
    if (n <= 0)
        return;
    m_givenUpMs = -1;
    keepPartial(n);
    WriteCommsLog("Quillon incomplete block reply dropped, " + dec(n) + " bytes");
}

bool SerialProtocol::dropRemainder(int count, bool blockWait)
{
    if (m_owed <= 0 || count <= 0)
        return false;
    // While the given-up start is kept, its check tells its rest from reports.
    if (!m_partial.isEmpty())
        return false;
    if (frontArrivalMs() - m_owedLastMs > kRestGapMs) {
        m_owed = 0; // a pause: a report byte starts a report again
        return false;
    }
    const QByteArray waiting = m_link.Peek(qMin(contiguous(count), m_owed));
    if (waiting.isEmpty())
        return false;
    int n;
    if (quint8(waiting[0]) == 0x2A) {
        // In a block wait any 2A may begin the reply waited for: its check decides.
        // Elsewhere a whole block header is a reply of its own.
        if (blockWait)
            return false;
        const QByteArray head = m_link.Peek(Frames::kBlockHeaderLength);
        if (head.size() < Frames::kBlockHeaderLength || Frames::IsBlockHeader(head))
            return false;
        n = 1;
    } else {
        n = int(waiting.indexOf(char(0x2A)));
        if (n < 0)
            n = int(waiting.size());
    }
    m_owedLastMs = arrivalMsAt(m_link.readCount() + quint64(n) - 1);
    take(n);
    m_owed -= n;
    return true;
}

bool SerialProtocol::dropCheckedRest(int count, bool& hold, bool* reply)
{
    hold = false;
    if (m_partial.isEmpty() || count <= 0)
        return false;
    if (m_clock.elapsed() - m_partialMs >= kRemainderMs) {
        m_partial.clear();
        return false;
    }
    const int need = Frames::kBlockReplyLength - int(m_partial.size());
    if (count < need) {
        // Bytes still coming, however slowly (a reply trickling a byte at a
        // time, or its rest after a pause), may yet make up the rest, even
        // those that would make a report or an acknowledgement on their own:
        // the check decides once they are in. Only a line that has stopped
        // lets them go as what they are.
        hold = quietMs() < kRestGapMs;
        return false;
    }
    // The rest comes after a few reports at most: a stream that has not
    // completed the unit within that many places will not (a flood, say).
    if (m_partialEnd != m_restCheckedAt) {
        m_restCheckedAt = m_partialEnd;
        m_restChecks = 0;
    }
    if (++m_restChecks > kMaxRestChecks) {
        m_partial.clear();
        return false;
    }
    // Reports the controller made while its reply stalled may come ahead of
    // the rest: the rest is wherever, behind whole reports, the check passes.
    const QByteArray waiting = m_link.Peek(qMin(count, need + 64));
    for (int k = 0; k + need <= int(waiting.size());) {
        const QByteArray candidate = m_partial + waiting.mid(k, need);
        if (Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(candidate.constData()))) {
            if (k > 0)
                return false; // the reports ahead of it are read first
            break;
        }
        const int len = Frames::ReportLength(quint8(waiting[k]));
        if (len == 0)
            return false;
        k += len;
    }
    const QByteArray unit = m_partial + m_link.Peek(need);
    if (!Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData())))
        return false;
    take(need);
    m_partial.clear();
    m_owed = 0;
    noteReply(unit);
    // Given up only because the line paused inside it: a whole reply naming
    // the block asked for is the one a block wait is for.
    if (reply && m_blockRequest.size() >= 5 && unit[3] == m_blockRequest[3] && unit[4] == m_blockRequest[4]) {
        std::copy_n(reinterpret_cast<const quint8*>(unit.constData()), Frames::kBlockReplyLength,
                    linkState().ReplyBuffer.begin());
        m_givenUpMs = -1;
        *reply = true;
        WriteCommsLog("Quillon block reply completed after a pause");
        return true;
    }
    WriteCommsLog("Quillon rest of a given-up block reply dropped, " + dec(need) + " bytes");
    return true;
}

bool SerialProtocol::giveUpStoppedUnit()
{
    // A reply that stopped a few bytes short of its end, with reports on the
    // line after the stop, makes a whole unit with them. Its check fails; the
    // bytes that came after the line stopped are no part of it and are read
    // afresh (its rest, should it still come, is known by the check).
    const QByteArray unit = m_link.Peek(Frames::kBlockReplyLength);
    if (unit.size() < Frames::kBlockReplyLength || Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData())))
        return false;
    const int n = whereItStopped(m_link.BytesWaiting(), true);
    if (n <= 0 || n >= Frames::kBlockReplyLength)
        return false;
    m_givenUpMs = -1;
    m_stoppedAt = m_link.readCount();
    m_stoppedSeen = true;
    keepPartial(n);
    WriteCommsLog("Quillon block reply stopped short, " + dec(n) + " bytes dropped");
    return true;
}

bool SerialProtocol::takeBlockUnit()
{
    if (giveUpStoppedUnit())
        return false;
    const QByteArray unit = m_link.Peek(Frames::kBlockReplyLength);
    if (!Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData()))) {
        // Bytes of an earlier unit followed by the start of a new one: the new one
        // begins where the header of the reply asked for does. What goes before
        // it is the start of a unit whose rest may still come.
        for (int next = 1; next < int(unit.size()); ++next) {
            if (!askedHeaderAt(unit, next))
                continue;
            keepPartial(next);
            WriteCommsLog("Quillon block reply failed its check, " + dec(next) + " bytes dropped");
            return false;
        }
    }
    noteReply(unit);
    m_givenUpMs = -1;
    readReply(Frames::kBlockReplyLength);
    return true;
}

bool SerialProtocol::WaitReply(int timeoutSeconds, int length, int firstByte)
{
    // A reply taken ahead for this level's frame while it pumped events.
    if (!m_takenAhead.empty() && m_takenAhead.back().depth == s_pumpDepth && !m_sent.pending) {
        const TakenAhead t = m_takenAhead.back();
        m_takenAhead.pop_back();
        std::copy_n(t.reply.begin(), t.reply.size(), linkState().ReplyBuffer.begin());
        return t.result;
    }
    // A wait begun inside another one (a learn's, say) lets that one end first.
    if (!m_sent.pending || m_sent.depth < s_pumpDepth)
        finishOutstanding();
    m_sent.pending = false;
    m_lastTimeoutS = timeoutSeconds;
    return waitFor(timeoutSeconds, length, firstByte);
}

bool SerialProtocol::waitFor(int timeoutSeconds, int length, int firstByte)
{
    Wait w;
    w.limitMs = timeoutSeconds * 1000;
    w.length = length;
    w.firstByte = firstByte;
    w.wantsBlock = length == Frames::kBlockReplyLength;
    // A 2A may begin an acknowledgement as well as a block reply; only a wait for
    // fewer bytes than a block header takes it as its reply.
    w.mode = w.wantsBlock ? Mode::BlockWait : length < Frames::kBlockHeaderLength ? Mode::ShortWait : Mode::Loop;
    // Only the sleeps count toward the time-out; a stream that never lets the
    // wait sleep (a flood of reports) still ends it at twice that.
    w.wall.start();
    w.outer = m_wait;
    m_wait = &w;
    {
        // Its own processEvents lets a stop in: Exit then waits for this wait to end.
        Shutdown::WaitScope waiting(Shutdown::Wait::ControllerReply);
        drive(w);
    }
    m_wait = w.outer;
    if (w.takenByNested)
        std::copy_n(w.reply.begin(), w.reply.size(), linkState().ReplyBuffer.begin());
    return w.result;
}

void SerialProtocol::drive(Wait& w)
{
    // A link that went down since the wait began takes its reply with it.
    while (!w.done)
        if ((m_link.downSince(w.wall.msecsSinceReference()) || !step(w)) && !w.done)
            endWait(w);
    if (w.result)
        m_link.outage().answered();
}

bool SerialProtocol::step(Wait& w)
{
    const int length = w.length;
    const int firstByte = w.firstByte;
    const Mode mode = w.mode;
    const bool wantsBlock = w.wantsBlock;
    // Pending events run every few milliseconds, not once per byte of a busy stream.
    if (w.lastEvents < 0 || w.wall.elapsed() - w.lastEvents >= 5) {
        {
            Pumping p;
            QCoreApplication::processEvents();
        }
        w.lastEvents = w.wall.elapsed();
        if (w.done)
            return true; // a sender nested in it took the reply meanwhile
    }
    if (Shutdown::waitsEnding() || w.wall.elapsed() >= 2 * qint64(w.limitMs))
        return false;
    noteArrivals();
    const int count = w.count = m_link.BytesWaiting();
    if (dropRemainder(count, wantsBlock))
        return true;
    bool sleep = false;
    bool completed = false;
    if (dropCheckedRest(count, sleep, wantsBlock ? &completed : nullptr)) {
        if (completed)
            w.done = w.result = true;
        return true;
    }
    if (wantsBlock && !sleep && takeOwedAckInBlockWait(count))
        return true;
    const Front f = sleep ? Front{Front::Partial, 0, -1} : front(count, mode, length);
    switch (f.kind) {
    case Front::Report: {
        // A report is handed on the moment its bytes are in, whatever the wait expects.
        const ReportOutcome r = HandleReport(take(f.length), Context::ReplyWait);
        // A wait that ends on a report leaves its own reply to come later.
        if (r == ReportOutcome::LearnMatched || (r == ReportOutcome::EndsAckWait && length == 3)) {
            if (mode == Mode::ShortWait)
                oweAck();
            w.done = w.result = true;
            return true;
        }
        break;
    }
    case Front::Block:
        if (wantsBlock) {
            if (foreignBlock(m_link.Peek(Frames::kBlockReplyLength))) {
                // Another block's reply, late or doubled: never this read's.
                dropBlockOutOfTurn();
                w.foreignSeen = true;
                break;
            }
            if (takeBlockUnit()) {
                w.done = w.result = true;
                return true;
            }
            resendAfterStop(w);
            break;
        }
        // A block reply that came after its own wait gave up: one unit, never an acknowledgement.
        dropBlockOutOfTurn();
        break;
    case Front::Stale:
        if (bool answered = false; mode == Mode::ShortWait && takeAckBehindStoppedUnit(count, length, answered)) {
            w.done = w.result = answered;
            return true;
        }
        // A reply that stopped and was followed, after a pause, by something else.
        abandonBlockUnit(count);
        break;
    case Front::Other:
        if ((firstByte > 0 && f.first != firstByte) || wantsBlock) {
            // Not what this wait expects: an acknowledgement that came late goes
            // whole, anything else one byte at a time.
            if (!(wantsBlock && takeLateAck(count))) {
                m_link.ReadByte();
                noteTrouble();
            }
            break;
        }
        if (count < length) {
            sleep = true;
            break;
        }
        // A short reply is looked at with what follows it, after trouble as
        // soon as the stream pauses behind it.
        if (mode == Mode::ShortWait && count == length && wary() && quietMs() < kLinePauseMs) {
            sleep = true;
            break;
        }
        if (mode == Mode::ShortWait && !ackFits(count, length)) {
            // Followed by a byte that begins nothing: line garbage, not the reply.
            m_link.ReadByte();
            noteTrouble();
            break;
        }
        readReply(length);
        w.done = w.result = true;
        return true;
    case Front::Partial:
    case Front::Empty:
        sleep = true;
        break;
    }
    if (sleep) {
        // Nothing came behind another block's reply: the controller answered
        // that instead of this read, which is asked once more.
        if (count == 0 && w.foreignSeen && quietMs() >= kUnitLineMs && resendAfterForeign(w))
            return true;
        // Waiting bytes are looked at again as soon as more come or a hold may end.
        w.elapsed += sleepForData(count > 0 ? kLinePauseMs : qMin(200, kUnitLineMs));
        if (w.done)
            return true;
        if (w.elapsed >= w.limitMs)
            return false;
    }
    return true;
}

void SerialProtocol::endWait(Wait& w)
{
    const bool wantsBlock = w.wantsBlock;
    int count = w.count;
    // The start of a block reply that did not finish in time is given up whole;
    // none of its bytes may be read as anything else. Later ones are held a while.
    if (wantsBlock && !Shutdown::waitsEnding()) {
        noteArrivals();
        count = m_link.BytesWaiting();
        if (count > 0 && m_link.PeekByte() == 0x2A)
            abandonBlockUnit(count);
        m_givenUpMs = m_clock.elapsed();
    }
    if (w.mode == Mode::ShortWait)
        oweAck();
    noteTrouble();
    WriteCommsLog("Quillon Timeout Expected: " + dec(w.length) + " Got: " + dec(count));
    // The read went unanswered behind another block's reply: it is asked once more.
    if (resendAfterForeign(w))
        return;
    w.done = true;
    w.result = false;
}

bool SerialProtocol::resendAfterForeign(Wait& w)
{
    if (!w.wantsBlock || !w.foreignSeen || w.retried || Shutdown::waitsEnding() || m_blockRequest.isEmpty()
        || !linkState().CommsStarted)
        return false;
    w.retried = true;
    w.foreignSeen = false;
    askAgain(w);
    return true;
}

bool SerialProtocol::resendAfterStop(Wait& w)
{
    // The controller answers in turn: a reply that began after this request
    // went out and stopped was this request's, and no other is coming.
    if (!w.wantsBlock || w.resentAfterStop || !m_stoppedSeen || m_stoppedAt < m_sentAt || Shutdown::waitsEnding()
        || m_blockRequest.isEmpty() || !linkState().CommsStarted)
        return false;
    w.resentAfterStop = true;
    m_stoppedSeen = false;
    askAgain(w);
    return true;
}

void SerialProtocol::askAgain(Wait& w)
{
    w.elapsed = 0;
    w.wall.restart();
    w.lastEvents = -1;
    noteArrivals();
    m_owed = 0;
    m_sentAt = m_streamEnd;
    WriteCommsLog("Quillon block read asked again");
    m_link.WriteBytes(m_blockRequest);
}

bool SerialProtocol::foreignBlock(const QByteArray& unit) const
{
    // The header's address bytes echo the request; a unit that fails its check
    // is left to the check.
    if (m_blockRequest.size() < 5 || unit.size() < Frames::kBlockReplyLength
        || !Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData())))
        return false;
    return unit[3] != m_blockRequest[3] || unit[4] != m_blockRequest[4];
}

bool SerialProtocol::takeOwedAckInBlockWait(int count)
{
    // A command's wait that ended on a report left its acknowledgement to come;
    // when it begins with 2A it is no block reply: the bytes where a reply's
    // header names its block carry something else (reports, most often).
    if (!acksOwed() || count < 3 || m_link.PeekByte() != 0x2A)
        return false;
    const QByteArray head = m_link.Peek(Frames::kBlockHeaderLength);
    if (m_blockRequest.size() < 5)
        return false;
    if (count >= Frames::kBlockReplyLength) {
        const QByteArray unit = m_link.Peek(Frames::kBlockReplyLength);
        if (Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData())))
            return false; // a whole reply: its header decides, not this
    }
    if (head.size() < Frames::kBlockHeaderLength) {
        // Too few bytes to tell yet: they are looked at again as more come.
        return false;
    }
    if (head[3] == m_blockRequest[3] && head[4] == m_blockRequest[4])
        return false;
    take(3);
    --m_acksOwed;
    return true;
}

bool SerialProtocol::owedAckAtFront(int count)
{
    if (count <= 3 || !acksOwed() || m_link.PeekByte() != 0x2A)
        return false;
    const quint8 next = quint8(m_link.Peek(4).at(3));
    return next == 0x2A || Frames::ReportLength(next) > 0;
}

bool SerialProtocol::ackFits(int count, int length) const
{
    // A reply is followed by nothing yet, by a report or by the next reply.
    if (count <= length)
        return true;
    const quint8 next = quint8(m_link.Peek(length + 1).at(length));
    return next == 0x2A || Frames::ReportLength(next) > 0;
}

bool SerialProtocol::takeAckBehindStoppedUnit(int count, int length, bool& answered)
{
    // A block reply that stopped in a command's wait: the controller answers
    // the command after it, so the last bytes of the run, when they came after
    // the command went out, are its acknowledgement. The run goes as the start
    // of a given-up unit, whole, so that a rest coming later is still known.
    const int n = qMin(contiguous(count), Frames::kBlockReplyLength - 1);
    const quint64 tail = m_link.readCount() + quint64(n) - quint64(length);
    if (n <= length || tail < m_sentAt)
        return false;
    const QByteArray run = m_link.Peek(n);
    const int unit = qMin(contiguous(count, kLinePauseMs), n);
    abandonBlockUnit(unit);
    if (n - unit >= length) {
        // The controller answers in turn: what came apart from the unit,
        // after the stop, answers frames sent after it, and the unit's rest
        // will not come. So those bytes are read as they stand, not held for it.
        m_partial.clear();
        m_owed = 0;
        return true;
    }
    // The last bytes came with the unit: they may yet be its own, so its rest
    // is still looked out for.
    for (int i = 0; i < length && i < int(linkState().ReplyBuffer.size()); ++i)
        linkState().ReplyBuffer[size_t(i)] = quint8(run[n - length + i]);
    answered = true;
    return true;
}

void SerialProtocol::dropBlockOutOfTurn()
{
    if (giveUpStoppedUnit())
        return;
    // A late reply is one unit: its data must never be read as reports.
    noteReply(take(Frames::kBlockReplyLength));
    m_givenUpMs = -1;
    noteTrouble();
    WriteCommsLog("Quillon block reply out of turn dropped");
}

void SerialProtocol::oweAck()
{
    m_acksOwed = qMin(m_acksOwed + 1, kMaxAcksOwed);
    m_ackOwedMs = m_clock.elapsed();
}

bool SerialProtocol::acksOwed()
{
    if (m_acksOwed > 0 && m_clock.elapsed() - m_ackOwedMs >= kRemainderMs)
        m_acksOwed = 0;
    return m_acksOwed > 0;
}

bool SerialProtocol::takeLateAck(int count)
{
    // An acknowledgement whose wait gave up or ended on a report comes as one
    // 3-byte unit; its later bytes may look like the start of a report.
    if (count < 3 || !acksOwed() || contiguous(count, kLinePauseMs) < 3
        || m_link.Peek(3).indexOf(char(0x2A), 1) > 0)
        return false;
    take(3);
    --m_acksOwed;
    return true;
}

void SerialProtocol::Settle(int ms)
{
    if (ms <= 0 || Shutdown::waitsEnding())
        return;
    QElapsedTimer t;
    t.start();
    for (;;) {
        const int left = int(ms - t.elapsed());
        if (left <= 0 || Shutdown::waitsEnding())
            return;
        noteArrivals();
        const int count = m_link.BytesWaiting();
        if (dropRemainder(count, false))
            continue;
        bool hold = false;
        if (dropCheckedRest(count, hold))
            continue;
        const Front f = hold ? Front{Front::Partial, 0, -1} : front(count, Mode::Loop);
        // An IR match during a learn belongs to the learn's own wait.
        if (f.kind == Front::Report && !(f.first == 0xFD && LearnWaiting())) {
            HandleReport(take(f.length), Context::ReplyWait);
            continue;
        }
        if (f.kind == Front::Other && takeLateAck(count))
            continue;
        sleepForData(qMin(left, count > 0 ? kLinePauseMs : left));
    }
}

bool SerialProtocol::ReadReports(int maxUnits)
{
    // A wait is running below: it reads what comes, reports too.
    if (m_wait && !m_wait->done)
        return false;
    for (int n = 0; n < maxUnits; ++n) {
        noteArrivals();
        const int count = m_link.BytesWaiting();
        if (dropRemainder(count, false))
            continue;
        bool hold = false;
        if (dropCheckedRest(count, hold))
            continue;
        if (hold)
            return false; // looked at again by the next pass, which the loop's timer brings
        const Front f = front(count, Mode::Loop);
        switch (f.kind) {
        case Front::Empty:
            return false;
        case Front::Report:
            HandleReport(take(f.length), Context::ReportLoop);
            break;
        case Front::Block:
            dropBlockOutOfTurn();
            break;
        case Front::Stale:
            abandonBlockUnit(count); // a block reply that stopped: its bytes are no reports
            break;
        case Front::Other:
            if (takeLateAck(count))
                break;
            // A byte that is nothing known goes alone, so that no report behind it is lost.
            if (count >= 3 || contiguous(count, kLinePauseMs) < count || !acksOwed()) {
                m_link.ReadByte();
                noteTrouble();
                break;
            }
            [[fallthrough]];
        case Front::Partial:
            if (f.first == 0x2A)
                return false; // held: its hold ends by time as well as by bytes
            if (!stuck(count))
                return false;
            // Bytes that never became a whole unit: the first goes, the rest is read afresh.
            m_link.ReadByte();
            break;
        }
    }
    return m_link.BytesWaiting() > 0;
}

SerialProtocol::ReportOutcome SerialProtocol::HandleReport(const QByteArray&, Context)
{
    return ReportOutcome::Handled;
}
