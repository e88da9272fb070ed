#include "HostTestSupport.h"
#include "LiveXap.h"

#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/StateTables.h"

#include "core/Globals.h"

#include "automation/VbError.h"

namespace {
using StatesTest = HostTest;

QString s(const char *text)
{
    return QString::fromLatin1(text);
}

void setStatus(Application &app, const char *code, qint16 status)
{
    QString c = s(code);
    app.SetDeviceStatus(c, status);
}
} // namespace

TEST(HouseIndex, TableFollowsCharacterRanges)
{
    StateTables t;
    EXPECT_EQ(t.houseIndex(0), 0);
    EXPECT_EQ(t.houseIndex(' '), 0);
    EXPECT_EQ(t.houseIndex('!'), 1);
    EXPECT_EQ(t.houseIndex('@'), 32);
    EXPECT_EQ(t.houseIndex('A'), 33);
    EXPECT_EQ(t.houseIndex('Z'), 58);
    EXPECT_EQ(t.houseIndex('['), 59);
    EXPECT_EQ(t.houseIndex('`'), 64);
    EXPECT_EQ(t.houseIndex('a'), 33);
    EXPECT_EQ(t.houseIndex('z'), 58);
    EXPECT_EQ(t.houseIndex('{'), 65);
    EXPECT_EQ(t.houseIndex('~'), 68);
    EXPECT_EQ(t.houseIndex(127), 0);
    EXPECT_EQ(t.houseIndex(255), 0);
    EXPECT_EQ(t.houseCount(), 69);
}

TEST(HouseIndex, CodesMapToSlots)
{
    StateTables t;
    auto same = [&](const char *a, const char *b) {
        const auto x = t.slot(s(a));
        const auto y = t.slot(s(b));
        return x.house == y.house && x.unit == y.unit;
    };
    EXPECT_TRUE(same("A5", "a5"));
    EXPECT_TRUE(same("A5", "A5.4"));
    EXPECT_TRUE(same("A100", "A0"));
    EXPECT_TRUE(same("A-1", "A0"));
    EXPECT_TRUE(same("A", "A0"));
    EXPECT_TRUE(same("A7x", "A7"));
    EXPECT_TRUE(same("A4.5", "A4")); // halves to even
    EXPECT_TRUE(same("A5.5", "A6"));
    EXPECT_TRUE(same("A99.5", "A0")); // rounds to 100, out of range
    EXPECT_TRUE(same(" 3", "\x7f" "3")); // both house index 0
    EXPECT_FALSE(same("A5", "B5"));
    EXPECT_EQ(t.slot(s("{1")).house, 65);
    EXPECT_EQ(t.slot(s("A99")).unit, 99);
    EXPECT_THROW(t.slot(QString()), VbError);
    // The euro sign is byte 128 of the code page, a house of index 0 like every byte above 126;
    // a character the code page cannot hold has no slot.
    const auto euro = t.slot(QString(QChar(0x20AC)) + "3");
    EXPECT_EQ(euro.house, 0);
    EXPECT_EQ(euro.unit, 3);
    EXPECT_THROW(t.slot(QString(QChar(0x4E00)) + "1"), VbError);
}

TEST_F(StatesTest, SettersAndGettersShareSlotsWhetherOrNotADeviceExists)
{
    setStatus(*m_hs, "a1", 2);
    QString code = "A1";
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
    EXPECT_TRUE(m_hs->isOn(code));
    EXPECT_FALSE(m_hs->isOff(code));
    setStatus(*m_hs, "A1000", 3); // unit 0 of house A
    QString a0 = "A0";
    EXPECT_TRUE(m_hs->isOff(a0));

    QString big = "A1000";
    int v = 55;
    m_hs->SetDeviceValue(a0, v);
    EXPECT_EQ(m_hs->DeviceValue(a0), 55);
    EXPECT_EQ(m_hs->DeviceValue(big), 0) << "too long for a value lookup";
    QString one = "A";
    EXPECT_EQ(m_hs->DeviceValue(one), 0) << "too short for a value lookup";
    EXPECT_EQ(m_hs->DeviceStatus(big), 3) << "status reads any code";

    QString str = "hello";
    Variant none;
    m_hs->SetDeviceString(code, str, none);
    QString lower = "a1";
    EXPECT_EQ(m_hs->DeviceString(lower), "hello");
    int t = 42;
    m_hs->SetDeviceTime(code, t);
    EXPECT_EQ(m_hs->DeviceTime(lower), 42);
    Variant when = Variant::fromDate(45000.5);
    m_hs->SetDeviceLastChange(code, when);
    EXPECT_EQ(m_hs->DeviceLastChange(lower).toDate(), 45000.5);
    EXPECT_EQ(m_hs->DeviceLastChange(lower).type(), Variant::Date);
}

TEST_F(StatesTest, UnresolvableCodesAreLoggedAndGiveDefaults)
{
    QString empty;
    const int before = sent();
    EXPECT_EQ(m_hs->DeviceStatus(empty), 0);
    EXPECT_EQ(sent(), before + 1) << "the failure is logged";
    qint16 status = 2;
    m_hs->SetDeviceStatus(empty, status);
    EXPECT_EQ(sent(), before + 2);
    QString wide = QString(QChar(0x400)) + "1";
    EXPECT_EQ(m_hs->DeviceString(wide), QString());
    EXPECT_EQ(m_hs->DeviceLastChange(wide).toDate(), 0.0);
}

