#pragma once

#include "bridge/BscWriteQueue.h"
#include "bridge/IrPlayQueue.h"
#include "bridge/X10RequestQueue.h"

#include "core/XapQueuedMessage.h"

#include "automation/VbTimer.h"

#include <QHash>
#include <QObject>

#include <deque>
#include <vector>
#include <memory>

class ScriptControl;

// The bridge's hidden timer form. BSCTimer paces the replies to BSC queries:
// an idle bridge sends a reply at once and arms the timer, and while it runs
// every further reply waits in the queue and goes out one per 200 ms tick.
// The queue is bounded: a peer that asks again before its replies went out
// is not answered twice, and a query whose replies would not fit is not
// answered. PeriodicScriptTimer is programmed by the plug-in for the
// periodic script; ScriptQueueTimer drains the queue of user-script runs;
// ScriptControl1 is the one script engine of the program.
class CommAndTimer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReplyIntervalMs = 200;

    // The single instance, made on first use.
    static CommAndTimer &instance();
    // Releases the instance (the plug-in's shutdown); pending replies and writes are dropped.
    static void unload();

    // One reply of a query; `code` names the point whose state its body
    // carries, built again when a waiting reply goes out.
    struct Reply
    {
        xapQueuedMessage message;
        QString code;
        bool withLevel = false;
    };

    // Replies of a query named `asker` still wait (they keep their place and
    // go out with the state of their time).
    bool IsWaiting(const QString &asker) const { return m_waiting.contains(asker); }
    // Whether `replies` replies of one query fit: the first goes out at once
    // when the timer is idle, the rest must fit within `bound`. A refusal is
    // logged once per burst.
    bool HasRoom(int replies, int bound);
    // The replies of one query: the first goes out at once when the timer is
    // idle, the others wait in the queue. `asker` names who asked for what.
    // When the rest would take the queue past `bound`, none is sent.
    void SendOrQueue(const QString &asker, const std::vector<Reply> &replies, int bound);
    // One tick: sends the oldest queued reply, or stops the timer when none is left.
    void BSCTimer_Timer();

    int queuedCount() const { return int(m_queue.size()); }

    VbTimer BSCTimer;
    VbTimer PeriodicScriptTimer;
    qint32 PeriodicCountdown = 0;
    // Point writes of BSC commands, run one per turn of the event loop.
    BscWriteQueue Writes;
    // IR codes of received requests, macros paced by a timer.
    IrPlayQueue IRPlays;
    // X10 requests received, sent from a timer.
    X10RequestQueue X10Requests;
    VbTimer ScriptQueueTimer;
    std::shared_ptr<ScriptControl> ScriptControl1;

private:
    struct Pending
    {
        QString asker;
        Reply reply;
    };

    CommAndTimer();
    void arm();
    void logDrop();
    int waitingOf(int replies) const;

    std::deque<Pending> m_queue;
    // Replies waiting per asker, so a repeated query is known without a walk.
    QHash<QString, int> m_waiting;
};
