#include "web/status/ReceiveFragments.h"

#include "web/HTMLIncludes.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/WebClock.h"
#include "web/chrome/Headers.h"
#include "web/status/StatusPage.h"

#include "bridge/BscBridge.h"
#include "bridge/DeviceMessageClass.h"
#include "bridge/ScriptQueue.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbError.h"
#include "automation/VbString.h"

#include <cmath>

bool gShowReceiveMessages = false;
bool gShowReceiveDetail = false;
qint16 gShowStatus = 0;
bool gFiltersShown = false;

namespace {

const QString kFile = QStringLiteral("tvkXapKorvane.ini");
const QString kGeneral = QStringLiteral("General");

QString cell(const QString &text, const QString &cls, const QString &span, const QString &align)
{
    return HTMLFormatCell(text, cls, span, align);
}

QString posted(const QString &field)
{
    const Request *request = Headers::PageRequest();
    return request ? request->Form(field) : QString();
}

Application &host()
{
    if (!hs)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return *hs;
}

QString setting(const QString &key)
{
    return host().getIniSetting(kGeneral, key, QStringLiteral("0"), kFile);
}

void save(const QString &key, const QString &value)
{
    host().saveIniSetting(kGeneral, key, value, kFile);
}

// A stored Boolean: "True", "False" or a number (non-zero is true). Anything
// else reads as false, with a log entry, so that the other options still load.
bool storedFlag(const QString &key)
{
    const QString text = setting(key).remove(QLatin1Char('"')).trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto number = VbString::parseNumber(text))
        return *number != 0;
    LogError(kProgramName, QStringLiteral("LoadDisplaySettings: ") + key + QStringLiteral(" is not a Boolean"));
    return false;
}

DeviceMessageClassPtr recordOf(const QString &tag)
{
    if (!gDeviceDictionary || !gDeviceDictionary->exists(Variant(tag)))
        return nullptr;
    return std::dynamic_pointer_cast<DeviceMessageClass>(gDeviceDictionary->item(Variant(tag)).toObject());
}

} // namespace

void AddDisplayOptions(FastString &page)
{
    page.Add("<tr><tr>");
    page.Add(cell(QStringLiteral("<input type='checkbox' name ='ShowReceiveMessages' value='1'")
                      + CheckedText(gShowReceiveMessages) + QStringLiteral(">&nbsp;Receive xAP Messages"),
                  QStringLiteral("TABLEROWEVEN"), QStringLiteral("1"), QStringLiteral("Left")));
    page.Add(cell(QStringLiteral("<input type='checkbox' name ='ShowReceiveDetail' value='1'")
                      + CheckedText(gShowReceiveDetail) + QStringLiteral(">&nbsp;Receive xAP Detail"),
                  QStringLiteral("TABLEROWEVEN"), QStringLiteral("1"), QStringLiteral("Left")));
    const int shown = gShowStatus == 0 || gShowStatus == 1 ? gShowStatus : 2;
    auto radio = [&](const char *opening, int value) {
        return QLatin1String(opening) + QString::number(value) + QLatin1Char('\'')
            + (shown == value ? QStringLiteral(" checked") : QString());
    };
    const QString r0 = radio("<input type='radio' name ='ShowStatus' value='", 0);
    const QString r1 = radio("<br><input type='radio' name ='ShowStatus' value='", 1);
    const QString r2 = radio("<br><input type='radio' name ='ShowStatus' value='", 2);
    page.Add(cell(r0 + QStringLiteral(">&nbsp;Dont Show Status") + r1 + QStringLiteral(">&nbsp;Show Status") + r2
                      + QStringLiteral(">&nbsp;Show Status and Config"),
                  QStringLiteral("TABLEROWEVEN"), QStringLiteral("3"), QStringLiteral("Left")));
}

