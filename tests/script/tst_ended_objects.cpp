// What the host keeps of a script outlives the script: once the script is read again, an object or procedure reference of it that the host still holds must
// never run with its variables silently emptied. It acts as Nothing, and the host's sweep
// turns it into Nothing wherever it lies, leaving everything else as it was.
#include "ClassInstance.h"
#include "ScriptControl.h"
#include "ScriptModule.h"

#include "automation/Dictionary.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

const char kKept[] = "Dim gCount, gTerminated\n"
                     "Class K\n"
                     "  Public tag\n"
                     "  Public Function Hello()\n"
                     "    gCount = gCount + 1\n"
                     "    Hello = \"tag=\" & tag & \" count=\" & gCount\n"
                     "  End Function\n"
                     "  Private Sub Class_Terminate\n"
                     "    gTerminated = gTerminated + 1\n"
                     "  End Sub\n"
                     "End Class\n"
                     "Function Make(t)\n"
                     "  Set Make = New K: Make.tag = t\n"
                     "End Function\n"
                     "Function Plain()\n"
                     "  Plain = \"plain\"\n"
                     "End Function\n"
                     "Function Both()\n"
                     "  Dim d: Set d = CreateObject(\"Scripting.Dictionary\")\n"
                     "  d.Add \"a\", Make(\"a\"): d.Add \"n\", 7\n"
                     "  d.Add \"arr\", Array(1, Make(\"b\"), Array(Make(\"c\"), \"s\"))\n"
                     "  Set Both = d\n"
                     "End Function\n"
                     "Function Ring()\n"
                     "  Dim d: Set d = CreateObject(\"Scripting.Dictionary\")\n"
                     "  d.Add \"self\", d: d.Add \"k\", Make(\"k\")\n"
                     "  Set Ring = d\n"
                     "End Function\n"
                     "Function Texts()\n"
                     "  Dim d: Set d = CreateObject(\"Scripting.Dictionary\")\n"
                     "  d.Add \"t\", \"text\": d.Add \"arr\", Array(1, 2)\n"
                     "  Set Texts = d\n"
                     "End Function\n";

struct KeptRow {
    const char *name;
    const char *expression; // what the host keeps, made by the script
    int dropped;            // how many of its references are of the script
};

const KeptRow kKeptRows[] = {
    {"Object", "Make(\"first\")", 1},
    {"ProcedureReference", "GetRef(\"Plain\")", 1},
    {"ArrayOfObjects", "Array(Make(\"a\"), 5, Make(\"b\"))", 2},
    {"DictionaryWithNestedArrays", "Both()", 3},
    {"DictionaryHoldingItself", "Ring()", 1},
    {"NothingOfTheScript", "Texts()", 0},
};

class KeptAcrossReload : public ::testing::TestWithParam<KeptRow>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, KeptAcrossReload, ::testing::ValuesIn(kKeptRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Every object or procedure reference reachable from `v` (through arrays and Dictionaries).
void collect(const Variant &v, std::vector<ObjectPtr> &found, std::vector<const Object *> &seen)
{
    if (v.isArray()) {
        for (const Variant &e : v.array().data())
            collect(e, found, seen);
        return;
    }
    if (!v.isObject() || !v.rawObject())
        return;
    const ObjectPtr &o = v.rawObject();
    if (std::find(seen.begin(), seen.end(), o.get()) != seen.end())
        return;
    seen.push_back(o.get());
    if (auto *d = dynamic_cast<Dictionary *>(o.get())) {
        for (const Variant &item : d->itemList())
            collect(item, found, seen);
        return;
    }
    found.push_back(o);
}

std::vector<ObjectPtr> scriptObjects(const Variant &v)
{
    std::vector<ObjectPtr> found;
    std::vector<const Object *> seen;
    collect(v, found, seen);
    return found;
}

} // namespace

TEST_P(KeptAcrossReload, ActsAsNothingAndIsSweptToNothing)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    ScriptControl sc;
    sc.AddCode(QLatin1String(kKept));
    Variant kept = sc.Eval(QString::fromLatin1(GetParam().expression));
    const std::vector<ObjectPtr> before = scriptObjects(kept);
    ASSERT_EQ(int(before.size()), GetParam().dropped);

    sc.Reset();
    sc.AddCode(QLatin1String(kKept));

    // Used before the sweep, each one raises 91 rather than running with its state emptied.
    for (const ObjectPtr &o : before) {
        std::vector<Variant> none;
        try {
            o->invoke(dynamic_cast<ClassInstance *>(o.get()) ? QStringLiteral("Hello") : QString(), CallKind::Method,
                      none);
            ADD_FAILURE() << "a kept " << o->typeName().toStdString() << " still runs";
        } catch (const VbError &e) {
            EXPECT_EQ(e.number, VbErr::ObjectVariableNotSet);
        }
    }

    EXPECT_EQ(dropEndedScriptObjects(kept), GetParam().dropped);
    EXPECT_TRUE(scriptObjects(kept).empty());
    if (GetParam().dropped == 1 && !kept.isArray() && !dynamic_cast<Dictionary *>(kept.rawObject().get()))
        EXPECT_TRUE(kept.isObject() && !kept.rawObject()) << "the reference itself becomes Nothing";
    // The rest is left as it was, and the new script's objects are not touched.
    if (auto *d = dynamic_cast<Dictionary *>(kept.rawObject().get())) {
        if (d->exists(Variant(QStringLiteral("n"))))
            EXPECT_EQ(d->item(Variant(QStringLiteral("n"))).toLong(), 7);
        if (d->exists(Variant(QStringLiteral("t"))))
            EXPECT_EQ(d->item(Variant(QStringLiteral("t"))).toString(), QStringLiteral("text"));
    }
    Variant fresh = sc.Eval(QStringLiteral("Make(\"new\")"));
    EXPECT_EQ(dropEndedScriptObjects(fresh), 0);
    EXPECT_EQ(sc.Eval(QStringLiteral("Make(\"new\").Hello()")).toString(), QStringLiteral("tag=new count=1"));
    if (auto *d = dynamic_cast<Dictionary *>(kept.rawObject().get()))
        d->removeAll(); // a Dictionary holding itself would outlive the test
    kept = Variant();
    QCoreApplication::processEvents();
    EXPECT_EQ(sc.Eval(QStringLiteral("1 + 1")).toLong(), 2);
}
