// The engine's limits hold for whatever a script builds: chains of any length are released
// without deep recursion, every way of taking memory meets one budget with a run error the
// script can trap (and the count of what is held comes back to where it was), and long
// built-ins end at the time-out.
#include "Interpreter.h"
#include "MemoryBudget.h"
#include "ScriptControl.h"

#include "automation/Collection.h"
#include "automation/Dictionary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

// Hostile(), called under On Error Resume Next from Trial(), which returns the error it left.
const char kHarness[] = "Function Trial()\n"
                        "  On Error Resume Next\n"
                        "  Hostile\n"
                        "  Trial = Err.Number\n"
                        "End Function\n";

const char kLink[] = "Dim gone\n"
                     "Class Link\n"
                     "  Public nx\n"
                     "  Private Sub Class_Terminate\n"
                     "    gone = gone + 1\n"
                     "  End Sub\n"
                     "End Class\n";

qint32 runHostile(ScriptControl &sc, const QString &body)
{
    sc.AddCode(QStringLiteral("Sub Hostile\n") + body + QStringLiteral("\nEnd Sub\n") + QLatin1String(kHarness));
    return sc.Run(QStringLiteral("Trial")).toLong();
}

struct BudgetRow {
    const char *name;
    const char *body;
    qint32 error;
};

// A budget of 16 MB keeps the table quick.
class MemoryLimits : public ::testing::TestWithParam<BudgetRow>
{
protected:
    void SetUp() override
    {
        m_saved = MemoryBudget::bytes();
        MemoryBudget::setBytes(16LL << 20);
    }
    void TearDown() override { MemoryBudget::setBytes(m_saved); }
    qint64 m_saved = 0;
};

const BudgetRow kBudgetRows[] = {
    {"Doubling", "m = \"x\": Do: m = m & m: Loop", 14},
    {"DoublingWithPlus", "m = \"x\": Do: m = m + m: Loop", 14},
    {"Space", "x = Space(10000000)", 14},
    {"String", "x = String(10000000, \"s\")", 14},
    {"Replace", "x = Replace(String(4000000, \"x\"), \"x\", \"xxxxx\")", 14},
    {"JoinOfSharedTexts", "s = String(100000, \"y\"): ReDim a(49): For i = 0 To 49: a(i) = s: Next: x = Join(a, \",\")",
     14},
    {"Split", "a = Split(String(2000000, \",\"), \",\")", 7},
    {"Escape", "x = Escape(String(3000000, \" \"))", 14},
    {"RegExpReplace",
     "Set re = New RegExp: re.Global = True: re.Pattern = \".\": x = re.Replace(String(2000000, \"x\"), \"yyyyyyyyyy\")",
     14},
    {"RegExpReplaceWithTheRestOfTheText",
     "Set re = New RegExp: re.Global = True: re.Pattern = \"x\": x = re.Replace(String(20000, \"x\"), \"$'\")", 14},
    {"RegExpExecute", "Set re = New RegExp: re.Global = True: re.Pattern = \".\": Set m = re.Execute(String(1000000, \"x\"))",
     7},
    {"UCaseAndLCase", "s = Space(5000000): t = UCase(s): u = LCase(s)", 14},
    {"MidAndLeft", "s = Space(5000000): t = Mid(s, 2): u = Left(s, 4000000)", 14},
    {"StrReverse", "s = Space(5000000): t = StrReverse(s)", 14},
    {"DictionaryGrowth", "Set d = CreateObject(\"Scripting.Dictionary\"): For i = 1 To 10000000: d.Add i, i: Next", 7},
    {"DictionaryLongKeys",
     "Set d = CreateObject(\"Scripting.Dictionary\"): k = Space(100000): For i = 1 To 1000: d.Add k & i, i: Next", 7},
    {"ReDim", "ReDim a(1000000)", 7},
    {"ArrayCopiedOnWrite", "ReDim a(300000): b = a: b(0) = 1", 7},
    {"ReDimPreserveGrowing", "ReDim a(10): For i = 1 To 30: ReDim Preserve a(i * 100000): Next", 7},
    {"ReDimsKeptInAnArray", "ReDim k(9): For i = 0 To 9: ReDim t(200000): k(i) = t: Next", 7},
    {"ObjectsOfAClass", "ReDim k(200000): For i = 0 To 200000: Set k(i) = New Link: Next", 7},
    {"ObjectsOfABuiltInClass", "ReDim k(200000): For i = 0 To 200000: Set k(i) = New RegExp: Next", 7},
    {"TheTokensOfALargeExecute", "Execute Replace(Space(400000), \" \", \"x=1:\")", 7},
    {"TheTreeOfALargeEval", "x = Eval(Replace(Space(200000), \" \", \"(1)+\") & \"1\")", 7},
    // Definitions under ever new names: each costs its tables and names, far beyond its nodes.
    {"ClassesUnderNewNames",
     "For r = 1 To 40: s = \"\": For i = 1 To 500: s = s & \"Class C\" & r & \"_\" & i & vbLf & \"Public a, b\" & vbLf & "
     "\"End Class\" & vbLf: Next: ExecuteGlobal s: Next",
     7},
    {"ModuleVariablesUnderNewNames",
     "For r = 1 To 400: s = \"Dim v\" & r & \"_0\": For i = 1 To 499: s = s & \", v\" & r & \"_\" & i: Next: "
     "ExecuteGlobal s: Next",
     7},
    {"ConstantsUnderNewNames",
     "For r = 1 To 400: s = \"\": For i = 1 To 500: s = s & \"Const k\" & r & \"_\" & i & \" = \" & i & vbLf: Next: "
     "ExecuteGlobal s: Next",
     7},
    {"ImplicitModuleVariables",
     "For r = 1 To 400: s = \"\": For i = 1 To 500: s = s & \"w\" & r & \"_\" & i & \" = 1\" & vbLf: Next: "
     "ExecuteGlobal s: Next",
     7},
    {"ProceduresUnderNewNames",
     "For r = 1 To 100: s = \"\": For i = 1 To 500: s = s & \"Sub p\" & r & \"_\" & i & \"()\" & vbLf & \"End Sub\" & vbLf: "
     "Next: ExecuteGlobal s: Next",
     7},
    {"LocalsAddedByExecute", "For i = 1 To 200000: Execute \"Dim l\" & i: Next", 7},
};

