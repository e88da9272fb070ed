#include "IRFiles.h"
#include "link/CommsLog.h"
#include "PluginHost.h"
#include "PluginState.h"

#include "automation/AnsiCodePage.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"
#include "core/ConfigPath.h"
#include "core/Globals.h"

#include <QFile>
#include <QFileInfo>

namespace {
QString labelsPath() { return ConfigFile("irlbl.cfg"); }
QString mapPath() { return ConfigFile("irmap.cfg"); }
QString zonesPath() { return ConfigFile("irzones.cfg"); }

double zoneValue(const QString& t)
{
    bool ok = false;
    const double z = t.toDouble(&ok);
    return ok ? z : VbString::Val(t);
}

bool zoneInRange(double z) { return z >= 0 && z <= IRFiles::kMaxZone; }

QString zoneText(const QString& raw, int device)
{
    const QString t = raw.trimmed();
    if (t == "17" || !VbString::IsNumeric(t))
        return "0";
    if (!zoneInRange(zoneValue(t))) {
        LogControllerError(kProgramName, "irzones.cfg zone " + t + " of IR device " + QString::number(device)
                                             + " is beyond the zone modules; read as 0");
        return "0";
    }
    return t;
}
} // namespace

int IRFiles::ZoneNumber(const QString& text)
{
    const double z = zoneValue(text.trimmed());
    return zoneInRange(z) ? int(z) : 0;
}

QStringList IRFiles::readLines(const QString& path, int maxLines)
{
    // The longest of these files has 1040 lines of short labels: reading stops
    // there, and an overlong line is cut, so a damaged or huge file cannot
    // exhaust memory.
    constexpr int kMaxFileLines = 1040;
    constexpr int kMaxLineBytes = 4096;
    QStringList lines;
    QFile f(path);
    if (!f.exists() || !f.open(QIODevice::ReadOnly))
        return lines;
    const int limit = maxLines >= 0 ? qMin(maxLines, kMaxFileLines) : kMaxFileLines;
    QByteArray line;
    bool afterCR = false, cut = false;
    auto finish = [&] {
        lines.append(AnsiCodePage::decode(line).remove('"'));
        line.clear();
    };
    char buf[65536];
    while (lines.size() < limit) {
        const qint64 n = f.read(buf, sizeof buf);
        if (n <= 0)
            break;
        for (qint64 i = 0; i < n && lines.size() < limit; ++i) {
            const char c = buf[i];
            if (afterCR) {
                afterCR = false;
                if (c == '\n')
                    continue;
            }
            if (c == '\r' || c == '\n') {
                afterCR = c == '\r';
                finish();
            } else if (line.size() < kMaxLineBytes) {
                line.append(c);
            } else if (!cut) {
                cut = true;
                LogControllerError(kProgramName, path + ": line " + QString::number(lines.size() + 1)
                                                     + " is longer than " + QString::number(kMaxLineBytes)
                                                     + " characters; the rest of it is ignored");
            }
        }
    }
    if (!line.isEmpty() && lines.size() < limit)
        finish();
    return lines;
}

bool IRFiles::writeQuotedLines(SavedFiles::Writer writer, const QString& path, const QStringList& lines,
                               const QString& backup)
{
    QByteArray out;
    for (const QString& l : lines)
        out += "\"" + AnsiCodePage::encode(l) + "\"\r\n";
    return SavedFiles::save(writer, path, out, backup).ok;
}

bool IRFiles::ReadIRCfg()
{
    PluginHost::trapped("ReadIRCfg", [] {
        gPlugin.IRGroupNames = QStringList(32);
        gPlugin.IRLabels = QStringList(1008);
        const QStringList lines = readLines(labelsPath(), 1040);
        for (int n = 0; n < lines.size(); ++n) {
            if (n < 32)
                gPlugin.IRGroupNames[n] = lines[n];
            else
                gPlugin.IRLabels[n - 32] = lines[n];
        }
    });
    return true;
}

void IRFiles::ReadIRMap()
{
    PluginHost::trapped("ReadIRMap", [] {
        gPlugin.IRMapEntries = QStringList(1008);
        const QStringList lines = readLines(mapPath(), 1008);
        for (int n = 0; n < lines.size(); ++n)
            gPlugin.IRMapEntries[n] = lines[n];
    });
}

void IRFiles::BuildIRLookup()
{
    PluginHost::trapped("BuildIRLookup", [] {
        gPlugin.IRKeyLocations = PluginState::identityKeys();
        for (int i = 0; i < 1008 && i < gPlugin.IRMapEntries.size(); ++i) {
            const QString e = gPlugin.IRMapEntries[i];
            if (e.isEmpty() || !VbString::IsNumeric(e))
                continue;
            const double v = VbString::parseNumber(e).value_or(-1);
            if (v < 0 || v > 1023) {
                LogControllerError(kProgramName, "BuildIRLookup: key " + QString::number(i) + " maps to location "
                                                     + e.trimmed() + ", out of range; ignored");
                continue;
            }
            gPlugin.IRKeyLocations[size_t(i)] = int(VbString::roundHalfEven(v));
        }
    });
}

void IRFiles::SaveIRMap()
{
    PluginHost::trapped("SaveIRMap", [] {
        QStringList lines = gPlugin.IRMapEntries;
        while (lines.size() < 1008)
            lines.append(QString());
        if (!writeQuotedLines(SavedFiles::Writer::IrMap, mapPath(), lines.mid(0, 1008)))
            LogControllerError(kProgramName, "SaveIRMap: cannot write " + mapPath());
    });
}

void IRFiles::SetupIRDictionary()
{
    PluginHost::trapped("SetupIRDictionary", [] {
        if (!QFileInfo::exists(labelsPath()))
            return;
        const QStringList labels = readLines(labelsPath());
        const bool haveZones = QFileInfo::exists(zonesPath());
        const QStringList zones = haveZones ? readLines(zonesPath(), 14) : QStringList();
        QString deviceName[15];
        QString zone[15];
        int d = 1;
        for (int i = 0; i < labels.size(); ++i) {
            const int n = i + 1;
            const QString& line = labels[i];
            if (n <= 14) {
                deviceName[n] = line;
                // A device without a zone line plays on the controller itself.
                zone[n] = haveZones && i < zones.size() ? zoneText(zones[i], n) : QString("0");
                continue;
            }
            if (n <= 32)
                continue;
            if (d > 14)
                break;
            if (!line.isEmpty()) {
                const QString key = Latin1Case::upper(deviceName[d] + " " + line);
                if (gPlugin.IRNameDictionary.contains(key))
                    LogControllerError(kProgramName, "SetupIRDictionary: duplicate IR name " + key + " skipped");
                else
                    gPlugin.IRNameDictionary.insert(key, QString::number(n - 33) + "," + zone[d]);
            }
            if (n == d * 36 + 32)
                ++d;
        }
    });
}
