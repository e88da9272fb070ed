// BSC events, query replies paced by the reply queue, and commands.
#include "BridgeTestSupport.h"

#include "bridge/BridgeHooks.h"
#include "bridge/BscBridge.h"
#include "bridge/BscEndpoints.h"
#include "bridge/CommAndTimer.h"
#include "bridge/DeviceMessageClass.h"

#include "host/HostGlobals.h"

#include "core/Globals.h"

#include "automation/VbDate.h"

namespace {

class BscTest : public BridgeTest
{
protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        tables.varsHouseCode = 'Q';
        tables.varUsed[4] = 1;   // Q5
        tables.varUsed[64] = 1;  // R1
        tables.varUsed[127] = 1; // R64
        tables.x10Used[4] = 1;   // A5
        tables.addUnit(3, 11, QStringLiteral("["));
        tables.pointUsed[3][0] = 1;
        tables.pointUsed[3][1] = 1;

        temp = addDevice("Q", "5", "Hall", "Temp");
        addDevice("R", "1", "Cellar", "Level");
        addDevice("R", "64", "Attic", "Fan");
        relay = addDevice("[", "1", "Porch", "Light", 1);
        addDevice("[", "2", "Door", "Contact", 0);
        addDevice("A", "5", "Garden", "Lamp");
        addDevice("Z", "9", "Other", "Thing", 0, QStringLiteral("Elsewhere"));
        setState("Q5", 3, 21);
        setState("R1", 2, 16383);
    }

    void setState(QString code, qint16 status, int value)
    {
        m_hs->SetDeviceStatus(code, status);
        m_hs->SetDeviceValue(code, value);
    }

    QStringList setIOCalls() const
    {
        QStringList out;
        for (const PluginCall &c : plugin->calls) {
            if (c.member == QLatin1String("SetIO"))
                out.append(c.args.join(QLatin1Char(',')));
        }
        return out;
    }

    QStringList infoSources() const
    {
        QStringList out;
        for (const SentMessage &m : sentOf(QStringLiteral("xAPBSC.info")))
            out.append(m.source().section(QLatin1Char(':'), 1));
        return out;
    }

    int temp = 0;
    int relay = 0;
};

TEST_F(BscTest, VariableChangeBroadcastsItsEventByteExact)
{
    const double before = VbDate::oleNow();
    SendXapBSC(QStringLiteral("Q5"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xapBSC.Event"), 1));
    const SentMessage e = sentOf(QStringLiteral("xapBSC.Event")).first();
    const QByteArray expected = "xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:05\nclass=xapBSC.Event\nsource="
        + ownSource().toLatin1() + ":Hall_Temp.Quillon_Var__V004.Index\n}\noutput.state\n{\nState=OFF\nLevel=21/32767\n}\n";
    EXPECT_EQ(e.raw, expected);
    EXPECT_GE(m_hs->deviceLastChange(QStringLiteral("Q5")), before - 1.0 / 86400);
}

TEST_F(BscTest, EventsOfOtherPointsAndOfNoPoint)
{
    SendXapBSC(QStringLiteral("R1"));
    SendXapBSC(QStringLiteral("[2"));   // input point
    SendXapBSC(QStringLiteral("[1"));   // relay
    SendXapBSC(QStringLiteral("A5"));   // X10: reported by the X10 event instead
    SendXapBSC(QStringLiteral("Q6"));   // variable not in use
    SendXapBSC(QString());
    ASSERT_TRUE(waitForSent(QStringLiteral("xapBSC.Event"), 3));
    settle(300);
    const QList<SentMessage> events = sentOf(QStringLiteral("xapBSC.Event"));
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].source(), ownSource() + ":Cellar_Level.Quillon_Var__V064.Index");
    EXPECT_EQ(events[0].item("output.state", "State"), "ON");
    EXPECT_EQ(events[0].item("output.state", "Level"), "16383/32767");
    EXPECT_EQ(events[1].source(), ownSource() + ":Door_Contact.SIO16_X1____Pt_2.Switch");
    EXPECT_EQ(events[1].msg->MsgUID(), "FF.00C7:82");
    EXPECT_EQ(events[1].item("input.state", "State"), "OFF");
    EXPECT_EQ(events[1].item("input.state", "Level"), "Unknown");
    EXPECT_EQ(events[2].source(), ownSource() + ":Porch_Light.SIO16_X0____Pt_1.Relay");
    EXPECT_EQ(events[2].msg->MsgSection(), QStringList{"output.state"});
}