INSTANTIATE_TEST_SUITE_P(Rows, MemoryLimits, ::testing::ValuesIn(kBudgetRows),
                         [](const ::testing::TestParamInfo<BudgetRow> &info) { return std::string(info.param.name); });

} // namespace

TEST_P(MemoryLimits, RaisesATrappableErrorAndGivesEverythingBack)
{
    const qint64 before = MemoryBudget::used();
    {
        ScriptControl sc;
        sc.setTimeout(60000);
        sc.AddCode(QLatin1String(kLink));
        EXPECT_EQ(runHostile(sc, QString::fromLatin1(GetParam().body)), GetParam().error);
        // Once the failing statement's values are gone the engine works on.
        EXPECT_EQ(sc.Eval(QStringLiteral("Len(Space(1000) & \"x\")")).toLong(), 1001);
    }
    EXPECT_EQ(MemoryBudget::used(), before) << "the count of what values hold did not come back";
}

// A script that filled the budget and keeps it costs the program none of its own work (a
// received record stored, a log line built): only what a script drives is refused.
TEST_F(MemoryLimits, ABudgetFilledByAScriptRefusesOnlyScripts)
{
    ScriptControl sc;
    sc.setTimeout(60000);
    sc.AddCode(QStringLiteral("Dim keep\nSub Hostile\n  Set keep = CreateObject(\"Scripting.Dictionary\")\n"
                              "  For i = 1 To 10000000: keep.Add Space(1000) & i, i: Next\nEnd Sub\n"
                              "Function Later()\n  On Error Resume Next\n  x = Space(1000000)\n  Later = Err.Number\n"
                              "End Function\n")
               + QLatin1String(kHarness));
    // The entry's key or the entry itself, whichever finds the budget full first.
    const long filled = sc.Run(QStringLiteral("Trial")).toLong();
    ASSERT_TRUE(filled == 7 || filled == 14) << filled;
    const std::pair<const char *, std::function<void()>> ownWork[] = {
        {"Dictionary", [] { Dictionary d; d.add(Variant(QString(5000, QLatin1Char('k'))), Variant(1)); }},
        {"Collection", [] { Collection c; c.add(Variant(QString(5000, QLatin1Char('v'))), QStringLiteral("key")); }},
        {"Text", [] {
             MemoryBudget::TextBuilder t;
             t.append(QString(50000, QLatin1Char('t')));
         }},
        {"Array", [] { MemoryBudget::checkArray(100000); }},
    };
    for (const auto &[name, work] : ownWork)
        EXPECT_NO_THROW(work()) << name;
    // The script's own next allocation is still refused (compiled before: a full budget
    // refuses the tree of new text too).
    EXPECT_EQ(sc.Run(QStringLiteral("Later")).toLong(), 14);
}

