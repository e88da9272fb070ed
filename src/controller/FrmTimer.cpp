#include "FrmTimer.h"
#include "CommsLog.h"
#include "IRFiles.h"
#include "PluginHooks.h"
#include "PluginSettings.h"
#include "PluginState.h"
#include "tspi.h"

#include "automation/VbString.h"

#include <QCoreApplication>
#include "core/Globals.h"

namespace {
FrmTimer* sForm = nullptr;
FrmTimer* sRetired = nullptr; // unloaded while a pass was still running on it

bool passRunning()
{
    return gPlugin.TimerRunning || gPlugin.TransferBusy || gPlugin.X10Sending;
}

void deleteRetired()
{
    delete sRetired;
    sRetired = nullptr;
}
constexpr int kDefaultPollMs = 500;
} // namespace

PluginHooks& PluginHooksInstance()
{
    static PluginHooks hooks;
    return hooks;
}

FrmTimer* FrmTimer::load()
{
    if (sRetired && !passRunning())
        deleteRetired();
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
    // A pass of the loops may be waiting further up the stack (the shutdown can
    // run inside one of their waits): the form then stays until the next load
    // or the end of the program.
    if (!passRunning()) {
        delete form;
        return;
    }
    if (sRetired)
        deleteRetired();
    sRetired = form;
    static bool cleanupAdded = false;
    if (!cleanupAdded && QCoreApplication::instance()) {
        qAddPostRoutine(deleteRetired);
        cleanupAdded = true;
    }
}

FrmTimer::FrmTimer()
{
    connect(&Timer2, &VbTimer::timer, &poll, &VariablePoll::Timer2_Timer);
    connect(&Timer3, &VbTimer::timer, &loop, &ReportLoop::Timer3_Timer);
    connect(&link, &CommLink::dataArrived, &loop, [this] {
        WriteCommsLog("TCPCOMM");
        loop.Timer3_Timer();
    });
    start.InitPlugin = [] { tspi::InitPlugin(); };
    start.ReadIRFiles = [] {
        IRFiles::ReadIRMap();
        IRFiles::BuildIRLookup();
    };
    start.EnablePollTimer = [this](bool enable) { EnablePollTimer(enable); };
    start.GetPluginSetting = [](const QString& key, const QString& def) { return PluginSettings::setting(key, def); };
    ir.QExec = [this](const QString& hc, const QString& dc, int command, long brightness, int d1, int d2) {
        loop.QExec(hc, dc, command, brightness, d1, d2);
    };
}

FrmTimer::~FrmTimer()
{
    if (sForm == this)
        sForm = nullptr;
}

int FrmTimer::pollIntervalMs()
{
    const double ms = VbString::Val(gPlugin.PollInterval);
    return ms >= 1 && ms <= 86400000 ? int(ms) : kDefaultPollMs;
}

void FrmTimer::EnablePollTimer(bool enable)
{
    Timer2.setEnabled(false);
    if (!enable)
        return;
    Timer2.setInterval(pollIntervalMs());
    Timer2.setEnabled(true);
}