TEST_F(BscTest, NoEventBeforeTheMainFormStarted)
{
    gHostStarted = false;
    SendXapBSC(QStringLiteral("Q5"));
    settle(200);
    EXPECT_TRUE(sentOf(QStringLiteral("xapBSC.Event")).isEmpty());
}

TEST_F(BscTest, TaggedDeviceQueuesAScriptRecordOnlyWithItsTrigger)
{
    std::vector<ObjectPtr> queued;
    BridgeHooksInstance().queueDeviceEvent = [&](const ObjectPtr &r) { queued.push_back(r); };
    device(temp)->set(DeviceClass::F_ScriptTag, Variant(QStringLiteral("hallTemp")));
    SendXapBSC(QStringLiteral("Q5"));
    EXPECT_TRUE(queued.empty()) << "no trigger, no record";

    device(temp)->set(DeviceClass::F_TriggerEvent, Variant(true));
    device(relay)->set(DeviceClass::F_ScriptTag, Variant(QStringLiteral("porch")));
    device(relay)->set(DeviceClass::F_TriggerEvent, Variant(true));
    setState("[1", 2, 1);
    SendXapBSC(QStringLiteral("Q5"));
    SendXapBSC(QStringLiteral("[1"));
    ASSERT_EQ(queued.size(), 2u);
    auto record = std::dynamic_pointer_cast<DeviceMessageClass>(queued[0]);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Tag, "hallTemp");
    EXPECT_TRUE(record->DC.isEmpty());
    EXPECT_FALSE(record->Link);
    ASSERT_EQ(record->MessageList->count(), 2);
    EXPECT_EQ(record->MessageList->item(Variant(QStringLiteral("value"))).toString(), "21");
    EXPECT_FALSE(record->MessageList->item(Variant(QStringLiteral("lastchange"))).toString().isEmpty());
    EXPECT_EQ(record->MessageKeyList->item(Variant::fromLong(1)).toString(), "value");
    EXPECT_EQ(record->MessageKeyList->item(Variant::fromLong(2)).toString(), "lastchange");
    auto relayRecord = std::dynamic_pointer_cast<DeviceMessageClass>(queued[1]);
    EXPECT_EQ(relayRecord->MessageList->item(Variant::fromLong(1)).toString(), "1") << "the value also for a relay";
    ASSERT_TRUE(waitForSent(QStringLiteral("xapBSC.Event"), 3));
}

TEST_F(BscTest, QueryAnswersEveryEndpointOnePerTickInDeviceOrder)
{
    BSCQuery(QStringLiteral("src:>"), QStringLiteral("acme.one.pc"));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 5) << "the first went out at once";
    BSCQuery(QStringLiteral("src:>"), QStringLiteral("acme.two.pc"));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 11) << "another peer's query while draining is all queued";
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 12, 20000));
    const QStringList order = {
        "hall_temp.quillon_var__v004.index", "cellar_level.quillon_var__v064.index",
        "attic_fan.quillon_var__v127.index", "porch_light.sio16_x0____pt_1.relay",
        "door_contact.sio16_x1____pt_2.switch", "garden_lamp.quillon_x10____a5.switch",
    };
    EXPECT_EQ(infoSources(), order + order);
    const QList<SentMessage> infos = sentOf(QStringLiteral("xAPBSC.info"));
    for (int i = 1; i < infos.size(); ++i)
        EXPECT_GE(infos[i].atMs - infos[i - 1].atMs, 150) << "reply " << i;
    EXPECT_EQ(infos[0].msg->MsgUID(), "FF.00C7:05");
    EXPECT_EQ(infos[0].item("output.state", "Level"), "21/32767");
    EXPECT_EQ(infos[3].msg->MsgUID(), "FF.00C7:81");
    EXPECT_EQ(infos[5].msg->MsgUID(), "FF.00C7:0104") << "A5: its own UID, not the program's";
    EXPECT_EQ(infos[5].item("input.state", "State"), "OFF");
    // The timer stops on the first tick that finds the queue empty.
    EXPECT_TRUE(waitUntil([] { return !CommAndTimer::instance().BSCTimer.isEnabled(); }, 5000));
}

