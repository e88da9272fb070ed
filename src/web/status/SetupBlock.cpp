#include "web/status/SetupBlock.h"

#include "web/HTMLIncludes.h"
#include "web/HtmlText.h"

#include "controller/PluginSettings.h"
#include "controller/PluginState.h"
#include "core/FastString.h"
#include "core/Logging.h"
#include "host/Application.h"
#include "host/HostGlobals.h"

#include "automation/PendingError.h"

#include <QRegularExpression>


namespace {

const QString kHostFile = QStringLiteral("tvkXapKorvane.ini");
const QString kSection = QStringLiteral("tspi_quillon");

QString hostSetting(const QString &key, const QString &def)
{
    if (!hs)
        return def;
    return hs->getIniSetting(kSection, key, def, kHostFile);
}

QString pluginSetting(const QString &key, const QString &def)
{
    return PluginSettings::GetPluginSetting(PluginSettings::kFile, kSection, key, def);
}

// Stored values go into single-quoted attributes: escaped, a browser posts
// them back as they were stored.
QString attr(const QString &value)
{
    return HtmlText::escape(value);
}

QString unquoted(QString value)
{
    return value.remove(QLatin1Char('"'));
}

} // namespace

QString StoredText(const QString &stored)
{
    if (stored.size() >= 2 && stored.startsWith(QLatin1Char('"')) && stored.endsWith(QLatin1Char('"')))
        return stored.mid(1, stored.size() - 2);
    return stored;
}

