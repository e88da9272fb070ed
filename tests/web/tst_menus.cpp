// Menu row, slide-in menu and links file against small SQLite fixtures.
#include "ChromeFixture.h"

#include "web/chrome/Headers.h"
#include "web/chrome/Menus.h"

#include "core/Globals.h"

using Headers::MenuRow;

class Menus : public ChromeTest
{
protected:
    void SetUp() override
    {
        ChromeTest::SetUp();
        setting(QStringLiteral("dbpath"), QStringLiteral("Data/chrome.db"));
        setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
        setting(QStringLiteral("logpagehits"), QStringLiteral("0"));
        include(QStringLiteral("useAlerts"), QStringLiteral("0"));
    }
    void guest() { request("AUTH_USER: guest\r\n"); }
};

TEST_F(Menus, TopLevelRowInEachStyle)
{
    standardDatabase();
    setting(QStringLiteral("rowstyle"), QStringLiteral("link"));
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("toplevel")),
              QStringLiteral(" <a href=\"/home\">Home</a> |  <a href=\"/stat\">Status</a><br>\r\n"));
    EXPECT_FALSE(Headers::PageRefused());

    request("AUTH_USER: admin\r\n");
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")),
              QStringLiteral(" <a href=\"/home\">Home</a> |  <a href=\"/stat\">Status</a> |  <a href=\"/admin\">Admin</a><br>\r\n"));

    setting(QStringLiteral("rowstyle"), QStringLiteral("Image"));
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")),
              QStringLiteral(" <a href=\"/home\">Home</a> <a href=\"/stat\"><img alt=\"Status\" height=\"30\" "
                             "src=\"img/stat.gif\" border=\"0\"></a><br>\r\n"));

    setting(QStringLiteral("rowstyle"), QStringLiteral("Buttons"));
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")),
              QStringLiteral("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>"
                             "<td><input type=\"button\" class=\"linkrowbutton\" value=\"Home\"onClick=\"window.parent.location.href='/home'\"></td>\r\n"
                             "<td><input type=\"button\" class=\"linkrowbutton\" value=\"Status\"onClick=\"window.parent.location.href='/stat'\"></td>\r\n"
                             "</tr></table>\r\n"));
}

// The rows of the page's ancestors in front, its children after; "*" marks the page.
TEST_F(Menus, LevelWalk)
{
    standardDatabase();
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("/stat/lights")),
              QStringLiteral(" <a href=\"/home\">Home</a> |  <a href=\"/stat\">Status</a><br>\r\n"
                             "* <a href=\"/stat/lights\">Lights</a><br>\r\n"
                             " <a href=\"/stat/lights/kitchen\">Kitchen</a><br>\r\n"));
    EXPECT_FALSE(Headers::PageRefused());

    setting(QStringLiteral("rowstyle"), QStringLiteral("Buttons"));
    guest();
    const QString lights = MenuRow(QStringLiteral("lights"));
    EXPECT_TRUE(lights.startsWith(QStringLiteral("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr><td><input type=\"button\" "
                                                 "class=\"linkrowbutton\" value=\"Home\"")));
    EXPECT_TRUE(lights.endsWith(QStringLiteral("href='/stat/lights/kitchen'\"></td>\r\n</tr></table>\r\n"))) << lights.toStdString();
    EXPECT_EQ(lights.count(QStringLiteral("<table")), 3);
}

TEST_F(Menus, GateByTheRequiredLevel)
{
    standardDatabase();
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("/unknown.asp")), QString());
    EXPECT_TRUE(Headers::PageRefused()); // no entry: level 10

    request("AUTH_USER: admin\r\n");
    MenuRow(QStringLiteral("/secret")); // level 20
    EXPECT_TRUE(Headers::PageRefused());

    setting(QStringLiteral("usesecurity"), QStringLiteral("NONE"));
    request();
    MenuRow(QStringLiteral("/secret"));
    EXPECT_FALSE(Headers::PageRefused()); // only ENHANCED and BASIC refuse

    setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
    setting(QStringLiteral("dbpath"), QStringLiteral("NA"));
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")), QString());
    EXPECT_TRUE(Headers::PageRefused()); // without a database every page needs level 10
}

