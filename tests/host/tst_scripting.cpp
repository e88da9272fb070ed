#include "HostScriptSupport.h"

#include "core/Logging.h"

#include "host/HostGlobals.h"
#include "host/HostHooks.h"
#include "host/IniCache.h"
#include "host/Script.h"

#include "core/Globals.h"
#include "core/IniTool.h"
#include "core/RefusalLog.h"

#include "automation/MemoryBudget.h"
#include "automation/VbDate.h"

#include "script/ScriptModule.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

namespace {

using ScriptingTest = HostScriptTest;

QString voice()
{
    return gLastVoiceCommand;
}

// Where no line of the script failed (a procedure that is not there, a wrong
// number of arguments), the place is what the engine ran last: left out.
QStringList placeless(QStringList logs)
{
    static const QRegularExpression place(QStringLiteral("@ Script Line -?\\d+ col -?\\d+$"));
    for (QString &log : logs)
        log.replace(place, QStringLiteral("@ Script Line"));
    return logs;
}

const QString kNotDefined = QStringLiteral("Script Run Error 35 - Sub or Function not defined@ Script Line");

} // namespace

TEST_F(ScriptingTest, RunExReturnsTheProcedureResult)
{
    writeScript("calc.txt", "Function Twice(p)\r\n  Twice = CLng(p) * 2\r\nEnd Function\r\n");
    exec("r = xap.RunEx(\"calc.txt\", \"Twice\", \"21\")");
    EXPECT_EQ(eval("r").toLong(), 42);
    QString file = "CALC.TXT", procedure = "twice", parameter = "5";
    EXPECT_EQ(m_hs->RunEx(file, procedure, parameter).toLong(), 10) << "names found without regard to case";
    expectSent({});
}

TEST_F(ScriptingTest, RunCallsMainInAFreshModuleEveryTime)
{
    writeScript("count.txt", "Dim n\nSub Main(p)\n  n = n + 1\n  xap.SetLastVoiceCommand \"run \" & n & \" [\" & p & \"]\"\nEnd Sub\n");
    exec("xap.Run \"count.txt\"");
    EXPECT_EQ(voice(), "run 1 []");
    exec("xap.Run \"count.txt\"");
    EXPECT_EQ(voice(), "run 1 []") << "the module's variables start empty again";
    // A different file of the same procedure names replaces the first.
    writeScript("other.txt", "Sub Main(p)\n  xap.SetLastVoiceCommand \"other\"\nEnd Sub\nFunction Extra()\nEnd Function\n");
    exec("xap.Run \"other.txt\"");
    EXPECT_EQ(voice(), "other");
    exec("xap.Run \"count.txt\"");
    EXPECT_EQ(voice(), "run 1 []");
    ASSERT_TRUE(m_engine->module("M1"));
    EXPECT_FALSE(m_engine->module("M1")->findProcedure("extra")) << "nothing left of the earlier file";
    expectSent({});
}

TEST_F(ScriptingTest, ScriptsCallEachOtherAndGoOn)
{
    writeScript("inner.txt", "Function Inner(p)\n  Inner = \"<\" & p & \">\"\nEnd Function\n");
    writeScript("outer.txt",
                "Function Outer(p)\n  Dim a\n  a = xap.RunEx(\"inner.txt\", \"Inner\", p)\n  Outer = a & \"+\" & p\nEnd Function\n");
    exec("r = xap.RunEx(\"outer.txt\", \"Outer\", \"x\")");
    EXPECT_EQ(eval("r").toString(), "<x>+x");
    expectSent({});
}

TEST_F(ScriptingTest, IncludedFilesComeFirstInDirectiveOrder)
{
    writeScript("d.txt", "xap.SetLastVoiceCommand xap.LastVoiceCommand & \"d\"\nFunction FromD()\n  FromD = \"D\"\nEnd Function\n");
    writeScript("b.txt", "#include \"d.txt\"\nxap.SetLastVoiceCommand xap.LastVoiceCommand & \"b\"\n");
    writeScript("Lib/C.txt", "xap.SetLastVoiceCommand xap.LastVoiceCommand & \"c\"\n");
    writeScript("a.txt",
                "#include \"B.TXT\"\n#INCLUDE  \" lib\\c.txt \"  ' library\n"
                "xap.SetLastVoiceCommand xap.LastVoiceCommand & \"a\"\n"
                "Function Main(p)\n  Main = FromD() & p\nEnd Function\n");
    exec("r = xap.RunEx(\"a.txt\", \"Main\", \"!\")");
    EXPECT_EQ(voice(), "dbca");
    EXPECT_EQ(eval("r").toString(), "D!");
    expectSent({});
}

