// Page head, logo bar, cells, footer links and scroller.
#include "ChromeFixture.h"

#include "web/HTMLIncludes.h"
#include "web/chrome/Cells.h"
#include "web/chrome/Headers.h"
#include "web/chrome/PageHead.h"

#include "host/HostGlobals.h"

using Headers::FormatCell;

namespace {
HeaderParameters empties()
{
    return HeaderParameters(QStringList(12, QString()));
}
} // namespace

class PageHead : public ChromeTest
{
};

// First call on empty settings: every missing key written back, the logo bar
// with a blank title; the next call reads "n/a" and has no logo bar.
TEST_F(PageHead, DefaultsWrittenBackAndTheirEffectOnTheNextPage)
{
    request();
    const QString first = CustomHeader(empties());
    const QString ini = QStringLiteral("includes.ini");
    const QString hdr = QStringLiteral("header.asp");
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("strPageTitle")), QStringLiteral("n/a"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("strShowLinks")), QStringLiteral("OldStyle"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("strRefresh")), QStringLiteral("0"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("strLogoYN")), QStringLiteral("Yes"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("UseSecurity")), QStringLiteral("None"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("HideTitle")), QStringLiteral("0"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("linkslocation")), QStringLiteral("1"));
    EXPECT_EQ(stored(ini, hdr, QStringLiteral("usePageScroll")), QStringLiteral("0"));
    EXPECT_EQ(first,
              QStringLiteral(
                  "<html><head><title> -  </title><link rel=\"stylesheet\" type=\"text/css\" href=\"/xaptvkKorvane/xaptvkKorvane/styleNoBody.css\">"
                  "<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\"><meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\"></head>\r\n"
                  "<body>\r\n"
                  "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" summary=\"Logo Bar\"><tr><td colspan=\"5\" class=\"pagetitle\"> </td></tr>"
                  "<tr class=\"logobar\"><td><img height=\"25\" src=\"/xaptvkKorvane/clock.gif\" alt=\"The time is 12/5/2026 3:04:05 PM\" align=\"absmiddle\" border=\"0\"></td>"
                  "<td>12/5/2026</td>"
                  "<td nowrap><img src=\"/xaptvkKorvane/sunrise.gif\" height=\"25\" alt=\"Sunrise is at .\" align=\"absmiddle\" border=\"0\"> <b>Sunrise:</b> </td>"
                  "<td nowrap><img src=\"/xaptvkKorvane/sunset.gif\" height=\"25\" alt=\"Sunset is at .\" align=\"absmiddle\" border=\"0\"> <b>Sunset:</b> </td>"
                  "<td align=\"right\" colspan=\"1\"><a href=\"/status\" target=\"_top\"><img alt=\"Link to Status\"  width=\"133\" height=\"25\" src=\"/xaptvkKorvane/logo.jpg\" border=\"0\"></a></td></tr></table>"
                  "<p><a href=\"/\">Home</a> | <a href=\"/stat\">Status</a> | <a href=\"/tope\">Events</a> | <a href=\"/elog\">Log</a> | "
                  "<a href=\"/ctrl\">Control Device</a> | <a href=\"/devs\">Poll Device</a> | <a href=\"/tvgm\">TV/Video Game</a> | "
                  "<a href=\"/setp\">Setup</a> | <a href=\"/html_help/hlp_contents.htm\">Help</a> | <a href=\"/logo\">Log Out</a></p> "
                  "<a name=\"pagecontent\"></a>"));
    request();
    const QString second = CustomHeader(empties());
    EXPECT_TRUE(second.contains(QStringLiteral("<title> - n/a</title>")));
    EXPECT_FALSE(second.contains(QStringLiteral("Logo Bar")));
}

