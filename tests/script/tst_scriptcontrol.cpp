// The script control as the program drives it: host objects, modules,
// errors with their place, the time-out and re-entrant runs.
#include "Interpreter.h"
#include "ScriptControl.h"
#include "ScriptModules.h"

#include <gtest/gtest.h>

namespace {

// A host object whose members scripts reach by name, also as bare names.
class Host : public DispatchObject<Host>
{
public:
    static void describe(DispatchTable<Host> &t)
    {
        t.name("Host");
        t.method("Twice", &Host::Twice);
        t.method("Bump", &Host::Bump);
        t.method("SetText", &Host::SetText);
        t.property("Caption", &Host::caption, &Host::setCaption);
        t.method("RunNested", &Host::RunNested);
    }

    double Twice(double x) { return 2 * x; }
    void Bump(int &value) { ++value; }
    void SetText(QString &text) { text = QStringLiteral("from host"); }
    QString caption() const { return m_caption; }
    void setCaption(const QString &c) { m_caption = c; }
    // Runs another script while the calling one is still live.
    Variant RunNested(const QString &module, const QString &procedure, const Variant &arg)
    {
        std::vector<Variant> args{arg};
        return control->module(module)->Run(procedure, args);
    }

    ScriptControl *control = nullptr;

private:
    QString m_caption = QStringLiteral("start");
};

struct ScriptControlTest : ::testing::Test {
    ScriptControl sc;
    std::shared_ptr<Host> host = std::make_shared<Host>();
    QStringList prompts;

    void SetUp() override
    {
        host->control = &sc;
        sc.setPromptLog([this](const QString &t) { prompts << t; });
    }
};

} // namespace

TEST_F(ScriptControlTest, AddObjectMembersAreBareNamesAfterTheScriptsOwn)
{
    sc.AddObject("xap", host, true);
    sc.AddCode("Function UseBare() : UseBare = Twice(21) & \"/\" & xap.Twice(1) & \"/\" & Caption : End Function\n"
               "Function Twice(x) : Twice = \"script \" & x : End Function\n"
               "Function UseOwn() : UseOwn = Twice(1) : End Function\n"
               "Sub SetCaption() : Caption = \"set bare\" : End Sub");
    // The script's own Twice wins over the host's.
    EXPECT_EQ(sc.Run("UseOwn").toString(), "script 1");
    EXPECT_EQ(sc.Run("UseBare").toString(), "script 21/2/start");
    sc.Run("SetCaption");
    EXPECT_EQ(host->caption(), "set bare");
}

TEST_F(ScriptControlTest, AddObjectWithoutMembersKeepsThemQualified)
{
    sc.AddObject("h", host, false);
    sc.AddCode("Function F() : F = h.Twice(4) : End Function\n"
               "Function G() : G = Twice(4) : End Function");
    EXPECT_EQ(sc.Run("F").toDouble(), 8.0);
    EXPECT_THROW(sc.Run("G"), VbError);
    EXPECT_THROW(sc.AddObject("H", host, false), VbError); // names are unique without regard to case
}

TEST_F(ScriptControlTest, ByRefArgumentsComeBackFromHostMembers)
{
    sc.AddObject("h", host, true);
    sc.AddCode("Function F()\n Dim n, s : n = 41 : s = \"x\"\n h.Bump n\n Bump n\n SetText s\n F = n & \" \" & s\nEnd Function\n"
               "Function G()\n Dim n : n = 1\n h.Bump (n)\n G = n\nEnd Function");
    EXPECT_EQ(sc.Run("F").toString(), "43 from host");
    EXPECT_EQ(sc.Run("G").toLong(), 1); // a parenthesised argument is a copy
}

TEST_F(ScriptControlTest, RunPassesArgumentsAndWritesBackByRef)
{
    sc.AddCode("Function Add(a, b) : Add = a + b : End Function\nSub Change(x) : x = x & \"!\" : End Sub");
    EXPECT_EQ(sc.Run("Add", {Variant(2), Variant(3)}).toLong(), 5);
    auto global = sc.module("Global");
    std::vector<Variant> args{Variant("hi")};
    global->Run("Change", args);
    EXPECT_EQ(args[0].toString(), "hi!");
    EXPECT_THROW(sc.Run("Add", {Variant(1)}), VbError);
    EXPECT_EQ(sc.Error()->Number(), 450);
    EXPECT_THROW(sc.Run("Missing"), VbError);
}

TEST_F(ScriptControlTest, ModulesAddGivesAFreshModule)
{
    auto m = sc.addModule("Main");
    m->AddCode("Dim counter : counter = 5\nFunction Get1() : Get1 = counter : End Function");
    std::vector<Variant> none;
    EXPECT_EQ(m->Run("Get1", none).toLong(), 5);
    auto again = sc.Modules()->add("MAIN");
    EXPECT_NE(again.get(), m.get());
    EXPECT_EQ(sc.Modules()->item("main").get(), again.get());
    EXPECT_THROW(again->Run("Get1", none), VbError); // the new module is empty
    again->AddCode("Function Get1() : Get1 = IsEmpty(counter) : End Function");
    EXPECT_TRUE(again->Run("Get1", none).toBool());
    EXPECT_THROW(sc.Modules()->item("nothere"), VbError);
}

