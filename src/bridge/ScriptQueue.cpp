#include "bridge/ScriptQueue.h"

#include "bridge/CommAndTimer.h"
#include "bridge/ReceiveMessages.h"

#include "controller/PluginState.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/Script.h"
#include "host/TaggedMembers.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbString.h"
#include "script/Interpreter.h"

#include "ScriptControl.h"
#include "script/Interpreter.h"

#include "core/DrainSlices.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>

#include <cmath>
#include <deque>
#include <limits>
#include <unordered_set>

namespace {

constexpr int kFirstRunMs = 5;
constexpr int kRunningMs = 60000;
constexpr int kMinuteMs = 60000;
constexpr int kScriptTimeoutMs = 60000;
// How often a waiting queue looks again while script code outside a run holds it.
constexpr int kHeldMs = 50;
const QString kScriptName = QStringLiteral("xaptvkKorvane.txt");

std::deque<ObjectPtr> sPending;
// The records in sPending, and whether a periodic run waits there too.
std::unordered_set<const Object *> sWaitingRecords;
bool sPeriodicWaiting = false;
std::shared_ptr<Script> sStartupScript;
bool sDraining = false;
bool sReloadAfterDrain = false;
bool sOverflowLogged = false;

// Sets interval and countdown for the next periodic run from a period of P
// seconds: the minutes as countdown ticks of 60 s, the seconds left over as
// the first tick. False (logged, clock off) for a period it cannot count.
bool setClock(CommAndTimer &form, double period, const QString &periodText)
{
    const double minutes = std::floor(period / 60);
    if (!(period >= 0) || minutes > double(std::numeric_limits<qint32>::max())) {
        form.PeriodicScriptTimer.setEnabled(false);
        LogError(kProgramName, QStringLiteral("PeriodicScriptTimer: the period ") + periodText
                                   + QStringLiteral(" cannot be counted, the periodic script is off"));
        return false;
    }
    const qint64 whole = qint64(VbString::roundHalfEven(period));
    const int seconds = int(whole % 60);
    qint32 countdown = qint32(minutes);
    if (seconds != 0) {
        form.PeriodicScriptTimer.setInterval(seconds * 1000);
    } else {
        --countdown;
        form.PeriodicScriptTimer.setInterval(kMinuteMs);
    }
    form.PeriodicCountdown = countdown;
    return true;
}

} // namespace

void InitReceiveMessages()
{
    try {
        gCurrentScriptRecord.reset();
        InitFilterDictionary();
        InitIRMacroDictionary();
        InitDeviceDictionary();
        InitScriptControl();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("InitReceiveMessages"));
    }
}

void TermReceiveMessages()
{
    try {
        SaveDeviceDictionary();
        gDeviceDictionary.reset();
        gFilterDictionary.reset();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TermReceiveMessages"));
    }
}

namespace {

void setUpEngine()
{
    try {
        ScriptControl &engine = *CommAndTimer::instance().ScriptControl1;
        engine.Reset();
        // Objects of the script read before that the program still keeps cannot be used
        // any more (their variables and code went with it): they become Nothing, at once.
        if (const int dropped = DropEndedScriptObjectsKept(); dropped > 0)
            LogError(kProgramName, QStringLiteral("Read Script: %1 object(s) of the script read before, kept by the "
                                                  "program, set to Nothing")
                                       .arg(dropped));
        engine.setLanguage(QStringLiteral("VBScript"));
        engine.setAllowUI(true);
        engine.AddObject(QStringLiteral("xap"), hs, true);
        engine.setTimeout(kScriptTimeoutMs);
        LoadScripts();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("InitScriptControl ") + QString::number(PendingError::current().number));
    }
}

} // namespace

namespace {

// A run or a reload started while script code is on the stack would run inside it: a
// terminate, a callback or a run that pumps events lets the queue's tick or the page's
// "Read Script" in. Such code may be outside the drain (the event loop runs a released
// object's terminate), so the drain flag alone does not see it.
bool scriptHoldsTheEngine()
{
    return sDraining || Interpreter::scriptCodeRunning();
}

} // namespace

void InitScriptControl()
{
    // Resetting the engine under running script code would pull its code and its
    // variables away: the reload waits until that code has ended (the queue's next tick
    // does it), and the entries after it run with the script read again.
    if (scriptHoldsTheEngine()) {
        sReloadAfterDrain = true;
        if (!sDraining) {
            CommAndTimer &form = CommAndTimer::instance();
            form.ScriptQueueTimer.setInterval(kHeldMs);
            form.ScriptQueueTimer.setEnabled(true);
        }
        return;
    }
    sReloadAfterDrain = false;
    setUpEngine();
}

void LoadScripts()
{
    const QString path = ResolvePathNoCase(gAppPath, QStringLiteral("Scripts/") + kScriptName);
    if (!QFileInfo(path).isFile()) {
        sStartupScript.reset();
        return;
    }
    sStartupScript = std::make_shared<Script>();
    sStartupScript->Add(kScriptName, QStringLiteral("Main"));
}

