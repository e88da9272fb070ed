#include "host/Setup.h"

#include "core/PageStyle.h"

#include "host/Application.h"
#include "host/DeviceStore.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IniCache.h"
#include "host/StateTables.h"
#include "host/XmlConfigImport.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/StartupStop.h"
#include "core/Logging.h"
#include "core/Shutdown.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"

#include <QDir>

namespace {

// The house characters handed out for the plug-in's I/O devices, in order.
const QString kIOHouseChars = QStringLiteral("[ ] ^ _ ` { | } ~ ! \" # $ % & ' ( ) * + , - . / : ; < = > ? @");

// Characters the device store cannot keep as a house character: the quote is
// stripped on reading, ";" starts a comment and "=" ends the key.
bool unstorableHouseChar(const QString &c)
{
    return c == QLatin1String("\"") || c == QLatin1String(";") || c == QLatin1String("=");
}

template<class F>
void ignoringErrors(F &&statement)
{
    try {
        statement();
    } catch (...) {
    }
    PendingError::clear();
}

// The object a late-bound call is made on; Nothing raises VB's error 91.
ObjectPtr objectOf(const Variant &value)
{
    ObjectPtr object = value.toObject();
    if (!object)
        throw VbError(VbErr::ObjectVariableNotSet);
    return object;
}

DictionaryPtr textDictionary()
{
    return std::make_shared<Dictionary>(Dictionary::TextCompare);
}

} // namespace

void Setup::describe(DispatchTable<Setup> &t)
{
    t.name(QStringLiteral("Setup"));
    t.method("GetTSIface", &Setup::GetTSIface);
    t.method("RegisterMenu", &Setup::RegisterMenu);
    t.method("RegisterMenuEx", &Setup::RegisterMenuEx);
    t.method("UnRegisterAllMenus", &Setup::UnRegisterAllMenus);
    t.method("ForceFront", &Setup::ForceFront);
    t.method("GetNextFreeIOCode", &Setup::GetNextFreeIOCode);
    t.method("CheckTrigger", &Setup::CheckTrigger);
    t.method("X10Event", &Setup::X10Event);
    t.method("IREvent", &Setup::IREvent);
    t.method("WriteSplash", &Setup::WriteSplash);
    t.method("ValueChangeEvent", &Setup::ValueChangeEvent);
    t.method("DisplayEvDTMF", &Setup::DisplayEvDTMF);
    t.method("RegisterProxySpeakPlug", &Setup::RegisterProxySpeakPlug);
    t.method("UnRegisterProxySpeakPlug", &Setup::UnRegisterProxySpeakPlug);
    t.method("RegisterEventCB", &Setup::RegisterEventCB);
    t.method("SendXapMessage", &Setup::SendXapMessage);
    t.method("SuppressXAP", &Setup::SuppressXAP);
    t.method("GetSelectedPlugins", &Setup::GetSelectedPlugins);
    t.method("Startup", &Setup::Startup);
    t.method("InitDevices", &Setup::InitDevices);
    t.method("ReadIRDevices", &Setup::ReadIRDevices);
    t.method("SaveDevices", &Setup::SaveDevices);
    t.method("ReadDeviceState", &Setup::ReadDeviceState);
    t.method("SetupIRDictionary", &Setup::SetupIRDictionary);
}

void Setup::Form_Load()
{
    gMainFormReady = false;
    gIOHouseChars = kIOHouseChars.split(QLatin1Char(' '));
    States().reset();
    gSuppressXAP = false;
    gLoading = true;
    // The loading flag must not outlive the load, whichever way it ends.
    struct LoadingGuard {
        ~LoadingGuard() { gLoading = false; }
    } guard;

    m_settings = std::make_unique<IniTool>();
    m_settings->Load(ConfigFile(QStringLiteral("Settings.ini")));
    gConfigFilePath = m_settings->Read(QStringLiteral("Settings"), QStringLiteral("configfile"),
                                       QDir::toNativeSeparators(gAppPath + QStringLiteral("/my house.xml")));
    hs = std::make_shared<Application>();
    App_Initialize();
    gPluginInstance.reset();
    gIRNameDictionary = std::make_shared<Dictionary>();
}

