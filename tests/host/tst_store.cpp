#include "HostTestSupport.h"

#include "host/HostGlobals.h"
#include "host/Setup.h"

#include "core/Globals.h"

#include <functional>

namespace {
using StoreTest = HostTest;

DeviceClassPtr addDevice(Application &app, const QString &hc, const QString &dc, const QString &name = "dev",
                         const QString &location = QString())
{
    QString n = name;
    auto d = app.NewDeviceEx(n);
    d->set(DeviceClass::F_hc, Variant(hc));
    d->set(DeviceClass::F_DC, Variant(dc));
    if (!location.isNull())
        d->set(DeviceClass::F_location, Variant(location));
    return d;
}
} // namespace

TEST_F(StoreTest, EmptyStoreAnswersNotFound)
{
    QString any = "A1", nm = "x";
    qint16 one = 1;
    EXPECT_EQ(m_hs->DeviceExists(any), -1);
    EXPECT_EQ(m_hs->DeviceExistsByName(nm), -1);
    EXPECT_EQ(m_hs->GetDevice(one), nullptr);
    EXPECT_EQ(m_hs->GetDeviceCode(nm), QString());
    EXPECT_EQ(m_hs->GetDeviceRef(any), -1);
    EXPECT_EQ(m_hs->DeviceCount(), 0);
}

TEST_F(StoreTest, NewDeviceNumbersAndDefaults)
{
    for (int i = 0; i < 3; ++i)
        addDevice(*m_hs, "B", QString::number(i));
    QString name = "Fourth";
    EXPECT_EQ(m_hs->NewDevice(name), 4);
    qint16 four = 4;
    auto d = m_hs->GetDevice(four);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->hc(), "A");
    EXPECT_EQ(d->DC(), "1");
    EXPECT_EQ(d->ref(), 4);
    EXPECT_EQ(d->name(), "Fourth");
    EXPECT_TRUE(d->field(DeviceClass::F_location).isEmpty());
}

TEST_F(StoreTest, LookupsReturnTheFirstMatchAndDeletingClosesUp)
{
    auto first = addDevice(*m_hs, "A", "1", "one");
    auto second = addDevice(*m_hs, "a", "1", "two");
    auto third = addDevice(*m_hs, "C", "7", "three");
    QString code = "a1";
    EXPECT_EQ(m_hs->DeviceExists(code), 1);
    EXPECT_EQ(m_hs->GetDeviceByCode(code), first);
    int ref = first->ref();
    EXPECT_FALSE(m_hs->DeleteDevice(ref)) << "False also when it removed one";
    EXPECT_EQ(m_hs->GetDeviceByCode(code), second);
    QString c7 = "C7";
    EXPECT_EQ(m_hs->DeviceExists(c7), 2);
    int missing = 999;
    EXPECT_FALSE(m_hs->DeleteDevice(missing));
    EXPECT_EQ(m_hs->DeviceCount(), 2);
    int r3 = third->ref();
    EXPECT_EQ(m_hs->GetDeviceByRef(r3), third);
}

TEST_F(StoreTest, LocationAndNameAndTagLookups)
{
    auto noLocation = addDevice(*m_hs, "D", "1", "Lamp");
    auto kitchen = addDevice(*m_hs, "D", "2", "Lamp", "Kitchen");
    QString blankLamp = " lamp", lamp = "Lamp", kitchenLamp = "KITCHEN LAMP";
    EXPECT_EQ(m_hs->GetDeviceCode(blankLamp), "D1");
    EXPECT_EQ(m_hs->GetDeviceCode(lamp), QString());
    EXPECT_EQ(m_hs->GetDeviceEx(kitchenLamp), kitchen);
    EXPECT_EQ(m_hs->GetDeviceRefByName(kitchenLamp), kitchen->ref());
    EXPECT_EQ(m_hs->GetDeviceRefByName(lamp), -1);

    kitchen->set(DeviceClass::F_ScriptTag, Variant("  Porch "));
    QString tag = "porch", blankTag = " porch";
    EXPECT_EQ(m_hs->DeviceExistsByName(tag), 2);
    EXPECT_EQ(m_hs->DeviceExistsByName(blankTag), -1) << "the argument is not trimmed";

    // Only blanks around the stored tag are dropped.
    const struct {
        const char *stored;
        const char *asked;
        int position;
    } tags[] = {
        {"  Porch ", "porch", 2},
        {"\tporch", "porch", -1},
        {"porch\r\n", "porch", -1},
        {"\tporch", "\tporch", 2},
        {"porch", "PORCH", 2},
        {"", "", 1},
    };
    for (const auto &c : tags) {
        noLocation->set(DeviceClass::F_ScriptTag, Variant("other"));
        kitchen->set(DeviceClass::F_ScriptTag, Variant(c.stored));
        if (!*c.stored)
            noLocation->set(DeviceClass::F_ScriptTag, Variant(""));
        QString asked = QString::fromLatin1(c.asked);
        EXPECT_EQ(m_hs->DeviceExistsByName(asked), c.position) << c.stored << "|" << c.asked;
    }
}