TEST_F(ScriptingTest, ScriptNamesAndTheirPaths)
{
    const QString scripts = m_dir.path() + "/Scripts/";
    EXPECT_EQ(Script::ResolvePath("a.txt"), scripts + "a.txt");
    EXPECT_EQ(Script::ResolvePath("\\sub\\a.txt"), scripts + "sub/a.txt");
    EXPECT_EQ(Script::ResolvePath("sub\\a.txt"), scripts + "sub/a.txt");
    EXPECT_EQ(Script::ResolvePath("C:\\x\\a.vbs"), "C:\\x\\a.vbs");
    EXPECT_EQ(Script::ResolvePath("\\\\server\\share\\a.vbs"), "\\\\server\\share\\a.vbs");
    EXPECT_EQ(Script::ResolvePath("/opt/scripts/a.vbs"), "/opt/scripts/a.vbs");
    writeScript("Sub/Lights.TXT", "Function F(p)\n  F = \"lit \" & p\nEnd Function\n");
    EXPECT_EQ(Script::ResolvePath("\\sub\\lights.txt"), scripts + "Sub/Lights.TXT");
    EXPECT_EQ(eval("xap.RunEx(\"\\sub\\lights.txt\", \"F\", 1)").toString(), "lit 1");
    EXPECT_EQ(eval("xap.RunEx(\"" + scripts + "Sub/Lights.TXT\", \"F\", 2)").toString(), "lit 2");
    expectSent({});
}

// The run error names the file, and no line: the caller's line is not where the fault is.
TEST_F(ScriptingTest, AMissingFileLogsARunErrorNamingIt)
{
    for (const char *call : {"r = xap.RunEx(\"nothere.txt\", \"Main\", \"\")", "xap.Run \"nothere.txt\""}) {
        RefusalLog::Reset(); // a new minute: a script's repeats within one are counted, not sent
        exec(QStringLiteral("r = 1\nx = 2\n") + call);
        EXPECT_EQ(logData(), QStringList({"Script Run Error 53 - File not found: nothere.txt@ Script Line 0 col 0"}))
            << call;
        EXPECT_EQ(eval("IsEmpty(r)").toBool(), call[0] == 'r') << call;
    }
}

TEST_F(ScriptingTest, AnIncludeCycleLoadsEachFileOnceWithOneLogEntry)
{
    writeScript("ping.txt", "#include \"pong.txt\"\nFunction Ping(p)\n  Ping = \"ping\"\nEnd Function\n");
    writeScript("pong.txt", "#include \"ping.txt\"\nFunction Pong(p)\n  Pong = \"pong\"\nEnd Function\n");
    writeScript("self.txt", "#include \"self.txt\"\nFunction Main(p)\n  Main = Ping(1) & Pong(2)\nEnd Function\n");
    exec("r = xap.RunEx(\"ping.txt\", \"Pong\", Empty)");
    EXPECT_EQ(logData().size(), 1);
    writeScript("both.txt", "#include \"self.txt\"\n#include \"ping.txt\"\n");
    RefusalLog::Reset(); // a new minute: a script's repeats within one are counted, not sent
    exec("r = xap.RunEx(\"both.txt\", \"Main\", \"\")");
    EXPECT_EQ(eval("r").toString(), "pingpong");
    // Both cycles of the load in one entry.
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1) << logs.join("\n").toStdString();
    EXPECT_TRUE(logs[0].startsWith("Script-AccumulateReferences self.txt includes itself")) << logs[0].toStdString();
    EXPECT_TRUE(logs[0].endsWith("the #include is left out (and 1 more)")) << logs[0].toStdString();
}

