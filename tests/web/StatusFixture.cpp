#include "StatusFixture.h"

#include "web/HTMLIncludes.h"
#include "web/chrome/Headers.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/StatusPage.h"
#include "web/status/StatusTable.h"

#include "controller/PluginState.h"

#include "host/Application.h"
#include "host/DeviceClass.h"
#include "host/HostGlobals.h"
#include "host/IR.h"
#include "host/StateTables.h"

#include "automation/VbDate.h"

double StatusTest::ole(int y, int mo, int d, int h, int mi, int s)
{
    return VbDate::fromDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s)));
}

void StatusTest::SetUp()
{
    ChromeTest::SetUp();
    States().reset();
    gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gFilterDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gIRMacroDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    gIRSlots = std::make_shared<Collection>();
    for (int n = 0; n < 1024; ++n)
        gIRSlots->add(Variant(ObjectPtr(std::make_shared<IR>())));
    gShowReceiveMessages = gShowReceiveDetail = gFiltersShown = false;
    gShowStatus = 0;
    gBackground.clear();
    gStyleSheet.clear();
    CurrentStatusTable().clear();
    registerStatusPage();

    tables = PointTableData();
    tables.varsHouseCode = 'V';
    tables.varUsed[0] = tables.varUsed[1] = 1;
    tables.addUnit(3, 11, QStringLiteral("Y"));
    tables.pointUsed[3][0] = tables.pointUsed[3][8] = 1;
    tables.x10Used[0] = tables.x10Used[1] = tables.x10Used[31] = 1;
    tables.pointNames.insert(QStringLiteral("R0"), QStringLiteral("Living TV-Power"));
    tables.pointNames.insert(QStringLiteral("R5"), QStringLiteral("Amp"));
    tables.pointNames.insert(QStringLiteral("V4"), QStringLiteral("Garage Door Count"));
    tables.pointNames.insert(QStringLiteral("C3"), QStringLiteral("Porch"));
    tables.pointNames.insert(QStringLiteral("X3:84"), QStringLiteral("Shed Sensor"));
    SetPointTables(&tables);

    addDevice(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("Hall"), QStringLiteral("Counter"),
              QStringLiteral("hall_count"), true);
    addDevice(QStringLiteral("V"), QStringLiteral("2"), QString(), QStringLiteral("Mode"));
    addDevice(QStringLiteral("Y"), QStringLiteral("1"), QStringLiteral("Front"), QStringLiteral("Door"));
    addDevice(QStringLiteral("Y"), QStringLiteral("9"), QStringLiteral("Porch"), QStringLiteral("Light"),
              QStringLiteral("porch"));
    addDevice(QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("Hall"), QStringLiteral("Lamp"),
              QStringLiteral("hall_lamp"), true);
    addDevice(QStringLiteral("A"), QStringLiteral("2"), QStringLiteral("Den"), QStringLiteral("Dimmer"));
    addDevice(QStringLiteral("B"), QStringLiteral("16"), QStringLiteral("Yard"), QStringLiteral("Pump"));

    StateTables &s = States();
    s.value(s.slot(QStringLiteral("V1"))) = 42;
    s.value(s.slot(QStringLiteral("V2"))) = -7;
    s.value(s.slot(QStringLiteral("Y9"))) = 1;
    s.status(s.slot(QStringLiteral("A1"))) = 2;
    s.status(s.slot(QStringLiteral("A2"))) = 4;
    s.status(s.slot(QStringLiteral("B16"))) = 3;
    s.lastChange(s.slot(QStringLiteral("V1"))) = ole(2026, 12, 5, 0, 0, 0);
    s.lastChange(s.slot(QStringLiteral("V2"))) = VbDate::dateSerial(2000, 1, 1);
    s.lastChange(s.slot(QStringLiteral("A1"))) = ole(2026, 12, 5, 15, 0, 0);
    s.lastChange(s.slot(QStringLiteral("A2"))) = ole(2026, 12, 4, 23, 59, 59);
    s.lastChange(s.slot(QStringLiteral("B16"))) = ole(2026, 12, 3, 9, 30, 0);
    s.lastChange(s.slot(QStringLiteral("Y9"))) = ole(2026, 12, 6, 8, 0, 0); // a clock ahead: still "Today"

    auto slot0 = std::dynamic_pointer_cast<IR>(gIRSlots->item(Variant::fromLong(1)).toObject());
    slot0->storeField(IR::F_ScriptTag, Variant(QStringLiteral("tv_power")));
    slot0->storeField(IR::F_TriggerEvent, Variant(true));
    slot0->storeField(IR::F_LastChange, Variant::fromDate(ole(2026, 12, 5, 12, 0, 1)));
    gIRMacroDictionary->add(Variant(QStringLiteral("Movie")), Variant(QStringLiteral("R0,R5")));

    includes(true, true, true, true, true);
    // The chrome writes its missing settings back on its first page: let that
    // happen now, so that every page of a test has the same head.
    request();
    CustomHeader(HeaderParameters{QStringLiteral("x"), QString(), QString(), QStringLiteral("x"), QString()});
}