TEST_F(PageHead, RefreshTitleAndBody)
{
    set(QStringLiteral("settings.ini"), QStringLiteral("Settings"), QStringLiteral("auto_refresh"), QStringLiteral("60"));
    set(QStringLiteral("settings.ini"), QStringLiteral("Settings"), QStringLiteral("gWebPageTitle"), QStringLiteral("My <House>"));
    request();
    auto head = [](const QString &refresh) {
        return CustomHeader(HeaderParameters{QStringLiteral("<b>Page</b>&nbsp;One"), QString(), QString(), QStringLiteral("x"),
                                             QStringLiteral("s.css"), QStringLiteral("NO"), refresh});
    };
    EXPECT_FALSE(head(QStringLiteral("05")).contains(QStringLiteral("refresh")));
    EXPECT_TRUE(head(QStringLiteral("30")).contains(QStringLiteral("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"30\">")));
    EXPECT_TRUE(head(QStringLiteral("1")).contains(QStringLiteral("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"60\">")));
    EXPECT_FALSE(head(QStringLiteral("9x")).contains(QStringLiteral("refresh")));
    const QString h = head(QStringLiteral("0"));
    EXPECT_TRUE(h.startsWith(QStringLiteral("<title>My &lt;House&gt; - PageOne</title>"))) << h.toStdString(); // "x": no <html><head>
    EXPECT_TRUE(h.contains(QStringLiteral("<td colspan=\"5\" class=\"pagetitle\"><b>Page</b>&nbsp;One</td>")));

    const QString styled = CustomHeader(HeaderParameters{QStringLiteral("T"), QStringLiteral("id=\"b\""), QStringLiteral("#000000"),
                                                         QStringLiteral("bg.jpg")});
    EXPECT_TRUE(styled.contains(QStringLiteral("<body id=\"b\" style=\" background-color: #000000;  background-image: url(bg.jpg);\">\r\n")))
        << styled.toStdString();
    const QString single = CustomHeader(HeaderParameters::text(QStringLiteral("Alone,,onload=\"go()\"")));
    EXPECT_TRUE(single.contains(QStringLiteral("<body onload=\"go()\">\r\n")));
    EXPECT_TRUE(single.contains(QStringLiteral("<title>My &lt;House&gt; - Alone</title>")));
}

TEST_F(PageHead, LogoBarCells)
{
    include(QStringLiteral("logoShowClock"), QStringLiteral("no"));
    include(QStringLiteral("logoShowDate"), QStringLiteral("no"));
    include(QStringLiteral("logoShowSunrise"), QStringLiteral("no"));
    include(QStringLiteral("logoShowSunset"), QStringLiteral("no"));
    include(QStringLiteral("logoImageLink"), QStringLiteral("none"));
    set(QStringLiteral("WeatherData.ini"), QStringLiteral("WeatherCom_CurrentData"), QStringLiteral("Temp"), QStringLiteral("71\"><script>"));
    writeFile(QStringLiteral("HTML/javascript/clock.js"), "<script>clock()</script>");
    setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
    request("AUTH_USER: <script>x' OR '1'='1\r\n");
    const QString head = CustomHeader(HeaderParameters{QStringLiteral("T"), QString(), QString(), QStringLiteral("x"), QString(), QStringLiteral("NO")});
    EXPECT_TRUE(head.contains(
        QStringLiteral("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" summary=\"Logo Bar\"><tr><td colspan=\"4\" class=\"pagetitle\">T</td></tr>"
                       "<tr class=\"logobar\"><td nowrap><script>clock()</script></td>"
                       "<td nowrap><b>Temp:</b> <img border=\"0\" align=\"absmiddle\" alt=\"Temperature is 71&quot;&gt;&lt;script&gt; degrees \" "
                       "src=\"/xaptvkKorvane/images/Temperatures/71&quot;&gt;&lt;script&gt;.gif\" ></td>"
                       "<td nowrap><b>User:</b> &lt;SCRIPT&gt;X&#39; OR &#39;1&#39;=&#39;1</td>"
                       "<td align=\"right\" colspan=\"1\"><img alt=\"Logo\" width=\"133\" height=\"25\" src=\"/xaptvkKorvane/logo.jpg\" border=\"0\"></td></tr></table>")))
        << head.toStdString();

    include(QStringLiteral("logoImageLink"), QStringLiteral("javascript:alert(1)"));
    request();
    EXPECT_TRUE(CustomHeader(HeaderParameters{QStringLiteral("T")})
                    .contains(QStringLiteral("<a href=\"#\" target=\"_top\"><img alt=\"Link to javascript:alert(1).\"")));
    include(QStringLiteral("HideTitle"), QStringLiteral("1"));
    request();
    EXPECT_FALSE(CustomHeader(HeaderParameters{QStringLiteral("T")}).contains(QStringLiteral("Logo Bar")));
    EXPECT_FALSE(CustomHeader(HeaderParameters{QStringLiteral("T"), QString(), QString(), QString(), QString(), QString(), QString(),
                                               QString(), QStringLiteral("no_logo"), QString(), QStringLiteral("0")})
                     .contains(QStringLiteral("Logo Bar")));
}

TEST_F(PageHead, TouchScreenPage)
{
    setting(QStringLiteral("touchscreenips"), QStringLiteral("127.0.0.1"));
    writeFile(QStringLiteral("HTML/meta.htm"), "<meta name=\"m\">");
    writeFile(QStringLiteral("HTML/meta_touchscreen.htm"), "<meta name=\"t\">");
    writeFile(QStringLiteral("HTML/head.htm"), "HEAD");
    writeFile(QStringLiteral("HTML/xaptvkKorvane/links_touchscreen.htm"), "TOUCHLINKS");
    include(QStringLiteral("linkslocation"), QStringLiteral("1"));
    request();
    ASSERT_TRUE(Headers::gTouchScreen);
    const QString head = CustomHeader(HeaderParameters{QStringLiteral("Title"), QString(), QStringLiteral("#123"), QString(), QStringLiteral("t.css")});
    EXPECT_EQ(head, QStringLiteral("<html><head><title> - Title</title><link rel=\"stylesheet\" type=\"text/css\" href=\"/t.css\">"
                                   "<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\"><meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">"
                                   "<meta name=\"t\"></head>\r\n<body   bgcolor=\"#123\">\r\nHEAD"
                                   "<div align=\"center\">TOUCHLINKS </div>"
                                   "<div align=\"center\"><strong>Title</strong></div><a name=\"pagecontent\"></a>"));
}