TEST_F(ScriptingTest, ADirectiveWithoutItsClosingQuoteIsLeftOutAndTheRestLoads)
{
    writeScript("lib.txt", "Function FromLib()\n  FromLib = \"lib\"\nEnd Function\n");
    writeScript("open.txt",
                "#include \"missing-quote.txt\n"
                "Function Main(p)\n  Main = \"main \" & FromLib()\nEnd Function\n"
                "#include \"lib.txt\"\n"
                "#include\n");
    exec("r = xap.RunEx(\"open.txt\", \"Main\", \"\")");
    EXPECT_EQ(eval("r").toString(), "main lib");
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1) << logs.join("\n").toStdString();
    EXPECT_EQ(logs[0], "Script-AccumulateReferences open.txt: an #include without its closing quote is left out: "
                       "#include \"missing-quote.txt (and 1 more)");
}

TEST_F(ScriptingTest, NestingEndsAtSixteenFiles)
{
    for (int n = 1; n <= 20; ++n) {
        QByteArray text;
        if (n < 20)
            text += "#include \"f" + QByteArray::number(n + 1) + ".txt\"\n";
        text += "Function F" + QByteArray::number(n) + "(p)\n  F" + QByteArray::number(n) + " = " + QByteArray::number(n)
            + "\nEnd Function\n";
        writeScript("f" + QString::number(n) + ".txt", text);
    }
    exec("r = xap.RunEx(\"f1.txt\", \"F16\", Empty)");
    EXPECT_EQ(eval("r").toLong(), 16);
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs[0], "Script-AccumulateReferences f17.txt is nested deeper than 16 files; the #include is left out");
    RefusalLog::Reset(); // a new minute: a script's repeats within one are counted, not sent
    exec("r = xap.RunEx(\"f1.txt\", \"F17\", Empty)");
    EXPECT_EQ(placeless(logData()),
              QStringList({"Script-AccumulateReferences f17.txt is nested deeper than 16 files; the #include is left out",
                           kNotDefined}));
}

// A script can write files (a settings file is valid script text), also the ones the program
// reads itself: a load past the size any script has is refused at once with a log entry, by
// the program's own reading as by a script's Run, and the files within it still load.
TEST_F(ScriptingTest, AFileFarLargerThanAnyScriptIsNotLoaded)
{
    const QByteArray padding = "'" + QByteArray(Script::kMaxLoadChars / 2 + 1000, 'c') + "\r\n";
    struct Row {
        const char *what;
        QByteArray main;
        QList<QPair<QString, QByteArray>> included;
        QString problem;   // the start of what is logged
        QString result;    // what Main returns; "" when it is not loaded
    };
    const Row rows[] = {
        {"the file itself", "Function Main(p)\r\n  Main = \"main\"\r\nEnd Function\r\n" + padding + padding, {},
         "Script-AccumulateReferences big.txt is not loaded", ""},
        {"its included files together",
         "#include \"inc1.txt\"\r\n#include \"inc2.txt\"\r\nFunction Main(p)\r\n  Main = \"main\" & F1()\r\nEnd Function\r\n",
         {{"inc1.txt", "Function F1()\r\n  F1 = 1\r\nEnd Function\r\n" + padding},
          {"inc2.txt", "Function F2()\r\n  F2 = 2\r\nEnd Function\r\n" + padding}},
         "Script-AccumulateReferences inc2.txt is not loaded", "main1"},
        // Repeated directives add no code, but the file is still read whole.
        {"a file of directives past the size of any file",
         "#include \"inc1.txt\"\r\nFunction Main(p)\r\n  Main = \"main\"\r\nEnd Function\r\n"
             + QByteArray("#include \"inc1.txt\"\r\n").repeated(Script::kMaxFileBytes / 20 + 1),
         {{"inc1.txt", "Function F1()\r\n  F1 = 1\r\nEnd Function\r\n"}},
         "Script-AccumulateReferences big.txt is not loaded", ""},
    };
    for (const Row &row : rows) {
        writeScript("big.txt", row.main);
        for (const auto &[name, text] : row.included)
            writeScript(name, text);
        for (bool byTheProgram : {true, false}) {
            QElapsedTimer clock;
            clock.start();
            Variant result;
            if (byTheProgram) {
                Script script(m_engine);
                script.Add("big.txt", "Big");
                result = script.Run("Main", Variant(""));
            } else {
                result = eval("xap.RunEx(\"big.txt\", \"Main\", \"\")");
            }
            EXPECT_LT(clock.elapsed(), 3000) << row.what;
            EXPECT_EQ(result.toString(), row.result) << row.what;
            const QStringList logs = logData();
            const QString first = logs.value(0);
            EXPECT_TRUE(first.startsWith(row.problem)) << row.what << ": " << first.toStdString();
            EXPECT_LE(first.size(), 1000) << row.what;
            clearSent();
            RefusalLog::Reset();
        }
    }
}

