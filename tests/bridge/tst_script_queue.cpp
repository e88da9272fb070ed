// The user script's queue and the periodic clock, driven tick by tick on a
// clock of the test's own: the timers are read, never waited for.
#include "ScriptTestSupport.h"

#include "automation/MemoryBudget.h"

#include "bridge/CommAndTimer.h"
#include "bridge/DeviceMessageClass.h"
#include "bridge/ReceiveMessages.h"
#include "bridge/ScriptQueue.h"

#include "controller/PluginState.h"

#include "host/HostGlobals.h"
#include "host/TaggedMembers.h"

#include "ScriptControl.h"
#include "script/Interpreter.h"

#include <cstdlib>

namespace {

const char kRecorder[] =
    "Dim calls\r\n"
    "Sub Main(tag)\r\n"
    "  If xap.Request(\"lastevent\") Is Nothing Then calls = calls & \"<nothing>\"\r\n"
    "  calls = calls & \"[\" & tag & \"]\"\r\n"
    "End Sub\r\n";

DeviceMessageClassPtr recordOf(const QString &tag)
{
    auto r = std::make_shared<DeviceMessageClass>();
    r->Tag = tag;
    return r;
}

class ScriptQueueTest : public ScriptTest
{
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        gPlugin.ScriptPeriod = "0";
    }
    void TearDown() override
    {
        gPlugin.ScriptPeriod = "0";
        ScriptTest::TearDown();
    }
    QString calls() { return evalMain("calls").toText(); }
    VbTimer &periodic() { return CommAndTimer::instance().PeriodicScriptTimer; }

    // Runs the periodic clock on the test's clock for `seconds`: each tick
    // comes when its interval has passed; queued runs are drained at once.
    // Returns the times of the runs; `ticks` gets every tick's interval.
    QList<int> runClock(int seconds, QList<int> *ticks = nullptr)
    {
        QList<int> runs;
        int now = 0;
        while (periodic().isEnabled() && periodic().interval() > 0) {
            const int step = periodic().interval() / 1000;
            if (now + step > seconds)
                break;
            now += step;
            if (ticks)
                ticks->append(step);
            PeriodicScriptTimer_Timer();
            if (PendingScriptEvents() > 0) {
                runs.append(now);
                drain();
            }
        }
        return runs;
    }
};

TEST_F(ScriptQueueTest, EventsQueuedBeforeTheTickRunOldestFirstInOneTick)
{
    writeScript(kRecorder);
    InitScriptControl();
    VbTimer &timer = CommAndTimer::instance().ScriptQueueTimer;
    QueueDeviceEvent(recordOf("one"));
    EXPECT_TRUE(timer.isEnabled());
    EXPECT_EQ(timer.interval(), 5);
    QueueDeviceEvent(recordOf("two"));
    QueueDeviceEvent(nullptr);
    EXPECT_EQ(timer.interval(), 5);
    drain();
    EXPECT_EQ(calls(), "[one][two]<nothing>[]");
    EXPECT_FALSE(timer.isEnabled());
    EXPECT_EQ(gCurrentScriptRecord, nullptr);

    // And the real timer does the same by itself.
    QueueDeviceEvent(recordOf("three"));
    ASSERT_TRUE(waitUntil([&] { return !timer.isEnabled(); }));
    EXPECT_EQ(calls(), "[one][two]<nothing>[][three]");
    EXPECT_EQ(gCurrentScriptRecord->get("Tag").toString(), "three");
}

// A stop signal comes before the event loop begins the stop itself: messages
// received in between queue no run, or the stop would drop them in a second
// batch with an entry of its own. (In a child process: the signal's flag is
// never cleared.)
TEST_F(ScriptQueueTest, NoRunIsQueuedOnceAStopWasSignalled)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            writeScript(kRecorder);
            InitScriptControl();
            QueueDeviceEvent(recordOf("before"));
            const bool queued = PendingScriptEvents() == 1;
            Interpreter::requestStop();
            QueueDeviceEvent(recordOf("after"));
            QueueDeviceEvent(nullptr);
            std::_Exit(queued && PendingScriptEvents() == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ScriptQueueTest, AFilterEventForALoadedRecordPassesItsTag)
{
    writeIni("[Received]\r\nacme.wx.pc~Weather.Report=Roof;1\r\n[Devices]\r\nRoof=1/1/2000\r\n");
    writeScript(kRecorder);
    InitReceiveMessages();
    receive(message("Weather.Report", QString(), {{"weather.report", {"TempC=3"}}}, "acme.wx.pc"));
    drain();
    EXPECT_EQ(calls(), "[Roof]");
    EXPECT_EQ(gCurrentScriptRecord, gDeviceDictionary->item(Variant("roof")).toObject());
}

