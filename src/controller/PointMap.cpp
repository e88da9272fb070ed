#include "PointMap.h"
#include "link/CommsLog.h"
#include "DeviceCreation.h"
#include "IRFiles.h"
#include "PluginHost.h"
#include "PluginSettings.h"
#include "PluginState.h"
#include "SystemMap.h"
#include "UnitMappings.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"

#include "automation/Latin1Case.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
using PluginHost::get;
using PluginHost::let;

SystemMap gRecords;
QString gProjectFileName;
const QString kX10Houses = QStringLiteral("ABCDEFGHIJKLMNOP");

QString irZonesFile() { return ConfigFile("irZones.cfg"); }
QString irLabelsFile() { return ConfigFile("irLbl.cfg"); }

QString x10Code(int k)
{
    return kX10Houses.at(k / 16) + QString::number((k & 15) + 1);
}

// "Location Name": the part before the first blank is the location; a
// one-word name lives in "Quillon".
void applyName(const ObjectPtr& dev, const QString& name)
{
    const int blank = name.indexOf(' ');
    if (blank >= 0) {
        let(dev, "location", name.left(blank));
        let(dev, "name", name.mid(blank + 1));
    } else {
        let(dev, "location", QStringLiteral("Quillon"));
        let(dev, "name", name);
    }
}

void addOnce(const DictionaryPtr& d, const QString& key, const Variant& value)
{
    if (!d->exists(Variant(key)))
        d->add(Variant(key), value);
}

// Keeps the device's name from its point row.
void PointNameToTS(int heading, int ref)
{
    PluginHost::trapped("PointNameToTS", [&] {
        if (ref < 1)
            return;
        ObjectPtr dev = PluginHost::GetDevice(ref);
        const QString hc = get(dev, "hc").toString();
        const QString dc = get(dev, "DC").toString();
        const int id = heading + dc.toInt();
        if (!gRecords.exists(id))
            return;
        applyName(dev, PointMap::StripPrefix(gRecords.text(id), hc + dc));
    });
}

void SavePointName(int heading, const QString& hc, int p, int unit)
{
    PluginHost::trapped("SavePointName", [&] {
        if (unit < 0 || unit >= int(gPlugin.PointUsed.size()) || p < 1 || p > 16)
            return;
        if (!gPlugin.PointUsed[size_t(unit)][size_t(p - 1)] || !gRecords.exists(heading + p))
            return;
        const QString code = hc + QString::number(p);
        const QString text = PointMap::MakeSystemMap(code);
        if (!text.isEmpty())
            gRecords.setLine(heading + p, "\t\t" + code + " " + text);
    });
}
} // namespace

SystemMap& PointMap::records() { return gRecords; }
QString& PointMap::projectFileName() { return gProjectFileName; }

PointMap::Includes PointMap::Includes::fromOptions()
{
    Includes i;
    i.variables = gPlugin.IncludeVariables;
    i.x10 = gPlugin.IncludeX10;
    i.io = gPlugin.IncludeIO;
    i.ir = gPlugin.IncludeIR;
    return i;
}

void PointMap::Synchronize(int direction, const QString& projectFile, Includes includes)
{
    PluginHost::trapped("Synchronize", [&] {
        gRecords = SystemMap();
        gProjectFileName = projectFile;
        if (!InitSystemMap())
            return;
        if (direction != 0)
            SystemMapToTS(includes);
        else
            TSToSystemMap(includes);
    });
}

QString PointMap::ReadError()
{
    return gRecords.error();
}

bool PointMap::InitSystemMap()
{
    bool ok = false;
    PluginHost::trapped("InitSystemMap", [&] { ok = gRecords.read(gProjectFileName); });
    return ok;
}