TEST_F(ScriptingTest, ASyntaxErrorIsLoggedWithFileLineAndColumnAndTheProgramGoesOn)
{
    writeScript("bad.txt", "Sub Main(p)\n  x = 1\n  If x Then\n    x = 2\nEnd Sub\n");
    exec("r = xap.RunEx(\"bad.txt\", \"Main\", \"\")");
    const QStringList logs = placeless(logData());
    ASSERT_EQ(logs.size(), 2) << logs.join("\n").toStdString();
    EXPECT_EQ(logs[0], "Error in script syntax / bad.txt Expected 'If'@ Line 5 col 5");
    EXPECT_EQ(logs[1], kNotDefined);
    writeScript("good.txt", "Function Main(p)\n  Main = \"fine\"\nEnd Function\n");
    EXPECT_EQ(eval("xap.RunEx(\"good.txt\", \"Main\", \"\")").toString(), "fine");
    expectSent({});
    // An included file's error names that file; the including file still loads.
    writeScript("badlib.txt", "\n\nx = (1 +\n");
    writeScript("user.txt", "#include \"badlib.txt\"\nFunction Main(p)\n  Main = \"user\"\nEnd Function\n");
    EXPECT_EQ(eval("xap.RunEx(\"user.txt\", \"Main\", \"\")").toString(), "user");
    EXPECT_EQ(logData(), QStringList({"Error in script syntax / badlib.txt Expected expression@ Line 3 col 9"}));
}

// A description of millions of characters, or a long file name, is cut so
// that the entry still says where the error is.
TEST_F(ScriptingTest, AnErrorWithALongDescriptionKeepsItsLine)
{
    writeScript("longrun.txt", "Sub Main(p)\n  x = 1\n  Err.Raise 5, \"me\", String(3000000, \"S\")\nEnd Sub\n");
    exec("xap.RunEx \"longrun.txt\", \"Main\", \"\"");
    QString name;
    for (int d = 0; d < 8; ++d)
        name += QString(60, QLatin1Char('a' + d)) + QLatin1Char('/');
    name += QStringLiteral("bad.txt");
    writeScript(name, "\n\nx = (1 +" + QByteArray(2000, ' ') + "\n");
    exec("xap.RunEx \"" + name + "\", \"Main\", \"\"");
    const QStringList logs = logData();
    ASSERT_GE(logs.size(), 2) << logs.join('\n').toStdString();
    EXPECT_TRUE(logs.at(0).endsWith(QStringLiteral("@ Script Line 3 col 3"))) << logs.at(0).right(80).toStdString();
    EXPECT_TRUE(logs.at(0).contains(QStringLiteral("(") + QString::number(3000000 - ::kPartKept) + " more characters)"));
    EXPECT_TRUE(logs.at(1).contains(QStringLiteral("@ Line 3 col "))) << logs.at(1).right(80).toStdString();
}

TEST_F(ScriptingTest, ARunErrorIsLoggedWithItsLine)
{
    writeScript("fail.txt", "Sub Main(p)\n  x = 1\n  Err.Raise 1234, \"me\", \"custom failure\"\nEnd Sub\n");
    exec("r = xap.RunEx(\"fail.txt\", \"Main\", \"\") : ok = True");
    EXPECT_TRUE(eval("ok").toBool());
    expectSent({logText(kProgramName, "Script Run Error 1234 - custom failure@ Script Line 3 col 3")});
    writeScript("noargs.txt", "Sub Main()\nEnd Sub\n");
    exec("xap.Run \"noargs.txt\"");
    EXPECT_EQ(placeless(logData()),
              QStringList({"Script Run Error 450 - Wrong number of arguments or invalid property assignment@ Script Line"}));
}

