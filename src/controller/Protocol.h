#pragma once
#include "link/SerialProtocol.h"

#include <QElapsedTimer>
#include <QTimer>

// The one parser of the controller's own reports, for the reply wait and the
// report loop alike: X10 traffic, IR matches, I/O point changes and touches,
// handed to the host under the plug-in's unit mappings.
class Protocol : public SerialProtocol
{
public:
    explicit Protocol(CommLink& link, QObject* parent = nullptr);

    ReportOutcome HandleReport(const QByteArray& report, Context context) override;

    void HandleX10Packet(quint8 b0, quint8 b1, quint8 b2);
    void HandleIOPointChange(quint8 module, quint8 point, quint8 value);
    static int GetIOPointState(int module, int point);
    static bool IsOutputPoint(int utype, int point);
    // Host status (2 on, 3 off) and value of a point under its mapping's rule.
    static void PointStatus(int utype, int point, int invert, int state, int& status, int& value);

    static constexpr int kMaxPendingX10Units = 32;
    // A person's remote sends a few codes a second; a line that delivers them
    // without pause must not flood the network with them.
    static constexpr int kIRBurst = 10;
    static constexpr int kIRPerSecond = 5;

protected:
    bool LearnWaiting() const override;

private:
    // Whether a received IR code may go out now; the rest are counted and
    // logged once per period.
    bool irCodeMayGo();
    void logHeldIRCodes();
    QElapsedTimer m_irClock;
    double m_irTokens = kIRBurst;
    qint64 m_irLastMs = 0;
    int m_irHeld = 0;
    QTimer m_irLog;
};