void PointMap::BuildSystemMapDictionary()
{
    PluginHost::trapped("BuildSystemMapDictionary", [] {
        gProjectFileName = PluginSettings::setting("ProjectFile", "").remove('"');
        gRecords = SystemMap();
        if (!InitSystemMap())
            return;
        if (!gPlugin.PointNameDictionary)
            gPlugin.PointNameDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
        if (!gPlugin.IRCodeDictionary)
            gPlugin.IRCodeDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
        const DictionaryPtr& names = gPlugin.PointNameDictionary;
        names->removeAll();

        if (const int h = gRecords.localHeading("Variables"))
            for (int n = 0; n < 128; ++n)
                addOnce(names, "V" + QString::number(n),
                        Variant(StripPrefix(gRecords.text(h + n + 1), "V" + QString::number(n))));

        int u = 0;
        for (const umap& m : gPlugin.UnitMaps) {
            const int h = gRecords.moduleHeading(m.unit);
            if (h && m.utype != 6)
                for (int p = 0; p < 16; ++p)
                    addOnce(names, "X" + QString::number(u * 16 + p),
                            Variant(StripPrefix(gRecords.text(h + p + 1), m.hc + QString::number(p + 1))));
            ++u;
        }

        if (const int h = gRecords.localHeading("X-10"))
            for (int id = h + 1; id <= h + 256 && gRecords.exists(id); ++id)
                addOnce(names, x10Code(id - h - 1), Variant(gRecords.text(id)));

        gPlugin.IRCodeDictionary->removeAll();
        if (const int h = gRecords.localHeading("Infra-Red")) {
            for (int i = 0; i < 1024; ++i) {
                if (!gRecords.exists(h + 1 + i))
                    break;
                QString text = gRecords.text(h + 1 + i);
                if (text.size() > 4 && text.startsWith("IR #"))
                    text.clear();
                else
                    text = StripPrefix(text, gPlugin.IRGroupNames.value(0));
                addOnce(names, "R" + QString::number(i), Variant(text));
                addOnce(gPlugin.IRCodeDictionary, Latin1Case::lower(text).replace(' ', '-'), Variant(i));
            }
        }
    });
}

void PointMap::SystemMapToTS(Includes includes)
{
    PluginHost::trapped("SystemMapToTS", [&] {
        if (includes.variables)
            DefineTSVariables();
        if (includes.x10)
            DefineTSX10();
        if (includes.io)
            DefineTSIO();
        if (includes.ir)
            DefineTSIR();
    });
}

void PointMap::TSToSystemMap(Includes includes)
{
    PluginHost::trapped("TSToSystemMap", [&] {
        if (includes.variables)
            MakeSystemMapVariables();
        if (includes.x10)
            MakeSystemMapX10();
        if (includes.io)
            MakeSystemMapIO();
        if (includes.ir)
            MakeSystemMapIR();
        WriteSystemMap();
    });
}

QString PointMap::StripPrefix(const QString& text, const QString& prefix)
{
    if (text.size() > prefix.size() + 1 && (text.startsWith(prefix + " ") || text.startsWith(prefix + "-")))
        return text.mid(prefix.size() + 1);
    return text;
}

void PointMap::CreateNamedDevice(const QString& code, const QString& text, bool variable)
{
    PluginHost::trapped("CreateNamedDevice", [&] {
        const QString name = StripPrefix(text, code);
        int ref = PluginHost::DeviceExists(code);
        if (ref < 0)
            ref = PluginHost::hs("NewDevice", {Variant("New")}).toLong();
        ObjectPtr dev = PluginHost::GetDevice(ref);
        if (variable) {
            let(dev, "interface", gPlugin.InterfaceName);
            let(dev, "iotype", Variant::fromInteger(3));
            let(dev, "Status", Variant::fromInteger(17));
            let(dev, "dev_type_string", QStringLiteral("Interface Variable"));
        }
        let(dev, "hc", code.left(1));
        let(dev, "DC", code.mid(1));
        applyName(dev, name);
    });
}

void PointMap::DefineTSVariables()
{
    PluginHost::trapped("DefineTSVariables", [] {
        const int h = gRecords.localHeading("Variables");
        if (!h)
            return;
        for (int n = 0; n < 128; ++n)
            if (gPlugin.VarUsed[size_t(n)] && gRecords.exists(h + n + 1))
                CreateNamedDevice(UnitMappings::variableCode(n), gRecords.text(h + n + 1), true);
    });
}

