#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <deque>
#include <vector>

#include "CommLink.h"

// Frames out, replies in: the reply wait every sender uses, and the framing of
// the controller's own reports shared by the reply wait and the report loop.
// What a report means is for the plug-in, which derives its parser from this.
class SerialProtocol : public QObject
{
    Q_OBJECT
public:
    enum class ReportOutcome { Handled, EndsAckWait, LearnMatched };
    enum class Context { ReplyWait, ReportLoop };

    explicit SerialProtocol(CommLink& link, QObject* parent = nullptr);
    CommLink& link() { return m_link; }

    // Only one exchange is on the line at a time. Every frame to the controller
    // goes out here, and its reply is taken by the WaitReply that follows. The
    // senders: the command ring's pass (X10, variable and point writes), the
    // variable and I/O polls with their writes and analog reads, a script's
    // direct host commands and GetParameter, IR play and the IR learn pair,
    // start-up discovery with its side commands and the clock sync, the page's
    // buttons and the configuration dialog (through these same calls). Any of
    // them may be started from code that runs inside another's wait (a script,
    // a timer, a page request): a frame asked for while a reply is outstanding
    // first lets that reply come whole, or its wait end, on its owner's behalf.
    int SendFrame(const QByteArray& frame);
    bool WaitReply(int timeoutSeconds, int length, int firstByte);
    // True while a frame's reply is still to be taken (or a wait runs).
    bool exchangeOutstanding() const;

    // Reads the complete reports waiting, at most maxUnits of them (anything
    // else is dropped three bytes at a time, a block reply out of turn whole);
    // stops at a report whose bytes have not all arrived. True when more waits.
    bool ReadReports(int maxUnits = 64);
    // Waits ms milliseconds inside an exchange, handing on the reports that
    // arrive meanwhile; the reply being waited for is left in the buffer.
    void Settle(int ms);
    // One whole report, as the reply wait or the report loop took it. The link
    // alone knows no report: it reads them and lets them go.
    virtual ReportOutcome HandleReport(const QByteArray& report, Context context);

    static void Delay(int ms);
    static void WaitMs(int ms) { if (ms > 0) Delay(ms); }
    static void WaitSeconds(int s) { if (s > 0) Delay(s * 1000); }