// Values kept in module variables stay counted from one run to the next.
TEST_F(MemoryLimits, ValuesKeptAcrossRunsCount)
{
    ScriptControl sc;
    sc.AddCode(QStringLiteral("Dim keep(9), runs\nSub Hostile\n  runs = runs + 1\n  keep(runs) = Space(3000000)\nEnd Sub\n")
               + QLatin1String(kHarness));
    std::vector<qint32> errors;
    for (int run = 0; run < 4; ++run)
        errors.push_back(sc.Run(QStringLiteral("Trial")).toLong());
    EXPECT_EQ(errors, (std::vector<qint32>{0, 0, 14, 14}));
    sc.ExecuteStatement(QStringLiteral("Erase keep"));
    EXPECT_EQ(sc.Run(QStringLiteral("Trial")).toLong(), 0) << "what was erased is still counted";
}

namespace {

struct ChainRow {
    const char *name;
    const char *build; // leaves a chain of `links` in h
    int links;
    bool linksTerminate; // every link is a Link, whose Class_Terminate counts
};

// Far deeper than the stack would take, within the budget (a dictionary takes 2 KB).
const ChainRow kChains[] = {
    {"Objects", "Set h = Nothing: For i = 1 To L: Set n = New Link: Set n.nx = h: Set h = n: Next: Set n = Nothing",
     300000, true},
    {"Dictionaries",
     "Set h = Nothing: For i = 1 To L: Set e = CreateObject(\"Scripting.Dictionary\"): e.Add \"n\", h: Set h = e: "
     "Next: Set e = Nothing",
     100000, false},
    {"NestedArrays", "h = Array(): For i = 1 To L: h = Array(h): Next", 300000, false},
    {"ObjectsThroughArrays",
     "Set h = Nothing: For i = 1 To L: Set n = New Link: n.nx = Array(h): Set h = n: Next: Set n = Nothing", 300000,
     true},
    {"DictionaryItemsThroughArrays",
     "h = Empty: For i = 1 To L: Set e = CreateObject(\"Scripting.Dictionary\"): e.Add 1, h: h = Array(e): Next: "
     "Set e = Nothing",
     100000, false},
};

class Chains : public ::testing::TestWithParam<ChainRow>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, Chains, ::testing::ValuesIn(kChains),
                         [](const ::testing::TestParamInfo<ChainRow> &info) { return std::string(info.param.name); });

} // namespace

// Dropped by the script: every link goes, each Class_Terminate runs; dropped with the engine
// (left in a module variable): it goes too.
TEST_P(Chains, AreReleasedWhateverTheirLength)
{
    const qint64 before = MemoryBudget::used();
    {
        ScriptControl sc;
        sc.setTimeout(120000);
        sc.AddCode(QLatin1String(kLink));
        sc.AddCode(QStringLiteral("Dim h\nConst L = %1\nSub Build\n").arg(GetParam().links)
                   + QLatin1String(GetParam().build) + QStringLiteral("\nEnd Sub\n"));
        sc.Run(QStringLiteral("Build"));
        sc.ExecuteStatement(QStringLiteral("h = Empty"));
        if (GetParam().linksTerminate)
            EXPECT_EQ(sc.Eval(QStringLiteral("gone")).toLong(), GetParam().links);
        sc.Run(QStringLiteral("Build"));
    }
    EXPECT_EQ(MemoryBudget::used(), before);
}