TEST_F(BscTest, ARepeatedQueryKeepsThePlaceOfTheRepliesItLeftWaiting)
{
    BSCQuery(QStringLiteral("src:>"), QStringLiteral("acme.one.pc"));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 5);
    for (int i = 0; i < 1000; ++i)
        BSCQuery(QStringLiteral("src:>"), QStringLiteral("ACME.One.pc"));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 5) << "one query's replies wait, not a thousand";
    BSCQuery(QStringLiteral("src:*.*.index"), QStringLiteral("acme.one.pc"));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 8) << "another target of the same peer is a query of its own";
    // A reply that waited carries the state of when it goes out.
    setState("R1", 3, 77);
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 9, 20000));
    settle(300);
    EXPECT_EQ(sentOf(QStringLiteral("xAPBSC.info")).size(), 9);
    EXPECT_EQ(infoSources().mid(0, 6), QStringList({"hall_temp.quillon_var__v004.index", "cellar_level.quillon_var__v064.index",
                                                    "attic_fan.quillon_var__v127.index", "porch_light.sio16_x0____pt_1.relay",
                                                    "door_contact.sio16_x1____pt_2.switch", "garden_lamp.quillon_x10____a5.switch"}))
        << "the repeats did not send the peer back to the first endpoint";
    const SentMessage cellar = sentOf(QStringLiteral("xAPBSC.info")).at(1);
    EXPECT_EQ(cellar.item("output.state", "State"), "OFF");
    EXPECT_EQ(cellar.item("output.state", "Level"), "77/32767");
    // Once the peer's replies went out, it is answered again.
    BSCQuery(QStringLiteral("src:>"), QStringLiteral("acme.one.pc"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 15, 20000));
}

TEST_F(BscTest, RepliesThatWouldPassTheBoundAreDroppedWithOneLogEntry)
{
    // Six endpoints give room for 24 waiting replies; 16 peers ask for all of them.
    BSCQuery(QStringLiteral("src:>"), QStringLiteral("peer.0"));
    for (int peer = 1; peer < 16; ++peer)
        BSCQuery(QStringLiteral("src:>"), QStringLiteral("peer.") + QString::number(peer));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 5 + 3 * 6) << "the fourth peer's six would pass 24";
    // A smaller query still fits.
    BSCQuery(QStringLiteral("src:hall_temp.>"), QStringLiteral("peer.x"));
    EXPECT_EQ(CommAndTimer::instance().queuedCount(), 24);
    ASSERT_TRUE(waitForSent(QStringLiteral("Tessera.Event"), 1));
    settle(300);
    ASSERT_EQ(logData().size(), 1) << "one entry for the burst";
    EXPECT_TRUE(logData().first().startsWith(QStringLiteral("BSCQuery: reply queue full"))) << logData().first().toStdString();
}

// The endpoints are derived once, and again whenever what names them changes:
// the device store (a device added, removed, renamed, moved) or the point tables.
TEST_F(BscTest, TheEndpointListFollowsTheDeviceStoreAndThePointTables)
{
    const auto answered = [this](const QString &target) {
        const qsizetype before = sentOf(QStringLiteral("xAPBSC.info")).size();
        BSCQuery(QStringLiteral("src:") + target, QStringLiteral("peer.") + QString::number(before));
        settle(30);
        return sentOf(QStringLiteral("xAPBSC.info")).size() - before;
    };
    ASSERT_EQ(answered(QStringLiteral("hall_temp.>")), 1);
    const struct
    {
        const char *change;
        std::function<void()> apply;
        const char *target;
        qsizetype replies;
    } cases[] = {
        {"renamed", [this] { device(temp)->set(DeviceClass::F_name, Variant(QStringLiteral("Warmth"))); }, "hall_warmth.>", 1},
        {"old name gone", [] {}, "hall_temp.>", 0},
        {"moved", [this] { device(temp)->set(DeviceClass::F_location, Variant(QStringLiteral("Den"))); }, "den_warmth.>", 1},
        {"point in use", [this] { tables.pointUsed[3][2] = 1; addDevice("[", "3", "Shed", "Switch"); }, "shed_switch.>", 1},
        {"point out of use", [this] { tables.pointUsed[3][2] = 0; }, "shed_switch.>", 0},
        {"another interface", [this] { device(relay)->set(DeviceClass::F_interface, Variant(QStringLiteral("Other"))); },
         "porch_light.>", 0},
        {"variable added", [this] { tables.varUsed[9] = 1; addDevice("Q", "10", "Loft", "Heat"); }, "loft_heat.>", 1},
        {"device removed", [this] { int ref = device(temp)->get(QStringLiteral("ref")).toLong(); m_hs->DeleteDevice(ref); },
         "den_warmth.>", 0},
    };
    for (const auto &c : cases) {
        settle(250); // the reply timer idle again: each answer goes out at once
        c.apply();
        EXPECT_EQ(answered(QString::fromLatin1(c.target)), c.replies) << c.change;
    }
}

