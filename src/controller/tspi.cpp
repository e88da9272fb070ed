#include "tspi.h"
#include "link/CommsLog.h"
#include "DeviceCreation.h"
#include "FrmTimer.h"
#include "IRFiles.h"
#include "PluginHooks.h"
#include "PluginHost.h"
#include "PluginSettings.h"
#include "PluginState.h"
#include "PointMap.h"
#include "UnitMappings.h"
#include "WriteMirror.h"

#include "automation/AnsiCodePage.h"
#include "automation/ClassRegistry.h"
#include "automation/VbDate.h"
#include "automation/VbError.h"
#include "automation/VbString.h"
#include "core/Globals.h"
#include "core/StartupStop.h"
#include "core/RefusalLog.h"
#include "core/Shutdown.h"
#include "host/HostHooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

namespace {
int sInstanceCount = 0;
LateBoundControllerHost sControllerHost;
bool sInConfig = false;

FrmTimer* form()
{
    return FrmTimer::instance();
}

bool numericPort(const QString& text)
{
    return VbString::IsNumeric(text);
}

// A port number from the host replaces the comm port, unless the setting is a
// device path (which the host cannot pass as a number).
void usePort(qint32 port)
{
    if (port != 0 || numericPort(gPlugin.CommPort))
        gPlugin.CommPort = QString::number(port);
}

// A form's name; the host form answers to its type name when it has no name member.
QString formName(const ObjectPtr& frm)
{
    if (!frm)
        return QString();
    if (frm->hasMember("name"))
        return PluginHost::get(frm, "name").toString();
    return frm->typeName();
}

QString programVersion()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QStringLiteral("1.0.0") : v;
}
} // namespace

void tspi::describe(DispatchTable<tspi>& t)
{
    t.name("tspi");
    t.get("AccessLevel", &tspi::AccessLevel);
    t.get("Capabilities", &tspi::Capabilities);
    t.get("name", &tspi::name);
    t.method("RegisterCallback", &tspi::RegisterCallback);
    t.method("SelectMenu", &tspi::SelectMenu);
    t.get("InterfaceStatus", &tspi::InterfaceStatus);
    t.method("ConfigX10", &tspi::ConfigX10);
    t.method("ShutDownX10", &tspi::ShutDownX10);
    t.method("InitX10", &tspi::InitX10);
    t.method("Exec", &tspi::Exec);
    t.method("ExecWait", &tspi::ExecWait);
    t.method("QExec", &tspi::QExec);
    t.method("GetDeviceStatus", &tspi::GetDeviceStatus);
    t.get("IRPortType", &tspi::IRPortType);
    t.method("InitIR", &tspi::InitIR);
    t.method("ShutDownIR", &tspi::ShutDownIR);
    t.get("MaxKeys", &tspi::MaxKeys);
    t.get("MaxDevices", &tspi::MaxDevices);
    t.get("HasOptions", &tspi::HasOptions);
    t.get("SupportsIRMatch", &tspi::SupportsIRMatch);
    t.get("MaxZones", &tspi::MaxZones);
    t.method("IsMatchable", &tspi::IsMatchable);
    t.method("ConfigIR", &tspi::ConfigIR);
    t.method("KeyColor", &tspi::KeyColor);
    t.method("KeyLearnable", &tspi::KeyLearnable);
    t.method("SetZone", &tspi::SetZone);
    t.method("LearnIR", &tspi::LearnIR);
    t.method("InitIO", &tspi::InitIO);
    t.method("ShutdownIO", &tspi::ShutdownIO);
    t.method("ConfigIO", &tspi::ConfigIO);
    t.method("SetPoint", &tspi::SetPoint);
    t.method("SetIO", &tspi::SetIO);
    t.method("GetUnit", &tspi::GetUnit);
    t.method("PollIO", &tspi::PollIO);
    t.method("GetVar", &tspi::GetVar);
    t.method("PollVars", &tspi::PollVars);
    t.method("StartGetAnalog", &tspi::StartGetAnalog);
    t.method("GetAnalogInputValue", &tspi::GetAnalogInputValue);
    t.get("IsBusy", &tspi::IsBusy);
    t.method("GetAnalogInput", &tspi::GetAnalogInput);
    t.method("GetPoint", &tspi::GetPoint);
    t.method("GetParameter", &tspi::GetParameter);
    t.method("InitCPUQX", &tspi::InitCPUQX);
    t.method("EnableTouch", &tspi::EnableTouch);
    t.method("PlayIR", &tspi::PlayIR);
    t.method("PlayIREx", &tspi::PlayIREx);
    t.method("PlayRemoteIR", &tspi::PlayRemoteIR);
    t.method("LearnIRStart", &tspi::LearnIRStart);
    t.method("LearnIREnd", &tspi::LearnIREnd);
    t.method("SetVar", &tspi::SetVar);
    t.method("WriteScreen", &tspi::WriteScreen);
    t.method("xasend", &tspi::xasend);
    t.method("SetTimeOut", &tspi::SetTimeOut);
    t.method("onComm", &tspi::onComm);
}

