#include "host/TaggedMembers.h"

#include "host/Application.h"
#include "host/GlobalVar.h"
#include "host/HostGlobals.h"
#include "host/IR.h"
#include "host/RemoteClient.h"
#include "host/Trap.h"

#include "ClassInstance.h"

#include "automation/Collection.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"

#include <cmath>

ObjectPtr gCurrentScriptRecord;

namespace {

using Args = std::vector<Variant>;
using Body = std::function<Variant(Application &, Args &)>;

// A method of `count` arguments (missing ones arrive Empty) whose body
// handles the call itself.
void member(DispatchTable<Application> &t, const char *name, size_t count, Body body)
{
    t.raw(QString::fromLatin1(name), [count, body](Application &app, CallKind kind, Args &args) -> Variant {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet)
            throw VbError(VbErr::NotSupported);
        if (args.size() > count)
            throw VbError(VbErr::WrongArgumentCount);
        Args padded = args;
        padded.resize(count);
        Variant result = body(app, padded);
        std::copy(padded.begin(), padded.begin() + qsizetype(args.size()), args.begin());
        return result;
    });
}

// Runs a step whose failure is ignored, as the members that run with errors
// ignored do: the error state is cleared and the fallback given.
template<class F>
Variant ignoring(Variant fallback, F &&step)
{
    try {
        return step();
    } catch (const VbError &e) {
        // The budget's refusal is the script's to see: ignored, it would pass for success.
        if (e.number == VbErr::OutOfMemory || e.number == VbErr::OutOfStringSpace)
            throw;
        PendingError::clear();
        return fallback;
    } catch (...) {
        PendingError::clear();
        return fallback;
    }
}

// The record of a tag, null when the dictionary has none.
ObjectPtr recordOf(const QString &tag)
{
    if (!gDeviceDictionary || !gDeviceDictionary->exists(Variant(tag)))
        return nullptr;
    const ObjectPtr record = gDeviceDictionary->item(Variant(tag)).toObject();
    if (!record)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return record;
}

// "value" and "lastchange" of a host device, as texts.
Variant deviceItems(Application &app, const QString &code)
{
    QString dev = code;
    const int value = app.DeviceValue(dev);
    const Variant when = app.DeviceLastChange(dev);
    auto items = std::make_shared<Collection>();
    items->add(Variant(QString::number(value)), QStringLiteral("value"));
    items->add(Variant(VbDate::formatGeneralDate(when.toDate())), QStringLiteral("lastchange"));
    return Variant(ObjectPtr(items));
}

// The code of the host device that carries `tag` as its script tag; empty when none.
QString codeOfScriptTag(Application &app, const QString &tag, bool upperHouse)
{
    QString name = tag;
    qint16 position = app.DeviceExistsByName(name);
    if (position < 1)
        return QString();
    const DeviceClassPtr device = app.GetDevice(position);
    if (!device)
        return QString();
    return (upperHouse ? device->hc().toUpper() : device->hc()) + device->DC();
}

double numericValue(const Variant &v)
{
    if (v.isString())
        return VbString::Val(v.rawString());
    if (v.isEmpty())
        return 0;
    return v.toDouble();
}

// ---- tagged records ----

Variant Request(Application &app, Args &a)
{
    return ignoring(Variant::nothing(), [&]() -> Variant {
        const QString tag = a[0].toString();
        if (tag.toLower() == QLatin1String("lastevent"))
            return Variant(gCurrentScriptRecord);
        if (const ObjectPtr record = recordOf(tag)) {
            const QString dc = record->get(QStringLiteral("DC")).toString();
            if (!dc.isEmpty())
                return deviceItems(app, dc);
            const Variant list = record->get(QStringLiteral("MessageList"));
            const ObjectPtr items = list.toObject();
            if (!items || items->get(QStringLiteral("Count")).toLong() == 0)
                return Variant::nothing();
            return list;
        }
        const QString code = codeOfScriptTag(app, tag, false);
        return code.isEmpty() ? Variant::nothing() : deviceItems(app, code);
    });
}

Variant TagList(Application &, Args &a)
{
    return ignoring(Variant::nothing(), [&]() -> Variant {
        const ObjectPtr record = recordOf(a[0].toString());
        return record ? record->get(QStringLiteral("MessageKeyList")) : Variant::nothing();
    });
}