void PointMap::DefineTSX10()
{
    PluginHost::trapped("DefineTSX10", [] {
        const int h = gRecords.localHeading("X-10");
        if (!h)
            return;
        for (int id = h + 1; id <= h + 256 && gRecords.exists(id); ++id) {
            const int k = id - h - 1;
            if (gPlugin.X10Used[size_t(k)])
                CreateNamedDevice(x10Code(k), gRecords.text(id), false);
            else
                DeviceCreation::RemoveDevice(x10Code(k));
        }
    });
}

void PointMap::DefineTSIO()
{
    PluginHost::trapped("DefineTSIO", [] {
        for (const umap& m : gPlugin.UnitMaps) {
            const int h = gRecords.moduleHeading(m.unit);
            if (!h)
                continue;
            if (m.utype == 6) {
                if (!QFileInfo::exists(irZonesFile()))
                    continue;
                QStringList lines;
                for (int zone = 1; zone <= 16; ++zone) {
                    const QString text = gRecords.text(h + zone);
                    if (!gRecords.exists(h + zone) || text.startsWith("IR Zone #"))
                        lines.append(QString());
                    else
                        lines.append(QString(text).remove("IR Zone "));
                }
                for (int i = 0; i < 16; ++i)
                    lines.append("1");
                const QFileInfo zones(irZonesFile());
                if (IRFiles::writeQuotedLines(SavedFiles::Writer::IrZones, zones.dir().filePath("Synchronized " + zones.fileName()), lines))
                    gPlugin.IRZonesWritten = true;
                continue;
            }
            auto point = [&](int p, auto creator) {
                if (m.unit < 0 || m.unit >= int(gPlugin.PointUsed.size()) || !gPlugin.PointUsed[size_t(m.unit)][size_t(p - 1)])
                    return;
                PointNameToTS(h, creator(m.hc + QString::number(p), m.unit, m.invert));
            };
            for (int p = 1; p <= 16; ++p) {
                if (m.utype == 11)
                    point(p, p <= 8 ? &DeviceCreation::CreateInput16 : &DeviceCreation::CreateOutput16);
                else if (m.utype == 12)
                    point(p, &DeviceCreation::CreateInput16i);
                else if (m.utype == 13 && p <= 8)
                    point(p, &DeviceCreation::CreateOutputRly);
            }
        }
    });
}

void PointMap::DefineTSIR()
{
    PluginHost::trapped("DefineTSIR", [] {
        const QString labels = irLabelsFile();
        const bool exists = QFileInfo::exists(labels);
        if (exists) {
            QFile probe(labels);
            if (!probe.open(QIODevice::ReadOnly)) {
                LogControllerError(kProgramName, "DefineTSIR: " + labels + " cannot be read; left unchanged");
                return;
            }
            probe.close();
            IRFiles::ReadIRCfg();
        }
        const int h = gRecords.localHeading("Infra-Red");
        if (!h)
            return;
        QStringList lines = gPlugin.IRGroupNames;
        for (int i = 0; i < gPlugin.IRLabels.size(); ++i) {
            const int id = h + 1 + gPlugin.IRKeyLocations[size_t(i)];
            if (!gRecords.exists(id)) {
                LogControllerError(kProgramName, "IR Record " + QString::number(i)
                                                     + " not in system map image, label deleted from irlbl.cfg");
                lines.append(QString());
                continue;
            }
            const QString text = gRecords.text(id);
            lines.append(text.startsWith("IR #") ? QString() : StripPrefix(text, gPlugin.IRGroupNames.value(i / 36)));
        }
        // The labels as they were become the backup once the new ones are in place.
        if (!IRFiles::writeQuotedLines(SavedFiles::Writer::IrLabels, labels, lines, labels + "_Bck"))
            LogControllerError(kProgramName, "DefineTSIR: cannot write " + labels);
        // IRZonesWritten stays as it is: a synchronisation runs this after
        // DefineTSIO, and clearing the flag here would leave the zone file
        // that DefineTSIO just wrote for the shutdown's rename never installed.
    });
}

