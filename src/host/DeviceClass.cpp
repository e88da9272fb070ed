#include "host/DeviceClass.h"

#include "host/HostGlobals.h"

#include "core/Globals.h"
#include "core/Logging.h"

namespace {
const FieldSpec kFields[] = {
    {"ScriptTag", Variant::String},
    {"TriggerEvent", Variant::Boolean},
    {"buttons", Variant::String, "buttons"},
    {"can_dim", Variant::Boolean, "can_dim"},
    {"CustomStatus", Variant::Object},
    {"DC", Variant::String, "dc"},
    {"dev_type_string", Variant::String, "dev_type_string"},
    {"hc", Variant::String, "hc"},
    {"interface", Variant::String, "interface"},
    {"iomisc", Variant::String, "iomisc"},
    {"iotype", Variant::Integer, "iotype"},
    {"location", Variant::Empty, "location"},
    {"misc", Variant::Long, "misc"},
    {"name", Variant::String, "name"},
    {"ref", Variant::Long, "ref"},
    {"res1", Variant::Long, "res1"},
    {"sldim", Variant::Integer, "sldim"},
    {"Status", Variant::Integer, "Status"},
    {"status_support", Variant::Boolean, "status_support"},
    {"status_cool_setpoint", Variant::Boolean, "status_cool_setpoint"},
    {"Tag", Variant::Integer, "tag"},
    {"tag1", Variant::Integer, "tag1"},
    {"time_off", Variant::Long, "time_off"},
    {"time_on", Variant::Long, "time_on"},
    {"ui_action", Variant::String, "ui_action"},
    {"values", Variant::String, "values"},
    {"zwave_nodeid", Variant::Integer, "zwave_nodeid"},
    {"zwave_nodetype", Variant::Integer, "zwave_nodetype"},
    {"zwave_pollrate", Variant::Integer, "zwave_pollrate"},
    {"zwave_polltimer", Variant::Integer, "zwave_polltimer"},
};
} // namespace

DeviceClass::DeviceClass()
    : FieldRecord(kFields)
{
}

std::span<const FieldSpec> DeviceClass::fieldSpecs()
{
    return kFields;
}

void DeviceClass::describe(DispatchTable<DeviceClass> &t)
{
    t.name(QStringLiteral("DeviceClass"));
    describeFields(t);
}

namespace {
quint64 sDescribingRevision = 0;

bool describes(int index)
{
    switch (index) {
    case DeviceClass::F_DC:
    case DeviceClass::F_hc:
    case DeviceClass::F_interface:
    case DeviceClass::F_iomisc:
    case DeviceClass::F_iotype:
    case DeviceClass::F_location:
    case DeviceClass::F_name:
        return true;
    default:
        return false;
    }
}
} // namespace

quint64 DeviceClass::describingRevision()
{
    return sDescribingRevision;
}

void DeviceClass::assignField(int index, const Variant &value)
{
    const FieldSpec &spec = kFields[index];
    if (describes(index))
        ++sDescribingRevision;
    if (!spec.report) {
        storeField(index, value);
        return;
    }
    const Variant converted = convert(spec.type, value);
    if (sameValue(converted, field(index)))
        return;
    m_values[size_t(index)] = converted;
    SendDeviceEdit(QString::fromLatin1(spec.report), converted.toText());
}

void DeviceClass::SendDeviceEdit(const QString &property, const QString &value) const
{
    if (hc().isEmpty() || DC().isEmpty() || !gMainFormReady || gSuppressXAP || gHostStarted)
        return;
    SendXap(QString(), QStringLiteral("Tessera.Device"), QStringLiteral("Device.Action"),
            XapBody({{QStringLiteral("Action"), QStringLiteral("Edit")},
                     {QStringLiteral("Device"), code()},
                     {QStringLiteral("Property"), property},
                     {QStringLiteral("Value"), value}}),
            QString(), QString());
}
