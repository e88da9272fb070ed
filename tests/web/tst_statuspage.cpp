// The status page: the frame, the points table in each sort order and
// include setting, the receive filter table, the touch-screen variant, and
// the escaping of every value from outside.
#include "StatusFixture.h"

#include "web/HTMLIncludes.h"
#include "web/HtmlText.h"
#include "web/chrome/Headers.h"
#include "web/WebClock.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/StatusPage.h"
#include "web/status/StatusTable.h"

#include "bridge/DeviceMessageClass.h"

#include "controller/PluginState.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IR.h"

#include "core/FastString.h"

#include "automation/VbDate.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The display codes of the rows of a page, in page order.
QStringList rowIds(const QString &page)
{
    QStringList ids;
    static const QRegularExpression hidden(QStringLiteral("<input type='hidden' value='[^']*' name='([^']*)DC'>"));
    for (auto it = hidden.globalMatch(page); it.hasNext();)
        ids << it.next().captured(1);
    return ids;
}

} // namespace

TEST_F(StatusTest, SmallControllerInTheDefaultOrderIsTheWholePageByteForByte)
{
    const QString built = page();
    EXPECT_EQ(built, expectedPage(kDefaultOrder));
    EXPECT_FALSE(gFiltersShown);
}

TEST_F(StatusTest, SortOrdersFromTheStoredKeyAndDirection)
{
    const QString file = QStringLiteral("tvkXapKorvane.ini");
    const QString section = QStringLiteral("tspi_quillon");
    struct Case
    {
        QString key, direction;
        QStringList order;
    };
    const QList<Case> cases{
        // Quotes around stored values are dropped.
        {"\"DCSort\"", "\"DESC\"", {"X8:89", "X0:81", "V1:02", "V0:01", "MAC1", "MAC0", "IR5", "IR0", "B16", "A2", "A1"}},
        // Names without regard to case; equal names keep the gathered order.
        {"Name", "", {"MAC0", "IR5", "V0:01", "A2", "X0:81", "A1", "X8:89", "IR0", "V1:02", "MAC1", "B16"}},
        {"name", "desc", {"B16", "MAC1", "V1:02", "IR0", "X8:89", "A1", "X0:81", "A2", "V0:01", "IR5", "MAC0"}},
        // Times as times; equal ones (no change) keep the gathered order, also descending.
        // (X0:81 and IR5 were never set: 0; V1:02 and the macros say 1 January 2000.)
        {"Changed", "", {"X0:81", "IR5", "V1:02", "MAC1", "MAC0", "B16", "A2", "V0:01", "IR0", "A1", "X8:89"}},
        {"Changed", "DESC", {"X8:89", "A1", "IR0", "V0:01", "A2", "B16", "V1:02", "MAC1", "MAC0", "X0:81", "IR5"}},
        {"Tag", "DESC", {"IR0", "X8:89", "A1", "V0:01", "V1:02", "A2", "B16", "X0:81", "IR5", "MAC1", "MAC0"}},
        // Headings that name no field, and a direction the table does not
        // know, keep the gathered order: variables, X10, I/O, IR, macros, new macro.
        {"Ev", "", {"V0:01", "V1:02", "A1", "A2", "B16", "X0:81", "X8:89", "IR0", "IR5", "MAC1", "MAC0"}},
        {"Status", "", {"V0:01", "V1:02", "A1", "A2", "B16", "X0:81", "X8:89", "IR0", "IR5", "MAC1", "MAC0"}},
        {"DCSort", "SIDEWAYS", {"V0:01", "V1:02", "A1", "A2", "B16", "X0:81", "X8:89", "IR0", "IR5", "MAC1", "MAC0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.key + QLatin1Char(' ') + c.direction).toStdString());
        set(file, section, QStringLiteral("StatusSortKey"), c.key);
        set(file, section, QStringLiteral("StatusSortDirection"), c.direction);
        const QString built = page();
        EXPECT_EQ(rowIds(built), c.order);
        EXPECT_EQ(built, expectedPage(c.order));
    }
}

TEST_F(StatusTest, IncludeSettingsChooseTheKindsAndTheTicksFollowTheFlags)
{
    // The stored settings choose the sections; the ticks show the in-memory flags.
    includes(true, false, true, false, true);
    gPlugin.IncludeX10 = true;
    EXPECT_EQ(page(), expectedPage({"V0:01", "V1:02", "X0:81", "X8:89"}));

    includes(false, true, false, true, true);
    EXPECT_EQ(page(), expectedPage({"A1", "A2", "B16", "IR0", "IR5", "MAC0", "MAC1"}));

    // Nothing included: title and headings, no rows; options, frame and buttons stay.
    includes(false, false, false, false, true);
    gIRMacroDictionary->removeAll();
    EXPECT_EQ(page(), expectedPage({}));
    EXPECT_EQ(CurrentStatusTable().rowCount(), 0);

    // IR included with no macros: the new-macro row alone among the macros.
    includes(false, false, false, true, true);
    EXPECT_EQ(rowIds(page()), QStringList({"IR0", "IR5", "MAC0"}));

    // Any stored value but "0" includes (a value the plug-in reads as off included too).
    includes(false, false, false, false, true);
    plugin(QStringLiteral("IncludeVariables"), QStringLiteral("yes"));
    EXPECT_EQ(rowIds(page()), QStringList({"V0:01", "V1:02"}));
}

TEST_F(StatusTest, EveryPointWhenNotOnlyUsed)
{
    includes(true, true, true, true, false);
    const QString built = page();
    const QStringList ids = rowIds(built);
    // 128 variables, 256 X10 units, 16 points of the module, 1024 IR entries, a macro and the new-macro row.
    EXPECT_EQ(ids.size(), 128 + 256 + 16 + 1024 + 2);
    EXPECT_EQ(CurrentStatusTable().rowCount(), ids.size());
    EXPECT_EQ(ids.first(), QStringLiteral("A1"));
    EXPECT_EQ(ids.indexOf(QStringLiteral("IR0")), 256);
    EXPECT_EQ(ids.mid(1280, 2), QStringList({"MAC0", "MAC1"}));
    // Variable 64 and 65 straddle the two house letters.
    const qsizetype v63 = ids.indexOf(QStringLiteral("V63:40"));
    ASSERT_GE(v63, 0);
    EXPECT_EQ(ids.at(v63 + 1), QStringLiteral("V64:41"));
    EXPECT_EQ(ids.last(), QStringLiteral("X15:90"));
    EXPECT_TRUE(built.contains(QStringLiteral("<input type='hidden' value='W1' name='V64:41DC'>"))
                || !built.contains(QStringLiteral("value='W1'")));
    EXPECT_TRUE(built.contains(QStringLiteral("<input type='hidden' value='' name='V127:80DC'>")));

    const QString e = QStringLiteral("TABLEROWEVEN");
    const QString o = QStringLiteral("TABLEROWODD");
    auto row = [&](const QString &id) {
        const qsizetype at = ids.indexOf(id);
        return at % 2 == 0 ? e : o;
    };
    // A variable without a device: its label split at the first blank, status 0, no change, no buttons.
    {
        const QString c = row(QStringLiteral("V4:05"));
        EXPECT_TRUE(built.contains(
            QStringLiteral("<input type='hidden' value='' name='V4:05DC'><input type='hidden' value='0' name='V4:05Shown'>") + td("<input type='checkbox'  name='V4:05Used'>", c)
            + td("<input type='checkbox'  name='V4:05Event'>", c)
            + td("<input type='text' size='15' name='V4:05Tag' value=''>", QStringLiteral("tablecellmisc")) + td("0", c)
            + td("V4:05", c) + td("Garage Door Count", c) + td("&nbsp;", c) + td("", c) + QStringLiteral("</tr><tr>")));
    }
    // An X10 unit without a device: label without a blank is all name; the host's change time; no status.
    {
        QString code = QStringLiteral("C3");
        Variant when = Variant::fromDate(ole(2026, 12, 5, 9, 8, 7));
        hs->SetDeviceLastChange(code, when);
    }
    {
        const QString again = page();
        const QStringList ids2 = rowIds(again);
        const QString c = ids2.indexOf(QStringLiteral("C3")) % 2 == 0 ? e : o;
        EXPECT_TRUE(again.contains(
            QStringLiteral("<input type='hidden' value='' name='C3DC'><input type='hidden' value='0' name='C3Shown'>") + td("<input type='checkbox'  name='C3Used'>", c)
            + td("<input type='checkbox'  name='C3Event'>", c)
            + td("<input type='text' size='15' name='C3Tag' value=''>", QStringLiteral("tablecellmisc"))
            + td("&nbsp;", c) + td("C3", c) + td(" Porch", c) + td("Today 9:08:07 AM", c) + td("", c)
            + QStringLiteral("</tr><tr>")));
    }
    // An unused SIO16 point: the label of its display code; SIO16 points 1 to 8 have no buttons.
    {
        const QString c = row(QStringLiteral("X3:84"));
        EXPECT_TRUE(built.contains(
            QStringLiteral("<input type='hidden' value='' name='X3:84DC'><input type='hidden' value='0' name='X3:84Shown'>") + td("<input type='checkbox'  name='X3:84Used'>", c)
            + td("<input type='checkbox'  name='X3:84Event'>", c)
            + td("<input type='text' size='15' name='X3:84Tag' value=''>", QStringLiteral("tablecellmisc")) + td("0", c)
            + td("X3:84", c) + td("Shed Sensor", c) + td("&nbsp;", c) + td("", c) + QStringLiteral("</tr><tr>")));
    }
    // IR entries without a label are listed, unticked by nature (no Used box).
    EXPECT_TRUE(built.contains(QStringLiteral("<input type='hidden' value='R1023' name='IR1023DC'>")));
}

TEST_F(StatusTest, ModuleKindsGiveTheirButtons)
{
    tables = PointTableData();
    tables.varsHouseCode = 'V';
    tables.addUnit(1, 6, QStringLiteral("["));  // SIO16IR
    tables.addUnit(2, 13, QStringLiteral("]")); // RLY-8
    tables.addUnit(4, 12, QStringLiteral("^")); // SIO16I
    addDevice(QStringLiteral("["), QStringLiteral("2"), QString(), QStringLiteral("Zone"));
    addDevice(QStringLiteral("]"), QStringLiteral("3"), QString(), QStringLiteral("Relay"));
    addDevice(QStringLiteral("^"), QStringLiteral("16"), QString(), QStringLiteral("Input"));
    tables.pointUsed[1][1] = tables.pointUsed[2][2] = tables.pointUsed[4][15] = 1;
    includes(false, false, true, false, true);
    const QString built = page();
    EXPECT_EQ(rowIds(built), QStringList({"X1:82", "X18:93", "X47:B0"}));
    const QString e = QStringLiteral("TABLEROWEVEN");
    const QString o = QStringLiteral("TABLEROWODD");
    // The SIO16IR point: a send button and no Used box.
    EXPECT_TRUE(built.contains(QStringLiteral("<input type='hidden' value='[2' name='X1:82DC'><input type='hidden' value='0' name='X1:82Shown'>") + td("&nbsp;", e)));
    EXPECT_TRUE(built.contains(td(QStringLiteral("<input type ='button' onClick='ClearSubmit(this)' name='X1:82' value='SEND'>"), e)
                               + QStringLiteral("</tr><tr>")));
    EXPECT_TRUE(built.contains(td(QStringLiteral("<input type ='button' onClick='ClearSubmit(this)' name='X18:93' value ='OFF'>"
                                                 "<input type ='button' onClick='ClearSubmit(this)' name='X18:93' value='ON'>"),
                                  o)
                               + QStringLiteral("</tr><tr>")));
    EXPECT_TRUE(built.contains(td(QString(), e) + QStringLiteral("</tr><tr>")));
}

TEST_F(StatusTest, TheTableStaysForTheNextPostWithItsSortAndFilter)
{
    set(QStringLiteral("tvkXapKorvane.ini"), QStringLiteral("tspi_quillon"), QStringLiteral("StatusSortKey"),
        QStringLiteral("Name"));
    page();
    const StatusTable &table = CurrentStatusTable();
    EXPECT_EQ(table.sort(), QStringLiteral("Name"));
    EXPECT_EQ(table.filter(), QStringLiteral("Used=true"));
    EXPECT_EQ(table.rowCount(), 128 + 256 + 16 + 1024 + 2 - (128 - 2) - (256 - 3) - (16 - 2));
    QStringList walked;
    for (const StatusRow *row : table.rows())
        walked << row->DCDisplay;
    EXPECT_EQ(walked.size(), 11);
    EXPECT_EQ(walked.first(), QStringLiteral("MAC0")); // the new-macro row has no name
}

TEST_F(StatusTest, StatusTableSortAndFilterRules)
{
    StatusTable table;
    StatusRow a;
    a.Name = QStringLiteral("beta");
    a.Used = true;
    a.Buttons = 2;
    StatusRow b;
    b.Name = QStringLiteral("Alpha");
    b.Buttons = 10;
    StatusRow c;
    c.Name = QStringLiteral("gamma");
    c.Used = true;
    c.Buttons = 3;
    table.addRow(a);
    table.addRow(b);
    table.addRow(c);
    auto names = [&] {
        QStringList out;
        for (const StatusRow *r : table.rows())
            out << r->Name;
        return out;
    };
    EXPECT_TRUE(table.setSort(QStringLiteral(" Name  ")));
    EXPECT_EQ(names(), QStringList({"Alpha", "beta", "gamma"}));
    // Numbers sort as numbers, not as text.
    EXPECT_TRUE(table.setSort(QStringLiteral("BUTTONS DESC")));
    EXPECT_EQ(names(), QStringList({"Alpha", "gamma", "beta"}));
    // Rejected texts leave the sort as it was.
    EXPECT_FALSE(table.setSort(QStringLiteral("Name DESC extra")));
    EXPECT_FALSE(table.setSort(QStringLiteral("Nome")));
    EXPECT_EQ(names(), QStringList({"Alpha", "gamma", "beta"}));
    EXPECT_TRUE(table.setFilter(QStringLiteral("Used = true")));
    EXPECT_EQ(names(), QStringList({"gamma", "beta"}));
    EXPECT_FALSE(table.setFilter(QStringLiteral("Used=false")));
    EXPECT_EQ(names(), QStringList({"gamma", "beta"}));
    EXPECT_TRUE(table.setFilter(QString()));
    EXPECT_EQ(names().size(), 3);
}

TEST_F(StatusTest, TouchScreenVariant)
{
    setting(QStringLiteral("touchscreenips"), QStringLiteral("127.0.0.1"));
    const QString built = page();
    ASSERT_TRUE(Headers::gTouchScreen);
    touch = true;
    // Tag inputs (class tablecellmisc) keep their text on the touch screen.
    EXPECT_EQ(built, expectedPage(kDefaultOrder));
    EXPECT_TRUE(built.contains(QStringLiteral("<td colspan=\"1\" align=\"Left\" ><input type='text' size='15' name='A1Tag' value='hall_lamp'></td>")));
}

class StatusFilters : public StatusTest
{
protected:
    void SetUp() override
    {
        StatusTest::SetUp();
        gShowReceiveMessages = true;
        gFilterDictionary->add(Variant(QStringLiteral("acme.weather.home~weather.report~x")), Variant(QStringLiteral("wx;1")));
        gFilterDictionary->add(Variant(QStringLiteral("acme.door.front~alarm.event")), Variant(QStringLiteral("door;")));
        gFilterDictionary->add(Variant(QStringLiteral("acme.meter~power.usage")), Variant(QStringLiteral("meter;")));
        auto wx = std::make_shared<DeviceMessageClass>();
        wx->Tag = QStringLiteral("wx");
        wx->LastChange = ole(2026, 12, 5, 14, 0, 0);
        wx->addItem(QStringLiteral("weather.tempc"), QStringLiteral("4.5"));
        wx->addItem(QStringLiteral("weather.wind"), QStringLiteral("NW 12"));
        gDeviceDictionary->add(Variant(QStringLiteral("wx")), Variant(ObjectPtr(wx)));
        auto door = std::make_shared<DeviceMessageClass>();
        door->Tag = QStringLiteral("door");
        door->LastChange = VbDate::dateSerial(2000, 1, 1);
        gDeviceDictionary->add(Variant(QStringLiteral("door")), Variant(ObjectPtr(door)));
    }

    QString filterTable(bool detail) const
    {
        const QString h = QStringLiteral("TABLEHEADER");
        const QString c = QStringLiteral("Center");
        const QString odd = QStringLiteral("TABLEROWODD");
        const QString even = QStringLiteral("TABLEROWEVEN");
        const QString misc = QStringLiteral("tablecellmisc");
        QString t = QStringLiteral("<br><p><Table width='600' border='5' frame='box'><tr>")
            + td(QStringLiteral("xAP Messages of Interest"), h, QStringLiteral("5"), c) + QStringLiteral("</tr><tr>")
            + td("Status", h, "1", c) + td("Tag", h, "1", c) + td("Ev", h, "1", c)
            + td("Source Including Subaddress", h, "1", c) + td("Class", h, "1", c) + QStringLiteral("</tr><tr>");
        // Each row carries its filter's key and what it showed.
        t += td("<input type='hidden' value='acme.weather.home~weather.report~x' name='FilterKey1'><input type='hidden' value='wx;1' name='FilterShown1'>Today 2:00:00 PM", odd, "1", c) + td("<input type='text' size='15' value='wx' name='FilterTag1'>", misc)
            + td("<input type='checkbox' checked value='1' name='FilterEvent1'>", odd)
            + td("<input type='text' size='80' value='acme.weather.home' name='Source1'>", odd, "1", "Right")
            + td("<input type='text' size='20' value='weather.report' name='Class1'>", odd) + "</tr><tr>";
        if (detail)
            t += td("4.5", odd, "3", "Right") + td("weather.tempc", odd, "3") + "</tr><tr>" + td("NW 12", odd, "3", "Right")
                + td("weather.wind", odd, "3") + "</tr><tr>";
        t += td("<input type='hidden' value='acme.door.front~alarm.event' name='FilterKey2'><input type='hidden' value='door;' name='FilterShown2'>", even, "1", c) + td("<input type='text' size='15' value='door' name='FilterTag2'>", misc)
            + td("<input type='checkbox' value='1' name='FilterEvent2'>", even)
            + td("<input type='text' size='80' value='acme.door.front' name='Source2'>", even, "1", "Right")
            + td("<input type='text' size='20' value='alarm.event' name='Class2'>", even) + "</tr><tr>";
        t += td("<input type='hidden' value='acme.meter~power.usage' name='FilterKey3'><input type='hidden' value='meter;' name='FilterShown3'>", odd, "1", c) + td("<input type='text' size='15' value='meter' name='FilterTag3'>", misc)
            + td("<input type='checkbox' value='1' name='FilterEvent3'>", odd)
            + td("<input type='text' size='80' value='acme.meter' name='Source3'>", odd, "1", "Right")
            + td("<input type='text' size='20' value='power.usage' name='Class3'>", odd) + "</tr><tr>";
        t += td("&nbsp;&nbsp;", even, "1", c) + td("<input type='text' size='15' value='' name='FilterTag0'>", misc)
            + td("<input type='checkbox' value='1' name='FilterEvent0'>", even)
            + td("<input type='text' size='80' value='' name='Source0'>", even, "1", "Right")
            + td("<input type='text' size='20' value='' name='Class0'>", even) + "</tr>";
        return t;
    }
};

TEST_F(StatusFilters, FilterTableWithoutDetail)
{
    gShowStatus = 7; // anything but 0 and 1 ticks the third choice
    EXPECT_EQ(page(), expectedPage(kDefaultOrder, filterTable(false)));
    EXPECT_TRUE(gFiltersShown);
}

TEST_F(StatusFilters, FilterTableWithDetail)
{
    gShowReceiveDetail = true;
    gShowStatus = 1;
    EXPECT_EQ(page(), expectedPage(kDefaultOrder, filterTable(true)));
    // The next page without the table tells the next post to leave the filters alone.
    gShowReceiveMessages = false;
    EXPECT_EQ(page(), expectedPage(kDefaultOrder));
    EXPECT_FALSE(gFiltersShown);
}

TEST_F(StatusFilters, TouchScreenFilterTable)
{
    setting(QStringLiteral("touchscreenips"), QStringLiteral("127.0.0.1"));
    gShowReceiveDetail = true;
    const QString built = page();
    touch = true;
    EXPECT_EQ(built, expectedPage(kDefaultOrder, filterTable(true)));
}

// Every value from the store, the controller, the filters or received
// messages goes into the page escaped; nothing of a probe survives as markup.
TEST_F(StatusFilters, ValuesFromOutsideAreEscaped)
{
    const QString probe = QStringLiteral("x'\"><script>alert(1)</script><img src=x onerror=alert(2)>&lt");
    const QString escaped = QStringLiteral("x&#39;&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x "
                                           "onerror=alert(2)&gt;&amp;lt");
    addDevice(QStringLiteral("A"), QStringLiteral("5"), probe, probe, probe, false);
    tables.x10Used[4] = 1;
    gIRMacroDictionary->add(Variant(probe), Variant(probe));
    gFilterDictionary->add(Variant(probe + QStringLiteral("~") + probe), Variant(probe + QStringLiteral(";1")));
    auto record = std::make_shared<DeviceMessageClass>();
    record->Tag = probe;
    record->addItem(probe, probe);
    gDeviceDictionary->add(Variant(probe), Variant(ObjectPtr(record)));
    tables.pointNames.insert(QStringLiteral("R7"), probe);
    auto slot = std::dynamic_pointer_cast<IR>(gIRSlots->item(Variant::fromLong(8)).toObject());
    slot->storeField(IR::F_ScriptTag, Variant(probe));
    gShowReceiveDetail = true;

    const QString built = page();
    EXPECT_FALSE(built.contains(QStringLiteral("<script>")));
    EXPECT_FALSE(built.contains(QStringLiteral("<img src=x")));
    EXPECT_FALSE(built.contains(QStringLiteral("x'\"")));
    EXPECT_FALSE(built.contains(QStringLiteral("&lt\"")) || built.contains(QStringLiteral("&lt<")));
    // Device: location and name, tag; macro: name and text (and its DC); IR label and tag;
    // filter: tag, source, class; record: item and key.
    EXPECT_TRUE(built.contains(QStringLiteral("<input type='hidden' value='") + escaped + QStringLiteral("' name='MAC2DC'>")));
    EXPECT_TRUE(built.contains(QStringLiteral("name='A5Tag' value='") + escaped + QStringLiteral("'>")));
    EXPECT_TRUE(built.contains(QStringLiteral(">") + escaped + QStringLiteral(" ") + escaped + QStringLiteral("</td>")));
    EXPECT_TRUE(built.contains(QStringLiteral("name='MAC2' value='") + escaped + QStringLiteral("'>")));
    EXPECT_TRUE(built.contains(QStringLiteral("name='N2' value='") + escaped + QStringLiteral("'>")));
    EXPECT_TRUE(built.contains(QStringLiteral("> ") + escaped + QStringLiteral("</td>")));
    EXPECT_TRUE(built.contains(QStringLiteral("name='IR7Tag' value='") + escaped + QStringLiteral("'>")));
    EXPECT_TRUE(built.contains(QStringLiteral("value='") + escaped + QStringLiteral("' name='FilterTag4'>")));
    EXPECT_TRUE(built.contains(QStringLiteral("value='") + escaped + QStringLiteral("' name='Source4'>")));
    EXPECT_TRUE(built.contains(QStringLiteral("value='") + escaped + QStringLiteral("' name='Class4'>")));
    EXPECT_EQ(built.count(QStringLiteral(">") + escaped + QStringLiteral("</td>")), 2); // the record's item and key
}

TEST_F(StatusTest, ChangeTimesAgainstTheDayMarks)
{
    SetDayMarks(); // 5 December 2026
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 4, 23, 59, 59)), QStringLiteral("Yesterday 11:59:59 PM"));
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 5, 0, 0, 0)), QStringLiteral("Today 12:00:00 AM"));
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 5, 15, 5, 9)), QStringLiteral("Today 3:05:09 PM"));
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 4, 0, 0, 0)), QStringLiteral("Yesterday 12:00:00 AM"));
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 3, 23, 59, 59)), QStringLiteral("12/3/2026 11:59:59 PM"));
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 3, 0, 0, 0)), QStringLiteral("12/3/2026"));
    // The marks are taken once per page, not from the clock of each row.
    WebClock::set([] { return QDateTime(QDate(2026, 12, 6), QTime(0, 0, 1)); });
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 5, 1, 0, 0)), QStringLiteral("Today 1:00:00 AM"));
    SetDayMarks();
    EXPECT_EQ(FormatChangeDate(ole(2026, 12, 5, 1, 0, 0)), QStringLiteral("Yesterday 1:00:00 AM"));

    // A record's last change: never, today, yesterday, older; against the clock itself.
    EXPECT_EQ(FormatLastChange(0), QString());
    EXPECT_EQ(FormatLastChange(VbDate::dateSerial(2000, 1, 1)), QString());
    EXPECT_EQ(FormatLastChange(ole(2026, 12, 6, 0, 0, 0)), QStringLiteral("Today 12:00:00 AM"));
    EXPECT_EQ(FormatLastChange(ole(2026, 12, 5, 23, 59, 59)), QStringLiteral("Yesterday 11:59:59 PM"));
    EXPECT_EQ(FormatLastChange(ole(2026, 12, 4, 23, 59, 59)), QStringLiteral("12/4/2026 11:59:59 PM"));
}