tspi::tspi()
{
    // The first object binds the timers and the link; later ones share them.
    if (sInstanceCount == 0 || !FrmTimer::instance())
        FrmTimer::load()->start.InitPlugin = [] { tspi::InitPlugin(); };
    ++sInstanceCount;
}

tspi::~tspi()
{
    --sInstanceCount;
}

int tspi::InstanceCount()
{
    return sInstanceCount;
}

bool tspi::registered() const
{
    return gPlugin.Registered || gPlugin.HostIsSetupForm;
}

QString tspi::name() const
{
    return kProgramName;
}

Variant tspi::RegisterCallback(const ObjectPtr& frm)
{
    using PluginHost::ignoring;
    ignoring([&] {
        gPlugin.CallbackObject = frm;
        gPlugin.HostIsSetupForm = frm && frm->typeName() == "Setup";
    });
    ignoring([&] { gPlugin.PluginHostRef = PluginHost::callback("GetTSIface").toObject(); });
    gPluginHostRegistered = bool(gPlugin.PluginHostRef);
    ignoring([&] {
        if (!gPlugin.PluginHostRef)
            LogControllerError(kProgramName, "Unable to access TS interface");
        else
            LogControllerError(kProgramName, "Version " + programVersion() + " Registered with " + formName(frm));
    });
    ignoring([&] {
        gPlugin.HostVersionAbove1 = VbString::Val(PluginHost::hs("Version").toString().left(1)) > 1;
    });
    SetControllerHost(&sControllerHost);
    gPlugin.DevicesDiscovered = false;
    gPlugin.ProjectMapTried = false;
    gPlugin.Registered = true;
    ignoring([&] {
        if (PluginSettings::setting("showInMenu", "1").remove('"').trimmed() == "1")
            PluginHost::callback("RegisterMenu", {Variant(kProgramName), Variant("Setup")});
    });
    ignoring([&] { ReadOptions(); });
    gPlugin.DisconnectRequested = false;
    gPlugin.ToolRunRequested = false;
    gPlugin.IRZonesWritten = false;
    return Variant();
}

void tspi::ReadOptions()
{
    auto flag = [](const char* key) { return VbString::Val(PluginSettings::setting(key, "0").remove('"')) != 0; };
    gPlugin.IncludeVariables = flag("IncludeVariables");
    gPlugin.IncludeIO = flag("IncludeIO");
    gPlugin.IncludeIR = flag("IncludeIR");
    gPlugin.IncludeX10 = flag("IncludeX10");
    gPlugin.IncludeSetup = flag("IncludeSetup");
    gPlugin.ShowOnlyUsed = flag("ShowOnlyUsed");
    PluginHooksInstance().loadDisplaySettings.call();
}

