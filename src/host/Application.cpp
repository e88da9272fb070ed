#include "host/Application.h"

#include "host/Condition.h"
#include "host/DevFunc.h"
#include "host/FixedMembers.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IniCache.h"
#include "host/StateTables.h"
#include "host/TaggedMembers.h"
#include "host/Trap.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"

#include <QDir>

#include <algorithm>
#include <limits>

namespace {

// What scripts add to the lists and settings the program keeps for the rest of its life
// (and writes at exit): charged, so that no run after run can grow them past the budget.
MemoryBudget::Held &keptForScripts()
{
    static MemoryBudget::Held held;
    return held;
}

// A refusal is logged under `label` and the error goes back to the script, which may trap it.
template<class F>
void refusedToScript(const QString &label, F &&check)
{
    try {
        check();
    } catch (const VbError &e) {
        PendingError::set(e);
        LogTrapped(kProgramName, label);
        throw;
    }
}

// Charges `bytes` more kept for a script, or drops what it no longer keeps.
void keepForScript(qint64 bytes, const QString &label)
{
    if (bytes <= 0) {
        keptForScripts().drop(std::min(-bytes, keptForScripts().bytes()));
        return;
    }
    refusedToScript(label, [&] { keptForScripts().add(bytes); });
}

// The INI cache counts what it holds itself; a script's call that would take it past the
// budget is refused before anything is read or written, with the error back to the script.
template<class F>
void checkIniForScript(F &&cost, const QString &label)
{
    if (!MemoryBudget::scriptDriven())
        return;
    if (const qint64 bytes = cost(); bytes > 0)
        refusedToScript(label, [&] { MemoryBudget::checkBytes(bytes); });
}

// A count or position returned as an Integer: past its range it is 6 "Overflow", never a
// negative number a script would take for a position.
qint16 integerOf(int n)
{
    if (n > std::numeric_limits<qint16>::max() || n < std::numeric_limits<qint16>::min())
        throw VbError(VbErr::Overflow, VbError::standardDescription(VbErr::Overflow));
    return qint16(n);
}

DeviceClassPtr asDevice(const Variant &item)
{
    return item.isObject() ? std::dynamic_pointer_cast<DeviceClass>(item.rawObject()) : nullptr;
}

EventClassPtr asEvent(const Variant &item)
{
    return item.isObject() ? std::dynamic_pointer_cast<EventClass>(item.rawObject()) : nullptr;
}

// Position (1-based) of the first device that satisfies pred, -1 when none.
template<class P>
int findDevice(P pred, DeviceClassPtr *found = nullptr)
{
    int position = 0;
    for (const Variant &item : DeviceCollection().items()) {
        ++position;
        DeviceClassPtr device = asDevice(item);
        if (device && pred(*device)) {
            if (found)
                *found = device;
            return position;
        }
    }
    return -1;
}

// Change reports run callbacks and scripts, which may change devices again: two devices
// that set each other back and forth would recurse until the stack runs out.
constexpr int kMaxChangeReportDepth = 64;
int gChangeReportDepth = 0;

class ChangeReportNesting
{
public:
    ChangeReportNesting()
    {
        if (gChangeReportDepth >= kMaxChangeReportDepth)
            throw VbError(VbErr::OutOfStackSpace);
        ++gChangeReportDepth;
    }
    ~ChangeReportNesting() { --gChangeReportDepth; }
    ChangeReportNesting(const ChangeReportNesting &) = delete;
    ChangeReportNesting &operator=(const ChangeReportNesting &) = delete;
};

QString houseOf(const QString &dev)
{
    return dev.left(1);
}

QString unitOf(const QString &dev)
{
    return dev.mid(1);
}

} // namespace