Variant LastChange(Application &app, Args &a)
{
    return ignoring(Variant::fromDate(VbDate::oleNow()), [&]() -> Variant {
        const ObjectPtr record = recordOf(a[0].toString());
        if (!record)
            return Variant::fromDate(VbDate::oleNow());
        QString dc = record->get(QStringLiteral("DC")).toString();
        if (dc.isEmpty())
            return Variant::fromDate(record->get(QStringLiteral("LastChange")).toDate());
        return app.DeviceLastChange(dc);
    });
}

Variant Sequence(Application &, Args &a)
{
    return ignoring(Variant::fromLong(-1), [&]() -> Variant {
        const ObjectPtr record = recordOf(a[0].toString());
        if (!record)
            return Variant::fromLong(-1);
        if (record->get(QStringLiteral("DC")).toString().isEmpty())
            return Variant::fromLong(record->get(QStringLiteral("Sequence")).toLong());
        const ObjectPtr link = record->get(QStringLiteral("Link")).toObject();
        if (!link)
            throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
        return Variant::fromLong(link->get(QStringLiteral("Sequence")).toLong());
    });
}

void callPlugin(const QString &memberName, Args args)
{
    if (!gPluginInstance)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    const ObjectPtr plugin = gPluginInstance; // a restart may replace it while the call pumps events
    plugin->invoke(memberName, CallKind::Method, args);
}

Variant Response(Application &app, Args &a)
{
    const QString tag = a[0].toText();
    const QString valueText = a[1].toText();
    try {
        if (const ObjectPtr record = recordOf(tag)) {
            const QString dc = record->get(QStringLiteral("DC")).toString();
            if (dc.isEmpty()) {
                LogTrapped(kProgramName,
                           QStringLiteral("Tag ") + tag
                               + QStringLiteral(" is a receive message tag and cannot control internal points"),
                           QStringLiteral("Response: a receive message tag"));
                return Variant();
            }
            if (dc.startsWith(QLatin1Char('R'))) {
                const qint32 slot = Variant(VbString::Val(dc.mid(1))).toLong();
                callPlugin(QStringLiteral("PlayIR"), {Variant::fromLong(slot)});
                if (gIRSlots) {
                    const ObjectPtr ir = gIRSlots->item(Variant::fromLong(slot + 1)).toObject();
                    if (ir)
                        ir->let(QStringLiteral("LastChange"), Variant::fromDate(VbDate::oleNow()));
                }
                return Variant();
            }
            QString code = dc;
            int value = Variant(numericValue(a[1])).toLong();
            app.SetDeviceValue(code, value);
            return Variant();
        }
        const QString code = codeOfScriptTag(app, tag, true);
        if (code.isEmpty()) {
            LogTrapped(kProgramName, QStringLiteral("Tag ") + tag + QStringLiteral(" not recognized in Response"),
                       QStringLiteral("Response: a tag not recognized"));
            return Variant();
        }
        const Variant house(code.left(1));
        const Variant unit(code.mid(1));
        const Variant level(numericValue(a[1]));
        const Variant zero = Variant::fromInteger(0);
        if (code >= QLatin1String("A") && code < QLatin1String("Q")) {
            const qint16 command = valueText.toLower() == QLatin1String("on") ? 2 : 3;
            callPlugin(QStringLiteral("Exec"),
                       {Variant::nothing(), house, unit, Variant::fromInteger(command), level, zero, zero});
        } else {
            callPlugin(QStringLiteral("SetIO"),
                       {Variant::nothing(), house, unit, Variant::fromInteger(19), level, zero, zero});
        }
    } catch (...) {
        PendingError::clear();
        LogTrapped(kProgramName, QStringLiteral("Response ") + tag + QLatin1Char('=') + valueText,
                   QStringLiteral("Response"));
    }
    return Variant();
}

// ---- global variables ----

Collection &globals()
{
    static const CollectionPtr variables = std::make_shared<Collection>();
    return *variables;
}

GlobalVarPtr globalVar(const QString &name)
{
    if (!globals().containsKey(name))
        return nullptr;
    return std::dynamic_pointer_cast<GlobalVar>(globals().item(Variant(name)).toObject());
}

GlobalVarPtr newGlobalVar(const QString &name, const Variant &data)
{
    auto variable = std::make_shared<GlobalVar>();
    variable->Data = data;
    globals().add(Variant(ObjectPtr(variable)), name);
    return variable;
}