TEST_F(ScriptQueueTest, PeriodOf150RunsEvery150SecondsInTicksOf30And60)
{
    writeScript(kRecorder);
    InitScriptControl();
    gPlugin.ScriptPeriod = "150";
    ProgramPeriodicScript();
    EXPECT_TRUE(periodic().isEnabled());
    QList<int> ticks;
    EXPECT_EQ(runClock(600, &ticks), QList<int>({150, 300, 450, 600}));
    EXPECT_EQ(ticks.mid(0, 6), QList<int>({30, 60, 60, 30, 60, 60}));
    EXPECT_EQ(calls(), "<nothing>[]<nothing>[]<nothing>[]<nothing>[]");
}

TEST_F(ScriptQueueTest, TableOfPeriods)
{
    const struct {
        const char *period;
        QList<int> runs;
    } cases[] = {
        {"120", {120, 240, 360}}, {"90", {90, 180, 270, 360}}, {"60", {60, 120, 180, 240, 300, 360}},
        {"45", {45, 90, 135, 180, 225, 270, 315, 360}}, {"0", {60, 120, 180, 240, 300, 360}},
        {"59.5", {60, 120, 180, 240, 300, 360}}, {"abc", {}}, {"", {}},
    };
    for (const auto &c : cases) {
        gPlugin.ScriptPeriod = c.period;
        ProgramPeriodicScript();
        EXPECT_EQ(runClock(360), c.runs) << c.period;
    }
}

TEST_F(ScriptQueueTest, APeriodThatCannotBeCountedTurnsTheClockOffWithALogEntry)
{
    for (const char *period : {"-5", "1e12"}) {
        gPlugin.ScriptPeriod = "60";
        ProgramPeriodicScript();
        ASSERT_TRUE(periodic().isEnabled());
        gPlugin.ScriptPeriod = period;
        ProgramPeriodicScript();
        EXPECT_FALSE(periodic().isEnabled()) << period;
        // Changed while running: the run due still comes, then the clock stops.
        gPlugin.ScriptPeriod = "60";
        ProgramPeriodicScript();
        gPlugin.ScriptPeriod = period;
        EXPECT_EQ(runClock(600), QList<int>({60})) << period;
        EXPECT_FALSE(periodic().isEnabled());
        drain();
    }
    EXPECT_EQ(logData().filter("cannot be counted").size(), 4);
}

TEST_F(ScriptQueueTest, ANewPeriodFromThePageTakesEffectAfterTheNextRun)
{
    gPlugin.ScriptPeriod = "60";
    ProgramPeriodicScript();
    SetScriptPeriod("150");
    EXPECT_EQ(runClock(360), QList<int>({60, 210, 360}));
    SetScriptPeriod("off");
    EXPECT_FALSE(periodic().isEnabled());
    EXPECT_TRUE(runClock(600).isEmpty());
}

// A tick that comes while a run is going on (a script that waits) returns:
// the drain in progress takes the entries.
class Ticker : public DispatchObject<Ticker>
{
public:
    static void describe(DispatchTable<Ticker> &t)
    {
        t.name("Ticker");
        t.raw("Tick", [](Ticker &, CallKind, std::vector<Variant> &) {
            QueueDeviceEvent(recordOf("late"));
            ScriptQueueTimer_Timer();
            return Variant();
        });
    }
};

TEST_F(ScriptQueueTest, ATickDuringARunDoesNotStartASecondDrain)
{
    writeScript("Dim calls\r\nSub Main(tag)\r\n calls = calls & \"(\" & tag\r\n"
                " If tag = \"first\" Then ticker.Tick\r\n calls = calls & \")\"\r\nEnd Sub\r\n");
    InitScriptControl();
    CommAndTimer::instance().ScriptControl1->AddObject("ticker", std::make_shared<Ticker>());
    QueueDeviceEvent(recordOf("first"));
    QueueDeviceEvent(recordOf("second"));
    drain();
    EXPECT_EQ(calls(), "(first)(second)(late)");
    EXPECT_FALSE(CommAndTimer::instance().ScriptQueueTimer.isEnabled());
}

