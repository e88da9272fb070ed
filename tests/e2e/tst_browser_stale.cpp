// Two tabs of a real browser load the status page; tab b adds, deletes or
// renames one item and saves, then tab a, still showing the page from before,
// does the same to another item and saves. For filters, macros, device tags
// and setup fields: what b did survives a's stale Save, and a's Save changes
// only what its own user changed. One program per kind of item.
#include "BrowserScript.h"
#include "DemoProgram.h"
#include "PrivateNetwork.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

using BrowserScript::kChromium;
const QString kHost = QStringLiteral("tvkXapKorvane.ini/");
const QString kPlugin = QStringLiteral("xaptvkKorvane.ini/[TSPI_QUILLON]/");

QJsonArray fill(const QString &field, const QString &text)
{
    return QJsonArray{QStringLiteral("fill"), QStringLiteral("input[name=\"%1\"]").arg(field), text};
}

// One row of the matrix: each tab's edits, and the entries that must differ
// afterwards with what they then hold ("<none>" for a removed entry).
struct Case
{
    const char *op;
    QJsonArray a, b;
    QMap<QString, QString> expected;
};

class BrowserStaleTabs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_BROWSER_DRIVER(node);
    }

    QMap<QString, QString> files() const
    {
        QMap<QString, QString> out = demo.settings();
        // The records of received messages keep their time of change there.
        out.removeIf([](const auto &entry) { return entry.key().contains(QLatin1String("/[DEVICES]/")); });
        return out;
    }

    // Tab b saves first, then the stale tab a.
    void run(const Case &c)
    {
        // A post without a button stores nothing but flushes what the program
        // keeps for the files (its unit mappings from start-up).
        ASSERT_TRUE(demo.post({{"clientinput", "yes"}, {"clientvalue", "yes"}}).startsWith("HTTP/1.1 200"));
        const QMap<QString, QString> before = files();
        QByteArray output;
        ASSERT_TRUE(BrowserScript::run(node, {{"case", "tabs"}, {"url", demo.url()}, {"a", c.a}, {"b", c.b},
                                              {"order", QJsonArray{"b", "a"}}},
                                       output))
            << c.op << ": " << output.constData();
        const QMap<QString, QString> after = files();
        QStringList keys = c.expected.keys();
        EXPECT_EQ(DemoProgram::changed(before, after), keys) << c.op << ": the Saves changed other entries";
        for (const QString &key : keys)
            EXPECT_EQ(after.value(key, QStringLiteral("<none>")), c.expected.value(key)) << c.op << ": " << key.toStdString();
    }

    // The page's row number of the input showing `value` in fields named prefix<n>.
    int rowOf(const QString &prefix, const QString &value)
    {
        const QString page = QString::fromLatin1(demo.get());
        const QString v = QRegularExpression::escape(value), p = QRegularExpression::escape(prefix);
        for (const QString &pattern : {QStringLiteral("value='%1' name='%2(\\d+)'"), QStringLiteral("name='%2(\\d+)' value='%1'")}) {
            const QRegularExpressionMatch m = QRegularExpression(pattern.arg(v, p)).match(page);
            if (m.hasMatch())
                return m.captured(1).toInt();
        }
        ADD_FAILURE() << "no field " << prefix.toStdString() << "<n> shows " << value.toStdString();
        return -1;
    }

    DemoProgram demo;
    QString node;
};

} // namespace

