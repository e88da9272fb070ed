#pragma once

#include "automation/Object.h"

#include <QString>

// The plug-in's members the bridge calls, reached by name on the plug-in
// object. Raises error 91 when no plug-in is loaded, and passes on what the
// plug-in raises.
namespace PluginCalls {

void SetIO(const QString &house, const QString &unit, int command, int level);
// The same with the host device of the point (or none), as the status page passes it.
void SetIO(const ObjectPtr &device, const QString &house, const QString &unit, int command, int level);
// False when the plug-in did not queue the command.
bool Exec(const ObjectPtr &device, const QString &house, const QString &units, int command, int brightness);
void PlayIR(qint32 location);
void PlayRemoteIR(int address, int zone, int location);
void SetZone(qint32 zone);

} // namespace PluginCalls