TEST_F(ScriptControlTest, ModulesSeeTheGlobalModule)
{
    sc.AddCode("Function Shared() : Shared = \"global\" : End Function");
    auto m = sc.addModule("M1");
    m->AddCode("Function Use() : Use = Shared() & \" seen\" : End Function");
    std::vector<Variant> none;
    EXPECT_EQ(m->Run("Use", none).toString(), "global seen");
}

TEST_F(ScriptControlTest, SyntaxErrorsGiveLineAndColumn)
{
    try {
        sc.AddCode("Dim a\na = 1\nIf a Then\n  a = (1 + \nEnd If");
        FAIL() << "no syntax error";
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 1023); // Expected expression
        EXPECT_EQ(e.line, 4);
        EXPECT_EQ(e.column, 12);
    }
    EXPECT_EQ(sc.Error()->Number(), 1023);
    EXPECT_EQ(sc.Error()->Line(), 4);
    EXPECT_EQ(sc.Error()->Column(), 12);
    EXPECT_EQ(sc.Error()->Description(), "Expected expression");
    EXPECT_TRUE(sc.Error()->Source().contains("compilation"));
    sc.Error()->Clear();
    EXPECT_EQ(sc.Error()->Number(), 0);
}

TEST_F(ScriptControlTest, RunTimeErrorsGiveTheFailingStatement)
{
    sc.AddCode("Function Inner(x)\n  Inner = 1 / x\nEnd Function\nFunction Outer()\n    Outer = Inner(0)\nEnd Function");
    EXPECT_THROW(sc.Run("Outer"), VbError);
    EXPECT_EQ(sc.Error()->Number(), 11);
    EXPECT_EQ(sc.Error()->Line(), 2);
    EXPECT_EQ(sc.Error()->Column(), 3);
    EXPECT_EQ(sc.Error()->Description(), "Division by zero");
    // The engine stays usable.
    EXPECT_EQ(sc.Eval("1 + 1").toLong(), 2);
}

TEST_F(ScriptControlTest, TimeoutStopsARunawayScriptAndTheEngineStaysUsable)
{
    sc.setTimeout(150);
    sc.AddCode("Sub Forever()\n On Error Resume Next\n Do\n  x = x + 1\n Loop\nEnd Sub\n"
               "Sub EmptyLoop() : Do : Loop : End Sub\nFunction Ok() : Ok = 7 : End Function");
    EXPECT_THROW(sc.Run("Forever"), VbError);
    EXPECT_EQ(sc.Error()->Number(), Interpreter::TimeoutError);
    EXPECT_THROW(sc.Run("EmptyLoop"), VbError);
    EXPECT_EQ(sc.Run("Ok").toLong(), 7);
}

TEST_F(ScriptControlTest, ReentrantRunFromAHostMember)
{
    sc.AddObject("h", host, true);
    auto inner = sc.addModule("Inner");
    inner->AddCode("Function Deep(x) : Deep = \"inner \" & x : End Function\n"
                   "Function Boom(x) : Boom = 1 / 0 : End Function");
    auto outer = sc.addModule("Outer");
    outer->AddCode("Function Go(v)\n Dim mine : mine = \"outer\"\n"
                   " Go = mine & \" / \" & RunNested(\"Inner\", \"Deep\", v) & \" / \" & mine\nEnd Function\n"
                   "Function Trap()\n On Error Resume Next\n RunNested \"Inner\", \"Boom\", 1\n"
                   " Trap = Err.Number & \" then \" & (2 + 2)\nEnd Function");
    std::vector<Variant> args{Variant(5)};
    EXPECT_EQ(outer->Run("Go", args).toString(), "outer / inner 5 / outer");
    std::vector<Variant> none;
    EXPECT_EQ(outer->Run("Trap", none).toString(), "11 then 4");
}

TEST_F(ScriptControlTest, ResetDropsCodeAndObjects)
{
    sc.AddObject("h", host, true);
    sc.AddCode("Dim kept : kept = 1");
    sc.addModule("Main")->AddCode("Sub S() : End Sub");
    sc.Reset();
    EXPECT_FALSE(sc.module("Main"));
    EXPECT_TRUE(sc.Eval("IsEmpty(kept)").toBool());
    EXPECT_THROW(sc.Eval("h.Twice(1)"), VbError);
    sc.AddObject("h", host, true); // the name is free again
}

