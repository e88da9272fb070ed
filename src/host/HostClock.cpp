#include "host/HostClock.h"

#include "automation/VbDate.h"

namespace {
std::function<double()> &source()
{
    static std::function<double()> s;
    return s;
}
} // namespace

double HostClock::now()
{
    return source() ? source()() : VbDate::oleNow();
}

void HostClock::setSource(std::function<double()> s)
{
    source() = std::move(s);
}