void Setup::App_Initialize()
{
    // Every in-memory object first, so that a failing file or folder below
    // leaves none of them missing.
    gX10CommandTable = textDictionary();
    gVariableNames = textDictionary();
    gXapSendQueue = std::make_shared<Collection>();
    gFilterDictionary = textDictionary();
    gX10Dictionary = textDictionary();
    gDeviceDictionary = textDictionary();
    gIRMacroDictionary = textDictionary();
    for (DictionaryPtr &d : gUtilDictionaries)
        d = textDictionary();
    gX10CommandTable->add(Variant("ON"), Variant(2));
    gX10CommandTable->add(Variant("OFF"), Variant(3));
    gX10CommandTable->add(Variant("DIM"), Variant(4));
    gX10CommandTable->add(Variant("BRIGHT"), Variant(5));
    HostIniCache().reset();
    gLastVoiceCommand.clear();
    gX10FunctionNames = QStringList{
        "all_units_off", "all_lights_on", "on",        "off",       "dim",        "bright",
        "all_lights_off", "extended",     "hail_request", "hail_ack", "preset_dim_1", "preset_dim_2",
        "data_xfer",     "status_on",     "status_off", "status_request"};
    gStyleSheet = QStringLiteral("StyleNoBody.css");
    gBackground = QStringLiteral("#000000");
    gHTTPPort = QStringLiteral("8010");
    gCommPort = QStringLiteral("1");
    gSerialIPAddress.clear();

    // The device collection exists from here on, also with no device: the store's save
    // takes a missing one for a host already released.
    DeviceCollection();
    try {
        CreateFolders(QDir(gAppPath).filePath(QStringLiteral("Data/") + kProgramName + QStringLiteral("/x")));
        if (!InitDevices()) {
            XmlConfigImport::ReadXML(QString(gConfigFilePath).replace(QLatin1Char('\\'), QLatin1Char('/')));
            if (!StartupStopping())
                ReadDeviceState();
        }
        HostHooksInstance().loadTCPServer.call();
        const QString file = DeviceStore::kStoreFile;
        const QString section = QStringLiteral("tspi_quillon");
        auto setting = [&](const char *key, const QString &def) {
            return hs->getIniSetting(section, QString::fromLatin1(key), def, file).remove(QLatin1Char('"'));
        };
        PageStyle::TakeStyleSheet(gStyleSheet, setting("StyleSheet", gStyleSheet), QStringLiteral("Class_Initialize"));
        PageStyle::TakeBackground(gBackground, setting("Background", gBackground), QStringLiteral("Class_Initialize"));
        gHTTPPort = setting("HTTPPort", gHTTPPort);
        gCommPort = setting("CommPort", gCommPort);
        gSerialIPAddress = setting("SerialIP", QString());
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Class_Initialize"));
    }
    gUseSerialComm = gSerialIPAddress.contains(QLatin1Char('.'));
    try {
        gSerialCommLink = HostHooksInstance().createSerialComm.call();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Class_Initialize"));
    }
}

void Setup::Form_Unload()
{
    App_Terminate();
    hs.reset();
    ReleaseHostCollections();
    m_settings.reset();
}

void Setup::App_Terminate()
{
    // The host form goes only at Exit: these are Exit's own saves.
    Shutdown::ExitSaves saves;
    ignoringErrors([this] { SaveDevices(); });
    ignoringErrors([] {
        if (hs)
            hs->FlushIniCache();
    });
    if (!gPluginCollection)
        gPluginCollection = std::make_shared<Collection>();
    for (const Variant &item : gPluginCollection->items()) {
        ignoringErrors([&] {
            ObjectPtr plugin = objectOf(item);
            const qint32 capabilities = plugin->get(QStringLiteral("Capabilities")).toLong();
            if (capabilities & 1)
                ignoringErrors([&] { plugin->call(QStringLiteral("ShutDownX10")); });
            if (capabilities & 2)
                ignoringErrors([&] { plugin->call(QStringLiteral("ShutDownIR")); });
        });
    }
    gVariableNames.reset();
    gX10CommandTable.reset();
}

