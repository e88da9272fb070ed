#include "HostTestSupport.h"

#include "host/CustomStatus.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/HostRegistration.h"
#include "host/IR.h"
#include "host/Objcb.h"
#include "host/Setup.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/ClassRegistry.h"

#include <limits>

namespace {
using MembersTest = HostTest;

Variant call(Object &o, const QString &name, std::vector<Variant> args = {}, CallKind kind = CallKind::Method)
{
    return o.invoke(name, kind, args);
}
} // namespace

TEST_F(MembersTest, FixedMembersAnswerTheirFixedResultsByName)
{
    struct Case {
        const char *name;
        int arguments;
        Variant::Type type; // Empty for a procedure
        const char *text;   // the result as text
    };
    const Case cases[] = {
        {"AddVoiceCommand", 1, Variant::Empty, ""},
        {"DeviceVCProcess", 3, Variant::String, ""},
        {"ListenMode", 0, Variant::Long, "0"},
        {"MediaIsPlaying", 0, Variant::Boolean, "False"},
        {"SetVolume", 3, Variant::Empty, ""},
        {"SetVolume", 2, Variant::Empty, ""},
        {"SendEmail", 5, Variant::Empty, ""},
        {"PhoneEvent", 3, Variant::String, ""},
        {"OpenComPortEx", 7, Variant::String, ""},
        {"ftp", 7, Variant::String, ""},
        {"ping", 1, Variant::Long, "0"},
        {"GetPrinter", 0, Variant::Object, ""},
        {"GetTSPRef", 0, Variant::Object, ""},
        {"NewRecurringEvent", 13, Variant::Boolean, "False"},
        {"NewTimeEvent", 14, Variant::Boolean, "False"},
        {"TriggerEventEx", 2, Variant::Long, "0"},
        {"Transmit", 8, Variant::Long, "0"},
        {"EncryptString", 3, Variant::String, ""},
        {"DecryptString", 2, Variant::String, ""},
        {"WEBValidateUser", 2, Variant::Boolean, "False"},
        {"SystemUpTime", 0, Variant::String, ""},
        {"MoveSettings", 2, Variant::Long, "0"},
        {"ThreadID", 0, Variant::Long, "0"},
        {"DaylightSavings", 0, Variant::Boolean, "False"},
        {"MediaFilename", 0, Variant::String, ""},
    };
    for (const Case &c : cases) {
        std::vector<Variant> args(size_t(c.arguments), Variant("secret"));
        const Variant result = m_hs->invoke(c.name, CallKind::Method, args);
        EXPECT_EQ(result.type(), c.type) << c.name;
        if (c.type == Variant::Object)
            EXPECT_TRUE(result.isNothing()) << c.name;
        else
            EXPECT_EQ(result.toText(), QString::fromLatin1(c.text)) << c.name;
    }
    std::vector<Variant> tooMany(15, Variant(1));
    EXPECT_THROW(m_hs->invoke("NewTimeEvent", CallKind::Method, tooMany), VbError);
    EXPECT_EQ(m_hs->EventCount(), 0) << "no event made by the fixed event members";
    EXPECT_TRUE(m_hs->hasMember("zwave_nodeid") == false);
    EXPECT_TRUE(m_hs->hasMember("UpdateSingleDevice"));
}

TEST_F(MembersTest, IgnoredPropertiesKeepTheirFixedValuesAndCountsKeepCounting)
{
    call(*m_hs, "MuteSpeech", {Variant(true)}, CallKind::PropertyLet);
    EXPECT_FALSE(call(*m_hs, "MuteSpeech", {}, CallKind::PropertyGet).toBool());
    call(*m_hs, "hwnd", {Variant(77)}, CallKind::PropertyLet);
    EXPECT_EQ(call(*m_hs, "hwnd", {}, CallKind::PropertyGet).toLong(), 0);
    QString name = "x";
    m_hs->NewDevice(name);
    call(*m_hs, "DeviceCount", {Variant(10)}, CallKind::PropertyLet);
    call(*m_hs, "EventCount", {Variant(10)}, CallKind::PropertyLet);
    EXPECT_EQ(call(*m_hs, "devicecount", {}, CallKind::PropertyGet).toLong(), 1);
    EXPECT_EQ(call(*m_hs, "EVENTCOUNT").toLong(), 0);
    call(*m_hs, "LastVoiceCommand", {Variant("go")}, CallKind::PropertyLet);
    call(*m_hs, "SunriseDt", {Variant::fromDate(1.5)}, CallKind::PropertyLet);
}

