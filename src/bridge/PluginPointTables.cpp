#include "bridge/PluginPointTables.h"

#include "controller/PluginState.h"

#include "automation/Dictionary.h"
#include "automation/VbError.h"

#include <algorithm>

namespace {

template<class Array>
int flag(const Array &flags, int index)
{
    if (index < 0 || index >= int(flags.size()))
        throw VbError(VbErr::SubscriptOutOfRange, VbError::standardDescription(VbErr::SubscriptOutOfRange));
    return flags[size_t(index)] ? 1 : 0;
}

} // namespace

int PluginPointTables::VarsHouseCode() const
{
    return gPlugin.VarsHouseCode;
}

int PluginPointTables::VarUsed(int i) const
{
    return flag(gPlugin.VarUsed, i);
}

int PluginPointTables::X10Used(int index) const
{
    return flag(gPlugin.X10Used, index);
}

int PluginPointTables::PointUsed(int unit, int point) const
{
    if (unit < 0 || unit >= int(gPlugin.PointUsed.size()))
        throw VbError(VbErr::SubscriptOutOfRange, VbError::standardDescription(VbErr::SubscriptOutOfRange));
    return flag(gPlugin.PointUsed[size_t(unit)], point);
}

const QList<umap> &PluginPointTables::UnitMaps() const
{
    return gPlugin.UnitMaps;
}

int PluginPointTables::QueuedCommands() const
{
    return gPlugin.Ring.count();
}

quint64 PluginPointTables::X10CommandsSent() const
{
    return gPlugin.X10EntriesSent;
}

quint64 PluginPointTables::X10CommandsEnded() const
{
    return gPlugin.X10EntriesEnded + gPlugin.Ring.x10Dropped();
}

QString PluginPointTables::PointName(const QString &key) const
{
    const DictionaryPtr &names = gPlugin.PointNameDictionary;
    return names && names->exists(Variant(key)) ? names->item(Variant(key)).toString() : QString();
}

std::optional<QString> PluginPointTables::LearnedIR(const QString &key) const
{
    const DictionaryPtr &codes = gPlugin.IRCodeDictionary;
    if (!codes || !codes->exists(Variant(key)))
        return std::nullopt;
    return codes->item(Variant(key)).toString();
}

QVector<int> PluginPointTables::IRZoneModules() const
{
    return gPlugin.IRZoneModules.mid(0, std::max(0, gPlugin.IRZoneModuleCount));
}

std::array<quint8, 129> PluginPointTables::UnitTypes() const
{
    return gPlugin.UnitTypes;
}