QString PointMap::MakeSystemMap(const QString& code)
{
    QString result;
    PluginHost::trapped("MakeSystemMap", [&] {
        const int index = PluginHost::DeviceExists(code);
        if (index < 0)
            return;
        ObjectPtr dev = PluginHost::GetDevice(index);
        result = get(dev, "location").toString() + " " + get(dev, "name").toString();
    });
    return result;
}

void PointMap::MakeSystemMapVariables()
{
    PluginHost::trapped("MakeSystemMapVariables", [] {
        const int h = gRecords.localHeading("Variables");
        if (!h)
            return;
        for (int n = 0; n < 128; ++n) {
            const QString code = UnitMappings::variableCode(n);
            if (!gPlugin.VarUsed[size_t(n)] || PluginHost::DeviceExists(code) < 0)
                continue;
            gRecords.setLine(h + n + 1, "\t\t\t" + MakeSystemMap(code));
        }
    });
}

void PointMap::MakeSystemMapX10()
{
    PluginHost::trapped("MakeSystemMapX10", [] {
        const int h = gRecords.localHeading("X-10");
        if (!h)
            return;
        for (int L = 0; L < 16; ++L)
            for (int u = 1; u <= 16; ++u) {
                const QString code = kX10Houses.at(L) + QString::number(u);
                if (PluginHost::DeviceExists(code) >= 0 && gRecords.exists(h + 16 * L + u))
                    gRecords.setLine(h + 16 * L + u, "\t\t\t" + code + " " + MakeSystemMap(code));
            }
    });
}

void PointMap::MakeSystemMapIR()
{
    PluginHost::trapped("MakeSystemMapIR", [] {
        const int h = gRecords.localHeading("Infra-Red");
        if (!h)
            return;
        for (int i = 0; i < gPlugin.IRLabels.size(); ++i) {
            const QString label = gPlugin.IRLabels[i];
            const QString group = gPlugin.IRGroupNames.value(i / 36);
            const int id = h + 1 + gPlugin.IRKeyLocations[size_t(i)];
            if (!label.isEmpty() && !group.isEmpty() && gRecords.exists(id))
                gRecords.setLine(id, "\t\t\t" + group + " " + label);
        }
    });
}

void PointMap::MakeSystemMapIO()
{
    PluginHost::trapped("MakeSystemMapIO", [] {
        for (const umap& m : gPlugin.UnitMaps) {
            const int h = gRecords.moduleHeading(m.unit);
            if (!h)
                continue;
            switch (m.utype) {
            case 11:
                for (int p = 1; p <= 16; ++p)
                    SavePointName(h, m.hc, p, m.unit);
                for (int p = 1; p <= 8; ++p)
                    SavePointName(h + 16, m.hc, p, m.unit);
                break;
            case 12:
                for (int p = 1; p <= 16; ++p)
                    SavePointName(h, m.hc, p, m.unit);
                for (int p = 1; p <= 16; ++p)
                    SavePointName(h + 16, m.hc, p, m.unit);
                break;
            case 13:
                for (int p = 1; p <= 8; ++p)
                    SavePointName(h, m.hc, p, m.unit);
                break;
            case 6: {
                const QStringList zones = IRFiles::readLines(irZonesFile(), 16);
                for (int zone = 1; zone <= zones.size(); ++zone)
                    if (!zones[zone - 1].isEmpty() && gRecords.exists(h + zone))
                        gRecords.setLine(h + zone, "\t\tIR Zone " + zones[zone - 1]);
                break;
            }
            default:
                break;
            }
        }
    });
}

void PointMap::WriteSystemMap()
{
    PluginHost::trapped("WriteSystemMap", [] { gRecords.write(gProjectFileName); });
}