// "Read Script" while a run is going on: the engine is reset once that run
// ends, and the entries still queued run with the script read again.
class Reloader : public DispatchObject<Reloader>
{
public:
    static void describe(DispatchTable<Reloader> &t)
    {
        t.name("Reloader");
        t.raw("Reload", [](Reloader &r, CallKind, std::vector<Variant> &) {
            r.rewrite();
            InitScriptControl();
            return Variant();
        });
    }
    std::function<void()> rewrite;
};

TEST_F(ScriptQueueTest, ReadingTheScriptDuringARunWaitsForTheRunToEnd)
{
    // The old script keeps its trace in a global variable, which outlives the engine's reset.
    writeScript("Sub Main(tag)\r\n SaveVar \"reloadTrace\", GetVar(\"reloadTrace\") & \"old:\" & tag & \" \"\r\n"
                " If tag = \"first\" Then reloader.Reload\r\n"
                " SaveVar \"reloadTrace\", GetVar(\"reloadTrace\") & \"done \"\r\nEnd Sub\r\n");
    InitScriptControl();
    auto reloader = std::make_shared<Reloader>();
    reloader->rewrite = [this] {
        writeScript("Dim calls\r\nSub Main(tag)\r\n calls = calls & \"new:\" & tag & \" \"\r\nEnd Sub\r\n");
    };
    CommAndTimer::instance().ScriptControl1->AddObject("reloader", reloader);
    QueueDeviceEvent(recordOf("first"));
    QueueDeviceEvent(recordOf("second"));
    drain();
    // The first run finished on the old code; the second, already queued,
    // ran on the script read again.
    EXPECT_EQ(runSnippet("", "GetVar(\"reloadTrace\")").toText(), "0old:first done ");
    QueueDeviceEvent(recordOf("third"));
    drain();
    EXPECT_EQ(calls(), "new:second new:third ");
}

TEST_F(ScriptQueueTest, ScriptErrorsAreLoggedAndTheDrainGoesOn)
{
    writeScript("Dim calls\r\nSub Main(tag)\r\n  calls = calls & tag\r\n  If tag = \"bad\" Then x = 1 / 0\r\nEnd Sub\r\n");
    InitScriptControl();
    QueueDeviceEvent(recordOf("a"));
    QueueDeviceEvent(recordOf("bad"));
    QueueDeviceEvent(recordOf("b"));
    drain();
    EXPECT_EQ(calls(), "abadb");
    ASSERT_TRUE(!logData().filter("Script Run Error").isEmpty());
    EXPECT_EQ(logData().filter("Script Run Error").first(), "Script Run Error 11 - Division by zero@ Script Line 4 col 23");
}

TEST_F(ScriptQueueTest, ASyntaxErrorIsLoggedWithItsPlaceAndNothingRuns)
{
    writeScript("Sub Main(tag)\r\n  If Then\r\nEnd Sub\r\n");
    InitScriptControl();
    QueueDeviceEvent(recordOf("a"));
    drain();
    EXPECT_EQ(PendingScriptEvents(), 0);
    ASSERT_TRUE(!logData().filter("Error in script syntax").isEmpty());
    const QString entry = logData().filter("Error in script syntax").first();
    EXPECT_TRUE(entry.startsWith("Error in script syntax / xaptvkKorvane.txt ")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("@ Line 2 col ")) << entry.toStdString();
}

TEST_F(ScriptQueueTest, ARunawayScriptEndsAtTheTimeOut)
{
    writeScript("Dim calls\r\nSub Main(tag)\r\n  calls = calls & tag\r\n  If tag = \"loop\" Then\r\n"
                "    Do : Loop\r\n  End If\r\nEnd Sub\r\n");
    InitScriptControl();
    EXPECT_EQ(CommAndTimer::instance().ScriptControl1->Timeout(), 60000);
    CommAndTimer::instance().ScriptControl1->setTimeout(300);
    QueueDeviceEvent(recordOf("loop"));
    QueueDeviceEvent(recordOf("after"));
    drain();
    EXPECT_EQ(calls(), "loopafter");
    ASSERT_TRUE(!logData().filter("Script Run Error").isEmpty());
}