void Setup::Startup()
{
    try {
        m_caption = QStringLiteral("Marrowind");
        gNoInterface = gInterfaceName.isEmpty();
        if (gNoInterface) {
            HostHooksInstance().showPluginSelection.call();
        } else {
            GetSelectedPlugins(Variant(gInterfaceName));
        }
    } catch (...) {
        PendingError::clear();
    }
}

void Setup::GetSelectedPlugins(const Variant &) {}

void Setup::aSetupButton_Click()
{
    HostHooksInstance().showPluginSelection.call();
}

ObjectPtr Setup::GetTSIface()
{
    gTSIfaceHandedOut = hs != nullptr;
    return hs;
}

void Setup::RegisterMenu(const QString &first, const QString &second)
{
    HostHooksInstance().acceptMenuCallbacks.call(first, second, first);
}

void Setup::RegisterMenuEx(const QString &first, const QString &second, const QString &third)
{
    HostHooksInstance().acceptMenuCallbacks.call(first, second, third);
}

qint16 Setup::GetNextFreeIOCode()
{
    const Collection &devices = DeviceCollection();
    for (const QString &c : gIOHouseChars) {
        if (unstorableHouseChar(c))
            continue;
        bool taken = false;
        for (const Variant &item : devices.items()) {
            auto device = item.isObject() ? std::dynamic_pointer_cast<DeviceClass>(item.rawObject()) : nullptr;
            if (device && device->hc() == c) {
                taken = true;
                break;
            }
        }
        if (!taken)
            return qint16(c.at(0).unicode());
    }
    return -1;
}

void Setup::X10Event(const QString &units, const QString &house, qint16 command, const Variant &a, const Variant &b)
{
    HostHooksInstance().sendXapX10Event.call(units, house, command, a, b);
}

void Setup::IREvent(qint16 code)
{
    if (code == 0 || gNoInterface)
        return;
    HostHooksInstance().xAPIR.call(code, 0, QStringLiteral("IR.Receive"));
}

void Setup::ValueChangeEvent(const QString &dc, qint32 value)
{
    if (!hs)
        throw VbError(VbErr::ObjectVariableNotSet);
    QString code = dc;
    int v = value;
    qint16 report = 3;
    if (gHostStarted) {
        hs->SetDeviceValueNoReport(code, v, report);
        HostHooksInstance().sendXapBSC.call(dc);
        return;
    }
    if (!gNoInterface) {
        for (const char *property : {"String", "Value"}) {
            SendXap(QString(), QStringLiteral("Tessera.Device"), QStringLiteral("Device.State"),
                    XapBody({{QStringLiteral("Device"), dc},
                             {QStringLiteral("Property"), QString::fromLatin1(property)},
                             {QStringLiteral("Value"), QString::number(value)}}),
                    QString(), QString());
        }
    }
    hs->SetDeviceValueNoReport(code, v, report);
}

void Setup::RegisterEventCB(qint32 evtype, const Variant &obj)
{
    const QString name = objectOf(obj)->get(QStringLiteral("name")).toString();
    SendXap(QString(), QStringLiteral("Tessera.Event"), QStringLiteral("Event.Log"),
            XapBody({{QStringLiteral("Time"), VbDate::formatGeneralDate(VbDate::oleNow())},
                     {QStringLiteral("Type"), QStringLiteral("callback from ") + name},
                     {QStringLiteral("Data"), QStringLiteral("Type=") + QString::number(evtype)}}),
            QString(), QString());
    int type = evtype;
    Variant object = obj;
    hs->RegisterEventCB(type, object);
}

void Setup::SendXapMessage(const QString &target, const QString &cls, const QString &section, const QString &body)
{
    SendXap(target, cls, section, body, QString(), QString());
}

void Setup::SuppressXAP(bool flag)
{
    gSuppressXAP = flag;
}

bool Setup::InitDevices()
{
    return DeviceStore::InitDevices();
}

void Setup::ReadIRDevices()
{
    DeviceStore::ReadIRDevices();
}

void Setup::SaveDevices()
{
    DeviceStore::SaveDevices();
}

void Setup::ReadDeviceState()
{
    DeviceStore::ReadDeviceState();
}

void Setup::SetupIRDictionary()
{
    DeviceStore::SetupIRDictionary();
}
