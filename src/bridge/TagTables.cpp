#include "bridge/TagTables.h"

#include "bridge/DeviceMessageClass.h"
#include "bridge/HostAccess.h"
#include "bridge/PointTables.h"

#include "host/HostGlobals.h"
#include "host/IR.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"

namespace {

Dictionary &records()
{
    if (!gDeviceDictionary)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return *gDeviceDictionary;
}

DeviceMessageClassPtr newRecord(const QString &tag)
{
    auto record = std::make_shared<DeviceMessageClass>();
    record->LastChange = VbDate::dateSerial(2000, 1, 1);
    record->Tag = tag;
    return record;
}

// A tag names a point: a new record, or the existing one's DC changed.
void bind(const QString &tag, const QString &code)
{
    Dictionary &dictionary = records();
    if (!dictionary.exists(Variant(tag))) {
        DeviceMessageClassPtr record = newRecord(tag);
        record->DC = code;
        dictionary.add(Variant(tag), Variant(ObjectPtr(record)));
        return;
    }
    const ObjectPtr record = dictionary.item(Variant(tag)).toObject();
    if (!record)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    record->let(QStringLiteral("DC"), Variant(code));
}

// The script tag of the host device of a code; empty when none.
QString tagOfDevice(const QString &code)
{
    Application &host = HostAccess::Host();
    QString device = code;
    qint16 position = host.DeviceExists(device);
    if (position <= -1)
        return QString();
    const DeviceClassPtr found = host.GetDevice(position);
    if (!found)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return found->scriptTag();
}

} // namespace

void AddIRTags()
{
    if (!gIRSlots)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    int position = 0;
    for (const Variant &item : gIRSlots->items()) {
        const ObjectPtr slot = item.toObject();
        if (!slot)
            throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
        const QString tag = slot->get(QStringLiteral("ScriptTag")).toString();
        if (!tag.isEmpty())
            bind(tag, QStringLiteral("R") + QString::number(position));
        ++position;
    }
}

void AddIOTags()
{
    try {
        const PointTables &tables = Points();
        for (const umap &unit : tables.UnitMaps()) {
            for (int i = 0; i < 16; ++i) {
                if (tables.PointUsed(unit.unit, i) == 0)
                    continue;
                const QString code = unit.hc + QString::number(i + 1);
                const QString tag = tagOfDevice(code);
                if (!tag.isEmpty())
                    bind(tag, code);
            }
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("AddIOTags"));
    }
}

void AddXapTags()
{
    try {
        if (!gFilterDictionary)
            return;
        Dictionary &dictionary = records();
        // Each filter's item is "<tag>;<event>": its tag gets a record when it has none.
        for (const Variant &item : gFilterDictionary->itemList()) {
            const QString tag = item.toString().section(QLatin1Char(';'), 0, 0);
            if (tag.isEmpty() || dictionary.exists(Variant(tag)))
                continue;
            dictionary.add(Variant(tag), Variant(ObjectPtr(newRecord(tag))));
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("AddXapTags"));
    }
}

void AddX10Tags()
{
    try {
        const PointTables &tables = Points();
        for (int house = 0; house < 16; ++house) {
            for (int unit = 1; unit <= 16; ++unit) {
                if (tables.X10Used(house * 16 + unit - 1) == 0)
                    continue;
                const QString code = QString(QChar('A' + house)) + QString::number(unit);
                const QString tag = tagOfDevice(code);
                if (!tag.isEmpty())
                    bind(tag, code);
            }
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("AddX10Tags"));
    }
}

void AddAllTags()
{
    AddIRTags();
    AddIOTags();
    AddXapTags();
    AddX10Tags();
}
