#include "web/status/StatusScreen.h"

#include "web/HTMLIncludes.h"
#include "web/HtmlText.h"
#include "web/status/PostedForm.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/StatusPage.h"
#include "web/status/StatusTable.h"

#include "bridge/BscNaming.h"
#include "bridge/PointTables.h"

#include "controller/PluginState.h"

#include "host/Application.h"
#include "host/DeviceClass.h"
#include "host/HostGlobals.h"
#include "host/IR.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/Latin1Case.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbError.h"

#include <QCoreApplication>
#include <QHash>

namespace {

const QString kEven = QStringLiteral("TABLEROWEVEN");
const QString kOdd = QStringLiteral("TABLEROWODD");
const QString kOne = QStringLiteral("1");
const QString kLeft = QStringLiteral("Left");
// Macro rows are named so that no X10 unit's row (house letter and unit) can share their fields.
const QString kMacroPrefix = QStringLiteral("MAC");

double neverChanged()
{
    return VbDate::dateSerial(2000, 1, 1);
}

Application &host()
{
    if (!hs)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return *hs;
}

FastString &page()
{
    FastString *buffer = PageBuffer();
    if (!buffer)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return *buffer;
}

QString programVersion()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QStringLiteral("1.0.0") : v;
}

bool included(const QString &key)
{
    return host().getIniSetting(QStringLiteral("tspi_quillon"), key, QStringLiteral("0"),
                                QStringLiteral("xaptvkKorvane.ini"))
        != QLatin1String("0");
}

// Last three (or four) characters of the zero-padded number.
QString padded(int n, int width)
{
    return (QString(width - 1, QLatin1Char('0')) + QString::number(n)).right(width);
}

// Location and name from a label: split at its first blank.
void splitLabel(const QString &label, StatusRow &row)
{
    const qsizetype blank = label.indexOf(QLatin1Char(' '));
    if (blank < 0) {
        row.Location.clear();
        row.Name = label;
    } else {
        row.Location = label.left(blank);
        row.Name = label.mid(blank + 1);
    }
}

// The host's devices by code (without regard to case), the first of a code
// winning as the host's own look-up does: built once for a page, instead of
// a walk over every device for each of its rows.
QHash<QString, DeviceClassPtr> &deviceIndex()
{
    static QHash<QString, DeviceClassPtr> index;
    return index;
}

void indexDevices()
{
    QHash<QString, DeviceClassPtr> &index = deviceIndex();
    index.clear();
    const int count = host().DeviceCount();
    for (int i = 1; i <= count; ++i) {
        if (const DeviceClassPtr device = host().deviceAt(i)) {
            const QString key = Latin1Case::lower(device->code());
            if (!index.contains(key))
                index.insert(key, device);
        }
    }
}

// The host device of a code, or null.
DeviceClassPtr existing(const QString &code)
{
    return deviceIndex().value(Latin1Case::lower(code));
}

void fromDevice(const DeviceClass &device, const QString &code, StatusRow &row)
{
    row.DC = code;
    row.Location = device.location();
    row.Name = device.name();
    row.Tag = device.scriptTag();
    row.Event = device.triggerEvent();
    row.Changed = host().deviceLastChange(code);
}

void gatherVariables(StatusTable &table, const PointTables &points, bool onlyUsed)
{
    for (int i = 0; i < 128; ++i) {
        if (!points.VarUsed(i) && onlyUsed)
            continue;
        StatusRow row;
        const QString code = i <= 63 ? QString(QChar(points.VarsHouseCode())) + QString::number(i + 1)
                                     : QString(QChar(points.VarsHouseCode() + 1)) + QString::number(i - 63);
        if (const DeviceClassPtr device = existing(code)) {
            fromDevice(*device, code, row);
            row.Buttons = 3;
            row.Used = true;
        } else {
            splitLabel(points.PointName(QStringLiteral("V") + QString::number(i)), row);
            row.Changed = neverChanged();
        }
        row.DCDisplay = QStringLiteral("V") + QString::number(i) + QLatin1Char(':') + BscNaming::ToHex(i + 1);
        row.DCSort = QStringLiteral("V") + padded(i, 3);
        table.addRow(row);
    }
}

