#pragma once

// Registers the plug-in class by ProgID and hands the start-up, the watchdog
// and Exit the plug-in's creation, health check and shutdown. The
// executable's main calls it once, after the host side registered.
void registerControllerSubsystem();

// What the start-up's RestartPlugin does: a new plug-in registered with the
// host form and started by its capabilities. An old one is shut down first.
void RestartPlugin();
// True when there is no plug-in or reading its name raises.
bool PluginNameFails();