    // A unit that has waited incomplete at the front this long is given up; so
    // long, too, a 2A is held for the reply of a block request given up.
    static constexpr int kStuckMs = 2000;
    // Bytes that follow a given-up unit without a pause longer than this are
    // its rest; after such a pause the stream starts afresh.
    static constexpr int kRestGapMs = 500;
    // A 2A outside a block wait is one 264-byte unit only when the unit comes
    // about as fast as the line carries it (275 ms at 9600 baud).
    static constexpr int kUnitLineMs = 500;
    // A stream quiet this long has stopped for now.
    static constexpr int kLinePauseMs = 100;
    // A pause this long inside a unit's bytes (three times the arrivals of a
    // line running at its pace apart) is where it stopped among places that fit
    // equally, when nothing of its block has been read yet to match it against.
    static constexpr int kStopPauseMs = 60;
    // How long the start of a given-up block reply is kept, so that its rest is
    // known by the check when it comes later, wherever it comes.
    static constexpr int kRemainderMs = 10000;
    // Bytes of a given-up block reply still expected (0 when none).
    int owedRemainder() const { return m_owed; }
    // Whether a command's acknowledgement is still to come: its wait ended on a
    // report or gave up. A 2A 00 00 that comes meanwhile may be that one's.
    bool acknowledgementOwed() { return acksOwed(); }

protected:
    // True while an IR match waits for a learn's own wait, not for Settle.
    virtual bool LearnWaiting() const { return false; }

private:
    struct Wait;
    // Lets the reply outstanding (or the wait running) below the caller come to
    // its end before anything else goes on the line.
    void finishOutstanding();
    void drive(Wait& w);
    bool waitFor(int timeoutSeconds, int length, int firstByte);
    int m_lastTimeoutS = 2;
    static constexpr size_t kMaxTakenAhead = 8;
    bool step(Wait& w);
    void endWait(Wait& w);
    Wait* m_wait = nullptr;             // the innermost wait running
    // The frame sent last, until a wait for its reply begins.
    struct Sent
    {
        bool pending = false;
        bool block = false;
        QByteArray frame;
        int depth = 0;                  // event-pumping depth it was sent at
    } m_sent;
    // The last block request, whose reply's header must name its block.
    QByteArray m_blockRequest;
    // Replies taken on behalf of a sender whose own wait has not begun yet
    // (it was pumping events between its frame and its wait).
    struct TakenAhead
    {
        int depth;
        bool result;
        std::array<quint8, 264> reply;
    };
    std::vector<TakenAhead> m_takenAhead;
    // A whole unit with a valid check whose header names another block.
    bool foreignBlock(const QByteArray& unit) const;
    bool resendAfterForeign(Wait& w);
    // The request of the block wait goes once more: its reply will not come.
    void askAgain(Wait& w);
    // The reply to this wait's request stopped: it is asked again at once.
    bool resendAfterStop(Wait& w);
    // In a block wait, an acknowledgement owed from an earlier command's wait.
    bool takeOwedAckInBlockWait(int count);
    // Who is looking at the stream: a wait for a block reply, a wait for a short
    // reply (an acknowledgement), or nobody (the report loop, a settle time).
    enum class Mode { BlockWait, ShortWait, Loop };
    // What waits at the front of the receive buffer. A Block is a whole 264-byte
    // unit; a Stale one is the start of a unit that will not be completed.
    struct Front
    {
        enum Kind { Empty, Partial, Report, Block, Stale, Other } kind;
        int length;
        int first;
    };
    Front front(int count, Mode mode, int length = 0);
    Front frontBlock(int count, Mode mode, int length);
    bool stuck(int count);
    // Records when bytes arrived, in chunks, so that a pause in the stream can be told.
    void noteArrivals();
    qint64 arrivalMsAt(quint64 offset) const;
    qint64 frontArrivalMs() const;
    qint64 quietMs() const;
    // Waiting bytes from the front that came without a pause longer than gapMs.
    int contiguous(int count, int gapMs = kRestGapMs) const;
    // Drops the rest of a given-up unit when the bytes at the front complete it
    // to one that passes the check; true when it dropped them. hold is set when
    // they may still do so once more bytes are in. Given reply (a block
    // wait), a completed unit naming the block asked for is taken as the
    // reply instead, and reply is set.
    bool dropCheckedRest(int count, bool& hold, bool* reply = nullptr);
    int sleepForData(int ms);
    QByteArray take(int n);
    void readReply(int length);
    // Takes the 264-byte unit at the front into the reply buffer (true), unless
    // it fails its check and a 2A inside it may begin the real reply: then the
    // bytes before that 2A go and the wait goes on (false). A failing unit
    // without one is still taken, for the caller's own check to count.
    bool takeBlockUnit();
    // Gives up the start of a 264-byte unit that fails its check because the
    // line stopped inside it and reports came after; true when it did.
    bool giveUpStoppedUnit();
    // How many of the count bytes at the front are the reply that stopped:
    // the bytes behind read as whole reports up to the next reply to the block
    // asked for (or to the end of what came), and of such places the one whose
    // reply bytes best match the block as last read (the fewest of them read
    // as reports). whole allows "it did not stop" (all count bytes), when the
    // unit is whole or nothing may be behind. 0 when no place fits.
    int whereItStopped(int count, bool whole) const;
    // Whether a reply to the block asked for may begin at pos (as far as bytes go).
    bool askedHeaderAt(const QByteArray& bytes, int pos) const;
    // The last whole reply of each block, that a stopped one is matched against.
    void noteReply(const QByteArray& unit);
    static constexpr size_t kMaxBlocksKept = 16;
    std::vector<QByteArray> m_lastReplies;
    // The stream offset where the last unit known to have stopped began.
    quint64 m_stoppedAt = 0;
    bool m_stoppedSeen = false;
    // Gives up the incomplete block unit at the front: its bytes go (those that
    // came together), and the rest of it is looked out for.
    void abandonBlockUnit(int count);
    // Takes the n bytes at the front as the start of a unit given up.
    void keepPartial(int n);
    // Acknowledgements still to come for waits that ended without theirs.
    void oweAck();
    bool acksOwed();
    bool takeLateAck(int count);
    // An owed acknowledgement at the front, followed by another or by a report.
    bool owedAckAtFront(int count);
    // A start alone sends nine side commands, a script dozens, and in a steady
    // report stream each of their waits may end on a report: an owed
    // acknowledgement left uncounted is later given up as a block reply's
    // start, and every byte behind it is held. The count lapses anyway
    // kRemainderMs after the last one owed.
    static constexpr int kMaxAcksOwed = 64;
    // After a wait gave up or bytes had to be thrown away, the stream may carry
    // a late reply or line garbage for a while: an acknowledgement is then taken
    // only once the bytes behind it show it is one.
    void noteTrouble() { m_troubleMs = m_clock.elapsed(); }
    bool wary() const { return m_troubleMs >= 0 && m_clock.elapsed() - m_troubleMs < kRemainderMs; }
    qint64 m_troubleMs = -1;
    // Whether the n bytes at the front may be a short reply as they stand.
    bool ackFits(int count, int length) const;
    // In a command's wait, gives up a block reply that stopped when an
    // acknowledgement came right behind it; true when it did. answered is set
    // when that acknowledgement came with the unit and was taken with it;
    // otherwise what followed the unit is left to be read as it stands.
    bool takeAckBehindStoppedUnit(int count, int length, bool& answered);
    // Drops a whole block reply that came when none was awaited.
    void dropBlockOutOfTurn();
    quint64 m_sentAt = 0;          // stream offset when the last frame went out
    int m_acksOwed = 0;
    qint64 m_ackOwedMs = 0;
    // Drops what waits at the front as the rest of an abandoned block reply;
    // true when it dropped anything.
    bool dropRemainder(int count, bool blockWait);
    CommLink& m_link;
    int m_owed = 0;
    qint64 m_owedLastMs = 0;       // arrival of the last byte counted to the owed rest
    QByteArray m_partial;          // start of the given-up unit, until its rest is known
    qint64 m_partialMs = 0;
    qint64 m_partialLastMs = 0;    // arrival of its last byte
    quint64 m_partialEnd = 0;      // read count just after it
    static constexpr int kMaxRestChecks = 48;
    quint64 m_restCheckedAt = 0;
    int m_restChecks = 0;
    qint64 m_givenUpMs = -1;       // a block wait gave up then; no unit has come since
    struct Arrival
    {
        quint64 end;               // stream offset just after the chunk
        qint64 ms;
    };
    static constexpr int kChunkMs = 20;
    std::deque<Arrival> m_arrivals;
    quint64 m_streamEnd = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_stuckClock;
    quint64 m_stuckMark = 0;
    int m_stuckCount = 0;
};
