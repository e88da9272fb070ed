#include "web/PageWait.h"

#include "controller/PluginState.h"

int gPageRefreshWaitMs = 2000;

namespace PageWait {

namespace {
bool sActive = false;
bool sRequested = false;
} // namespace

void Request()
{
    gPlugin.PageRefreshFlag = 1;
    if (sActive)
        sRequested = true;
}

void Begin()
{
    sActive = true;
    sRequested = false;
}

bool End()
{
    const bool requested = sRequested;
    sActive = false;
    sRequested = false;
    return requested;
}

bool Requested()
{
    return sActive && sRequested;
}

bool PollStarted()
{
    return gPlugin.PageRefreshFlag != 1;
}

void Done()
{
    if (gPlugin.PageRefreshFlag == 1)
        gPlugin.PageRefreshFlag = 0;
}

} // namespace PageWait
