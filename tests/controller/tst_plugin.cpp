#include "PluginTestSupport.h"

#include <QElapsedTimer>

#include "automation/ClassRegistry.h"
#include "automation/VbError.h"
#include "controller/CommandRing.h"
#include "controller/PluginHooks.h"
#include "controller/PluginRegistration.h"
#include "controller/UnitMappings.h"
#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/Setup.h"

TEST(CommandRingTest, KeepsOrderWrapsAndDropsTheFiftyFirst)
{
    CommandRing ring;
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(ring.push(RingEntry{"", "", 19, i, 0, 0}));
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(ring.take().brightness, i);
    // The indexes now sit past the middle: the next 50 wrap round.
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(ring.push(RingEntry{"", "", 19, 100 + i, 0, 0}));
    EXPECT_FALSE(ring.push(RingEntry{"", "", 19, 999, 0, 0}));
    EXPECT_EQ(ring.count(), 50);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(ring.take().brightness, 100 + i);
    EXPECT_TRUE(ring.isEmpty());
    ring.push(RingEntry{});
    ring.clear();
    EXPECT_EQ(ring.count(), 0);
}

// A write to a point that still waits takes the new value in its place; any
// other command, or a write to another point, takes a slot of its own.
TEST(CommandRingTest, WritesToAWaitingPointMerge)
{
    const struct
    {
        RingEntry second;
        bool merges;
    } cases[] = {
        {RingEntry{"81", "4", 19, 9, 0, 0}, true},    // the same variable
        {RingEntry{"81", "5", 19, 9, 0, 0}, false},   // another variable
        {RingEntry{"82", "4", 19, 9, 0, 0}, false},   // the second bank's variable 4
        {RingEntry{"[", "2", 101, 9, 3, 1}, true},    // a module point, named by module and point
        {RingEntry{"[", "2", 101, 9, 3, 2}, false},
        {RingEntry{"A", "4", 2, 9, 0, 0}, false},     // X10 requests never merge
        {RingEntry{"", "", 100, 9, 0, 0}, false},     // nor IR plays
    };
    for (const auto& c : cases) {
        CommandRing ring;
        ASSERT_TRUE(ring.pushMerging(RingEntry{"81", "4", 19, 1, 0, 0}));
        ASSERT_TRUE(ring.pushMerging(RingEntry{"[", "1", 101, 1, 3, 1}));
        ASSERT_TRUE(ring.pushMerging(c.second));
        EXPECT_EQ(ring.count(), c.merges ? 2 : 3) << c.second.command << " " << c.second.DeviceCode.toStdString();
        if (c.merges) {
            const RingEntry first = ring.take();
            const RingEntry second = ring.take();
            EXPECT_EQ((c.second.command == 19 ? first : second).brightness, 9) << "the latest value, in the first place";
        }
    }
    // A full ring still takes a value for a point that waits.
    CommandRing full;
    for (int i = 0; i < CommandRing::kCapacity; ++i)
        ASSERT_TRUE(full.pushMerging(RingEntry{"81", QString::number(i), 19, i, 0, 0}));
    EXPECT_TRUE(full.pushMerging(RingEntry{"81", "7", 19, 70, 0, 0}));
    EXPECT_FALSE(full.pushMerging(RingEntry{"81", "99", 19, 1, 0, 0}));
}

using PluginTest = PluginFixture;