Variant tspi::SelectMenu(const Variant& strMenu)
{
    if (!registered())
        return Variant();
    PluginHost::trapped("Select Menu", [&] {
        if (strMenu.toString() == "Setup")
            PluginHooksInstance().showConfigDialog.call(gPlugin.HostVersionAbove1);
    });
    return Variant();
}

void tspi::config(const QString& member)
{
    if (registered()) {
        SelectMenu(Variant("Setup"));
        return;
    }
    if (sInConfig)
        return; // the host handed back an unregistered plug-in: nothing to show
    sInConfig = true;
    PluginHost::ignoring([&] {
        ObjectPtr app = ClassRegistry::instance().create("xaptvkKorvane.Application");
        ObjectPtr plugin = app->call("GetPlugins", {Variant(1)}).toObject();
        if (plugin)
            plugin->call(member);
    });
    sInConfig = false;
}

void tspi::ConfigX10() { config("ConfigX10"); }
void tspi::ConfigIR() { config("ConfigIR"); }
void tspi::ConfigIO() { config("ConfigIO"); }

qint16 tspi::InterfaceStatus()
{
    return qint16(gPlugin.InterfaceStatusWord);
}

QString tspi::InitX10(qint32 port)
{
    if (!registered() || !form())
        return QString();
    LogControllerError(kProgramName, "Initializing X10 Interface on port " + QString::number(port));
    usePort(port);
    return form()->start.StartX10(gPlugin.CommPort);
}

QString tspi::InitIR(qint32 port)
{
    if (gPlugin.IRInitialised)
        return QString();
    QString result;
    if (registered() && form()) {
        usePort(port);
        result = form()->start.StartIR(gPlugin.CommPort);
        IRFiles::SetupIRDictionary();
    }
    gPlugin.IREnabled = true;
    return result;
}

QString tspi::InitIO(qint32 port)
{
    if (gPlugin.IOInitialised)
        return QString();
    // A serial-server link keeps its configured address: its reconnects go on
    // trying the server there, however late it comes up.
    if (!gPlugin.CommsStarted && !gPlugin.UseSerialComm) {
        const QString comport = PluginSettings::setting("comport", "1").remove('"').trimmed();
        if (!comport.isEmpty())
            gPlugin.CommPort = comport;
    }
    if (!registered() || !form()) {
        gPlugin.IOEnabled = true;
        return QString();
    }
    const QString result = form()->start.StartIO(QString::number(port));
    // The periodic script runs every ScriptPeriod seconds: a countdown of whole
    // minutes and a timer for the rest.
    PluginHost::ignoring([] {
        const QString p = gPlugin.ScriptPeriod;
        const double seconds = VbString::Val(p);
        long countdown = long(std::floor(seconds / 60));
        const long whole = long(VbString::roundHalfEven(seconds));
        int interval = int(whole % 60) * 1000;
        if (interval == 0) {
            interval = 60000;
            --countdown;
        }
        const bool enabled = VbString::IsNumeric(p) && seconds >= 0 && interval > 0;
        PluginHooksInstance().programPeriodicScript.call(interval, countdown, enabled);
    });
    gPlugin.IOEnabled = true;
    Protocol::WaitMs(gControllerTiming.initIOWaitMs);
    if (form())
        form()->poll.Timer2_Timer();
    return result;
}

