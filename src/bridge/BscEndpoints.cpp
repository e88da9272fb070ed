#include "bridge/BscEndpoints.h"

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

void BscEndpoints::reset()
{
    m_built = false;
    m_all.clear();
    m_lowered.clear();
    m_selected.clear();
    m_budget = kMatchBudget;
    m_burst.invalidate();
}

void BscEndpoints::rebuild()
{
    m_built = false;
    m_all.clear();
    m_lowered.clear();
    m_selected.clear();
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