void StatusTest::TearDown()
{
    SetPointTables(nullptr);
    StatusPagePartsInstance() = StatusPageParts();
    gPlugin.IncludeVariables = gPlugin.IncludeX10 = gPlugin.IncludeIO = gPlugin.IncludeIR = false;
    gPlugin.IncludeSetup = gPlugin.ShowOnlyUsed = false;
    gIRSlots.reset();
    gDeviceDictionary.reset();
    gFilterDictionary.reset();
    gIRMacroDictionary.reset();
    CurrentStatusTable().clear();
    ReleaseHostCollections();
    ChromeTest::TearDown();
}

DeviceClassPtr StatusTest::addDevice(const QString &hc, const QString &dc, const QString &location,
                                     const QString &name, const QString &tag, bool event)
{
    QString n = name;
    DeviceClassPtr d = hs->NewDeviceEx(n);
    d->set(DeviceClass::F_hc, Variant(hc));
    d->set(DeviceClass::F_DC, Variant(dc));
    d->set(DeviceClass::F_location, Variant(location));
    d->set(DeviceClass::F_interface, Variant(QStringLiteral("Veltro Quillon")));
    d->set(DeviceClass::F_ScriptTag, Variant(tag));
    d->set(DeviceClass::F_TriggerEvent, Variant(event));
    return d;
}

void StatusTest::plugin(const QString &key, const QString &value)
{
    set(QStringLiteral("xaptvkKorvane.ini"), QStringLiteral("tspi_quillon"), key, value);
}

void StatusTest::includes(bool variables, bool x10, bool io, bool ir, bool onlyUsed, bool setup)
{
    auto flag = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
    plugin(QStringLiteral("IncludeVariables"), flag(variables));
    plugin(QStringLiteral("IncludeX10"), flag(x10));
    plugin(QStringLiteral("IncludeIO"), flag(io));
    plugin(QStringLiteral("IncludeIR"), flag(ir));
    gPlugin.IncludeVariables = variables;
    gPlugin.IncludeX10 = x10;
    gPlugin.IncludeIO = io;
    gPlugin.IncludeIR = ir;
    gPlugin.ShowOnlyUsed = onlyUsed;
    gPlugin.IncludeSetup = setup;
}

QString StatusTest::page(const QByteArray &headers)
{
    request(headers);
    return BuildStatusPage(*m_request, *m_response);
}

QString StatusTest::td(const QString &text, const QString &cls, const QString &span, const QString &align) const
{
    const QString tail = QStringLiteral("colspan=\"") + span + QStringLiteral("\" align=\"") + align
        + QStringLiteral("\" >");
    if (touch) {
        struct Look
        {
            const char *cls, *font, *background;
            bool bold;
        };
        const Look looks[] = {{"TABLEHEADER", "#FFFFFF", "#63639C", true},
                              {"TABLEROWODD", "#000000", "#C0C0C0", false},
                              {"TABLEROWEVEN", "#000000", "#949494", false}};
        for (const Look &l : looks) {
            if (cls == QLatin1String(l.cls))
                return QStringLiteral("<td bgcolor=\"") + QLatin1String(l.background) + QStringLiteral("\" ") + tail
                    + QStringLiteral("<font face=\"Verdana, Arial, sans-serif\" size=\"2\" color=\"")
                    + QLatin1String(l.font) + QStringLiteral("\">")
                    + (l.bold ? QStringLiteral("<b>") + text + QStringLiteral("</b>") : text)
                    + QStringLiteral("</font></td>");
        }
        return QStringLiteral("<td ") + tail + text + QStringLiteral("</td>");
    }
    return QStringLiteral("<td ") + QStringLiteral("class=\"") + cls + QStringLiteral("\" ") + tail + text
        + QStringLiteral("</td>");
}

