// The status page of the demo in two tabs of a real browser (the system's
// Chromium, headless, driven by tests/browser/status_page.js): each tab makes
// its own edits and both save, in either order; the settings files then
// differ from before in exactly the keys the two users changed.
#include "BrowserScript.h"
#include "DemoProgram.h"
#include "WaitUntil.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

using BrowserScript::kChromium;
const QString kStore = QStringLiteral("tvkXapKorvane.ini/[PLUGINDEVICES]/");
const QString kReceived = QStringLiteral("tvkXapKorvane.ini/[RECEIVED]/");

QJsonArray steps(std::initializer_list<QJsonArray> list)
{
    QJsonArray out;
    for (const QJsonArray &s : list)
        out.append(s);
    return out;
}

class BrowserTabs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_BROWSER_DRIVER(node);
        // Every point of the controller, so that rows without devices show; no
        // IR rows, which keeps the page small.
        demo.editConfig("xaptvkKorvane.ini", "ShowOnlyUsed=", "ShowOnlyUsed=0");
        demo.editConfig("xaptvkKorvane.ini", "IncludeIR=", "IncludeIR=0");
        for (const char *code : {"[31=", "[41="})
            demo.editConfig("tvkXapKorvane.ini", code, "; no device");
    }

    // Starts the demo and saves its page once unedited, so that keys a first
    // Save writes with their defaults are in the files before the cases.
    void startAndSettle()
    {
        ASSERT_TRUE(demo.start());
        DemoProgram::Fields form = DemoProgram::collectForm(QString::fromLatin1(demo.get()));
        DemoProgram::set(form, "UpdateButton", "Save Changes");
        ASSERT_TRUE(demo.post(form).startsWith("HTTP/1.1 200"));
        const auto settled = demo.settings();
        ASSERT_TRUE(demo.post(DemoProgram::collectForm(QString::fromLatin1(demo.get())) + DemoProgram::Fields{
                                  {"UpdateButton", "Save Changes"}})
                        .startsWith("HTTP/1.1 200"));
        EXPECT_EQ(DemoProgram::changed(settled, demo.settings()), QStringList()) << "an unedited Save changed the files";
    }

    bool browse(QJsonObject options)
    {
        options.insert(QStringLiteral("url"), demo.url());
        return BrowserScript::run(node, options, output);
    }

    // Both tabs' edits saved in `order` ("ab" or "ba"); returns the keys that changed.
    QStringList twoTabs(const QJsonArray &a, const QJsonArray &b, const char *order)
    {
        const auto before = demo.settings();
        QJsonArray saves;
        for (const char *c = order; *c; ++c)
            saves.append(QString(QChar(*c)));
        EXPECT_TRUE(browse({{"case", "tabs"}, {"a", a}, {"b", b}, {"order", saves}})) << output.constData();
        return DemoProgram::changed(before, demo.settings());
    }

    QString stored(const QString &key) { return demo.settings().value(key, QStringLiteral("<none>")); }
    // The tag field of a stored device.
    QString tagOf(const QString &code) { return stored(kStore + code).split(QLatin1Char(';')).value(11); }

    DemoProgram demo;
    QString node;
    QByteArray output;
};

} // namespace

// Tab a adds a filter, tab b deletes one that both showed: neither Save undoes
// the other, and a filter deleted in one tab does not come back from the other.
TEST_F(BrowserTabs, FiltersFromTwoTabs)
{
    startAndSettle();
    const QString demoFilter = kReceived + QStringLiteral("demo.weather.garden~weather.report");
    ASSERT_EQ(stored(demoFilter), "Garden_Weather;1");
    auto add = [](const char *source, const char *tag) {
        return steps({{"fill", "input[name=\"Source0\"]", source}, {"fill", "input[name=\"Class0\"]", "x.y"},
                      {"fill", "input[name=\"FilterTag0\"]", tag}});
    };
    const QJsonArray clearRow1 = steps({{"fill", "input[name=\"Source1\"]", ""}, {"fill", "input[name=\"Class1\"]", ""}});

    EXPECT_EQ(twoTabs(add("a.one", "one"), clearRow1, "ab"), QStringList({kReceived + "a.one~x.y", demoFilter}));
    EXPECT_EQ(stored(kReceived + "a.one~x.y"), "one;");
    EXPECT_EQ(stored(demoFilter), "<none>");

    EXPECT_EQ(twoTabs(add("a.two", "two"), clearRow1, "ba"), QStringList({kReceived + "a.one~x.y", kReceived + "a.two~x.y"}));
    EXPECT_EQ(stored(kReceived + "a.two~x.y"), "two;");
    EXPECT_EQ(stored(kReceived + "a.one~x.y"), "<none>");
}

