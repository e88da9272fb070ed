#pragma once

#include "automation/Variant.h"

#include "core/Hook.h"

#include <QString>
#include <memory>

class ScriptControl;

// Calls from the host into subsystems built later (the bridge, the plug-in
// side, the web server, host scripting), each filled when its subsystem
// registers. The host also runs without the bridge, the plug-in or the web
// server (the host's, the plug-in's and the web pages' own tests): their hooks
// may stay unset and the host then does without them.
struct HostHooks
{
    // The bridge's BSC event sender for one device code; unset without the bridge.
    OptionalHook<void(const QString &dc)> sendXapBSC;
    // The bridge's X10 event handler: units, house, command and two values passed
    // through; unset without the bridge.
    OptionalHook<void(const QString &units, const QString &house, qint16 command, const Variant &a,
                      const Variant &b)>
        sendXapX10Event;
    // The bridge's IR report; unset without the bridge.
    OptionalHook<void(qint32 code, qint32 zone, const QString &cls)> xAPIR;
    // The bridge's menu registry; unset without the bridge.
    OptionalHook<void(const QString &first, const QString &second, const QString &item)> acceptMenuCallbacks;
    // Runs a procedure of a script file with one parameter. Required: the host's own
    // registration fills it.
    RequiredHook<void(const QString &script, const QString &procedure, const Variant &parameter)> runEx{
        "HostHooks.runEx"};
    // Loads the web server form, which starts listening; unset without the web server.
    OptionalHook<void()> loadTCPServer;
    // Creates the serial-server link object; unset without the plug-in, whose link it is.
    OptionalHook<ObjectPtr()> createSerialComm;
    // Shows the plug-in selection dialog. Required: every program registers the
    // dialogs, which without a display answer by default.
    RequiredHook<void()> showPluginSelection{"HostHooks.showPluginSelection"};
    // The shared script engine that host scripts load into as modules; null
    // before the bridge has set it up, unset without the bridge (loading a host
    // script then fails with its own log entry).
    OptionalHook<std::shared_ptr<ScriptControl>()> scriptEngine;
};

HostHooks &HostHooksInstance();