TEST_F(StatesTest, StatusCallbacksRunOncePerChangeBeforeTheStore)
{
    auto recorder = std::make_shared<Recorder>();
    int evtype = 4;
    Variant obj{ObjectPtr(recorder)};
    m_hs->RegisterEventCB(evtype, obj);
    setStatus(*m_hs, "B12", 3);
    recorder->calls.clear();
    QString code = "B12";
    qint16 seen = -1;
    recorder->during = [&] { seen = m_hs->DeviceStatus(code); };
    setStatus(*m_hs, "B12", 2);
    ASSERT_EQ(recorder->calls.size(), 1u);
    EXPECT_EQ(recorder->calls[0], (QStringList{"4", "12", "B", "2"}));
    EXPECT_EQ(seen, 3) << "a callback still sees the old value";
    setStatus(*m_hs, "B12", 2);
    EXPECT_EQ(recorder->calls.size(), 1u) << "no change, no callback";
}

TEST_F(StatesTest, CallbackSlotsFollowTheBitsOfTheEventType)
{
    auto recorder = std::make_shared<Recorder>();
    auto stringRecorder = std::make_shared<Recorder>();
    int five = 5;
    int sixtyFour = 64;
    Variant a{ObjectPtr(recorder)}, b{ObjectPtr(stringRecorder)};
    m_hs->RegisterEventCB(five, a); // slots 0 and 2
    m_hs->RegisterEventCB(five, a); // twice: held twice
    m_hs->RegisterEventCB(sixtyFour, b);
    EXPECT_EQ(EventCallbacks(0).count(), 2);
    EXPECT_EQ(EventCallbacks(2).count(), 2);
    EXPECT_EQ(EventCallbacks(1).count(), 0);

    setStatus(*m_hs, "C3", 2);
    EXPECT_EQ(recorder->calls.size(), 2u);
    QString code = "C3", text = "abc";
    Variant none;
    m_hs->SetDeviceString(code, text, none);
    ASSERT_EQ(stringRecorder->calls.size(), 1u);
    EXPECT_EQ(stringRecorder->calls[0], (QStringList{"64", "C3", "abc"}));
    m_hs->SetDeviceString(code, text, none);
    EXPECT_EQ(stringRecorder->calls.size(), 1u);
    QString upper = "ABC";
    m_hs->SetDeviceString(code, upper, none);
    EXPECT_EQ(stringRecorder->calls.size(), 2u) << "strings compare with case";
}

TEST_F(StatesTest, FailingCallbackDoesNotStopTheOthers)
{
    class Failing : public DispatchObject<Failing>
    {
    public:
        static void describe(DispatchTable<Failing> &t) { t.name("Failing"); }
    };
    auto recorder = std::make_shared<Recorder>();
    int four = 4;
    Variant bad{ObjectPtr(std::make_shared<Failing>())}, good{ObjectPtr(recorder)};
    m_hs->RegisterEventCB(four, bad);
    m_hs->RegisterEventCB(four, good);
    setStatus(*m_hs, "D1", 2);
    EXPECT_EQ(recorder->calls.size(), 1u);
    QString code = "D1";
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
}

TEST_F(StatesTest, NoReportBitsAndTheLoadingFlag)
{
    auto recorder = std::make_shared<Recorder>();
    int four = 4;
    Variant obj{ObjectPtr(recorder)};
    m_hs->RegisterEventCB(four, obj);
    QString code = "E1";
    qint16 on = 2, off = 3, two = 2, zero = 0;
    m_hs->SetDeviceStatusNoReport(code, on, two);
    EXPECT_TRUE(recorder->calls.empty());
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
    m_hs->SetDeviceStatusNoReport(code, off, zero);
    EXPECT_EQ(recorder->calls.size(), 1u);

    gLoading = true;
    setStatus(*m_hs, "E1", 2);
    int v = 9;
    m_hs->SetDeviceValue(code, v);
    gLoading = false;
    EXPECT_EQ(recorder->calls.size(), 1u) << "no callbacks while loading";
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
    EXPECT_EQ(m_hs->DeviceValue(code), 9);

    int twelve = 12;
    qint16 three = 3;
    m_hs->SetDeviceValueNoReport(code, twelve, three);
    EXPECT_EQ(m_hs->DeviceValue(code), 12);
    EXPECT_EQ(recorder->calls.size(), 1u) << "no callbacks from the no-report value setter";
}

