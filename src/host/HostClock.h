#pragma once

#include <functional>

// The present date and time as the host's time-of-day members see it (an
// OLE day number). Tests pin it to a chosen moment.
namespace HostClock {
double now();
// An empty function brings back the system clock.
void setSource(std::function<double()> source);
} // namespace HostClock
