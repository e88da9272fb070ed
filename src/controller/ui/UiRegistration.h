#pragma once

// Wires the configuration dialog to the plug-in's menu and the report loop.
void registerControllerUi();
