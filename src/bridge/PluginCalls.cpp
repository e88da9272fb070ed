#include "bridge/PluginCalls.h"

#include "host/HostGlobals.h"

#include "automation/VbError.h"

namespace PluginCalls {

namespace {

Variant call(const QString &member, std::vector<Variant> args)
{
    if (!gPluginInstance)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    // Hold the plug-in for the call: a restart may replace it while the call pumps events.
    const ObjectPtr plugin = gPluginInstance;
    return plugin->invoke(member, CallKind::Method, args);
}

Variant integer(int v)
{
    return Variant::fromInteger(qint16(v));
}

} // namespace

void SetIO(const QString &house, const QString &unit, int command, int level)
{
    SetIO(ObjectPtr(), house, unit, command, level);
}

void SetIO(const ObjectPtr &device, const QString &house, const QString &unit, int command, int level)
{
    call(QStringLiteral("SetIO"), {device ? Variant(device) : Variant::nothing(), Variant(house), Variant(unit),
                                   integer(command), integer(level), integer(0), integer(0)});
}

bool Exec(const ObjectPtr &device, const QString &house, const QString &units, int command, int brightness)
{
    // A plug-in that says nothing of its queue is taken at its word; only False refuses.
    const Variant taken = call(QStringLiteral("Exec"), {device ? Variant(device) : Variant::nothing(), Variant(house), Variant(units),
                                  integer(command), integer(brightness), integer(0), integer(0)});
    return !(taken.type() == Variant::Boolean && !taken.toBool());
}

void PlayIR(qint32 location)
{
    call(QStringLiteral("PlayIR"), {Variant::fromLong(location)});
}

void PlayRemoteIR(int address, int zone, int location)
{
    call(QStringLiteral("PlayRemoteIR"), {integer(address), integer(zone), integer(location)});
}

void SetZone(qint32 zone)
{
    call(QStringLiteral("SetZone"), {Variant::fromLong(zone)});
}

} // namespace PluginCalls
