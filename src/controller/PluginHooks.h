#pragma once
#include <functional>

// Calls from the plug-in into the xAP bridge, the web server and the
// configuration dialog, which are set up after it. Each fills its hooks at
// start-up; an empty hook does nothing.
struct PluginHooks
{
    std::function<void()> termReceiveMessages;   // the bridge's receive side ends (saves tagged records)
    std::function<void()> loadDisplaySettings;   // the bridge reloads its display options
    // The bridge's periodic-script timer: interval in ms, minute countdown, enabled.
    std::function<void(int intervalMs, long countdown, bool enabled)> programPeriodicScript;
    std::function<void(bool enabled)> enablePeriodicScript;
    std::function<void()> unloadCommAndTimer;    // the bridge's hidden timer form
    std::function<void()> unloadTCPServer;       // the web server stops listening
    std::function<void(bool modal)> showConfigDialog;
    std::function<void()> dialogDisconnectClick; // the open dialog reconnects the link itself
    std::function<void()> dialogPortClosed;      // the open dialog's link indicator goes off
};

PluginHooks& PluginHooksInstance();