TEST_F(ScriptControlTest, ResetReleasesObjectCyclesAndObjectsStoredByTerminate)
{
    sc.AddObject("h", host, true);
    sc.AddCode("Class Link\n Public Other, Held\nEnd Class\n"
               "Class Phoenix\n Private Sub Class_Terminate()\n  Caption = Caption & \"+\"\n"
               "  Set reborn = New Phoenix\n End Sub\nEnd Class\n"
               "Dim a, b, reborn\nSet a = New Link : Set b = New Link\n"
               "Set a.Other = b : Set b.Other = a : Set a.Held = h\n"
               "Set a = Nothing : Set b = Nothing\nSet reborn = New Phoenix");
    sc.Reset();
    // The cycle let go of the host object; the terminator ran a bounded number of times.
    EXPECT_EQ(host.use_count(), 1);
    EXPECT_GE(host->caption().count('+'), 1);
    EXPECT_LE(host->caption().count('+'), 5);
    EXPECT_EQ(sc.Eval("1 + 1").toLong(), 2);
}

TEST_F(ScriptControlTest, ClassNameClashingWithAnEarlierDeclarationIsNameRedefined)
{
    sc.AddCode("Dim Widget\nSub Tool() : End Sub");
    EXPECT_THROW(sc.AddCode("x = 1\n\nClass widget\nEnd Class"), VbError);
    EXPECT_EQ(sc.Error()->Number(), 1041);
    EXPECT_EQ(sc.Error()->Line(), 3);
    EXPECT_EQ(sc.Error()->Column(), 1);
    EXPECT_EQ(sc.Error()->Description(), "Name redefined");
    EXPECT_THROW(sc.AddCode("Class Tool\nEnd Class"), VbError);
    // Nothing of a refused text runs.
    EXPECT_TRUE(sc.Eval("IsEmpty(x)").toBool());
}

TEST_F(ScriptControlTest, PromptsAreLoggedAndGiveTheDefaultAnswer)
{
    sc.AddCode("Dim a, b, c\na = MsgBox(\"hello\", vbYesNo + vbDefaultButton2, \"Title\")\n"
               "b = InputBox(\"name?\", \"Ask\", \"default\")\nc = MsgBox(\"plain\")");
    EXPECT_EQ(sc.Eval("a").toLong(), 7); // vbNo, the default button
    EXPECT_EQ(sc.Eval("b").toString(), "default");
    EXPECT_EQ(sc.Eval("c").toLong(), 1);
    ASSERT_EQ(prompts.size(), 3);
    EXPECT_TRUE(prompts[0].contains("hello"));
    EXPECT_TRUE(prompts[0].contains("Title"));
    sc.setAllowUI(false);
    EXPECT_THROW(sc.Eval("MsgBox(\"x\")"), VbError);
}

TEST_F(ScriptControlTest, TheFacadeIsReachableByName)
{
    auto other = std::make_shared<ScriptControl>();
    sc.AddObject("engine", other, false);
    sc.AddCode("engine.AddCode \"Function Three() : Three = 3 : End Function\"\n"
               "Dim r : r = engine.Run(\"Three\") & engine.Modules.Count & engine.Language\n"
               "engine.Timeout = 1234");
    EXPECT_EQ(sc.Eval("r").toString(), "31VBScript");
    EXPECT_EQ(other->Timeout(), 1234);
    sc.Reset(); // the two engines refer to each other only through the named item
}

// Run called by a script, on the control and on one of its modules alike: the
// procedure's ByRef arguments come back changed, and a call without a name is refused.
TEST_F(ScriptControlTest, RunCalledByAScriptHandsBackByRefArguments)
{
    auto other = std::make_shared<ScriptControl>();
    sc.AddObject("engine", other, false);
    const char *grow = "\"Sub Grow(ByRef x, ByVal y) : x = x & y : y = 0 : End Sub\"";
    const struct
    {
        const char *what;
        const char *receiver;
    } rows[] = {
        {"the control", "engine"},
        {"a module", "engine.Modules.Add(\"Side\")"},
    };
    for (const auto &row : rows) {
        sc.AddCode(QStringLiteral("Set target = %1\ntarget.AddCode %2\n"
                                  "v = \"a\" : w = \"b\" : target.Run \"Grow\", v, w\n"
                                  "On Error Resume Next : target.Run : e = Err.Number : On Error GoTo 0")
                       .arg(QLatin1String(row.receiver), QLatin1String(grow)));
        EXPECT_EQ(sc.Eval("v & \"/\" & w").toString(), "ab/b") << row.what;
        EXPECT_EQ(sc.Eval("e").toLong(), 450) << row.what;
    }
    sc.Reset();
}

TEST_F(ScriptControlTest, ScriptObjectsCanBeCalledFromTheHost)
{
    sc.AddCode("Class Greeter\n Public Name\n Public Function Hello(x) : Hello = \"hi \" & x & \" from \" & Name : End Function\n"
               "End Class\nFunction Make() : Set Make = New Greeter : Make.Name = \"g\" : End Function");
    Variant g = sc.Run("Make");
    ASSERT_TRUE(g.isObject());
    EXPECT_EQ(g.rawObject()->typeName(), "Greeter");
    EXPECT_EQ(g.rawObject()->call("hello", {Variant("you")}).toString(), "hi you from g");
    EXPECT_TRUE(g.rawObject()->hasMember("NAME"));
}
