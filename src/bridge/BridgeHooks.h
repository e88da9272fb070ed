#pragma once

#include "automation/Object.h"

#include "core/Hook.h"

#include <memory>

class XapMessage;

// Calls from the bridge's main road into its receive filters and script
// queue, which are filled in when those parts start.
struct BridgeHooks
{
    // Every parsed received message, before its target is looked at; unset where the
    // dispatcher runs without the receive filters (its own tests), which then keep nothing.
    OptionalHook<void(const std::shared_ptr<XapMessage> &message)> checkReceivedMessage;
    // A tagged device record whose change should run the user script. Required: the
    // bridge registers it together with the tag tables that hold such records.
    RequiredHook<void(const ObjectPtr &record)> queueDeviceEvent{"BridgeHooks.queueDeviceEvent"};
};

BridgeHooks &BridgeHooksInstance();