TEST_F(ScriptingTest, AScriptPastTheTimeOutIsStoppedAndLogged)
{
    m_engine->setTimeout(1500);
    writeScript("loop.txt", "Sub Main(p)\n  Do\n    n = n + 1\n  Loop\nEnd Sub\n");
    QElapsedTimer clock;
    clock.start();
    exec("xap.Run \"loop.txt\"");
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_LT(clock.elapsed(), 60000);
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(logs[0].startsWith("Script Run Error -2147467260 - ")) << logs[0].toStdString();
    writeScript("after.txt", "Function Main(p)\n  Main = \"after\"\nEnd Function\n");
    EXPECT_EQ(eval("xap.RunEx(\"after.txt\", \"Main\", \"\")").toString(), "after");
}

TEST_F(ScriptingTest, WithoutAnEngineNothingRunsAndBothStepsAreLogged)
{
    HostHooksInstance().scriptEngine = nullptr;
    writeScript("good.txt", "Function Main(p)\n  Main = 1\nEnd Function\n");
    QString file = "good.txt", procedure = "Main", parameter;
    EXPECT_TRUE(m_hs->RunEx(file, procedure, parameter).isEmpty());
    EXPECT_EQ(logData(), QStringList({"Script-Add Line 0 Object variable not set",
                                      "Script Run Error 91 - Object variable not set@ Script Line 0 col 0"}));
}

TEST_F(ScriptingTest, SpawnWritesItsJobFileAndSaysItCannotStartIt)
{
    exec("Set job = xap.Spawn(\"lights.TXT\", \"main\", \"on\")");
    EXPECT_TRUE(eval("job Is Nothing").toBool());
    EXPECT_EQ(readFile(scriptsPath("~lights.wsf")), "<job id=\"lights\">\n"
                                                    "<script language=\"VBScript\" src=\"..\\lights.txt\"/>\n"
                                                    "<script language=\"VBScript\">\n"
                                                    "Dim xap\n"
                                                    "Set xap = createobject(\"Lodestar.Application\")\n"
                                                    "main \"on\"\n"
                                                    "Set xap = Nothing\n"
                                                    "</Script>\n"
                                                    "</Job>\n");
    RefusalLog::Reset(); // a new minute: a script's repeats within one are counted, not sent
    exec("Set job = xap.Spawn(\"lights\", \"\", \"\")");
    EXPECT_TRUE(readFile(scriptsPath("~lights.wsf")).contains("\n\"\"\nSet xap")) << "the job file is written anew";
    expectSent({logText(kProgramName, "Spawn: no script host is available to start " + m_dir.path() + "/Scripts/~lights.wsf"),
                logText(kProgramName, "Spawn: no script host is available to start " + m_dir.path() + "/Scripts/~lights.wsf")});
    QDir(scriptsPath()).removeRecursively();
    exec("Set job = xap.Spawn(\"lights\", \"main\", \"on\")");
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(logs[0].startsWith("WrapWSF Line 0 Path/File access error")) << logs[0].toStdString();
}

TEST_F(ScriptingTest, StatusChangeScriptsRunWithTheChange)
{
    writeScript("status.txt", "Sub OnChange(parms)\n  xap.SetLastVoiceCommand xap.LastVoiceCommand & Join(parms, \",\") & \";\"\nEnd Sub\n");
    QString name = "Lamp";
    DeviceClassPtr lamp = m_hs->NewDeviceEx(name);
    lamp->set(DeviceClass::F_hc, Variant("A"));
    lamp->set(DeviceClass::F_DC, Variant("7"));
    exec("xap.RegisterStatusChangeCB \"status.txt\", \"OnChange\"");
    exec("xap.SetDeviceStatus \"A7\", 2 : xap.SetDeviceStatus \"A7\", 2 : xap.SetDeviceStatus \"a7\", 3");
    EXPECT_EQ(voice(), "A,7,2,1;a,7,3,1;");
    expectSent({});
}

TEST_F(ScriptingTest, AScriptThatRunsItselfForeverRunsOutOfStackWithoutCrashing)
{
    writeScript("again.txt", "Function Main(p)\n  Main = xap.RunEx(\"again.txt\", \"Main\", p + 1)\n  If IsEmpty(Main) Then Main = p\nEnd Function\n");
    exec("r = xap.RunEx(\"again.txt\", \"Main\", 0)");
    EXPECT_GT(eval("r").toLong(), 5);
    const QStringList logs = logData();
    ASSERT_GE(logs.size(), 1);
    EXPECT_TRUE(logs.last().startsWith("Script Run Error 28 - Out of stack space")) << logs.last().toStdString();
}