TEST_F(MembersTest, ArgumentsAreByReference)
{
    // A script variable holding a number comes back as the text the member took.
    std::vector<Variant> args{Variant(5)};
    call(*m_hs, "SetDeviceStatus", {Variant("A5"), Variant(2)});
    EXPECT_EQ(m_hs->invoke("DeviceStatus", CallKind::Method, args).toLong(), 0) << "code 5: house index 0";
    EXPECT_EQ(args[0].type(), Variant::String);
    EXPECT_EQ(args[0].toString(), "5");

    std::vector<Variant> set{Variant("B1"), Variant(2.6)};
    m_hs->invoke("SetDeviceStatus", CallKind::Method, set);
    EXPECT_EQ(set[1].type(), Variant::Integer);
    EXPECT_EQ(set[1].toLong(), 3);
    EXPECT_EQ(call(*m_hs, "DeviceStatus", {Variant("b1")}).toLong(), 3);

    std::vector<Variant> ini{Variant("S"), Variant("k"), Variant(7)};
    EXPECT_EQ(m_hs->invoke("GetIniSetting", CallKind::Method, ini).toString(), "7") << "optional file: settings.ini";
    EXPECT_EQ(ini[2].type(), Variant::String);
}

TEST_F(MembersTest, DevicesAndRecordsByName)
{
    Variant position = call(*m_hs, "NewDevice", {Variant("Lamp")});
    EXPECT_EQ(position.type(), Variant::Integer);
    ObjectPtr device = call(*m_hs, "GetDevice", {position}).toObject();
    ASSERT_TRUE(device);
    device->let("hc", Variant("Q"));
    device->let("dc", Variant(7));
    device->let("Location", Variant("Den"));
    device->let("CustomStatus", Variant(ObjectPtr(std::make_shared<CustomStatus>())));
    EXPECT_EQ(call(*m_hs, "GetDeviceCode", {Variant("den lamp")}).toString(), "Q7");
    EXPECT_EQ(call(*m_hs, "DeviceExists", {Variant("q7")}).toLong(), 1);
    EXPECT_EQ(device->get("DC").type(), Variant::String);
    EXPECT_THROW(device->let("iotype", Variant("many")), VbError);
    EXPECT_TRUE(call(*m_hs, "GetDeviceByCode", {Variant("Z1")}).isNothing());
    ObjectPtr list = call(*m_hs, "GetDeviceList").toObject();
    EXPECT_EQ(list->get("Count").toLong(), 1);

    ObjectPtr status = device->get("CustomStatus").toObject();
    status->let("Status", Variant(5));
    status->let("itemStatus", Variant(ObjectPtr(std::make_shared<Collection>())));
    EXPECT_EQ(status->get("Status").toLong(), 0);
    EXPECT_TRUE(status->get("itemStatus").isNothing());

    ObjectPtr event = call(*m_hs, "NewEventEx", {Variant("ev")}).toObject();
    for (const FieldSpec &f : EventClass::fieldSpecs()) {
        const Variant v = event->get(QString::fromLatin1(f.name));
        const bool empty = v.isEmpty() || v.isNothing() || (v.type() == Variant::Date && v.rawDate() == 0)
            || v.toText().isEmpty() || v.toText() == "0" || v.toText() == "False";
        EXPECT_TRUE(empty || QString::fromLatin1(f.name) == "name") << f.name;
        if (QString::fromLatin1(f.name) != "name")
            continue;
        EXPECT_EQ(v.toString(), "ev");
    }
    auto conditions = std::make_shared<Collection>();
    event->let("ev_conditions", Variant(ObjectPtr(conditions)));
    EXPECT_EQ(event->get("ev_conditions").toObject(), conditions);
    event->let("Tag", Variant(ObjectPtr(conditions)));
    EXPECT_EQ(event->get("tag").toObject(), conditions);
    ObjectPtr condition = call(*m_hs, "NewCondition").toObject();
    condition->let("dev_ref", Variant(1.5));
    EXPECT_EQ(condition->get("dev_ref").type(), Variant::Single);
    ObjectPtr cb = std::make_shared<objcb>();
    cb->let("evtype", Variant(3));
    EXPECT_EQ(cb->get("EVTYPE").toLong(), 3);
}

TEST_F(MembersTest, CreatableClassesByProgId)
{
    registerHostSubsystem();
    ObjectPtr app = ClassRegistry::instance().create("xaptvkKorvane.Application");
    call(*app, "NewDevice", {Variant("shared")});
    EXPECT_EQ(m_hs->DeviceCount(), 1) << "every host object sees one store";
    ObjectPtr ir = ClassRegistry::instance().create("XAPTVKKORVANE.IR");
    ir->let("DC", Variant("R4"));
    ir->let("TriggerEvent", Variant(true));
    EXPECT_EQ(ir->get("dc").toString(), "R4");
    EXPECT_TRUE(ir->get("TriggerEvent").toBool());
    EXPECT_EQ(ClassRegistry::instance().create("xaptvkKorvane.devFunc")->typeName(), "devFunc");
}

