// A careless user script in the whole program: a huge longitude, a string doubled without
// end, lists of a record set to Nothing, a long WaitSecs and an include fan-out. Each ends
// with a run error or at once; the program answers afterwards, serves its status page and
// stops on SIGTERM with its records saved.
//
// Then a table of hostile scripts, one program each: every row ends within the script
// time-out plus a second with the run error due (trapped by the script itself), the
// program's peak resident memory stays under the script budget plus 150 MB over what it
// needed before the script, an echo is answered right after, and SIGTERM saves the store.
#include "BridgeRig.h"
#include "HttpExchange.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <set>

namespace {

const char kStore[] =
    "[PluginDevices]\r\n"
    "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;False\r\n"
    "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False\r\n"
    "[Received]\r\n"
    "acme.wx.pc:roof~Weather.Report=roof;1\r\n"
    "acme.wx.pc~Probe.Request=probe;1\r\n";

const char kScript[] =
    "#include \"g1.txt\"\r\n"
    "Sub Main(tag)\r\n"
    "  Select Case tag\r\n"
    "    Case \"roof\"\r\n"
    "      Set r = xap.Request(\"LastEvent\")\r\n"
    "      Set r.MessageList = Nothing\r\n"
    "      Set r.MessageKeyList = Nothing\r\n"
    "      xap.ComputeSunriseAndSunset 51.5, 1E+15, 0, False\r\n"
    "      Response \"cellar\", G9(0) - 2\r\n"
    "      m = \"x\"\r\n"
    "      Do\r\n"
    "        m = m & m\r\n"
    "      Loop\r\n"
    "    Case \"probe\"\r\n"
    "      xap.WaitSecs 1000\r\n"
    "  End Select\r\n"
    "End Sub\r\n";

// A weather report for the roof's tag (or another sub-address's) that runs the script.
QByteArray weatherReport(const BridgeRig &rig, const char *sub = "roof")
{
    return rig.message(QStringLiteral("Weather.Report"), QString(), {{"weather.report", {"TempC=21.5"}}},
                       QStringLiteral("acme.wx.pc:") + QLatin1String(sub));
}

// Sends the datagram again every `everyMs` (the first may come before the program listens)
// until `done`.
bool sendUntil(BridgeRig &rig, const QByteArray &datagram, const std::function<bool()> &done, qint64 everyMs)
{
    qint64 last = -everyMs;
    return waitUntil([&] {
        if (done())
            return true;
        if (rig.elapsedMs() - last > everyMs) {
            last = rig.elapsedMs();
            rig.send(datagram);
        }
        return false;
    }, 60000);
}

int loggedCount(const BridgeRig &rig, const QByteArray &text)
{
    int count = 0;
    for (const QByteArray &d : rig.of(QStringLiteral("Tessera.Event")))
        if (d.contains(text))
            ++count;
    return count;
}

bool logged(const BridgeRig &rig, const QByteArray &text)
{
    return loggedCount(rig, text) > 0;
}

// The device store as the program saved it.
QByteArray savedStore(const BridgeRig &rig)
{
    QFile store(rig.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    return store.open(QIODevice::ReadOnly) ? store.readAll() : QByteArray();
}

QByteArray httpGet(quint16 port, const QByteArray &target)
{
    return httpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                        {.replyMs = 20000});
}

// 1.5 s into a script that is still running, SIGTERM ends the program within 5 s, and the
// records are saved (`alsoSaved` too, when given).
void stopsAtOnceWithTheRecordsSaved(BridgeRig &rig, const char *alsoSaved = nullptr)
{
    waitUntil([] { return false; }, 1500);
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(rig.program->terminate(), 0);
    EXPECT_LT(stopping.elapsed(), 5000);
    const QByteArray saved = savedStore(rig);
    EXPECT_TRUE(saved.contains("\r\nroof=")) << "the records were not saved";
    if (alsoSaved)
        EXPECT_TRUE(saved.contains("\r\n" + QByteArray(alsoSaved) + "=")) << alsoSaved << " was not saved";
    rig.program.reset();
}

}  // namespace

TEST(HostileScripts, EachEndsAndTheProgramAnswersServesAndStops)
{
    BridgeRig rig;
    rig.store = kStore;
    rig.serveWeb = true;
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), kScript);
    for (int n = 1; n <= 9; ++n) {
        QByteArray text;
        for (int k = 0; n < 9 && k < 4; ++k)
            text += "#include \"g" + QByteArray::number(n + 1) + ".txt\"\r\n";
        text += "Function G" + QByteArray::number(n) + "(p)\r\n  G" + QByteArray::number(n) + " = " + QByteArray::number(n)
            + "\r\nEnd Function\r\n";
        rig.folder.writeFile(QStringLiteral("Scripts/g%1.txt").arg(n), text);
    }
    ASSERT_TRUE(rig.start()) << "the program did not come up";

    // The sun call returns at once (the cellar gets 9 - 2), then the doubling string ends
    // in "Out of string space".
    ASSERT_TRUE(sendUntil(rig, weatherReport(rig), [&] { return rig.sim.vars[64] == 7; }, 5000))
        << "cellar is " << rig.sim.vars[64];
    EXPECT_TRUE(waitUntil([&] { return logged(rig, "Script Run Error 14 - Out of string space"); }, 30000));
    EXPECT_TRUE(logged(rig, "ComputeSunriseAndSunset"));

    // The program answers, and its status page shows the record whose lists are Nothing.
    const qsizetype echoes = rig.of(QStringLiteral("WDT.Echo")).size();
    rig.send(rig.message(QStringLiteral("WDT.Echo"), rig.source, {{"Echo.Query", {"Query=after"}}}, QStringLiteral("acme.pinger.pc")));
    EXPECT_TRUE(waitUntil([&] { return rig.of(QStringLiteral("WDT.Echo")).size() > echoes; }, 5000));
    EXPECT_TRUE(httpGet(rig.webPort, "/status").startsWith("HTTP/1.1 200")) << "no status page";

    // A script waiting 1000 s does not hold SIGTERM back.
    rig.send(rig.message(QStringLiteral("Probe.Request"), QString(), {{"probe", {"x=1"}}}, QStringLiteral("acme.wx.pc")));
    stopsAtOnceWithTheRecordsSaved(rig);
}

