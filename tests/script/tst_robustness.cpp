// Bad script text never crashes the engine: random and truncated texts give
// compile (or run-time) errors, and deep nesting is refused cleanly.
#include "Interpreter.h"
#include "ScriptControl.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

const char *kSample = R"(Option Explicit
Dim a, b(3), s
Class Thing
  Private m_v
  Public Property Get V() : V = m_v : End Property
  Public Property Let V(x) : m_v = x : End Property
End Class
Function F(ByVal n, ByRef r)
  If n <= 1 Then F = 1 Else F = n * F(n - 1, r)
  r = r & "."
End Function
Set a = New Thing
a.V = 3
For Each s In Array(1, 2, 3)
  Select Case s
    Case 1, 2: b(s) = F(s, (s))
    Case Else
      Do While s > 0 : s = s - 1 : Loop
  End Select
Next
With a : .V = .V + 1 : End With
On Error Resume Next
s = "x""y" & #1/2/2003# & &HFF & 1.5E3
)";

// Runs text and reports whether it ended in an error of the language.
bool runs(ScriptControl &sc, const QString &text)
{
    try {
        sc.AddCode(text);
        return true;
    } catch (const VbError &e) {
        EXPECT_NE(e.number, 0);
        return false;
    }
}

} // namespace

TEST(Robustness, TruncatedScriptsGiveErrorsNotCrashes)
{
    const QString sample = QString::fromLatin1(kSample);
    int failures = 0;
    for (qsizetype cut = 0; cut < sample.size(); cut += 3) {
        ScriptControl sc;
        sc.setTimeout(2000);
        if (!runs(sc, sample.left(cut)))
            ++failures;
    }
    EXPECT_GT(failures, 50); // most prefixes are incomplete statements
    ScriptControl whole;
    EXPECT_TRUE(runs(whole, sample));
}

TEST(Robustness, RandomTextGivesErrorsNotCrashes)
{
    QRandomGenerator rng(20240611);
    const QStringList pieces = {"If ", "Then", "Else", "End ", "Sub ", "Function ", "(", ")", "\"", "\n", ":",
                                "Dim ", "x", "y", " = ", "1", "&H", "#", ".", ",", "For ", "Next", "Do", "Loop",
                                "Class ", "With ", "_", "'", "[", "]", "New ", "Set ", "Call ", " And ", "-", "^"};
    int compiled = 0;
    for (int round = 0; round < 400; ++round) {
        QString text;
        int n = int(rng.bounded(1, 40));
        for (int i = 0; i < n; ++i) {
            if (rng.bounded(5) == 0)
                text += QChar(ushort(rng.bounded(1, 0x2FF)));
            else
                text += pieces[int(rng.bounded(int(pieces.size())))];
        }
        ScriptControl sc;
        sc.setTimeout(500);
        if (runs(sc, text))
            ++compiled;
    }
    EXPECT_LT(compiled, 400);
}

TEST(Robustness, DeepNestingIsRefused)
{
    ScriptControl sc;
    QString parens = QString(5000, QLatin1Char('(')) + "1" + QString(5000, QLatin1Char(')'));
    EXPECT_FALSE(runs(sc, "x = " + parens));
    QString ifs;
    for (int i = 0; i < 3000; ++i)
        ifs += "If 1 Then\n";
    EXPECT_FALSE(runs(sc, ifs));
    EXPECT_FALSE(runs(sc, "x = " + QString(10000, QLatin1Char('-')) + "1"));
}

TEST(Robustness, DeepRecursionIsOutOfStackSpace)
{
    ScriptControl sc;
    sc.AddCode("Function Down(n) : Down = Down(n + 1) : End Function\n"
               "Function Depth(n) : On Error Resume Next : Depth = n : Depth = Depth(n + 1) : End Function");
    EXPECT_THROW(sc.Run("Down", {Variant(1)}), VbError);
    EXPECT_EQ(sc.Error()->Number(), 28);
    EXPECT_EQ(sc.Error()->Description(), "Out of stack space");
    // Trapped at every level, the deepest call still ends with a result.
    EXPECT_GT(sc.Run("Depth", {Variant(1)}).toLong(), 50);
    EXPECT_EQ(sc.Eval("2 * 21").toLong(), 42);
}

// Endless recursion ends in 28 whichever way an operator's operand reaches the
// call: every shape of operator the evaluator takes a short way through.
TEST(Robustness, RecursionThroughEveryOperatorShapeIsOutOfStackSpace)
{
    const struct
    {
        const char *what;
        const char *body;
    } rows[] = {
        {"argument", "R = R(n + 1)"},
        {"operator on a call, assigned", "R = R(n + 1) + 1"},
        {"operator on two calls", "R = R(n + 1) - R(n)"},
        {"operator inside brackets", "R = 1 + (R(n + 1) * 2)"},
        {"operator as an argument", "R = CLng(R(n + 1) + n)"},
        {"chain of operators", "R = n + n + n + n + n + n + n + n + n + R(n + 1)"},
        {"condition", "If R(n + 1) > n Then R = 1"},
        {"negation", "R = -R(n + 1)"},
        {"method of an object", "Dim o : Set o = New Deep : R = o.Down(n + 1) + 1"},
    };
    for (const auto &row : rows) {
        ScriptControl sc;
        sc.AddCode(QStringLiteral("Class Deep\n Function Down(n) : Down = R(n) : End Function\nEnd Class\n"
                                  "Function R(n)\n %1\nEnd Function\n")
                       .arg(QLatin1String(row.body)));
        EXPECT_THROW(sc.Run("R", {Variant(1)}), VbError) << row.what;
        EXPECT_EQ(sc.Error()->Number(), 28) << row.what;
        // The engine goes on after it.
        EXPECT_EQ(sc.Eval("2 * 21").toLong(), 42) << row.what;
    }
}
