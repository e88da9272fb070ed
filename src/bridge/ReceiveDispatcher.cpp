#include "bridge/ReceiveDispatcher.h"

#include "bridge/BridgeHooks.h"
#include "bridge/BscBridge.h"
#include "bridge/BscNaming.h"
#include "bridge/HostAccess.h"
#include "bridge/PluginCalls.h"
#include "bridge/PointTables.h"
#include "bridge/ReceivedNumber.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/CWaitNDispatch.h"
#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

#include "automation/Latin1Case.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"

namespace {

const QString kUnknown = QStringLiteral("Unknown");
constexpr int kMacroPauseMs = 100;

QString ownSource()
{
    return gXap ? gXap->XapSource() : QStringLiteral("tvk.Korvane.") + LocalComputerName();
}

QString valText(const QString &text)
{
    return VbString::formatDouble(ReceivedNumber(text));
}

int x10Code(const QString &word)
{
    static const QHash<QString, int> codes = {
        {QStringLiteral("all_units_off"), 0}, {QStringLiteral("all_lights_on"), 1},
        {QStringLiteral("on"), 2},            {QStringLiteral("off"), 3},
        {QStringLiteral("dim"), 4},           {QStringLiteral("bright"), 5},
        {QStringLiteral("all_lights_off"), 6}, {QStringLiteral("status_request"), 15},
    };
    return codes.value(word, 8);
}

void bscCommand(const XapMessage &msg)
{
    if (!msg.CompareTarget(ownSource()))
        return;
    // Every block can name every endpoint, so more blocks than endpoints add
    // nothing a peer could want; the rest of the message is not read.
    const int most = BscEndpointCount();
    const QString base = QStringLiteral("output.state");
    int n = msg.GetItem(base, QStringLiteral("ID")) == kUnknown ? 1 : 0;
    for (int handled = 0;; ++n, ++handled) {
        const QString block = n == 0 ? base : base + QLatin1Char('.') + QString::number(n);
        const QString id = msg.GetItem(block, QStringLiteral("ID"));
        if (id == kUnknown)
            return;
        if (handled == most) {
            LogError(kProgramName, QStringLiteral("BSCCmd: more blocks than the ") + QString::number(most)
                                       + QStringLiteral(" endpoints, the rest ignored"));
            return;
        }
        const QString state = Latin1Case::upper(msg.GetItem(block, QStringLiteral("State")));
        QString level = msg.GetItem(block, QStringLiteral("Level"));
        if (level == kUnknown)
            level = msg.GetItem(block, QStringLiteral("Text"));
        if (level == kUnknown)
            level = state == QLatin1String("ON") ? QStringLiteral("1") : QStringLiteral("0");
        BSCCmd(msg.MsgTarget(), id, state, valText(level));
    }
}

// A unit of an X10 request: one or two decimal digits, 1 to 16.
bool isX10Unit(const QString &unit)
{
    if (unit.isEmpty() || unit.size() > 2)
        return false;
    for (const QChar c : unit) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int n = unit.toInt();
    return n >= 1 && n <= 16;
}

void x10Request(const XapMessage &msg)
{
    const QString section = QStringLiteral("xap-x10.request");
    const QString devices = Latin1Case::upper(msg.GetItem(section, QStringLiteral("Device")));
    const QString house = devices.left(1);
    // Only the house letters name X10 units: any other house is a variable or
    // an I/O point, which this request must not switch.
    if (house.isEmpty() || house.at(0) < QLatin1Char('A') || house.at(0) > QLatin1Char('P'))
        return;
    QString units = devices.mid(1).replace(QLatin1Char(','), QLatin1Char('+'));
    units.remove(house);

    const PointTables &tables = Points();
    const QStringList unitList = units.contains(QLatin1Char('+')) ? units.split(QLatin1Char('+')) : QStringList{units};
    for (const QString &unit : unitList) {
        if (!isX10Unit(unit) || BscNaming::DefinedDevice(house + unit, tables).isEmpty())
            return;
    }

    const QString word = Latin1Case::lower(msg.GetItem(section, QStringLiteral("Command")));
    const int code = x10Code(word);
    QString count = QStringLiteral("0");
    if (word == QLatin1String("dim") || word == QLatin1String("bright"))
        count = msg.GetItem(section, QStringLiteral("Count"));

    const QString deviceCode = house + units;
    PluginCalls::Exec(HostAccess::DeviceOfCode(deviceCode), house, units, code, ReceivedCInt(count));
    SendXap(QString(), QStringLiteral("xAP-X10.event"), QStringLiteral("xAP-X10.event"),
            XapBody({{QStringLiteral("Device"), deviceCode}, {QStringLiteral("Event"), word}}), QString(), QString());

    // Every unit of the request takes the new status, not only the first.
    for (const QString &unit : unitList)
        HostAccess::UpdateStatus(house + unit, code);
}

void irTransmit(const XapMessage &msg)
{
    const QString section = QStringLiteral("IR.Signal");
    QString key = Latin1Case::lower(msg.GetItem(section, QStringLiteral("Device")) + QLatin1Char(' ')
                                    + msg.GetItem(section, QStringLiteral("Signal")));
    key.replace(QLatin1Char(' '), QLatin1Char('-'));
    const PointTables &tables = Points();
    if (const std::optional<QString> location = tables.LearnedIR(key)) {
        PluginCalls::PlayIR(ReceivedCLng(*location));
        return;
    }
    QString macroKey = key;
    macroKey.replace(QLatin1Char('-'), QLatin1Char(' '));
    if (gIRMacroDictionary && gIRMacroDictionary->exists(Variant(macroKey))) {
        // Only numbers are locations: an empty or misspelt step plays nothing
        // (not location 0), and the pause falls only between codes played.
        QStringList steps;
        for (const QString &step : VbString::Split(gIRMacroDictionary->item(Variant(macroKey)).toString(), QStringLiteral(","))) {
            if (VbString::IsNumeric(step))
                steps.append(step);
        }
        CWaitNDispatch pause;
        for (int i = 0; i < steps.size(); ++i) {
            if (i > 0)
                pause.Wait(kMacroPauseMs);
            PluginCalls::PlayIR(ReceivedCLng(steps.at(i)));
        }
    }

    const QString location = msg.GetItem(section, QStringLiteral("Location"));
    const int zone = ReceivedCInt(msg.GetItem(section, QStringLiteral("Zone")));
    if (!VbString::IsNumeric(location))
        return;
    const QVector<int> modules = tables.IRZoneModules();
    const int module = int(std::floor((zone - 1) / 16.0));
    if (module < modules.size() && zone > 0) {
        PluginCalls::PlayRemoteIR(modules.at(module), (zone - 1) & 15,
                                  ReceivedCInt(location));
    } else {
        PluginCalls::PlayIR(ReceivedCLng(location));
    }
}

void tesseraIR(const XapMessage &msg)
{
    const QString section = QStringLiteral("IR.Transmit");
    const QString location = msg.GetItem(section, QStringLiteral("Location"));
    // A location that is no number (or missing, or empty) plays nothing, and
    // the zone of such a message is not taken either.
    if (!VbString::IsNumeric(location))
        return;
    const QString zone = msg.GetItem(section, QStringLiteral("Zone"));
    if (zone != kUnknown)
        PluginCalls::SetZone(ReceivedCLng(zone));
    PluginCalls::PlayIR(ReceivedCLng(location));
}

void echo(const XapMessage &msg)
{
    const QString query = msg.GetItem(QStringLiteral("Echo.Query"), QStringLiteral("Query"));
    if (query == kUnknown)
        return;
    SendXap(msg.msgSource(), QStringLiteral("WDT.Echo"), QStringLiteral("Echo.Response"),
            XapBody({{QStringLiteral("Response"), Latin1Case::lower(query)}}), QString(), QString());
}

void role(const XapMessage &msg)
{
    const QString r = Latin1Case::lower(msg.GetItem(QStringLiteral("Role.Query"), QStringLiteral("Role")));
    if (r != QLatin1String("any") && r != QLatin1String("application"))
        return;
    const QString port = Hooks().httpPort ? Hooks().httpPort() : gHTTPPort;
    SendXap(QString(), QStringLiteral("Tessera.Role"), QStringLiteral("Role.Notification"),
            XapBody({{QStringLiteral("Role"), QStringLiteral("Application")},
                     {QStringLiteral("Path"), gExePath},
                     {QStringLiteral("Server"), gComputerName.isEmpty() ? LocalComputerName() : gComputerName},
                     {QStringLiteral("Port"), port},
                     {QStringLiteral("Form"), QStringLiteral("SetupForm")}}),
            QString(), QString());
}

void timeToday(const XapMessage &msg)
{
    gSunriseText = msg.GetItem(QStringLiteral("Time.Today"), QStringLiteral("Sunrise"));
    gSunsetText = msg.GetItem(QStringLiteral("Time.Today"), QStringLiteral("Sunset"));
}

void bscQuery(const XapMessage &msg)
{
    BSCQuery(msg.MsgTarget(), msg.msgSource());
}

// The classes carried out, in the order they are tested.
struct CatalogueEntry
{
    const char *cls;
    void (*handle)(const XapMessage &);
};
const CatalogueEntry kCatalogue[] = {
    {"xAPBSC.query", bscQuery}, {"xAPBSC.cmd", bscCommand}, {"xap-x10.request", x10Request},
    {"IR.Transmit", irTransmit}, {"Tessera.IR", tesseraIR},  {"WDT.Echo", echo},
    {"Tessera.Role", role},      {"Time.Today", timeToday},
};

} // namespace

