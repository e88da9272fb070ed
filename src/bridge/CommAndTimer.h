#pragma once

#include "core/XapQueuedMessage.h"

#include "automation/VbTimer.h"

#include <QObject>

#include <deque>
#include <memory>

class ScriptControl;

// The bridge's hidden timer form. BSCTimer paces the replies to BSC queries:
// an idle bridge sends a reply at once and arms the timer, and while it runs
// every further reply waits in the queue and goes out one per 200 ms tick.
// PeriodicScriptTimer is programmed by the plug-in for the periodic script;
// ScriptQueueTimer drains the queue of user-script runs; ScriptControl1 is
// the one script engine of the program.
class CommAndTimer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReplyIntervalMs = 200;

    // The single instance, made on first use.
    static CommAndTimer &instance();
    // Releases the instance (the plug-in's shutdown); pending replies are dropped.
    static void unload();

    // Sends at once when idle, else appends to the queue.
    void SendOrQueue(const xapQueuedMessage &message);
    // One tick: sends the oldest queued reply, or stops the timer when none is left.
    void BSCTimer_Timer();

    int queuedCount() const { return int(m_queue.size()); }

    VbTimer BSCTimer;
    VbTimer PeriodicScriptTimer;
    qint32 PeriodicCountdown = 0;
    VbTimer ScriptQueueTimer;
    std::shared_ptr<ScriptControl> ScriptControl1;

private:
    CommAndTimer();
    void arm();

    std::deque<xapQueuedMessage> m_queue;
};
