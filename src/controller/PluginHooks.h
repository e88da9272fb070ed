#pragma once
#include "core/Hook.h"

// Calls from the plug-in into the xAP bridge, the web server and the
// configuration dialog, which are set up after it. The bridge's and the web
// server's may stay unset: the plug-in also runs without them (its own tests)
// and then only drives the controller. The dialog's are required: every program
// registers the dialogs, which without a display answer by default.
struct PluginHooks
{
    // The bridge's receive side ends (saves tagged records); unset without the bridge.
    OptionalHook<void()> termReceiveMessages;
    // The status page reloads its display options; unset without the web server.
    OptionalHook<void()> loadDisplaySettings;
    // The bridge's periodic-script timer: interval in ms, minute countdown, enabled;
    // unset without the bridge.
    OptionalHook<void(int intervalMs, long countdown, bool enabled)> programPeriodicScript;
    // Unset without the bridge.
    OptionalHook<void(bool enabled)> enablePeriodicScript;
    // The bridge's hidden timer form; unset without the bridge.
    OptionalHook<void()> unloadCommAndTimer;
    // The web server stops listening; unset without the web server.
    OptionalHook<void()> unloadTCPServer;
    RequiredHook<void(bool modal)> showConfigDialog{"PluginHooks.showConfigDialog"};
    // The open dialog reconnects the link itself; only asked while the dialog is open.
    RequiredHook<void()> dialogDisconnectClick{"PluginHooks.dialogDisconnectClick"};
    // The open dialog's link indicator goes off; only asked while the dialog is open.
    RequiredHook<void()> dialogPortClosed{"PluginHooks.dialogPortClosed"};
};

PluginHooks& PluginHooksInstance();