void tspi::InitPlugin()
{
    using PluginHost::ignoring;
    ignoring([] { gPlugin.PollInterval = PluginSettings::setting("poll_interval", "500").remove('"'); });
    ignoring([] { gPlugin.ScriptPeriod = PluginSettings::setting("PeriodicScriptInterval", "0").remove('"'); });
    ignoring([] { gPlugin.DebugLogFlag = IsTrue(PluginSettings::setting("DebugLog", "False").remove('"')); });
    gPlugin.InterfaceName = UnitMappings::FindInterface();
    const QString vars = UnitMappings::FindVarsHouseCode();
    gPlugin.VarsHouseCode = vars.isEmpty() ? 0 : vars.at(0).unicode();
    UnitMappings::ReadUnitMappings();
    DeviceCreation::DiscoverDevices();
    // A stop during the start-up: the poll and the project file would only delay Exit.
    if (StartupStopping())
        return;
    // The X10, IR and I/O sides each run this; the project file is read by the first.
    if (!gPlugin.ProjectMapTried && (!gPlugin.PointNameDictionary || gPlugin.PointNameDictionary->count() == 0)) {
        gPlugin.ProjectMapTried = true;
        IRFiles::ReadIRCfg();
        PointMap::BuildSystemMapDictionary();
    }
    if (FrmTimer* f = form()) {
        f->EnablePollTimer(true);
        f->Timer3.setInterval(200);
        f->Timer3.setEnabled(true);
    }
    gPlugin.IOPollDue = true;
    PluginHooksInstance().enablePeriodicScript.call(PluginSettings::periodRunsScript(gPlugin.ScriptPeriod));
}

Variant tspi::ShutDownX10()
{
    ShutdownInterface();
    return Variant();
}

Variant tspi::ShutDownIR()
{
    ShutdownInterface();
    return Variant();
}

void tspi::ShutdownIO()
{
    ShutdownInterface();
}

void tspi::ShutdownInterface(bool wholeProgram)
{
    using PluginHost::ignoring;
    if (!gPlugin.PluginHostRef)
        return;
    PluginHooks& hooks = PluginHooksInstance();
    if (wholeProgram)
        ignoring([&] {
            hooks.termReceiveMessages.call();
        });
    ignoring([] {
        if (form())
            form()->Timer2.setEnabled(false);
    });
    if (gControllerTiming.shutdownWaitMs > 0) {
        // Not the controller wait, which an exiting program skips: commands in
        // flight get their time.
        QEventLoop wait;
        QTimer::singleShot(gControllerTiming.shutdownWaitMs, &wait, &QEventLoop::quit);
        wait.exec();
    }
    ignoring([] {
        if (form())
            form()->link.CloseCommLink(true);
    });
    FrmTimer::unload();
    if (wholeProgram) {
        ignoring([&] {
            hooks.unloadCommAndTimer.call();
        });
        ignoring([&] {
            hooks.unloadTCPServer.call();
        });
    }
    gPlugin.IRNameDictionary.clear();
    if (gPlugin.IRZonesWritten)
        ignoring([] {
            const QString app = gAppPath;
            PluginHost::hs("Launch", {Variant(QDir::toNativeSeparators(app + "/Scripts/Korvane_RenameFiles.vbs")),
                                      Variant("\"" + QDir::toNativeSeparators(app) + "\"")});
        });
    gPlugin.UnitMapIndex.clear();
    gPlugin.PointNameDictionary.reset();
    gPlugin.IRCodeDictionary.reset();
    gPlugin.PluginHostRef.reset();
    gPluginHostRegistered = false;
}

Variant tspi::Exec(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
                   qint32 brightness, qint16 data1, qint16 data2)
{
    // The caller learns whether the command was taken, so it reports only what will be sent.
    return Variant(QExec(dv, housecode, DeviceCode, command, brightness, data1, data2));
}

Variant tspi::ExecWait(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
                       qint32 brightness, qint16 data1, qint16 data2)
{
    QExec(dv, housecode, DeviceCode, command, brightness, data1, data2);
    return Variant();
}

bool tspi::QExec(const Variant&, const QString& housecode, const QString& DeviceCode, qint16 command,
                 qint32 brightness, qint16 data1, qint16 data2)
{
    FrmTimer* f = form();
    return f && f->loop.QExec(housecode, DeviceCode, command, brightness, data1, data2);
}

qint16 tspi::GetDeviceStatus(const QString& housecode, const QString& DeviceCode)
{
    LogControllerError(kProgramName, "GetDeviceStatus " + housecode + DeviceCode);
    return 0;
}