void gatherX10(StatusTable &table, const PointTables &points, bool onlyUsed)
{
    for (int h = 0; h < 16; ++h) {
        const QString letter = QString(QChar('A' + h));
        for (int unit = 1; unit <= 16; ++unit) {
            if (!points.X10Used(h * 16 + unit - 1) && onlyUsed)
                continue;
            StatusRow row;
            const QString code = letter + QString::number(unit);
            if (const DeviceClassPtr device = existing(code)) {
                fromDevice(*device, code, row);
                row.Buttons = 3;
                row.Used = true;
            } else {
                splitLabel(points.PointName(code), row);
                row.Changed = host().deviceLastChange(code);
            }
            row.DCDisplay = code;
            row.DCSort = letter + padded(unit, 3);
            table.addRow(row);
        }
    }
}

int ioButtons(int utype, int point)
{
    switch (utype) {
    case 6: return 1;
    case 11: return point < 8 ? 0 : 2;
    case 13: return 2;
    default: return 0;
    }
}

void gatherIO(StatusTable &table, const PointTables &points, bool onlyUsed)
{
    int k = 0;
    for (const umap &module : points.ListedModules()) {
        for (int p = 0; p < 16; ++p) {
            if (!points.PointUsed(module.unit, p) && onlyUsed)
                continue;
            StatusRow row;
            // A unit without devices has no house code yet: its points have no device code.
            const QString code = module.hc.isEmpty() ? QString() : module.hc + QString::number(p + 1);
            const int n = k * 16 + p;
            const QString display = QStringLiteral("X") + QString::number(n) + QLatin1Char(':') + BscNaming::ToHex(n + 129);
            if (const DeviceClassPtr device = code.isEmpty() ? nullptr : existing(code)) {
                fromDevice(*device, code, row);
                row.Buttons = ioButtons(module.utype, p);
                row.Used = true;
            } else {
                splitLabel(points.PointName(display), row);
                row.Changed = neverChanged();
            }
            row.DCDisplay = display;
            row.DCSort = QStringLiteral("X") + (QStringLiteral("00") + display.mid(1)).right(3);
            table.addRow(row);
        }
        ++k;
    }
}

void gatherIR(StatusTable &table, const PointTables &points)
{
    const std::vector<Variant> noSlots;
    const std::vector<Variant> &irSlots = gIRSlots ? gIRSlots->items() : noSlots;
    for (int n = 0; n < 1024; ++n) {
        StatusRow row;
        const QString code = QStringLiteral("R") + QString::number(n);
        const QString label = points.PointName(code);
        row.Buttons = 1;
        row.DC = code;
        if (size_t(n) < irSlots.size()) {
            if (const auto slot = std::dynamic_pointer_cast<IR>(irSlots[size_t(n)].toObject())) {
                row.Tag = slot->scriptTag();
                row.Event = slot->triggerEvent();
                row.Changed = slot->lastChange();
            }
        }
        row.Name = label;
        row.Used = !label.isEmpty();
        row.DCDisplay = QStringLiteral("I") + code;
        row.DCSort = QStringLiteral("R") + padded(n, 4);
        table.addRow(row);
    }
    if (gIRMacroDictionary && gIRMacroDictionary->count() > 0) {
        const std::vector<Variant> keys = gIRMacroDictionary->keyList();
        const std::vector<Variant> items = gIRMacroDictionary->itemList();
        for (size_t i = 0; i < keys.size(); ++i) {
            const QString key = keys[i].toString();
            if (key.isEmpty())
                continue;
            StatusRow row;
            row.Used = true;
            row.DCDisplay = kMacroPrefix + QString::number(i + 1);
            row.DCSort = QStringLiteral("S") + padded(int(i + 1), 4);
            row.Buttons = 1;
            row.DC = items[i].toString();
            row.Name = key;
            row.Changed = neverChanged();
            row.Value = row.DC;
            table.addRow(row);
        }
    }
    StatusRow row;
    row.Used = true;
    row.DCDisplay = kMacroPrefix + QStringLiteral("0");
    row.DCSort = QStringLiteral("S0000");
    row.Buttons = 1;
    row.DC = QStringLiteral("0");
    row.Changed = neverChanged();
    row.Value = QStringLiteral("Undefined");
    table.addRow(row);
}