namespace {

QString button(const QString &code, const QString &value)
{
    return QStringLiteral("<input type ='button' onClick='ClearSubmit(this)' name='") + code + value;
}

QString threeButtons(const QString &code)
{
    return button(code, QStringLiteral("' value ='OFF'>")) + button(code, QStringLiteral("' value='DIM'>"))
        + button(code, QStringLiteral("' value='ON'>")) + QStringLiteral("<input type ='text' name='") + code
        + QStringLiteral("Value' value='' size='5'>");
}

QString checkbox(const QString &name, bool ticked)
{
    return QStringLiteral("<input type='checkbox' ") + (ticked ? QStringLiteral("checked") : QString())
        + QStringLiteral(" name='") + name + QStringLiteral("'>");
}

QString tagInput(const QString &code, const QString &tag)
{
    return QStringLiteral("<input type='text' size='15' name='") + code + QStringLiteral("Tag' value='") + tag
        + QStringLiteral("'>");
}

} // namespace

QString StatusTest::rowHtml(const QString &id, const QString &c) const
{
    const QString misc = QStringLiteral("tablecellmisc");
    // The row's code and what it showed (trigger flag and tag, or a macro's name).
    auto hidden = [](const QString &dc, const QString &code, const QString &shown) {
        return QStringLiteral("<input type='hidden' value='") + dc + QStringLiteral("' name='") + code
            + QStringLiteral("DC'><input type='hidden' value='") + shown + QStringLiteral("' name='") + code
            + QStringLiteral("Shown'>");
    };
    QString out;
    if (id == QLatin1String("A1"))
        out = hidden("A1", "A1", "1hall_lamp") + td(checkbox("A1Used", true), c) + td(checkbox("A1Event", true), c)
            + td(tagInput("A1", "hall_lamp"), misc) + td("ON", c) + td("A1", c) + td("Hall Lamp", c)
            + td("Today 3:00:00 PM", c) + td(threeButtons("A1"), c);
    else if (id == QLatin1String("A2"))
        out = hidden("A2", "A2", "0") + td(checkbox("A2Used", true), c) + td(checkbox("A2Event", false), c)
            + td(tagInput("A2", ""), misc) + td("DIM", c) + td("A2", c) + td("Den Dimmer", c)
            + td("Yesterday 11:59:59 PM", c) + td(threeButtons("A2"), c);
    else if (id == QLatin1String("B16"))
        out = hidden("B16", "B16", "0") + td(checkbox("B16Used", true), c) + td(checkbox("B16Event", false), c)
            + td(tagInput("B16", ""), misc) + td("OFF", c) + td("B16", c) + td("Yard Pump", c)
            + td("12/3/2026 9:30:00 AM", c) + td(threeButtons("B16"), c);
    else if (id == QLatin1String("IR0"))
        out = hidden("R0", "IR0", "1tv_power") + td("&nbsp;", c) + td(checkbox("IR0Event", true), c)
            + td(tagInput("IR0", "tv_power"), misc) + td("&nbsp;", c) + td("IR0", c) + td(" Living TV-Power", c)
            + td("Today 12:00:01 PM", c) + td(button("IR0", "' value='SEND'>"), c);
    else if (id == QLatin1String("IR5"))
        out = hidden("R5", "IR5", "0") + td("&nbsp;", c) + td(checkbox("IR5Event", false), c) + td(tagInput("IR5", ""), misc)
            + td("&nbsp;", c) + td("IR5", c) + td(" Amp", c) + td("&nbsp;", c) + td(button("IR5", "' value='SEND'>"), c);
    else if (id == QLatin1String("MAC0"))
        out = hidden("0", "MAC0", "") + td("&nbsp;", c) + td(checkbox("MAC0Event", false), c) + td(tagInput("MAC0", ""), misc)
            + td("&nbsp;", c) + td("MAC0", c) + td("<input type='text' size='15' name='MAC0' value=''>", c)
            + td("<input type='text' size='15' name='N0' value='Undefined'>", c)
            + td("<input type='submit' name ='UpdateButton' value='Save'>", c);
    else if (id == QLatin1String("MAC1"))
        out = hidden("R0,R5", "MAC1", "Movie") + td("&nbsp;", c) + td(checkbox("MAC1Event", false), c) + td(tagInput("MAC1", ""), misc)
            + td("&nbsp;", c) + td("MAC1", c) + td("<input type='text' size='15' name='MAC1' value='Movie'>", c)
            + td("<input type='text' size='15' name='N1' value='R0,R5'>", c) + td(button("MAC1", "' value='SEND'>"), c);
    else if (id == QLatin1String("V0:01"))
        out = hidden("V1", "V0:01", "1hall_count") + td(checkbox("V0:01Used", true), c) + td(checkbox("V0:01Event", true), c)
            + td(tagInput("V0:01", "hall_count"), misc) + td("42", c) + td("V0:01", c) + td("Hall Counter", c)
            + td("Today 12:00:00 AM", c) + td(threeButtons("V0:01"), c);
    else if (id == QLatin1String("V1:02"))
        out = hidden("V2", "V1:02", "0") + td(checkbox("V1:02Used", true), c) + td(checkbox("V1:02Event", false), c)
            + td(tagInput("V1:02", ""), misc) + td("-7", c) + td("V1:02", c) + td(" Mode", c) + td("&nbsp;", c)
            + td(threeButtons("V1:02"), c);
    else if (id == QLatin1String("X0:81"))
        out = hidden("Y1", "X0:81", "0") + td(checkbox("X0:81Used", true), c) + td(checkbox("X0:81Event", false), c)
            + td(tagInput("X0:81", ""), misc) + td("0", c) + td("X0:81", c) + td("Front Door", c) + td("&nbsp;", c)
            + td("", c);
    else if (id == QLatin1String("X8:89"))
        out = hidden("Y9", "X8:89", "0porch") + td(checkbox("X8:89Used", true), c) + td(checkbox("X8:89Event", false), c)
            + td(tagInput("X8:89", "porch"), misc) + td("1", c) + td("X8:89", c) + td("Porch Light", c)
            + td("Today 8:00:00 AM", c) + td(button("X8:89", "' value ='OFF'>") + button("X8:89", "' value='ON'>"), c);
    else
        ADD_FAILURE() << "no expected row " << id.toStdString();
    return out + QStringLiteral("</tr><tr>");
}