namespace {

constexpr qint64 kBudgetKb = 256 * 1024; // the scripts' memory budget
constexpr qint64 kSlackKb = 150 * 1024;  // what a script's work may take besides
constexpr int kScriptTimeoutMs = 60000;

// Each trigger runs Main once; Main calls the row's Hostile under On Error Resume Next and
// reports to the controller: the run's number times 100 plus the error it trapped (cellar,
// variable 64) and the row's own `report` (attic, variable 65).
const char kTableStore[] =
    "[PluginDevices]\r\n"
    "Q5=Hall;Temp;Veltro Quillon;3;;0;Variable;3;21;;;hall;False\r\n"
    "R1=Cellar;Level;Veltro Quillon;3;;0;Variable;3;0;;;cellar;False\r\n"
    "R2=Attic;Level;Veltro Quillon;3;;0;Variable;3;0;;;attic;False\r\n"
    "[Received]\r\n"
    "acme.wx.pc:roof~Weather.Report=roof;1\r\n"
    "acme.wx.pc:warm~Weather.Report=warm;1\r\n"
    "acme.wx.pc:late~Weather.Report=late;1\r\n";

// "late" is only stored; "warm" only answers, once the program runs scripts for received messages.
const char kTableScript[] =
    "Dim keep(9), runs, report\r\n"
    "Sub Main(tag)\r\n"
    "  If tag = \"late\" Then Exit Sub\r\n"
    "  If tag = \"warm\" Then\r\n"
    "    Response \"cellar\", 1\r\n"
    "    Exit Sub\r\n"
    "  End If\r\n"
    "  runs = runs + 1\r\n"
    "  report = 0\r\n"
    "  On Error Resume Next\r\n"
    "  Hostile\r\n"
    "  r = Err.Number\r\n"
    "  On Error GoTo 0\r\n"
    "  Response \"attic\", report\r\n"
    "  Response \"cellar\", runs * 100 + r\r\n"
    "End Sub\r\n";

struct HostileRow {
    const char *name;
    const char *head; // script text before the table's own (classes, #include lines)
    const char *body; // Hostile's body; %PORT% stands for the test's TCP server
    int runs;         // triggers, one after the other
    std::set<int> cellar; // what the last run reports (runs * 100 + the error trapped)
    int attic;        // the row's report; -1: the replace ratio; -2: none (the run times out)
    const char *logged = "";   // a log entry due
    const char *unlogged = ""; // a log entry that must not come
    const char *asan = "";     // extra sanitizer options for the program
    QList<QPair<QString, QByteArray>> files = {};
    int tcpBytes = 0; // what the test's TCP server receives: 5 bytes in the first run, 2 MiB in each other
    bool timesOut = false; // the run may be ended at its time-out, before it can report
    int mostLogged = 0;    // when set: log entries naming `logged` at most (repeats are counted, not sent)
};

void PrintTo(const HostileRow &row, std::ostream *os)
{
    *os << row.name;
}

QByteArray includeLines(const char *file, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "#include \"" + QByteArray(file) + "\"\r\n";
    return text;
}

// "1 op 1 op ... 1", `terms` long.
QByteArray chain(const char *op, int terms)
{
    QByteArray text = "1";
    for (int i = 1; i < terms; ++i)
        text += QByteArray(" ") + op + " 1";
    return text;
}

// A settings file of 40 MB in one value.
QByteArray bigIni()
{
    static const QByteArray text = "[S]\r\nk=" + QByteArray(40000000, 'v') + "\r\n";
    return text;
}

const char kKeeper[] =
    "Dim gKept, gDict, gArr(3), gHolder, gRef, gMode\r\n"
    "Class Holder\r\n  Public item\r\nEnd Class\r\n"
    "Sub KeepArg(o)\r\n  Set gRef = o\r\nEnd Sub\r\n"
    "Class Keeper\r\n"
    "  Public tag\r\n"
    "  Private Sub Class_Terminate()\r\n"
    "    Select Case gMode\r\n"
    "      Case 1: Set gKept = Me\r\n"
    "      Case 2: gDict.Add \"k\", Me\r\n"
    "      Case 3: Set gArr(1) = Me\r\n"
    "      Case 4: Set gHolder.item = Me\r\n"
    "      Case 5: Set f = GetRef(\"KeepArg\"): f Me\r\n"
    "      Case 6: xap.SaveVar \"kept\", Me\r\n"
    "      Case 7: xap.RegisterEventCB 1, Me\r\n"
    "    End Select\r\n"
    "  End Sub\r\n"
    "End Class\r\n";

// Fills what is left of the budget with ever smaller entries, up to the last few bytes.
const char kTopOff[] =
    "Class Pair\r\n  Public other\r\nEnd Class\r\n"
    "Sub TopOff(d)\r\n"
    "  On Error Resume Next\r\n"
    "  For Each size In Array(100000, 1000, 10, 1)\r\n"
    "    Err.Clear\r\n"
    "    Do While Err.Number = 0\r\n"
    "      n = n + 1: d.Add Space(size) & n, n\r\n"
    "    Loop\r\n"
    "  Next\r\n"
    "  Err.Clear\r\n"
    "End Sub\r\n";

const HostileRow kRows[] = {
    {"ChainsOfObjectsDictionariesAndArrays", "Class Link\r\n  Public nx\r\nEnd Class\r\n",
     "Set h = Nothing\r\n"
     "For i = 1 To 100000: Set n = New Link: Set n.nx = h: Set h = n: Next\r\n"
     "Set n = Nothing: Set h = Nothing\r\n"
     "For i = 1 To 50000: Set e = CreateObject(\"Scripting.Dictionary\"): e.Add \"n\", h: Set h = e: Next\r\n"
     "Set e = Nothing: Set h = Nothing\r\n"
     "a = Array(): For i = 1 To 100000: a = Array(a): Next\r\n"
     "a = Empty\r\n"
     "report = 1\r\n",
     1, {100}, 1},
    // Eight replaces of 25,000 characters against one of 200,000: linear gives 10, quadratic 80.
    {"RegExpGlobalReplaceIsLinear", "",
     "Set re = New RegExp: re.Global = True: re.Pattern = \"x\"\r\n"
     "s = String(25000, \"x\"): t = Timer: For k = 1 To 8: x = re.Replace(s, \"yy\"): Next: small = Timer - t\r\n"
     "s = String(200000, \"x\"): t = Timer: x = re.Replace(s, \"yy\"): large = Timer - t\r\n"
     "If small < 0.02 Then small = 0.02\r\n"
     "report = Int(10 * large / small)\r\n"
     "If report > 999 Then report = 999\r\n",
     1, {100}, -1},
    {"ReplaceGrowingPastTheBudget", "", "x = Replace(String(120000000, \"x\"), \"x\", \"xxxxxxxxxx\")\r\n", 1, {114}, 0},
    {"JoinPastTheBudget", "",
     "s = String(1000000, \"y\"): ReDim a(299): For i = 0 To 299: a(i) = s: Next\r\nx = Join(a, \",\")\r\n", 1,
     {114}, 0},
    {"SplitIntoTooManyPieces", "", "a = Split(String(20000000, \",\"), \",\")\r\n", 1, {107}, 0},
    {"EscapePastTheBudget", "", "x = Escape(String(50000000, \" \"))\r\n", 1, {114}, 0},
    {"RegExpReplacePastTheBudget", "",
     "Set re = New RegExp: re.Global = True: re.Pattern = \".\"\r\n"
     "x = re.Replace(String(200000, \"x\"), Space(5000))\r\n",
     1, {114}, 0},
    {"DictionaryGrowth", "",
     "Set d = CreateObject(\"Scripting.Dictionary\")\r\n"
     "For i = 1 To 10000: d.Add Space(100000) & i, i: Next\r\n",
     1, {107, 114}, 0},
    {"ReDimsKeptInAnArray", "",
     "ReDim k(9)\r\nFor i = 0 To 9: ReDim t(5000000): k(i) = t: Next\r\n", 1, {107}, 0},
    // A real allocation failure: the sanitizer refuses any block over 64 MB, well inside the budget.
    {"AllocationFailureIsTrappable", "", "x = Space(50000000)\r\nreport = 1\r\n", 1, {107}, 0, "", "",
     ":max_allocation_size_mb=64:allocator_may_return_null=1"},
    {"IncludeRepeatsAndADiamond",
     "#include \"a.txt\"\r\n#include \"b.txt\"\r\n#include \"big.txt\"\r\n",
     "report = Lib() + 1\r\n", 1, {100}, 43, "", "Script-AccumulateReferences", "",
     {{"lib.txt", "Function Lib()\r\n  Lib = 42\r\nEnd Function\r\n"},
      {"a.txt", includeLines("lib.txt", 3000) + "Function A()\r\nEnd Function\r\n"},
      {"b.txt", "#include \"lib.txt\"\r\nFunction B()\r\nEnd Function\r\n"},
      {"big.txt", includeLines("lib.txt", 63000)}}},
    {"SendTCPOfTwoMiB", "",
     "If runs = 1 Then\r\n"
     "  SendTCP \"127.0.0.1\", %PORT%, \"hello\"\r\n"
     "Else\r\n"
     "  SendTCP \"127.0.0.1\", %PORT%, String(2097152, \"a\")\r\n"
     "End If\r\n",
     3, {300}, 0, "", "RemoteSend", "", {}, 5 + 2 * 2097152},
    {"NewDevicePastTheIntegerRange", "",
     "For i = 1 To 32766: xap.NewDevice \"d\" & i: Next\r\n"
     "n = xap.NewDevice(\"over\")\r\n"
     "Set d = xap.NewDeviceEx(\"past\")\r\n"
     "If n = 0 Then report = 1\r\n"
     "If Not d Is Nothing Then If d.name = \"past\" Then report = report + 2\r\n",
     1, {100}, 3, "NewDevice"},
    {"RunOfAMissingFile", "", "xap.Run \"nothere.txt\"\r\n", 1, {100}, 0,
     "Script Run Error 53 - File not found: nothere.txt"},
    // What the per-string budget covered already, now with the results kept across runs.
    {"DoublingAStringKeptAcrossRuns", "", "m = \"x\"\r\nDo\r\n  m = m & m\r\n  keep(runs) = m\r\nLoop\r\n", 3, {314},
     0},
    {"ReDimKeptAcrossRuns", "", "ReDim t(5000000)\r\nkeep(runs) = t\r\n", 4, {407}, 0},
    {"SpaceKeptAcrossRuns", "", "keep(runs) = Space(60000000)\r\n", 4, {414}, 0},
    {"StringKeptAcrossRuns", "", "keep(runs) = String(60000000, \"s\")\r\n", 4, {414}, 0},
    // Me kept by Class_Terminate in every place a script or a host member keeps an object;
    // used from each of the script's, and released with the host's when the program stops.
    {"TerminateKeepsMe", kKeeper,
     "Set gDict = CreateObject(\"Scripting.Dictionary\"): Set gHolder = New Holder\r\n"
     "For m = 1 To 7: gMode = m: Set k = New Keeper: k.tag = m: Set k = Nothing: Next\r\n"
     "gMode = 0\r\n"
     "report = gKept.tag + gDict(\"k\").tag + gArr(1).tag + gHolder.item.tag + gRef.tag + xap.GetVar(\"kept\").tag\r\n"
     "Set gKept = Nothing: gDict.RemoveAll: gArr(1) = Empty: Set gHolder.item = Nothing: Set gRef = Nothing\r\n"
     "xap.SaveVar \"kept\", 0\r\n",
     2, {200}, 21},
    // 40,001 terms in the script file, Eval, Execute and ExecuteGlobal; 5,000 parentheses.
    {"LongOperatorChains", "#include \"chain.txt\"\r\n",
     "report = 0\r\n"
     "If Chain() = 40001 Then report = report + 1\r\n"
     "If Len(Eval(Replace(String(40000, \".\"), \".\", \"1 & \") & \"1\")) = 40001 Then report = report + 2\r\n"
     "Execute \"x = \" & Replace(String(40000, \".\"), \".\", \"1 * \") & \"1\": If x = 1 Then report = report + 4\r\n"
     "ExecuteGlobal \"y = \" & Replace(String(40000, \".\"), \".\", \"1 Or \") & \"1\": If y = 1 Then report = report + 8\r\n"
     "x = Eval(String(5000, \"(\") & \"1\" & String(5000, \")\"))\r\n",
     1, {128}, 15, "", "", "", {{"chain.txt", "Function Chain()\r\n  Chain = " + chain("+", 40001) + "\r\nEnd Function\r\n"}}},
    // Every object that goes makes two more: the run ends at its time-out at the latest.
    {"TerminateMakingObjects",
     "Class Breeder\r\n  Private Sub Class_Terminate()\r\n    Set a = New Breeder\r\n    Set b = New Breeder\r\n"
     "  End Sub\r\nEnd Class\r\n",
     "Set x = New Breeder: Set x = Nothing\r\n", 1, {}, -2, "", "", "", {}, 0, true},
    {"UndefinedFunction", "", "report = 1\r\nx = Undefined()\r\nreport = 2\r\n", 1, {113}, 1},
    // The library gives up on nested repetition: each member raises an error, never "no match".
    {"CatastrophicRegExp", "",
     "Set re = New RegExp: re.Pattern = \"(a+)+c|x\": s = String(40, \"a\") & \"!x\"\r\n"
     "On Error Resume Next\r\n"
     "b = re.Test(s): If Err.Number = 5017 Then report = report + 1\r\n"
     "Err.Clear: r = re.Replace(s, \"y\"): If Err.Number = 5017 Then report = report + 2\r\n"
     "Err.Clear: Set m = re.Execute(s): If Err.Number = 5017 Then report = report + 4\r\n"
     "Err.Clear\r\n",
     1, {100}, 7},
    // Members failing in a loop: each kind of entry is sent once, its repeats counted.
    {"MemberErrorsInALoop", "",
     "For i = 1 To 32766: xap.NewDevice \"d\" & i: Next\r\n"
     "For i = 1 To 3000: xap.NewDevice \"over\" & i: Next\r\n"
     "report = 1\r\n",
     1, {100}, 1, "NewDevice", "", "", {}, 0, false, 2},
    {"MemberErrorsInALoopOfResponse", "", "For i = 1 To 3000: Response \"nosuch\", 1: Next\r\nreport = 1\r\n", 1,
     {100}, 1, "nosuch", "", "", {}, 0, false, 2},
    // A script that fills the budget to the brim and keeps it: the records received after it
    // are still stored.
    // A Class_Terminate changing the container whose change released its object (also the
    // program's own record): the change completes, the terminate runs after it.
    {"TerminateChangesItsContainer",
     "Dim gD, gArr, gMode\r\n"
     "Class Churn\r\n  Private Sub Class_Terminate()\r\n    Select Case gMode\r\n"
     "      Case 1: gD.RemoveAll: For i = 1 To 20: gD.Add \"t\" & i, String(200, \"y\"): Next\r\n"
     "      Case 2: ReDim gArr(0): gArr(0) = String(1000, \"z\")\r\n"
     "      Case 3: Set c = Request(\"roof\"): For i = 1 To 30: c.Add String(300, \"c\"), \"k\" & i: Next\r\n"
     "    End Select\r\n  End Sub\r\nEnd Class\r\n",
     "Set gD = CreateObject(\"Scripting.Dictionary\"): gMode = 1\r\n"
     "For i = 1 To 5: gD.Add i, New Churn: Next\r\n"
     "gD.Remove 3: If gD.Count = 20 Then report = report + 1\r\n"
     "For i = 1 To 5: gD.Add \"o\" & i, New Churn: Next\r\n"
     "gD.RemoveAll: If gD.Count = 20 Then report = report + 2\r\n"
     "gMode = 2: ReDim gArr(100): For i = 0 To 100: Set gArr(i) = New Churn: Next\r\n"
     "ReDim Preserve gArr(3): If UBound(gArr) = 0 Then report = report + 4\r\n"
     "gMode = 3: Set c = Request(\"roof\"): c.Add New Churn, \"rec.obj\"\r\n"
     "c.Remove \"rec.obj\": If c.Count >= 30 Then report = report + 8\r\n"
     "gMode = 0\r\n",
     1, {100}, 15},
    // Members that start other scripts, failing in a loop: each kind of entry is sent once.
    {"SpawnInALoop", "", "For i = 1 To 1000: Set r = Spawn(\"job\", \"Main\", \"p\"): Next\r\nreport = 1\r\n", 1, {100}, 1,
     "Spawn", "", "", {}, 0, false, 2},
    {"RunOfFailingFilesInALoop", "",
     "For i = 1 To 300\r\n  r = RunEx(\"bad.txt\", \"Main\", \"p\"): r = RunEx(\"missing.txt\", \"Main\", \"p\")\r\n"
     "  Run \"syntax.txt\"\r\nNext\r\nreport = 1\r\n",
     1, {100}, 1, "Script Run Error", "", "",
     {{"bad.txt", "Sub Main(p)\r\n  x = 1 / 0\r\nEnd Sub\r\n"}, {"syntax.txt", "If Then\r\n"}}, 0, false, 6},
    {"BudgetFilledByAModuleDictionary", kTopOff,
     "Set keep(runs) = CreateObject(\"Scripting.Dictionary\"): TopOff keep(runs): report = 1\r\n", 1, {100}, 1, "",
     "CheckReceivedMessage"},
    {"BudgetFilledByCyclicPairs", kTopOff,
     "Set keep(runs) = CreateObject(\"Scripting.Dictionary\")\r\n"
     "For i = 1 To 60000: Set a = New Pair: Set b = New Pair: Set a.other = b: Set b.other = a: Next\r\n"
     "If runs = 3 Then TopOff keep(runs): report = 1\r\n",
     3, {300}, 1, "", "CheckReceivedMessage"},
    // What a script leaves behind in objects, host members and compiled texts: each is
    // charged, so the budget refuses it long before the machine's memory is gone.
    {"RegExpPatternsKept", "",
     "ReDim a(400)\r\n"
     "For i = 0 To 400: Set a(i) = New RegExp: a(i).Pattern = String(1000000, \"p\") & i: Next\r\n",
     1, {107, 114}, 0},
    {"ClassStringItems", "",
     "Set s = xap.CreateClassString\r\nFor i = 1 To 400: s.Add String(1000000, \"c\") & i: Next\r\n", 1,
     {107, 114}, 0},
    // Refused with an entry logged; once the section is cleared the script may write again.
    {"SettingsWrittenByAScript", "",
     "On Error Resume Next\r\n"
     "For i = 1 To 400: xap.SaveIniSetting \"S\", \"k\" & i, String(1000000, \"v\"), \"hostile.ini\": Next\r\n"
     "e = Err.Number: Err.Clear\r\n"
     "xap.ClearINISection \"S\", \"hostile.ini\"\r\n"
     "xap.SaveIniSetting \"S\", \"k\", String(1000000, \"w\"), \"hostile.ini\"\r\n"
     "If Err.Number = 0 And e = 7 Then report = 1\r\n",
     1, {100}, 1, "SaveIniSetting"},
    {"StatusChangeCallbacks", "",
     "For i = 1 To 400: xap.RegisterStatusChangeCB String(1000000, \"s\") & i, \"f\": Next\r\n", 1, {107, 114},
     0},
    {"ALargeExecute", "", "Execute Replace(Space(1500000), \" \", \"x=1:\")\r\n", 1, {107}, 0},
    // A value the host cannot keep is an error the script sees, not a success that kept nothing.
    {"SaveVarPastTheBudget", "",
     "s = String(1000000, \"a\")\r\nFor i = 1 To 400: xap.SaveVar \"big\" & i, s & i: Next\r\n", 1, {107, 114}, 0},
    // Memory taken on a script's behalf besides its own values: what the settings cache
    // holds, the copy a For Each walks, the job files of Spawn.
    {"IniFileUnderManySpellings", "",
     "xap.SaveIniSetting \"S\", \"k\", String(4000000, \"v\"), \"spelt.ini\"\r\n"
     "xap.FlushIniCache\r\n"
     "p = \"spelt.ini\": n = 0\r\n"
     "For i = 1 To 60: p = \"./\" & p: If Len(xap.GetIniSetting(\"S\", \"k\", \"\", p)) = 4000000 Then n = n + 1\r\n"
     "Next\r\n"
     "If n = 60 Then report = 1\r\n",
     1, {100}, 1},
    {"IniFileTooLargeToRead", "", "x = xap.GetIniSetting(\"S\", \"k\", \"\", \"../Scripts/big.ini\"): report = Len(x)\r\n", 1,
     {107}, 0, "GetIniSetting", "", "", {{"big.ini", bigIni()}}},
    {"IniSectionNames", "",
     "g = String(1000000, \"g\")\r\nFor i = 1 To 60: xap.SaveIniSetting g & i, \"k\", \"v\", \"sect.ini\": Next\r\n", 1,
     {107}, 0, "SaveIniSetting"},
    {"ForEachOverAnArrayInARecursion",
     "Dim big()\r\nSub Deeper(n)\r\n  If n >= 40 Then Exit Sub\r\n  For Each x In big\r\n    Deeper n + 1\r\n    Exit For\r\n  Next\r\nEnd Sub\r\n",
     "ReDim big(1000000): Deeper 1: report = 1\r\n", 1, {107}, 0},
    {"ForEachOverDictionaryKeysInARecursion",
     "Dim dk\r\nSub D(n)\r\n  If n >= 100 Then Exit Sub\r\n  For Each k In dk\r\n    D n + 1\r\n    Exit For\r\n  Next\r\nEnd Sub\r\n",
     "Set dk = CreateObject(\"Scripting.Dictionary\")\r\nFor i = 1 To 400000: dk.Add i, i: Next\r\nD 1: report = 1\r\n", 1,
     {107}, 0},
    {"SpawnWithALargeParameter", "", "Set j = xap.Spawn(\"job\", \"P\", String(100000, \"a\"))\r\n", 1, {107}, 0, "Spawn"},
    {"SpawnUnderManyNames", "", "For i = 1 To 300: Set j = xap.Spawn(\"job\" & i, \"P\", \"x\"): report = i: Next\r\n", 1,
     {167}, 256, "Spawn"},
    // Names with a folder put their jobs below the Scripts folder: counted all the same.
    {"SpawnUnderManyNamesInFolders", "",
     "For k = 0 To 2: v = xap.GetIniSetting(\"a\", \"b\", \"\", \"../Scripts/~d\" & k & \"/x.ini\"): Next: "
     "For i = 1 To 300: Set j = xap.Spawn(\"d\" & (i Mod 3) & \"/job\" & i, \"P\", \"x\"): report = i: Next\r\n",
     1, {167}, 256, "Spawn"},
    // Each run defines one long function again and again: the old definitions go.
    {"ExecuteGlobalRedefinitions", "",
     "b = Replace(Space(10000), \" \", \"x = 1\" & vbCrLf)\r\n"
     "For i = 1 To 20: ExecuteGlobal \"Function F()\" & vbCrLf & b & \"F = \" & i & vbCrLf & \"End Function\": Next\r\n"
     "report = F()\r\n",
     5, {500}, 20},
};

class HostileTable : public ::testing::TestWithParam<HostileRow>
{
};

}  // namespace

