#pragma once

#include <QString>

#include <functional>

// Calls from the start-up, the tray menu and Exit into subsystems built on top of core.
// Each later subsystem fills its hooks at start-up; an empty hook does nothing.
struct CoreHooks
{
    std::function<void()> loadHostForm;                  // load the host form (host object, device store)
    std::function<void()> unloadHostForm;                // unload the host form: save and release the host side
    std::function<void()> hostStartup;                   // the host form's Startup, run by Yonder.interface
    std::function<void()> initReceiveMessages;          // the bridge's InitReceiveMessages
    std::function<void(const QString&)> readMessage;     // the bridge's Readmessage, once per received text
    std::function<void()> restartPlugin;                 // create and initialise the plug-in
    std::function<bool()> pluginNameFails;               // true when the plug-in is missing or reading its name raises
    std::function<void()> addTags;                       // AddIRTags, AddIOTags, AddXapTags, AddX10Tags
    std::function<void()> shutdownIO;                    // the plug-in's ShutdownIO, then release it
    std::function<void(const QString&)> yonderMenu;     // the plug-in's SelectMenu
    std::function<QString()> httpPort;                   // the HTTPPort setting ("8010" when empty)
};

CoreHooks& Hooks();
