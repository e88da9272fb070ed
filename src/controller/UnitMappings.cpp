#include "UnitMappings.h"
#include "link/CommsLog.h"
#include "PluginHost.h"
#include "PluginSettings.h"

#include "automation/VbString.h"
#include "automation/Latin1Case.h"
#include "core/Globals.h"

#include <algorithm>

namespace {
using PluginHost::get;

bool ours(const ObjectPtr& dev)
{
    return Latin1Case::lower(get(dev, "interface").toString()) == Latin1Case::lower(gPlugin.InterfaceName);
}

int intOf(const QString& text)
{
    return int(VbString::Val(text));
}
} // namespace

QString UnitMappings::FindInterface()
{
    return QStringLiteral("Veltro Quillon");
}

QString UnitMappings::FindVarsHouseCode()
{
    QString result;
    PluginHost::trapped("FindVarsHouseCode", [&] {
        const int count = PluginHost::DeviceCount();
        for (int i = 1; i <= count; ++i) {
            ObjectPtr dev = PluginHost::GetDevice(i);
            if (!dev || !ours(dev) || get(dev, "iotype").toLong() != 3)
                continue;
            const QString hc = get(dev, "hc").toString();
            const QString misc = Latin1Case::lower(get(dev, "iomisc").toString());
            if (misc == "127" || misc == "kestrel")
                continue; // the touch screen is a variable device of its own
            if (result.isEmpty()) {
                result = hc;
                continue;
            }
            if (hc != result) {
                if (!hc.isEmpty() && hc.at(0) < result.at(0))
                    result = hc;
                break;
            }
        }
    });
    return result;
}

QList<umap> UnitMappings::FindUnitMapEntries()
{
    QList<umap> entries;
    PluginHost::trapped("FindUnitMappings", [&] {
        const int count = PluginHost::DeviceCount();
        for (int i = 1; i <= count; ++i) {
            ObjectPtr dev = PluginHost::GetDevice(i);
            if (!dev || !ours(dev))
                continue;
            const int iotype = get(dev, "iotype").toLong();
            const QString iomisc = get(dev, "iomisc").toString();
            if ((iotype != 0 && iotype != 1) || iomisc.isEmpty())
                continue;
            const QStringList f = iomisc.split('!');
            if (f.size() < 2)
                continue;
            umap m;
            m.unit = intOf(f[0]);
            m.utype = intOf(f[1]);
            m.hc = get(dev, "hc").toString();
            m.invert = f.size() < 4 ? gPlugin.InvertDefault : intOf(f[3]);
            bool known = false;
            for (const umap& e : entries)
                known = known || (e.unit == m.unit && e.utype == m.utype);
            if (!known)
                entries.append(m);
        }
    });
    return entries;
}

QString UnitMappings::MappingText(const QList<umap>& entries)
{
    QString text;
    for (const umap& m : entries)
        text += QString::number(m.unit) + "!" + QString::number(m.utype) + "!" + m.hc + "!"
            + QString::number(m.invert) + ",";
    return text;
}

QString UnitMappings::FindUnitMappings()
{
    return MappingText(FindUnitMapEntries());
}

void UnitMappings::ReadUnitMappings()
{
    using namespace PluginSettings;
    PluginHost::ignoring([] { gPlugin.KestrelVar = setting("kestrel_var", "-1"); });
    PluginHost::ignoring([] { gPlugin.InvertDefault = intOf(setting("invert", "0")); });
    PluginHost::ignoring([] { gPlugin.LogErrors = intOf(setting("log_errors", "1")); });
    PluginHost::ignoring([] { gPlugin.LogComms = intOf(setting("log_comms", "0")); });
    gPlugin.X10XmitFlag = 1;
    gPlugin.UnitMaps.clear();
    gPlugin.UnitMapIndex.clear();
    // Built from the entries themselves: house characters such as "!" and ","
    // would not survive a round trip through the text.
    const QList<umap> entries = FindUnitMapEntries();
    const QString text = MappingText(entries);
    if (gPlugin.LogComms != 0)
        WriteCommsLog("Unit Mappings: " + text);
    gPlugin.UnitMappingText = text;
    save("mappings", text);
    for (const umap& m : entries) {
        if (!gPlugin.UnitMapIndex.contains(m.hc))
            gPlugin.UnitMapIndex.insert(m.hc, int(gPlugin.UnitMaps.size()) + 1);
        gPlugin.UnitMaps.append(m);
    }
}

QList<umap> UnitMappings::ListedUnits(const QList<umap>& maps, const std::array<quint8, 129>& unitTypes)
{
    QList<umap> listed = maps;
    // Only the units the dialog's matrix holds (the first 16 in address order) can have
    // devices made for them; a box beyond them would be ticked for nothing.
    int rows = 0;
    for (int k = 0; k < 128 && rows < 16; ++k) {
        const int type = unitTypes[size_t(k)];
        if (type != 11 && type != 12 && type != 13)
            continue;
        ++rows;
        const bool mapped = std::any_of(maps.begin(), maps.end(), [&](const umap& m) { return m.unit == k + 1; });
        if (!mapped)
            listed.append(umap{k + 1, type, QString(), 0});
    }
    return listed;
}

const umap* UnitMappings::byHouseCode(const QString& hc)
{
    auto it = gPlugin.UnitMapIndex.constFind(hc);
    if (it == gPlugin.UnitMapIndex.constEnd() || it.value() < 1 || it.value() > gPlugin.UnitMaps.size())
        return nullptr;
    return &gPlugin.UnitMaps[it.value() - 1];
}

QString UnitMappings::variableCode(int n)
{
    if (gPlugin.VarsHouseCode <= 0 || n < 0 || n > 127)
        return QString();
    const int house = gPlugin.VarsHouseCode + (n >= 64 ? 1 : 0);
    return QString(QChar(house)) + QString::number(n % 64 + 1);
}
