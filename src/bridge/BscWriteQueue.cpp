#include "bridge/BscWriteQueue.h"

#include "core/DrainSlices.h"

#include "bridge/PluginCallScope.h"
#include "bridge/PluginCalls.h"
#include "bridge/PointTables.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"


static_assert(DrainSlices::kPointWritesPerTick == 1, "tick() runs one write");

namespace {

// Between writes the event loop runs once; while the plug-in is still busy
// with earlier commands the queue looks again after this pause.
constexpr int kBusyRetryMs = 10;

} // namespace

BscWriteQueue::BscWriteQueue()
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BscWriteQueue::tick);
}

bool BscWriteQueue::pluginBusy() const
{
    return m_running || Points().QueuedCommands() > 0;
}

void BscWriteQueue::add(const QString &code, int command, int level)
{
    // A write to a point that still waits takes the new value in its place.
    if (const auto waiting = m_latest.find(code); waiting != m_latest.end()) {
        waiting->command = command;
        waiting->level = level;
        return;
    }
    m_latest.insert(code, Write{code.left(1), code.mid(1), command, level});
    m_order.push_back(code);
    if (!m_timer.isActive())
        m_timer.start(0);
}

void BscWriteQueue::tick()
{
    if (m_order.empty())
        return;
    if (pluginBusy()) {
        m_timer.start(kBusyRetryMs);
        return;
    }
    const Write write = m_latest.take(m_order.front());
    m_order.pop_front();
    if (!m_order.empty())
        m_timer.start(0);
    try {
        run(write);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SetBSCPoint"));
    }
}

void BscWriteQueue::run(const Write &write)
{
    const PluginCallScope running(m_running, m_alive);
    PluginCalls::SetIO(write.house, write.unit, write.command, write.level);
}
