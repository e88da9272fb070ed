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
}

SerialProtocol::SerialProtocol(CommLink& link, QObject* parent) : QObject(parent), m_link(link) {}

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
        Shutdown::WaitScope waiting(Shutdown::Wait::ControllerReply, loop);
        if (!Shutdown::waitsEnding())
            loop.exec();
    }
    disconnect(c);
    return int(t.elapsed());
}

int SerialProtocol::SendFrame(const QByteArray& frame)
{
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

SerialProtocol::Front SerialProtocol::front(int count)
{
    if (count <= 0)
        return {Front::Empty, 0, -1};
    const QByteArray head = m_link.Peek(Frames::kBlockHeaderLength);
    if (head.isEmpty())
        return {Front::Empty, 0, -1};
    const quint8 b0 = quint8(head[0]);
    if (const int len = Frames::ReportLength(b0))
        return {count >= len ? Front::Report : Front::Partial, len, b0};
    if (b0 == 0x2A) {
        if (count < Frames::kBlockHeaderLength)
            return {Front::Partial, Frames::kBlockHeaderLength, b0}; // header not yet known
        if (Frames::IsBlockHeader(head))
            return {count >= Frames::kBlockReplyLength ? Front::Block : Front::Partial, Frames::kBlockReplyLength, b0};
    }
    return {Front::Other, 1, b0};
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

void SerialProtocol::abandonBlockUnit(int count)
{
    const int n = qMin(count, Frames::kBlockReplyLength - 1);
    if (n <= 0)
        return;
    for (int i = 0; i < n; ++i)
        m_link.ReadByte();
    m_owed = Frames::kBlockReplyLength - n;
    m_owedClock.start();
    WriteCommsLog("Quillon incomplete block reply dropped, " + dec(n) + " bytes");
}

bool SerialProtocol::dropRemainder(int count, bool blockWait)
{
    if (m_owed <= 0 || count <= 0)
        return false;
    if (m_owedClock.elapsed() >= kRemainderMs) {
        m_owed = 0;
        return false;
    }
    const QByteArray waiting = m_link.Peek(qMin(count, m_owed));
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
    for (int i = 0; i < n; ++i)
        m_link.ReadByte();
    m_owed -= n;
    return true;
}

bool SerialProtocol::takeBlockUnit()
{
    const QByteArray unit = m_link.Peek(Frames::kBlockReplyLength);
    if (!Frames::ReplyCrcOk(reinterpret_cast<const quint8*>(unit.constData()))) {
        // Bytes of an earlier unit followed by the start of a new one: the new one
        // begins at one of the 2As inside.
        const qsizetype next = unit.indexOf(char(0x2A), 1);
        if (next > 0) {
            for (qsizetype i = 0; i < next; ++i)
                m_link.ReadByte();
            m_owed = qMax(0, m_owed - int(next));
            WriteCommsLog("Quillon block reply failed its check, " + dec(int(next)) + " bytes dropped");
            return false;
        }
    } else {
        // A reply that checks arrived after anything still owed would have.
        m_owed = 0;
    }
    readReply(Frames::kBlockReplyLength);
    return true;
}

bool SerialProtocol::WaitReply(int timeoutSeconds, int length, int firstByte)
{
    const int limitMs = timeoutSeconds * 1000;
    const bool wantsBlock = length == Frames::kBlockReplyLength;
    // Only the sleeps count toward the time-out; a stream that never lets the
    // wait sleep (a flood of reports) still ends it at twice that.
    QElapsedTimer wall;
    wall.start();
    // Its own processEvents lets a stop in: Exit then waits for this wait to end.
    Shutdown::WaitScope waiting(Shutdown::Wait::ControllerReply);
    qint64 lastEvents = -1;
    int elapsed = 0;
    int count = 0;
    for (;;) {
        // Pending events run every few milliseconds, not once per byte of a busy stream.
        if (lastEvents < 0 || wall.elapsed() - lastEvents >= 5) {
            QCoreApplication::processEvents();
            lastEvents = wall.elapsed();
        }
        if (Shutdown::waitsEnding() || wall.elapsed() >= 2 * qint64(limitMs))
            break;
        count = m_link.BytesWaiting();
        if (dropRemainder(count, wantsBlock))
            continue;
        const Front f = front(count);
        bool sleep = false;
        if (wantsBlock && f.first == 0x2A) {
            // Whatever its header says, a unit that starts with 2A is judged whole, by its check.
            if (count < Frames::kBlockReplyLength)
                sleep = true;
            else if (takeBlockUnit())
                return true;
        } else {
            switch (f.kind) {
            case Front::Report: {
                // A report is handed on the moment its bytes are in, whatever the wait expects.
                const ReportOutcome r = HandleReport(take(f.length), Context::ReplyWait);
                if (r == ReportOutcome::LearnMatched)
                    return true;
                if (r == ReportOutcome::EndsAckWait && length == 3)
                    return true;
                break;
            }
            case Front::Block:
                // A block reply that came after its own wait gave up: one unit, never an acknowledgement.
                take(Frames::kBlockReplyLength);
                WriteCommsLog("Quillon block reply out of turn dropped");
                break;
            case Front::Other:
                if ((firstByte > 0 && f.first != firstByte) || wantsBlock) {
                    m_link.ReadByte(); // not what this wait expects: dropped one byte at a time
                    break;
                }
                if (count < length) {
                    sleep = true;
                    break;
                }
                readReply(length);
                return true;
            case Front::Partial:
            case Front::Empty:
                sleep = true;
                break;
            }
        }
        if (sleep) {
            elapsed += sleepForData(200);
            if (elapsed >= limitMs)
                break;
        }
    }
    // The start of a block reply that did not finish in time is given up whole;
    // none of its bytes may be read as anything else.
    if (wantsBlock && !Shutdown::waitsEnding()) {
        count = m_link.BytesWaiting();
        if (count > 0 && m_link.PeekByte() == 0x2A)
            abandonBlockUnit(count);
    }
    WriteCommsLog("Quillon Timeout Expected: " + dec(length) + " Got: " + dec(count));
    return false;
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
        const int count = m_link.BytesWaiting();
        if (dropRemainder(count, false))
            continue;
        const Front f = front(count);
        // An IR match during a learn belongs to the learn's own wait.
        if (f.kind == Front::Report && !(f.first == 0xFD && LearnWaiting())) {
            HandleReport(take(f.length), Context::ReplyWait);
            continue;
        }
        sleepForData(left);
    }
}

bool SerialProtocol::ReadReports(int maxUnits)
{
    for (int n = 0; n < maxUnits; ++n) {
        const int count = m_link.BytesWaiting();
        if (dropRemainder(count, false))
            continue;
        const Front f = front(count);
        switch (f.kind) {
        case Front::Empty:
            return false;
        case Front::Report:
            HandleReport(take(f.length), Context::ReportLoop);
            break;
        case Front::Block:
            // A late reply is one unit: its data must never be read as reports.
            take(Frames::kBlockReplyLength);
            WriteCommsLog("Quillon block reply out of turn dropped");
            break;
        case Front::Other:
            // Not a report (a late acknowledgement, say): its three bytes go
            // together, so none of them is mistaken for the start of a report.
            if (count >= 3) {
                take(3);
                break;
            }
            [[fallthrough]];
        case Front::Partial:
            if (!stuck(count))
                return false;
            if (f.first == 0x2A && f.length == Frames::kBlockReplyLength) {
                abandonBlockUnit(count); // a block reply that stopped: its bytes are no reports
                break;
            }
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
