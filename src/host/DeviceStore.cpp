#include "host/DeviceStore.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IR.h"
#include "host/Trap.h"
#include "host/XmlConfigImport.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/ClassRegistry.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"

#include <QFile>

const QString DeviceStore::kStoreFile = QStringLiteral("tvkXapKorvane.ini");

namespace {

const QString kPluginDevices = QStringLiteral("PluginDevices");
const QString kIRDevices = QStringLiteral("IRDevices");
constexpr int kIRSlotCount = 1024;

// The number at the start of a text (0 when there is none), as CInt/CLng round it.
Variant leadingNumber(const QString &text)
{
    return Variant::fromDouble(VbString::Val(text));
}

// A stored date text; an empty text is the zero date, anything else that is
// no date raises.
Variant storedDate(const QString &text)
{
    if (text.isEmpty())
        return Variant::fromDate(0);
    return Variant::fromDate(Variant(text).toDate());
}

// Lines a loader passes over, reported in one log entry so that a damaged
// file cannot flood the log. The entry names the file and the place only:
// it goes out on the network, the file's text stays on the machine.
class SkippedLines
{
public:
    SkippedLines(QString label, QString where)
        : m_label(std::move(label))
        , m_where(std::move(where))
    {
    }
    void add(int lineNumber)
    {
        if (m_count++ == 0)
            m_first = lineNumber;
    }
    void log() const
    {
        if (m_count > 0)
            LogError(kProgramName, m_label + QStringLiteral(" skipped ") + QString::number(m_count)
                                       + QStringLiteral(" malformed line(s) of ") + m_where
                                       + QStringLiteral(", the first is line ") + QString::number(m_first));
    }

private:
    QString m_label;
    QString m_where;
    int m_first = 0;
    int m_count = 0;
};

QString boolText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

bool DeviceStore::InitDevices()
{
    QString sectionName = kPluginDevices;
    QString file = kStoreFile;
    QString s = hs->GetINISection(sectionName, file);
    s.remove(QLatin1Char('"'));
    if (s.isEmpty()) {
        ReadIRDevices();
        return false;
    }
    SkippedLines skipped(QStringLiteral("InitDevices"), kStoreFile + QStringLiteral(" [") + kPluginDevices + QLatin1Char(']'));
    int lineNumber = 0;
    for (const QString &line : s.split(QChar(0))) {
        ++lineNumber;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (line.isEmpty() || eq < 2) {
            skipped.add(lineNumber);
            continue;
        }
        const QString value = line.mid(eq + 1);
        if (value.isEmpty()) {
            skipped.add(lineNumber);
            continue;
        }
        QString code = Latin1Case::upper(line.left(eq));
        const QString label = QStringLiteral("InitDevices ") + code;
        QStringList f = value.split(QLatin1Char(';'));
        while (f.size() < 13)
            f.append(QString());

        // Each statement is trapped on its own: a failing one is logged and the next one runs.
        DeviceClassPtr device;
        trappedVoid(label, [&] {
            QString name = f[1];
            device = hs->NewDeviceEx(name);
        });
        auto set = [&](DeviceClass::Field field, const std::function<Variant()> &value) {
            trappedVoid(label, [&] {
                if (!device)
                    throw VbError(VbErr::ObjectVariableNotSet);
                device->set(field, value());
            });
        };
        set(DeviceClass::F_interface, [&] { return Variant(f[2]); });
        set(DeviceClass::F_location, [&] { return Variant(f[0]); });
        set(DeviceClass::F_name, [&] { return Variant(f[1]); });
        set(DeviceClass::F_dev_type_string, [&] { return Variant(f[6]); });
        set(DeviceClass::F_hc, [&] { return Variant(code.left(1)); });
        set(DeviceClass::F_DC, [&] { return Variant(code.mid(1)); });
        set(DeviceClass::F_iotype, [&] { return leadingNumber(f[3]); });
        set(DeviceClass::F_misc, [&] { return leadingNumber(f[5]); });
        set(DeviceClass::F_iomisc, [&] { return Variant(f[4]); });
        set(DeviceClass::F_TriggerEvent, [&] { return Variant(IsTrue(f[12])); });
        set(DeviceClass::F_ScriptTag, [&] { return Variant(f[11]); });

        trappedVoid(label, [&] {
            qint16 status = leadingNumber(f[7]).toInteger();
            hs->SetDeviceStatus(code, status);
        });
        trappedVoid(label, [&] {
            int v = leadingNumber(f[8]).toLong();
            hs->SetDeviceValue(code, v);
        });
        trappedVoid(label, [&] {
            Variant when = storedDate(f[9]);
            hs->SetDeviceLastChange(code, when);
        });
        trappedVoid(label, [&] {
            QString str = f[10];
            Variant reset(false);
            hs->SetDeviceString(code, str, reset);
        });

        const QString tag = f[11];
        if (tag.isEmpty() || !gDeviceDictionary)
            continue;
        const QString progId = QStringLiteral("xaptvkKorvane.DeviceMessageClass");
        trappedVoid(label, [&] {
            if (gDeviceDictionary->exists(Variant(tag)))
                gDeviceDictionary->remove(Variant(tag));
        });
        // The tagged record belongs to the bridge; without it there is nothing to make.
        if (!ClassRegistry::instance().contains(progId))
            continue;
        ObjectPtr record;
        trappedVoid(label, [&] { record = ClassRegistry::instance().create(progId); });
        trappedVoid(label, [&] { record->let(QStringLiteral("DC"), Variant(code)); });
        trappedVoid(label, [&] { record->let(QStringLiteral("LastChange"), storedDate(f[9])); });
        trappedVoid(label, [&] { record->let(QStringLiteral("Value"), Variant(f[8])); });
        trappedVoid(label, [&] { gDeviceDictionary->add(Variant(tag), Variant(record)); });
    }
    skipped.log();
    ReadIRDevices();
    return true;
}

void DeviceStore::ReadIRDevices()
{
    gIRSlots = std::make_shared<Collection>();
    for (int n = 0; n < kIRSlotCount; ++n) {
        const QString key = QStringLiteral("R") + QString::number(n);
        QStringList f = hs->getIniSetting(kIRDevices, key, QString(), kStoreFile).split(QLatin1Char(';'));
        while (f.size() < 3)
            f.append(QString());
        auto slot = std::make_shared<IR>();
        const std::optional<double> when = VbDate::parseGeneralDate(f[0]);
        slot->storeField(IR::F_LastChange, Variant::fromDate(when ? *when : IR::neverChanged()));
        slot->storeField(IR::F_DC, Variant(key));
        slot->storeField(IR::F_ScriptTag, Variant(f[1]));
        slot->storeField(IR::F_TriggerEvent, Variant(Latin1Case::lower(f[2]) == QLatin1String("true")));
        gIRSlots->add(Variant(ObjectPtr(slot)));
    }
}

void DeviceStore::SaveDevices()
{
    // Released collections would be written as an empty store over the real one.
    if (!hs || !DeviceCollectionExists()) {
        LogError(kProgramName, QStringLiteral("SaveDevices not written: the host's devices are gone"));
        return;
    }
    if (XmlConfigImport::stopped()) {
        LogError(kProgramName, QStringLiteral("SaveDevices not written: the start-up's import was stopped part-way"));
        return;
    }
    QString sectionName = kPluginDevices;
    QString file = kStoreFile;
    hs->ClearINISection(sectionName, file);
    // ";" separates the fields of a line: one inside a text would shift every later field
    // at the next load, so it is stored as ",".
    int changedTexts = 0;
    auto storable = [&changedTexts](QString text) {
        if (text.contains(QLatin1Char(';'))) {
            ++changedTexts;
            text.replace(QLatin1Char(';'), QLatin1Char(','));
        }
        return text;
    };
    for (const Variant &item : DeviceCollection().items()) {
        auto device = item.isObject() ? std::dynamic_pointer_cast<DeviceClass>(item.rawObject()) : nullptr;
        if (!device)
            continue;
        QString code = Latin1Case::upper(device->hc()) + device->DC();
        trappedVoid(QStringLiteral("SaveDevices ") + code, [&] {
            const QStringList fields{
                storable(device->location()),
                storable(device->name()),
                storable(device->interfaceName()),
                QString::number(device->iotype()),
                storable(device->iomisc()),
                QString::number(device->misc()),
                storable(device->devTypeString()),
                QString::number(hs->DeviceStatus(code)),
                QString::number(hs->DeviceValue(code)),
                VbDate::formatGeneralDate(hs->DeviceLastChange(code).toDate()),
                storable(hs->DeviceString(code)),
                storable(device->scriptTag()),
                boolText(device->triggerEvent()),
            };
            hs->saveIniSetting(kPluginDevices, code, fields.join(QLatin1Char(';')), kStoreFile);
        });
    }
    auto logChangedTexts = [&changedTexts] {
        if (changedTexts > 0)
            LogError(kProgramName, QStringLiteral("SaveDevices stored ") + QString::number(changedTexts)
                                       + QStringLiteral(" text(s) with \";\" written as \",\""));
    };
    // IR slots never read leave their lines as they are.
    if (!gIRSlots) {
        logChangedTexts();
        return;
    }
    sectionName = kIRDevices;
    hs->ClearINISection(sectionName, file);
    int n = 0;
    for (const Variant &item : gIRSlots->items()) {
        const QString key = QStringLiteral("R") + QString::number(n++);
        auto slot = item.isObject() ? std::dynamic_pointer_cast<IR>(item.rawObject()) : nullptr;
        if (!slot)
            continue;
        if (slot->lastChange() == IR::neverChanged() && slot->scriptTag().isEmpty() && !slot->triggerEvent())
            continue;
        trappedVoid(QStringLiteral("SaveDevices ") + key, [&] {
            const QString value = VbDate::formatGeneralDate(slot->lastChange()) + QLatin1Char(';')
                + storable(slot->scriptTag()) + QLatin1Char(';') + boolText(slot->triggerEvent());
            hs->saveIniSetting(kIRDevices, key, value, kStoreFile);
        });
    }
    logChangedTexts();
}

void DeviceStore::ReadDeviceState()
{
    SkippedLines skipped(QStringLiteral("ReadDeviceState"), QStringLiteral("device_state.txt"));
    try {
        QFile file(ResolvePathNoCase(gAppPath, QStringLiteral("device_state.txt")));
        if (!file.exists())
            return;
        if (!file.open(QIODevice::ReadOnly))
            throw VbError(VbErr::FileNotFound, QStringLiteral("File not found"));
        int lineNumber = 0;
        while (!file.atEnd()) {
            QString line = AnsiCodePage::decode(file.readLine());
            ++lineNumber;
            while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            const QStringList f = line.split(QLatin1Char(','));
            if (f.size() != 5) {
                if (!line.isEmpty())
                    skipped.add(lineNumber);
                continue;
            }
            QString code = f[0];
            if (hs->DeviceExists(code) == -1)
                continue;
            qint16 status = leadingNumber(f[1]).toInteger();
            hs->SetDeviceStatus(code, status);
            int value = leadingNumber(f[2]).toLong();
            hs->SetDeviceValue(code, value);
            Variant when = storedDate(f[3]);
            hs->SetDeviceLastChange(code, when);
            QString text = XmlConfigImport::HexDecode(f[4]);
            Variant reset(false);
            hs->SetDeviceString(code, text, reset);
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("ReadDeviceState"));
    }
    skipped.log();
}

void DeviceStore::SetupIRDictionary()
{
    try {
        auto readLines = [](const QString &name) {
            QStringList lines;
            QFile file(ConfigFile(name));
            if (file.open(QIODevice::ReadOnly)) {
                while (!file.atEnd()) {
                    QString line = AnsiCodePage::decode(file.readLine());
                    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
                        line.chop(1);
                    lines.append(line.remove(QLatin1Char('"')));
                }
            }
            return lines;
        };
        const QStringList labels = readLines(QStringLiteral("irlbl.cfg"));
        const QStringList zones = readLines(QStringLiteral("irzones.cfg"));
        if (!gIRNameDictionary)
            gIRNameDictionary = std::make_shared<Dictionary>();
        QStringList locationNames;
        QStringList locationZones;
        for (int line = 1; line <= 14 && line <= labels.size(); ++line) {
            locationNames.append(labels[line - 1]);
            const QString zone = line <= zones.size() ? zones[line - 1] : QString();
            const bool usable = VbString::IsNumeric(zone) && zone != QLatin1String("17");
            locationZones.append(usable ? zone : QStringLiteral("0"));
        }
        for (int line = 33; line <= labels.size(); ++line) {
            const int location = (line - 33) / 36;
            if (location >= locationNames.size())
                break;
            const QString label = labels[line - 1];
            if (label.isEmpty())
                continue;
            const QString key = Latin1Case::upper(locationNames[location] + QLatin1Char(' ') + label);
            if (!gIRNameDictionary->exists(Variant(key)))
                gIRNameDictionary->add(Variant(key),
                                       Variant(QString::number(line - 33) + QLatin1Char(',') + locationZones[location]));
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SetupIRDictionary"));
    }
}