qint16 tspi::MaxDevices()
{
    if (gPlugin.IRLocationCount == 0)
        return 14;
    return qint16(VbString::roundHalfEven(gPlugin.IRLocationCount / 36.0));
}

qint16 tspi::MaxZones()
{
    return gPlugin.HasIRZoneModules ? qint16(gPlugin.IRZoneModuleCount * 16 + 1) : 0;
}

Variant tspi::IsMatchable(qint32 loc)
{
    return Variant(loc < 80);
}

void tspi::SetZone(qint32 zone)
{
    gPlugin.CurrentZone = zone;
}

Variant tspi::LearnIR(qint32 loc)
{
    QExec(Variant(), "", "", 103, loc, 0, 0);
    return Variant();
}

void tspi::SetPoint(qint16 unit, qint16 point, qint16 Value)
{
    const umap* m = nullptr;
    for (const umap& u : gPlugin.UnitMaps)
        if (u.unit == unit) {
            m = &u;
            break;
        }
    if (!m) {
        QExec(Variant(), "", "", 101, Value, unit, point);
        return;
    }
    const QString code = m->hc + QString::number(point + 1);
    PluginHost::ignoring([&] { WriteMirror::announceOutput(code, Value); });
}

void tspi::SetIO(const Variant& dv, const QString& housecode, const QString& DeviceCode, qint16 command,
                 qint16 brightness, qint16 data1, qint16 data2)
{
    if (!registered() || housecode.isEmpty())
        return;
    using PluginHost::ignoring;
    const QString code = housecode + DeviceCode;
    // Once the program is stopping nothing more goes out on the line: a write
    // announced and stored now would be a change the controller never made.
    if (Shutdown::waitsEnding()) {
        RefusalLog::Log(kProgramName, "SetIO: " + code + " not sent, the program is stopping",
                        QStringLiteral("setio-stopping"));
        return;
    }
    const int house = housecode.at(0).unicode();
    if (gPlugin.VarsHouseCode > 0 && (house == gPlugin.VarsHouseCode || house == gPlugin.VarsHouseCode + 1)) {
        int level = brightness;
        if (command == 2 || command == 3) {
            if (command == 2 && brightness == 0)
                level = 1;
            command = 19;
        }
        if (command != 19)
            return; // only a value can be set on a variable; nothing is queued or announced
        const int unit = int(VbString::Val(DeviceCode));
        const int n = unit - 1 + (house == gPlugin.VarsHouseCode ? 0 : 64);
        if (unit < 1 || unit > 64) {
            LogControllerError(kProgramName, "SetIO: no controller variable for device " + code);
            return;
        }
        // Announced when the controller acknowledges it (as every write is),
        // with the value the controller then holds: a write announced while
        // queued could be merged away, overtaken by a script's writes, or
        // never sent.
        QExec(dv, QString::number(house), QString::number(n), 19, level, data1, data2);
        return;
    }
    if (!gPlugin.UnitMapIndex.contains(housecode))
        return;
    int module = 0, point = 0;
    bool ok = false;
    ignoring([&] {
        const int ref = PluginHost::DeviceExists(code);
        if (ref < 0)
            return;
        ObjectPtr dev = PluginHost::GetDevice(ref);
        if (PluginHost::get(dev, "iotype").toLong() != 1)
            return;
        const QStringList f = PluginHost::get(dev, "iomisc").toString().split('!');
        module = int(VbString::Val(f.value(0)));
        point = int(VbString::Val(f.value(2)));
        ok = true;
    });
    if (!ok)
        return;
    int value = brightness;
    if (value < 0 || value > 255) {
        LogControllerError(kProgramName, "SetIO: level " + QString::number(value) + " for " + code + " clamped to 0-255");
        value = qBound(0, value, 255);
    }
    QExec(dv, housecode, DeviceCode, 101, value, module, point);
}