TEST_F(StatesTest, ReportsOnlyBeforeTheHostStarted)
{
    QString code = "F1";
    int v = 1;
    const int start = sent();
    m_hs->SetDeviceValue(code, v);
    EXPECT_EQ(sent(), start) << "a running host sends no reports";

    gHostStarted = false;
    gMainFormReady = true;
    int before = sent();
    v = 2;
    m_hs->SetDeviceValue(code, v); // I/O report and value report
    EXPECT_EQ(sent(), before + 2);
    before = sent();
    m_hs->SetDeviceValue(code, v); // unchanged: the I/O report still goes out
    EXPECT_EQ(sent(), before + 1);
    before = sent();
    qint16 three = 3;
    m_hs->SetDeviceValueNoReport(code, v, three);
    EXPECT_EQ(sent(), before);
    gSuppressXAP = true;
    v = 5;
    m_hs->SetDeviceValue(code, v);
    EXPECT_EQ(sent(), before) << "suppressed";
}

TEST_F(StatesTest, StatusScriptsGetHouseUnitStatusAndRef)
{
    std::vector<std::pair<QString, QStringList>> runs;
    HostHooksInstance().runEx = [&](const QString &script, const QString &proc, const Variant &param) {
        QStringList texts;
        for (const Variant &v : param.array().data())
            texts.append(v.toString());
        runs.push_back({script + "|" + proc, texts});
    };
    QString script = "lights.vbs", func = "Changed";
    gLoading = true;
    m_hs->RegisterStatusChangeCB(script, func);
    gLoading = false;
    EXPECT_TRUE(StatusChangeScripts().isEmpty()) << "ignored while loading";
    EXPECT_TRUE(m_hs->RegisterStatusChangeCB(script, func).isEmpty());

    setStatus(*m_hs, "G2", 2);
    EXPECT_TRUE(runs.empty()) << "no device, no script";
    QString name = "Lamp";
    auto device = m_hs->NewDeviceEx(name);
    device->set(DeviceClass::F_hc, Variant("G"));
    device->set(DeviceClass::F_DC, Variant("2"));
    setStatus(*m_hs, "g2", 3);
    // A change the program makes runs the script from the event loop, after the change.
    ASSERT_TRUE(waitUntil([&] { return !runs.empty(); }, 5000));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, "lights.vbs|Changed");
    EXPECT_EQ(runs[0].second, (QStringList{"g", "2", "3", QString::number(device->ref())}));
}

TEST_F(StatesTest, ByNameMembersResolveLocationAndName)
{
    QString name = "Lamp";
    auto device = m_hs->NewDeviceEx(name);
    device->set(DeviceClass::F_location, Variant("Kitchen"));
    device->set(DeviceClass::F_hc, Variant("H"));
    device->set(DeviceClass::F_DC, Variant("4"));
    QString full = "kitchen lamp", unknown = "Hall Lamp";
    int v = 17;
    m_hs->SetDeviceValueByName(full, v);
    EXPECT_EQ(m_hs->DeviceValueByName(full), 17);
    EXPECT_EQ(m_hs->DeviceValueByName(unknown), 0);
    EXPECT_EQ(m_hs->DeviceStringByName(unknown), "DeviceStringByName");
    EXPECT_FALSE(m_hs->isOnByName(unknown));
    setStatus(*m_hs, "H4", 2);
    EXPECT_TRUE(m_hs->isOnByName(full));
    QString text = "x";
    Variant reset;
    m_hs->SetDeviceStringByName(unknown, text, reset);
    QString h0 = "H0";
    EXPECT_EQ(m_hs->DeviceString(h0), QString());
}

// A compiled callback that sets two devices back and forth recurses through the change
// reports; past 64 nested reports the innermost setter fails with error 28, its own trap
// logs it once, and every level returns.
TEST_F(StatesTest, NestedChangeReportsAreBounded)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    auto pingPong = std::make_shared<Recorder>();
    std::vector<Variant> registration{Variant(4), Variant(ObjectPtr(pingPong))};
    m_hs->invoke("RegisterEventCB", CallKind::Method, registration);
    setStatus(*m_hs, "A1", 3);
    setStatus(*m_hs, "B1", 3);
    pingPong->calls.clear();
    int deepest = 0;
    int depth = 0;
    pingPong->during = [&] {
        const QStringList texts = pingPong->calls.back();
        const QString other = texts.at(2) == "A" ? "B1" : "A1";
        // Late bound, as a compiled callback object calls the host.
        std::vector<Variant> current{Variant(other)};
        const qint16 now = qint16(m_hs->invoke("DeviceStatus", CallKind::Method, current).toLong());
        std::vector<Variant> args{Variant(other), Variant::fromInteger(now == 2 ? 3 : 2)};
        ++depth;
        deepest = std::max(deepest, depth);
        m_hs->invoke("SetDeviceStatus", CallKind::Method, args);
        --depth;
    };
    setStatus(*m_hs, "A1", 2);
    EXPECT_EQ(deepest, 64) << "64 nested reports; the setter inside the last one is refused";
    EXPECT_EQ(pingPong->calls.size(), 64u);
    EXPECT_EQ(m_hs->deviceStatus("A1"), 2);
    EXPECT_EQ(xapOut.logData(), QStringList({"SetDeviceStatus Line 0 Out of stack space"}));

    // Once unwound, change reports nest from the bottom again.
    pingPong->during = nullptr;
    setStatus(*m_hs, "B1", 3);
    setStatus(*m_hs, "B1", 2);
    EXPECT_EQ(pingPong->calls.size(), 66u);
}
