#pragma once

#include "automation/Object.h"

#include <QString>

class Script;

// The bridge's receive side and the user script. The script file
// Scripts/xaptvkKorvane.txt runs in the shared engine with the host object
// as "xap" (its members also as bare names); its Main is called with a tag
// for every filter event, every tagged device change and periodically.
// Runs never overlap: requests wait in one queue that a timer tick drains
// in order.

// Start-up of the receive side: filters, IR macros, tagged records, then
// the engine and the script.
void InitReceiveMessages();
// End of the receive side: saves the tagged records and releases the
// filter and record tables.
void TermReceiveMessages();
// The tagged records were read from the store and not saved since: a stop that comes before
// the plug-in runs (during the start-up script) still has them to store and save.
bool ReceiveSideUp();
// Resets the engine, adds "xap" and loads the script file again.
void InitScriptControl();
void LoadScripts();

// Queues a run of Main for a record (Nothing: a periodic run).
void QueueDeviceEvent(const ObjectPtr &record);
// The queue timer's tick: runs Main for every queued entry, oldest first.
void ScriptQueueTimer_Timer();
// The periodic clock's tick.
void PeriodicScriptTimer_Timer();
// Programs the periodic clock from the script period (the plug-in's I/O
// start); a negative period or one of too many minutes turns it off.
void ProgramPeriodicScript();
// A new period from the status page: stored, and the clock runs exactly
// when the text is numeric; interval and countdown stay as they are.
void SetScriptPeriod(const QString &period);

// The script loaded by LoadScripts; null when there is no script file.
Script *StartupScriptObject();
// Entries waiting to run.
int PendingScriptEvents();
// Entries beyond this many are dropped with a log entry until the queue drains.
constexpr int kMaxPendingScriptEvents = 10000;
// Back to the state of a fresh start (tests).
void ResetScriptQueue();