void AddFilter(FastString &page)
{
    try {
        const QString header = QStringLiteral("TABLEHEADER");
        const QString one = QStringLiteral("1");
        const QString center = QStringLiteral("Center");
        const QString left = QStringLiteral("Left");
        const QString right = QStringLiteral("Right");
        page.Add("<br><p><Table width='600' border='5' frame='box'><tr>");
        page.Add(cell(QStringLiteral("xAP Messages of Interest"), header, QStringLiteral("5"), center));
        page.Add("</tr><tr>");
        for (const char *heading : {"Status", "Tag", "Ev", "Source Including Subaddress", "Class"})
            page.Add(cell(QLatin1String(heading), header, one, center));
        page.Add("</tr><tr>");

        QString rowClass = QStringLiteral("TABLEROWODD");
        if (gFilterDictionary) {
            const std::vector<Variant> keys = gFilterDictionary->keyList();
            const std::vector<Variant> items = gFilterDictionary->itemList();
            for (size_t i = 0; i < keys.size(); ++i) {
                const QString n = QString::number(i + 1);
                const QStringList filter = items[i].toString().split(QLatin1Char(';'));
                const QString tag = filter.at(0);
                const QString event = filter.size() > 1 ? filter.at(1) : QString();
                const QString key = keys[i].toString();
                const qsizetype first = key.indexOf(QLatin1Char('~'));
                const QString source = first < 0 ? key : key.left(first);
                const QString cls = first < 0 ? QString() : key.mid(first + 1).section(QLatin1Char('~'), 0, 0);

                const DeviceMessageClassPtr record = recordOf(tag);
                page.Add(cell(record ? FormatLastChange(record->LastChange) : QString(), rowClass, one, center));
                page.Add(cell(QStringLiteral("<input type='text' size='15' value='") + HtmlText::escape(tag)
                                  + QStringLiteral("' name='FilterTag") + n + QStringLiteral("'>"),
                              QStringLiteral("tablecellmisc"), one, left));
                page.Add(cell(QStringLiteral("<input type='checkbox'")
                                  + (event.isEmpty() ? QString() : QStringLiteral(" checked"))
                                  + QStringLiteral(" value='1' name='FilterEvent") + n + QStringLiteral("'>"),
                              rowClass, one, left));
                page.Add(cell(QStringLiteral("<input type='text' size='80' value='") + HtmlText::escape(source)
                                  + QStringLiteral("' name='Source") + n + QStringLiteral("'>"),
                              rowClass, one, right));
                page.Add(cell(QStringLiteral("<input type='text' size='20' value='") + HtmlText::escape(cls)
                                  + QStringLiteral("' name='Class") + n + QStringLiteral("'>"),
                              rowClass, one, left));
                page.Add("</tr><tr>");
                if (gShowReceiveDetail && record) {
                    const std::vector<Variant> &values = record->MessageList->items();
                    const std::vector<Variant> &names = record->MessageKeyList->items();
                    for (size_t j = 0; j < values.size(); ++j) {
                        page.Add(cell(HtmlText::escape(values[j].toString()), rowClass, QStringLiteral("3"), right));
                        page.Add(cell(HtmlText::escape(j < names.size() ? names[j].toString() : QString()), rowClass,
                                      QStringLiteral("3"), left));
                        page.Add("</tr><tr>");
                    }
                }
                rowClass = i % 2 == 1 ? QStringLiteral("TABLEROWODD") : QStringLiteral("TABLEROWEVEN");
            }
        }
        page.Add(cell(QStringLiteral("&nbsp;&nbsp;"), rowClass, one, center));
        page.Add(cell(QStringLiteral("<input type='text' size='15' value='' name='FilterTag0'>"),
                      QStringLiteral("tablecellmisc"), one, left));
        page.Add(cell(QStringLiteral("<input type='checkbox' value='1' name='FilterEvent0'>"), rowClass, one, left));
        page.Add(cell(QStringLiteral("<input type='text' size='80' value='' name='Source0'>"), rowClass, one, right));
        page.Add(cell(QStringLiteral("<input type='text' size='20' value='' name='Class0'>"), rowClass, one, left));
        page.Add("</tr>");
        gFiltersShown = true;
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("AddFilter"));
    }
}

void AddScriptButton(FastString &page)
{
    try {
        page.Add("<Table width='600' border='5' frame='box'><tr>");
        page.Add(cell(QStringLiteral("Refresh"), QStringLiteral("TABLEHEADER"), QStringLiteral("2"),
                      QStringLiteral("Center")));
        page.Add("</tr><tr>");
        page.Add(cell(QStringLiteral("<form name='no redraw' method='post' target='hiddenframe'><input type='submit' "
                                     "name='script' value='Read Script ")
                          + kProgramName
                          + QStringLiteral(".txt'><input type='hidden' name='clientinput' value='yes'></form>"),
                      QStringLiteral("TABLEROWODD"), QStringLiteral("1"), QStringLiteral("Center")));
        page.Add(cell(QStringLiteral("<form name='redraw' method='post'><input type='submit' name='query' "
                                     "value='Query BSC'><input type='hidden' name='clientinput' value='yes'></form>"),
                      QStringLiteral("TABLEROWODD"), QStringLiteral("1"), QStringLiteral("Center")));
        page.Add("</tr></table>");
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("AddScriptButton"));
    }
}