// A shallow release still runs Class_Terminate before the next statement.
TEST(ChainRelease, ShallowReleaseTerminatesAtOnce)
{
    ScriptControl sc;
    sc.AddCode(QLatin1String(kLink));
    sc.AddCode(QStringLiteral("Set a = New Link: Set a.nx = New Link: Set a = Nothing: r = gone"));
    EXPECT_EQ(sc.Eval(QStringLiteral("r")).toLong(), 2);
}

namespace {

struct LongRow {
    const char *name;
    const char *body;
};

// Each takes seconds without a look at the clock inside the built-in (or the engine's own
// work that no statement of the script marks).
const LongRow kLongRows[] = {
    {"Replace", "x = Replace(String(60000000, \"x\"), \"x\", \"\")"},
    {"RegExpReplace", "Set re = New RegExp: re.Global = True: re.Pattern = \"x\": x = re.Replace(String(60000000, \"x\"), \"\")"},
    {"Escape", "x = Escape(String(40000000, \"a\"))"},
    {"Join", "ReDim a(6000000): x = Join(a, \"\")"},
    // Reading and parsing a long text.
    {"ExecuteOfALongLine", "Execute String(10000000, \":\")"},
    {"ExecuteOfManyStatements", "Execute Replace(String(300000, \".\"), \".\", \"x = 1\" & vbCrLf)"},
    {"EvalOfALongChain", "x = Eval(Replace(String(300000, \".\"), \".\", \"1 + \") & \"1\")"},
    // Every object that goes makes two more.
    {"TerminateMakingObjects",
     "ExecuteGlobal \"Class Breeder\" & vbCrLf & \"Private Sub Class_Terminate\" & vbCrLf & \"Set a = New Breeder\" & vbCrLf"
     " & \"Set b = New Breeder\" & vbCrLf & \"End Sub\" & vbCrLf & \"End Class\"\n"
     "Set x = New Breeder: Set x = Nothing\nDo: Loop"},
};

class LongBuiltins : public ::testing::TestWithParam<LongRow>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, LongBuiltins, ::testing::ValuesIn(kLongRows),
                         [](const ::testing::TestParamInfo<LongRow> &info) { return std::string(info.param.name); });

} // namespace

TEST_P(LongBuiltins, EndAtTheTimeOut)
{
    ScriptControl sc;
    sc.setTimeout(200);
    QElapsedTimer clock;
    clock.start();
    qint32 error = 0;
    try {
        runHostile(sc, QString::fromLatin1(GetParam().body));
    } catch (const VbError &e) {
        error = e.number;
    }
    EXPECT_EQ(error, Interpreter::TimeoutError);
    EXPECT_LT(clock.elapsed(), 2000);
}

