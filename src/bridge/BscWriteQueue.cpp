#include "bridge/BscWriteQueue.h"

#include "bridge/BscNaming.h"
#include "bridge/HostAccess.h"
#include "bridge/PluginCalls.h"
#include "bridge/PointTables.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

#include <algorithm>

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

void BscWriteQueue::add(const QString &house, const QString &unit, int command, int level)
{
    const QString code = house + unit;
    m_writes.erase(std::remove_if(m_writes.begin(), m_writes.end(),
                                  [&code](const Write &w) { return w.house + w.unit == code; }),
                   m_writes.end());
    const Write write{house, unit, command, level};
    if (m_writes.empty() && !m_timer.isActive() && !pluginBusy()) {
        // The next write, even of the same message, waits for the event loop to have run.
        m_timer.start(0);
        run(write);
        return;
    }
    m_writes.push_back(write);
    if (!m_timer.isActive())
        m_timer.start(0);
}

void BscWriteQueue::tick()
{
    if (m_writes.empty())
        return;
    if (pluginBusy()) {
        m_timer.start(kBusyRetryMs);
        return;
    }
    const Write write = m_writes.front();
    m_writes.pop_front();
    if (!m_writes.empty())
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
    // The plug-in waits for the controller while pumping events, and an exit
    // handled meanwhile unloads this queue: after the call, only a queue
    // still alive is touched.
    const std::weak_ptr<int> alive = m_alive;
    struct Running
    {
        bool &flag;
        const std::weak_ptr<int> &alive;
        Running(bool &f, const std::weak_ptr<int> &a) : flag(f), alive(a) { flag = true; }
        ~Running()
        {
            if (!alive.expired())
                flag = false;
        }
    } running(m_running, alive);
    const QString code = write.house + write.unit;
    // A variable's State follows its value: stored before the write, so the
    // event the write brings carries both new.
    if (BscNaming::IsVariableHouse(write.house, Points()))
        HostAccess::UpdateStatus(code, write.level != 0 ? 2 : 3);
    PluginCalls::SetIO(write.house, write.unit, write.command, write.level);
}