// Once the controller left a command unanswered, commands fail at once with
// one log entry, until a byte comes from it again.
TEST_F(PluginTest, ASilentControllerFailsCommandsAtOnceUntilItAnswersAgain)
{
    startPlugin();
    gPlugin.ReplyTimeout = 1;
    sim->silent = true;
    loggedEntries().clear();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(plugin->QExec(Variant(), "", "4", 19, 1, 0, 0)) << "queued; it then waits out its time-out";
    EXPECT_GE(clock.elapsed(), 900);
    clock.restart();
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(plugin->QExec(Variant(), "", "5", 19, i, 0, 0));
        EXPECT_FALSE(plugin->Exec(Variant(), "A", "1", 2, 0, 0, 0).toBool());
    }
    EXPECT_LT(clock.elapsed(), 500) << "the refused commands waited for the controller";
    EXPECT_EQ(loggedEntries().filter("Controller not answering").size(), 1) << loggedEntries().join('|').toStdString();

    // It speaks again (a report of its own): commands go through.
    sim->silent = false;
    sim->sendX10(0, 0x66);
    ASSERT_TRUE(waitFor([&] { return plugin->QExec(Variant(), "", "6", 19, 66, 0, 0); }));
    EXPECT_TRUE(waitFor([&] { return sim->vars[6] == 66; }));
    EXPECT_EQ(sim->vars[5], 0) << "a refused command was carried out later";

    // A second silence is logged again, once.
    sim->silent = true;
    plugin->QExec(Variant(), "", "7", 19, 7, 0, 0);
    EXPECT_FALSE(plugin->QExec(Variant(), "", "8", 19, 8, 0, 0));
    EXPECT_FALSE(plugin->QExec(Variant(), "", "8", 19, 9, 0, 0));
    EXPECT_EQ(loggedEntries().filter("Controller not answering").size(), 2);
}

TEST_F(PluginTest, ConstantMembersByName)
{
    startPlugin();
    registerControllerSubsystem();
    ObjectPtr p = ClassRegistry::instance().create("xaptvkKorvane.tspi");
    EXPECT_EQ(tspi::InstanceCount(), 2);
    EXPECT_EQ(p->get("name").toString(), "xaptvkKorvane");
    EXPECT_EQ(p->get("capabilities").toLong(), 7);
    EXPECT_EQ(p->get("AccessLevel").toLong(), 1);
    EXPECT_EQ(p->get("MaxKeys").toLong(), 36);
    EXPECT_EQ(p->get("MaxDevices").toLong(), 28); // 1008 locations in the simulator
    gPlugin.IRLocationCount = 0;
    EXPECT_EQ(p->get("MaxDevices").toLong(), 14);
    EXPECT_EQ(p->get("MaxZones").toLong(), 33);   // two zone modules
    EXPECT_TRUE(p->call("IsMatchable", {Variant(79)}).toBool());
    EXPECT_FALSE(p->call("IsMatchable", {Variant(80)}).toBool());
    EXPECT_EQ(p->call("GetUnit", {Variant(9)}).toLong(), 13); // entry 9: the unit at address 10
    EXPECT_EQ(p->call("GetUnit", {Variant(128)}).toLong(), 0);
    EXPECT_EQ(p->call("GetDeviceStatus", {Variant("A"), Variant("1")}).toLong(), 0);
    EXPECT_TRUE(logged("GetDeviceStatus A1"));
    sim->vars[3] = 4660;
    ASSERT_TRUE(p->call("PollVars").toBool());
    EXPECT_EQ(p->call("GetVar", {Variant(3)}).toLong(), 4660);
    try {
        p->call("GetVar", {Variant(129)});
        FAIL() << "GetVar(129) must raise";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number, VbErr::SubscriptOutOfRange);
    }
    // A second object shares the one timer form.
    EXPECT_EQ(FrmTimer::instance(), &form());
}

TEST_F(PluginTest, RegistrationReadsOptionsAndRegistersTheMenu)
{
    QStringList menus;
    HostHooksInstance().acceptMenuCallbacks = [&](const QString& a, const QString& b, const QString&) {
        menus << a + "~" + b;
    };
    writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\nIncludeX10=1\r\nIncludeIO=0\r\n");
    int displayReloads = 0;
    PluginHooksInstance().loadDisplaySettings = [&] { ++displayReloads; };
    auto p = std::make_shared<tspi>();
    p->RegisterCallback(gHostForm);
    PluginHooksInstance() = PluginHooks();
    EXPECT_TRUE(gPlugin.Registered);
    EXPECT_TRUE(gPlugin.HostIsSetupForm);
    EXPECT_EQ(gPlugin.PluginHostRef, ObjectPtr(hs));
    EXPECT_TRUE(gPluginHostRegistered);
    EXPECT_EQ(menus, QStringList{"xaptvkKorvane~Setup"});
    EXPECT_TRUE(gPlugin.IncludeX10);
    EXPECT_FALSE(gPlugin.IncludeIO);
    EXPECT_EQ(displayReloads, 1);
    EXPECT_TRUE(logged("Registered with"));
}

