#include "bridge/ReceiveDispatcher.h"

#include "bridge/BridgeHooks.h"
#include "bridge/BscBridge.h"
#include "bridge/BscEndpoints.h"
#include "bridge/BscNaming.h"
#include "bridge/CommAndTimer.h"
#include "bridge/IrPlayQueue.h"
#include "bridge/HostAccess.h"
#include "bridge/PluginCalls.h"
#include "bridge/PointTables.h"
#include "bridge/ReceiveMessages.h"
#include "bridge/ReceivedNumber.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

#include "automation/Latin1Case.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"

#include <QSet>

namespace {

const QString kUnknown = QStringLiteral("Unknown");
constexpr int kMostX10Units = 16;

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
    // Every block is carried out in order, a repeat too: a block between may
    // have changed the point, and the write queue keeps only the latest value
    // per point, so a repeat costs no frame. Every block can name every
    // endpoint, so more distinct blocks than endpoints add nothing a peer
    // could want; the rest of the message is not read.
    const int most = int(BscEndpoints::instance().all().size());
    QSet<QString> seen;
    BscCommand command(msg.MsgTarget());
    const QString base = QStringLiteral("output.state");
    int n = msg.GetItem(base, QStringLiteral("ID")) == kUnknown ? 1 : 0;
    for (int distinct = 0;; ++n) {
        const QString block = n == 0 ? base : base + QLatin1Char('.') + QString::number(n);
        const QString id = msg.GetItem(block, QStringLiteral("ID"));
        if (id == kUnknown)
            return;
        const QString state = Latin1Case::upper(msg.GetItem(block, QStringLiteral("State")));
        QString level = msg.GetItem(block, QStringLiteral("Level"));
        if (level == kUnknown)
            level = msg.GetItem(block, QStringLiteral("Text"));
        if (level == kUnknown)
            level = state == QLatin1String("ON") ? QStringLiteral("1") : QStringLiteral("0");
        level = valText(level);
        const QString key = Latin1Case::upper(id) + QChar(0) + state + QChar(0) + level;
        if (!seen.contains(key)) {
            // Before the devices are read (while the program starts) there is nothing a
            // command could name; saying "more blocks than 0" would blame the sender.
            if (most == 0) {
                RefusalLog::Log(kProgramName, QStringLiteral("BSCCmd: no endpoints yet, the command ignored"),
                                QStringLiteral("bsc-cmd-no-endpoints"));
                return;
            }
            if (distinct == most) {
                RefusalLog::Log(kProgramName, QStringLiteral("BSCCmd: more blocks than the ") + QString::number(most)
                                                  + QStringLiteral(" endpoints, the rest ignored"),
                                QStringLiteral("bsc-cmd-blocks"));
                return;
            }
            seen.insert(key);
            ++distinct;
        }
        command.block(id, level);
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
    const QStringList given = units.contains(QLatin1Char('+')) ? units.split(QLatin1Char('+')) : QStringList{units};
    // Each unit costs a frame on the paced line: a house has 16, and a longer
    // list can only repeat them.
    if (given.size() > kMostX10Units) {
        RefusalLog::Log(kProgramName, QStringLiteral("xap-x10.request: a list of ") + QString::number(given.size())
                                          + QStringLiteral(" units refused (at most 16)"),
                        QStringLiteral("x10-long-list"));
        return;
    }
    QStringList unitList;
    QSet<int> taken;
    for (const QString &unit : given) {
        if (!isX10Unit(unit) || BscNaming::DefinedDevice(house + unit, tables).isEmpty())
            return;
        if (!taken.contains(unit.toInt())) {
            taken.insert(unit.toInt());
            unitList.append(unit);
        }
    }

    X10RequestQueue::Request request;
    request.house = house;
    request.units = unitList;
    request.word = Latin1Case::lower(msg.GetItem(section, QStringLiteral("Command")));
    request.code = x10Code(request.word);
    if (request.word == QLatin1String("dim") || request.word == QLatin1String("bright"))
        request.brightness = ReceivedCInt(msg.GetItem(section, QStringLiteral("Count")));
    // Sent, reported and its status set from the queue's timer, once the plug-in took it.
    CommAndTimer::instance().X10Requests.add(request);
}

IrPlayQueue::Step play(qint32 location, bool pauseBefore = false)
{
    IrPlayQueue::Step step;
    step.location = location;
    step.pauseBefore = pauseBefore;
    return step;
}

void irTransmit(const XapMessage &msg)
{
    const QString section = QStringLiteral("IR.Signal");
    QString key = Latin1Case::lower(msg.GetItem(section, QStringLiteral("Device")) + QLatin1Char(' ')
                                    + msg.GetItem(section, QStringLiteral("Signal")));
    key.replace(QLatin1Char(' '), QLatin1Char('-'));
    const PointTables &tables = Points();
    IrPlayQueue &plays = CommAndTimer::instance().IRPlays;
    if (const std::optional<QString> location = tables.LearnedIR(key)) {
        plays.add({play(ReceivedCLng(*location))});
        return;
    }
    std::vector<IrPlayQueue::Step> steps;
    QString macroKey = key;
    macroKey.replace(QLatin1Char('-'), QLatin1Char(' '));
    if (gIRMacroDictionary && gIRMacroDictionary->exists(Variant(macroKey))) {
        // Only numbers are locations: an empty or misspelt step plays nothing
        // (not location 0), and the pause falls only between codes played.
        for (const QString &step : VbString::Split(gIRMacroDictionary->item(Variant(macroKey)).toString(), QStringLiteral(","))) {
            if (VbString::IsNumeric(step))
                steps.push_back(play(ReceivedCLng(step), !steps.empty()));
        }
    }

    const QString location = msg.GetItem(section, QStringLiteral("Location"));
    const int zone = ReceivedCInt(msg.GetItem(section, QStringLiteral("Zone")));
    if (VbString::IsNumeric(location)) {
        const QVector<int> modules = tables.IRZoneModules();
        const int module = int(std::floor((zone - 1) / 16.0));
        if (module < modules.size() && zone > 0) {
            IrPlayQueue::Step remote;
            remote.kind = IrPlayQueue::Step::PlayRemote;
            remote.address = modules.at(module);
            remote.zone = (zone - 1) & 15;
            remote.location = ReceivedCInt(location);
            steps.push_back(remote);
        } else {
            steps.push_back(play(ReceivedCLng(location)));
        }
    }
    plays.add(steps);
}

void tesseraIR(const XapMessage &msg)
{
    const QString section = QStringLiteral("IR.Transmit");
    const QString location = msg.GetItem(section, QStringLiteral("Location"));
    // A location that is no number (or missing, or empty) plays nothing, and
    // the zone of such a message is not taken either.
    if (!VbString::IsNumeric(location))
        return;
    std::vector<IrPlayQueue::Step> steps;
    const QString zone = msg.GetItem(section, QStringLiteral("Zone"));
    if (zone != kUnknown) {
        IrPlayQueue::Step setZone;
        setZone.kind = IrPlayQueue::Step::Zone;
        setZone.zone = ReceivedCLng(zone);
        steps.push_back(setZone);
    }
    steps.push_back(play(ReceivedCLng(location)));
    // The zone is taken when the code plays, so a macro still playing keeps its own.
    CommAndTimer::instance().IRPlays.add(steps);
}

void echo(const XapMessage &msg)
{
    const QString query = msg.GetItem(QStringLiteral("Echo.Query"), QStringLiteral("Query"));
    if (query == kUnknown)
        return;
    // The reply's target is the asker's source: a control character there
    // would reach the header of what we send, and a wildcard would make the
    // reply reach every device it matches.
    for (const QChar c : msg.msgSource()) {
        if (c.unicode() < 32 || c == QLatin1Char('*') || c == QLatin1Char('>'))
            return;
    }
    SendXap(msg.msgSource(), QStringLiteral("WDT.Echo"), QStringLiteral("Echo.Response"),
            XapBody({{QStringLiteral("Response"), Latin1Case::lower(query)}}), QString(), QString());
}

void role(const XapMessage &msg)
{
    const QString r = Latin1Case::lower(msg.GetItem(QStringLiteral("Role.Query"), QStringLiteral("Role")));
    if (r != QLatin1String("any") && r != QLatin1String("application"))
        return;
    const QString port = Hooks().httpPort.available() ? Hooks().httpPort() : gHTTPPort;
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
        BridgeHooksInstance().checkReceivedMessage.call(msg);
        if (!msg->CompareTarget(ownSource()) && !msg->CompareTarget(kUnknown))
            return;
        for (const CatalogueEntry &entry : kCatalogue) {
            if (msg->CompareClass(QLatin1String(entry.cls))) {
                entry.handle(*msg);
                break;
            }
        }
    } catch (...) {
        // What a peer sent raised the error: a flood of it leaves one entry a minute.
        PendingError::capture();
        RefusalLog::Log(kProgramName, QStringLiteral("Readmessage"), QStringLiteral("readmessage-error"));
        // A repeat is only counted: its error must not reach the next entry logged.
        PendingError::clear();
    }
}

void StoreReceivedRecord(const QString &text)
{
    try {
        XapMessage msg;
        msg.Init(QString());
        msg.FromXap(text);
        CheckReceivedMessage(msg, false);
    } catch (...) {
        PendingError::clear();
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
