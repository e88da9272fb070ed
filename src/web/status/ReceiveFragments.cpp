#include "web/status/ReceiveFragments.h"

#include "core/RefusalLog.h"

#include "web/HTMLIncludes.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/WebClock.h"
#include "web/chrome/Headers.h"
#include "web/status/PostedForm.h"
#include "web/status/StatusPage.h"

#include "bridge/BscBridge.h"
#include "bridge/DeviceMessageClass.h"
#include "bridge/ScriptQueue.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/IniText.h"

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
    // Each option carries the value shown: a Save takes only what its user changed.
    auto shownField = [](const char *name, const QString &value) {
        return QStringLiteral("<input type='hidden' name='") + QLatin1String(name) + QStringLiteral("Shown' value='")
            + value + QStringLiteral("'>");
    };
    auto flagText = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
    page.Add(cell(QStringLiteral("<input type='checkbox' name ='ShowReceiveMessages' value='1'")
                      + CheckedText(gShowReceiveMessages) + QStringLiteral(">&nbsp;Receive xAP Messages")
                      + shownField("ShowReceiveMessages", flagText(gShowReceiveMessages)),
                  QStringLiteral("TABLEROWEVEN"), QStringLiteral("1"), QStringLiteral("Left")));
    page.Add(cell(QStringLiteral("<input type='checkbox' name ='ShowReceiveDetail' value='1'")
                      + CheckedText(gShowReceiveDetail) + QStringLiteral(">&nbsp;Receive xAP Detail")
                      + shownField("ShowReceiveDetail", flagText(gShowReceiveDetail)),
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
                      + QStringLiteral(">&nbsp;Show Status and Config") + shownField("ShowStatus", QString::number(shown)),
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
                // The filter's key and what the row showed travel with the row,
                // so that a post from an older page finds its own filter.
                const QString carried = QStringLiteral("<input type='hidden' value='") + HtmlText::escape(key)
                    + QStringLiteral("' name='FilterKey") + n + QStringLiteral("'><input type='hidden' value='")
                    + HtmlText::escape(items[i].toString()) + QStringLiteral("' name='FilterShown") + n
                    + QStringLiteral("'>");
                page.Add(cell(carried + (record ? FormatLastChange(record->LastChange) : QString()), rowClass, one, center));
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
                        page.Add(cell(HtmlText::escape(DeviceMessageClass::shownText(values[j])), rowClass, QStringLiteral("3"), right));
                        page.Add(cell(HtmlText::escape(j < names.size() ? DeviceMessageClass::shownText(names[j]) : QString()), rowClass,
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
        page.Add(cell(QStringLiteral("<form name='no redraw' method='post' accept-charset='UTF-8' target='hiddenframe'><input type='submit' "
                                     "name='script' value='Read Script ")
                          + kProgramName
                          + QStringLiteral(".txt'><input type='hidden' name='clientinput' value='yes'></form>"),
                      QStringLiteral("TABLEROWODD"), QStringLiteral("1"), QStringLiteral("Center")));
        page.Add(cell(QStringLiteral("<form name='redraw' method='post' accept-charset='UTF-8'><input type='submit' name='query' "
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

// Whether the user changed an option on the page: the posted value differs
// from the one the page showed. A post without the shown value changes it.
static bool changedOnPage(const QString &field, const QString &value)
{
    const Request *request = Headers::PageRequest();
    const KeyValuePair *shown = request ? request->FormCol().find(field + QStringLiteral("Shown")) : nullptr;
    return !shown || shown->Value() != value;
}

void SaveDisplaySettings()
{
    const double status = VbString::Val(posted(QStringLiteral("ShowStatus")));
    const qint16 newStatus = qint16(std::fabs(status) < 32768 ? VbString::roundHalfEven(status) : 0);
    if (changedOnPage(QStringLiteral("ShowStatus"), posted(QStringLiteral("ShowStatus")))) {
        gShowStatus = newStatus;
        save(QStringLiteral("ShowStatus"), QString::number(gShowStatus));
    }
    const bool detail = !posted(QStringLiteral("ShowReceiveDetail")).isEmpty();
    if (changedOnPage(QStringLiteral("ShowReceiveDetail"), detail ? QStringLiteral("1") : QStringLiteral("0"))) {
        gShowReceiveDetail = detail;
        save(QStringLiteral("ShowReceiveDetail"), gShowReceiveDetail ? QStringLiteral("True") : QStringLiteral("False"));
    }
    const bool messages = !posted(QStringLiteral("ShowReceiveMessages")).isEmpty();
    if (changedOnPage(QStringLiteral("ShowReceiveMessages"), messages ? QStringLiteral("1") : QStringLiteral("0"))) {
        gShowReceiveMessages = messages;
        save(QStringLiteral("ShowReceiveMessages"),
             gShowReceiveMessages ? QStringLiteral("True") : QStringLiteral("False"));
    }
}

namespace {

struct FilterRow
{
    QString key;
    QString item; // "tag;event"
};

bool present(const QString &field)
{
    const Request *request = Headers::PageRequest();
    return request && request->FormCol().find(field) != nullptr;
}

// Why a filter row would not read back from the "source~class=tag;event"
// lines of its section as typed, with the field at fault; "" when it would.
QString filterFault(const QString &key, const QString &tag, const QString &event, QString &field)
{
    field = key;
    if (QString fault = IniText::keyFault(key, tag + QLatin1Char(';') + event); !fault.isEmpty())
        return fault;
    for (const QString &text : {tag, event}) {
        field = text;
        if (QString fault = IniText::valueFault(text, true); !fault.isEmpty())
            return fault;
        if (text.contains(QLatin1Char(';')))
            return QStringLiteral("holds \";\", which separates a filter's tag from its event");
    }
    return QString();
}

// A "~" typed into a source or class would move the split between them: the
// page would show, and messages would have to match, other texts.
QString tildeFault(const QString &r, QString &field)
{
    for (const char *name : {"Source", "Class"}) {
        field = posted(QLatin1String(name) + r);
        if (field.contains(QLatin1Char('~')))
            return QStringLiteral("holds \"~\", which separates a filter's source from its class");
    }
    return QString();
}

QString postedKey(const QString &r)
{
    QString cls = posted(QStringLiteral("Class") + r);
    cls.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return posted(QStringLiteral("Source") + r) + QLatin1Char('~') + cls;
}

QString postedTag(const QString &r)
{
    return posted(QStringLiteral("FilterTag") + r).replace(QLatin1Char(' '), QLatin1Char('_'));
}

// A tag is saved with its blanks as "_"; it also keys its record in the
// records' section. What would not come back as typed there, or whose
// blanks at either end would turn into "_" nobody sees, is refused.
QString typedTagFault(const QString &r, QString &field)
{
    field = posted(QStringLiteral("FilterTag") + r);
    return IniText::tagFault(field);
}

// Through the refusal log, keyed by the fault alone, never the row or the
// text (both the poster's): a post of many filter rows costs one entry per
// fault, its repeats counted; the page's note names every row.
void logRefused(const QString &r, const QString &text, const QString &fault)
{
    RefusalLog::Log(kProgramName,
                    QStringLiteral("SaveFilterSettigs: row ") + r + QStringLiteral(" not saved, \"") + HtmlText::forLog(text)
                        + QStringLiteral("\" ") + fault,
                    RefusalLog::Kind(QStringLiteral("SaveFilterSettigs"), fault), kPostedFormLogBudget);
    NoteRefusal(QStringLiteral("Filter row ") + r + QStringLiteral(" \"") + HtmlText::shortQuote(text) + QStringLiteral("\" ") + fault
                + QStringLiteral("; not saved."));
}

void addRecord(const QString &tag)
{
    if (tag.isEmpty() || gDeviceDictionary->exists(Variant(tag)))
        return;
    auto record = std::make_shared<DeviceMessageClass>();
    record->Tag = tag;
    record->LastChange = VbDate::dateSerial(2000, 1, 1);
    gDeviceDictionary->add(Variant(tag), Variant(ObjectPtr(record)));
}

} // namespace

void SaveFilterSettigs()
{
    // Only a post that carried the filter table holds its blank row.
    if (!present(QStringLiteral("Source0")))
        return;
    try {
        if (!gFilterDictionary)
            gFilterDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
        if (!gDeviceDictionary)
            gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
        std::vector<FilterRow> filters;
        {
            const std::vector<Variant> keys = gFilterDictionary->keyList();
            const std::vector<Variant> items = gFilterDictionary->itemList();
            for (size_t i = 0; i < keys.size(); ++i)
                filters.push_back({keys[i].toString(), items[i].toString()});
        }
        QHash<QString, int> byKey; // case-folded key -> first filter of it
        for (size_t i = 0; i < filters.size(); ++i)
            if (const QString folded = filters[i].key.toCaseFolded(); !byKey.contains(folded))
                byKey.insert(folded, int(i));
        auto find = [&](const QString &key) { return byKey.value(key.toCaseFolded(), -1); };

        // Each posted row names its filter by key; a filter deleted since the
        // page was built stays deleted, and only what the row's user changed
        // is taken. Every row is read before any key changes, so renames do
        // not depend on the rows' order.
        const Request *request = Headers::PageRequest();
        std::vector<int> rowsPosted;
        for (const KeyValuePair &field : request->FormCol().items()) {
            const QString name = field.Key();
            if (!name.startsWith(QLatin1String("FilterKey"), Qt::CaseInsensitive))
                continue;
            bool ok = false;
            const int n = name.mid(9).toInt(&ok);
            if (ok && n > 0 && QString::number(n) == name.mid(9))
                rowsPosted.push_back(n);
        }
        std::vector<int> rowOf(filters.size(), 0);
        std::vector<FilterRow> wanted = filters;
        std::vector<bool> gone(filters.size(), false);
        QStringList tags;
        // The source~class pair a row shows of its filter's key.
        auto shownKeyOf = [](const QString &key) {
            const qsizetype first = key.indexOf(QLatin1Char('~'));
            return first < 0 ? key : key.left(first) + QLatin1Char('~') + key.mid(first + 1).section(QLatin1Char('~'), 0, 0);
        };
        for (int n : rowsPosted) {
            const QString r = QString::number(n);
            const QString postedFilter = posted(QStringLiteral("FilterKey") + r);
            const int at = find(postedFilter);
            const QStringList shown = posted(QStringLiteral("FilterShown") + r).split(QLatin1Char(';'));
            const QString shownTag = shown.at(0);
            const QString shownEvent = shown.size() > 1 ? shown.at(1) : QString();
            if (at < 0) {
                // Another page deleted the filter since this one was built: it
                // stays deleted, but an edit of it is not lost in silence.
                const QString newKey = postedKey(r);
                const bool edited = newKey != shownKeyOf(postedFilter) || postedTag(r) != shownTag
                    || posted(QStringLiteral("FilterEvent") + r).isEmpty() != shownEvent.isEmpty();
                if (edited && newKey != QLatin1String("~"))
                    logRefused(r, postedFilter, QStringLiteral("was deleted since the page was built"));
                continue;
            }
            if (rowOf[size_t(at)] != 0)
                continue;
            rowOf[size_t(at)] = n;
            const FilterRow &filter = filters[size_t(at)];
            const QString oldKey = filter.key;
            const QString shownKey = shownKeyOf(oldKey);
            const QStringList stored = filter.item.split(QLatin1Char(';'));
            QString tag = stored.at(0);
            QString event = stored.size() > 1 ? stored.at(1) : QString();
            QString key = oldKey;
            const QString newKey = postedKey(r);
            const QString newTag = postedTag(r);
            const QString newEvent = posted(QStringLiteral("FilterEvent") + r);
            if (newKey != shownKey) {
                QString field;
                if (const QString fault = tildeFault(r, field); !fault.isEmpty()) {
                    logRefused(r, field, fault);
                    continue;
                }
                key = newKey;
            }
            if (newTag != shownTag) {
                QString field;
                if (const QString fault = typedTagFault(r, field); !fault.isEmpty()) {
                    logRefused(r, field, fault);
                    continue;
                }
                tag = newTag;
            }
            if (newEvent.isEmpty() != shownEvent.isEmpty())
                event = newEvent;
            if (key == QLatin1String("~")) {
                gone[size_t(at)] = true; // the row's source and class were cleared
                continue;
            }
            QString field;
            if (const QString fault = filterFault(key, tag, event, field); !fault.isEmpty()) {
                logRefused(r, field, fault);
                continue;
            }
            wanted[size_t(at)] = {key, tag + QLatin1Char(';') + event};
            tags << tag;
        }

        std::vector<NamedEntry> entries;
        for (size_t i = 0; i < filters.size(); ++i)
            if (!gone[i])
                entries.push_back({wanted[i].key, wanted[i].item, filters[i].key, filters[i].item, rowOf[i]});
        const QString key = postedKey(QStringLiteral("0"));
        const QString tag = postedTag(QStringLiteral("0"));
        if (key != QLatin1String("~")) {
            const QString event = posted(QStringLiteral("FilterEvent0"));
            QString field;
            QString fault = tildeFault(QStringLiteral("0"), field);
            if (fault.isEmpty())
                fault = typedTagFault(QStringLiteral("0"), field);
            if (fault.isEmpty())
                fault = filterFault(key, tag, event, field);
            if (!fault.isEmpty()) {
                logRefused(QStringLiteral("0"), field, fault);
            } else {
                entries.push_back({key, tag + QLatin1Char(';') + event, QString(), QString(), 0});
                tags << tag;
            }
        }
        entries = ResolveRenames(std::move(entries), [](const NamedEntry &e) {
            logRefused(QString::number(e.row), e.name, QStringLiteral("is another filter's"));
        });
        for (const QString &t : tags)
            addRecord(t);

        QString section = QStringLiteral("Received");
        QString file = kFile;
        host().ClearINISection(section, file);
        gFilterDictionary->removeAll();
        for (const NamedEntry &e : entries) {
            gFilterDictionary->add(Variant(e.name), Variant(e.value));
            host().saveIniSetting(section, e.name, e.value, kFile);
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
