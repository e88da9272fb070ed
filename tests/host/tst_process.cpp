#include "HostScriptSupport.h"

#include "host/HostClock.h"
#include "host/HostGlobals.h"
#include "host/Setup.h"

#include "core/RefusalLog.h"
#include "core/Globals.h"

#include "automation/ClassRegistry.h"
#include "automation/VbDate.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

using ProcessTest = HostScriptTest;

// A plug-in as the host's plug-in collection holds it: asked its name by name.
class NamedPlugin : public DispatchObject<NamedPlugin>
{
public:
    static void describe(DispatchTable<NamedPlugin> &t)
    {
        t.name(QStringLiteral("tspi"));
        t.get("name", &NamedPlugin::name);
        t.method("ConfigX10", &NamedPlugin::ConfigX10);
    }
    QString name() const
    {
        if (broken)
            throw VbError(VbErr::ObjectVariableNotSet);
        return pluginName;
    }
    void ConfigX10() { ++configured; }

    QString pluginName;
    bool broken = false;
    int configured = 0;
};

std::shared_ptr<NamedPlugin> addPlugin(const QString &name)
{
    if (!gPluginCollection)
        gPluginCollection = std::make_shared<Collection>();
    auto plugin = std::make_shared<NamedPlugin>();
    plugin->pluginName = name;
    gPluginCollection->add(Variant(ObjectPtr(plugin)), name);
    return plugin;
}

} // namespace

TEST_F(ProcessTest, ProgramAnswersAboutItself)
{
    exec("v = xap.Version : iv = xap.InterfaceVersion : tz = xap.TimeZoneName : xap.TimeZoneName = \"CET\"");
    exec("ap = xap.GetAppPath : sp = xap.GetScriptPath : upd = xap.NewUpdateAvailable");
    EXPECT_EQ(eval("v").toString(), "1.6.174");
    EXPECT_EQ(eval("iv").toLong(), 2);
    EXPECT_EQ(eval("TypeName(iv)").toString(), "Integer");
    EXPECT_EQ(eval("tz & xap.TimeZoneName").toString(), "ESTEST");
    EXPECT_EQ(eval("ap").toString(), m_dir.path());
    EXPECT_EQ(eval("sp").toString(), m_dir.path() + "/Scripts");
    EXPECT_EQ(eval("UBound(upd) & \"|\" & upd(0) & \"|\" & TypeName(upd(0))").toString(), "0||String");
    const double before = VbDate::oleNow();
    const double noon = eval("xap.solarnoon").toDate();
    EXPECT_GE(noon, before - 1.0 / 86400);
    EXPECT_LE(noon, VbDate::oleNow() + 1.0 / 86400);
    expectSent({});
}

TEST_F(ProcessTest, ValuesKeptForScripts)
{
    exec("xap.SetLastVoiceCommand \"lights on\" : xap.LastVoiceCommand = \"ignored\"");
    EXPECT_EQ(eval("xap.LastVoiceCommand").toString(), "lights on");
    exec("xap.NoLog = True");
    EXPECT_TRUE(eval("xap.NoLog").toBool());
    exec("xap.NoLog = False");
    EXPECT_FALSE(eval("xap.NoLog").toBool());
    exec("xap.DebugMode = 1");
    EXPECT_EQ(gDebugMode, 1);
    EXPECT_EQ(eval("xap.DebugMode").toLong(), 1);

    exec("a = xap.CreateVar(\"Counter\") : b = xap.CreateVar(\"COUNTER\") : xap.DeleteVar \"counter\" : c = xap.CreateVar(\"Counter\")");
    EXPECT_EQ(eval("a").toString(), "");
    EXPECT_EQ(eval("b").toString(), "Variable Already Exists");
    EXPECT_EQ(eval("c").toString(), "");
    exec("xap.DeleteVar \"never made\"");

    exec("Set s = xap.CreateClassString : s.Add \"ab\" : s.Add 12 : v1 = s.Value : s.Reset : s.Add \"z\"");
    EXPECT_EQ(eval("v1").toString(), "ab12");
    EXPECT_EQ(eval("s.Value").toString(), "z");
    EXPECT_FALSE(eval("xap.CreateClassString Is xap.CreateClassString").toBool()) << "a new builder every time";

    EXPECT_EQ(eval("xap.StringItem(\"red,green,blue\", 2, \",\")").toString(), "green");
    EXPECT_EQ(eval("xap.StringItem(\"red,green,blue\", 0, \",\")").toString(), "");
    EXPECT_EQ(eval("xap.StringItem(\"red,green,blue\", 4, \",\")").toString(), "");
    EXPECT_EQ(eval("xap.StringItem(\"red,green,blue\", 3, \",\")").toString(), "blue");
    EXPECT_EQ(eval("xap.StringItem(\"a::b::\", 3, \"::\")").toString(), "");
    EXPECT_EQ(eval("xap.StringItem(\"\", 1, \",\")").toString(), "");
    EXPECT_EQ(eval("xap.StringItem(\"whole\", 1, \"\")").toString(), "whole");
    expectSent({});
}

