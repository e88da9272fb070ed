#pragma once

// Makes the bridge's classes creatable and hands the host, the transport and
// the plug-in their calls into the bridge. Called once at start-up.
void registerBridgeSubsystem();