TEST_F(PluginTest, InitMembersStartOnceAndShutdownActsOnce)
{
    startPlugin();
    const int blockReads = sim->count(QuillonSim::FrameKind::BlockRead);
    sim->clearRecord();
    EXPECT_EQ(plugin->InitIR(1), "");
    EXPECT_EQ(plugin->InitIO(1), "");
    EXPECT_TRUE(sim->received.isEmpty());
    EXPECT_GT(blockReads, 3);
    int ended = 0;
    PluginHooksInstance().termReceiveMessages = [&] { ++ended; };
    plugin->ShutdownIO();
    plugin->ShutDownX10();
    PluginHooksInstance() = PluginHooks();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(FrmTimer::instance(), nullptr);
    EXPECT_FALSE(gPlugin.CommsStarted);
    EXPECT_FALSE(gPlugin.PluginHostRef);
    EXPECT_FALSE(gPluginHostRegistered);
    EXPECT_TRUE(waitFor([&] { return !tcp->isConnected(); }));
}

TEST_F(PluginTest, RingCarriesOutFiftyInOrderAndDropsTheNext)
{
    startPlugin();
    sim->clearRecord();
    gPlugin.TransferBusy = true; // the loop stays out while a command is in progress
    for (int i = 0; i < 51; ++i)
        EXPECT_EQ(plugin->QExec(Variant(), "", QString::number(i % 100), 19, i, 0, 0), i < 50) << i;
    // Exec tells the bridge the same, as a Boolean.
    EXPECT_FALSE(plugin->Exec(Variant(), "A", "1", 2, 0, 0, 0).toBool());
    gPlugin.TransferBusy = false;
    form().loop.Timer3_Timer();
    const QList<QByteArray> frames = commands(0x29);
    ASSERT_EQ(frames.size(), 50);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(quint8(frames[i][3]), i) << i;
    EXPECT_EQ(sim->vars[49], 49);
    EXPECT_EQ(gPlugin.Ring.count(), 0);
}

TEST_F(PluginTest, ClosedLinkEmptiesTheRingAndTheNextCommandAfterReopeningRuns)
{
    startPlugin();
    gPlugin.PortOpenFlag = false;
    plugin->QExec(Variant(), "", "4", 19, 77, 0, 0);
    EXPECT_EQ(gPlugin.Ring.count(), 0);
    gPlugin.PortOpenFlag = true;
    sim->clearRecord();
    plugin->QExec(Variant(), "", "5", 19, 88, 0, 0);
    EXPECT_EQ(sim->vars[5], 88);
    EXPECT_EQ(sim->vars[4], 0);
    EXPECT_EQ(commands(0x29).size(), 1);
}