// A run that holds the event loop (the text of one Execute takes a minute to read, a loop, a
// long wait): SIGTERM still ends the program at once, and a record received while it ran is
// saved with the others.
TEST(HostileScripts, AStopEndsTheRunAndSavesWhatCameDuringIt)
{
    for (const char *busy : {"Execute String(60000000, \":\")", "Do: Loop", "Do: xap.WaitSecs 2: Loop"}) {
        SCOPED_TRACE(busy);
        BridgeRig rig;
        rig.store = kTableStore;
        rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
        rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"),
                             "Sub Main(tag)\r\n  If tag <> \"roof\" Then Exit Sub\r\n  Response \"cellar\", 1\r\n  "
                                 + QByteArray(busy) + "\r\nEnd Sub\r\n");
        ASSERT_TRUE(rig.start()) << "the program did not come up";
        ASSERT_TRUE(sendUntil(rig, weatherReport(rig), [&] { return rig.sim.vars[64] == 1; }, 5000));
        // Echo queries after it, as a peer keeps asking while the program does not answer.
        rig.send(weatherReport(rig, "late"));
        for (int i = 0; i < 3; ++i)
            rig.send(rig.message(QStringLiteral("WDT.Echo"), rig.source, {{"Echo.Query", {"Query=busy"}}},
                                 QStringLiteral("acme.pinger.pc")));
        stopsAtOnceWithTheRecordsSaved(rig, "late");
    }
}

