#pragma once

#include "automation/Variant.h"

#include <QString>
#include <functional>
#include <memory>

class ScriptControl;

// Calls from the host into subsystems built later (the bridge, the plug-in
// side, the web server, host scripting). Each fills its hooks at start-up;
// an empty hook does nothing.
struct HostHooks
{
    // The bridge's BSC event sender for one device code.
    std::function<void(const QString &dc)> sendXapBSC;
    // The bridge's X10 event handler: units, house, command and two values passed through.
    std::function<void(const QString &units, const QString &house, qint16 command, const Variant &a,
                       const Variant &b)>
        sendXapX10Event;
    // The bridge's IR report.
    std::function<void(qint32 code, qint32 zone, const QString &cls)> xAPIR;
    // The bridge's menu registry.
    std::function<void(const QString &first, const QString &second, const QString &item)> acceptMenuCallbacks;
    // Runs a procedure of a script file with one parameter.
    std::function<void(const QString &script, const QString &procedure, const Variant &parameter)> runEx;
    // Loads the web server form, which starts listening.
    std::function<void()> loadTCPServer;
    // Creates the serial-server link object.
    std::function<ObjectPtr()> createSerialComm;
    // Shows the plug-in selection dialog.
    std::function<void()> showPluginSelection;
    // The shared script engine that host scripts load into as modules; null
    // before the bridge has set it up.
    std::function<std::shared_ptr<ScriptControl>()> scriptEngine;
};

HostHooks &HostHooksInstance();