void Application::describe(DispatchTable<Application> &t)
{
    t.name(QStringLiteral("Application"));
    // As late binding does: leaving out a parameter that is not Optional raises 449.
    t.argumentsRequired();
    describeFixedMembers(t);
    describeTaggedMembers(t);

    t.method("DeviceExists", &Application::DeviceExists);
    t.method("DeviceExistsByName", &Application::DeviceExistsByName);
    t.method("GetDevice", &Application::GetDevice);
    t.method("GetDeviceByRef", &Application::GetDeviceByRef);
    t.method("GetDeviceByCode", &Application::GetDeviceByCode);
    t.method("GetDeviceCode", &Application::GetDeviceCode);
    t.method("GetDeviceEx", &Application::GetDeviceEx);
    t.method("GetDeviceRef", &Application::GetDeviceRef);
    t.method("GetDeviceRefByName", &Application::GetDeviceRefByName);
    t.method("GetDeviceList", &Application::GetDeviceList);
    t.get("DeviceCount", &Application::DeviceCount);
    t.method("NewDevice", &Application::NewDevice);
    t.method("NewDeviceEx", &Application::NewDeviceEx);
    t.method("DeleteDevice", &Application::DeleteDevice);
    t.method("NewEvent", &Application::NewEvent);
    t.method("NewEventEx", &Application::NewEventEx);
    t.method("GetEvent", &Application::GetEvent);
    t.method("GetEventIndex", &Application::GetEventIndex);
    t.method("GetEventEx", &Application::GetEventEx);
    t.method("EventExists", &Application::EventExists);
    t.method("DeleteEvent", &Application::DeleteEvent);
    t.method("EnableEvent", &Application::EnableEvent);
    t.method("DisableEvent", &Application::DisableEvent);
    t.get("EventCount", &Application::EventCount);
    t.method("GetEventList", &Application::GetEventList);
    t.method("NewCondition", &Application::NewCondition);
    t.method("NewDevFunc", &Application::NewDevFunc);

    t.method("DeviceStatus", &Application::DeviceStatus);
    t.method("isOn", &Application::isOn);
    t.method("isOff", &Application::isOff);
    t.method("DeviceValue", &Application::DeviceValue);
    t.method("DeviceString", &Application::DeviceString);
    t.method("DeviceLastChange", &Application::DeviceLastChange);
    t.method("DeviceTime", &Application::DeviceTime);
    t.method("DeviceValueByName", &Application::DeviceValueByName);
    t.method("DeviceTimeByName", &Application::DeviceTimeByName);
    t.method("DeviceStringByName", &Application::DeviceStringByName);
    t.method("isOnByName", &Application::isOnByName);
    t.method("isOffByName", &Application::isOffByName);
    t.method("SetDeviceStatus", &Application::SetDeviceStatus);
    t.method("SetDeviceStatusNoReport", &Application::SetDeviceStatusNoReport);
    t.method("SetDeviceValue", &Application::SetDeviceValue);
    t.method("SetDeviceValueNoReport", &Application::SetDeviceValueNoReport);
    t.method("SetDeviceString", &Application::SetDeviceString, Optional{1});
    t.method("SetDeviceTime", &Application::SetDeviceTime);
    t.method("SetDeviceLastChange", &Application::SetDeviceLastChange);
    t.method("SetDeviceValueByName", &Application::SetDeviceValueByName);
    t.method("SetDeviceStringByName", &Application::SetDeviceStringByName, Optional{1});
    t.method("RegisterEventCB", &Application::RegisterEventCB);
    t.method("RegisterStatusChangeCB", &Application::RegisterStatusChangeCB);

    t.method("GetIniSetting", &Application::GetIniSetting, Optional{1});
    t.method("SaveIniSetting", &Application::SaveIniSetting, Optional{1});
    t.method("GetINISection", &Application::GetINISection, Optional{1});
    t.method("ClearINISection", &Application::ClearINISection, Optional{1});
    t.method("FlushIniCache", &Application::FlushIniCache);
    t.get("GetAppPath", &Application::GetAppPath);

    describeXapRequests(t);
    describeScripting(t);
    describeProcess(t);
    describeSun(t);
}

// ---- device and event store ----

DeviceClassPtr Application::deviceAt(int position) const
{
    const Collection &devices = DeviceCollection();
    if (position < 1 || position > devices.count())
        return nullptr;
    return asDevice(devices.items()[size_t(position - 1)]);
}

