#pragma once

#include "core/Hook.h"

#include <QString>

// Calls from the start-up, the tray menu and Exit into subsystems built on top of core,
// each filled when its subsystem registers. Required: the host form's and the plug-in's,
// without which the program has no devices and no controller (a test that runs the
// start-up without them gets one log entry per hook). Optional: the bridge's and the port
// setting, which the core start-up tests run without.
struct CoreHooks
{
    // Load the host form (host object, device store).
    RequiredHook<void()> loadHostForm{"CoreHooks.loadHostForm"};
    // Unload the host form: save and release the host side.
    RequiredHook<void()> unloadHostForm{"CoreHooks.unloadHostForm"};
    // The host form's Startup, run by Yonder.interface.
    RequiredHook<void()> hostStartup{"CoreHooks.hostStartup"};
    // The bridge's InitReceiveMessages; unset in a program without the bridge.
    OptionalHook<void()> initReceiveMessages;
    // The bridge's Readmessage, once per received text; unset in a program without the
    // bridge, which has nothing to do with what it receives.
    OptionalHook<void(const QString&)> readMessage;
    // At a stop: only the record a received text updates, without a script run or a command.
    OptionalHook<void(const QString&)> storeRecord;
    // Create and initialise the plug-in.
    RequiredHook<void()> restartPlugin{"CoreHooks.restartPlugin"};
    // True when the plug-in is missing or reading its name raises.
    RequiredHook<bool()> pluginNameFails{"CoreHooks.pluginNameFails"};
    // AddIRTags, AddIOTags, AddXapTags, AddX10Tags; unset in a program without the bridge.
    OptionalHook<void()> addTags;
    // Ask every running script to end at its next statement; unset in a program without scripts.
    OptionalHook<void()> stopScripts;
    // Unload the configuration dialog (without its questions); unset in a program without it.
    OptionalHook<void()> unloadConfigDialog;
    // At Exit, for a stop that came before the start-up made the records received texts update
    // and before the plug-in ran (during the start-up script): first make those records, then,
    // after the plug-in's shutdown, save them if that shutdown did not. Unset without the bridge.
    OptionalHook<void()> recordsForStop;
    OptionalHook<void()> saveReceivedRecords;
    // The plug-in's ShutdownIO, then release it.
    RequiredHook<void()> shutdownIO{"CoreHooks.shutdownIO"};
    // The plug-in's SelectMenu.
    RequiredHook<void(const QString&)> yonderMenu{"CoreHooks.yonderMenu"};
    // The HTTPPort setting ("8010" when empty); unset in a program without the host, where
    // the tray menu takes 8010 and the bridge reads the setting itself.
    OptionalHook<QString()> httpPort;
};

CoreHooks& Hooks();