TEST_F(MembersTest, CallbackObjectHandsEventsOn)
{
    ::Setup form;
    QStringList seen;
    HostHooks &h = HostHooksInstance();
    h.sendXapBSC = [&](const QString &dc) { seen << "bsc " + dc + " " + QString::number(m_hs->deviceValue(dc)); };
    h.xAPIR = [&](qint32 code, qint32 zone, const QString &cls) {
        seen << QString("ir %1 %2 %3").arg(code).arg(zone).arg(cls);
    };
    h.sendXapX10Event = [&](const QString &u, const QString &house, qint16 cmd, const Variant &a, const Variant &b) {
        seen << QString("x10 %1 %2 %3 %4 %5").arg(u, house).arg(cmd).arg(a.toText(), b.toText());
    };
    h.acceptMenuCallbacks = [&](const QString &a, const QString &b, const QString &c) {
        seen << QString("menu %1 %2 %3").arg(a, b, c);
    };

    const int before = sent();
    call(form, "ValueChangeEvent", {Variant("V3"), Variant(12)});
    call(form, "IREvent", {Variant(0)});
    call(form, "IREvent", {Variant(17)});
    call(form, "X10Event", {Variant("1+2"), Variant("A"), Variant(2), Variant(0), Variant("x")});
    call(form, "RegisterMenu", {Variant("xaptvkKorvane"), Variant("Setup")});
    call(form, "RegisterMenuEx", {Variant("a"), Variant("b"), Variant("c")});
    gNoInterface = true;
    call(form, "IREvent", {Variant(18)});
    gNoInterface = false;
    EXPECT_EQ(seen, (QStringList{"bsc V3 12", "ir 17 0 IR.Receive", "x10 1+2 A 2 0 x", "menu xaptvkKorvane Setup xaptvkKorvane",
                                 "menu a b c"}));
    EXPECT_EQ(sent(), before) << "no Device.State messages in a running system";

    gHostStarted = false;
    call(form, "ValueChangeEvent", {Variant("V4"), Variant(1)});
    EXPECT_EQ(sent(), before + 2);
    EXPECT_EQ(seen.size(), 5) << "the bridge is not called before the host started";
    EXPECT_EQ(m_hs->deviceValue("V4"), 1);

    EXPECT_EQ(call(form, "GetTSIface").toObject(), m_hs);
    call(form, "SuppressXAP", {Variant(true)});
    EXPECT_TRUE(gSuppressXAP);
    for (const char *empty : {"UnRegisterAllMenus", "ForceFront", "CheckTrigger", "WriteSplash", "DisplayEvDTMF",
                              "RegisterProxySpeakPlug", "UnRegisterProxySpeakPlug", "GetSelectedPlugins"})
        EXPECT_TRUE(call(form, empty, {Variant(1)}).isEmpty()) << empty;
}

TEST_F(MembersTest, CallbackRegistrationIsLoggedAndFiled)
{
    ::Setup form;
    auto recorder = std::make_shared<Recorder>();
    const int before = sent();
    call(form, "RegisterEventCB", {Variant(5), Variant(ObjectPtr(recorder))});
    EXPECT_EQ(sent(), before + 1);
    EXPECT_EQ(EventCallbacks(0).count(), 1);
    EXPECT_EQ(EventCallbacks(1).count(), 0);
    EXPECT_EQ(EventCallbacks(2).count(), 1);
    class Nameless : public DispatchObject<Nameless>
    {
    public:
        static void describe(DispatchTable<Nameless> &t) { t.name("Nameless"); }
    };
    // Each error goes back to the calling plug-in, and nothing is filed.
    const struct {
        const char *what;
        Variant obj;
        qint32 error;
    } bad[] = {
        {"an object without a name", Variant(ObjectPtr(std::make_shared<Nameless>())), VbErr::NotSupported},
        {"Nothing", Variant::nothing(), VbErr::ObjectVariableNotSet},
        {"Empty", Variant(), VbErr::ObjectRequired},
        {"a text", Variant("obj"), VbErr::ObjectRequired},
    };
    for (const auto &c : bad) {
        try {
            call(form, "RegisterEventCB", {Variant(4), c.obj});
            ADD_FAILURE() << c.what << ": no error";
        } catch (const VbError &e) {
            EXPECT_EQ(e.number, c.error) << c.what;
        }
        EXPECT_EQ(EventCallbacks(2).count(), 1) << c.what;
    }
    EXPECT_EQ(sent(), before + 1) << "a failed registration sends no log message";
}

