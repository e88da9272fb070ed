#pragma once

#include "automation/Object.h"

#include <functional>
#include <memory>

class XapMessage;

// Calls from the bridge's main road into its receive filters and script
// queue, which are filled in when those parts start; an empty hook does nothing.
struct BridgeHooks
{
    // Every parsed received message, before its target is looked at.
    std::function<void(const std::shared_ptr<XapMessage> &message)> checkReceivedMessage;
    // A tagged device record whose change should run the user script.
    std::function<void(const ObjectPtr &record)> queueDeviceEvent;
};

BridgeHooks &BridgeHooksInstance();