TEST_F(ScriptQueueTest, WithoutAScriptEntriesAreStillTakenAndAReadAfterDeletionStopsRuns)
{
    InitScriptControl();
    EXPECT_EQ(StartupScriptObject(), nullptr);
    QueueDeviceEvent(recordOf("x"));
    drain();
    EXPECT_EQ(PendingScriptEvents(), 0);
    EXPECT_EQ(gCurrentScriptRecord->get("Tag").toString(), "x");

    writeScript(kRecorder);
    InitScriptControl();
    ASSERT_NE(StartupScriptObject(), nullptr);
    QFile::remove(m_dir.path() + "/Scripts/xaptvkKorvane.txt");
    InitScriptControl();
    EXPECT_EQ(StartupScriptObject(), nullptr);
    QueueDeviceEvent(recordOf("y"));
    drain();
    EXPECT_EQ(PendingScriptEvents(), 0);
}

TEST_F(ScriptQueueTest, AFloodOfEventsIsBoundedWithOneLogEntry)
{
    std::vector<DeviceMessageClassPtr> records;
    for (int i = 0; i < kMaxPendingScriptEvents + 50; ++i) {
        records.push_back(recordOf(QString::number(i)));
        QueueDeviceEvent(records.back());
    }
    EXPECT_EQ(PendingScriptEvents(), kMaxPendingScriptEvents);
    drain();
    QueueDeviceEvent(nullptr);
    EXPECT_EQ(PendingScriptEvents(), 1);
    EXPECT_EQ(logData().filter("further events are dropped").size(), 1);
}

// Many messages for one record make one run, which reads the record as the
// last of them left it; a message that comes while the run goes on makes another.
TEST_F(ScriptQueueTest, ARecordThatWaitsIsNotQueuedAgain)
{
    writeScript(kRecorder);
    InitScriptControl();
    const DeviceMessageClassPtr roof = recordOf("roof");
    const DeviceMessageClassPtr door = recordOf("door");
    for (int i = 0; i < 1000; ++i) {
        QueueDeviceEvent(roof);
        QueueDeviceEvent(door);
        QueueDeviceEvent(nullptr);
    }
    EXPECT_EQ(PendingScriptEvents(), 3);
    drain();
    EXPECT_EQ(calls(), "[roof][door]<nothing>[]");
    QueueDeviceEvent(roof);
    EXPECT_EQ(PendingScriptEvents(), 1);
    drain();
    EXPECT_EQ(calls(), "[roof][door]<nothing>[][roof]");
}

// Runs of a slow script: a tick takes a slice of the queue and leaves the rest
// to later ticks, in order, so the event loop turns between them.
TEST_F(ScriptQueueTest, ASlowScriptRunsASliceATick)
{
    writeScript("Dim calls\r\nSub Main(tag)\r\n  calls = calls & tag & \",\"\r\n  t = Timer\r\n"
                "  Do While Timer - t < 0.005 And Timer >= t\r\n  Loop\r\nEnd Sub\r\n");
    InitScriptControl();
    std::vector<DeviceMessageClassPtr> records;
    QString wanted;
    for (int i = 0; i < 200; ++i) {
        records.push_back(recordOf(QString::number(i)));
        QueueDeviceEvent(records.back());
        wanted += QString::number(i) + ",";
    }
    ScriptQueueTimer_Timer();
    // 200 runs of 5 ms are a second; one tick takes some 20 ms of them.
    EXPECT_GT(PendingScriptEvents(), 100);
    EXPECT_LT(PendingScriptEvents(), 200);
    EXPECT_TRUE(CommAndTimer::instance().ScriptQueueTimer.isEnabled()) << "the rest waits for the next tick";
    drain();
    EXPECT_EQ(calls(), wanted);
}

} // namespace

// Objects of the script read before that the program keeps become Nothing at "Read Script",
// with one log entry; what else the program keeps stays as it was.
struct KeptObjectRow {
    const char *name;
    const char *keep;  // run by the first script's Main
    const char *check; // true when read by the script read again
    int dropped;
};

