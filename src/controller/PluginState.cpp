#include "PluginState.h"

PluginState gPlugin;
ControllerTiming gControllerTiming;

void ResetPluginState()
{
    gPlugin = PluginState{};
}