TEST_F(ScriptingTest, AKeptScriptRunsAgainInItsOwnModuleWithItsState)
{
    writeScript("startup.txt", "Dim seen\nFunction Main(tag)\n  seen = seen & tag\n  Main = seen\nEnd Function\n");
    Script startup(m_engine);
    HostHooksInstance().scriptEngine = nullptr; // the engine given is the one used
    EXPECT_DOUBLE_EQ(startup.FileDate(), VbDate::dateSerial(1980, 1, 1));
    startup.Add("startup.txt", "Main");
    EXPECT_EQ(startup.filename(), "startup.txt");
    EXPECT_EQ(startup.Run("Main", Variant("a")).toString(), "a");
    // Another file run through the host in between leaves this module alone.
    writeScript("other.txt", "Function Main(p)\n  Main = \"other\"\nEnd Function\n");
    ScriptControlPtr engine = m_engine;
    HostHooksInstance().scriptEngine = [engine] { return engine; };
    EXPECT_EQ(eval("xap.RunEx(\"other.txt\", \"Main\", \"\")").toString(), "other");
    EXPECT_EQ(startup.Run("main", Variant("b")).toString(), "ab");
    EXPECT_TRUE(startup.Run("NoSuchProcedure", Variant()).isEmpty());
    EXPECT_EQ(placeless(logData()), QStringList({kNotDefined}));
}

// Each file of a load is expanded once: nine files each including the next four times load
// at once, and a repeat is left out without a log entry.
TEST_F(ScriptingTest, IncludeFanOutExpandsEachFileOnce)
{
    for (int n = 1; n <= 9; ++n) {
        QByteArray text;
        if (n < 9)
            for (int k = 0; k < 4; ++k)
                text += "#include \"g" + QByteArray::number(n + 1) + ".txt\"\n";
        text += "Function G" + QByteArray::number(n) + "(p)\n  G" + QByteArray::number(n) + " = " + QByteArray::number(n)
            + "\nEnd Function\n";
        writeScript("g" + QString::number(n) + ".txt", text);
    }
    QElapsedTimer clock;
    clock.start();
    exec("r = xap.RunEx(\"g1.txt\", \"G9\", Empty)");
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(eval("r").toLong(), 9);
    EXPECT_EQ(logData(), QStringList());
}

// A run started from a run keeps the outer run's time-out: a script that loops and then
// runs itself stops at the first time-out, not one time-out per level.
TEST_F(ScriptingTest, NestedRunsEndAtTheOuterTimeOut)
{
    m_engine->setTimeout(1500);
    writeScript("nest.txt", "Function Main(p)\n  t = Timer\n  Do While Timer - t < 1\n  Loop\n"
                            "  xap.SetLastVoiceCommand \"level \" & p\n  Main = xap.RunEx(\"nest.txt\", \"Main\", p + 1)\n"
                            "End Function\n");
    QElapsedTimer clock;
    clock.start();
    exec("xap.RunEx \"nest.txt\", \"Main\", 1");
    EXPECT_LT(clock.elapsed(), 1500 + 3000);
    EXPECT_EQ(voice(), "level 1") << "the second level cannot finish its loop";
    const QStringList logs = logData();
    ASSERT_FALSE(logs.isEmpty());
    EXPECT_TRUE(logs[0].startsWith("Script Run Error -2147467260 - ")) << logs[0].toStdString();
    writeScript("after.txt", "Function Main(p)\n  Main = \"after\"\nEnd Function\n");
    EXPECT_EQ(eval("xap.RunEx(\"after.txt\", \"Main\", \"\")").toString(), "after");
}

// WaitSecs ends at the script's time-out, and the time-out then stops the script before its
// next statement; a stop signal ends the wait at once.
TEST_F(ScriptingTest, WaitSecsEndsAtTheTimeOutOrAStopSignal)
{
    m_engine->setTimeout(1500);
    writeScript("wait.txt", "Sub Main(p)\n  xap.WaitSecs 90\n  xap.SetLastVoiceCommand \"after the wait\"\nEnd Sub\n");
    gLastVoiceCommand.clear();
    QElapsedTimer clock;
    clock.start();
    exec("xap.Run \"wait.txt\"");
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_LT(clock.elapsed(), 1500 + 3000);
    EXPECT_EQ(voice(), "");
    QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(logs[0].startsWith("Script Run Error -2147467260 - ")) << logs[0].toStdString();

    m_engine->setTimeout(60000);
    gStopSignalled = 1;
    clock.restart();
    exec("xap.Run \"wait.txt\"");
    gStopSignalled = 0;
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(voice(), "after the wait");
    EXPECT_TRUE(logData().isEmpty());
}