QString statusText(const QString &code, const QString &dc)
{
    if (code.startsWith(QLatin1Char('X')) || code.startsWith(QLatin1Char('V')))
        return QString::number(host().deviceValue(dc));
    // A row without a host device has nothing to ask about: the host could
    // only log that it cannot resolve "" (once per row, for every page).
    if (dc.isEmpty())
        return QStringLiteral("&nbsp;");
    switch (host().deviceStatus(dc)) {
    case 2: return QStringLiteral("ON");
    case 3: return QStringLiteral("OFF");
    case 4: return QStringLiteral("DIM");
    default: return QStringLiteral("&nbsp;");
    }
}

// A note quotes what its user typed: the page is Windows-1252, so a
// character it cannot hold goes as a character reference instead of "?",
// and a control character as its visible symbol.
QString noteHtml(const QString &note)
{
    const QString escaped = HtmlText::escape(note);
    QString out;
    out.reserve(escaped.size());
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped.at(i);
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < escaped.size() && escaped.at(i + 1).isLowSurrogate())
            code = QChar::surrogateToUcs4(c, escaped.at(++i));
        else if (code < 0x20 || code == 0x7f)
            code = code == 0x7f ? 0x2421 : 0x2400 + code;
        else if (AnsiCodePage::toUnicode(AnsiCodePage::fromUnicode(c)) == c)
            code = 0;
        if (code == 0)
            out += c;
        else
            out += QStringLiteral("&#") + QString::number(quint32(code)) + QLatin1Char(';');
    }
    return out;
}

// What the last Save did not take, so that its user sees it beside the
// fields: every refused field by name, up to far more rows than a page
// holds, so that a hostile post's page stays bounded.
void refusalNote(FastString &out)
{
    constexpr int kShown = 1024;
    const QStringList notes = TakeRefusalNotes();
    if (notes.isEmpty())
        return;
    out.Add("<div class='refused' style='color:#b00000;text-align:left'>");
    for (int i = 0; i < notes.size() && i < kShown; ++i)
        out.Add(noteHtml(notes.at(i)) + QStringLiteral("<br>"));
    if (notes.size() > kShown)
        out.Add(QStringLiteral("and %1 more<br>").arg(notes.size() - kShown));
    out.Add("</div><br>");
}