TEST_F(PluginTest, PlayCommandFollowsTheZoneRule)
{
    startPlugin();
    ASSERT_EQ(gPlugin.IRZoneModules, (QVector<int>{3, 9}));
    plugin->QExec(Variant(), "", "", 100, 40, 17, 0);
    plugin->QExec(Variant(), "", "", 100, 41, 0, 0);
    plugin->QExec(Variant(), "", "", 100, 42, 20, 0);
    plugin->QExec(Variant(), "", "", 100, 43, 5, 0);
    EXPECT_EQ(sim->irPlayed, (QList<int>{40, 41}));
    ASSERT_EQ(sim->irZonePlayed.size(), 2);
    EXPECT_EQ(sim->irZonePlayed[0], (QVector<int>{9, 2, 42}));
    EXPECT_EQ(sim->irZonePlayed[1], (QVector<int>{3, 4, 43}));
    // With one zone module the module index falls back to it.
    gPlugin.IRZoneModuleCount = 1;
    plugin->QExec(Variant(), "", "", 100, 44, 20, 0);
    EXPECT_EQ(sim->irZonePlayed.last(), (QVector<int>{3, 2, 44}));
    // Without zone modules everything plays on the controller.
    gPlugin.HasIRZoneModules = false;
    plugin->QExec(Variant(), "", "", 100, 45, 20, 0);
    EXPECT_EQ(sim->irPlayed.last(), 45);
    // Unknown codes are dropped without a frame.
    sim->clearRecord();
    plugin->QExec(Variant(), "", "", 55, 1, 0, 0);
    EXPECT_TRUE(sim->received.isEmpty());
}

// A write the silent controller refused leaves the host's device as it was:
// nothing is announced as set that never went out.
TEST_F(PluginTest, WritesRefusedForASilentControllerChangeNoDevice)
{
    startPlugin();
    selectAndCreate({0, 5, 70}, {});
    gPlugin.ReplyTimeout = 1;
    plugin->SetIO(Variant(), "[", "6", 19, 7, 0, 0);
    ASSERT_EQ(value("[6"), 7);
    sim->silent = true;
    plugin->SetIO(Variant(), "[", "6", 19, 8, 0, 0); // taken, and left unanswered
    bscAnnounced.clear();
    const int statusBefore = status("[6");
    const int valueBefore = value("[6");
    plugin->SetIO(Variant(), "[", "6", 19, 9, 0, 0);
    plugin->SetIO(Variant(), "\\", "7", 19, 1234, 0, 0);
    EXPECT_EQ(value("[6"), valueBefore);
    EXPECT_EQ(status("[6"), statusBefore);
    EXPECT_NE(value("\\7"), 1234);
    EXPECT_TRUE(bscAnnounced.isEmpty()) << bscAnnounced.join(' ').toStdString();
}

TEST_F(PluginTest, SetIOOnVariablesQueuesTheValueAndAnnouncesIt)
{
    startPlugin();
    selectAndCreate({0, 5, 70}, {});
    ASSERT_EQ(gPlugin.VarsHouseCode, '[');
    // Variable 5 as each announcement finds it: State and value stored together, before it.
    QList<QPair<int, int>> announced;
    HostHooksInstance().sendXapBSC = [&](const QString& dc) {
        bscAnnounced << dc;
        if (dc == "[6")
            announced.append({status(dc), value(dc)});
    };
    plugin->SetIO(Variant(), "[", "6", 2, 0, 0, 0);   // on with level 0 becomes 1
    EXPECT_EQ(sim->vars[5], 1);
    EXPECT_EQ(value("[6"), 1);
    EXPECT_TRUE(bscAnnounced.contains("[6"));
    plugin->SetIO(Variant(), "[", "6", 3, 40, 0, 0);  // off keeps its level
    EXPECT_EQ(sim->vars[5], 40);
    EXPECT_EQ(value("[6"), 40);
    plugin->SetIO(Variant(), "[", "6", 19, 0, 0, 0);
    ASSERT_GE(announced.size(), 3);
    for (const auto& [state, level] : announced)
        EXPECT_EQ(state, level != 0 ? 2 : 3) << "announced with value " << level;
    EXPECT_EQ(announced.last(), qMakePair(3, 0));
    plugin->SetIO(Variant(), "\\", "7", 19, 1234, 0, 0); // second house: variable 70
    EXPECT_EQ(sim->vars[70], 1234);
    EXPECT_EQ(value("\\7"), 1234);
    // Not a value command: nothing queued, nothing announced.
    sim->clearRecord();
    bscAnnounced.clear();
    plugin->SetIO(Variant(), "[", "6", 5, 9, 0, 0);
    EXPECT_TRUE(commands(0x29).isEmpty());
    EXPECT_TRUE(bscAnnounced.isEmpty());
    // A unit beyond the 64 of a house is refused.
    plugin->SetIO(Variant(), "[", "65", 19, 9, 0, 0);
    EXPECT_TRUE(commands(0x29).isEmpty());
    EXPECT_TRUE(logged("no controller variable for device [65"));
}

