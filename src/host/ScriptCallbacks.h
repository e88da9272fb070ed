#pragma once

#include <QString>

#include <functional>

// Script code the program calls back when a device changes: the status-change scripts and
// the script objects registered for events. A change the running script made itself (its own
// SetDeviceStatus) calls them at once, inside its run and under its limits. A change the
// program makes (a controller report, also one handled inside a script's wait) queues them:
// the event loop runs them one after the other, each as a run of its own (its time-out, the
// stop, the budget, the log's counting of repeats), a slice at a time, so that a slow or
// failing callback never keeps the echo, the received records or a stop waiting for more
// than one run.
namespace ScriptCallbacks {

// Calls waiting at most; past it further calls are dropped with one log entry.
constexpr int kMostWaiting = 1000;

// `label` names the registration in the log entry of an error the callback lets out.
void call(const QString &label, std::function<void()> callback);
int waiting();
// Drops the waiting calls: their script was read again, or the program starts anew.
void clear();

} // namespace ScriptCallbacks