TEST_F(PageHead, ServerAddressFromAValidHostOnly)
{
    gHTTPPort = QStringLiteral("8010");
    writeFile(QStringLiteral("HTML/xaptvkKorvane/xaptvkKorvane_links.htm"), "<a href=\"/stat\">S</a>");
    const HeaderParameters p{QStringLiteral("T"), QString(), QString(), QStringLiteral("x"), QString(), QStringLiteral("NO")};
    request("Host: house.lan:8010\r\n");
    EXPECT_EQ(Headers::GetServerIP(), QStringLiteral("house.lan"));
    EXPECT_TRUE(CustomHeader(p).contains(
        QStringLiteral("<a href=\"http://house.lan:8010/xaptvkKorvane/xaptvkKorvane.asp?Page=stat\">S</a><a name=\"pagecontent\"></a>")));
    request("Host: evil\"><script>\r\n");
    EXPECT_EQ(Headers::GetServerIP(), QStringLiteral("house.lan")); // the last good one
    request("Host: a b\r\nReferer: http://10.0.0.9:8010/status\r\n");
    EXPECT_EQ(Headers::GetServerIP(), QStringLiteral("10.0.0.9"));
}

TEST_F(PageHead, FileContents)
{
    writeFile(QStringLiteral("big.txt"), QByteArray(70000, 'q') + "\xff");
    EXPECT_EQ(Headers::FileContents(path(QStringLiteral("big.txt"))).size(), 70001);
    writeFile(QStringLiteral("blank.txt"), "    ");
    EXPECT_EQ(Headers::FileContents(path(QStringLiteral("blank.txt"))), QStringLiteral("No File"));
    writeFile(QStringLiteral("empty.txt"), "");
    EXPECT_EQ(Headers::FileContents(path(QStringLiteral("empty.txt"))), QStringLiteral("No File"));
    EXPECT_EQ(Headers::FileContents(path(QStringLiteral("none.txt"))), QStringLiteral("No File"));
}

TEST_F(PageHead, Cells)
{
    request();
    EXPECT_EQ(FormatCell(QStringLiteral("Last Change"), QStringLiteral("TABLEHEADER"), QString(), QString()),
              QStringLiteral("<td class=\"TABLEHEADER\" >Last Change</td>"));
    EXPECT_EQ(HTMLFormatCell(QStringLiteral("Don't-Stop Believing Now"), QStringLiteral("tableheader"), QStringLiteral("2"), QStringLiteral("left")),
              QStringLiteral("<td class=\"tableheader\" colspan=\"2\" align=\"left\" >Don't-Stop Believing Now</td>"));
    EXPECT_EQ(FormatCell(QStringLiteral("<b>x</b>"), QStringLiteral("TABLEROWODD"), QString(), QStringLiteral("center")),
              QStringLiteral("<td class=\"TABLEROWODD\" align=\"center\" ><b>x</b></td>"));
    EXPECT_EQ(FormatCell(QStringLiteral("x"), QStringLiteral("a\"b"), QStringLiteral("\"><x"), QString()),
              QStringLiteral("<td class=\"a&quot;b\" colspan=\"&quot;&gt;&lt;x\" >x</td>"));

    Headers::gTouchScreen = true;
    EXPECT_EQ(FormatCell(QStringLiteral("Name"), QStringLiteral("TableHeader"), QString(), QString()),
              QStringLiteral("<td bgcolor=\"#63639C\" ><font face=\"Verdana, Arial, sans-serif\" size=\"2\" color=\"#FFFFFF\"><b>Name</b></font></td>"));
    EXPECT_EQ(FormatCell(QStringLiteral("v"), QStringLiteral("TABLEROWEVEN"), QString(), QString()),
              QStringLiteral("<td bgcolor=\"#949494\" ><font face=\"Verdana, Arial, sans-serif\" size=\"2\" color=\"#000000\">v</font></td>"));
    // Other classes keep their text (the status page's tag inputs), without the fixed colours.
    EXPECT_EQ(FormatCell(QStringLiteral("kept"), QStringLiteral("other"), QStringLiteral("2"), QStringLiteral("left")),
              QStringLiteral("<td colspan=\"2\" align=\"left\" >kept</td>"));
}