TEST_F(StoreTest, EventsAreFoundOnlyByLowerCaseNames)
{
    QString lower = "wake up", mixed = "Night";
    EXPECT_EQ(m_hs->NewEvent(lower), 1);
    EXPECT_EQ(m_hs->NewEvent(mixed), 2);
    QString askLower = "WAKE UP", askMixed = "Night";
    EXPECT_EQ(m_hs->GetEventIndex(askLower), 1);
    EXPECT_EQ(m_hs->GetEventIndex(askMixed), -1);
    EXPECT_TRUE(m_hs->EventExists(askLower));
    m_hs->EnableEvent(askLower);
    qint16 one = 1;
    EXPECT_TRUE(m_hs->GetEvent(one)->field(EventClass::F_Enabled).toBool());
    m_hs->DisableEvent(askLower);
    EXPECT_FALSE(m_hs->GetEvent(one)->field(EventClass::F_Enabled).toBool());
    m_hs->DeleteEvent(askMixed);
    EXPECT_EQ(m_hs->EventCount(), 2);
    m_hs->DeleteEvent(askLower);
    EXPECT_EQ(m_hs->EventCount(), 1);
    qint16 zero = 0;
    EXPECT_EQ(m_hs->GetEvent(zero), nullptr);
}

TEST_F(StoreTest, DeviceEditReportsOnlyOnChangeAndNeverInARunningSystem)
{
    auto d = addDevice(*m_hs, "K", "1");
    gHostStarted = false;
    gMainFormReady = true;
    int before = sent();
    d->set(DeviceClass::F_name, Variant("New"));
    EXPECT_EQ(sent(), before + 1);
    d->set(DeviceClass::F_name, Variant("New"));
    EXPECT_EQ(sent(), before + 1) << "unchanged";
    d->set(DeviceClass::F_ScriptTag, Variant("t"));
    d->set(DeviceClass::F_TriggerEvent, Variant(true));
    EXPECT_EQ(sent(), before + 1) << "tag and trigger only store";
    gHostStarted = true;
    d->set(DeviceClass::F_name, Variant("Other"));
    EXPECT_EQ(sent(), before + 1);
    EXPECT_EQ(d->name(), "Other");
}

TEST_F(StoreTest, NextFreeIOCodeWalksTheCharactersInOrder)
{
    ::Setup form;
    gIOHouseChars = QStringLiteral("[ ] ^ _ ` { | } ~ ! \" # $ % & ' ( ) * + , - . / : ; < = > ? @").split(' ');
    EXPECT_EQ(form.GetNextFreeIOCode(), '[');
    addDevice(*m_hs, "[", "1");
    addDevice(*m_hs, "]", "1");
    addDevice(*m_hs, "A", "1");
    EXPECT_EQ(form.GetNextFreeIOCode(), '^');

    // Take every character in order and record what is handed out.
    QString order;
    for (int i = 0; i < 40; ++i) {
        const qint16 code = form.GetNextFreeIOCode();
        if (code < 0)
            break;
        order += QChar(code);
        addDevice(*m_hs, QString(QChar(code)), "1");
    }
    EXPECT_EQ(order, "^_`{|}~!#$%&'()*+,-./:<>?@") << "the quote, ; and = are never handed out";
    EXPECT_EQ(form.GetNextFreeIOCode(), -1);
}

// Counts and positions are Integers: past 32,767 the members returning one raise 6
// "Overflow" (their trap, where they have one, returns 0) instead of a negative number, and
// the Ex members return what they made.
TEST_F(StoreTest, CountsPastTheIntegerRangeOverflow)
{
    QString name = "d";
    for (int i = 0; i < 32767; ++i) {
        m_hs->NewDevice(name);
        m_hs->NewEvent(name);
    }
    EXPECT_EQ(m_hs->DeviceCount(), 32767);
    EXPECT_EQ(m_hs->EventCount(), 32767);
    QString over = "over", past = "past";
    EXPECT_EQ(m_hs->NewDevice(over), 0);
    EXPECT_EQ(m_hs->NewEvent(over), 0);
    EXPECT_EQ(m_hs->GetEventIndex(over), 0);
    const DeviceClassPtr device = m_hs->NewDeviceEx(past);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->name(), "past");
    EXPECT_EQ(device->ref(), 32769);
    const EventClassPtr event = m_hs->NewEventEx(past);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->field(EventClass::F_name).toString(), "past");
    for (const auto &[member, count] : std::vector<std::pair<const char *, std::function<qint16()>>>{
             {"DeviceCount", [&] { return m_hs->DeviceCount(); }}, {"EventCount", [&] { return m_hs->EventCount(); }}}) {
        try {
            ADD_FAILURE() << member << " gave " << count();
        } catch (const VbError &e) {
            EXPECT_EQ(e.number, VbErr::Overflow) << member;
        }
    }
}