// A stop while the start-up script is read or its module-level code runs (before the program
// answers anything): the records received meanwhile are saved all the same.
TEST(HostileScripts, AStopDuringTheStartUpScriptSavesWhatCameMeanwhile)
{
    struct Row {
        const char *name;
        QByteArray script;
    };
    const Row rows[] = {
        {"ModuleLevelLoop", "Do: Loop\r\nSub Main(tag)\r\nEnd Sub\r\n"},
        {"ModuleLevelExecute", "Execute String(60000000, \":\")\r\nSub Main(tag)\r\nEnd Sub\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        BridgeRig rig;
        rig.store = kTableStore;
        rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
        rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), row.script);
        rig.waitForReady = false;
        ASSERT_TRUE(rig.start()) << "no heartbeat";
        // Well inside the script's start-up; the program has not answered anything yet.
        waitUntil([] { return false; }, 1500);
        rig.send(weatherReport(rig));
        waitUntil([] { return false; }, 500);
        QElapsedTimer stopping;
        stopping.start();
        ::kill(pid_t(rig.program->pid()), SIGTERM);
        rig.send(weatherReport(rig, "late"));
        ASSERT_TRUE(waitUntil([&] { return !rig.program->running(); }, 30000));
        EXPECT_EQ(rig.program->waitForExit(), 0);
        EXPECT_LT(stopping.elapsed(), 10000);
        waitUntil([] { return false; }, 300);
        EXPECT_TRUE(logged(rig, "The script was stopped: the program is stopping")) << "the start-up had ended before the stop";
        const QByteArray saved = savedStore(rig);
        EXPECT_TRUE(saved.contains("\r\nroof=")) << "the record received during the start-up was not saved";
        EXPECT_TRUE(saved.contains("\r\nacme.wx.pc:late~Weather.Report=late;1")) << "the filters were lost";
        rig.program.reset();
    }
}

