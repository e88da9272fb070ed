#include "host/HostGlobals.h"
#include "host/ScriptCallbacks.h"

#include "host/Application.h"
#include "host/IniCache.h"
#include "host/Setup.h"
#include "host/StateTables.h"

#include "core/Logging.h"

std::shared_ptr<Application> hs;
std::shared_ptr<Setup> gHostForm;

bool gLoading = false;
bool gSuppressXAP = false;
bool gNoInterface = false;
int gDebugMode = 0;
bool gTSIfaceHandedOut = false;

QStringList gIOHouseChars;
QStringList gX10FunctionNames;
QString gConfigFilePath;
QString gLastVoiceCommand;
QString gSunriseText;
QString gSunsetText;

CollectionPtr gXapSendQueue;
DictionaryPtr gFilterDictionary;
DictionaryPtr gX10Dictionary;
DictionaryPtr gDeviceDictionary;
DictionaryPtr gIRMacroDictionary;
std::array<DictionaryPtr, 4> gUtilDictionaries;
DictionaryPtr gX10CommandTable;
DictionaryPtr gVariableNames;
DictionaryPtr gIRNameDictionary;
DictionaryPtr gRegisteredMenus;

CollectionPtr gIRSlots;
CollectionPtr gPluginCollection;
ObjectPtr gPluginInstance;
ObjectPtr gSerialCommLink;

QString gStyleSheet;
QString gBackground;
QString gHTTPPort;
QString gCommPort;
QString gSerialIPAddress;
bool gUseSerialComm = false;

namespace {
CollectionPtr gDevices;
CollectionPtr gEvents;
std::array<CollectionPtr, 7> gCallbacks;
std::unique_ptr<QStringList> gStatusScripts;
qint32 gRefCounter = 0;

CollectionPtr &created(CollectionPtr &c)
{
    if (!c)
        c = std::make_shared<Collection>();
    return c;
}
} // namespace

CollectionPtr DeviceCollectionPtr()
{
    return created(gDevices);
}

bool DeviceCollectionExists()
{
    return gDevices != nullptr;
}

Collection &DeviceCollection()
{
    return *created(gDevices);
}

CollectionPtr EventCollectionPtr()
{
    return created(gEvents);
}

Collection &EventCollection()
{
    return *created(gEvents);
}

Collection &EventCallbacks(int slot)
{
    return *created(gCallbacks.at(size_t(slot)));
}

QStringList &StatusChangeScripts()
{
    if (!gStatusScripts)
        gStatusScripts = std::make_unique<QStringList>();
    return *gStatusScripts;
}

qint32 &ReferenceCounter()
{
    return gRefCounter;
}

StateTables &States()
{
    static StateTables tables;
    return tables;
}

IniCache &HostIniCache()
{
    static IniCache cache;
    return cache;
}

void ReleaseHostCollections()
{
    // Callbacks still waiting hold the script's objects: they go with the host, while the engine that
    // would run their terminates still exists, not at the process's end.
    ScriptCallbacks::clear();
    for (CollectionPtr &slot : gCallbacks)
        slot.reset();
    gIRNameDictionary.reset();
    gPluginInstance.reset();
    gTSIfaceHandedOut = false;
    gStatusScripts.reset();
    gPluginCollection.reset();
    gDevices.reset();
    gEvents.reset();
    gSerialCommLink.reset();
}

QString XapBody(std::initializer_list<std::pair<QString, QString>> items)
{
    QString body;
    for (const auto &[key, value] : items) {
        if (!body.isEmpty())
            body += QChar(0);
        body += key + QChar(1) + XapItemValue(value);
    }
    return body;
}