TEST_F(BrowserStaleTabs, Filters)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    QByteArray seeds;
    for (int i = 1; i <= 6; ++i)
        seeds += QStringLiteral("f%1.src~x.y=t%1;\r\n").arg(i).toLatin1();
    demo.editConfig("tvkXapKorvane.ini", "demo.weather.garden~", seeds.trimmed());
    ASSERT_TRUE(demo.start());
    const QString received = kHost + QStringLiteral("[RECEIVED]/");
    auto row = [&](int i) { return QString::number(rowOf(QStringLiteral("Source"), QStringLiteral("f%1.src").arg(i))); };
    run({"add",
         QJsonArray{fill("Source0", "a.add"), fill("Class0", "x.y"), fill("FilterTag0", "a_add")},
         QJsonArray{fill("Source0", "b.add"), fill("Class0", "x.y"), fill("FilterTag0", "b_add")},
         {{received + "a.add~x.y", "a_add;"}, {received + "b.add~x.y", "b_add;"}}});
    // Rows renumber once the added filters are in.
    const QString d1 = row(1), d2 = row(2);
    run({"delete", QJsonArray{fill("Source" + d1, ""), fill("Class" + d1, "")},
         QJsonArray{fill("Source" + d2, ""), fill("Class" + d2, "")},
         {{received + "f1.src~x.y", "<none>"}, {received + "f2.src~x.y", "<none>"}}});
    // Tab a moves f3 onto f4's key while f4 moves away, in one Save.
    const QString n3 = row(3), n4 = row(4), n5 = row(5);
    run({"rename", QJsonArray{fill("Source" + n3, "f4.src"), fill("Source" + n4, "f4.moved")},
         QJsonArray{fill("Source" + n5, "f5.renamed")},
         {{received + "f4.src~x.y", "t3;"},
          {received + "f3.src~x.y", "<none>"},
          {received + "f4.moved~x.y", "t4;"},
          {received + "f5.src~x.y", "<none>"},
          {received + "f5.renamed~x.y", "t5;"}}});
}

TEST_F(BrowserStaleTabs, Macros)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    // m1 and m2 play the same list: a row must be told apart by its name.
    demo.editConfig("tvkXapKorvane.ini", "", "[IRMacro]\r\nm1=5,6\r\nm2=5,6\r\nm3=3\r\nm4=4\r\nm5=5");
    ASSERT_TRUE(demo.start());
    const QString macros = kHost + QStringLiteral("[IRMACRO]/");
    auto row = [&](int i) { return QString::number(rowOf(QStringLiteral("MAC"), QStringLiteral("m%1").arg(i))); };
    run({"add", QJsonArray{fill("MAC0", "a_add"), fill("N0", "1")}, QJsonArray{fill("MAC0", "b_add"), fill("N0", "2")},
         {{macros + "a_add", "1"}, {macros + "b_add", "2"}}});
    // Tab b deletes m1; the stale tab a renames m2, which has the same list.
    run({"delete", QJsonArray{fill("MAC" + row(2), "m2x")}, QJsonArray{fill("MAC" + row(1), "")},
         {{macros + "m1", "<none>"}, {macros + "m2", "<none>"}, {macros + "m2x", "5,6"}}});
    // Tab a moves m3 onto m4's name while m4 moves away, in one Save.
    run({"rename", QJsonArray{fill("MAC" + row(3), "m4"), fill("MAC" + row(4), "m4moved")},
         QJsonArray{fill("MAC" + row(5), "m5b")},
         {{macros + "m3", "<none>"}, {macros + "m4", "3"}, {macros + "m4moved", "4"}, {macros + "m5", "<none>"},
          {macros + "m5b", "5"}}});
}

TEST_F(BrowserStaleTabs, DeviceTags)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    for (const char *line : {"[4=Bedroom;Temperature;Veltro Quillon;3;;0;Interface Variable;17;0;;;tag3;False",
                             "[5=Boiler;Flow Temperature;Veltro Quillon;3;;0;Interface Variable;17;0;;;tag4;False",
                             "[6=Garden;Light Level;Veltro Quillon;3;;0;Interface Variable;17;0;;;tag5;False",
                             "[7=Cellar;Humidity;Veltro Quillon;3;;0;Interface Variable;17;0;;;tag6;False"})
        demo.editConfig("tvkXapKorvane.ini", QByteArray(line).left(3), line);
    ASSERT_TRUE(demo.start());
    const QString store = kHost + QStringLiteral("[PLUGINDEVICES]/");
    auto device = [&](const char *code, const char *tag) {
        QStringList f = demo.settings().value(store + code).split(QLatin1Char(';'));
        f[7] = f[8] = f[9] = QStringLiteral("*");
        f[11] = QLatin1String(tag);
        return f.join(QLatin1Char(';'));
    };
    run({"add", QJsonArray{fill("V1:02Tag", "a_add")}, QJsonArray{fill("V2:03Tag", "b_add")},
         {{store + "[2", device("[2", "a_add")}, {store + "[3", device("[3", "b_add")}}});
    run({"delete", QJsonArray{fill("V3:04Tag", "")}, QJsonArray{fill("V4:05Tag", "")},
         {{store + "[4", device("[4", "")}, {store + "[5", device("[5", "")}}});
    run({"rename", QJsonArray{fill("V5:06Tag", "tag5a")}, QJsonArray{fill("V6:07Tag", "tag6b")},
         {{store + "[6", device("[6", "tag5a")}, {store + "[7", device("[7", "tag6b")}}});
}

