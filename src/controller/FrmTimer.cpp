#include "FrmTimer.h"
#include "link/CommsLog.h"
#include "IRFiles.h"
#include "PluginHooks.h"
#include "PluginSettings.h"
#include "PluginState.h"


#include <QCoreApplication>

#include <vector>
#include "core/Globals.h"

namespace {
FrmTimer* sForm = nullptr;
// Unloaded forms. The shutdown can run inside any wait of the controller code
// (a link open, a reply wait, a pass of the loops), all of which still use the
// form when the wait returns: unloaded forms are only deleted with the program.
std::vector<FrmTimer*> sRetired;

void deleteRetired()
{
    for (FrmTimer* f : sRetired)
        delete f;
    sRetired.clear();
}
} // namespace

PluginHooks& PluginHooksInstance()
{
    static PluginHooks hooks;
    return hooks;
}

FrmTimer* FrmTimer::load()
{
    if (!sForm)
        sForm = new FrmTimer();
    return sForm;
}

FrmTimer* FrmTimer::instance()
{
    return sForm;
}

void FrmTimer::unload()
{
    FrmTimer* form = sForm;
    if (!form)
        return;
    sForm = nullptr;
    form->Timer1.setEnabled(false);
    form->Timer2.setEnabled(false);
    form->Timer3.setEnabled(false);
    form->start.clockSyncTimer().stop();
    if (!QCoreApplication::instance()) {
        delete form;
        return;
    }
    static bool cleanupAdded = false;
    if (!cleanupAdded) {
        qAddPostRoutine(deleteRetired);
        cleanupAdded = true;
    }
    sRetired.push_back(form);
}

FrmTimer::FrmTimer()
{
    connect(&Timer2, &VbTimer::timer, &poll, &VariablePoll::Timer2_Timer);
    connect(&Timer3, &VbTimer::timer, &loop, &ReportLoop::Timer3_Timer);
    // Queued: a pass run inside the link's data signal would wait for replies
    // that the link does not signal until that signal has returned.
    connect(
        &link, &CommLink::dataArrived, &loop,
        [this] {
            WriteCommsLog(gPlugin.UseSerialComm ? "TCPCOMM" : "MSCOMM");
            loop.Timer3_Timer();
        },
        Qt::QueuedConnection);
    // Out of the socket's own signal: discovery waits on the link it came from.
    connect(&link, &CommLink::linkRestored, &start, &ControllerStart::Rediscover, Qt::QueuedConnection);
    start.ReadIRFiles = [] {
        IRFiles::ReadIRMap();
        IRFiles::BuildIRLookup();
    };
    start.EnablePollTimer = [this](bool enable) { EnablePollTimer(enable); };
    start.GetPluginSetting = [](const QString& key, const QString& def) { return PluginSettings::setting(key, def); };
    ir.QExec = [this](const QString& hc, const QString& dc, int command, long brightness, int d1, int d2) {
        return loop.QExec(hc, dc, command, brightness, d1, d2);
    };
}

FrmTimer::~FrmTimer()
{
    if (sForm == this)
        sForm = nullptr;
}

int FrmTimer::pollIntervalMs()
{
    return VariablePoll::pollIntervalMs();
}

void FrmTimer::EnablePollTimer(bool enable)
{
    poll.EnablePollTimer(enable);
}
