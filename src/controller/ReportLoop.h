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

    // Queues one command and runs the loop at once. False when the command was
    // not queued: the ring is full, or the controller has stopped answering
    // (then every command fails at once, with one log entry, until a byte
    // comes from it again). A point write still waiting is updated in place.
    bool QExec(const QString& housecode, const QString& DeviceCode, int command, long brightness, int data1,
               int data2);
    // The controller left a command unanswered and has sent nothing since.
    bool controllerSilent();
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
    void silenced();
    quint64 m_passReadMark = 0; // link bytes read before this pass
    bool m_nextPassQueued = false;
    bool m_silent = false;
    bool m_silentLogged = false;
    quint64 m_silentReadMark = 0; // link bytes read when the controller fell silent
};