// A script doubling a string gets "Out of string space" at the budget, and one growing an
// array "Out of memory": run errors its caller logs, after which scripts run on.
TEST_F(ScriptingTest, MemoryBudgetEndsAGrowingStringOrArrayWithARunError)
{
    writeScript("grow.txt", "Sub Main(p)\n  m = \"x\"\n  Do\n    m = m & m\n  Loop\nEnd Sub\n");
    writeScript("wide.txt", "Sub Main(p)\n  ReDim a(100000000)\nEnd Sub\n");
    writeScript("plus.txt", "Sub Main(p)\n  m = \"x\"\n  Do\n    m = m + m\n  Loop\nEnd Sub\n");
    writeScript("space.txt", "Sub Main(p)\n  m = Space(200000000)\nEnd Sub\n");
    exec("xap.Run \"grow.txt\"");
    exec("xap.Run \"wide.txt\"");
    exec("xap.Run \"plus.txt\"");
    exec("xap.Run \"space.txt\"");
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 4) << logs.join("\n").toStdString();
    EXPECT_EQ(logs[0], "Script Run Error 14 - Out of string space@ Script Line 4 col 5");
    EXPECT_TRUE(logs[1].startsWith("Script Run Error 7 - Out of memory@ Script Line 2")) << logs[1].toStdString();
    EXPECT_TRUE(logs[2].startsWith("Script Run Error 14 - Out of string space@ Script Line 4")) << logs[2].toStdString();
    EXPECT_TRUE(logs[3].startsWith("Script Run Error 14 - Out of string space@ Script Line 2")) << logs[3].toStdString();
    // Within the budget the same statements work.
    EXPECT_EQ(eval("Len(Space(1000) & String(1000, \"y\"))").toLong(), 2000);
    writeScript("after.txt", "Function Main(p)\n  ReDim a(1000)\n  Main = UBound(a)\nEnd Function\n");
    EXPECT_EQ(eval("xap.RunEx(\"after.txt\", \"Main\", \"\")").toLong(), 1000);
}

// With the budget full, every member that starts a run or compiles text for one refuses it
// with a 7 the calling script can trap, not a silent success; with room, each works.
TEST_F(ScriptingTest, AFullBudgetRefusesEveryMemberThatStartsARun)
{
    writeScript("other.txt", "Sub Main(p)\n  xap.SetLastVoiceCommand \"ran\"\nEnd Sub\n"
                             "Sub P(p)\n  xap.SetLastVoiceCommand \"ran\"\nEnd Sub\n");
    struct Row {
        const char *member;
        const char *statement;
        const char *ran; // what the statement leaves when it ran: an expression that is then True
    };
    const Row rows[] = {
        {"RunEx", "r = xap.RunEx(\"other.txt\", \"P\", \"x\")", "xap.LastVoiceCommand = \"ran\""},
        {"Run", "xap.Run \"other.txt\"", "xap.LastVoiceCommand = \"ran\""},
        {"Execute", "Execute \"gDone = 1\"", "gDone = 1"},
        {"ExecuteGlobal", "ExecuteGlobal \"gDone = 1\"", "gDone = 1"},
        {"Eval", "gDone = Eval(\"1 + 0\")", "gDone = 1"},
    };
    exec("Dim gErr, gDone");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.member);
        exec(QStringLiteral("Sub Probe\n  On Error Resume Next\n  %1\n  gErr = Err.Number\nEnd Sub\n").arg(row.statement));
        for (const bool full : {true, false}) {
            exec("gErr = -1 : gDone = 0");
            gLastVoiceCommand.clear();
            const qint64 budget = MemoryBudget::bytes();
            if (full)
                MemoryBudget::setBytes(MemoryBudget::used());
            m_engine->Run(QStringLiteral("Probe"));
            MemoryBudget::setBytes(budget);
            EXPECT_EQ(eval("gErr").toLong(), full ? 7 : 0) << (full ? "full" : "with room");
            EXPECT_EQ(eval(row.ran).toBool(), !full) << (full ? "ran with the budget full" : "did not run with room");
        }
    }
}

