#pragma once

// Hands the host and the plug-in their calls into the web server: the host
// form's start-up loads it (it starts listening), the plug-in's shutdown
// unloads it. Called once at start-up.
void registerWebSubsystem();
