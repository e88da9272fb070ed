#include "bridge/PointTables.h"

#include "controller/UnitMappings.h"

#include "automation/Latin1Case.h"
#include "automation/VbError.h"

#include <algorithm>

namespace {

const PointTables *sTables = nullptr;

void checkIndex(int index, int size)
{
    if (index < 0 || index >= size)
        throw VbError(VbErr::SubscriptOutOfRange, VbError::standardDescription(VbErr::SubscriptOutOfRange));
}

} // namespace

PointTables::~PointTables() = default;

int PointTableData::VarUsed(int i) const
{
    checkIndex(i, int(varUsed.size()));
    return varUsed[size_t(i)];
}

int PointTableData::X10Used(int index) const
{
    checkIndex(index, int(x10Used.size()));
    return x10Used[size_t(index)];
}

int PointTableData::PointUsed(int unit, int point) const
{
    checkIndex(unit, int(pointUsed.size()));
    checkIndex(point, 16);
    return pointUsed[size_t(unit)][size_t(point)];
}

QList<umap> PointTables::ModulesInUnitOrder() const
{
    QList<umap> modules = UnitMaps();
    std::stable_sort(modules.begin(), modules.end(), [](const umap &a, const umap &b) {
        return a.unit != b.unit ? a.unit < b.unit : a.utype < b.utype;
    });
    return modules;
}

QList<umap> PointTables::ListedModules() const
{
    return UnitMappings::ListedUnits(UnitMaps(), UnitTypes());
}

QStringList PointTables::ModuleKeys() const
{
    QStringList keys;
    for (const umap &u : ModulesInUnitOrder()) {
        if (!keys.contains(u.hc))
            keys.append(u.hc);
    }
    return keys;
}

QString PointTableData::PointName(const QString &key) const
{
    return pointNames.value(Latin1Case::upper(key));
}

std::optional<QString> PointTableData::LearnedIR(const QString &key) const
{
    const auto it = learnedIR.constFind(key);
    if (it == learnedIR.constEnd())
        return std::nullopt;
    return *it;
}

int PointTableData::addUnit(int unit, int utype, const QString &hc)
{
    unitMaps.append(umap{unit, utype, hc, 0});
    return int(unitMaps.size()) - 1;
}

const PointTables &Points()
{
    static const PointTableData empty;
    return sTables ? *sTables : empty;
}

void SetPointTables(const PointTables *tables)
{
    sTables = tables;
}