TEST_F(Menus, DataFromTheDatabaseIsEscaped)
{
    standardDatabase({QStringLiteral("INSERT INTO Menus VALUES (7, '<script>alert(1)</script>', 'javascript:alert(1)', 0, 1, 0, '', 5)"),
                      QStringLiteral("INSERT INTO Menus VALUES (8, 'Q\"uote', 'JaVa\tScRiPt:x', 0, 1, 0, 'javascript:y', 6)"),
                      QStringLiteral("INSERT INTO Menus VALUES (9, 'Ext', 'https://example.org/?a=1&b=2', 0, 1, 0, '', 7)")});
    guest();
    const QString row = MenuRow(QStringLiteral("TOPLEVEL"));
    EXPECT_TRUE(row.contains(QStringLiteral(" <a href=\"#\">&lt;script&gt;alert(1)&lt;/script&gt;</a>"))) << row.toStdString();
    EXPECT_TRUE(row.contains(QStringLiteral(" <a href=\"#\">Q&quot;uote</a>")));
    EXPECT_TRUE(row.contains(QStringLiteral(" <a href=\"https://example.org/?a=1&amp;b=2\">Ext</a>")));
    EXPECT_FALSE(row.contains(QStringLiteral("<script")));
    EXPECT_FALSE(row.contains(QStringLiteral("javascript"), Qt::CaseInsensitive));

    setting(QStringLiteral("rowstyle"), QStringLiteral("Image"));
    guest();
    const QString images = MenuRow(QStringLiteral("TOPLEVEL"));
    EXPECT_TRUE(images.contains(QStringLiteral("<a href=\"#\"><img alt=\"Q&quot;uote\" height=\"30\" src=\"#\" border=\"0\"></a>")))
        << images.toStdString();

    setting(QStringLiteral("rowstyle"), QStringLiteral("Buttons"));
    standardDatabase({QStringLiteral("INSERT INTO Menus VALUES (10, 'x', '/a'';alert(1);''', 0, 1, 0, '', 8)")});
    guest();
    const QString buttons = MenuRow(QStringLiteral("TOPLEVEL"));
    EXPECT_TRUE(buttons.contains(QStringLiteral("href='/a\\&#39;;alert(1);\\&#39;'\""))) << buttons.toStdString();
}

// The menu argument reaches SQL as a bound value.
TEST_F(Menus, MenuArgumentIsNotSql)
{
    standardDatabase();
    guest();
    EXPECT_EQ(MenuRow(QStringLiteral("x' OR '1'='1")), QString());
    EXPECT_TRUE(Headers::PageRefused());
}

TEST_F(Menus, PageHitsAndAlerts)
{
    standardDatabase();
    setting(QStringLiteral("logpagehits"), QStringLiteral("1"));
    include(QStringLiteral("useAlerts"), QStringLiteral("1"));
    set(QStringLiteral("WeatherData.ini"), QStringLiteral("WeatherCom_CurrentData"), QStringLiteral("AlertIDs"), QStringLiteral("a,,b\"<"));
    guest();
    const int mark = logMark();
    const QString row = MenuRow(QStringLiteral("TOPLEVEL"));
    EXPECT_TRUE(row.endsWith(QStringLiteral("<a href=\"https://weather.com/weather/alerts/?alertId=a\" target=\"_blank\">Weather Alert 1</a> | "
                                            "<a href=\"https://weather.com/weather/alerts/?alertId=b%22%3C\" target=\"_blank\">Weather Alert 2</a><br>\r\n")))
        << row.toStdString();
    ASSERT_GE(logsSince(mark).size(), 1);
    EXPECT_EQ(logTypesSince(mark).at(0), QStringLiteral("Web Log"));
    EXPECT_EQ(logsSince(mark).at(0), QStringLiteral("TOPLEVEL was accessed by  the user: GUEST"));

    setting(QStringLiteral("logpagehits"), QString());
    include(QStringLiteral("useAlerts"), QString());
    guest();
    MenuRow(QStringLiteral("TOPLEVEL"));
    EXPECT_EQ(stored(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("Settings"), QStringLiteral("logpagehits")), QStringLiteral("0"));
    EXPECT_EQ(stored(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), QStringLiteral("useAlerts")), QStringLiteral("0"));
}

// Without a mode setting the row follows useMenuRow, written "0" when missing.
TEST_F(Menus, NoModeSetting)
{
    standardDatabase();
    setting(QStringLiteral("usesecurity"), QString());
    request();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")), QString());
    EXPECT_EQ(stored(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), QStringLiteral("useMenuRow")), QStringLiteral("0"));
    include(QStringLiteral("useMenuRow"), QStringLiteral("1"));
    request();
    EXPECT_TRUE(MenuRow(QStringLiteral("TOPLEVEL")).contains(QStringLiteral("Home")));
}

// A row that is off is no row at all: no alert links, and the alert setting is not written.
TEST_F(Menus, RowOffHasNoAlerts)
{
    standardDatabase();
    setting(QStringLiteral("usesecurity"), QString());
    include(QStringLiteral("useMenuRow"), QStringLiteral("0"));
    include(QStringLiteral("useAlerts"), QStringLiteral("1"));
    set(QStringLiteral("WeatherData.ini"), QStringLiteral("WeatherCom_CurrentData"), QStringLiteral("AlertIDs"), QStringLiteral("a"));
    request();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")), QString());
    include(QStringLiteral("useAlerts"), QString());
    request();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")), QString());
    EXPECT_EQ(stored(QStringLiteral("includes.ini"), QStringLiteral("header.asp"), QStringLiteral("useAlerts")), QStringLiteral("<missing>"));
}