TEST_F(StatusTest, SmallHelpers)
{
    EXPECT_EQ(CommandCode(QStringLiteral("ON")), 2);
    EXPECT_EQ(CommandCode(QStringLiteral("OFF")), 3);
    EXPECT_EQ(CommandCode(QStringLiteral("DIM")), 4);
    EXPECT_EQ(CommandCode(QStringLiteral("on")), 4);
    EXPECT_EQ(CommandCode(QString()), 4);
    EXPECT_EQ(BoolToFlag(true), QStringLiteral("1"));
    EXPECT_EQ(BoolToFlag(false), QStringLiteral("0"));
    EXPECT_EQ(CheckedText(true), QStringLiteral(" checked "));
    EXPECT_EQ(CheckedText(false), QStringLiteral(" "));
}

// The server answers /status with the page through a real connection.
TEST_F(StatusTest, ServedOverHttp)
{
    const QByteArray reply = get("/status");
    ASSERT_TRUE(reply.startsWith("HTTP/1.1 200"));
    const qsizetype body = reply.indexOf("\r\n\r\n");
    ASSERT_GT(body, 0);
    const QString text = QString::fromLatin1(reply.mid(body + 4));
    EXPECT_EQ(rowIds(text), kDefaultOrder);
    EXPECT_TRUE(text.endsWith(QStringLiteral("</body></html>")));
    // No row asks the host about a device it cannot resolve.
    EXPECT_FALSE(anyLogContains(0, QStringLiteral("DeviceStatus")));
}