Variant tspi::GetUnit(qint16 unitnum)
{
    if (unitnum < 0 || unitnum >= 128) {
        if (unitnum < 0)
            LogControllerError(kProgramName, "GetUnit " + QString::number(unitnum) + " out of range");
        return Variant::fromInteger(0);
    }
    return Variant::fromInteger(gPlugin.UnitTypes[size_t(unitnum)]);
}

bool tspi::PollIO()
{
    return form() ? form()->poll.PollIO() : false;
}

qint32 tspi::GetVar(qint16 varnum)
{
    if (varnum < 0 || varnum > 128)
        throw VbError(VbErr::SubscriptOutOfRange);
    return qint32(gPlugin.ControllerVars[size_t(varnum)]);
}

bool tspi::PollVars()
{
    return form() ? form()->poll.PollVars() : false;
}

qint16 tspi::StartGetAnalog(qint16 unit, qint16 point)
{
    return form() ? qint16(form()->poll.StartGetAnalog(unit, point)) : 0;
}

qint32 tspi::GetAnalogInputValue(qint16 unit, qint16 point)
{
    return form() ? form()->poll.GetAnalogInputValue(unit, point) : 0;
}

bool tspi::IsBusy()
{
    return gPlugin.TransferBusy;
}

qint32 tspi::GetAnalogInput(qint16 unit, qint16 point)
{
    return form() ? form()->poll.GetAnalogInput(unit, point) : 0;
}

qint32 tspi::GetPoint(qint16 unit, qint16 point, bool digital)
{
    return form() ? form()->poll.GetPoint(unit, point, digital) : 0;
}

qint32 tspi::GetParameter(qint16 unit, qint16 pnum)
{
    return form() ? qint32(form()->cmds.GetParameter(unit, pnum)) : 0;
}

QString tspi::InitCPUQX()
{
    return form() ? form()->start.InitCPUQX() : QString();
}

Variant tspi::EnableTouch(qint16 mode)
{
    if (form())
        form()->cmds.EnableTouch(mode);
    return Variant();
}

Variant tspi::PlayIR(qint32 loc)
{
    if (form())
        form()->ir.PlayIR(loc);
    return Variant();
}

qint16 tspi::PlayIREx(const Variant& loc)
{
    return form() ? qint16(form()->ir.PlayIREx(loc.toString())) : 0;
}

Variant tspi::PlayRemoteIR(qint16 addr, qint16 zone, qint16 loc)
{
    if (form())
        form()->ir.PlayRemoteIR(addr, zone, loc);
    return Variant();
}

Variant tspi::LearnIRStart(qint32 loc)
{
    if (form())
        form()->ir.LearnIRStart(loc);
    return Variant();
}

void tspi::LearnIREnd()
{
    if (form())
        form()->ir.LearnIREnd();
}

qint16 tspi::SetVar(qint16 vnum, qint32 Data)
{
    return form() ? qint16(form()->cmds.SetVar(vnum, Data)) : 0;
}

qint16 tspi::WriteScreen(qint16 x, qint16 y, const QString& txt, bool backlight, qint16 font, bool Clear, bool beep)
{
    return form() ? qint16(form()->cmds.WriteScreen(x, y, txt, backlight, font, Clear, beep)) : 0;
}

qint16 tspi::xasend(const Variant& buf)
{
    QByteArray bytes;
    if (buf.isArray()) {
        for (const Variant& b : buf.array().data())
            bytes.append(char(quint8(b.toLong())));
    } else {
        bytes = AnsiCodePage::encode(buf.toString());
    }
    return form() ? qint16(form()->cmds.xasend(bytes)) : 0;
}

void tspi::SetTimeOut(qint16 Timeout)
{
    if (form())
        form()->cmds.SetTimeOut(Timeout);
}

void tspi::onComm()
{
    WriteCommsLog("TCPCOMM");
    if (form())
        form()->loop.Timer3_Timer();
}

void ResetPluginRuntime()
{
    FrmTimer::unload();
    ResetPluginState();
    SetControllerHost(nullptr);
}