TEST_F(PluginTest, SetIOOnOutputsMirrorsAndCommandsThePoint)
{
    startPlugin();
    selectAndCreate({}, {{1, 9}, {1, 0}, {10, 2}});
    form().loop.Timer3_Timer(); // the first mirroring of the new devices
    const QString sio = houseOf(1), rly = houseOf(10);
    ASSERT_EQ(deviceProperty(sio + "10", "iomisc"), "1!11!9!0");
    ASSERT_EQ(deviceProperty(rly + "3", "iomisc"), "10!13!2!0");
    sim->clearRecord();
    bscAnnounced.clear();
    plugin->SetIO(Variant(), sio, "10", 2, 255, 0, 0);
    EXPECT_EQ(status(sio + "10"), 2);
    EXPECT_EQ(value(sio + "10"), 1) << "an output's value is 1 when on, whatever level switched it";
    EXPECT_EQ(bscAnnounced, QStringList{sio + "10"});
    ASSERT_EQ(commands(0x33).size(), 1);
    EXPECT_EQ(commands(0x33)[0].mid(2, 3), QByteArray::fromHex("0109FF"));
    EXPECT_EQ(sim->pointLevel(1, 9), 1);
    // The poll stored the relay as off with the value a command stores for off,
    // and switching it on with level 1 is announced.
    EXPECT_EQ(status(rly + "3"), 3);
    EXPECT_EQ(value(rly + "3"), 0);
    bscAnnounced.clear();
    plugin->SetIO(Variant(), rly, "3", 2, 1, 0, 0);
    EXPECT_EQ(bscAnnounced, QStringList{rly + "3"});
    EXPECT_EQ(value(rly + "3"), 1);
    plugin->SetIO(Variant(), rly, "3", 2, 7, 0, 0);
    plugin->SetIO(Variant(), rly, "3", 3, 0, 0, 0);
    EXPECT_EQ(status(rly + "3"), 3);
    EXPECT_EQ(value(rly + "3"), 0);
    // The same again: no value change, no announcement, but the command again.
    bscAnnounced.clear();
    sim->clearRecord();
    plugin->SetIO(Variant(), rly, "3", 3, 0, 0, 0);
    EXPECT_TRUE(bscAnnounced.isEmpty());
    ASSERT_EQ(commands(0x33).size(), 1);
    EXPECT_EQ(commands(0x33)[0].mid(2, 3), QByteArray::fromHex("0A0200"));
    // Levels beyond a byte are clamped; inputs and unmapped codes are left alone.
    plugin->SetIO(Variant(), rly, "3", 2, 300, 0, 0);
    EXPECT_EQ(quint8(commands(0x33).last()[4]), 255);
    sim->clearRecord();
    plugin->SetIO(Variant(), sio, "1", 2, 1, 0, 0);   // an input point
    plugin->SetIO(Variant(), "~", "1", 2, 1, 0, 0);   // no unit on this house code
    plugin->SetIO(Variant(), sio, "16", 2, 1, 0, 0);  // no such device
    EXPECT_TRUE(commands(0x33).isEmpty());
}

TEST_F(PluginTest, SetPointChangesTheHostOrTheControllerNotBoth)
{
    startPlugin();
    selectAndCreate({}, {{10, 0}});
    const QString rly = houseOf(10);
    sim->clearRecord();
    bscAnnounced.clear();
    plugin->SetPoint(10, 0, 1);
    EXPECT_EQ(status(rly + "1"), 2);
    EXPECT_EQ(value(rly + "1"), 1);
    EXPECT_EQ(bscAnnounced, QStringList{rly + "1"});
    EXPECT_TRUE(sim->received.isEmpty());
    plugin->SetPoint(7, 4, 1);   // no mapping for unit 7
    ASSERT_EQ(commands(0x33).size(), 1);
    EXPECT_EQ(commands(0x33)[0].mid(2, 3), QByteArray::fromHex("070401"));
}