// A file that is no INI file, read by every reader of INI text a script can point at a file and
// by the program's own settings: one entry per load, naming how many lines were skipped, and
// the loads of one script's run count as repeats of that entry.
// The INI reader logs its entries only once the plug-in host is up.
struct HostRegistered
{
    HostRegistered() { gPluginHostRegistered = true; }
    ~HostRegistered() { gPluginHostRegistered = false; }
};

// Every other entry a script's file calls make from what the files hold or
// where they are: the calls of one run count as repeats of one entry.
TEST_F(ScriptingTest, EntriesOfAScriptsFileCallsCountAsOneKind)
{
    for (int f = 0; f < 5; ++f)
        writeScript(QStringLiteral("twice%1.ini").arg(f), "[a]\nb=1\nb=2\n[a]\nc=3\n");
    struct Row {
        const char *what;
        QString file; // %1: the call's number
        QString entry;
    };
    const Row rows[] = {
        {"keys and sections given twice", QStringLiteral("../Scripts/twice%1.ini"),
         QStringLiteral("the first of equal sections and keys is kept")},
        {"a file that cannot be made", QString(300, QLatin1Char('a')) + QStringLiteral("%1"),
         QStringLiteral("Cannot write the settings file")},
    };
    const HostRegistered registered;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        HostIniCache().reset();
        RefusalLog::Reset();
        clearSent();
        QString statements = QStringLiteral("Sub ReadAll\nOn Error Resume Next\n");
        for (int f = 0; f < 5; ++f)
            statements += QStringLiteral("v = xap.GetIniSetting(\"a\", \"b\", \"\", \"%1\")\n").arg(row.file.arg(f));
        exec(statements + QStringLiteral("End Sub\nReadAll\n"));
        const QStringList logs = logData().filter(row.entry);
        EXPECT_EQ(logs.size(), 1) << logData().join("\n").toStdString();
    }
}

TEST_F(ScriptingTest, ALoadOfANonIniFileLogsOneCountedEntry)
{
    constexpr int kLines = 2000;
    QByteArray text;
    for (int i = 0; i < kLines; ++i)
        text += "Package: p" + QByteArray::number(i) + "\n";
    for (int f = 0; f < 5; ++f)
        writeScript(QStringLiteral("notini%1.txt").arg(f), text);
    struct Row {
        const char *reader;
        const char *statement; // %1: the file
    };
    const Row rows[] = {
        {"GetIniSetting", "v = xap.GetIniSetting(\"a\", \"b\", \"\", \"%1\")"},
        {"SaveIniSetting", "xap.SaveIniSetting \"a\", \"b\", \"c\", \"%1\""},
        {"GetINISection", "v = xap.GetINISection(\"a\", \"%1\")"},
        {"ClearINISection", "xap.ClearINISection \"a\", \"%1\""},
    };
    const HostRegistered registered;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.reader);
        HostIniCache().reset();
        RefusalLog::Reset();
        clearSent();
        QString statements = QStringLiteral("Sub ReadAll\n");
        for (int f = 0; f < 5; ++f)
            statements += QString::fromLatin1(row.statement).arg(QStringLiteral("../Scripts/notini%1.txt").arg(f)) + QLatin1Char('\n');
        exec(statements + QStringLiteral("End Sub\nReadAll\n"));
        const QStringList logs = logData();
        ASSERT_EQ(logs.size(), 1) << logs.join("\n").toStdString();
        EXPECT_TRUE(logs[0].contains(QStringLiteral("Equal sign not found on line 1 of ")));
        EXPECT_TRUE(logs[0].endsWith(QStringLiteral(" (%1 lines without one)").arg(kLines))) << logs[0].toStdString();
    }
    // The program's own settings read the same way: one entry for the file.
    clearSent();
    IniTool own;
    own.Load(scriptsPath("notini0.txt"));
    const QStringList logs = logData();
    ASSERT_EQ(logs.size(), 1) << logs.join("\n").toStdString();
    EXPECT_TRUE(logs[0].endsWith(QStringLiteral(" (%1 lines without one)").arg(kLines))) << logs[0].toStdString();
}