void saveVar(const QString &name, const Variant &value)
{
    if (GlobalVarPtr variable = globalVar(name))
        variable->Data = value;
    else
        newGlobalVar(name, value);
}

Variant SaveVar(Application &, Args &a)
{
    return ignoring(Variant(), [&]() -> Variant {
        saveVar(a[0].toString(), a[1]);
        return Variant();
    });
}

Variant GetVar(Application &, Args &a)
{
    return ignoring(Variant(), [&]() -> Variant {
        const QString name = a[0].toString();
        if (GlobalVarPtr variable = globalVar(name))
            return variable->Data;
        newGlobalVar(name, Variant::fromInteger(0));
        return Variant::fromInteger(0);
    });
}

float derivative(const QString &name, const Variant &value)
{
    bool first = false;
    GlobalVarPtr rate = globalVar(name);
    if (!rate) {
        rate = newGlobalVar(name, Variant::fromInteger(0));
        first = true;
    }
    const QString previousName = name + QStringLiteral("_Derivative");
    GlobalVarPtr previous = globalVar(previousName);
    if (!previous) {
        previous = newGlobalVar(previousName, Variant::fromInteger(0));
        first = true;
    }
    const double current = numericValue(value);
    float next = 0;
    if (!first)
        next = float(0.8 * rate->Data.toDouble() + 0.2 * (current - previous->Data.toDouble()));
    rate->Data = Variant::fromSingle(next);
    previous->Data = Variant::fromSingle(float(current));
    return next;
}

Variant Derivative(Application &, Args &a)
{
    return ignoring(Variant::fromSingle(0), [&]() -> Variant {
        return Variant::fromSingle(derivative(a[0].toString(), a[1]));
    });
}

Variant ControlTemperature(Application &, Args &a)
{
    const float lower = a[0].toSingle();
    const float upper = a[1].toSingle();
    const float current = a[2].toSingle();
    const float k = a[3].toSingle();
    const float setPoint = (lower + upper) / 2;
    const float error = current - setPoint;
    const float rate = derivative(QStringLiteral("MasterBedroomTemperatureError"), Variant::fromSingle(error));
    const float control = k * rate + error + setPoint;
    qint16 decision = 1;
    if (control > upper)
        decision = -1;
    else if (control >= lower)
        decision = 0;
    return Variant::fromInteger(decision);
}

// ---- TCP text ----

Variant SendTCP(Application &, Args &a)
{
    const QString host = a[0].toString();
    const qint32 port = a[1].toLong();
    const QString data = a[2].toString();
    RemoteClient::instance().RemoteConnect(host, port);
    RemoteClient::instance().RemoteSend(data);
    return Variant();
}

} // namespace

void describeTaggedMembers(DispatchTable<Application> &t)
{
    member(t, "Request", 1, Request);
    member(t, "TagList", 1, TagList);
    member(t, "LastChange", 1, LastChange);
    member(t, "Sequence", 1, Sequence);
    member(t, "Response", 2, Response);
    member(t, "Sunrise", 0, [](Application &, Args &) { return Variant(gSunriseText); });
    member(t, "Sunset", 0, [](Application &, Args &) { return Variant(gSunsetText); });
    member(t, "SendTCP", 3, SendTCP);
    member(t, "ControlTemperature", 4, ControlTemperature);
    member(t, "Derivative", 2, Derivative);
    member(t, "SaveVar", 2, SaveVar);
    member(t, "GetVar", 1, GetVar);
}

int DropEndedScriptObjectsKept()
{
    std::vector<ObjectPtr> roots{globals().shared_from_this(), gDeviceDictionary, gCurrentScriptRecord,
                                 EventCollectionPtr()};
    if (DeviceCollectionExists())
        roots.push_back(DeviceCollectionPtr());
    for (int slot = 0; slot < 7; ++slot)
        roots.push_back(EventCallbacks(slot).shared_from_this());
    for (const DictionaryPtr &d : gUtilDictionaries)
        roots.push_back(d);
    int dropped = 0;
    for (ObjectPtr &root : roots) {
        if (!root)
            continue;
        Variant held{root};
        dropped += dropEndedScriptObjects(held);
    }
    return dropped;
}
