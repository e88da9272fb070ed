#pragma once

#include "core/Globals.h"

// The start-up runs before the event loop that would deliver a stop: each of its long steps
// looks here and ends early, so that Exit follows within moments. A step that joins the
// start-up and can take seconds looks here too.
inline bool StartupStopping()
{
    return gStopSignalled || gShuttingDown;
}
