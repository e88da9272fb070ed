#include "host/ScriptCallbacks.h"

#include "core/DrainSlices.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/MemoryBudget.h"
#include "automation/PendingError.h"

#include "script/Interpreter.h"

#include <QElapsedTimer>
#include <QTimer>

#include <deque>

namespace ScriptCallbacks {
namespace {

// How often waiting calls look again while other script code (a run that pumps events) holds the engine.
constexpr int kHeldMs = 50;
// A timer, not a posted call: the event loop's timers and sockets (an echo, a received
// record) get their turn between two callbacks.
constexpr int kNextMs = 5;

struct Waiting {
    QString label;
    std::function<void()> callback;
};

std::deque<Waiting> sWaiting;
bool sDraining = false;
bool sScheduled = false;
bool sOverflowLogged = false;

bool stopping()
{
    return gShuttingDown || Interpreter::stopRequested();
}

void runNow(const QString &label, const std::function<void()> &callback)
{
    const MemoryBudget::ScriptWork work;
    try {
        callback();
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, label);
    }
    PendingError::clear();
}

void drain();

void schedule(int ms)
{
    if (std::exchange(sScheduled, true))
        return;
    QTimer::singleShot(ms, [] {
        sScheduled = false;
        drain();
    });
}

void drain()
{
    // A call that comes while a callback pumps events is taken by the loop below.
    if (sDraining || sWaiting.empty())
        return;
    if (Interpreter::scriptCodeRunning()) {
        schedule(kHeldMs);
        return;
    }
    sDraining = true;
    QElapsedTimer slice;
    slice.start();
    while (!sWaiting.empty()) {
        if (stopping()) {
            const size_t dropped = sWaiting.size();
            sWaiting.clear();
            LogError(kProgramName, QString::number(dropped)
                                       + QStringLiteral(" waiting status-change or event callbacks dropped: the program is stopping"));
            break;
        }
        if (slice.elapsed() >= DrainSlices::kScriptCallbacksMs) {
            schedule(kNextMs);
            break;
        }
        const Waiting next = std::move(sWaiting.front());
        sWaiting.pop_front();
        runNow(next.label, next.callback);
    }
    if (sWaiting.empty())
        sOverflowLogged = false;
    sDraining = false;
}

} // namespace

void call(const QString &label, std::function<void()> callback)
{
    if (stopping())
        return;
    if (MemoryBudget::scriptDriven()) {
        runNow(label, callback);
        return;
    }
    if (sWaiting.size() >= size_t(kMostWaiting)) {
        if (!std::exchange(sOverflowLogged, true))
            LogError(kProgramName, QString::number(kMostWaiting)
                                       + QStringLiteral(" status-change or event callbacks are waiting, further ones are dropped"));
        return;
    }
    sWaiting.push_back({label, std::move(callback)});
    schedule(kNextMs);
}

int waiting()
{
    return int(sWaiting.size());
}

void clear()
{
    sWaiting.clear();
    sOverflowLogged = false;
}

} // namespace ScriptCallbacks
