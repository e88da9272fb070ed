#include "bridge/IrPlayQueue.h"

#include "core/DrainSlices.h"

#include "bridge/PluginCallScope.h"
#include "bridge/PluginCalls.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"

#include "automation/PendingError.h"

static_assert(DrainSlices::kIrStepsPerTick == 1, "tick() plays one step");

namespace {

// While a play still waits for the controller, the queue looks again after this.
constexpr int kBusyRetryMs = 10;

} // namespace

IrPlayQueue::IrPlayQueue()
{
    m_timer.setSingleShot(true);
    // A coarse timer may end a pause up to 5% early; the codes need their 100 ms.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &IrPlayQueue::tick);
}

bool IrPlayQueue::add(const std::vector<Step> &steps)
{
    if (steps.empty())
        return true;
    int ms = 0;
    for (const Step &step : steps)
        ms += msOf(step);
    if (!m_steps.empty() && m_waitingMs + ms > kMostWaitMs) {
        RefusalLog::Log(kProgramName,
                        QStringLiteral("IR requests dropped, ") + QString::number(m_waitingMs)
                            + QStringLiteral(" ms of codes still wait to play"),
                        QStringLiteral("ir-queue-full"));
        return false;
    }
    // Even with nothing waiting the codes play from the timer: the receive
    // path never waits for the controller.
    for (auto next = steps.begin(); next != steps.end(); ++next)
        m_steps.push_back({*next, next + 1 == steps.end()});
    ++m_requests;
    m_waitingMs += ms;
    schedule();
    return true;
}

void IrPlayQueue::schedule()
{
    if (m_timer.isActive() || m_steps.empty())
        return;
    m_timer.start(m_steps.front().step.pauseBefore ? kPauseMs : 0);
}

IrPlayQueue::Queued IrPlayQueue::takeFront()
{
    Queued front = m_steps.front();
    m_steps.pop_front();
    m_waitingMs -= msOf(front.step);
    if (front.lastOfRequest)
        --m_requests;
    return front;
}

void IrPlayQueue::tick()
{
    if (m_steps.empty())
        return;
    if (m_running) {
        m_timer.start(kBusyRetryMs);
        return;
    }
    const Queued front = takeFront();
    const std::weak_ptr<int> alive = m_alive;
    try {
        run(front.step);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Readmessage"));
        if (alive.expired())
            return;
        // A fault ends its request: the steps it had left are not played.
        if (!front.lastOfRequest) {
            while (!m_steps.empty() && !takeFront().lastOfRequest) {
            }
        }
    }
    if (alive.expired())
        return;
    schedule();
}

void IrPlayQueue::run(const Step &step)
{
    const PluginCallScope running(m_running, m_alive);
    switch (step.kind) {
    case Step::Play:
        PluginCalls::PlayIR(step.location);
        break;
    case Step::PlayRemote:
        PluginCalls::PlayRemoteIR(step.address, step.zone, step.location);
        break;
    case Step::Zone:
        PluginCalls::SetZone(step.zone);
        break;
    }
}
