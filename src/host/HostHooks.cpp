#include "host/HostHooks.h"

HostHooks &HostHooksInstance()
{
    static HostHooks hooks;
    return hooks;
}
