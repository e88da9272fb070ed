#pragma once
#include <QByteArray>
#include <QObject>

class CommLink;

// Frames out, replies in: the reply wait every sender uses, and the one parser
// of the controller's own reports shared by the reply wait and the report loop.
class Protocol : public QObject
{
    Q_OBJECT
public:
    enum class ReportOutcome { Handled, EndsAckWait, LearnMatched };
    enum class Context { ReplyWait, ReportLoop };

    explicit Protocol(CommLink& link, QObject* parent = nullptr);
    CommLink& link() { return m_link; }

    int SendFrame(const QByteArray& frame);
    bool WaitReply(int timeoutSeconds, int length, int firstByte);

    // Reads every complete report waiting (anything else is dropped three
    // bytes at a time); stops at a report whose bytes have not all arrived.
    void ReadReports();
    ReportOutcome HandleReport(const QByteArray& report, Context context);

    void HandleX10Packet(quint8 b0, quint8 b1, quint8 b2);
    void HandleIOPointChange(quint8 module, quint8 point, quint8 value);
    static int GetIOPointState(int module, int point);
    static bool IsOutputPoint(int utype, int point);
    // Host status (2 on, 3 off) and value of a point under its mapping's rule.
    static void PointStatus(int utype, int point, int invert, int state, int& status, int& value);

    static void Delay(int ms);
    static void WaitMs(int ms) { if (ms > 0) Delay(ms); }
    static void WaitSeconds(int s) { if (s > 0) Delay(s * 1000); }

private:
    int sleepForData(int ms);
    QByteArray take(int n);
    CommLink& m_link;
};
