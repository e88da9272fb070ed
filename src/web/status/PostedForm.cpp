#include "web/status/PostedForm.h"

#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/chrome/Headers.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/SetupBlock.h"
#include "web/status/StatusPage.h"

#include "automation/VbError.h"
#include "automation/VbString.h"
#include "bridge/PluginCalls.h"
#include "bridge/ScriptQueue.h"
#include "bridge/TagTables.h"
#include "controller/DeviceCreation.h"
#include "controller/FrmTimer.h"
#include "controller/PluginSettings.h"
#include "controller/PluginState.h"
#include "controller/PointMap.h"
#include "controller/ui/FrmConfig.h"
#include "core/FastString.h"
#include "core/Logging.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/Setup.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <exception>
#include <set>

int gPageRefreshWaitMs = 2000;

namespace {

const QString kType = QStringLiteral("xaptvkKorvane");
// A macro plays with 100 ms between its items while the page waits: the
// longest one a post may play keeps that wait within seconds.
constexpr int kMacroItemLimit = 100;
const QString kHostFile = QStringLiteral("tvkXapKorvane.ini");
const QString kSection = QStringLiteral("tspi_quillon");

PostedFormBridgeCalls &bridgeCalls()
{
    static PostedFormBridgeCalls calls;
    return calls;
}

bool present(const Request &r, const QString &field)
{
    return r.FormCol().find(field) != nullptr;
}

bool ticked(const Request &r, const QString &field)
{
    return !r.Form(field).isEmpty();
}

void saveHost(const QString &key, const QString &value)
{
    if (hs)
        hs->saveIniSetting(kSection, key, value, kHostFile);
}

void savePlugin(const QString &key, const QString &value)
{
    PluginSettings::SavePluginSetting(PluginSettings::kFile, kSection, key, value);
}

QString flag(bool b)
{
    return b ? QStringLiteral("1") : QStringLiteral("0");
}

// One row of the posted page, named by its hidden device-code field.
struct PostedRow
{
    enum Kind { Variable, X10, IO, IRCode, Macro };
    Kind kind = Variable;
    QString disp;  // display code as posted (upper case)
    QString dc;    // the row's device code as posted
    int number = 0; // variable number, I/O point index, IR location, macro row
};

const QRegularExpression kVariable(QStringLiteral("^V(\\d{1,3}):[0-9A-F]{2}$"));
const QRegularExpression kPoint(QStringLiteral("^X(\\d{1,4}):[0-9A-F]{2,3}$"));
const QRegularExpression kIR(QStringLiteral("^IR(\\d{1,4})$"));
const QRegularExpression kMacroOrX10(QStringLiteral("^([A-P])(\\d{1,5})$"));

// The rows whose device-code field the post carries, in the order posted.
// Fields not shaped like a row's are no rows.
std::vector<PostedRow> postedRows(const Request &r)
{
    std::vector<PostedRow> rows;
    for (const KeyValuePair &field : r.FormCol().items()) {
        const QString key = field.Key();
        if (key.size() < 3 || !key.endsWith(QLatin1String("DC"), Qt::CaseInsensitive))
            continue;
        PostedRow row;
        row.disp = key.left(key.size() - 2).toUpper();
        row.dc = field.Value();
        QRegularExpressionMatch m;
        if ((m = kVariable.match(row.disp)).hasMatch()) {
            row.kind = PostedRow::Variable;
            row.number = m.captured(1).toInt();
            if (row.number > 127)
                continue;
        } else if ((m = kPoint.match(row.disp)).hasMatch()) {
            row.kind = PostedRow::IO;
            row.number = m.captured(1).toInt();
        } else if ((m = kIR.match(row.disp)).hasMatch()) {
            row.kind = PostedRow::IRCode;
            row.number = m.captured(1).toInt();
            if (row.number > 1023)
                continue;
        } else if ((m = kMacroOrX10.match(row.disp)).hasMatch()) {
            const int n = m.captured(2).toInt();
            const bool houseM = m.captured(1) == QLatin1String("M");
            const bool unitCode = n >= 1 && n <= 16;
            // A macro row carries its name and text fields and never a Used
            // box; an X10 row's code names the unit itself.
            const bool macroFields = houseM && present(r, QStringLiteral("N") + QString::number(n));
            const bool x10Shape = unitCode
                && (present(r, row.disp + QStringLiteral("Used")) || row.dc.compare(row.disp, Qt::CaseInsensitive) == 0
                    || (row.dc.isEmpty() && !macroFields));
            if (x10Shape) {
                row.kind = PostedRow::X10;
                row.number = n;
            } else if (macroFields) {
                row.kind = PostedRow::Macro;
                row.number = n;
            } else {
                continue;
            }
        } else {
            continue;
        }
        rows.push_back(row);
    }
    return rows;
}

// The macro rows of a post: every "N" & i text field with its name field.
struct PostedMacro
{
    int row = 0;
    QString name, list, oldText;
    bool hasOld = false;
    bool shadowed = false;
};

void logSkip(const QString &what)
{
    LogError(kType, QStringLiteral("Status ClientRequest ") + what);
}

// The unit mapping that a posted I/O row names: by its device code when it
// has one, else by its position on the page.
const umap *pointUnit(const PostedRow &row, int &point)
{
    if (!row.dc.isEmpty()) {
        for (const umap &m : gPlugin.UnitMaps) {
            if (m.hc.isEmpty() || !row.dc.startsWith(m.hc, Qt::CaseInsensitive))
                continue;
            const QString rest = row.dc.mid(m.hc.size());
            bool ok = false;
            const int p = rest.toInt(&ok);
            if (ok && p >= 1 && p <= 16 && QString::number(p) == rest) {
                point = p - 1;
                return &m;
            }
        }
        return nullptr;
    }
    const int k = row.number / 16;
    if (k < 0 || k >= gPlugin.UnitMaps.size())
        return nullptr;
    point = row.number % 16;
    return &gPlugin.UnitMaps.at(k);
}

void usedPass(const Request &r, const std::vector<PostedRow> &rows, FrmConfig &dialog)
{
    for (const PostedRow &row : rows) {
        const bool used = ticked(r, row.disp + QStringLiteral("Used"));
        switch (row.kind) {
        case PostedRow::X10: {
            const int house = row.disp.at(0).unicode() - 'A';
            gPlugin.X10Used[size_t((house * 16 + row.number - 1) % 256)] = used;
            break;
        }
        case PostedRow::IO: {
            int point = 0;
            const umap *m = pointUnit(row, point);
            if (!m) {
                logSkip(QStringLiteral("no I/O unit for the row ") + HtmlText::forLog(row.disp));
                break;
            }
            if (dialog.matrix.rowOf(m->unit) >= 0)
                dialog.matrix.setPoint(m->unit, point, used);
            break;
        }
        case PostedRow::Variable:
            dialog.matrix.setVariable(row.number, used);
            break;
        default:
            break;
        }
    }
}

// Replaces the macros of the posted rows and keeps the ones the page did
// not carry. A row is matched to its stored macro by the text it was shown
// with; a name taken twice keeps the first and is logged.
void saveMacros(const Request &r)
{
    Dictionary &dict = *gIRMacroDictionary;
    std::vector<std::pair<QString, QString>> before;
    for (int i = 0; i < dict.count(); ++i)
        before.emplace_back(dict.keyList()[size_t(i)].toString(), dict.itemList()[size_t(i)].toString());

    std::vector<PostedMacro> posted;
    for (const KeyValuePair &field : r.FormCol().items()) {
        const QString key = field.Key();
        if (key.size() < 2 || key.at(0).toUpper() != QLatin1Char('N'))
            continue;
        bool ok = false;
        const int i = key.mid(1).toInt(&ok);
        if (!ok || i < 0 || QString::number(i) != key.mid(1))
            continue;
        PostedMacro pm;
        pm.row = i;
        pm.name = r.Form(QStringLiteral("M") + QString::number(i));
        pm.list = field.Value();
        if (i > 0) {
            const QString code = QStringLiteral("M") + QString::number(i);
            const KeyValuePair *dc = r.FormCol().find(code + QStringLiteral("DC"));
            if (!dc)
                continue; // a macro row without its code is not one of the page's rows
            // Macro rows 1 to 16 share their field names with the X10 units of
            // house M; when the unit's row came first its code hides the macro's.
            pm.shadowed = i <= 16 && (dc->Value().isEmpty() || dc->Value().compare(code, Qt::CaseInsensitive) == 0);
            pm.oldText = dc->Value();
            pm.hasOld = !pm.shadowed;
        }
        posted.push_back(pm);
    }
    if (posted.empty())
        return;

    // Each stored macro is claimed by at most one posted row: first the row
    // at its own position with its own text, then any row with its text.
    std::vector<int> claim(before.size(), -1);
    std::vector<int> rowOf(posted.size(), -1);
    for (size_t p = 0; p < posted.size(); ++p) {
        const PostedMacro &pm = posted[p];
        if (!pm.hasOld)
            continue;
        const size_t at = size_t(pm.row - 1);
        if (at < before.size() && claim[at] < 0 && before[at].second == pm.oldText) {
            claim[at] = int(p);
            rowOf[p] = int(at);
        }
    }
    // A row whose shown text is hidden keeps its macro only where its position
    // still holds a macro whose name or text the row shows unchanged.
    for (size_t p = 0; p < posted.size(); ++p) {
        const PostedMacro &pm = posted[p];
        const size_t at = size_t(pm.row - 1);
        if (pm.shadowed && at < before.size() && claim[at] < 0
            && (before[at].first == pm.name || before[at].second == pm.list)) {
            claim[at] = int(p);
            rowOf[p] = int(at);
        }
    }
    for (size_t p = 0; p < posted.size(); ++p) {
        if (!posted[p].hasOld || rowOf[p] >= 0)
            continue;
        for (size_t at = 0; at < before.size(); ++at) {
            if (claim[at] < 0 && before[at].second == posted[p].oldText) {
                claim[at] = int(p);
                rowOf[p] = int(at);
                break;
            }
        }
    }

    std::vector<std::pair<QString, QString>> after;
    QSet<QString> names;
    auto add = [&](const QString &name, const QString &list) {
        if (name.isEmpty())
            return;
        if (names.contains(name.toLower())) {
            logSkip(QStringLiteral("the macro name ") + HtmlText::forLog(name) + QStringLiteral(" is taken; skipped"));
            return;
        }
        names.insert(name.toLower());
        after.emplace_back(name, list);
    };
    for (size_t at = 0; at < before.size(); ++at) {
        if (claim[at] >= 0)
            add(posted[size_t(claim[at])].name, posted[size_t(claim[at])].list);
        else
            add(before[at].first, before[at].second);
    }
    // Rows whose macro is gone since the page was built, and the new-macro row.
    for (size_t p = 0; p < posted.size(); ++p) {
        if (rowOf[p] < 0)
            add(posted[p].name, posted[p].list);
    }

    dict.removeAll();
    if (hs) {
        QString group = QStringLiteral("IRMacro");
        QString file = kHostFile;
        hs->ClearINISection(group, file);
    }
    for (const auto &[name, list] : after) {
        dict.add(Variant(name), Variant(list));
        if (hs)
            hs->saveIniSetting(QStringLiteral("IRMacro"), name, list, kHostFile);
    }
}

// A numeric setting taken only when the posted text is a number; an
// unchanged text is left alone, anything else keeps the old value.
bool numericSetting(const QString &posted, const QString &stored, const QString &what, QString &value)
{
    if (posted == stored)
        return false;
    const QString t = posted.trimmed();
    if (!VbString::IsNumeric(t)) {
        logSkip(what + QStringLiteral(" '") + HtmlText::forLog(posted) + QStringLiteral("' is not a number; ")
                + HtmlText::forLog(stored) + QStringLiteral(" is kept"));
        return false;
    }
    value = t;
    return true;
}

void saveSettings(const Request &r)
{
    if (present(r, QStringLiteral("SerialIP"))) {
        const QString v = r.Form(QStringLiteral("SerialIP"));
        gSerialIPAddress = v;
        saveHost(QStringLiteral("SerialIP"), v);
    }
    if (present(r, QStringLiteral("CommPort"))) {
        const QString stored = hs ? hs->getIniSetting(kSection, QStringLiteral("CommPort"), QStringLiteral("1"), kHostFile)
                                        .remove(QLatin1Char('"'))
                                  : QString();
        QString v;
        if (numericSetting(r.Form(QStringLiteral("CommPort")), stored, QStringLiteral("CommPort"), v)) {
            v = QString::number(qint64(VbString::Val(v)));
            gCommPort = v;
            saveHost(QStringLiteral("CommPort"), v);
        }
    }
    if (present(r, QStringLiteral("poll_interval"))) {
        QString v;
        const QString stored = PluginSettings::setting(QStringLiteral("poll_interval"), QStringLiteral("2000"));
        if (numericSetting(r.Form(QStringLiteral("poll_interval")), stored, QStringLiteral("poll_interval"), v)) {
            const double n = VbString::Val(v);
            if (n < 1 || n > 65535 || n != std::floor(n)) {
                logSkip(QStringLiteral("poll_interval ") + HtmlText::forLog(v)
                        + QStringLiteral(" is not a whole number from 1 to 65535; kept"));
            } else {
                gPlugin.PollInterval = QString::number(qint64(n));
                savePlugin(QStringLiteral("poll_interval"), gPlugin.PollInterval);
            }
        }
    }
    if (present(r, QStringLiteral("PeriodicScriptInterval"))) {
        QString v;
        const QString stored = PluginSettings::setting(QStringLiteral("PeriodicScriptInterval"), QString());
        if (numericSetting(r.Form(QStringLiteral("PeriodicScriptInterval")), stored,
                           QStringLiteral("PeriodicScriptInterval"), v)) {
            savePlugin(QStringLiteral("PeriodicScriptInterval"), v);
            SetScriptPeriod(v);
        }
    }
    gPlugin.DebugLogFlag = ticked(r, QStringLiteral("DebugLog"));
    savePlugin(QStringLiteral("DebugLog"), gPlugin.DebugLogFlag ? QStringLiteral("True") : QStringLiteral("False"));
    if (present(r, QStringLiteral("ServerPort"))) {
        const QString stored =
            hs ? hs->getIniSetting(kSection, QStringLiteral("HTTPPort"), QStringLiteral("8010"), kHostFile).remove(QLatin1Char('"'))
               : QString();
        QString v;
        if (numericSetting(r.Form(QStringLiteral("ServerPort")), stored, QStringLiteral("ServerPort"), v)) {
            const double n = VbString::Val(v);
            if (n < 1 || n > 65535 || n != std::floor(n)) {
                logSkip(QStringLiteral("ServerPort ") + HtmlText::forLog(v) + QStringLiteral(" is no TCP port; kept"));
            } else {
                gHTTPPort = QString::number(qint64(n));
                saveHost(QStringLiteral("HTTPPort"), gHTTPPort);
            }
        }
    }
    if (present(r, QStringLiteral("Background"))) {
        gBackground = r.Form(QStringLiteral("Background"));
        saveHost(QStringLiteral("Background"), gBackground);
    }
    if (present(r, QStringLiteral("StyleSheet"))) {
        gStyleSheet = r.Form(QStringLiteral("StyleSheet"));
        saveHost(QStringLiteral("StyleSheet"), gStyleSheet);
    }
    gPlugin.LogErrors = ticked(r, QStringLiteral("log_errors")) ? 1 : 0;
    savePlugin(QStringLiteral("log_errors"), flag(gPlugin.LogErrors));
    gPlugin.LogComms = ticked(r, QStringLiteral("log_comms")) ? 1 : 0;
    savePlugin(QStringLiteral("log_comms"), flag(gPlugin.LogComms));
    savePlugin(QStringLiteral("Recognition"), flag(ticked(r, QStringLiteral("Recognition"))));
    for (const char *key : {"ProjectFile", "QPROFile", "IRPROFile"}) {
        const QString k = QString::fromLatin1(key);
        if (present(r, k))
            savePlugin(k, r.Form(k));
    }
}

void tagsPass(const Request &r, const std::vector<PostedRow> &rows)
{
    for (const PostedRow &row : rows) {
        const KeyValuePair *tag = r.FormCol().find(row.disp + QStringLiteral("Tag"));
        const bool event = ticked(r, row.disp + QStringLiteral("Event"));
        ObjectPtr target;
        if (row.kind == PostedRow::Macro) {
            continue;
        } else if (row.kind == PostedRow::IRCode) {
            // The code names the slot; a code that disagrees with its row is not this page's.
            if (row.dc.compare(QStringLiteral("R") + QString::number(row.number), Qt::CaseInsensitive) != 0
                || !gIRSlots || row.number + 1 > gIRSlots->count()) {
                logSkip(QStringLiteral("no IR slot for the row ") + HtmlText::forLog(row.disp));
                continue;
            }
            target = gIRSlots->item(Variant::fromLong(row.number + 1)).toObject();
        } else {
            if (row.dc.isEmpty() || !hs)
                continue;
            QString dc = row.dc;
            qint16 ref = hs->DeviceExists(dc);
            if (ref == -1)
                continue;
            target = hs->GetDevice(ref);
        }
        if (!target)
            continue;
        if (tag)
            target->let(QStringLiteral("ScriptTag"), Variant(tag->Value()));
        target->let(QStringLiteral("TriggerEvent"), Variant(event));
    }
}

void saveIncludeOptions(const Request &r)
{
    gPlugin.IncludeVariables = ticked(r, QStringLiteral("IncludeVariables"));
    gPlugin.IncludeX10 = ticked(r, QStringLiteral("IncludeX10"));
    gPlugin.IncludeIO = ticked(r, QStringLiteral("IncludeIO"));
    gPlugin.IncludeIR = ticked(r, QStringLiteral("IncludeIR"));
    gPlugin.IncludeSetup = ticked(r, QStringLiteral("IncludeSetup"));
    gPlugin.ShowOnlyUsed = ticked(r, QStringLiteral("ShowOnlyUsed"));
    savePlugin(QStringLiteral("IncludeVariables"), flag(gPlugin.IncludeVariables));
    savePlugin(QStringLiteral("IncludeIO"), flag(gPlugin.IncludeIO));
    savePlugin(QStringLiteral("IncludeIR"), flag(gPlugin.IncludeIR));
    savePlugin(QStringLiteral("IncludeX10"), flag(gPlugin.IncludeX10));
    savePlugin(QStringLiteral("IncludeSetup"), flag(gPlugin.IncludeSetup));
    savePlugin(QStringLiteral("ShowOnlyUsed"), flag(gPlugin.ShowOnlyUsed));
}

// Releases the dialog loaded for a save on every way out.
struct DialogForSave
{
    FrmConfig &dialog = FrmConfig::Load();
    bool released = false;
    void release()
    {
        if (!released) {
            released = true;
            dialog.ResetLoadFlags();
            FrmConfig::Unload();
        }
    }
    ~DialogForSave() { release(); }
};

void Save(Request &r)
{
    const std::vector<PostedRow> rows = postedRows(r);
    // The setup block's fields are read only from a page that carried them.
    const bool setupPosted = present(r, QStringLiteral("poll_interval")) && gPlugin.IncludeSetup;
    {
        DialogForSave form;
        FrmConfig &dialog = form.dialog;
        usedPass(r, rows, dialog);
        if (setupPosted) {
            for (int i = 0; i < 16 && i < dialog.matrix.rows.size(); ++i)
                dialog.matrix.aInvert[size_t(i)] = ticked(r, QStringLiteral("Y") + QString::number(i)) ? 1 : 0;
        }
        const int flags = (gPlugin.IncludeVariables ? 1 : 0) + ((gPlugin.IncludeIO || gPlugin.IncludeSetup) ? 2 : 0);
        if (flags != 0)
            dialog.CreateVariablesAndIO(flags);
        if (gPlugin.IncludeX10)
            PointMap::DefineTSX10();
        if (gPlugin.IncludeIR)
            saveMacros(r);
        if (setupPosted)
            saveSettings(r);
        form.release();
    }
    tagsPass(r, rows);
    saveIncludeOptions(r);
    if (bridgeCalls().saveDisplaySettings)
        bridgeCalls().saveDisplaySettings();
    if (bridgeCalls().saveFilterSettigs)
        bridgeCalls().saveFilterSettigs();
    AddIRTags();
    AddIOTags();
    AddXapTags();
    AddX10Tags();
    if (gHostForm)
        gHostForm->SaveDevices();
}

void Sync()
{
    const QString file = PluginSettings::GetPluginSetting(PluginSettings::kFile, kSection, QStringLiteral("ProjectFile"), QString());
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return;
    if (gPlugin.IncludeVariables)
        PointMap::DefineTSVariables();
    if (gPlugin.IncludeX10)
        PointMap::DefineTSX10();
    if (gPlugin.IncludeIO)
        PointMap::DefineTSIO();
    if (gPlugin.IncludeIR)
        PointMap::DefineTSIR();
}

// Lets events run until the next variable poll starts or the wait's time is up.
void waitForPoll()
{
    gPlugin.PageRefreshFlag = 1;
    QDeadlineTimer deadline(gPageRefreshWaitMs);
    while (!deadline.hasExpired() && gPlugin.PageRefreshFlag > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    if (gPlugin.PageRefreshFlag == 1)
        gPlugin.PageRefreshFlag = 0;
}

// Only sent events pass between the items of a macro.
void pauseBetweenItems()
{
    QDeadlineTimer deadline(100);
    while (!deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QThread::msleep(5);
    }
}

void rowButton(Request &r)
{
    const QString ci = r.Form(QStringLiteral("clientinput"));
    const QString dc = r.Form(ci + QStringLiteral("DC"));
    const QString cv = r.Form(QStringLiteral("clientvalue"));
    const int level = int(qBound(-32768.0, VbString::Val(r.Form(ci + QStringLiteral("Value"))), 32767.0));
    ObjectPtr device;
    if (hs && !dc.isEmpty()) {
        QString code = dc;
        qint16 ref = hs->DeviceExists(code);
        if (ref > -1)
            device = hs->GetDevice(ref);
    }
    const QString first = ci.left(1).toUpper();
    if (cv == QLatin1String("OFF") || cv == QLatin1String("ON") || cv == QLatin1String("DIM")) {
        if (!dc.isEmpty()) {
            if (first == QLatin1String("V")) {
                PluginCalls::SetIO(device, dc.left(1), dc.mid(1), 19, level);
            } else if (first == QLatin1String("X")) {
                PluginCalls::SetIO(device, dc.left(1), dc.mid(1), 19, cv == QLatin1String("ON") ? 1 : 0);
            } else {
                const int code = cv == QLatin1String("ON") ? 2 : cv == QLatin1String("OFF") ? 3 : 4;
                PluginCalls::Exec(device, dc.left(1), dc.mid(1), code, level);
            }
        }
    } else if (cv == QLatin1String("SEND")) {
        if (first == QLatin1String("M")) {
            QStringList items = dc.split(QLatin1Char(','));
            if (items.size() > kMacroItemLimit) {
                logSkip(QStringLiteral("a macro of ") + QString::number(items.size()) + QStringLiteral(" items plays its first ")
                        + QString::number(kMacroItemLimit));
                items = items.mid(0, kMacroItemLimit);
            }
            if (!dc.trimmed().isEmpty()) {
                for (int i = 0; i < items.size(); ++i) {
                    if (i > 0)
                        pauseBetweenItems();
                    const double loc = VbString::Val(items.at(i));
                    if (loc >= 0 && loc <= 1023)
                        PluginCalls::PlayIR(qint32(loc));
                    else
                        logSkip(QStringLiteral("no IR location ") + HtmlText::forLog(items.at(i)));
                }
            }
        } else if (ci.startsWith(QLatin1String("IR"), Qt::CaseInsensitive)) {
            const double loc = VbString::Val(ci.mid(2));
            if (loc >= 0 && loc <= 1023)
                PluginCalls::PlayIR(qint32(loc));
        } else {
            // The send button of an IR-module point names no IR location of its own.
            logSkip(QStringLiteral("no IR location for the row ") + HtmlText::forLog(ci));
        }
    }
    waitForPoll();
}

// The points table's column headings post only their own field: the one
// present names the sort key ("ID" sorts by the sort code). Pressing the
// heading of the current key again reverses the order; another heading sorts
// ascending by its key. Both are stored in double quotes, which the page
// frame strips when it reads them. True when the post was a heading's.
bool sortByHeading(const Request &r)
{
    static const std::pair<const char *, const char *> kHeadings[] = {
        {"ID", "DCSort"}, {"Status", "Status"}, {"Tag", "Tag"},         {"Ev", "Ev"},
        {"Name", "Name"}, {"Used", "Used"},     {"Changed", "Changed"}};
    for (const auto &[field, sortKey] : kHeadings) {
        if (!present(r, QLatin1String(field)))
            continue;
        const QString key = QLatin1String(sortKey);
        QString direction;
        if (hs) {
            const QString current =
                hs->getIniSetting(kSection, QStringLiteral("StatusSortKey"), QStringLiteral("DCSort"), kHostFile)
                    .remove(QLatin1Char('"'))
                    .trimmed();
            const QString was = hs->getIniSetting(kSection, QStringLiteral("StatusSortDirection"), QString(), kHostFile)
                                    .remove(QLatin1Char('"'))
                                    .trimmed();
            if (current.compare(key, Qt::CaseInsensitive) == 0 && was.compare(QLatin1String("DESC"), Qt::CaseInsensitive) != 0)
                direction = QStringLiteral("DESC");
        }
        saveHost(QStringLiteral("StatusSortKey"), QLatin1Char('"') + key + QLatin1Char('"'));
        saveHost(QStringLiteral("StatusSortDirection"), QLatin1Char('"') + direction + QLatin1Char('"'));
        return true;
    }
    return false;
}

QString hostPart(const QString &hostAndPort)
{
    return hostAndPort.trimmed().toLower();
}

} // namespace

void registerPostedForm()
{
    StatusPagePartsInstance().AddSetup = [](FastString &page) { AddSetup(page); };
    StatusPagePartsInstance().ClientRequest = [] { ClientRequest(); };
    SetPostedFormBridgeCalls({[] { return CheckScriptButtons(); }, [] { SaveDisplaySettings(); },
                              [] { SaveFilterSettigs(); }});
}

void SetPostedFormBridgeCalls(PostedFormBridgeCalls calls)
{
    bridgeCalls() = std::move(calls);
}

bool IsCrossSitePost(const Request &request)
{
    if (!request.Method().startsWith(QLatin1String("POST"), Qt::CaseInsensitive))
        return false;
    QString source = request.ServerVariables(QStringLiteral("Origin"));
    if (source.isEmpty())
        source = request.ServerVariables(QStringLiteral("Referer"));
    if (source.isEmpty())
        return false;
    const QString host = hostPart(request.ServerVariables(QStringLiteral("Host")));
    const QUrl url(source.trimmed());
    if (!url.isValid() || url.host().isEmpty())
        return true; // "null" and other opaque origins name no host of ours
    QString named = url.host().toLower();
    if (url.port() != -1)
        named += QLatin1Char(':') + QString::number(url.port());
    if (named == host)
        return false;
    // A Host header without its port matches an origin on the scheme's default port.
    const int defaultPort = url.scheme() == QLatin1String("https") ? 443 : 80;
    if (url.port() == -1 && host == url.host().toLower() + QLatin1Char(':') + QString::number(defaultPort))
        return false;
    if (url.port() == defaultPort && host == url.host().toLower())
        return false;
    return true;
}

bool ClientRequest(Request &request, Response &response)
{
    if (IsCrossSitePost(request)) {
        LogError(kType, QStringLiteral("Status ClientRequest refused a post from ")
                            + HtmlText::forLog(request.ServerVariables(QStringLiteral("Origin")).isEmpty()
                                                   ? request.ServerVariables(QStringLiteral("Referer"))
                                                   : request.ServerVariables(QStringLiteral("Origin"))));
        response.Redirect(QString());
        return false;
    }
    try {
        if (!request.Form(QStringLiteral("UpdateButton")).isEmpty()) {
            Save(request);
        } else if (bridgeCalls().checkScriptButtons && bridgeCalls().checkScriptButtons()) {
        } else if (!request.Form(QStringLiteral("Kestrel")).isEmpty()) {
            DeviceCreation::CreateKestrelDevice();
        } else if (!request.Form(QStringLiteral("Clock")).isEmpty()) {
            if (FrmTimer *f = FrmTimer::instance())
                f->start.SyncClock();
        } else if (!request.Form(QStringLiteral("Sync")).isEmpty()) {
            Sync();
        } else if (sortByHeading(request)) {
            // A heading carries no command: the page is built at once, in its new order.
        } else {
            rowButton(request);
        }
        if (hs)
            hs->FlushIniCache();
    } catch (const VbError &e) {
        LogError(kType, QStringLiteral("Status ClientRequest ") + e.description);
    } catch (const std::exception &e) {
        LogError(kType, QStringLiteral("Status ClientRequest ") + QString::fromLocal8Bit(e.what()));
    }
    return true;
}

void ClientRequest()
{
    Request *request = Headers::PageRequest();
    Response *response = Headers::PageResponse();
    if (request && response)
        ClientRequest(*request, *response);
}
