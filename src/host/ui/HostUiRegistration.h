#pragma once

// Wires the plug-in selection dialog to the host's start-up and tray menu.
void registerHostUi();