TEST_F(MembersTest, StartupShowsThePluginDialogOnlyForAnEmptyInterfaceName)
{
    ::Setup form;
    int shown = 0;
    HostHooksInstance().showPluginSelection = [&] { ++shown; };
    gInterfaceName = "Veltro";
    form.Startup();
    EXPECT_EQ(shown, 0);
    EXPECT_FALSE(gNoInterface);
    EXPECT_EQ(form.caption(), "Marrowind");
    gInterfaceName.clear();
    form.Startup();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(gNoInterface);
    gNoInterface = false;
}

// Leaving out a parameter that is not optional raises 449 before the member runs, as late
// binding does; optional ones may be left out.
TEST_F(MembersTest, MissingRequiredArgumentRaises449)
{
    auto recorder = std::make_shared<Recorder>();
    call(*m_hs, "RegisterEventCB", {Variant(4 | 64), Variant(ObjectPtr(recorder))});
    call(*m_hs, "SetDeviceStatus", {Variant("A1"), Variant(3)});
    ASSERT_EQ(recorder->calls.size(), 1u);

    const auto raises449 = [&](const char *member, std::vector<Variant> args) {
        try {
            m_hs->invoke(QString::fromLatin1(member), CallKind::Method, args);
        } catch (const VbError &e) {
            return e.number == 449 && e.description == "Argument not optional";
        }
        return false;
    };
    EXPECT_TRUE(raises449("SetDeviceStatus", {Variant("A1")}));
    EXPECT_TRUE(raises449("SetDeviceStatus", {}));
    EXPECT_TRUE(raises449("SetDeviceValue", {Variant("A1")}));
    EXPECT_TRUE(raises449("SetDeviceStatusNoReport", {Variant("A1"), Variant(2)}));
    EXPECT_TRUE(raises449("SetDeviceString", {Variant("A1")}));
    EXPECT_TRUE(raises449("GetIniSetting", {Variant("S"), Variant("k")}));
    EXPECT_TRUE(raises449("DeviceStatus", {}));
    EXPECT_TRUE(raises449("ping", {}));
    EXPECT_TRUE(raises449("OpenComPortEx", {Variant(1), Variant("c"), Variant(0), Variant("s")}));
    EXPECT_TRUE(raises449("AddVoiceCommand", {}));
    EXPECT_EQ(call(*m_hs, "DeviceStatus", {Variant("A1")}).toLong(), 3) << "nothing stored by the refused calls";
    EXPECT_EQ(recorder->calls.size(), 1u) << "and no callback fired";

    // The optional ones.
    call(*m_hs, "SetDeviceString", {Variant("A1"), Variant("text")});
    EXPECT_EQ(call(*m_hs, "DeviceString", {Variant("A1")}).toString(), "text");
    call(*m_hs, "SaveIniSetting", {Variant("S"), Variant("k"), Variant("v")});
    EXPECT_EQ(call(*m_hs, "GetINISection", {Variant("S")}).toString(), "k=v");
    call(*m_hs, "ClearINISection", {Variant("S")});
    EXPECT_EQ(call(*m_hs, "ping", {Variant("host")}).toLong(), 0);
    call(*m_hs, "OpenComPortEx", {Variant(1), Variant("c"), Variant(0), Variant("s"), Variant("f")});
    EXPECT_EQ(call(*m_hs, "DeviceCount").toLong(), 0);
}

// A device store may carry a ref at the top of the Long range: the next device cannot be
// numbered, so NewDevice logs the overflow, adds nothing and returns 0.
TEST_F(MembersTest, NewDeviceAfterTheLargestRefRaisesOverflow)
{
    ReferenceCounter() = std::numeric_limits<qint32>::max();
    const int before = sent();
    EXPECT_EQ(call(*m_hs, "NewDevice", {Variant("late")}).toLong(), 0);
    EXPECT_EQ(m_hs->DeviceCount(), 0);
    EXPECT_EQ(ReferenceCounter(), std::numeric_limits<qint32>::max());
    ASSERT_EQ(sent(), before + 1);
    EXPECT_TRUE(PendingXapBodies().last().contains(QStringLiteral("NewDevice Line 0 Overflow"))) << PendingXapBodies().last().toStdString();
    EXPECT_TRUE(call(*m_hs, "NewDeviceEx", {Variant("late")}).isNothing());

    // Below the top the counter goes on as before.
    ReferenceCounter() = std::numeric_limits<qint32>::max() - 1;
    EXPECT_EQ(call(*m_hs, "NewDevice", {Variant("last")}).toLong(), 1);
    EXPECT_EQ(m_hs->deviceAt(1)->ref(), std::numeric_limits<qint32>::max());
}
