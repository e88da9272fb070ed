#include "DeviceSelection.h"
#include "PluginHost.h"
#include "PluginState.h"
#include "UnitMappings.h"

#include "core/Globals.h"

DeviceSelection DeviceSelection::forController()
{
    DeviceSelection s;
    for (int k = 0; k < 128 && s.rows.size() < 16; ++k) {
        const int type = gPlugin.UnitTypes[size_t(k)];
        if (type == 11 || type == 12 || type == 13)
            s.rows.append(k + 1);
    }
    return s;
}

DeviceSelection DeviceSelection::fromHost()
{
    DeviceSelection s = forController();
    auto exists = [](const QString& code) {
        int index = -1;
        PluginHost::ignoring([&] { index = PluginHost::DeviceExists(code); });
        return index > -1;
    };
    for (int v = 0; v < 128; ++v) {
        if (!gPlugin.VarUsed[size_t(v)])
            continue;
        if (exists(UnitMappings::variableCode(v)))
            s.Check1[size_t(v)] = 1;
        else
            gPlugin.VarUsed[size_t(v)] = false;
    }
    for (int r = 0; r < s.rows.size(); ++r) {
        const int unit = s.rows[r];
        const umap* m = nullptr;
        for (const umap& u : gPlugin.UnitMaps)
            if (u.unit == unit) {
                m = &u;
                break;
            }
        if (!m)
            continue;
        s.aInvert[size_t(r)] = m->invert;
        const int points = m->utype == 13 ? 8 : 16;
        for (int p = 0; p < points; ++p) {
            if (!gPlugin.PointUsed[size_t(unit)][size_t(p)])
                continue;
            if (exists(m->hc + QString::number(p + 1)))
                s.IOPoint[size_t(16 * r + p)] = 1;
            else
                gPlugin.PointUsed[size_t(unit)][size_t(p)] = false;
        }
    }
    return s;
}

void DeviceSelection::setVariable(int n, bool ticked)
{
    if (n >= 0 && n < 128)
        Check1[size_t(n)] = ticked ? 1 : 0;
}

void DeviceSelection::setPoint(int unit, int point, bool ticked)
{
    const int r = rowOf(unit);
    if (r >= 0 && point >= 0 && point < 16)
        IOPoint[size_t(16 * r + point)] = ticked ? 1 : 0;
}

void DeviceSelection::setInvert(int unit, bool inverted)
{
    const int r = rowOf(unit);
    if (r >= 0)
        aInvert[size_t(r)] = inverted ? 1 : 0;
}