// Callbacks registered by the thousand, each failing, called on every change the controller
// reports: one log entry for their failures, the echo answered, a stop at once with the
// records saved.
TEST(HostileScripts, CallbacksOfControllerChangesLeaveTheProgramAnswering)
{
    BridgeRig rig;
    rig.store = QByteArray(kTableStore).replace("[Received]", "[1=Door;Contact;Veltro Quillon;0;3!11!0!0;0;Input;3;0;;;;False\r\n[Received]");
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"),
                         "Dim gK\r\n"
                         "Class K\r\n  Public Sub TSEvent(t)\r\n    Err.Raise 5\r\n  End Sub\r\nEnd Class\r\n"
                         "Sub Main(tag)\r\n"
                         "  If tag <> \"roof\" Then Exit Sub\r\n"
                         "  Set gK = New K\r\n"
                         "  For i = 1 To 20000\r\n"
                         "    RegisterStatusChangeCB \"nofile.txt\", \"P\"\r\n"
                         "    RegisterEventCB 4, gK\r\n"
                         "  Next\r\n"
                         "  Response \"cellar\", 1\r\n"
                         "End Sub\r\n");
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    ASSERT_TRUE(sendUntil(rig, weatherReport(rig), [&] { return rig.sim.vars[64] == 1; }, 5000));
    for (int i = 0; i < 10; ++i) {
        rig.sim.sendIOChange(3, 0, (i + 1) % 2);
        waitUntil([] { return false; }, 200);
    }
    EXPECT_GE(rig.echoAnswerMs(5000), 0) << "no echo answered while the callbacks ran";
    waitUntil([] { return false; }, 1000);
    EXPECT_GE(loggedCount(rig, "File not found: nofile.txt"), 1) << "the callbacks did not run";
    EXPECT_LE(loggedCount(rig, "File not found: nofile.txt"), 2);
    rig.send(weatherReport(rig, "late"));
    stopsAtOnceWithTheRecordsSaved(rig, "late");
}