DeviceClassPtr Application::deviceByCode(const QString &code) const
{
    DeviceClassPtr found;
    const QString wanted = Latin1Case::lower(code);
    findDevice([&](const DeviceClass &d) { return Latin1Case::lower(d.code()) == wanted; }, &found);
    return found;
}

DeviceClassPtr Application::deviceByName(const QString &locationAndName, int *position) const
{
    DeviceClassPtr found;
    const QString wanted = Latin1Case::lower(locationAndName);
    const int at = findDevice(
        [&](const DeviceClass &d) { return Latin1Case::lower(d.location() + QLatin1Char(' ') + d.name()) == wanted; },
        &found);
    if (position)
        *position = at;
    return found;
}

qint16 Application::DeviceExists(QString &device)
{
    return trapped<qint16>(QStringLiteral("DeviceExists"), 0, [&] {
        const QString wanted = Latin1Case::lower(device);
        return qint16(findDevice([&](const DeviceClass &d) { return Latin1Case::lower(d.code()) == wanted; }));
    });
}

qint16 Application::DeviceExistsByName(QString &sname)
{
    return trapped<qint16>(QStringLiteral("DeviceExistsByName"), 0, [&] {
        const QString wanted = Latin1Case::lower(sname);
        return qint16(findDevice([&](const DeviceClass &d) { return VbString::Trim(Latin1Case::lower(d.scriptTag())) == wanted; }));
    });
}

DeviceClassPtr Application::GetDevice(qint16 &index)
{
    return trapped<DeviceClassPtr>(QStringLiteral("GetDevice"), nullptr, [&] { return deviceAt(index); });
}

DeviceClassPtr Application::GetDeviceByRef(int &ref)
{
    return trapped<DeviceClassPtr>(QStringLiteral("GetDeviceByRef"), nullptr, [&] {
        DeviceClassPtr found;
        findDevice([&](const DeviceClass &d) { return d.ref() == ref; }, &found);
        return found;
    });
}

DeviceClassPtr Application::GetDeviceByCode(QString &device)
{
    return trapped<DeviceClassPtr>(QStringLiteral("GetDeviceByCode"), nullptr, [&] { return deviceByCode(device); });
}

QString Application::GetDeviceCode(QString &name)
{
    return trapped<QString>(QStringLiteral("GetDeviceCode"), QString(), [&] {
        DeviceClassPtr d = deviceByName(name, nullptr);
        return d ? d->code() : QString();
    });
}

DeviceClassPtr Application::GetDeviceEx(QString &deviceName)
{
    return trapped<DeviceClassPtr>(QStringLiteral("GetDeviceEx"), nullptr,
                                   [&] { return deviceByName(deviceName, nullptr); });
}

int Application::GetDeviceRef(QString &sAddress)
{
    return trapped<int>(QStringLiteral("GetDeviceRef"), 0, [&] {
        DeviceClassPtr d = deviceByCode(sAddress);
        return d ? d->ref() : -1;
    });
}

int Application::GetDeviceRefByName(QString &deviceName)
{
    return trapped<int>(QStringLiteral("GetDeviceRefByName"), 0, [&] {
        DeviceClassPtr d = deviceByName(deviceName, nullptr);
        return d ? d->ref() : -1;
    });
}

CollectionPtr Application::GetDeviceList()
{
    return DeviceCollectionPtr();
}

qint16 Application::DeviceCount()
{
    return integerOf(DeviceCollection().count());
}

DeviceClassPtr Application::addDevice(const QString &name)
{
    qint32 &counter = ReferenceCounter();
    // An imported ref may already stand at the top of the Long range.
    if (counter == std::numeric_limits<qint32>::max())
        throw VbError(VbErr::Overflow, VbError::standardDescription(VbErr::Overflow));
    ++counter;
    auto device = std::make_shared<DeviceClass>();
    device->set(DeviceClass::F_ref, Variant::fromLong(counter));
    device->set(DeviceClass::F_name, Variant(name));
    device->set(DeviceClass::F_hc, Variant(QStringLiteral("A")));
    device->set(DeviceClass::F_DC, Variant(QStringLiteral("1")));
    DeviceCollection().add(Variant(ObjectPtr(device)));
    return device;
}

