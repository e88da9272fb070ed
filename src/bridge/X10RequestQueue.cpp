#include "bridge/X10RequestQueue.h"

#include "core/DrainSlices.h"

#include "bridge/HostAccess.h"
#include "bridge/PluginCallScope.h"
#include "bridge/PluginCalls.h"
#include "bridge/PointTables.h"

#include "host/HostGlobals.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"

#include "automation/PendingError.h"

static_assert(DrainSlices::kX10RequestsPerTick == 1, "tick() runs one request");

namespace {

// While the plug-in is still busy with earlier commands the queue looks again after this.
constexpr int kBusyRetryMs = 10;

} // namespace

X10RequestQueue::X10RequestQueue()
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &X10RequestQueue::tick);
}

bool X10RequestQueue::add(const Request &request)
{
    const int frames = framesOf(request);
    if (m_frames + frames > kMostFrames) {
        RefusalLog::Log(kProgramName,
                        QStringLiteral("xap-x10.request: requests dropped, ") + QString::number(m_frames)
                            + QStringLiteral(" frames still wait to be sent"),
                        QStringLiteral("x10-queue-full"));
        return false;
    }
    m_requests.push_back(request);
    m_frames += frames;
    if (!m_timer.isActive())
        m_timer.start(0);
    return true;
}

void X10RequestQueue::tick()
{
    if (gShuttingDown) {
        // A request whose frames went out before the stop was carried out:
        // it is reported, not counted among the unsent.
        inRing();
        dropAtStop();
        return;
    }
    if (inRing()) {
        m_timer.start(kBusyRetryMs);
        return;
    }
    if (m_requests.empty())
        return;
    if (m_running || Points().QueuedCommands() > 0) {
        m_timer.start(kBusyRetryMs);
        return;
    }
    const Request request = m_requests.front();
    m_requests.pop_front();
    m_frames -= framesOf(request);
    const std::weak_ptr<int> alive = m_alive;
    try {
        run(request);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Readmessage"));
    }
    if (!alive.expired() && (!m_requests.empty() || m_queuedInRing) && !m_timer.isActive())
        m_timer.start(m_queuedInRing ? kBusyRetryMs : 0);
}

void X10RequestQueue::dropAtStop()
{
    // Nothing more goes out on the line: what waits is neither sent nor reported.
    const int dropped = int(m_requests.size()) + (m_queuedInRing ? 1 : 0);
    m_requests.clear();
    m_frames = 0;
    m_queuedInRing.reset();
    if (dropped > 0)
        RefusalLog::Log(kProgramName,
                        QString::number(dropped)
                            + QStringLiteral(" waiting xap-x10.requests dropped: the program is stopping"),
                        QStringLiteral("x10-stopping"));
}

bool X10RequestQueue::inRing()
{
    if (!m_queuedInRing)
        return false;
    if (Points().X10CommandsSent() > m_sentBefore) {
        const Request request = *std::exchange(m_queuedInRing, std::nullopt);
        report(request);
        return false;
    }
    if (Points().X10CommandsEnded() > m_endedBefore) {
        m_queuedInRing.reset();
        RefusalLog::Log(kProgramName, QStringLiteral("xap-x10.request: not sent to the controller, not reported"),
                        QStringLiteral("x10-not-taken"));
        return false;
    }
    return true;
}

void X10RequestQueue::run(const Request &request)
{
    const QString deviceCode = request.house + request.units.join(QLatin1Char('+'));
    bool taken = false;
    const quint64 sentBefore = Points().X10CommandsSent();
    const quint64 endedBefore = Points().X10CommandsEnded();
    // Nothing is reported once the queue is gone or the program is stopping.
    const std::weak_ptr<int> alive = m_alive;
    {
        const PluginCallScope running(m_running, m_alive);
        m_carried = &request;
        taken = PluginCalls::Exec(HostAccess::DeviceOfCode(deviceCode), request.house,
                                  request.units.join(QLatin1Char('+')), request.code, request.brightness);
    }
    if (alive.expired())
        return;
    m_carried = nullptr;
    if (gShuttingDown)
        return;
    if (!taken) {
        RefusalLog::Log(kProgramName, QStringLiteral("xap-x10.request: not taken by the controller, not reported"),
                        QStringLiteral("x10-not-taken"));
        return;
    }
    if (Points().X10CommandsSent() == sentBefore) {
        // Queued behind a pass in progress (a poll's wait): not on the line yet.
        m_queuedInRing = request;
        m_sentBefore = sentBefore;
        m_endedBefore = endedBefore;
        return;
    }
    report(request);
}

void X10RequestQueue::report(const Request &request)
{
    const QString deviceCode = request.house + request.units.join(QLatin1Char('+'));
    SendXap(QString(), QStringLiteral("xAP-X10.event"), QStringLiteral("xAP-X10.event"),
            XapBody({{QStringLiteral("Device"), deviceCode}, {QStringLiteral("Event"), request.word}}), QString(),
            QString());
    // Every unit of the request takes the new status, not only the first.
    for (const QString &unit : request.units)
        HostAccess::UpdateStatus(request.house + unit, request.code);
}

bool X10RequestQueue::carrying(const QString &house, int unit, int function) const
{
    const Request *carried = m_running ? m_carried : (m_queuedInRing ? &*m_queuedInRing : nullptr);
    if (!carried || carried->code != function || carried->house.compare(house, Qt::CaseInsensitive) != 0)
        return false;
    for (const QString &u : carried->units) {
        if (u.toInt() == unit)
            return true;
    }
    return false;
}