QString StatusTest::defaultOptions() const
{
    const QString e = QStringLiteral("TABLEROWEVEN");
    // Each option carries the value it shows.
    auto shownField = [](const char *name, const QString &value) {
        return QStringLiteral("<input type='hidden' name='") + QLatin1String(name) + QStringLiteral("Shown' value='")
            + value + QStringLiteral("'>");
    };
    auto box = [&](const char *name, bool on, const char *caption) {
        return td(QStringLiteral("<input type='checkbox' name ='") + QLatin1String(name) + QStringLiteral("' value='1'")
                      + (on ? QStringLiteral(" checked ") : QStringLiteral(" ")) + QStringLiteral(">&nbsp;")
                      + QLatin1String(caption) + shownField(name, on ? "1" : "0"),
                  e);
    };
    return QStringLiteral("<table border='5' frame='box' width= '600'><tr>")
        + box("IncludeVariables", gPlugin.IncludeVariables, "Include Variables")
        + box("IncludeX10", gPlugin.IncludeX10, "Include X10") + box("IncludeIO", gPlugin.IncludeIO, "Include IO")
        + QStringLiteral("<tr><tr>") + box("IncludeIR", gPlugin.IncludeIR, "Include IR")
        + box("IncludeSetup", gPlugin.IncludeSetup, "Include Setup")
        + box("ShowOnlyUsed", gPlugin.ShowOnlyUsed, "Show Only Used") + QStringLiteral("<tr><tr>")
        + td(QStringLiteral("<input type='checkbox' name ='ShowReceiveMessages' value='1'")
                 + (gShowReceiveMessages ? QStringLiteral(" checked ") : QStringLiteral(" "))
                 + QStringLiteral(">&nbsp;Receive xAP Messages")
                 + shownField("ShowReceiveMessages", gShowReceiveMessages ? "1" : "0"),
             e)
        + td(QStringLiteral("<input type='checkbox' name ='ShowReceiveDetail' value='1'")
                 + (gShowReceiveDetail ? QStringLiteral(" checked ") : QStringLiteral(" "))
                 + QStringLiteral(">&nbsp;Receive xAP Detail")
                 + shownField("ShowReceiveDetail", gShowReceiveDetail ? "1" : "0"),
             e)
        + td(QStringLiteral("<input type='radio' name ='ShowStatus' value='0'") + (gShowStatus == 0 ? " checked" : "")
                 + QStringLiteral(">&nbsp;Dont Show Status<br><input type='radio' name ='ShowStatus' value='1'")
                 + (gShowStatus == 1 ? " checked" : "")
                 + QStringLiteral(">&nbsp;Show Status<br><input type='radio' name ='ShowStatus' value='2'")
                 + (gShowStatus != 0 && gShowStatus != 1 ? " checked" : "")
                 + QStringLiteral(">&nbsp;Show Status and Config")
                 + shownField("ShowStatus", QString::number(gShowStatus == 0 || gShowStatus == 1 ? gShowStatus : 2)),
             e, QStringLiteral("3"))
        + QStringLiteral("</tr></table>");
}