TEST_F(BrowserStaleTabs, SetupFields)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    demo.editConfig("xaptvkKorvane.ini", "", "ProjectFile=/seed/house.prj\r\nQPROFile=/seed/cpuqx.exe");
    // The RLY-8 unit's points are inverted: no Save may reset them.
    QByteArray store = demo.readConfig("tvkXapKorvane.ini");
    store = QString::fromLatin1(store).replace(QRegularExpression("(3!13!\\d+)!0;"), "\\1!1;").toLatin1();
    demo.folder.writeFile("Config/tvkXapKorvane.ini", store);
    ASSERT_TRUE(store.contains("3!13!5!1;"));
    ASSERT_TRUE(demo.start());
    run({"add", QJsonArray{fill("Background", "#102030")}, QJsonArray{fill("IRPROFile", "/b/ir.exe")},
         {{kHost + "[TSPI_QUILLON]/Background", "#102030"}, {kPlugin + "IRPROFile", "/b/ir.exe"}}});
    run({"rename", QJsonArray{fill("Background", "#203040")}, QJsonArray{fill("IRPROFile", "/b/ir2.exe")},
         {{kHost + "[TSPI_QUILLON]/Background", "#203040"}, {kPlugin + "IRPROFile", "/b/ir2.exe"}}});
    // Tab b also switches the setup block off: the stale tab's setup edit still counts.
    run({"delete", QJsonArray{fill("QPROFile", "")},
         QJsonArray{fill("ProjectFile", ""), QJsonArray{"uncheck", "input[name=\"IncludeSetup\"]"}},
         {{kPlugin + "ProjectFile", "<none>"}, {kPlugin + "QPROFile", "<none>"}, {kPlugin + "IncludeSetup", "0"}}});
}

// Tab b turns a block off; the stale tab a, built while it was on, edits in
// it: a's edits are taken, as the page it was built from showed them.
TEST_F(BrowserStaleTabs, BlocksTurnedOffByAnotherTab)
{
    RUN_IN_PRIVATE_NETWORK(); // no lock against the other whole-program tests
    demo.editConfig("tvkXapKorvane.ini", "", "[IRMacro]\r\nm1=5,6");
    ASSERT_TRUE(demo.start());
    const QString macros = kHost + QStringLiteral("[IRMACRO]/");
    const QString devices = kHost + QStringLiteral("[PLUGINDEVICES]/");
    const QString m1 = QString::number(rowOf(QStringLiteral("MAC"), QStringLiteral("m1")));
    auto off = [](const char *option) { return QJsonArray{"uncheck", QStringLiteral("input[name=\"%1\"]").arg(QLatin1String(option))}; };
    run({"IncludeIR off", QJsonArray{fill("MAC" + m1, "m1a"), fill("MAC0", "a_new"), fill("N0", "3")},
         QJsonArray{off("IncludeIR")},
         {{macros + "m1", "<none>"}, {macros + "m1a", "5,6"}, {macros + "a_new", "3"}, {kPlugin + "IncludeIR", "0"}}});
    run({"IncludeVariables off", QJsonArray{QJsonArray{"uncheck", "input[name=\"V8:09Used\"]"}},
         QJsonArray{off("IncludeVariables")},
         {{devices + "[9", "<none>"}, {kPlugin + "IncludeVariables", "0"}}});
}