const KeptObjectRow kKeptObjectRows[] = {
    {"SaveVar", "SaveVar \"keptObj\", New K", "GetVar(\"keptObj\") Is Nothing", 1},
    {"SaveVarOfADictionary",
     "Dim d: Set d = CreateObject(\"Scripting.Dictionary\"): d.Add \"k\", New K: d.Add \"n\", 5: "
     "SaveVar \"keptDict\", d",
     "GetVar(\"keptDict\")(\"k\") Is Nothing And GetVar(\"keptDict\")(\"n\") = 5", 1},
    {"SaveVarOfAnArray", "SaveVar \"keptArr\", Array(1, New K, Array(New K))",
     "GetVar(\"keptArr\")(1) Is Nothing And GetVar(\"keptArr\")(2)(0) Is Nothing And GetVar(\"keptArr\")(0) = 1", 2},
    {"ProcedureReference", "SaveVar \"keptRef\", GetRef(\"Main\")", "GetVar(\"keptRef\") Is Nothing", 1},
    {"RecordCollection", "xap.Request(\"roof\").Add New K, \"obj\"",
     "xap.Request(\"roof\")(\"obj\") Is Nothing And xap.Request(\"roof\")(\"k\") = \"v\"", 1},
    {"RecordLink", "Set xap.Request(\"lastevent\").Link = New K", "xap.Request(\"lastevent\").Link Is Nothing", 1},
    {"DeviceField", "Set xap.GetDevice(1).CustomStatus = New K", "xap.GetDevice(1).CustomStatus Is Nothing", 1},
    {"EventCallback", "xap.RegisterEventCB 3, New K", "True", 2},
    {"OnlyTexts", "SaveVar \"keptText\", \"text\"", "GetVar(\"keptText\") = \"text\"", 0},
};