TEST_F(ProcessTest, SunTimesFromAScript)
{
    const double moment = VbDate::dateSerial(2024, 6, 21) + VbDate::timeSerial(22, 0, 0);
    HostClock::setSource([moment] { return moment; });
    exec("xap.ComputeSunriseAndSunset 51.5074, 0.1278, 0, True");
    EXPECT_EQ(eval("Hour(xap.SunriseDt) & \":\" & Minute(xap.SunriseDt)").toString(), "4:43");
    EXPECT_EQ(eval("FormatDateTime(xap.SunsetDt, 4)").toString(), "21:21");
    EXPECT_TRUE(eval("xap.NightTime(30)").toBool()) << "22:00 is past sunset and the half hour after it";
    EXPECT_FALSE(eval("xap.NightTime(45)").toBool());
    expectSent({});
}

TEST_F(ProcessTest, PluginsByNameAndTheCollection)
{
    auto quillon = addPlugin(QStringLiteral("Quillon"));
    auto other = addPlugin(QStringLiteral("Other"));
    EXPECT_EQ(eval("xap.GetPlugins.Count").toLong(), 2);
    EXPECT_EQ(eval("xap.GetPlugins(2).name").toString(), "Other");
    EXPECT_EQ(eval("xap.GetPlugins(\"quillon\").name").toString(), "Quillon");
    EXPECT_TRUE(eval("xap.plugin(\"QUILLON\") Is xap.GetPlugins(1)").toBool());
    EXPECT_TRUE(eval("xap.plugin(\"none\") Is Nothing").toBool());
    expectSent({});
    // A plug-in that cannot tell its name is passed over with a log entry.
    quillon->broken = true;
    EXPECT_TRUE(eval("xap.plugin(\"Other\") Is Nothing").toBool());
    expectSent({logText(kProgramName, "plugin Line 0 Object variable not set")});
}

TEST_F(ProcessTest, PluginsCollectionExistsBeforeAnyPluginStarted)
{
    gPluginCollection.reset();
    EXPECT_EQ(eval("xap.GetPlugins.Count").toLong(), 0);
    EXPECT_TRUE(gPluginCollection != nullptr);
}

TEST_F(ProcessTest, SystemIsTheHostOnceThePluginAskedForIt)
{
    EXPECT_TRUE(eval("xap.System Is Nothing").toBool());
    gHostForm = std::make_shared<::Setup>();
    ObjectPtr given = gHostForm->call(QStringLiteral("GetTSIface")).toObject();
    EXPECT_EQ(given, ObjectPtr(m_hs));
    EXPECT_TRUE(eval("xap.System Is xap").toBool());
    gHostForm.reset();
}

TEST_F(ProcessTest, LaunchStartsTheProgramWithItsParameters)
{
    const QString out = m_dir.path() + QStringLiteral("/launched.txt");
    exec(QStringLiteral("pid = xap.Launch(\"/bin/sh\", \"-c \"\"echo $0 > ") + out + QStringLiteral("\"\" quoted\")"));
    EXPECT_GT(eval("pid").toLong(), 0);
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(out).size() > 0; }));
    EXPECT_EQ(readFile(out), "quoted\n");
    exec("bad = xap.Launch(\"/no/such/program\")");
    EXPECT_EQ(eval("bad").toLong(), 0);
    // A script file of another system is there but cannot be run here.
    writeScript(QStringLiteral("Korvane_RenameFiles.vbs"), "WScript.Echo 1\r\n");
    exec("bad2 = xap.Launch(xap.GetScriptPath & \"/Korvane_RenameFiles.vbs\", \"x\")");
    EXPECT_EQ(eval("bad2").toLong(), 0);
    expectSent({logText(kProgramName, "Launch Line 0 File not found: /no/such/program"),
                logText(kProgramName, "Launch Line 0 Permission denied: " + scriptsPath("Korvane_RenameFiles.vbs"))});
}

TEST_F(ProcessTest, LaunchQuotesTheNameSoItMayHoldBlanks)
{
    writeScript(QStringLiteral("my tool.sh"), "#!/bin/sh\necho \"$1\" > \"$2\"\n");
    QFile::setPermissions(scriptsPath(QStringLiteral("my tool.sh")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString out = m_dir.path() + QStringLiteral("/tool.txt");
    exec(QStringLiteral("pid = xap.Launch(\"") + scriptsPath(QStringLiteral("my tool.sh")) + QStringLiteral("\", \"first ")
         + out + QStringLiteral("\", \"/ignored\")"));
    EXPECT_GT(eval("pid").toLong(), 0);
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(out).size() > 0; }));
    EXPECT_EQ(readFile(out), "first\n");
    expectSent({});
}