qint16 Application::NewDevice(QString &name)
{
    return trapped<qint16>(QStringLiteral("NewDevice"), 0, [&] {
        // Past the Integer's range the device is made, but its position cannot be told.
        addDevice(name);
        return integerOf(DeviceCollection().count());
    });
}

DeviceClassPtr Application::NewDeviceEx(QString &name)
{
    return trapped<DeviceClassPtr>(QStringLiteral("NewDeviceEx"), nullptr, [&] { return addDevice(name); });
}

bool Application::DeleteDevice(int &ref)
{
    trappedVoid(QStringLiteral("DeleteDevice"), [&] {
        DeviceClassPtr found;
        const int position = findDevice([&](const DeviceClass &d) { return d.ref() == ref; }, &found);
        if (position < 0)
            return;
        const QString code = Latin1Case::lower(found->code());
        DeviceCollection().remove(Variant(position));
        if (!gHostStarted) {
            SendXap(QString(), QStringLiteral("Tessera.Device"), QStringLiteral("Device.Action"),
                    XapBody({{QStringLiteral("Action"), QStringLiteral("Delete")}, {QStringLiteral("Device"), code}}),
                    QString(), QString());
        }
    });
    return false;
}

EventClassPtr Application::eventAt(int position) const
{
    const Collection &events = EventCollection();
    if (position < 1 || position > events.count())
        return nullptr;
    return asEvent(events.items()[size_t(position - 1)]);
}

int Application::eventIndex(const QString &eventName) const
{
    const QString wanted = Latin1Case::lower(eventName);
    int position = 0;
    for (const Variant &item : EventCollection().items()) {
        ++position;
        EventClassPtr event = asEvent(item);
        if (event && event->field(EventClass::F_name).toText() == wanted)
            return position;
    }
    return -1;
}

qint16 Application::NewEvent(QString &name)
{
    return trapped<qint16>(QStringLiteral("NewEvent"), 0, [&] {
        addEvent(name);
        return integerOf(EventCollection().count());
    });
}

EventClassPtr Application::NewEventEx(QString &name)
{
    return trapped<EventClassPtr>(QStringLiteral("NewEventEx"), nullptr, [&] { return addEvent(name); });
}

EventClassPtr Application::addEvent(const QString &name)
{
    auto event = std::make_shared<EventClass>();
    event->storeField(EventClass::F_name, Variant(name));
    EventCollection().add(Variant(ObjectPtr(event)));
    return event;
}

EventClassPtr Application::GetEvent(qint16 &index)
{
    return trapped<EventClassPtr>(QStringLiteral("GetEvent"), nullptr, [&] { return eventAt(index); });
}

qint16 Application::GetEventIndex(QString &eventName)
{
    return trapped<qint16>(QStringLiteral("GetEventIndex"), 0, [&] { return integerOf(eventIndex(eventName)); });
}

EventClassPtr Application::GetEventEx(QString &eventName)
{
    return trapped<EventClassPtr>(QStringLiteral("GetEventEx"), nullptr,
                                  [&] { return eventAt(eventIndex(eventName)); });
}

bool Application::EventExists(QString &eventName)
{
    return GetEventEx(eventName) != nullptr;
}

void Application::DeleteEvent(QString &evname)
{
    trappedVoid(QStringLiteral("DeleteEvent"), [&] {
        const int position = eventIndex(evname);
        if (position >= 1 && position <= EventCollection().count())
            EventCollection().remove(Variant(position));
    });
}

void Application::EnableEvent(QString &evname)
{
    if (EventClassPtr event = GetEventEx(evname))
        event->storeField(EventClass::F_Enabled, Variant(true));
}

void Application::DisableEvent(QString &evname)
{
    if (EventClassPtr event = GetEventEx(evname))
        event->storeField(EventClass::F_Enabled, Variant(false));
}

qint16 Application::EventCount()
{
    return integerOf(EventCollection().count());
}

