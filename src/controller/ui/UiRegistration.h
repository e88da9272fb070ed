#pragma once

// Wires the configuration dialog and the plug-in selection dialog to the
// plug-in's menu, the report loop and the host's start-up.
void registerControllerUi();