// Matching a new target costs a walk of the endpoints; a flood of distinct
// targets is bounded per burst, with one log entry, while targets already
// matched are still answered.
TEST_F(BscTest, MatchingNewTargetsIsBoundedPerBurst)
{
    BscEndpoints::instance().setMatchBudget(6 * 100); // six endpoints: a hundred new targets
    BSCQuery(QStringLiteral("src:hall_temp.>"), QStringLiteral("peer.known"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 1));
    for (int i = 0; i < 500; ++i)
        BSCQuery(QStringLiteral("src:nomatch%1.>").arg(i), QStringLiteral("peer.flood"));
    BSCQuery(QStringLiteral("src:nomatch999.>"), QStringLiteral("peer.new"));
    settle(250);
    BSCQuery(QStringLiteral("src:hall_temp.>"), QStringLiteral("peer.known2"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 2)) << "a target matched before is still answered";
    ASSERT_TRUE(waitForSent(QStringLiteral("Tessera.Event"), 1));
    settle(100);
    EXPECT_EQ(logData(), QStringList{"BSCQuery: too many queries to match, queries refused"});
    // The next burst matches again.
    settle(1000);
    BSCQuery(QStringLiteral("src:attic_fan.>"), QStringLiteral("peer.later"));
    EXPECT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 3));
}

TEST_F(BscTest, QueryTargetsSelectEndpoints)
{
    BSCQuery(QStringLiteral("src"));
    BSCQuery(QStringLiteral("src:*.*.relay"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 1));
    BSCQuery(QStringLiteral("src:HALL_TEMP.>"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 2));
    settle(500);
    EXPECT_EQ(infoSources(), QStringList({"porch_light.sio16_x0____pt_1.relay", "hall_temp.quillon_var__v004.index"}));
}

TEST_F(BscTest, SecondQueryFollowsTheFirstQueriesReplies)
{
    // Five endpoints, then three more asked for 100 ms after the first reply.
    BSCQuery(QStringLiteral("src:>"));
    settle(100);
    BSCQuery(QStringLiteral("src:*.*.index"));
    ASSERT_TRUE(waitForSent(QStringLiteral("xAPBSC.info"), 9, 20000));
    const QList<SentMessage> infos = sentOf(QStringLiteral("xAPBSC.info"));
    EXPECT_EQ(infoSources().mid(6), QStringList({"hall_temp.quillon_var__v004.index",
                                                 "cellar_level.quillon_var__v064.index",
                                                 "attic_fan.quillon_var__v127.index"}));
    EXPECT_GE(infos[6].atMs - infos[0].atMs, 6 * 180);
}

TEST_F(BscTest, CommandsByIdReachTheirPoints)
{
    tables.addUnit(4, 13, QStringLiteral("\\"));
    tables.pointUsed[4][3] = 1;
    addDevice("\\", "4", "Shed", "Pump", 1);
    const struct { const char *id; const char *level; const char *call; } cases[] = {
        {"05", "5", "Nothing,Q,5,19,5,0,0"},
        {"5", "6", "Nothing,Q,5,19,6,0,0"},
        {"41", "7", "Nothing,R,1,19,7,0,0"},
        {"80", "8", "Nothing,R,64,19,8,0,0"},
        {"81", "9", "Nothing,[,1,19,9,0,0"},
        {"82", "10", "Nothing,[,2,19,10,0,0"},
        {"94", "11", "Nothing,\\,4,19,11,0,0"},
        {"16383", "0", nullptr}, {"123", "1", nullptr}, {"0", "1", nullptr}, {"", "1", nullptr},
        {"06", "1", nullptr},    // variable 5 not in use
        {"83", "1", nullptr},    // point 3 not in use
        {"A1", "1", nullptr},    // beyond the unit map
        {"1-", "1", nullptr}, {"zz", "1", nullptr},
    };
    for (const auto &c : cases) {
        plugin->calls.clear();
        BSCCmd(QStringLiteral("tvk.Korvane.pc:>"), QString::fromLatin1(c.id), QStringLiteral("ON"), QString::fromLatin1(c.level));
        drainWrites();
        EXPECT_EQ(setIOCalls(), c.call ? QStringList{QString::fromLatin1(c.call)} : QStringList()) << c.id;
    }
}