// Runs still waiting when the stop comes are not each started only to fail: one entry says
// how many were dropped, and at most the run in progress reports its stop.
TEST(HostileScripts, RunsWaitingAtAStopGoWithOneEntry)
{
    constexpr int kWaiting = 40;
    BridgeRig rig;
    rig.store = kTableStore;
    for (int i = 0; i < kWaiting; ++i)
        rig.store += QStringLiteral("acme.wx.pc:q%1~Weather.Report=q%1;1\r\n").arg(i).toLatin1();
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"),
                         "Dim n\r\nSub Main(tag)\r\n  n = n + 1: Response \"cellar\", n\r\n"
                         "  t = Timer: Do While Timer - t < 0.3 And Timer >= t: Loop\r\nEnd Sub\r\n");
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    ASSERT_TRUE(sendUntil(rig, weatherReport(rig, "q0"), [&] { return rig.sim.vars[64] >= 1; }, 3000))
        << "no run started";
    for (int i = 1; i < kWaiting; ++i)
        rig.send(weatherReport(rig, QStringLiteral("q%1").arg(i).toLatin1().constData()));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.vars[64] >= 3; }, 20000)) << "the waiting runs did not start";
    EXPECT_EQ(rig.program->terminate(), 0);
    // What the program sent on its way out is read from the socket.
    waitUntil([] { return false; }, 500);
    EXPECT_LE(loggedCount(rig, "Script Run Error"), 1);
    EXPECT_EQ(loggedCount(rig, "waiting script runs dropped: the program is stopping"), 1);
    EXPECT_LT(rig.sim.vars[64], kWaiting) << "every run went before the stop";
    rig.program.reset();
}