CollectionPtr Application::GetEventList()
{
    return EventCollectionPtr();
}

ObjectPtr Application::NewCondition()
{
    return std::make_shared<condition>();
}

ObjectPtr Application::NewDevFunc()
{
    return std::make_shared<devFunc>();
}

// ---- device state ----

qint16 Application::DeviceStatus(QString &dev)
{
    return trapped<qint16>(QStringLiteral(" DeviceStatus"), 0,
                           [&] { return States().status(States().slot(dev)); });
}

bool Application::isOn(QString &device)
{
    return trapped<bool>(QStringLiteral("isOn"), false, [&] { return States().status(States().slot(device)) == 2; });
}

bool Application::isOff(QString &device)
{
    return trapped<bool>(QStringLiteral("isOff"), false, [&] { return States().status(States().slot(device)) == 3; });
}

int Application::DeviceValue(QString &dev)
{
    return trapped<int>(QStringLiteral("DeviceValue"), 0, [&] {
        if (dev.size() < 2 || dev.size() > 3)
            return 0;
        return States().value(States().slot(dev));
    });
}

QString Application::DeviceString(QString &dev)
{
    return trapped<QString>(QStringLiteral("DeviceString"), QString(),
                            [&] { return States().string(States().slot(dev)); });
}

Variant Application::DeviceLastChange(QString &dev)
{
    return trapped<Variant>(QStringLiteral("DeviceLastChange"), Variant::fromDate(0),
                            [&] { return Variant::fromDate(States().lastChange(States().slot(dev))); });
}

int Application::DeviceTime(QString &dev)
{
    return trapped<int>(QStringLiteral("DeviceTime"), 0, [&] { return States().time(States().slot(dev)); });
}

int Application::DeviceValueByName(QString &name)
{
    QString code = GetDeviceCode(name);
    return code.isEmpty() ? 0 : DeviceValue(code);
}

int Application::DeviceTimeByName(QString &name)
{
    QString code = GetDeviceCode(name);
    return code.isEmpty() ? 0 : DeviceTime(code);
}

QString Application::DeviceStringByName(QString &name)
{
    QString code = GetDeviceCode(name);
    return code.isEmpty() ? QStringLiteral("DeviceStringByName") : DeviceString(code);
}

bool Application::isOnByName(QString &deviceName)
{
    QString code = GetDeviceCode(deviceName);
    return !code.isEmpty() && isOn(code);
}

bool Application::isOffByName(QString &deviceName)
{
    QString code = GetDeviceCode(deviceName);
    return !code.isEmpty() && isOff(code);
}

void Application::fireCallbacks(int slot, const QStringList &texts)
{
    const ChangeReportNesting nesting;
    // A callback may register further callbacks: walk what was there at the start.
    const std::vector<Variant> callbacks = EventCallbacks(slot).items();
    for (const Variant &callback : callbacks) {
        try {
            if (ObjectPtr object = callback.toObject()) {
                std::vector<Variant> args{Variant(texts)};
                object->invoke(QStringLiteral("TSEvent"), CallKind::Method, args);
            }
        } catch (...) {
        }
    }
    PendingError::clear();
}

void Application::runStatusScripts(const QString &dev, qint16 status)
{
    const ChangeReportNesting nesting;
    const QStringList scripts = StatusChangeScripts();
    for (const QString &entry : scripts) {
        const qsizetype split = entry.indexOf(QChar(0));
        DeviceClassPtr device = deviceByCode(dev);
        if (!device)
            continue;
        const QStringList parameter{houseOf(dev), unitOf(dev), QString::number(status), QString::number(device->ref())};
        HostHooksInstance().runEx.call(entry.left(split), entry.mid(split + 1), Variant(parameter));
    }
}

void Application::SendXapIfEnabled(const QString &cls, const QString &section, const QString &body)
{
    if (!gSuppressXAP && gMainFormReady)
        SendXap(QString(), cls, section, body, QString(), QString());
}

