#include "bridge/CommAndTimer.h"

#include "bridge/ScriptQueue.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

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

void CommAndTimer::SendOrQueue(const xapQueuedMessage &message)
{
    if (BSCTimer.isEnabled()) {
        m_queue.push_back(message);
        return;
    }
    arm();
    send(message);
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
        const xapQueuedMessage message = m_queue.front();
        m_queue.pop_front();
        send(message);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("BSCTimer_Timer"));
    }
}
