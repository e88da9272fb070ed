#include "bridge/ReceiveMessages.h"

#include "bridge/DeviceMessageClass.h"
#include "bridge/HostAccess.h"
#include "bridge/ScriptQueue.h"

#include "host/HostGlobals.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/xap/XapMessage.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"

namespace {

const QString kFile = QStringLiteral("tvkXapKorvane.ini");
const QString kReceived = QStringLiteral("Received");
const QString kIRMacro = QStringLiteral("IRMacro");
const QString kDevices = QStringLiteral("Devices");
const QString kDeviceMessages = QStringLiteral("Device Messages");

qint32 sMessageSequence = 0;

DictionaryPtr &ensured(DictionaryPtr &dictionary)
{
    if (!dictionary)
        dictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    return dictionary;
}

// The section's entries, double quotes removed; none for an empty section.
QStringList sectionEntries(const QString &section)
{
    QString name = section;
    QString file = kFile;
    const QString text = HostAccess::Host().GetINISection(name, file).remove(QLatin1Char('"'));
    if (text.isEmpty())
        return {};
    return text.split(QChar(0));
}

void loadPairs(const QString &section, Dictionary &dictionary)
{
    dictionary.removeAll();
    for (const QString &entry : sectionEntries(section)) {
        if (entry.isEmpty())
            continue;
        const QStringList parts = entry.split(QLatin1Char('='));
        if (parts.first().isEmpty())
            continue;
        if (parts.size() < 2)
            throw VbError(VbErr::SubscriptOutOfRange, VbError::standardDescription(VbErr::SubscriptOutOfRange));
        if (!dictionary.exists(Variant(parts.at(0))))
            dictionary.add(Variant(parts.at(0)), Variant(parts.at(1)));
    }
}

double neverChanged()
{
    return VbDate::dateSerial(2000, 1, 1);
}

} // namespace

qint32 &MessageSequence()
{
    return sMessageSequence;
}

void InitFilterDictionary()
{
    try {
        loadPairs(kReceived, *ensured(gFilterDictionary));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("InitFilterDictionary"));
    }
}

void InitIRMacroDictionary()
{
    try {
        loadPairs(kIRMacro, *ensured(gIRMacroDictionary));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("InitIRMacroDictionary"));
    }
}

void InitDeviceDictionary()
{
    try {
        Dictionary &records = *ensured(gDeviceDictionary);
        records.removeAll();
        for (const QString &entry : sectionEntries(kDevices)) {
            if (entry.isEmpty())
                continue;
            const QStringList parts = entry.split(QLatin1Char('='));
            const QString tag = parts.first();
            if (tag.isEmpty() || parts.size() < 2 || records.exists(Variant(tag)))
                continue;
            auto record = std::make_shared<DeviceMessageClass>();
            record->Tag = tag;
            const QStringList fields = parts.at(1).split(QLatin1Char(';'));
            const std::optional<double> when = VbDate::parseGeneralDate(fields.first());
            record->LastChange = when ? *when : neverChanged();
            for (qsizetype k = 1; k < fields.size(); ++k) {
                const QString key = fields.at(k).toLower();
                // Two fields of one name: the first keeps its value, so the lists stay paired.
                if (!key.isEmpty() && record->MessageList->containsKey(key))
                    continue;
                QString section = kDeviceMessages;
                QString item = tag.toLower() + QLatin1Char('.') + key;
                QString none;
                QString file = kFile;
                const QString value = HostAccess::Host().GetIniSetting(section, item, none, file);
                record->addItem(key, value);
            }
            records.add(Variant(tag), Variant(ObjectPtr(record)));
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("InitDeviceDictionary"));
    }
}

