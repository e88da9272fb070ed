#include "bridge/BridgeRegistration.h"

#include "bridge/BridgeHooks.h"

#include "bridge/BscBridge.h"
#include "bridge/CommAndTimer.h"
#include "bridge/DeviceMessageClass.h"
#include "bridge/PluginPointTables.h"
#include "bridge/ReceiveDispatcher.h"
#include "bridge/ReceiveMessages.h"
#include "bridge/ScriptQueue.h"
#include "bridge/TagTables.h"
#include "bridge/XapReports.h"

#include "controller/PluginHooks.h"

#include "host/HostHooks.h"

#include "core/CoreHooks.h"
#include "script/Interpreter.h"

#include "automation/ClassRegistry.h"

void registerBridgeSubsystem()
{
    ClassRegistry::instance().add(QStringLiteral("xaptvkKorvane.DeviceMessageClass"),
                                  [] { return std::make_shared<DeviceMessageClass>(); });

    HostHooks &host = HostHooksInstance();
    // Host scripts load into the one engine, which the bridge's timer form holds.
    host.scriptEngine = [] { return CommAndTimer::instance().ScriptControl1; };
    host.sendXapBSC = [](const QString &dc) { SendXapBSC(dc); };
    host.sendXapX10Event = [](const QString &units, const QString &house, qint16 command, const Variant &,
                              const Variant &) { SendXapX10Event(units, house, command); };
    host.xAPIR = [](qint32 code, qint32 zone, const QString &cls) { xAPIR(code, zone, cls); };
    host.acceptMenuCallbacks = [](const QString &first, const QString &second, const QString &item) {
        AcceptMenuCallbacks(first, second, item);
    };

    static const PluginPointTables pluginTables;
    SetPointTables(&pluginTables);
    PluginHooks &plugin = PluginHooksInstance();
    // The clock is programmed from the period itself, which also guards the ranges.
    plugin.programPeriodicScript = [](int, long, bool) { ProgramPeriodicScript(); };
    plugin.termReceiveMessages = [] { TermReceiveMessages(); };
    plugin.enablePeriodicScript = [](bool enabled) { CommAndTimer::instance().PeriodicScriptTimer.setEnabled(enabled); };
    plugin.unloadCommAndTimer = [] { CommAndTimer::unload(); };

    BridgeHooks &bridge = BridgeHooksInstance();
    bridge.checkReceivedMessage = [](const std::shared_ptr<XapMessage> &message) {
        if (message)
            CheckReceivedMessage(*message);
    };
    bridge.queueDeviceEvent = [](const ObjectPtr &record) { QueueDeviceEvent(record); };

    CoreHooks &core = Hooks();
    core.initReceiveMessages = [] { InitReceiveMessages(); };
    core.addTags = [] { AddAllTags(); };
    core.stopScripts = [] { Interpreter::requestStop(); };
    // A hook already there (the dispatch trace of tests) keeps seeing every text.
    core.readMessage = [before = core.readMessage](const QString &text) {
        if (before)
            before(text);
        Readmessage(text);
    };
    core.storeRecord = [](const QString &text) { StoreReceivedRecord(text); };
    core.recordsForStop = [] {
        if (ReceiveSideUp())
            AddXapTags();
    };
    core.saveReceivedRecords = [] {
        if (ReceiveSideUp())
            TermReceiveMessages();
    };
}
