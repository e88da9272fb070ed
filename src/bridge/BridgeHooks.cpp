#include "bridge/BridgeHooks.h"

BridgeHooks &BridgeHooksInstance()
{
    static BridgeHooks hooks;
    return hooks;
}
