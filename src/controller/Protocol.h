#pragma once
#include "link/SerialProtocol.h"

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

protected:
    bool LearnWaiting() const override;
};
