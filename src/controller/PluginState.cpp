#include "PluginState.h"

PluginState gPlugin;
ControllerTiming gControllerTiming;

namespace {
// The link works on the plug-in's state from the first link made.
[[maybe_unused]] const bool sLinkStateShared = (ShareLinkState(gPlugin, gControllerTiming), true);
} // namespace

void ResetPluginState()
{
    gPlugin = PluginState{};
}
