#include "ControllerHost.h"

namespace {
ControllerHost* gHost = nullptr;
}

ControllerHost::~ControllerHost()
{
    if (gHost == this)
        gHost = nullptr;
}

void SetControllerHost(ControllerHost* host) { gHost = host; }
ControllerHost* controllerHost() { return gHost; }
