#include "PluginHost.h"
#include "link/CommsLog.h"
#include "PluginState.h"

#include "automation/PendingError.h"
#include "automation/VbError.h"
#include "core/Globals.h"
#include "host/HostHooks.h"

namespace {
Variant callOn(const ObjectPtr& object, const QString& member, std::vector<Variant>& args)
{
    if (!object)
        throw VbError(VbErr::ObjectVariableNotSet);
    return object->invoke(member, CallKind::Method, args);
}
} // namespace

Variant PluginHost::hs(const QString& member, std::vector<Variant> args)
{
    return callOn(gPlugin.PluginHostRef, member, args);
}

Variant PluginHost::callback(const QString& member, std::vector<Variant> args)
{
    return callOn(gPlugin.CallbackObject, member, args);
}

bool PluginHost::hasHost()
{
    return bool(gPlugin.PluginHostRef);
}

Variant PluginHost::get(const ObjectPtr& object, const QString& property)
{
    if (!object)
        throw VbError(VbErr::ObjectVariableNotSet);
    std::vector<Variant> none;
    return object->invoke(property, CallKind::PropertyGet, none);
}

void PluginHost::let(const ObjectPtr& object, const QString& property, const Variant& value)
{
    if (!object)
        throw VbError(VbErr::ObjectVariableNotSet);
    std::vector<Variant> args{value};
    object->invoke(property, CallKind::PropertyLet, args);
}

int PluginHost::DeviceExists(const QString& code)
{
    return hs("DeviceExists", {Variant(code)}).toLong();
}

ObjectPtr PluginHost::GetDevice(int index)
{
    return hs("GetDevice", {Variant::fromInteger(qint16(index))}).toObject();
}

int PluginHost::DeviceCount()
{
    return hs("DeviceCount").toLong();
}

int PluginHost::DeviceValue(const QString& code)
{
    return hs("DeviceValue", {Variant(code)}).toLong();
}

int PluginHost::DeviceStatus(const QString& code)
{
    return hs("DeviceStatus", {Variant(code)}).toLong();
}

void PluginHost::SetDeviceStatus(const QString& code, int status)
{
    hs("SetDeviceStatus", {Variant(code), Variant::fromInteger(qint16(status))});
}

void PluginHost::SetDeviceValue(const QString& code, int value)
{
    hs("SetDeviceValue", {Variant(code), Variant(value)});
}

void PluginHost::DeleteDeviceCode(const QString& code)
{
    const int index = DeviceExists(code);
    if (index > -1) {
        const Variant ref = get(GetDevice(index), "ref");
        hs("DeleteDevice", {ref});
    }
}

void PluginHost::clearPending()
{
    PendingError::clear();
}

void PluginHost::logTrapped(const QString& label)
{
    PendingError::capture();
    LogControllerError(kProgramName, label);
}

// The protocol layer's calls come from the report loop and the reply wait,
// which go on after a failing statement.
void LateBoundControllerHost::SetDeviceStatus(const QString& code, int status)
{
    PluginHost::ignoring([&] { PluginHost::SetDeviceStatus(code, status); });
}

void LateBoundControllerHost::SetDeviceValue(const QString& code, long value)
{
    PluginHost::ignoring([&] { PluginHost::SetDeviceValue(code, int(value)); });
}

void LateBoundControllerHost::X10Event(const QString& units, const QString& house, int command,
                                       const QString& level, const QString& data)
{
    PluginHost::ignoring([&] {
        PluginHost::callback("X10Event", {Variant(units), Variant(house), Variant::fromInteger(qint16(command)),
                                          Variant(level), Variant(data)});
    });
}

void LateBoundControllerHost::IREvent(int location)
{
    PluginHost::ignoring([&] { PluginHost::callback("IREvent", {Variant::fromInteger(qint16(location))}); });
}

void LateBoundControllerHost::ValueChangeEvent(const QString& code, long value)
{
    PluginHost::ignoring([&] { PluginHost::callback("ValueChangeEvent", {Variant(code), Variant(int(value))}); });
}

void LateBoundControllerHost::xAPIR(long code, int zone, const QString& cls)
{
    PluginHost::ignoring([&] {
        if (HostHooksInstance().xAPIR)
            HostHooksInstance().xAPIR(qint32(code), zone, cls);
    });
}