TEST_F(PageHead, FooterLinks)
{
    const QString s = QStringLiteral("settings.ini");
    const QString sec = QStringLiteral("Settings");
    set(s, sec, QStringLiteral("gLaunchTSPhone"), QStringLiteral("1"));
    set(s, sec, QStringLiteral("webvenabled"), QStringLiteral("True"));
    set(s, sec, QStringLiteral("gCustomPageFile1"), QStringLiteral("cams.htm"));
    set(s, sec, QStringLiteral("gCustomPageDesc1"), QStringLiteral("Cams <live>"));
    set(s, sec, QStringLiteral("gCustomPageFile3"), QStringLiteral("http://x.lan/a"));
    set(s, sec, QStringLiteral("gCustomPageDesc3"), QStringLiteral("X"));
    set(s, sec, QStringLiteral("gCustomPageFile4"), QStringLiteral("javascript:alert(1)"));
    set(s, sec, QStringLiteral("gCustomPageDesc4"), QStringLiteral("J"));
    request();
    EXPECT_EQ(Headers::TSLinks(),
              QStringLiteral("<p><a href=\"/\">Home</a> | <a href=\"/stat\">Status</a> | <a href=\"/tope\">Events</a> | <a href=\"/elog\">Log</a> | "
                             "<a href=\"/ctrl\">Control Device</a> | <a href=\"/devs\">Poll Device</a> | <a href=\"/tvgm\">TV/Video Game</a> | "
                             "<a href=\"/setp\">Setup</a> |  <a href=\"vmail0\">Messages</a> | <a href = \"/voic\">Voice</a> | "
                             "<a href=\"/html_help/hlp_contents.htm\">Help</a> | <a href=\"/cams.htm\">Cams &lt;live&gt;</a>"
                             "| <a href=\"http://x.lan/a\">X</a>| <a href=\"/javascript:alert(1)\">J</a>| <a href=\"/logo\">Log Out</a></p>"));
}

TEST_F(PageHead, Scroller)
{
    request();
    EXPECT_EQ(Headers::PageScroll(QStringLiteral("a|b")), QStringLiteral("No File"));
    writeFile(QStringLiteral("html/javascript/page_scroll.js"), "<script>(******REPLACE_PAGESCROLL******)</script>");
    EXPECT_EQ(Headers::PageScroll(QStringLiteral("a|b")),
              QStringLiteral("<script>wcontent[0]=\"<font class='pagescrolltext'>a</font>\";wcontent[1]=\"<font class='pagescrolltext'>b</font>\";</script>"));
    // No weather data: still the three lines, with empty values.
    EXPECT_EQ(Headers::PageScrollWeatherman(),
              QStringLiteral("wcontent[0]= \"<font class='pagescrolltext' > Currently:  Temp: &deg;F  Todays High: &deg;F   Todays Low: &deg;F</font>  \"; "
                             "wcontent[1]= \"<font class='pagescrolltext' >Forecast for </font>  \"; "
                             "wcontent[2]= \"<font class='pagescrolltext' >Forecast for </font>  \"; "));
    const QString w = QStringLiteral("WeatherData.ini");
    set(w, QStringLiteral("WeatherCom_CurrentData"), QStringLiteral("Report_City"), QStringLiteral("Oslo\\\"</script>"));
    set(w, QStringLiteral("WeatherCom_CurrentData"), QStringLiteral("AlertIDs"), QStringLiteral("x"));
    set(w, QStringLiteral("WeatherCom_ExtForecast"), QStringLiteral("ExtForecast0"), QString(300, QLatin1Char('f')));
    const QString lines = Headers::PageScrollWeatherman();
    EXPECT_TRUE(lines.startsWith(QStringLiteral("wcontent[3]= \"<font class='pagescrolltext'  style='color: red;' >There are Weather Alerts for "
                                                "Oslo\\\\&quot;&lt;/script&gt;.</font>  <a href='/weathericons/weatherstats.asp#alerts'>View Alerts</a>  \"; ")))
        << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral(">Forecast for ") + QString(215, QLatin1Char('f')) + QStringLiteral("...</font>")));
    EXPECT_TRUE(Headers::PageScroll(QStringLiteral("Default")).startsWith(QStringLiteral("<script>wcontent[3]=")));
    // The page head adds the scroller when the section is given, unless it is "None".
    const QString head = CustomHeader(HeaderParameters{QStringLiteral("T"), QString(), QString(), QStringLiteral("x"), QString(),
                                                       QStringLiteral("NO"), QString(), QString(), QString(), QString(), QString(),
                                                       QStringLiteral("one")});
    EXPECT_TRUE(head.contains(QStringLiteral("<script>wcontent[0]=\"<font class='pagescrolltext'>one</font>\";</script>")));
}