namespace {

QString checkedText(bool b)
{
    return b ? QStringLiteral(" checked ") : QStringLiteral(" ");
}

QString mark(const QString &key)
{
    return pluginSetting(key, QStringLiteral("0")) == QLatin1String("1") ? QStringLiteral(" checked") : QString();
}

void cell(FastString &page, const QString &text, const char *cls, const char *span, const char *align)
{
    page.Add(HTMLFormatCell(text, QString::fromLatin1(cls), QString::fromLatin1(span), QString::fromLatin1(align)));
}

// A setting's cell: its field, and beside it a hidden field with the value
// shown, so that a Save takes only what its user changed on this page.
void settingCell(FastString &page, const QString &content, const char *cls, const char *span, const char *align)
{
    static const QRegularExpression kName(QStringLiteral("name\\s*='([^']*)'"));
    static const QRegularExpression kValue(QStringLiteral("value='([^']*)'"));
    const QString name = kName.match(content).captured(1);
    QString shown;
    if (content.contains(QLatin1String("type='checkbox'")))
        shown = content.contains(QLatin1String(" checked")) ? QStringLiteral("1") : QStringLiteral("0");
    else
        shown = kValue.match(content).captured(1); // escaped already
    cell(page,
         content + QStringLiteral("<input type='hidden' name='") + name + QStringLiteral("Shown' value='") + shown
             + QStringLiteral("'>"),
         cls, span, align);
}

void header(FastString &page, const char *title)
{
    cell(page, QString::fromLatin1(title), "TABLEHEADER", "3", "Center");
    page.Add("</tr><tr>");
}

void unitRows(FastString &page)
{
    int pos = 0;
    for (int index = 0; index <= 127; ++index) {
        const int n = index + 1;
        const int type = gPlugin.UnitTypes[size_t(index)];
        const QString number = QString::number(n);
        switch (type) {
        case 6:
            cell(page, number + QStringLiteral("&nbsp;SIO16IR"), "TABLEROWODD", "2", "Left");
            cell(page, QStringLiteral("&nbsp;"), "TABLEROWODD", "1", "Center");
            page.Add("</tr><tr>");
            break;
        case 11:
        case 12:
            cell(page, number + (type == 11 ? QStringLiteral("&nbsp;SIO16") : QStringLiteral("&nbsp;SIO16I")),
                 "TABLEROWODD", "2", "Left");
            // The box's shown state goes with it: a Save takes only a box its user changed.
            cell(page,
                 QStringLiteral("<input type='checkbox' ") + GetInvertChecked(n) + QStringLiteral(" name='Y")
                     + QString::number(pos) + QStringLiteral("'><input type='hidden' name='Y") + QString::number(pos)
                     + QStringLiteral("Shown' value='") + (GetInvertChecked(n).isEmpty() ? QLatin1Char('0') : QLatin1Char('1'))
                     + QStringLiteral("'>"),
                 "TABLEROWODD", "1", "Center");
            page.Add("</tr><tr>");
            ++pos;
            break;
        case 13:
            cell(page, number + QStringLiteral("&nbsp;RLY-8"), "TABLEROWODD", "2", "Left");
            cell(page, QStringLiteral("&nbsp;"), "TABLEROWODD", "1", "Center");
            page.Add("</tr><tr>");
            ++pos;
            break;
        default:
            break;
        }
    }
}

void writeBlock(FastString &page)
{
    page.Add("<Table width='600' border='5' frame='box'><tr>");
    header(page, "Setup Options");
    header(page, "Actions");
    cell(page, QStringLiteral("<input type='submit'  value='Sync to System Map' name='Sync'>"), "TABLEROWODD", "1",
         "Center");
    cell(page, QStringLiteral("<input type='submit'  value='Create Kestrel' name='Kestrel'>"), "TABLEROWODD", "1",
         "Center");
    cell(page, QStringLiteral("<input type='submit'  value='Set Clock' name='Clock'>"), "TABLEROWODD", "1", "Center");
    page.Add("</tr><tr>");
    page.Add("&nbsp;");
    page.Add("</tr><tr>");
    page.Add("&nbsp;");
    page.Add("</tr><tr>");

    cell(page, QStringLiteral("Unit"), "TABLEHEADER", "2", "Center");
    cell(page, QStringLiteral("Invert Inputs"), "TABLEHEADER", "1", "Center");
    page.Add("</tr><tr>");
    cell(page, QStringLiteral("0&nbsp;Quillon/CPU-QX/Kestrel"), "TABLEROWODD", "2", "Left");
    cell(page, QStringLiteral("&nbsp;"), "TABLEROWODD", "1", "Center");
    page.Add("</tr><tr>");
    unitRows(page);

    header(page, "Connectivity");
    settingCell(page,
         QStringLiteral("Serial Comm IP Address<br><input type='text' size='16' value='")
             + attr(StoredText(hostSetting(QStringLiteral("SerialIP"), QString()))) + QStringLiteral("' name='SerialIP'>"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("Serial Comm Port<br><input type='text' size='3' value='")
             + attr(unquoted(hostSetting(QStringLiteral("CommPort"), QStringLiteral("1"))))
             + QStringLiteral("' name='CommPort'>"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("Variables Poll Interval<br><input type='text' size='4' value='")
             + attr(pluginSetting(QStringLiteral("poll_interval"), QStringLiteral("2000")))
             + QStringLiteral("' name='poll_interval'>"),
         "TABLEROWODD", "1", "Center");
    page.Add("</tr><tr>");

    header(page, "Script Control / Debug");
    // A missing key runs the script every minute, as "0" does; a period that
    // never runs it (the stored "never" of an emptied field, or a hand-written
    // negative or non-number) shows as the empty field that stores it.
    const QString period = pluginSetting(QStringLiteral("PeriodicScriptInterval"), QStringLiteral("0"));
    settingCell(page,
         QStringLiteral("Periodic Script Interval&nbsp;<input type='text' name='periodicscriptinterval' value='")
             + attr(PluginSettings::periodRunsScript(period) ? period : QString())
             + QStringLiteral("' size='6'>&nbsp;seconds"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("<input type='checkbox' name ='DebugLog' value='1'") + checkedText(gPlugin.DebugLogFlag)
             + QStringLiteral(">&nbsp;Debug"),
         "TABLEROWODD", "1", "Left");
    cell(page, QStringLiteral("&nbsp;"), "TABLEROWODD", "1", "Left");
    page.Add("</tr><tr>");

    header(page, "HTTP / Browser");
    settingCell(page,
         QStringLiteral("HTTP Server Port<br><input type='text' size='4' value='")
             + attr(unquoted(hostSetting(QStringLiteral("HTTPPort"), QStringLiteral("8010"))))
             + QStringLiteral("' name='ServerPort'>"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("Browser Background<br><input type='text' size='8' value='")
             + attr(StoredText(hostSetting(QStringLiteral("Background"), QStringLiteral("#000000"))))
             + QStringLiteral("' name='Background'>"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("Style Sheet<br><input type='text' size='18' value='")
             + attr(StoredText(hostSetting(QStringLiteral("StyleSheet"), QStringLiteral("StyleNoBody.css"))))
             + QStringLiteral("' name='StyleSheet'>"),
         "TABLEROWODD", "1", "Center");
    page.Add("</tr><tr>");

    header(page, "Logging / IR Recognition");
    settingCell(page,
         QStringLiteral("Log Checksum and Timeout Errors<br><input type='checkbox' name ='log_errors'")
             + mark(QStringLiteral("log_errors")) + QStringLiteral(">"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("Log Comm Errors<br><input type='checkbox' name ='log_comms'") + mark(QStringLiteral("log_comms"))
             + QStringLiteral(">"),
         "TABLEROWODD", "1", "Center");
    settingCell(page,
         QStringLiteral("Do Not Forward IR Recognition<br><input type='checkbox' name ='Recognition'")
             + mark(QStringLiteral("Recognition")) + QStringLiteral(">"),
         "TABLEROWODD", "1", "Center");
    page.Add("</tr><tr>");

    header(page, "QPRO-Related Files");
    settingCell(page,
         QStringLiteral("Project File&nbsp;<input type='text' size='70' value='")
             + attr(pluginSetting(QStringLiteral("ProjectFile"), QString())) + QStringLiteral("' name='ProjectFile'>"),
         "TABLEROWODD", "3", "Right");
    page.Add("</tr><tr>");
    settingCell(page,
         QStringLiteral("QPRO Executable&nbsp;<input type='text' size='70' value='")
             + attr(pluginSetting(QStringLiteral("QPROFile"), QString())) + QStringLiteral("' name='QPROFile'>"),
         "TABLEROWODD", "3", "Right");
    page.Add("</tr><tr>");
    settingCell(page,
         QStringLiteral("IRPro Executable&nbsp;<input type='text' size='70' value='")
             + attr(pluginSetting(QStringLiteral("IRPROFile"), QString())) + QStringLiteral("' name='IRPROFile'>"),
         "TABLEROWODD", "3", "Right");
    page.Add("</tr></table>");
}

} // namespace

QString GetInvertChecked(int unit)
{
    for (const umap &m : gPlugin.UnitMaps) {
        if (m.unit == unit && m.invert != 0)
            return QStringLiteral("checked");
    }
    return QString();
}

void AddSetup(FastString &page)
{
    try {
        writeBlock(page);
    } catch (...) {
        // The error's line and text follow the label as the pending error.
        PendingError::capture();
        LogError(QStringLiteral("xaptvkKorvane"), QStringLiteral("AddSetup"));
    }
}