QString FormatLastChange(double d)
{
    if (d == 0 || d == VbDate::dateSerial(2000, 1, 1))
        return QString();
    const double today = VbDate::fromDate(WebClock::now().date());
    const double yesterday = today - 1;
    if (d < yesterday)
        return VbDate::formatGeneralDate(d);
    return (d >= today ? QStringLiteral("Today ") : QStringLiteral("Yesterday ")) + TimeOfDayText(d);
}

void LoadDisplaySettings()
{
    const double status = VbString::Val(setting(QStringLiteral("ShowStatus")).remove(QLatin1Char('"')));
    gShowStatus = qint16(std::fabs(status) < 32768 ? VbString::roundHalfEven(status) : 0);
    gShowReceiveDetail = storedFlag(QStringLiteral("ShowReceiveDetail"));
    gShowReceiveMessages = storedFlag(QStringLiteral("ShowReceiveMessages"));
}

void SaveDisplaySettings()
{
    const double status = VbString::Val(posted(QStringLiteral("ShowStatus")));
    gShowStatus = qint16(std::fabs(status) < 32768 ? VbString::roundHalfEven(status) : 0);
    save(QStringLiteral("ShowStatus"), QString::number(gShowStatus));
    gShowReceiveDetail = !posted(QStringLiteral("ShowReceiveDetail")).isEmpty();
    save(QStringLiteral("ShowReceiveDetail"), gShowReceiveDetail ? QStringLiteral("True") : QStringLiteral("False"));
    gShowReceiveMessages = !posted(QStringLiteral("ShowReceiveMessages")).isEmpty();
    save(QStringLiteral("ShowReceiveMessages"),
         gShowReceiveMessages ? QStringLiteral("True") : QStringLiteral("False"));
}

void SaveFilterSettigs()
{
    if (!gFiltersShown)
        return;
    try {
        if (!gFilterDictionary)
            gFilterDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
        if (!gDeviceDictionary)
            gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
        const int n = gFilterDictionary->count();
        QString section = QStringLiteral("Received");
        QString file = kFile;
        host().ClearINISection(section, file);
        gFilterDictionary->removeAll();
        QList<int> rows;
        for (int row = 1; row <= n; ++row)
            rows.append(row);
        rows.append(0);
        for (int row : rows) {
            const QString r = QString::number(row);
            const QString source = posted(QStringLiteral("Source") + r);
            QString cls = posted(QStringLiteral("Class") + r);
            cls.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
            const QString tag = posted(QStringLiteral("FilterTag") + r).replace(QLatin1Char(' '), QLatin1Char('_'));
            const QString event = posted(QStringLiteral("FilterEvent") + r);
            const QString key = source + QLatin1Char('~') + cls;
            if (key == QLatin1String("~"))
                continue;
            // The section keeps "source~class=tag;event" lines: an "=" in the
            // key or the tag, or a ";" in the tag, would read back as another
            // filter, so such a row is not taken.
            if (key.contains(QLatin1Char('=')) || tag.contains(QLatin1Char('=')) || tag.contains(QLatin1Char(';'))) {
                LogError(kProgramName, QStringLiteral("SaveFilterSettigs: row ") + r
                                           + QStringLiteral(" not saved, \"=\" or \";\" in ")
                                           + HtmlText::forLog(key + QLatin1Char(' ') + tag));
                continue;
            }
            if (!gFilterDictionary->exists(Variant(key))) {
                const QString item = tag + QLatin1Char(';') + event;
                gFilterDictionary->add(Variant(key), Variant(item));
                host().saveIniSetting(section, key, item, kFile);
            }
            if (!gDeviceDictionary->exists(Variant(tag))) {
                auto record = std::make_shared<DeviceMessageClass>();
                record->Tag = tag;
                record->LastChange = VbDate::dateSerial(2000, 1, 1);
                gDeviceDictionary->add(Variant(tag), Variant(ObjectPtr(record)));
            }
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("SaveFilterSettigs"));
    }
}

bool CheckScriptButtons()
{
    if (!posted(QStringLiteral("script")).isEmpty()) {
        InitScriptControl();
        return true;
    }
    if (!posted(QStringLiteral("query")).isEmpty()) {
        BSCQuery(QStringLiteral(">:>"));
        return true;
    }
    return false;
}