// A quote in the name cannot turn the rest of it into arguments: the name is refused, with a
// log entry, and nothing runs; so is a name holding a control character.
TEST_F(ProcessTest, LaunchRefusesANameWithAQuoteOrAControlCharacter)
{
    const QString marker = m_dir.path() + QStringLiteral("/x");
    exec(QStringLiteral("pid = xap.Launch(\"/bin/sh\"\" -c \"\"touch ") + marker + QStringLiteral("\")"));
    EXPECT_EQ(eval("pid").toLong(), 0);
    exec(QStringLiteral("pid2 = xap.Launch(\"/bin/sh\" & Chr(10) & \"-c\", \"-c \"\"touch ") + marker + QStringLiteral("\"\"\")"));
    EXPECT_EQ(eval("pid2").toLong(), 0);
    const QByteArray refused = "Launch Line 0 the program name holds a quote or a control character; not started";
    // The second refusal of the member, with the same error, is counted rather than sent.
    expectSent({logText(kProgramName, refused)});
    RefusalLog::Flush();
    expectSent({logText(kProgramName, refused + " (repeated 1 more times)")});
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(ProcessTest, KeysLogsThatNoWindowCanBeDriven)
{
    exec("xap.Keys \"abc~\", \"Notepad\", True");
    // A second call within the minute would be counted as a repeat of the first.
    RefusalLog::Reset();
    exec("xap.Keys \"x\", \"\"");
    expectSent({
        logText(kProgramName, "Keys: no window \"Notepad\" can be activated or sent keystrokes here; not sent: abc~"),
        logText(kProgramName, "Keys: no window \"\" can be activated or sent keystrokes here; not sent: x"),
    });
}

TEST_F(ProcessTest, WaitSecsLetsNoPostedEventThroughAndWaitEventsDoes)
{
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    exec("xap.WaitSecs 2");
    const qint64 waited = clock.elapsed();
    EXPECT_GE(waited, 1990);
    EXPECT_LT(waited, 20000);
    EXPECT_FALSE(fired) << "a timer tick waits until the wait is over";
    exec("xap.WaitEvents");
    EXPECT_TRUE(fired);
    expectSent({});
}

TEST_F(ProcessTest, WaitSecsOfNothingOrTooMuchReturnsAtOnce)
{
    QElapsedTimer clock;
    clock.start();
    exec("xap.WaitSecs 0 : xap.WaitSecs -5 : xap.WaitSecs \"\"");
    exec("xap.WaitSecs 2147484");
    EXPECT_LT(clock.elapsed(), 1500);
    expectSent({logText(kProgramName, "WaitSecs Line 0 Type mismatch"), logText(kProgramName, "WaitSecs Line 0 Overflow")});
}

TEST_F(ProcessTest, WaitSecsWaitsPastThirtyTwoSeconds)
{
    QElapsedTimer clock;
    clock.start();
    exec("xap.WaitSecs 33");
    EXPECT_GE(clock.elapsed(), 32990);
    EXPECT_LT(clock.elapsed(), 90000);
    expectSent({});
}

TEST_F(ProcessTest, PluginCallsByNameAsThePluginMakesThem)
{
    // The plug-in's own start and shutdown reach these members late-bound.
    auto quillon = addPlugin(QStringLiteral("Quillon"));
    EXPECT_EQ(m_hs->call(QStringLiteral("Version")).toString().left(1), "1");
    ObjectPtr app = ClassRegistry::instance().create(QStringLiteral("xaptvkKorvane.Application"));
    ObjectPtr found = app->call(QStringLiteral("GetPlugins"), {Variant(1)}).toObject();
    ASSERT_EQ(found, ObjectPtr(quillon));
    found->call(QStringLiteral("ConfigX10"));
    EXPECT_EQ(quillon->configured, 1);

    // The rename script of the Scripts folder, given the program folder in quotes.
    const QString rename = scriptsPath(QStringLiteral("Korvane_RenameFiles.vbs"));
    writeScript(QStringLiteral("Korvane_RenameFiles.vbs"), "#!/bin/sh\necho \"$1\" > \"$1/renamed.txt\"\n");
    QFile::setPermissions(rename, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const Variant pid = m_hs->call(QStringLiteral("Launch"), {Variant(rename), Variant("\"" + m_dir.path() + "\"")});
    EXPECT_GT(pid.toLong(), 0);
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(m_dir.path() + "/renamed.txt").size() > 0; }));
    EXPECT_EQ(readFile(m_dir.path() + "/renamed.txt"), (m_dir.path() + "\n").toLatin1());

    // The script run after the controller's programming tool.
    writeScript(QStringLiteral("Korvane_QPROSync.txt"),
                "Sub AfterQPRO(p)\r\n  xap.SetLastVoiceCommand \"synced [\" & p & \"]\"\r\nEnd Sub\r\n");
    m_hs->call(QStringLiteral("RunEx"), {Variant("Korvane_QPROSync.txt"), Variant("AfterQPRO"), Variant("")});
    EXPECT_EQ(gLastVoiceCommand, "synced []");
    expectSent({});
}
