#pragma once

// Registers the host's creatable classes by ProgID and hands the start-up
// and Exit the host form's load, unload and Startup. The executable's main
// calls it once, before the start-up runs.
void registerHostSubsystem();