void Readmessage(const QString &text)
{
    try {
        auto msg = std::make_shared<XapMessage>();
        msg->Init(QString());
        msg->FromXap(text);
        if (BridgeHooksInstance().checkReceivedMessage)
            BridgeHooksInstance().checkReceivedMessage(msg);
        if (!msg->CompareTarget(ownSource()) && !msg->CompareTarget(kUnknown))
            return;
        for (const CatalogueEntry &entry : kCatalogue) {
            if (msg->CompareClass(QLatin1String(entry.cls))) {
                entry.handle(*msg);
                break;
            }
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Readmessage"));
    }
}

QString AcceptMenuCallbacks(const QString &first, const QString &second, const QString &third)
{
    try {
        const QString key = first + QLatin1Char('~') + second;
        if (!gRegisteredMenus)
            gRegisteredMenus = std::make_shared<Dictionary>(Dictionary::BinaryCompare);
        if (!gRegisteredMenus->exists(Variant(key)))
            gRegisteredMenus->add(Variant(key), Variant(third));
        if (gDebugMode == 1)
            LogError(kProgramName + QStringLiteral(" Debug"), QStringLiteral("Accepting Callback ") + key);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("AcceptMenuCallbacks"));
    }
    return QString();
}

QString SunriseText()
{
    return gSunriseText;
}

QString SunsetText()
{
    return gSunsetText;
}

void ResetReceiveState()
{
    gSunriseText.clear();
    gSunsetText.clear();
}