void writeRows(FastString &out, const StatusTable &table)
{
    FastString buttons;
    QString rowClass = kEven;
    const double never = neverChanged();
    for (const StatusRow *row : table.rows()) {
        const QString code = HtmlText::ucase(row->DCDisplay);
        out.Add(QStringLiteral("<input type='hidden' value='") + HtmlText::escape(row->DC) + QStringLiteral("' name='")
                + code + QStringLiteral("DC'>"));
        // What the row showed: a post then changes only what its user edited,
        // whatever another page saved since.
        const QString shown = row->Value.isEmpty()
            ? (row->Event ? QStringLiteral("1") : QStringLiteral("0")) + row->Tag
            : row->Name;
        out.Add(QStringLiteral("<input type='hidden' value='") + HtmlText::escape(shown) + QStringLiteral("' name='")
                + code + QStringLiteral("Shown'>"));
        if (row->Buttons != 1)
            out.Add(HTMLFormatCell(QStringLiteral("<input type='checkbox' ")
                                       + (row->Used ? QStringLiteral("checked") : QString()) + QStringLiteral(" name='")
                                       + code + QStringLiteral("Used'>"),
                                   rowClass, kOne, kLeft));
        else
            out.Add(HTMLFormatCell(QStringLiteral("&nbsp;"), rowClass, kOne, kLeft));
        out.Add(HTMLFormatCell(QStringLiteral("<input type='checkbox' ")
                                   + (row->Event ? QStringLiteral("checked") : QString()) + QStringLiteral(" name='")
                                   + code + QStringLiteral("Event'>"),
                               rowClass, kOne, kLeft));
        out.Add(HTMLFormatCell(QStringLiteral("<input type='text' size='15' name='") + code
                                   + QStringLiteral("Tag' value='") + HtmlText::escape(row->Tag) + QStringLiteral("'>"),
                               QStringLiteral("tablecellmisc"), kOne, kLeft));
        out.Add(HTMLFormatCell(statusText(code, row->DC), rowClass, kOne, kLeft));
        out.Add(HTMLFormatCell(code, rowClass, kOne, kLeft));
        if (!row->Value.isEmpty()) {
            out.Add(HTMLFormatCell(QStringLiteral("<input type='text' size='15' name='") + code
                                       + QStringLiteral("' value='") + HtmlText::escape(row->Name) + QStringLiteral("'>"),
                                   rowClass, kOne, kLeft));
            out.Add(HTMLFormatCell(QStringLiteral("<input type='text' size='15' name='N") + code.mid(kMacroPrefix.size())
                                       + QStringLiteral("' value='") + HtmlText::escape(row->Value)
                                       + QStringLiteral("'>"),
                                   rowClass, kOne, kLeft));
        } else {
            out.Add(HTMLFormatCell(HtmlText::escape(row->Location + QLatin1Char(' ') + row->Name), rowClass, kOne,
                                   kLeft));
            if (row->Changed == never || row->Changed == 0)
                out.Add(HTMLFormatCell(QStringLiteral("&nbsp;"), rowClass, kOne, kLeft));
            else
                out.Add(HTMLFormatCell(FormatChangeDate(row->Changed), rowClass, kOne, kLeft));
        }
        buttons.Reset();
        const QString opening = QStringLiteral("<input type ='button' onClick='ClearSubmit(this)' name='") + code;
        if (row->Buttons > 1)
            buttons.Add(opening + QStringLiteral("' value ='OFF'>"));
        if (row->Buttons > 2)
            buttons.Add(opening + QStringLiteral("' value='DIM'>"));
        if (row->Buttons > 1)
            buttons.Add(opening + QStringLiteral("' value='ON'>"));
        if (row->Buttons > 2)
            buttons.Add(QStringLiteral("<input type ='text' name='") + code + QStringLiteral("Value' value='' size='5'>"));
        if (row->Buttons == 1) {
            if (code != kMacroPrefix + QLatin1Char('0'))
                buttons.Add(opening + QStringLiteral("' value='SEND'>"));
            else
                buttons.Add("<input type='submit' name ='UpdateButton' value='Save'>");
        }
        out.Add(HTMLFormatCell(buttons.Value(), rowClass, kOne, kLeft));
        out.Add("</tr><tr>");
        rowClass = rowClass == kEven ? kOdd : kEven;
    }
}

void optionsTable(FastString &out)
{
    struct Option
    {
        const char *name;
        bool flag;
        const char *caption;
    };
    const Option options[] = {
        {"IncludeVariables", gPlugin.IncludeVariables, "Include Variables"},
        {"IncludeX10", gPlugin.IncludeX10, "Include X10"},
        {"IncludeIO", gPlugin.IncludeIO, "Include IO"},
        {"IncludeIR", gPlugin.IncludeIR, "Include IR"},
        {"IncludeSetup", gPlugin.IncludeSetup, "Include Setup"},
        {"ShowOnlyUsed", gPlugin.ShowOnlyUsed, "Show Only Used"},
    };
    out.Add("<table border='5' frame='box' width= '600'><tr>");
    int index = 0;
    for (const Option &option : options) {
        if (index++ == 3)
            out.Add("<tr><tr>");
        out.Add(HTMLFormatCell(QStringLiteral("<input type='checkbox' name ='") + QLatin1String(option.name)
                                   + QStringLiteral("' value='1'") + CheckedText(option.flag)
                                   + QStringLiteral(">&nbsp;") + QLatin1String(option.caption)
                                   + QStringLiteral("<input type='hidden' name='") + QLatin1String(option.name)
                                   + QStringLiteral("Shown' value='") + (option.flag ? QLatin1Char('1') : QLatin1Char('0'))
                                   + QStringLiteral("'>"),
                               kEven, kOne, kLeft));
    }
    AddDisplayOptions(out);
    out.Add("</tr></table>");
}

} // namespace

