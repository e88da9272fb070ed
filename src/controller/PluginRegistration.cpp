#include "PluginRegistration.h"
#include "PluginState.h"
#include "link/SerialComm.h"
#include "tspi.h"

#include "automation/ClassRegistry.h"
#include "automation/Collection.h"
#include "automation/VbString.h"
#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/StartupStop.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/Setup.h"

namespace {
// Forgets the sides a previous plug-in started, so the new one starts afresh.
void forgetStartedSides()
{
    gPlugin.X10Started = gPlugin.IRInitialised = gPlugin.IOInitialised = false;
    gPlugin.IREnabled = gPlugin.IOEnabled = gPlugin.Registered = false;
    gPlugin.HostIsSetupForm = false;
    gPlugin.DevicesDiscovered = false;
    gPlugin.VarCacheFilled = false;
    gPlugin.TimerRunning = false;
    gPlugin.Ring.clear();
}
} // namespace

void RestartPlugin()
{
    if (gPluginInstance) {
        // The old plug-in lets go of the link and its timers before the new one opens them.
        tspi::ShutdownInterface(false);
        gPluginInstance.reset();
        gPluginCollection.reset();
        forgetStartedSides();
    }
    gPlugin.UseSerialComm = gUseSerialComm;
    gPlugin.SerialIPAddress = gSerialIPAddress;
    if (!VbString::IsNumeric(gCommPort))
        gPlugin.CommPort = gCommPort; // a device path travels outside the numeric port argument
    auto plugin = std::make_shared<tspi>();
    gPluginInstance = plugin;
    gPluginCollection = std::make_shared<Collection>();
    gPluginCollection->add(Variant(ObjectPtr(plugin)), plugin->get("name").toString());
    plugin->call("RegisterCallback", {Variant(ObjectPtr(gHostForm))});
    const double port = VbString::Val(gCommPort);
    const std::pair<int, const char*> sides[] = {{1, "InitX10"}, {2, "InitIR"}, {4, "InitIO"}};
    for (const auto& [bit, member] : sides) {
        if (!gPluginInstance || StartupStopping())
            return;
        if (gPluginInstance->get("Capabilities").toLong() & bit)
            gPluginInstance->call(member, {Variant(port)});
    }
}

bool PluginNameFails()
{
    if (!gPluginInstance)
        return true;
    try {
        gPluginInstance->get("name");
        return false;
    } catch (...) {
        return true;
    }
}

void registerControllerSubsystem()
{
    ClassRegistry::instance().add(QStringLiteral("xaptvkKorvane.tspi"), [] { return std::make_shared<tspi>(); });
    ClassRegistry::instance().add(QStringLiteral("xaptvkKorvane.SerialComm"),
                                  [] { return std::make_shared<SerialComm>(); });
    // The host form makes its serial-server link object with this at start, and
    // the configuration dialog again for a new address.
    HostHooksInstance().createSerialComm = [] { return ObjectPtr(std::make_shared<SerialComm>()); };
    CoreHooks& hooks = Hooks();
    hooks.restartPlugin = [] { RestartPlugin(); };
    hooks.pluginNameFails = [] { return PluginNameFails(); };
    hooks.shutdownIO = [] {
        // The plug-in stays the program's plug-in while it shuts down (its wait pumps events,
        // and a missing plug-in is what the watchdog recreates); it is released once
        // ShutdownIO returns, also when that fails.
        struct Release {
            ~Release() { gPluginInstance.reset(); }
        } release;
        if (ObjectPtr plugin = gPluginInstance)
            plugin->call("ShutdownIO");
    };
    hooks.yonderMenu = [](const QString& menu) {
        if (gPluginInstance)
            gPluginInstance->call("SelectMenu", {Variant(menu)});
    };
}