void SaveDeviceDictionary()
{
    // A released dictionary would be written as empty sections over the tagged records.
    if (!gDeviceDictionary) {
        LogError(kProgramName, QStringLiteral("SaveDeviceDictionary not written: the tagged devices are gone"));
        return;
    }
    try {
        Application &host = HostAccess::Host();
        QString file = kFile;
        QString devices = kDevices;
        QString messages = kDeviceMessages;
        host.ClearINISection(devices, file);
        host.ClearINISection(messages, file);
        // The stored key list is joined with ";": an item name holding one would come back
        // as two names and lose its value, so it is stored with "," instead.
        int renamed = 0;
        const auto storedName = [](const Variant &key) { return DeviceMessageClass::storedText(key).replace(QLatin1Char(';'), QLatin1Char(',')); };
        {
            const std::vector<Variant> keys = gDeviceDictionary->keyList();
            const std::vector<Variant> items = gDeviceDictionary->itemList();
            for (size_t i = 0; i < keys.size(); ++i) {
                const QString tag = keys[i].toText();
                try {
                    const auto record = std::dynamic_pointer_cast<DeviceMessageClass>(items[i].toObject());
                    if (!record)
                        throw VbError(VbErr::TypeMismatch, VbError::standardDescription(VbErr::TypeMismatch));
                    QStringList list{VbDate::formatGeneralDate(record->LastChange)};
                    const std::vector<Variant> &itemKeys = record->MessageKeyList->items();
                    for (const Variant &key : itemKeys) {
                        list.append(storedName(key));
                        renamed += DeviceMessageClass::storedText(key).contains(QLatin1Char(';')) ? 1 : 0;
                    }
                    QString name = tag;
                    QString value = list.join(QLatin1Char(';'));
                    host.SaveIniSetting(devices, name, value, file);
                    const std::vector<Variant> &values = record->MessageList->items();
                    for (size_t j = 0; j < values.size(); ++j) {
                        if (j >= itemKeys.size())
                            throw VbError(VbErr::SubscriptOutOfRange,
                                          VbError::standardDescription(VbErr::SubscriptOutOfRange));
                        QString itemName = tag + QLatin1Char('.') + storedName(itemKeys[j]);
                        QString itemValue = DeviceMessageClass::storedText(values[j]);
                        host.SaveIniSetting(messages, itemName, itemValue, file);
                    }
                } catch (...) {
                    PendingError::capture();
                    LogError(kProgramName, QStringLiteral("SaveDeviceDictionary"));
                }
            }
        }
        if (renamed > 0)
            LogError(kProgramName, QStringLiteral("SaveDeviceDictionary: ") + QString::number(renamed)
                                       + QStringLiteral(" item name(s) holding \";\" stored with \",\""));
        // At Exit the host form's unload flushes right after the device store: each file is
        // written once, so its backup keeps the version from before the run.
        if (!gShuttingDown)
            host.FlushIniCache();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SaveDeviceDictionary"));
    }
}

void CheckReceivedMessage(const XapMessage &message, bool runScripts)
{
    try {
        if (!gFilterDictionary || gFilterDictionary->count() == 0)
            return;
        const QString key = message.msgSource() + QLatin1Char('~') + message.MsgClass();
        if (!gFilterDictionary->exists(Variant(key)))
            return;

        auto values = std::make_shared<Collection>();
        auto keys = std::make_shared<Collection>();
        const QStringList blocks = message.MsgSection();
        for (qsizetype b = 0; b < blocks.size(); ++b) {
            const XapMessage::Section *block = message.msgCollection(int(b));
            if (!block)
                continue;
            for (const QString &line : block->lines) {
                const qsizetype eq = line.indexOf(QLatin1Char('='));
                if (eq < 0)
                    continue;
                const QString itemKey = blocks.at(b) + QLatin1Char('.') + line.left(eq);
                // Two items of one key: the first one is kept.
                if (values->containsKey(itemKey))
                    continue;
                values->add(Variant(line.mid(eq + 1)), itemKey);
                keys->add(Variant(itemKey));
            }
        }

        const QStringList filter = gFilterDictionary->item(Variant(key)).toString().split(QLatin1Char(';'));
        const QString tag = filter.at(0);
        const QString event = filter.size() > 1 ? filter.at(1) : QString();
        if (!gDeviceDictionary || !gDeviceDictionary->exists(Variant(tag)))
            return;
        const auto record = std::dynamic_pointer_cast<DeviceMessageClass>(gDeviceDictionary->item(Variant(tag)).toObject());
        if (!record)
            throw VbError(VbErr::TypeMismatch, VbError::standardDescription(VbErr::TypeMismatch));
        record->MessageList = values;
        record->MessageKeyList = keys;
        record->LastChange = VbDate::oleNow();
        // Past 2^31 - 1 stores the counter wraps rather than overflowing.
        sMessageSequence = qint32(quint32(sMessageSequence) + 1u);
        record->Sequence = sMessageSequence;
        if (runScripts && !event.isEmpty())
            QueueDeviceEvent(record);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("CheckReceivedMessage"));
    }
}
