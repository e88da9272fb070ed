#pragma once

#include "host/FieldRecord.h"

// The host's device record. Its live state (status, value, string, times)
// lives in the state tables; the record keeps what describes the device. A
// setter that changes a field reports the change (SendDeviceEdit), except for
// ScriptTag, TriggerEvent and CustomStatus, which only store.
class DeviceClass : public DispatchObject<DeviceClass>, public FieldRecord
{
public:
    void visitHeld(HeldValues &visitor) override { visitFields(visitor); }
    enum Field {
        F_ScriptTag,
        F_TriggerEvent,
        F_buttons,
        F_can_dim,
        F_CustomStatus,
        F_DC,
        F_dev_type_string,
        F_hc,
        F_interface,
        F_iomisc,
        F_iotype,
        F_location,
        F_misc,
        F_name,
        F_ref,
        F_res1,
        F_sldim,
        F_Status,
        F_status_support,
        F_status_cool_setpoint,
        F_Tag,
        F_tag1,
        F_time_off,
        F_time_on,
        F_ui_action,
        F_values,
        F_zwave_nodeid,
        F_zwave_nodetype,
        F_zwave_pollrate,
        F_zwave_polltimer,
    };

    DeviceClass();
    static void describe(DispatchTable<DeviceClass> &t);
    static std::span<const FieldSpec> fieldSpecs();

    // The property setter: converts, compares, stores and reports.
    void assignField(int index, const Variant &value);
    // Counts the changes, over every device, of the fields that name, place or
    // type a device (code, interface, location, name, I/O type), so a reader
    // that derives something from them knows when to derive it again.
    static quint64 describingRevision();
    void set(Field f, const Variant &value) { assignField(f, value); }

    QString hc() const { return field(F_hc).rawString(); }
    QString DC() const { return field(F_DC).rawString(); }
    // hc & DC as stored.
    QString code() const { return hc() + DC(); }
    QString name() const { return field(F_name).rawString(); }
    QString location() const { return field(F_location).toText(); }
    QString interfaceName() const { return field(F_interface).rawString(); }
    QString iomisc() const { return field(F_iomisc).rawString(); }
    qint16 iotype() const { return field(F_iotype).rawInteger(); }
    qint32 misc() const { return field(F_misc).rawLong(); }
    qint32 ref() const { return field(F_ref).rawLong(); }
    QString devTypeString() const { return field(F_dev_type_string).rawString(); }
    QString scriptTag() const { return field(F_ScriptTag).rawString(); }
    bool triggerEvent() const { return field(F_TriggerEvent).rawBool(); }

private:
    void SendDeviceEdit(const QString &property, const QString &value) const;
};

using DeviceClassPtr = std::shared_ptr<DeviceClass>;