TEST_F(BscTest, WildcardCommandsSetEveryMatchingEndpoint)
{
    const auto command = [this](const char *target, const char *id, const char *level) {
        BSCCmd(QString::fromLatin1(target), QString::fromLatin1(id), QStringLiteral("ON"), QString::fromLatin1(level));
        drainWrites();
    };
    command("src:hall_temp.quillon_var__v004.index", "*", "16383");
    command("src:HALL_TEMP.QUILLON_VAR__V004.INDEX", "*", "3");
    command("src:porch_light.>", "*", "0");
    command("src:porch_light.>", "81", "1");
    command("src:porch_light.>", "05", "1"); // ID and target disagree
    command("src", "*", "1");
    command("src:garden_lamp.>", "*", "1");  // X10 units are not set by BSC commands
    command("src:>", "0104", "1");           // nor reached by their UID
    EXPECT_EQ(setIOCalls(), QStringList({"Nothing,Q,5,19,16383,0,0", "Nothing,Q,5,19,3,0,0",
                                         "Nothing,[,1,19,0,0,0", "Nothing,[,1,19,1,0,0"}));
    plugin->calls.clear();
    // Every endpoint in device order; the X10 unit decodes to no point and the foreign device is no endpoint.
    BSCCmd(QStringLiteral("src:>"), "*", "ON", "2");
    drainWrites();
    EXPECT_EQ(setIOCalls(), QStringList({"Nothing,Q,5,19,2,0,0", "Nothing,R,1,19,2,0,0", "Nothing,R,64,19,2,0,0",
                                         "Nothing,[,1,19,2,0,0", "Nothing,[,2,19,2,0,0"}));
}

TEST_F(BscTest, LevelsThatDoNotFitAreLoggedAndSetNothing)
{
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "32768");
    BSCCmd(QStringLiteral("src:>"), "*", "ON", "99999999999");
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "-32769");
    // Below 0 the controller would read a large unsigned value.
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "-5");
    BSCCmd(QStringLiteral("src:>"), "*", "ON", "-1");
    EXPECT_TRUE(setIOCalls().isEmpty());
    // Five refusals of one kind: the first is logged, the others counted for the minute's entry.
    ASSERT_TRUE(waitForSent(QStringLiteral("Tessera.Event"), 1));
    settle(100);
    ASSERT_EQ(logData().size(), 1);
    EXPECT_TRUE(logData().first().startsWith(QStringLiteral("BSCCmd Line "))) << logData().first().toStdString();
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "32767");
    BSCCmd(QStringLiteral("src:>"), "41", "ON", "-0.4"); // rounds to 0
    drainWrites();
    EXPECT_EQ(setIOCalls(), QStringList({"Nothing,Q,5,19,32767,0,0", "Nothing,R,1,19,0,0,0"}));
}

TEST_F(BscTest, TheFormUnloadedDuringAWriteIsNotTouchedAfterIt)
{
    // The plug-in's wait for the controller lets the program's exit run,
    // which unloads the bridge's form while its write is under way.
    plugin->duringCall = [this](const QString &) {
        plugin->duringCall = nullptr;
        CommAndTimer::unload();
    };
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "1");
    settle(50);
    EXPECT_EQ(setIOCalls(), QStringList{"Nothing,Q,5,19,1,0,0"});
    // A later command finds a new, idle form.
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "2");
    drainWrites();
    EXPECT_EQ(setIOCalls(), QStringList({"Nothing,Q,5,19,1,0,0", "Nothing,Q,5,19,2,0,0"}));
}

TEST_F(BscTest, MissingPlugInIsLoggedAndTheNextCommandWorks)
{
    gPluginInstance.reset();
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "1");
    ASSERT_TRUE(waitForSent(QStringLiteral("Tessera.Event"), 1));
    EXPECT_TRUE(logData().first().startsWith(QStringLiteral("SetBSCPoint Line ")));
    gPluginInstance = plugin;
    BSCCmd(QStringLiteral("src:>"), "05", "ON", "1");
    drainWrites();
    EXPECT_EQ(setIOCalls(), QStringList{"Nothing,Q,5,19,1,0,0"});
}

TEST(BscStatusText, StatusAndOnOffConversions)
{
    EXPECT_EQ(StatusToOnOff(2), "ON");
    for (int s : {0, 3, 4, 17, -1})
        EXPECT_EQ(StatusToOnOff(s), "OFF") << s;
    EXPECT_EQ(OnOffToStatus("On"), 2);
    EXPECT_EQ(OnOffToStatus("ON"), 2);
    for (const char *t : {"off", "toggle", "", " on"})
        EXPECT_EQ(OnOffToStatus(QString::fromLatin1(t)), 3) << t;
}

} // namespace
