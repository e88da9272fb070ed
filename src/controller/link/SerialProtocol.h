#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

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

    int SendFrame(const QByteArray& frame);
    bool WaitReply(int timeoutSeconds, int length, int firstByte);

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

    static void Delay(int ms) { CommLink::Delay(ms); }
    static void WaitMs(int ms) { if (ms > 0) Delay(ms); }
    static void WaitSeconds(int s) { if (s > 0) Delay(s * 1000); }

    // A unit that has waited incomplete at the front this long is given up.
    static constexpr int kStuckMs = 2000;
    // How long the rest of a given-up block reply is still looked out for, so
    // that its bytes are dropped when they come instead of read as reports.
    static constexpr int kRemainderMs = 30000;
    // Bytes of a given-up block reply still expected (0 when none).
    int owedRemainder() const { return m_owed; }

protected:
    // True while an IR match waits for a learn's own wait, not for Settle.
    virtual bool LearnWaiting() const { return false; }

private:
    // What waits at the front of the receive buffer.
    struct Front
    {
        enum Kind { Empty, Partial, Report, Block, Other } kind;
        int length;
        int first;
    };
    Front front(int count);
    bool stuck(int count);
    int sleepForData(int ms);
    QByteArray take(int n);
    void readReply(int length);
    // Takes the 264-byte unit at the front into the reply buffer (true), unless
    // it fails its check and a 2A inside it may begin the real reply: then the
    // bytes before that 2A go and the wait goes on (false). A failing unit
    // without one is still taken, for the caller's own check to count.
    bool takeBlockUnit();
    // Gives up the incomplete block unit at the front: its bytes go, and the
    // rest of it is looked out for.
    void abandonBlockUnit(int count);
    // Drops what waits at the front as the rest of an abandoned block reply;
    // true when it dropped anything.
    bool dropRemainder(int count, bool blockWait);
    CommLink& m_link;
    int m_owed = 0;
    QElapsedTimer m_owedClock;
    QElapsedTimer m_stuckClock;
    quint64 m_stuckMark = 0;
    int m_stuckCount = 0;
};