namespace {

// Class_Terminate of an object that a built-in releases changes the very container the
// built-in is working on: the built-in's change completes, the terminate runs after it.
const char kChurn[] = "Dim gD, gArr, gMode, n\n"
                      "Set gD = CreateObject(\"Scripting.Dictionary\")\n"
                      "Class Churn\n"
                      "  Private Sub Class_Terminate\n"
                      "    n = n + 1\n"
                      "    Select Case gMode\n"
                      "      Case 1: gD.RemoveAll: For i = 1 To 20: gD.Add \"t\" & i, String(200, \"y\"): Next\n"
                      "      Case 2: ReDim gArr(0): gArr(0) = String(1000, \"z\")\n"
                      "      Case 3: gD.Add Me, Me: gD.Add \"me\" & n, Array(Me, Me)\n"
                      "    End Select\n"
                      "  End Sub\n"
                      "End Class\n";

struct ContainerRow {
    const char *name;
    const char *body;
    const char *result; // n (terminates run) / what the container holds after the statement
};

const ContainerRow kContainerRows[] = {
    {"DictionaryRemove", "gMode = 1: For i = 1 To 5: gD.Add i, New Churn: Next\ngD.Remove 3\nr = n & \"/\" & gD.Count",
     "5/20"},
    {"DictionaryRemoveAll", "gMode = 1: For i = 1 To 5: gD.Add i, New Churn: Next\ngD.RemoveAll\nr = n & \"/\" & gD.Count",
     "5/20"},
    {"DictionaryRemoveKeepingMeInIt", "gMode = 3: gD.Add \"x\", New Churn\ngD.Remove \"x\"\nr = n & \"/\" & gD.Count",
     "1/2"},
    {"DictionaryItemSet", "gMode = 1: gD.Add \"a\", New Churn\ngD(\"a\") = 5\nr = n & \"/\" & gD.Count", "1/20"},
    {"DictionaryKeyChange",
     "gMode = 1: Set o = New Churn: gD.Add o, 1: Set o = Nothing\ngD.Key(gD.Keys()(0)) = \"k\"\nr = n & \"/\" & gD.Count",
     "1/20"},
    {"RemoveInsideForEach",
     "gMode = 1: For i = 1 To 5: gD.Add i, New Churn: Next\nFor Each k In gD: If gD.Exists(k) Then gD.Remove k\nNext\n"
     "r = n & \"/\" & gD.Count",
     "5/20"},
    {"ReDimPreserve", "gMode = 2: ReDim gArr(100): For i = 0 To 100: Set gArr(i) = New Churn: Next\nReDim Preserve gArr(3)\n"
     "r = n & \"/\" & UBound(gArr)", "101/0"},
    {"ReDim", "gMode = 2: ReDim gArr(5): For i = 0 To 5: Set gArr(i) = New Churn: Next\nReDim gArr(7)\n"
     "r = n & \"/\" & UBound(gArr)", "6/0"},
    {"Erase", "gMode = 2: ReDim gArr(5): For i = 0 To 5: Set gArr(i) = New Churn: Next\nErase gArr\n"
     "r = n & \"/\" & UBound(gArr)", "6/0"},
    {"ElementAssignment", "gMode = 2: ReDim gArr(2): Set gArr(1) = New Churn\ngArr(1) = 5\nr = n & \"/\" & UBound(gArr)",
     "1/0"},
    {"LastReferenceSetToNothingInAWalk",
     "gMode = 1: For i = 1 To 3: gD.Add i, New Churn: Next\n"
     "For Each k In gD.Keys: If gD.Exists(k) Then Set o = gD(k): gD.Remove k: Set o = Nothing\n"
     "Next\nr = n & \"/\" & gD.Count",
     "3/20"},
};

class TerminateInItsContainer : public ::testing::TestWithParam<ContainerRow>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, TerminateInItsContainer, ::testing::ValuesIn(kContainerRows),
                         [](const ::testing::TestParamInfo<ContainerRow> &info) { return std::string(info.param.name); });

// Objects whose Class_Terminate never ends.
const char kEndless[] = "Class Endless\n"
                        "  Private Sub Class_Terminate\n"
                        "    Do: Loop\n"
                        "  End Sub\n"
                        "End Class\n"
                        "Dim gA, gB, gC\n"
                        "Function Three()\n"
                        "  Three = Array(New Endless, New Endless, New Endless)\n"
                        "End Function\n";

} // namespace

TEST_P(TerminateInItsContainer, RunsAfterTheChange)
{
    ScriptControl sc;
    sc.AddCode(QLatin1String(kChurn));
    sc.AddCode(QString::fromLatin1(GetParam().body));
    EXPECT_EQ(sc.Eval(QStringLiteral("r")).toString(), QLatin1String(GetParam().result));
}

// What the host drops outside a run (a reset, a value it held) shares one time-out, however
// many objects go.
TEST(TerminateOutsideARun, ResetAndHostReleasesShareOneTimeOut)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    ScriptControl sc;
    sc.setTimeout(1000);
    sc.AddCode(QLatin1String(kEndless));
    sc.AddCode(QStringLiteral("Set gA = New Endless: Set gB = New Endless: Set gC = New Endless"));
    QElapsedTimer clock;
    clock.start();
    sc.Reset();
    EXPECT_LT(clock.elapsed(), 2500) << "reset";

    sc.AddCode(QLatin1String(kEndless));
    Variant held = sc.Eval(QStringLiteral("Three()"));
    clock.restart();
    held = Variant();
    QCoreApplication::processEvents();
    EXPECT_LT(clock.elapsed(), 2500) << "host release";
    EXPECT_EQ(sc.Eval(QStringLiteral("1 + 1")).toLong(), 2);
}
