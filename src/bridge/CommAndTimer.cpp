#include "bridge/CommAndTimer.h"

#include "bridge/BscBridge.h"
#include "bridge/ScriptQueue.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

#include <algorithm>
#include "ScriptControl.h"

#include <memory>

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
    if (m_dropLogged)
        return;
    m_dropLogged = true;
    LogError(kProgramName, QStringLiteral("BSCQuery: reply queue full (") + QString::number(m_queue.size())
                               + QStringLiteral(" waiting), replies dropped"));
}

bool CommAndTimer::Admits(const QString &asker)
{
    if (m_waiting.contains(asker))
        return false;
    if (m_bound >= 0 && qsizetype(m_queue.size()) >= m_bound && BSCTimer.isEnabled()) {
        logDrop();
        return false;
    }
    return true;
}

void CommAndTimer::SendOrQueue(const QString &asker, const std::vector<Reply> &replies, int bound)
{
    auto next = replies.begin();
    if (next != replies.end() && !BSCTimer.isEnabled()) {
        arm();
        send((next++)->message);
    }
    const auto waiting = replies.end() - next;
    if (waiting == 0)
        return;
    m_bound = bound;
    if (qsizetype(m_queue.size()) + waiting > bound) {
        logDrop();
        return;
    }
    for (; next != replies.end(); ++next)
        m_queue.push_back({asker, *next});
    m_waiting[asker] += int(waiting);
}

void CommAndTimer::BSCTimer_Timer()
{
    try {
        if (m_queue.empty()) {
            m_dropLogged = false;
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
