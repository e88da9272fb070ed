#include "bridge/BscEndpoints.h"

#include "bridge/BscNaming.h"
#include "bridge/HostAccess.h"
#include "bridge/PointTables.h"
#include "bridge/TargetPattern.h"

#include "host/Application.h"
#include "host/DeviceClass.h"
#include "host/HostGlobals.h"

#include "automation/Collection.h"

#include <QHashFunctions>

namespace {

// Targets remembered with what they select; past this many the list starts again.
constexpr int kMostTargets = 256;

// What of the point tables an endpoint's name, kind and number depend on.
size_t tablesHash(const PointTables &tables)
{
    size_t h = qHash(tables.VarsHouseCode());
    for (int i = 0; i < 128; ++i)
        h = qHashMulti(h, tables.VarUsed(i));
    for (int i = 0; i < 256; ++i)
        h = qHashMulti(h, tables.X10Used(i));
    for (const umap &u : tables.UnitMaps()) {
        h = qHashMulti(h, u.unit, u.utype, u.hc);
        if (u.unit >= 0 && u.unit < 128) {
            for (int p = 0; p < 16; ++p)
                h = qHashMulti(h, tables.PointUsed(u.unit, p));
        }
    }
    return h;
}

} // namespace

QString BscEndpoints::codeOfNumber(int number, const PointTables &tables)
{
    const int vhc = tables.VarsHouseCode();
    if (number <= 64)
        return QString(QChar(vhc)) + QString::number(number);
    if (number <= 128)
        return QString(QChar(vhc + 1)) + QString::number(number - 64);
    const int m = (number - 129) / 16;
    const QStringList keys = tables.ModuleKeys();
    if (m >= keys.size())
        return QString();
    return keys.at(m) + QString::number(((number - 1) & 15) + 1);
}

BscEndpoints &BscEndpoints::instance()
{
    static BscEndpoints endpoints;
    return endpoints;
}

BscEndpoints::Inputs BscEndpoints::current() const
{
    Inputs in;
    in.deviceRevision = DeviceClass::describingRevision();
    in.collection = &DeviceCollection();
    in.deviceCount = DeviceCollection().count();
    in.tables = &Points();
    in.tablesHash = tablesHash(Points());
    return in;
}

void BscEndpoints::forget()
{
    m_built = false;
    m_all.clear();
    m_lowered.clear();
    m_writeCodes.clear();
    m_selected.clear();
}

void BscEndpoints::reset()
{
    forget();
    m_budget = kMatchBudget;
    m_burst.invalidate();
}

void BscEndpoints::rebuild()
{
    forget();
    m_inputs = current();
    const PointTables &tables = Points();
    Application &host = HostAccess::Host();
    const qint16 count = host.DeviceCount();
    for (qint16 index = 1; index <= count; ++index) {
        qint16 position = index;
        const DeviceClassPtr device = host.GetDevice(position);
        if (!device)
            continue;
        if (const std::optional<BscEndpoint> e = BscEndpoint::ofDevice(*device, tables)) {
            m_all.push_back(*e);
            m_lowered.push_back({e->infoLocation(), e->infoName(), e->infoKind()});
            const QString code = e->number >= 1 ? codeOfNumber(e->number, tables) : QString();
            m_writeCodes.push_back(code.isEmpty() || BscNaming::DefinedDevice(code, tables).isEmpty() ? QString() : code);
        }
    }
    m_built = true;
}

const std::vector<BscEndpoint> &BscEndpoints::all()
{
    if (!m_built || !(current() == m_inputs))
        rebuild();
    return m_all;
}

std::optional<std::vector<int>> BscEndpoints::matching(const TargetPattern &pattern)
{
    const std::vector<BscEndpoint> &endpoints = all();
    const QString key = pattern.parts().join(QLatin1Char('\n'));
    if (const auto found = m_selected.constFind(key); found != m_selected.constEnd())
        return *found;
    if (!m_burst.isValid() || m_burst.elapsed() >= kBurstMs) {
        m_burst.start();
        m_burstWork = 0;
    }
    if (m_burstWork + qint64(endpoints.size()) > m_budget)
        return std::nullopt;
    m_burstWork += qint64(endpoints.size());
    std::vector<int> selected;
    for (size_t i = 0; i < endpoints.size(); ++i) {
        const Lowered &l = m_lowered[i];
        if (pattern.matchesLower(l.location, l.name, l.kind))
            selected.push_back(int(i));
    }
    if (m_selected.size() >= kMostTargets)
        m_selected.clear();
    m_selected.insert(key, selected);
    return selected;
}
