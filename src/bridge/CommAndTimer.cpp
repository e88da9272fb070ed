#include "bridge/CommAndTimer.h"

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

void CommAndTimer::SendOrQueue(const QString &asker, const std::vector<xapQueuedMessage> &replies, int bound)
{
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), [&asker](const Pending &p) { return p.asker == asker; }),
                  m_queue.end());
    auto next = replies.begin();
    if (next != replies.end() && !BSCTimer.isEnabled()) {
        arm();
        send(*next++);
    }
    const auto waiting = replies.end() - next;
    if (waiting == 0)
        return;
    if (qsizetype(m_queue.size()) + waiting > bound) {
        if (!m_dropLogged) {
            m_dropLogged = true;
            LogError(kProgramName, QStringLiteral("BSCQuery: reply queue full (") + QString::number(m_queue.size())
                                       + QStringLiteral(" waiting), replies dropped"));
        }
        return;
    }
    for (; next != replies.end(); ++next)
        m_queue.push_back({asker, *next});
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
        const xapQueuedMessage message = m_queue.front().message;
        m_queue.pop_front();
        send(message);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("BSCTimer_Timer"));
    }
}