void Application::hsSetIO(const QString &dev, int value)
{
    if (!gMainFormReady || gHostStarted)
        return;
    SendXapIfEnabled(QStringLiteral("Tessera.IO"), QStringLiteral("Setio.Transmit"),
                     XapBody({{QStringLiteral("Device"), houseOf(dev) + unitOf(dev)},
                              {QStringLiteral("Value"), QString::number(value)},
                              {QStringLiteral("Command"), QStringLiteral("19")},
                              {QStringLiteral("Data1"), QStringLiteral("0")},
                              {QStringLiteral("Data2"), QStringLiteral("0")}}));
}

void Application::reportState(const QString &dev, const QString &property, const QString &value)
{
    SendXapIfEnabled(QStringLiteral("Tessera.Device"), QStringLiteral("Device.State"),
                     XapBody({{QStringLiteral("Device"), dev},
                              {QStringLiteral("Property"), property},
                              {QStringLiteral("Value"), value}}));
}

void Application::storeStatus(const QString &dev, qint16 status, bool callbacks, bool report, bool noReportVariant)
{
    const StateTables::Slot slot = States().slot(dev);
    if (States().status(slot) == status)
        return;
    if (!gLoading) {
        runStatusScripts(dev, status);
        if (callbacks)
            fireCallbacks(2, {QStringLiteral("4"), unitOf(dev), houseOf(dev), QString::number(status)});
    }
    States().status(slot) = status;
    if (!report || gHostStarted)
        return;
    const QString body = XapBody({{QStringLiteral("Device"), dev}, {QStringLiteral("Value"), QString::number(status)}});
    if (noReportVariant) {
        if (gNoInterface)
            SendXapIfEnabled(QStringLiteral("Tessera.Event"), QStringLiteral("Event.Status"), body);
    } else if (gMainFormReady) {
        if (gNoInterface)
            SendXapIfEnabled(QStringLiteral("Tessera.Event"), QStringLiteral("Event.Status"), body);
        else
            reportState(dev, QStringLiteral("Status"), QString::number(status));
    }
}

void Application::SetDeviceStatus(QString &dev, qint16 &Status)
{
    trappedVoid(QStringLiteral("SetDeviceStatus"), [&] { storeStatus(dev, Status, true, true, false); });
}

void Application::SetDeviceStatusNoReport(QString &dev, qint16 &Status, qint16 &iReport)
{
    trappedVoid(QStringLiteral("SetDeviceStatusNoReport"),
                [&] { storeStatus(dev, Status, (iReport & 2) == 0, (iReport & 1) == 0, true); });
}

void Application::SetDeviceValue(QString &dev, int &Value)
{
    trappedVoid(QStringLiteral("SetDeviceValue"), [&] {
        hsSetIO(dev, Value);
        const StateTables::Slot slot = States().slot(dev);
        if (States().value(slot) == Value)
            return;
        if (!gLoading)
            fireCallbacks(2, {QStringLiteral("4"), unitOf(dev), houseOf(dev), QString::number(Value)});
        States().value(slot) = Value;
        if (!gHostStarted)
            reportState(dev, QStringLiteral("Value"), QString::number(Value));
    });
}

void Application::SetDeviceValueNoReport(QString &dev, int &Value, qint16 &iReport)
{
    trappedVoid(QStringLiteral("SetDeviceValueNoReport"), [&] {
        if ((iReport & 1) == 0)
            hsSetIO(dev, Value);
        States().value(States().slot(dev)) = Value;
    });
}

void Application::SetDeviceString(QString &dev, QString &str, Variant &)
{
    if (MemoryBudget::scriptDriven()) {
        qint64 old = -1;
        try {
            old = States().string(States().slot(dev)).size();
        } catch (...) {
            PendingError::clear(); // logged below, where the device is used
        }
        if (old >= 0)
            keepForScript(2 * (qint64(str.size()) - old), QStringLiteral("SetDeviceString"));
    }
    trappedVoid(QStringLiteral("SetDeviceString"), [&] {
        const StateTables::Slot slot = States().slot(dev);
        if (States().string(slot) == str)
            return;
        if (!gLoading)
            fireCallbacks(6, {QStringLiteral("64"), dev, str});
        States().string(slot) = str;
        if (!gMainFormReady || gHostStarted)
            return;
        if (gNoInterface)
            SendXapIfEnabled(QStringLiteral("Tessera.Event"), QStringLiteral("Event.String"),
                             XapBody({{QStringLiteral("Device"), dev}, {QStringLiteral("Text"), str}}));
        else
            reportState(dev, QStringLiteral("String"), str);
    });
}