TEST_P(HostileTable, EndsWithinBoundsAndTheProgramAnswersAndSaves)
{
    const HostileRow &row = GetParam();
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost));
    QByteArray received;
    QList<QTcpSocket *> connections;
    QObject::connect(&peer, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *c = peer.nextPendingConnection()) {
            connections.append(c);
            QObject::connect(c, &QTcpSocket::readyRead, [&received, c] { received += c->readAll(); });
        }
    });

    BridgeRig rig;
    rig.store = kTableStore;
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    // A small quarantine, so that freed blocks are not counted against the program.
    rig.programEnvironment = {{QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS")
                                                                   + QStringLiteral(":quarantine_size_mb=16")
                                                                   + QLatin1String(row.asan)}};
    QByteArray body = row.body;
    body.replace("%PORT%", QByteArray::number(peer.serverPort()));
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"),
                         QByteArray(row.head) + kTableScript + "Sub Hostile\r\n" + body + "End Sub\r\n");
    for (const auto &[name, text] : row.files)
        rig.folder.writeFile(QStringLiteral("Scripts/") + name, text);
    ASSERT_TRUE(rig.start()) << "the program did not come up";

    const QByteArray trigger = weatherReport(rig);
    const auto events = [&] { return rig.of(QStringLiteral("Tessera.Event")).join("\n").toStdString(); };
    ASSERT_TRUE(sendUntil(rig, weatherReport(rig, "warm"), [&] { return rig.sim.vars[64] == 1; }, 2000))
        << "no script ran for a received message\n" << events();
    // What the program itself needs, before any hostile script ran (under the sanitizers
    // far more than in a release build).
    const qint64 ownKb = rig.program->residentKb();
    ASSERT_GT(ownKb, 0);
    for (int run = 1; run <= row.runs; ++run) {
        // The peer has taken everything sent so far: nothing is waiting when the next text comes.
        if (row.tcpBytes && run > 1)
            EXPECT_TRUE(waitUntil([&] { return received.size() == 5 + (run - 2) * 2097152; }, 20000))
                << "before run " << run << " the peer has " << received.size() << " bytes\n" << events();
        QElapsedTimer clock;
        clock.start();
        rig.send(trigger);
        if (row.timesOut) {
            // Under the sanitizers the objects left take seconds to free; the bound is loose.
            EXPECT_TRUE(waitUntil([&] { return rig.sim.vars[64] / 100 == run || logged(rig, "ran past its time-out"); },
                                  kScriptTimeoutMs + 15000))
                << "run " << run << " still going after " << clock.elapsed() << " ms\n" << events();
            continue;
        }
        const bool reported = waitUntil(
            [&] { return rig.sim.vars[64] / 100 == run || !rig.program->running(); }, kScriptTimeoutMs + 1000);
        ASSERT_TRUE(reported && rig.program->running())
            << "run " << run << " did not report within " << clock.elapsed() << " ms; the program "
            << (rig.program->running() ? "runs" : "ended") << "; cellar " << rig.sim.vars[64] << "\n" << events();
    }
    if (!row.timesOut)
        EXPECT_TRUE(row.cellar.count(rig.sim.vars[64])) << "cellar " << rig.sim.vars[64];
    if (row.attic == -2) {
        // nothing reported
    } else if (row.attic >= 0) {
        EXPECT_EQ(rig.sim.vars[65], row.attic);
    } else {
        // The ratio of the long replace to the short ones, times ten.
        EXPECT_LT(rig.sim.vars[65], 30) << "quadratic";
    }
    const qint64 peakKb = rig.program->peakResidentKb();
    EXPECT_GT(peakKb, 0);
    EXPECT_LT(peakKb - ownKb, kBudgetKb + kSlackKb)
        << "peak resident memory " << peakKb / 1024 << " MB, " << ownKb / 1024 << " MB before the script";

    // A record received after the script is stored too.
    rig.send(weatherReport(rig, "late"));
    EXPECT_GE(rig.echoAnswerMs(5000), 0) << "no echo answered after the script";
    if (*row.logged)
        EXPECT_TRUE(waitUntil([&] { return logged(rig, row.logged); }, 5000)) << "not logged: " << row.logged;
    if (row.mostLogged)
        EXPECT_LE(loggedCount(rig, row.logged), row.mostLogged) << "entries naming " << row.logged;
    if (*row.unlogged)
        EXPECT_FALSE(logged(rig, row.unlogged)) << "logged: " << row.unlogged << "\n" << events();
    if (row.tcpBytes) {
        EXPECT_TRUE(waitUntil([&] { return received.size() >= row.tcpBytes; }, 20000));
        EXPECT_EQ(received.size(), row.tcpBytes);
    }

    EXPECT_EQ(rig.program->terminate(), 0);
    const QByteArray saved = savedStore(rig);
    EXPECT_TRUE(saved.contains("\r\nroof=")) << "the records were not saved";
    EXPECT_TRUE(saved.contains("\r\nlate=")) << "the record received after the script was not saved";
    rig.program.reset();
    qDeleteAll(connections);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<HostileRow> &info) { return std::string(info.param.name); });

// A script can write the user's script file (a settings file is valid script text). At every
// start the program reads it itself: a file far larger than any script is not read at all,
// so the program neither goes deaf for the minute such a parse takes nor holds its tree.
TEST(HostileScripts, AScriptFileFarLargerThanAnyScriptIsNotRead)
{
    BridgeRig rig;
    rig.store = kTableStore;
    rig.pluginSettings += "PeriodicScriptInterval=off\r\n";
    rig.programEnvironment = {{QStringLiteral("ASAN_OPTIONS"),
                               qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":quarantine_size_mb=16")}};
    rig.folder.writeFile(QStringLiteral("Scripts/xaptvkKorvane.txt"), "[S]\r\nk=" + chain("+", 1000000) + "\r\n");
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    EXPECT_GE(rig.echoAnswerMs(5000), 0) << "no echo answered after the start";
    EXPECT_TRUE(waitUntil([&] { return logged(rig, "xaptvkKorvane.txt is not loaded"); }, 5000));
    const qint64 peakKb = rig.program->peakResidentKb();
    EXPECT_LT(peakKb, kBudgetKb + kSlackKb) << "peak resident memory " << peakKb / 1024 << " MB";
    EXPECT_EQ(rig.program->terminate(), 0);
    rig.program.reset();
}