TEST_F(StatusTest, StripHTMLRules)
{
    using HtmlText::StripHTML;
    EXPECT_EQ(StripHTML(QStringLiteral("<b>A</b>&NBSP;B")), QStringLiteral("AB"));
    EXPECT_EQ(StripHTML(QStringLiteral("a<b")), QStringLiteral("a<b"));
    EXPECT_EQ(StripHTML(QStringLiteral("x<br>")), QStringLiteral("x"));
    EXPECT_EQ(StripHTML(QStringLiteral("1&nbsp2&amp;<i>3")), QStringLiteral("12&amp;3"));
    // Long texts are stripped whole (no limit at 32767 characters).
    const QString longText = QString(40000, QLatin1Char('a')) + QStringLiteral("<b>z</b>");
    EXPECT_EQ(StripHTML(longText), QString(40000, QLatin1Char('a')) + QStringLiteral("z"));
}

// Page build time, run by hand on a release build:
//   tst_web --gtest_also_run_disabled_tests --gtest_filter='*PageBuildBenchmark*'
// A full controller (128 variables, 8 modules, 256 X10 units, 1,024 labelled
// IR entries, every one with a device or label) and the small controller of
// these tests; the median of 20 builds and the page's size.
TEST_F(StatusTest, DISABLED_PageBuildBenchmark)
{
    auto measure = [&](const char *what) {
        std::vector<qint64> times;
        qsizetype size = 0;
        int rows = 0;
        for (int run = 0; run < 20; ++run) {
            request();
            QElapsedTimer timer;
            timer.start();
            const QString built = BuildStatusPage(*m_request, *m_response);
            times.push_back(timer.nsecsElapsed());
            size = built.toLatin1().size();
            rows = int(CurrentStatusTable().rows().size());
        }
        std::sort(times.begin(), times.end());
        const double median = (times[9] + times[10]) / 2.0 / 1e6;
        std::printf("%s: %d rows, median %.2f ms of 20 builds (min %.2f, max %.2f), %lld bytes\n", what, rows, median,
                    times.front() / 1e6, times.back() / 1e6, static_cast<long long>(size));
        EXPECT_GT(rows, 0);
    };
    measure("small controller (only used)");

    tables = PointTableData();
    tables.varsHouseCode = '[';
    for (int i = 0; i < 128; ++i) {
        tables.varUsed[size_t(i)] = 1;
        addDevice(QString(QChar(i < 64 ? '[' : '\\')), QString::number(i < 64 ? i + 1 : i - 63), QStringLiteral("Room"),
                  QStringLiteral("Variable %1").arg(i), QStringLiteral("var%1").arg(i));
    }
    const char *houses = "]^_`abcd";
    const int types[] = {11, 12, 13, 6, 11, 12, 13, 11};
    for (int m = 0; m < 8; ++m) {
        tables.addUnit(m + 1, types[m], QString(QChar(houses[m])));
        for (int p = 0; p < 16; ++p) {
            tables.pointUsed[size_t(m + 1)][size_t(p)] = 1;
            addDevice(QString(QChar(houses[m])), QString::number(p + 1), QStringLiteral("Module"),
                      QStringLiteral("Point %1.%2").arg(m).arg(p));
        }
    }
    for (int x = 0; x < 256; ++x) {
        tables.x10Used[size_t(x)] = 1;
        addDevice(QString(QChar('A' + x / 16)), QString::number(x % 16 + 1), QStringLiteral("House"),
                  QStringLiteral("Lamp %1").arg(x), QStringLiteral("x10_%1").arg(x));
    }
    for (int n = 0; n < 1024; ++n)
        tables.pointNames.insert(QStringLiteral("R%1").arg(n), QStringLiteral("Remote Key-%1").arg(n));
    includes(true, true, true, true, false);
    measure("full controller");
}