class KeptObjects : public ScriptQueueTest, public ::testing::WithParamInterface<KeptObjectRow>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, KeptObjects, ::testing::ValuesIn(kKeptObjectRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(KeptObjects, BecomeNothingWhenTheScriptIsReadAgain)
{
    auto roof = recordOf("roof");
    roof->addItem("k", "v");
    gDeviceDictionary->add(Variant(QStringLiteral("roof")), Variant(ObjectPtr(roof)));
    addDevice("A", "1", "hall", "lamp");
    writeScript(QByteArray("Dim gCount\r\nClass K\r\n Public Sub TSEvent(t)\r\n  gCount = gCount + 1\r\n End Sub\r\n"
                           "End Class\r\nSub Main(tag)\r\n ")
                + GetParam().keep + "\r\nEnd Sub\r\n");
    InitScriptControl();
    QueueDeviceEvent(recordOf("go"));
    drain();
    ASSERT_TRUE(logData().filter("Script Run Error").isEmpty()) << logData().join('\n').toStdString();

    writeScript("Sub Main(tag)\r\nEnd Sub\r\n");
    InitScriptControl();
    EXPECT_TRUE(runSnippet("", GetParam().check).toBool()) << GetParam().check;
    const QStringList entries = logData().filter("Read Script:");
    if (GetParam().dropped == 0) {
        EXPECT_TRUE(entries.isEmpty()) << entries.join('\n').toStdString();
    } else {
        ASSERT_EQ(entries.size(), 1);
        EXPECT_TRUE(entries.first().contains(QString::number(GetParam().dropped) + " object"))
            << entries.first().toStdString();
    }
    for (int slot = 0; slot < 7; ++slot)
        for (const Variant &callback : EventCallbacks(slot).items())
            EXPECT_FALSE(callback.toObject()) << "a callback of the old script is still registered";
    // A second reading finds nothing more to drop.
    InitScriptControl();
    EXPECT_EQ(logData().filter("Read Script:").size(), entries.size());
    for (int slot = 0; slot < 7; ++slot)
        EventCallbacks(slot).clear();
}

// What scripts keep beyond their runs may fill the budget; the user's script file read again
// still loads and runs (a queued record's run and the periodic run), and once the script lets
// go of what it kept, its own Execute and ExecuteGlobal compile again.
struct FullBudgetRow {
    const char *name;
    const char *fill;    // one step of the filling loop, over i; the loop stops at the first error
    const char *release; // run by the script read again
};

const FullBudgetRow kFullBudgetRows[] = {
    {"SavedVariable", "SaveVar \"big\", Space(20000 * i)", "SaveVar \"big\", Empty"},
    {"SavedDictionaryGrownAfterSaving",
     "If i = 1 Then SaveVar \"dict\", CreateObject(\"Scripting.Dictionary\")\r\n GetVar(\"dict\").Add i, Space(20000)",
     "GetVar(\"dict\").RemoveAll"},
    {"RecordCollection", "xap.Request(\"roof\").Add Space(20000) & i, \"k\" & i",
     "Set c = xap.Request(\"roof\"): Do While c.Count > 0: c.Remove 1: Loop"},
    {"DeviceString", "xap.SetDeviceString \"A1\", Space(20000 * i), Empty", "xap.SetDeviceString \"A1\", \"\", Empty"},
    {"IniSetting", "xap.SaveIniSetting \"g\", \"k\", Space(20000 * i), \"kept.ini\"",
     "xap.SaveIniSetting \"g\", \"k\", \"\", \"kept.ini\""},
};

class FullBudget : public ScriptQueueTest, public ::testing::WithParamInterface<FullBudgetRow>
{
protected:
    void TearDown() override
    {
        MemoryBudget::setBytes(m_budget);
        ScriptQueueTest::TearDown();
    }
    // Read by the test, whose own reading is compiled script text: outside the full budget.
    qint32 read(const char *expression)
    {
        const qint64 full = MemoryBudget::bytes();
        MemoryBudget::setBytes(m_budget);
        const qint32 value = evalMain(QString::fromLatin1(expression)).toLong();
        MemoryBudget::setBytes(full);
        return value;
    }
    const qint64 m_budget = MemoryBudget::bytes();
};

INSTANTIATE_TEST_SUITE_P(Rows, FullBudget, ::testing::ValuesIn(kFullBudgetRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(FullBudget, ReadScriptStillLoadsWhatScriptsKeepBeyondTheirRuns)
{
    auto roof = recordOf("roof");
    roof->addItem("k", "v");
    gDeviceDictionary->add(Variant(QStringLiteral("roof")), Variant(ObjectPtr(roof)));
    addDevice("A", "1", "hall", "lamp");
    constexpr qint64 kRoom = 4 * 1024 * 1024;
    MemoryBudget::setBytes(MemoryBudget::used() + kRoom);
    writeScript(QByteArray("Sub Main(tag)\r\n On Error Resume Next\r\n SaveVar \"filled\", 0\r\n For i = 1 To 400\r\n ")
                + GetParam().fill
                + "\r\n  If Err.Number <> 0 Then Exit For\r\n Next\r\n SaveVar \"filled\", Err.Number\r\nEnd Sub\r\n");
    InitScriptControl();
    QueueDeviceEvent(recordOf("go"));
    drain();
    const qint32 filled = read("GetVar(\"filled\")");
    ASSERT_TRUE(filled == 7 || filled == 14) << filled << logData().join('\n').toStdString();

    // Larger than anything left in the budget.
    QByteArray pad = "Sub Pad()\r\n";
    for (int i = 0; i < 3000; ++i)
        pad += "  x" + QByteArray::number(i) + " = " + QByteArray::number(i) + " + 1\r\n";
    writeScript(QByteArray("Dim runs, refused, compiled\r\nSub Main(tag)\r\n On Error Resume Next\r\n runs = runs + 1\r\n")
                + " If runs = 1 Then\r\n  " + GetParam().release
                + "\r\n  ExecuteGlobal \"Dim g1: g1 = 1\": Execute \"y = 2\": compiled = Err.Number\r\n End If\r\n"
                  "End Sub\r\n"
                + pad + "End Sub\r\n");
    InitScriptControl();
    const qint64 loaded = MemoryBudget::used();
    EXPECT_TRUE(logData().filter("Error in script syntax").isEmpty()) << logData().join('\n').toStdString();
    QueueDeviceEvent(recordOf("go"));
    drain();
    QueueDeviceEvent(nullptr); // the periodic run
    drain();
    EXPECT_LT(MemoryBudget::used(), loaded - kRoom / 4) << "what was let go is still counted";
    EXPECT_EQ(read("runs"), 2) << logData().join('\n').toStdString();
    EXPECT_EQ(read("compiled"), 0) << "the script's own Execute after it let go of what it kept";
}