void QueueDeviceEvent(const ObjectPtr &record)
{
    // A record that already waits is not queued again: its run reads the
    // record as it is then, the latest message among them.
    if (record ? sWaitingRecords.count(record.get()) > 0 : sPeriodicWaiting)
        return;
    // Once the program stops no run starts: the records stored at the stop queue
    // none, or each take of them would drop its own batch with its own entry.
    // A stop signal asks before the event loop begins the stop itself.
    if (gShuttingDown || Interpreter::stopRequested())
        return;
    if (sPending.size() >= size_t(kMaxPendingScriptEvents)) {
        if (!sOverflowLogged)
            LogError(kProgramName, QStringLiteral("QueueDeviceEvent: ") + QString::number(kMaxPendingScriptEvents)
                                       + QStringLiteral(" script runs are waiting, further events are dropped"));
        sOverflowLogged = true;
        return;
    }
    sPending.push_back(record);
    if (record)
        sWaitingRecords.insert(record.get());
    else
        sPeriodicWaiting = true;
    CommAndTimer &form = CommAndTimer::instance();
    if (!form.ScriptQueueTimer.isEnabled()) {
        form.ScriptQueueTimer.setInterval(kFirstRunMs);
        form.ScriptQueueTimer.setEnabled(true);
    }
}

namespace {
void dropPendingRuns()
{
    const size_t dropped = sPending.size();
    sPending.clear();
    sWaitingRecords.clear();
    sPeriodicWaiting = false;
    LogError(kProgramName, QString::number(dropped) + QStringLiteral(" waiting script runs dropped: the program is stopping"));
}
} // namespace

void ScriptQueueTimer_Timer()
{
    // A tick that comes while a run pumps events leaves the entries to the drain in progress;
    // one that comes while other script code pumps waits for it to end, so that every run
    // starts on its own, with its own time-out.
    if (sDraining)
        return;
    if (Interpreter::scriptCodeRunning()) {
        CommAndTimer::instance().ScriptQueueTimer.setInterval(kHeldMs);
        return;
    }
    sDraining = true;
    const QPointer<CommAndTimer> form = &CommAndTimer::instance();
    try {
        if (sReloadAfterDrain) {
            sReloadAfterDrain = false;
            setUpEngine();
        }
        QElapsedTimer slice;
        slice.start();
        while (!sPending.empty()) {
            // The rest waits for the next tick: the echo and the page are answered between.
            if (slice.elapsed() >= DrainSlices::kScriptRunsMs) {
                if (form)
                    form->ScriptQueueTimer.setInterval(kFirstRunMs);
                sDraining = false;
                return;
            }
            // Runs still waiting at a stop would each start only to fail at once, one log
            // entry apiece: they go together, with one entry saying how many.
            if (gShuttingDown || Interpreter::stopRequested()) {
                dropPendingRuns();
                break;
            }
            if (form)
                form->ScriptQueueTimer.setInterval(kRunningMs);
            const ObjectPtr entry = sPending.front();
            sPending.pop_front();
            if (entry)
                sWaitingRecords.erase(entry.get());
            else
                sPeriodicWaiting = false;
            const QString tag = entry ? entry->get(QStringLiteral("Tag")).toString() : QString();
            gCurrentScriptRecord = entry;
            // Held for the run: a reload during it must not free the running script.
            if (const std::shared_ptr<Script> script = sStartupScript)
                script->Run(QStringLiteral("Main"), Variant(tag));
            if (sReloadAfterDrain) {
                sReloadAfterDrain = false;
                setUpEngine();
            }
        }
        sOverflowLogged = false;
        if (form)
            form->ScriptQueueTimer.setEnabled(false);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("ScriptQueueTimer_Timer"));
    }
    sDraining = false;
    if (sReloadAfterDrain) {
        sReloadAfterDrain = false;
        setUpEngine();
    }
}

void PeriodicScriptTimer_Timer()
{
    try {
        CommAndTimer &form = CommAndTimer::instance();
        --form.PeriodicCountdown;
        if (form.PeriodicCountdown >= 0) {
            form.PeriodicScriptTimer.setInterval(kMinuteMs);
            return;
        }
        QueueDeviceEvent(nullptr);
        setClock(form, VbString::Val(gPlugin.ScriptPeriod), gPlugin.ScriptPeriod);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("PeriodicScriptTimer_Timer"));
    }
}

void ProgramPeriodicScript()
{
    CommAndTimer &form = CommAndTimer::instance();
    const QString period = gPlugin.ScriptPeriod;
    if (!setClock(form, VbString::Val(period), period))
        return;
    form.PeriodicScriptTimer.setEnabled(VbString::IsNumeric(period));
}

void SetScriptPeriod(const QString &period)
{
    gPlugin.ScriptPeriod = period;
    CommAndTimer::instance().PeriodicScriptTimer.setEnabled(VbString::IsNumeric(period));
}

Script *StartupScriptObject()
{
    return sStartupScript.get();
}

int PendingScriptEvents()
{
    return int(sPending.size());
}

void ResetScriptQueue()
{
    sPending.clear();
    sWaitingRecords.clear();
    sPeriodicWaiting = false;
    sStartupScript.reset();
    sDraining = false;
    sReloadAfterDrain = false;
    sOverflowLogged = false;
    gCurrentScriptRecord.reset();
}