TEST_F(PluginTest, UnregisteredObjectRefusesTheHostMembers)
{
    auto p = std::make_shared<tspi>();
    EXPECT_EQ(p->InitX10(1), "");
    EXPECT_EQ(p->InitIR(1), "");
    EXPECT_TRUE(gPlugin.IREnabled);
    EXPECT_EQ(p->InitIO(1), "");
    EXPECT_TRUE(gPlugin.IOEnabled);
    EXPECT_FALSE(gPlugin.CommsStarted);
    p->ConfigIO(); // no host plug-in to hand it to: nothing happens
}

TEST_F(PluginTest, WatchdogRestartsAFailedPluginOnTheSameLink)
{
    attachSim(Path::Tcp);
    gUseSerialComm = true;
    gSerialIPAddress = "127.0.0.1";
    gCommPort = QString::number(tcp->port());
    EXPECT_TRUE(PluginNameFails());
    RestartPlugin();
    ASSERT_TRUE(gPluginInstance);
    EXPECT_FALSE(PluginNameFails());
    EXPECT_TRUE(gPlugin.CommsStarted);
    EXPECT_TRUE(gPlugin.IOInitialised);
    ObjectPtr first = gPluginInstance;
    RestartPlugin();
    EXPECT_NE(gPluginInstance, first);
    EXPECT_EQ(tspi::InstanceCount(), 2); // the test still holds the first
    EXPECT_TRUE(gPlugin.CommsStarted);
    first.reset();
    sim->clearRecord();
    gPluginInstance->call("SetVar", {Variant(2), Variant(321)});
    EXPECT_EQ(sim->vars[2], 321);
    tspi::ShutdownInterface(false);
    gPluginInstance.reset();
    gPluginCollection.reset();
    gUseSerialComm = false;
    gSerialIPAddress.clear();
    gCommPort = "1";
}

namespace {
class FailingShutdown : public DispatchObject<FailingShutdown>
{
public:
    static void describe(DispatchTable<FailingShutdown> &t) { t.method("ShutdownIO", &FailingShutdown::ShutdownIO); }
    void ShutdownIO() { throw VbError(5); }
};
} // namespace

namespace {
class WatchedShutdown : public DispatchObject<WatchedShutdown>
{
public:
    static void describe(DispatchTable<WatchedShutdown> &t) { t.method("ShutdownIO", &WatchedShutdown::ShutdownIO); }
    void ShutdownIO() { stillThePlugin = gPluginInstance.get() == this; }
    bool stillThePlugin = false;
};
} // namespace

// While its ShutdownIO runs (and pumps events) the plug-in is still the program's plug-in, so
// nothing takes it for missing; afterwards it is released.
TEST_F(PluginTest, PluginStaysSetUntilItsShutdownReturns)
{
    registerControllerSubsystem();
    auto watched = std::make_shared<WatchedShutdown>();
    gPluginInstance = watched;
    Hooks().shutdownIO();
    EXPECT_TRUE(watched->stillThePlugin);
    EXPECT_FALSE(gPluginInstance);
    EXPECT_EQ(watched.use_count(), 1);
}

TEST_F(PluginTest, ExitReleasesThePluginEvenWhenItsShutdownFails)
{
    registerControllerSubsystem();
    auto failing = std::make_shared<FailingShutdown>();
    gPluginInstance = failing;
    EXPECT_THROW(Hooks().shutdownIO(), VbError);
    EXPECT_FALSE(gPluginInstance);
    EXPECT_EQ(failing.use_count(), 1);
}