HeaderParameters StatusHeaderParameters()
{
    return HeaderParameters{QStringLiteral("Korvane Status&nbsp;&nbsp;<small><font size='1'></b> V") + programVersion()
                                + QStringLiteral("</font></small>"),
                            QString(), gBackground, QStringLiteral("x"), gStyleSheet};
}

void BuildStatusTable()
{
    StatusTable &table = CurrentStatusTable();
    table.clear();
    indexDevices();
    // The index holds devices only while the table is gathered, whatever way it ends.
    struct Release
    {
        ~Release() { deviceIndex().clear(); }
    } release;
    const PointTables &points = Points();
    const bool onlyUsed = gPlugin.ShowOnlyUsed;
    if (included(QStringLiteral("IncludeVariables")))
        gatherVariables(table, points, onlyUsed);
    if (included(QStringLiteral("IncludeX10")))
        gatherX10(table, points, onlyUsed);
    if (included(QStringLiteral("IncludeIO")))
        gatherIO(table, points, onlyUsed);
    if (included(QStringLiteral("IncludeIR")))
        gatherIR(table, points);
    // A sort or filter the table does not know leaves the rows as gathered.
    table.setSort((StatusSortKey() + QLatin1Char(' ') + StatusSortDirection()).trimmed());
    table.setFilter(onlyUsed ? QStringLiteral("Used=true") : QString());
}

void FormatScreen()
{
    try {
        FastString &out = page();
        // The page is sent in Windows-1252 with no charset in its header: left
        // to guess, a browser may read a page of few accented letters as
        // another code page, show them changed and post them back changed.
        out.Add("<html><head><meta charset='windows-1252'>");
        out.Add("<SCRIPT LANGUAGE=\"JavaScript\">");
        out.Add("function ClearSubmit(button) {");
        out.Add("  document.control.clientvalue.value = button.value;");
        out.Add("  document.control.clientinput.value = button.name;");
        out.Add("  document.control.submit();}");
        out.Add("</script>");
        out.Add(CustomHeader(StatusHeaderParameters()));
        out.Add("\r\n");
        out.Add("<div><center><small>");
        out.Add("<table border='5' width= '600'><tr>");
        out.Add("<form name='control' method='post' accept-charset='UTF-8'>");
        out.Add("<input type='hidden' name='clientinput' value='yes'>");
        out.Add("<input type='hidden' name='clientvalue' value='yes'>");
        out.Add("<center><input type='submit' name ='UpdateButton' value='Save Changes'></center><br>");
        refusalNote(out);
        optionsTable(out);
        out.Add("<br>");
        if (gPlugin.IncludeSetup && StatusPagePartsInstance().AddSetup) {
            StatusPagePartsInstance().AddSetup(out);
            out.Add("<br>");
        }
        out.Add("<table  border='5' frame='box'><tr>");
        out.Add(HTMLFormatCell(QStringLiteral("Korvane X10, IR, Variables and IO Points"), QStringLiteral("TABLEHEADER"),
                               QStringLiteral("8"), QStringLiteral("Center")));
        out.Add("<tr><tr>");
        for (const char *heading : {"Used", "Ev", "Tag", "Status", "ID", "Name", "Changed", "Refresh"})
            out.Add(HTMLFormatCell(QStringLiteral("<input type='submit' name='") + QLatin1String(heading)
                                       + QStringLiteral("' value='") + QLatin1String(heading) + QStringLiteral("'>"),
                                   QStringLiteral("TABLEHEADER"), kOne, QStringLiteral("Center")));
        out.Add("</tr><tr>");
        BuildStatusTable();
        writeRows(out, CurrentStatusTable());
        if (gShowReceiveMessages)
            AddFilter(out);
        else
            gFiltersShown = false;
        out.Add("<IFRAME frameborder=0 scrolling='no' name='hiddenframe' cols='0' rows='0' width='0' height='0' "
                "size='0'>");
        out.Add("</IFRAME>");
        out.Add("</form></table>");
        AddScriptButton(out);
        out.Add("</table></small></center></div>");
        out.Add("</body></html>");
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Status FormatScreen "));
    }
}