// Tab a ticks Used on a variable without a device and tags it, tab b unticks
// another: each device change is made once and undone by neither Save.
TEST_F(BrowserTabs, DevicesFromTwoTabs)
{
    startAndSettle();
    ASSERT_EQ(stored(kStore + "[31"), "<none>");
    auto create = [](const char *disp, const char *tag) {
        return steps({{"check", QStringLiteral("input[name=\"%1Used\"]").arg(QLatin1String(disp))},
                      {"fill", QStringLiteral("input[name=\"%1Tag\"]").arg(QLatin1String(disp)), tag}});
    };
    auto remove = [](const char *disp) {
        return steps({{"uncheck", QStringLiteral("input[name=\"%1Used\"]").arg(QLatin1String(disp))}});
    };

    EXPECT_EQ(twoTabs(create("V30:1F", "attic"), remove("V20:15"), "ab"), QStringList({kStore + "[21", kStore + "[31"}));
    EXPECT_EQ(tagOf("[31"), "attic");
    EXPECT_EQ(stored(kStore + "[21"), "<none>");

    EXPECT_EQ(twoTabs(create("V40:29", "loft"), remove("V50:33"), "ba"), QStringList({kStore + "[41", kStore + "[51"}));
    EXPECT_EQ(tagOf("[41"), "loft");
    EXPECT_EQ(stored(kStore + "[51"), "<none>");
    EXPECT_EQ(tagOf("[31"), "attic");
}

// Each tab edits the tag of another row that both showed: both tags stay.
TEST_F(BrowserTabs, TagsFromTwoTabs)
{
    startAndSettle();
    auto tag = [](const char *disp, const char *text) {
        return steps({{"fill", QStringLiteral("input[name=\"%1Tag\"]").arg(QLatin1String(disp)), text}});
    };
    EXPECT_EQ(twoTabs(tag("V1:02", "one_a"), tag("V2:03", "two_b"), "ab"), QStringList({kStore + "[2", kStore + "[3"}));
    EXPECT_EQ(tagOf("[2"), "one_a");
    EXPECT_EQ(tagOf("[3"), "two_b");
    EXPECT_EQ(twoTabs(tag("V1:02", "one_c"), tag("V2:03", "two_d"), "ba"), QStringList({kStore + "[2", kStore + "[3"}));
    EXPECT_EQ(tagOf("[2"), "one_c");
    EXPECT_EQ(tagOf("[3"), "two_d");
}

// A macro's SEND beside the X10 unit M1 plays the macro's IR locations.
TEST_F(BrowserTabs, MacroSendBesideAnX10UnitOfHouseM)
{
    demo.editConfig("xaptvkKorvane.ini", "IncludeIR=", "IncludeIR=1");
    demo.editConfig("xaptvkKorvane.ini", "ShowOnlyUsed=", "ShowOnlyUsed=1");
    demo.editConfig("tvkXapKorvane.ini", "[1=", "M1=Hall;Lamp;Veltro Quillon;0;;0;X10;3;0;;;;False\r\n"
                                                "[1=Hall;Temperature;Veltro Quillon;3;;0;Interface Variable;17;0;;;;False");
    demo.editConfig("tvkXapKorvane.ini", "", "[IRMacro]\r\nMovie=3,4");
    ASSERT_TRUE(demo.start());
    const QByteArray page = demo.get();
    ASSERT_TRUE(page.contains("name='M1DC'"));
    ASSERT_TRUE(page.contains("name='MAC1DC'"));
    EXPECT_TRUE(browse({{"case", "send"}, {"row", "MAC1"}})) << output.constData();
    EXPECT_TRUE(waitUntil([&] {
        return demo.simOutput().contains("<- c8 5a 03 00") && demo.simOutput().contains("<- c8 5a 04 00");
    }, 20000)) << demo.simOutput().right(600).toStdString();
}

// The mouse over every element of the whole demo page raises no script
// error, and every image of its logo bar is served.
TEST_F(BrowserTabs, HoverAndImagesOfTheDemoPage)
{
    demo.editConfig("xaptvkKorvane.ini", "IncludeIR=", "IncludeIR=1");
    ASSERT_TRUE(demo.start());
    EXPECT_TRUE(browse({{"case", "hover"}})) << output.constData();
    EXPECT_TRUE(browse({{"case", "images"}, {"minImages", 4}})) << output.constData();
}
