#pragma once
#include <QObject>
#include <QString>

#include "ControllerParts.h"

struct RingEntry;
class VariablePoll;

// The one procedure that talks to the controller: reads its reports, carries
// out the queued commands in order, polls and mirrors the I/O points when due
// and hands the link over to the programming tool when asked.
class ReportLoop : public QObject
{
    Q_OBJECT
public:
    ReportLoop(const ControllerParts& parts, VariablePoll& poll);

    // Queues one command (dropped when 50 wait) and runs the loop at once.
    void QExec(const QString& housecode, const QString& DeviceCode, int command, long brightness, int data1,
               int data2);
    void Timer3_Timer();
    void MirrorPoints();
    void Execute(const RingEntry& e);
    void LearnIRPrompt(long location);

    // Reports handled in one pass; the rest wait for the next, which follows
    // once the event loop has run.
    static constexpr int kMaxReportsPerPass = 64;

private:
    void reports();
    void drain();
    void toolHandOff();
    void runTool();
    void logError();
    ControllerParts m_parts;
    VariablePoll& m_poll;
    quint64 m_passReadMark = 0; // link bytes read before this pass
    bool m_nextPassQueued = false;
};