void Application::SetDeviceTime(QString &dev, int &Value)
{
    trappedVoid(QStringLiteral("SetDeviceTime"), [&] {
        States().time(States().slot(dev)) = Value;
        if (!gNoInterface && gMainFormReady && !gHostStarted)
            reportState(dev, QStringLiteral("Time"), QString::number(Value));
    });
}

void Application::SetDeviceLastChange(QString &dev, Variant &change_time)
{
    trappedVoid(QStringLiteral("SetDeviceLastChange"), [&] {
        const double date = change_time.toDate();
        States().lastChange(States().slot(dev)) = date;
    });
}

void Application::SetDeviceValueByName(QString &devName, int &Value)
{
    QString code = GetDeviceCode(devName);
    if (!code.isEmpty())
        SetDeviceValue(code, Value);
}

void Application::SetDeviceStringByName(QString &devName, QString &str, Variant &Reset)
{
    QString code = GetDeviceCode(devName);
    if (!code.isEmpty())
        SetDeviceString(code, str, Reset);
}

void Application::RegisterEventCB(int &evtype, Variant &obj)
{
    trappedVoid(QStringLiteral("RegisterEventCB"), [&] {
        for (int i = 0; i <= 6; ++i) {
            if (evtype & (1 << i))
                EventCallbacks(i).add(obj);
        }
    });
}

Variant Application::RegisterStatusChangeCB(QString &Script, QString &func)
{
    if (!gLoading) {
        if (MemoryBudget::scriptDriven())
            keepForScript(2 * qint64(Script.size() + func.size()) + 64, QStringLiteral("RegisterStatusChangeCB"));
        StatusChangeScripts().append(Script + QChar(0) + func);
    }
    return Variant();
}

// ---- INI service ----

QString Application::GetIniSetting(QString &group, QString &Key, QString &defaultValue, QString &sFile)
{
    checkIniForScript([&] { return HostIniCache().loadCost(sFile, false); }, QStringLiteral("GetIniSetting "));
    return trapped<QString>(QStringLiteral("GetIniSetting "), QString(),
                            [&] { return HostIniCache().read(sFile, group, Key, defaultValue); });
}

void Application::SaveIniSetting(QString &group, QString &Key, QString &Value, QString &sFile)
{
    checkIniForScript([&] { return HostIniCache().writeCost(sFile, group, Key, Value); }, QStringLiteral("SaveIniSetting "));
    trappedVoid(QStringLiteral("SaveIniSetting "), [&] { HostIniCache().write(sFile, group, Key, Value); });
}

QString Application::GetINISection(QString &group, QString &sFile)
{
    checkIniForScript([&] { return HostIniCache().loadCost(sFile, false); }, QStringLiteral("GetINISection "));
    return trapped<QString>(QStringLiteral("GetINISection "), QString(),
                            [&] {
                                MemoryBudget::checkString(HostIniCache().sectionChars(sFile, group));
                                return HostIniCache().section(sFile, group);
                            });
}

void Application::ClearINISection(QString &group, QString &sFile)
{
    checkIniForScript([&] { return HostIniCache().loadCost(sFile, false); }, QStringLiteral("ClearINISection "));
    trappedVoid(QStringLiteral("ClearINISection "), [&] { HostIniCache().clearSection(sFile, group); });
}

void Application::FlushIniCache()
{
    HostIniCache().flush();
}

QString Application::GetAppPath()
{
    QString path = QDir::toNativeSeparators(gAppPath);
    while (path.size() > 1 && path.endsWith(QDir::separator()))
        path.chop(1);
    return path;
}
