#include "bridge/CommAndTimer.h"

#include "core/DrainSlices.h"

#include "bridge/BscBridge.h"
#include "bridge/ScriptQueue.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"

#include "automation/PendingError.h"

#include <algorithm>
#include "ScriptControl.h"

#include <memory>

static_assert(DrainSlices::kBscRepliesPerTick == 1, "BSCTimer_Timer() sends one reply");

namespace {

std::unique_ptr<CommAndTimer> &holder()
{
    static std::unique_ptr<CommAndTimer> form;
    return form;
}

void send(const xapQueuedMessage &m)
{
    SendXap(m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData, m.MsgSubAddress, m.MsgUID);
}

} // namespace

CommAndTimer::CommAndTimer()
    : ScriptControl1(std::make_shared<ScriptControl>())
{
    connect(&BSCTimer, &VbTimer::timer, this, &CommAndTimer::BSCTimer_Timer);
    connect(&ScriptQueueTimer, &VbTimer::timer, this, [] { ScriptQueueTimer_Timer(); });
    connect(&PeriodicScriptTimer, &VbTimer::timer, this, [] { PeriodicScriptTimer_Timer(); });
}

CommAndTimer &CommAndTimer::instance()
{
    if (!holder())
        holder().reset(new CommAndTimer());
    return *holder();
}

void CommAndTimer::unload()
{
    holder().reset();
}

void CommAndTimer::arm()
{
    BSCTimer.setInterval(kReplyIntervalMs);
    BSCTimer.setEnabled(true);
}

void CommAndTimer::logDrop()
{
    RefusalLog::Log(kProgramName, QStringLiteral("BSCQuery: reply queue full, replies dropped"),
                    QStringLiteral("bsc-reply-queue"));
}

int CommAndTimer::waitingOf(int replies) const
{
    return replies > 0 && !BSCTimer.isEnabled() ? replies - 1 : replies;
}

bool CommAndTimer::HasRoom(int replies, int bound)
{
    if (qsizetype(m_queue.size()) + waitingOf(replies) <= bound)
        return true;
    logDrop();
    return false;
}

void CommAndTimer::SendOrQueue(const QString &asker, const std::vector<Reply> &replies, int bound)
{
    if (!HasRoom(int(replies.size()), bound))
        return;
    auto next = replies.begin();
    if (next != replies.end() && !BSCTimer.isEnabled()) {
        arm();
        send((next++)->message);
    }
    const auto waiting = replies.end() - next;
    if (waiting == 0)
        return;
    for (; next != replies.end(); ++next)
        m_queue.push_back({asker, *next});
    m_waiting[asker] += int(waiting);
}

void CommAndTimer::BSCTimer_Timer()
{
    try {
        if (m_queue.empty()) {
            BSCTimer.setEnabled(false);
            return;
        }
        arm();
        // Taken off before sending: a reply whose send fails is not retried.
        Pending next = std::move(m_queue.front());
        m_queue.pop_front();
        const auto waiting = m_waiting.find(next.asker);
        if (waiting != m_waiting.end() && --*waiting <= 0)
            m_waiting.erase(waiting);
        // A reply that waited tells the point's state of now, not of the query.
        if (!next.reply.code.isEmpty())
            next.reply.message.MsgData = BscStateBody(next.reply.code, next.reply.withLevel);
        send(next.reply.message);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("BSCTimer_Timer"));
    }
}