TEST_F(Menus, DatabaseThatCannotBeOpened)
{
    writeFile(QStringLiteral("Data/chrome.db"), "this is not a database, just text that goes on and on");
    guest();
    const int mark = logMark();
    EXPECT_EQ(MenuRow(QStringLiteral("TOPLEVEL")), QString());
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("MenuRow:  Line ")));
}

TEST_F(Menus, SlideInMenu)
{
    writeFile(QStringLiteral("html/includes/ssmitems.txt"), "P[(******REPLACE_SSMPREFS******)]I[(******REPLACE_SSMITEMS******)]");
    standardDatabase({
        QStringLiteral("INSERT INTO MenuPOP VALUES (1, 'unused', '', 0, 1, 'alice', 2)"),
        QStringLiteral("INSERT INTO MenuPOP VALUES (0, 'Rooms', '', 1, 1, 'alice', 1)"),
        QStringLiteral("INSERT INTO MenuPOP VALUES (2, 'x', '', 0, 0, 'alice', 3)"),
        QStringLiteral("INSERT INTO MenuPOP VALUES (99, '</script><b>\"', 'javascript:x', 1, 1, 'alice', 4)"),
        QStringLiteral("INSERT INTO MenuPOPPref VALUES ('ALICE', 5, 6, 7, 8, 9, 1, 120, NULL, 'Bar \"x\"', 25, '', 'red', NULL)"),
    });
    // BASIC names the user in capitals; the address finds alice's entries.
    request("AUTH_USER: alice\r\n");
    EXPECT_EQ(Headers::ssmItems(),
              QStringLiteral("P[YOffset=5;\r\nXOffset=6;\r\nstaticYOffset=7;\r\nslideSpeed=8;\r\nwaitTime=9;\r\n"
                             "menuIsStatic=\"yes\";\r\nmenuWidth=120;\r\nmenuCols=2;\r\nbarLink=\"https://forum.example.org/\";\r\n"
                             "barWidth=25;\r\nbarText=\"Bar &quot;x&quot;\";\r\nlinkOverBGColor=\"#FFFF99\";\r\nlinkBGColor=\"red\";\r\n"
                             "linkTarget=\"_top\";]"
                             "I[ssmItems[0]=[\"Rooms\",\"\",\"\"]\r\n"
                             "ssmItems[1]=[\"Home\",\"/home\",\"\"]\r\n"
                             "ssmItems[2]=[\"&lt;/script&gt;&lt;b&gt;&quot;\",\"\",\"\"]\r\n]"));

    request("AUTH_USER: nobody\r\n", QStringLiteral("10.1.1.1"));
    EXPECT_EQ(Headers::ssmItems(), QStringLiteral(" ")); // bob has no entries

    standardDatabase({QStringLiteral("INSERT INTO MenuPOP VALUES (1, '', '', 0, 1, 'bob', 1)")});
    request("AUTH_USER: nobody\r\n", QStringLiteral("10.1.1.1"));
    EXPECT_EQ(Headers::ssmItems(),
              QStringLiteral("P[YOffset=100;\r\nXOffset=0;\r\nstaticYOffset=30;\r\nslideSpeed=0;\r\nwaitTime=1500;\r\n"
                             "menuIsStatic=\"yes\";\r\nmenuWidth=150;\r\nmenuCols=2;\r\nbarLink=\"https://forum.example.org/\";\r\n"
                             "barWidth=20;\r\nbarText=\"Tessera Forums\";\r\nlinkTarget=\"_top\";\r\nlinkBGColor=\"white\";\r\n"
                             "linkOverBGColor=\"#FFFF99\";\r\n]I[ssmItems[0]=[\"Home\",\"/home\",\"\"]\r\n]"));
}

TEST_F(Menus, LinksFileAboveTheProgramFolderFirst)
{
    const QString saved = gAppPath;
    gAppPath = path(QStringLiteral("prog"));
    QDir().mkpath(gAppPath);
    request();
    EXPECT_EQ(Headers::LinkFile(), QStringLiteral("No File"));
    writeFile(QStringLiteral("prog/HTML/Links.htm"), "inner");
    EXPECT_EQ(Headers::LinkFile(), QStringLiteral("inner"));
    writeFile(QStringLiteral("links.htm"), "outer");
    EXPECT_EQ(Headers::LinkFile(), QStringLiteral("outer"));
    Headers::gTouchScreen = true;
    writeFile(QStringLiteral("prog/html/links_touchscreen.htm"), "touch");
    EXPECT_EQ(Headers::LinkFile(), QStringLiteral("touch"));
    gAppPath = saved;
}