QString StatusTest::expectedPage(const QStringList &ids, const QString &filterTable, const QString &options)
{
    const HeaderParameters head{
        QStringLiteral("Korvane Status&nbsp;&nbsp;<small><font size='1'></b> V1.0.0</font></small>"), QString(),
        QString(), QStringLiteral("x"), QString()};
    QString out = QStringLiteral(
        "<html><head><meta charset='windows-1252'><SCRIPT LANGUAGE=\"JavaScript\">function ClearSubmit(button) {"
        "  document.control.clientvalue.value = button.value;"
        "  document.control.clientinput.value = button.name;"
        "  document.control.submit();}</script>");
    out += CustomHeader(head) + QStringLiteral("\r\n");
    out += QStringLiteral("<div><center><small><table border='5' width= '600'><tr><form name='control' method='post' accept-charset='UTF-8'>"
                          "<input type='hidden' name='clientinput' value='yes'>"
                          "<input type='hidden' name='clientvalue' value='yes'>"
                          "<center><input type='submit' name ='UpdateButton' value='Save Changes'></center><br>");
    out += options.isNull() ? defaultOptions() : options;
    out += QStringLiteral("<br><table  border='5' frame='box'><tr>");
    out += td(QStringLiteral("Korvane X10, IR, Variables and IO Points"), QStringLiteral("TABLEHEADER"),
              QStringLiteral("8"), QStringLiteral("Center"));
    out += QStringLiteral("<tr><tr>");
    for (const char *h : {"Used", "Ev", "Tag", "Status", "ID", "Name", "Changed", "Refresh"})
        out += td(QStringLiteral("<input type='submit' name='%1' value='%1'>").arg(QLatin1String(h)),
                  QStringLiteral("TABLEHEADER"), QStringLiteral("1"), QStringLiteral("Center"));
    out += QStringLiteral("</tr><tr>");
    bool even = true;
    for (const QString &id : ids) {
        out += rowHtml(id, even ? QStringLiteral("TABLEROWEVEN") : QStringLiteral("TABLEROWODD"));
        even = !even;
    }
    out += filterTable;
    out += QStringLiteral("<IFRAME frameborder=0 scrolling='no' name='hiddenframe' cols='0' rows='0' width='0' "
                          "height='0' size='0'></IFRAME></form></table>"
                          "<Table width='600' border='5' frame='box'><tr>");
    out += td(QStringLiteral("Refresh"), QStringLiteral("TABLEHEADER"), QStringLiteral("2"), QStringLiteral("Center"));
    out += QStringLiteral("</tr><tr>");
    out += td(QStringLiteral("<form name='no redraw' method='post' accept-charset='UTF-8' target='hiddenframe'><input type='submit' "
                             "name='script' value='Read Script xaptvkKorvane.txt'><input type='hidden' "
                             "name='clientinput' value='yes'></form>"),
              QStringLiteral("TABLEROWODD"), QStringLiteral("1"), QStringLiteral("Center"));
    out += td(QStringLiteral("<form name='redraw' method='post' accept-charset='UTF-8'><input type='submit' name='query' value='Query BSC'>"
                             "<input type='hidden' name='clientinput' value='yes'></form>"),
              QStringLiteral("TABLEROWODD"), QStringLiteral("1"), QStringLiteral("Center"));
    out += QStringLiteral("</tr></table></table></small></center></div></body></html>");
    return out;
}
