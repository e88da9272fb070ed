#include "web/status/PostedForm.h"

#include <tuple>

#include "web/HtmlText.h"
#include "web/PageWait.h"
#include "core/RefusalLog.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/chrome/Headers.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/SetupBlock.h"
#include "web/status/StatusPage.h"

#include "automation/Latin1Case.h"
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
#include "controller/SystemMap.h"
#include "controller/UnitMappings.h"
#include "controller/ui/FrmConfig.h"
#include "core/FastString.h"
#include "core/PageStyle.h"
#include "core/Logging.h"
#include "core/IniText.h"
#include "core/Globals.h"
#include "core/SavedFiles.h"
#include "core/Shutdown.h"
#include "host/Application.h"
#include "host/DeviceClass.h"
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

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>
#include <set>

namespace {

const QString kType = QStringLiteral("xaptvkKorvane");
// A macro plays with 100 ms between its items and nothing but sent events
// runs in those pauses; the list comes from the post, so its length is
// bounded to keep the whole program's wait under a second per button.
constexpr int kMacroItemLimit = 10;
// The most rows of one kind (device rows of a kind, macros, filters) a Save
// may carry: several times the largest controller's page, so that a stale
// tab holding rows deleted since still fits, while a post of tens of
// thousands of rows is refused whole instead of holding the program.
constexpr int kMostRowsOfAKind = 4096;
const QString kHostFile = QStringLiteral("tvkXapKorvane.ini");
const QString kSection = QStringLiteral("tspi_quillon");

QStringList &refusalNotes()
{
    static QStringList notes;
    return notes;
}

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
    enum Kind { Variable, X10, IO, IRCode };
    Kind kind = Variable;
    QString disp;  // display code as posted (upper case)
    QString dc;    // the row's device code as posted
    int number = 0; // variable number, I/O point index, IR location, X10 unit
    // An I/O row's unit and point, resolved before any device changes.
    int unit = -1;
    int point = 0;
};

const QRegularExpression kVariable(QStringLiteral("^V(\\d{1,3}):[0-9A-F]{2}$"));
const QRegularExpression kPoint(QStringLiteral("^X(\\d{1,4}):[0-9A-F]{2,3}$"));
const QRegularExpression kIR(QStringLiteral("^IR(\\d{1,4})$"));
const QRegularExpression kX10(QStringLiteral("^([A-P])(\\d{1,2})$"));
const QRegularExpression kMacro(QStringLiteral("^MAC(\\d{1,5})$"));

const umap *unitMap(int unit)
{
    for (const umap &m : gPlugin.UnitMaps)
        if (m.unit == unit)
            return &m;
    return nullptr;
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
    // The page lists the units found on the controller without devices after the mapped ones.
    static QList<umap> listed;
    listed = UnitMappings::ListedUnits(gPlugin.UnitMaps, gPlugin.UnitTypes);
    const int k = row.number / 16;
    if (k < 0 || k >= listed.size())
        return nullptr;
    point = row.number % 16;
    return &listed.at(k);
}

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
            if (const umap *u = pointUnit(row, row.point))
                row.unit = u->unit;
        } else if ((m = kIR.match(row.disp)).hasMatch()) {
            row.kind = PostedRow::IRCode;
            row.number = m.captured(1).toInt();
            if (row.number > 1023)
                continue;
        } else if ((m = kX10.match(row.disp)).hasMatch()) {
            row.kind = PostedRow::X10;
            row.number = m.captured(2).toInt();
            if (row.number < 1 || row.number > 16)
                continue;
        } else {
            continue;
        }
        rows.push_back(row);
    }
    return rows;
}

// A post can carry many rows and any values: what it skips is logged as
// refusals are, keyed by the kind of field (`field`) and the fault only.
// Neither the value nor the row (both chosen by the poster) is in the key:
// a post costs one entry per kind of refusal, whose first text names one
// row and its value and whose repeats are counted, and it cannot crowd out
// other refusals. Each refused row is still named in the page's note.
void logSkip(const QString &field, const QString &fault, const QString &text)
{
    RefusalLog::Log(kType, QStringLiteral("Status ClientRequest ") + text,
                    RefusalLog::Kind(QStringLiteral("Status ClientRequest ") + field, fault), kPostedFormLogBudget);
}

// A field the Save refused: logged, and noted on the page built after it.
void refuseField(const QString &field, const QString &fault, const QString &logText, const QString &note)
{
    logSkip(field, fault, logText);
    NoteRefusal(note);
}

// The host's devices by code, read once per pass: looking each posted row
// up in the device list would cost a scan of every device per row.
class DeviceCodes
{
public:
    DeviceCodes()
    {
        if (!hs)
            return;
        const int count = hs->DeviceCount();
        m_devices.reserve(count);
        for (int i = 1; i <= count; ++i)
            if (const DeviceClassPtr device = hs->deviceAt(i)) {
                // The first of a code, as DeviceExists finds it.
                if (const QString code = Latin1Case::lower(device->code()); !m_devices.contains(code))
                    m_devices.insert(code, device);
            }
    }
    DeviceClassPtr find(const QString &code) const
    {
        return code.isEmpty() ? nullptr : m_devices.value(Latin1Case::lower(code));
    }
    bool exists(const QString &code) const { return !code.isEmpty() && m_devices.contains(Latin1Case::lower(code)); }

private:
    QHash<QString, DeviceClassPtr> m_devices;
};

bool deviceExists(const QString &code)
{
    if (!hs || code.isEmpty())
        return false;
    QString c = code;
    return hs->DeviceExists(c) > -1;
}

// The device code the row's point has now, "" when it cannot have one yet.
QString currentCode(const PostedRow &row)
{
    switch (row.kind) {
    case PostedRow::Variable:
        return gPlugin.VarsHouseCode != 0 ? UnitMappings::variableCode(row.number) : QString();
    case PostedRow::X10:
        return row.disp;
    case PostedRow::IO: {
        const umap *m = row.unit >= 0 ? unitMap(row.unit) : nullptr;
        return m && !m->hc.isEmpty() ? m->hc + QString::number(row.point + 1) : QString();
    }
    default:
        return QString();
    }
}

// The in-use flags of the controller's points from the host's devices, so
// that devices made since start-up (by a script, another page, the dialog)
// count as used.
void refreshUsedFlags()
{
    // Before the plug-in has met the controller it may not know the
    // variables' house code yet; their devices tell it.
    if (gPlugin.VarsHouseCode == 0) {
        const QString found = UnitMappings::FindVarsHouseCode();
        if (!found.isEmpty())
            gPlugin.VarsHouseCode = found.at(0).unicode();
    }
    if (!hs)
        return;
    // One walk over the devices instead of a look-up per point.
    QSet<QString> codes;
    const int count = hs->DeviceCount();
    for (int i = 1; i <= count; ++i)
        if (const DeviceClassPtr device = hs->deviceAt(i))
            codes.insert(Latin1Case::lower(device->code()));
    auto has = [&](const QString &code) { return !code.isEmpty() && codes.contains(Latin1Case::lower(code)); };
    for (const umap &m : gPlugin.UnitMaps) {
        if (m.unit < 0 || m.unit >= int(gPlugin.PointUsed.size()) || m.hc.isEmpty())
            continue;
        for (int p = 0; p < 16; ++p)
            gPlugin.PointUsed[size_t(m.unit)][size_t(p)] = has(m.hc + QString::number(p + 1));
    }
    for (int k = 0; k < 256; ++k)
        gPlugin.X10Used[size_t(k)] = has(QString(QChar('A' + k / 16)) + QString::number(k % 16 + 1));
    if (gPlugin.VarsHouseCode != 0)
        for (int n = 0; n < 128; ++n)
            gPlugin.VarUsed[size_t(n)] = has(UnitMappings::variableCode(n));
}

// Takes the Used boxes the user changed. A row's posted code says whether
// its point had a device when the page was built; a box is taken only while
// that still holds, so a stale page cannot undo what was done since.
// What the Used boxes taken change.
struct UsedChanges
{
    std::vector<int> x10; // flag indexes of the X10 units
    bool variables = false;
    bool points = false;
};

UsedChanges usedPass(const Request &r, const std::vector<PostedRow> &rows, DeviceSelection &matrix)
{
    UsedChanges changes;
    const DeviceCodes devices;
    for (const PostedRow &row : rows) {
        if (row.kind == PostedRow::IRCode)
            continue;
        const bool used = ticked(r, row.disp + QStringLiteral("Used"));
        const bool shownUsed = !row.dc.isEmpty();
        if (used == shownUsed)
            continue;
        if (row.kind == PostedRow::IO && row.unit < 0) {
            refuseField(QStringLiteral("Used"), QStringLiteral("no I/O unit"),
                        QStringLiteral("no I/O unit for the row ") + HtmlText::forLog(row.disp),
                        QStringLiteral("The Used box of the row ") + row.disp
                            + QStringLiteral(" names no I/O unit of the controller; not taken."));
            continue;
        }
        if (devices.exists(currentCode(row)) != shownUsed) {
            refuseField(QStringLiteral("Used"), QStringLiteral("changed since"),
                        QStringLiteral("the row ") + HtmlText::forLog(row.disp)
                            + QStringLiteral(" changed since the page was built; its Used box is not taken"),
                        QStringLiteral("The row ") + row.disp
                            + QStringLiteral(" changed since the page was built; its Used box was not taken."));
            continue;
        }
        switch (row.kind) {
        case PostedRow::X10: {
            const int k = (row.disp.at(0).unicode() - 'A') * 16 + row.number - 1;
            gPlugin.X10Used[size_t(k)] = used;
            changes.x10.push_back(k);
            break;
        }
        case PostedRow::IO:
            if (matrix.rowOf(row.unit) >= 0) {
                matrix.setPoint(row.unit, row.point, used);
                changes.points = true;
            }
            break;
        case PostedRow::Variable:
            matrix.setVariable(row.number, used);
            changes.variables = true;
            break;
        default:
            break;
        }
    }
    return changes;
}

// Makes or removes the devices of the X10 units whose box the Save took. A
// new device is named from the project file; an existing one keeps its name.
void defineX10(const std::vector<int> &units)
{
    SystemMap &map = PointMap::records();
    const int h = map.localHeading(QStringLiteral("X-10"));
    for (int k : units) {
        const QString code = QString(QChar('A' + k / 16)) + QString::number(k % 16 + 1);
        const bool has = deviceExists(code);
        if (gPlugin.X10Used[size_t(k)] && !has) {
            if (h && map.exists(h + k + 1))
                PointMap::CreateNamedDevice(code, map.text(h + k + 1), false);
            else
                refuseField(QStringLiteral("Used"), QStringLiteral("no X10 unit in the project file"),
                            QStringLiteral("the project file names no X10 unit ") + code + QStringLiteral("; no device made"),
                            QStringLiteral("The project file names no X10 unit ") + code + QStringLiteral("; no device was made."));
        } else if (!gPlugin.X10Used[size_t(k)] && has) {
            DeviceCreation::RemoveDevice(code);
        }
    }
}

// One macro row of a post.
struct PostedMacro
{
    int row = 0;
    QString name, list;   // as posted
    QString shownName;    // as the page showed them
    QString shownList;
    bool hasShownName = false;
};

} // namespace

void NoteRefusal(const QString &text)
{
    refusalNotes().append(text);
}

QStringList TakeRefusalNotes()
{
    return std::exchange(refusalNotes(), QStringList());
}

namespace {

// A typed text the settings files cannot keep as typed: logged, and noted on
// the page built after the Save.
void refuseText(const QString &field, const QString &what, const QString &text, const QString &fault)
{
    refuseField(field, fault,
                what + QStringLiteral(" \"") + HtmlText::forLog(text) + QStringLiteral("\" ") + fault + QStringLiteral("; not taken"),
                what + QStringLiteral(" \"") + HtmlText::shortQuote(text) + QStringLiteral("\" ") + fault + QStringLiteral("; not taken."));
}

// Why a macro's name or list would not read back from [IRMacro] as typed,
// and which of the two it is; no fault when both would.
std::pair<QString, QString> macroFault(const QString &name, const QString &list)
{
    if (QString fault = IniText::keyFault(name, list); !fault.isEmpty())
        return {fault, name};
    return {IniText::valueFault(list, true), list};
}

} // namespace

std::vector<NamedEntry> ResolveRenames(std::vector<NamedEntry> entries, const std::function<void(const NamedEntry &)> &refused)
{
    // All renames of one Save are weighed together, whatever the rows' order:
    // a name kept as it was wins over a rename onto it, a rename over a new
    // entry, and an earlier row over a later one. A refused rename falls back
    // to the old name, which may in turn meet another entry's. Each entry
    // falls back at most once, so a post of many clashing rows costs time in
    // proportion to its rows, not to their square.
    auto rank = [](const NamedEntry &e) { return e.oldName.isNull() ? 2 : e.name == e.oldName ? 0 : 1; };
    QHash<QString, size_t> holder; // case-folded name -> entry holding it
    holder.reserve(qsizetype(entries.size()));
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return rank(entries[a]) < rank(entries[b]); });
    std::vector<size_t> pending;
    for (const size_t first : order) {
        pending.push_back(first);
        while (!pending.empty()) {
            const size_t i = pending.back();
            pending.pop_back();
            NamedEntry &entry = entries[i];
            const QString folded = entry.name.toCaseFolded();
            const auto it = holder.constFind(folded);
            if (it == holder.constEnd()) {
                holder.insert(folded, i);
                continue;
            }
            const size_t h = *it;
            // Equal ranks: the earlier row keeps the name.
            const bool entryLoses = rank(entry) > rank(entries[h]) || (rank(entry) == rank(entries[h]) && i > h);
            const size_t loserAt = entryLoses ? i : h;
            if (!entryLoses)
                holder.insert(folded, i);
            NamedEntry &loser = entries[loserAt];
            refused(loser);
            if (loser.oldName.isNull() || loser.name == loser.oldName) {
                loser.dropped = true;
            } else {
                loser.name = loser.oldName;
                loser.value = loser.oldValue;
                pending.push_back(loserAt);
            }
        }
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(), [](const NamedEntry &e) { return e.dropped; }),
                  entries.end());
    return entries;
}

namespace {

// Replaces the macros of the posted rows and keeps the ones the page did
// not carry. A row is matched to its stored macro by the name it showed
// (case ignored), or by its list when the post carries no shown name, and
// changes only the name or list its user edited; a row whose macro is gone
// since the page was built brings it back only when edited.
void saveMacros(const Request &r)
{
    Dictionary &dict = *gIRMacroDictionary;
    std::vector<std::pair<QString, QString>> before;
    for (int i = 0; i < dict.count(); ++i)
        before.emplace_back(dict.keyList()[size_t(i)].toString(), dict.itemList()[size_t(i)].toString());

    std::vector<PostedMacro> posted;
    for (const KeyValuePair &field : r.FormCol().items()) {
        const QString key = field.Key();
        if (!key.endsWith(QLatin1String("DC"), Qt::CaseInsensitive))
            continue;
        const QRegularExpressionMatch m = kMacro.match(key.left(key.size() - 2).toUpper());
        if (!m.hasMatch())
            continue;
        const QString code = key.left(key.size() - 2);
        PostedMacro pm;
        pm.row = m.captured(1).toInt();
        pm.name = r.Form(code);
        pm.list = r.Form(QStringLiteral("N") + m.captured(1));
        pm.shownList = field.Value();
        const KeyValuePair *shown = r.FormCol().find(code + QStringLiteral("Shown"));
        pm.hasShownName = shown != nullptr;
        pm.shownName = shown ? shown->Value() : QString();
        posted.push_back(pm);
    }
    if (posted.empty())
        return;

    // Each stored macro is claimed by at most one posted row. The look-ups
    // go through tables, so a post of many rows costs no scan per row.
    std::vector<int> claim(before.size(), -1);
    std::vector<int> rowOf(posted.size(), -1);
    auto take = [&](size_t p, size_t at) {
        claim[at] = int(p);
        rowOf[p] = int(at);
    };
    QHash<QString, size_t> byName;
    QHash<QString, std::vector<size_t>> byList; // stored macros of a list, in order
    for (size_t at = 0; at < before.size(); ++at) {
        byName.insert(before[at].first.toCaseFolded(), at);
        byList[before[at].second].push_back(at);
    }
    for (size_t p = 0; p < posted.size(); ++p) {
        if (posted[p].row == 0 || !posted[p].hasShownName)
            continue;
        const auto it = byName.constFind(posted[p].shownName.toCaseFolded());
        if (it != byName.constEnd() && claim[*it] < 0)
            take(p, *it);
    }
    // A post without the shown names: the row at its own position with its
    // own list, then any row with its list.
    for (size_t p = 0; p < posted.size(); ++p) {
        const size_t at = size_t(posted[p].row - 1);
        if (posted[p].row > 0 && !posted[p].hasShownName && at < before.size() && claim[at] < 0
            && before[at].second == posted[p].shownList)
            take(p, at);
    }
    QHash<QString, size_t> listCursor; // stored macros of a list already looked at
    for (size_t p = 0; p < posted.size(); ++p) {
        if (posted[p].row == 0 || posted[p].hasShownName || rowOf[p] >= 0)
            continue;
        const auto it = byList.constFind(posted[p].shownList);
        if (it == byList.constEnd())
            continue;
        size_t &cursor = listCursor[posted[p].shownList];
        while (cursor < it->size() && claim[(*it)[cursor]] >= 0)
            ++cursor;
        if (cursor < it->size())
            take(p, (*it)[cursor]);
    }

    auto rowName = [](int row) { return QStringLiteral("the macro row MAC") + QString::number(row); };
    std::vector<NamedEntry> entries;
    for (size_t at = 0; at < before.size(); ++at) {
        if (claim[at] < 0) {
            entries.push_back({before[at].first, before[at].second, before[at].first, before[at].second, 0});
            continue;
        }
        const PostedMacro &pm = posted[size_t(claim[at])];
        const bool nameEdited = !pm.hasShownName || pm.name != pm.shownName;
        QString name = nameEdited ? pm.name : before[at].first;
        QString list = pm.list != pm.shownList ? pm.list : before[at].second;
        if (name.isEmpty())
            continue; // the row's name was cleared: the macro goes
        if (const auto [fault, text] = macroFault(name, list); !fault.isEmpty()) {
            refuseText(QStringLiteral("macro"), rowName(pm.row), text, fault);
            name = before[at].first;
            list = before[at].second;
        }
        entries.push_back({name, list, before[at].first, before[at].second, pm.row});
    }
    // The new-macro row, and edited rows whose macro is gone since the page was built.
    for (size_t p = 0; p < posted.size(); ++p) {
        const PostedMacro &pm = posted[p];
        if (rowOf[p] >= 0 || pm.name.isEmpty())
            continue;
        if (pm.row > 0 && pm.name == pm.shownName && pm.list == pm.shownList)
            continue;
        if (const auto [fault, text] = macroFault(pm.name, pm.list); !fault.isEmpty()) {
            refuseText(QStringLiteral("macro"), rowName(pm.row), text, fault);
            continue;
        }
        entries.push_back({pm.name, pm.list, QString(), QString(), pm.row});
    }
    entries = ResolveRenames(std::move(entries), [&](const NamedEntry &e) {
        refuseText(QStringLiteral("macro"), rowName(e.row), e.name, QStringLiteral("is another macro's name"));
    });
    std::vector<std::pair<QString, QString>> after;
    for (const NamedEntry &e : entries)
        after.emplace_back(e.name, e.value);
    if (after == before)
        return;

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
        refuseField(what, QStringLiteral("not a number"),
                    what + QStringLiteral(" '") + HtmlText::forLog(posted) + QStringLiteral("' is not a number; ")
                        + HtmlText::forLog(stored) + QStringLiteral(" is kept"),
                    what + QStringLiteral(" \"") + HtmlText::shortQuote(posted) + QStringLiteral("\" is not a number; not taken."));
        return false;
    }
    // Stored as typed: the settings file's own limits hold for it too.
    if (const QString fault = IniText::valueFault(t); !fault.isEmpty()) {
        refuseText(what, what, t, fault);
        return false;
    }
    value = t;
    return true;
}

// Whether the user changed a field of the page's options or setup block:
// its posted value differs from the one the page showed beside it. A post
// without the shown value counts the field as changed.
bool changedOnPage(const Request &r, const QString &field, const QString &value)
{
    const KeyValuePair *shown = r.FormCol().find(field + QStringLiteral("Shown"));
    return !shown || shown->Value() != value;
}

QString boxValue(const Request &r, const QString &field)
{
    return ticked(r, field) ? QStringLiteral("1") : QStringLiteral("0");
}

bool boxChanged(const Request &r, const QString &field)
{
    return changedOnPage(r, field, boxValue(r, field));
}

// A text field of the page that its user changed.
bool fieldChanged(const Request &r, const QString &field)
{
    return present(r, field) && changedOnPage(r, field, r.Form(field));
}

// A typed setting that would not read back as typed is refused.
bool storableSetting(const QString &key, const QString &value)
{
    const QString fault = IniText::valueFault(value);
    if (!fault.isEmpty())
        refuseText(key, key, value, fault);
    return fault.isEmpty();
}

// A text setting of the setup block is shown as stored, without the quotes
// around it; it is written only when the post changed it, so that a Save
// of other things keeps its stored form.
bool textSetting(const Request &r, const QString &key, const QString &def, QString &value)
{
    if (!fieldChanged(r, key) || !hs)
        return false;
    value = r.Form(key);
    if (value == StoredText(hs->getIniSetting(kSection, key, def, kHostFile)))
        return false;
    return storableSetting(key, value);
}

// The serial-device server the link connects to when the address holds a
// ".": an IPv4 address or a host name. Without a "." the link takes the
// serial port, so a text such as "abc" or "::1" would be stored and then
// silently not used; empty is the way to ask for the serial port.
QString serverAddressFault(const QString &address)
{
    static const QRegularExpression ipv4(QStringLiteral("^(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(\\.(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)){3}$"));
    // Labels as name look-ups take them: LAN names often hold "_", and a
    // fully qualified name may end in ".".
    static const QRegularExpression name(QStringLiteral("^([A-Za-z0-9_-]{1,63}\\.)*[A-Za-z0-9_-]{1,63}\\.?$"));
    if (address.isEmpty())
        return QString();
    static const QString fault =
        QStringLiteral("is no IPv4 address or host name of a serial-device server (leave it empty for a serial port)");
    if (!address.contains(QLatin1Char('.')))
        return fault;
    // Digits and dots only: read as an address, so it must be one in its plain
    // form ("127.1" or "010.1.1.1" are read differently by different readers).
    if (std::all_of(address.begin(), address.end(), [](QChar c) { return c == QLatin1Char('.') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')); }))
        return ipv4.match(address).hasMatch() ? QString() : fault;
    // The link's socket looks a name up in its international (ASCII) form,
    // and cannot look up one that has none.
    const QByteArray ace = QUrl::toAce(address);
    if (ace.isEmpty() || ace.size() > 254 || !name.match(QString::fromLatin1(ace)).hasMatch())
        return fault;
    return QString();
}

// The periodic clock counts whole seconds in a Long; other numeric forms
// (signs, fractions, exponents, "&H") read differently in different places
// and a negative period cannot be counted at all.
bool wholeSeconds(const QString &text)
{
    return PluginSettings::digitsNumber(text, std::numeric_limits<qint32>::max()) >= 0;
}

// The link takes a serial-device server's port only from 101 on (lower
// numbers are serial ports); an address with a "." names such a server.
bool serverLinkFault(const QString &address, const QString &port)
{
    return address.contains(QLatin1Char('.')) && VbString::Val(port) < 101;
}

void saveSettings(const Request &r)
{
    // The server address and its port are one setting of the link: each is
    // checked alone, then the pair the file would hold, so that neither half
    // is stored into a pair the link refuses to use.
    QString address;
    bool addressTaken = false;
    if (QString v; textSetting(r, QStringLiteral("SerialIP"), QString(), v)) {
        if (const QString fault = serverAddressFault(v); !fault.isEmpty())
            refuseText(QStringLiteral("SerialIP"), QStringLiteral("SerialIP"), v, fault);
        else
            address = v, addressTaken = true;
    }
    QString port;
    bool portTaken = false;
    if (fieldChanged(r, QStringLiteral("CommPort"))) {
        const QString stored = hs ? hs->getIniSetting(kSection, QStringLiteral("CommPort"), QStringLiteral("1"), kHostFile)
                                        .remove(QLatin1Char('"'))
                                  : QString();
        QString v;
        if (numericSetting(r.Form(QStringLiteral("CommPort")), stored, QStringLiteral("CommPort"), v)
            && PluginSettings::wholeNumber(v, 1) < 0) {
            refuseText(QStringLiteral("CommPort"), QStringLiteral("CommPort"), v,
                       QStringLiteral("is no port (a whole number from 1 to 65535)"));
        } else if (!v.isEmpty()) {
            port = QString::number(qint64(VbString::Val(v)));
            portTaken = true;
        }
    }
    if (hs && (addressTaken || portTaken)) {
        const QString pairAddress = addressTaken
            ? address
            : StoredText(hs->getIniSetting(kSection, QStringLiteral("SerialIP"), QString(), kHostFile));
        const QString pairPort = portTaken
            ? port
            : hs->getIniSetting(kSection, QStringLiteral("CommPort"), QStringLiteral("1"), kHostFile).remove(QLatin1Char('"'));
        if (serverLinkFault(pairAddress, pairPort)) {
            // The fault (the log's kind) names no value; the note names the pair.
            static const QString fault =
                QStringLiteral("is no port of a serial-device server (from 101 to 65535), which the link needs");
            const QString pair = QStringLiteral("SerialIP \"") + HtmlText::shortQuote(pairAddress)
                + QStringLiteral("\" with CommPort ") + pairPort;
            const QString why = QStringLiteral(" would pair ") + pair + QStringLiteral(": a serial-device server's port is from 101 to 65535");
            for (const auto &[taken, field, text] : {std::tuple(addressTaken, QStringLiteral("SerialIP"), address),
                                                     std::tuple(portTaken, QStringLiteral("CommPort"), port)}) {
                if (taken)
                    refuseField(field, fault,
                                field + QStringLiteral(" \"") + HtmlText::forLog(text) + QStringLiteral("\"") + why
                                    + QStringLiteral("; not taken"),
                                field + QStringLiteral(" \"") + HtmlText::shortQuote(text) + QStringLiteral("\"") + why
                                    + QStringLiteral("; not taken."));
            }
            addressTaken = portTaken = false;
        }
    }
    if (addressTaken) {
        gSerialIPAddress = address;
        saveHost(QStringLiteral("SerialIP"), address);
    }
    if (portTaken) {
        gCommPort = port;
        saveHost(QStringLiteral("CommPort"), port);
    }
    if (fieldChanged(r, QStringLiteral("poll_interval"))) {
        const QString typed = r.Form(QStringLiteral("poll_interval"));
        const QString stored = PluginSettings::setting(QStringLiteral("poll_interval"), QStringLiteral("2000"));
        const int ms = PluginSettings::pollInterval(typed);
        if (ms < 0) {
            refuseField(QStringLiteral("poll_interval"), PluginSettings::kPollIntervalRule,
                        QStringLiteral("poll_interval \"") + HtmlText::forLog(typed) + QStringLiteral("\": ")
                            + PluginSettings::kPollIntervalRule + QStringLiteral("; ") + HtmlText::forLog(stored)
                            + QStringLiteral(" is kept"),
                        PluginSettings::kPollIntervalRule + QStringLiteral("; \"") + HtmlText::shortQuote(typed) + QStringLiteral("\" was not taken."));
        } else if (QString::number(ms) != stored) {
            gPlugin.PollInterval = QString::number(ms);
            savePlugin(QStringLiteral("poll_interval"), gPlugin.PollInterval);
            // A running poll with no interval (0) never ticks to take the new one.
            if (FrmTimer *f = FrmTimer::instance(); f && f->Timer2.isEnabled())
                f->EnablePollTimer(true);
        }
    }
    if (fieldChanged(r, QStringLiteral("PeriodicScriptInterval"))) {
        QString v;
        const QString stored = PluginSettings::setting(QStringLiteral("PeriodicScriptInterval"), QStringLiteral("0"));
        if (r.Form(QStringLiteral("PeriodicScriptInterval")).trimmed().isEmpty()) {
            // An emptied period is no number: the script no longer runs by
            // itself, also after a restart, where an empty key would read as "0".
            if (stored != PluginSettings::kNeverPeriod) {
                savePlugin(QStringLiteral("PeriodicScriptInterval"), PluginSettings::kNeverPeriod);
                SetScriptPeriod(PluginSettings::kNeverPeriod);
            }
        } else if (numericSetting(r.Form(QStringLiteral("PeriodicScriptInterval")), stored,
                           QStringLiteral("PeriodicScriptInterval"), v)
            && !wholeSeconds(v)) {
            refuseText(QStringLiteral("PeriodicScriptInterval"), QStringLiteral("PeriodicScriptInterval"), v,
                       QStringLiteral("is no whole number of seconds from 0 to 2147483647"));
        } else if (!v.isEmpty()) {
            savePlugin(QStringLiteral("PeriodicScriptInterval"), v);
            SetScriptPeriod(v);
        }
    }
    if (boxChanged(r, QStringLiteral("DebugLog"))) {
        gPlugin.DebugLogFlag = ticked(r, QStringLiteral("DebugLog"));
        savePlugin(QStringLiteral("DebugLog"), gPlugin.DebugLogFlag ? QStringLiteral("True") : QStringLiteral("False"));
    }
    if (fieldChanged(r, QStringLiteral("ServerPort"))) {
        const QString stored =
            hs ? hs->getIniSetting(kSection, QStringLiteral("HTTPPort"), QStringLiteral("8010"), kHostFile).remove(QLatin1Char('"'))
               : QString();
        QString v;
        if (numericSetting(r.Form(QStringLiteral("ServerPort")), stored, QStringLiteral("ServerPort"), v)) {
            // Digits only, as the link's port: Val would also take "1e3", "&H1F90" or "+8012".
            const int n = PluginSettings::wholeNumber(v, 1);
            if (n < 0) {
                refuseField(QStringLiteral("ServerPort"), QStringLiteral("no TCP port"),
                            QStringLiteral("ServerPort ") + HtmlText::forLog(v) + QStringLiteral(" is no TCP port; kept"),
                            QStringLiteral("ServerPort \"") + HtmlText::shortQuote(r.Form(QStringLiteral("ServerPort")))
                                + QStringLiteral("\" is no TCP port (1 to 65535); not taken."));
            } else {
                gHTTPPort = QString::number(n);
                saveHost(QStringLiteral("HTTPPort"), gHTTPPort);
            }
        }
    }
    // Checked here first: a refused value is logged through the refusal
    // log, keyed by its field, however many different ones are posted.
    if (QString v; textSetting(r, QStringLiteral("Background"), QStringLiteral("#000000"), v)) {
        if (PageStyle::IsSafeBackground(v) && PageStyle::TakeBackground(gBackground, v, QStringLiteral("Status ClientRequest")))
            saveHost(QStringLiteral("Background"), gBackground);
        else
            refuseText(QStringLiteral("Background"), QStringLiteral("Background"), v, QStringLiteral("is not a colour"));
    }
    if (QString v; textSetting(r, QStringLiteral("StyleSheet"), QStringLiteral("StyleNoBody.css"), v)) {
        if (PageStyle::IsSafeStyleSheet(v) && PageStyle::TakeStyleSheet(gStyleSheet, v, QStringLiteral("Status ClientRequest")))
            saveHost(QStringLiteral("StyleSheet"), gStyleSheet);
        else
            refuseText(QStringLiteral("StyleSheet"), QStringLiteral("StyleSheet"), v,
                       QStringLiteral("is not a relative path under the HTML folder"));
    }
    if (boxChanged(r, QStringLiteral("log_errors"))) {
        gPlugin.LogErrors = ticked(r, QStringLiteral("log_errors")) ? 1 : 0;
        savePlugin(QStringLiteral("log_errors"), flag(gPlugin.LogErrors));
    }
    if (boxChanged(r, QStringLiteral("log_comms"))) {
        gPlugin.LogComms = ticked(r, QStringLiteral("log_comms")) ? 1 : 0;
        savePlugin(QStringLiteral("log_comms"), flag(gPlugin.LogComms));
    }
    if (boxChanged(r, QStringLiteral("Recognition")))
        savePlugin(QStringLiteral("Recognition"), flag(ticked(r, QStringLiteral("Recognition"))));
    for (const char *key : {"ProjectFile", "QPROFile", "IRPROFile"}) {
        const QString k = QString::fromLatin1(key);
        if (fieldChanged(r, k) && storableSetting(k, r.Form(k)))
            savePlugin(k, r.Form(k));
    }
}

// What a row showed: its trigger flag and its tag; unknown for a post
// without it, whose fields are then taken as they are.
struct Shown
{
    bool known = false;
    bool event = false;
    QString tag;
};

Shown shownOf(const Request &r, const QString &disp)
{
    const KeyValuePair *field = r.FormCol().find(disp + QStringLiteral("Shown"));
    if (!field)
        return {};
    const QString v = field->Value();
    return {true, v.startsWith(QLatin1Char('1')), v.mid(1)};
}

// A tag or trigger typed in a row that nothing can keep it in.
void noteNoDevice(const QString &disp, const QString &tag, bool tagTyped, bool eventTyped)
{
    const QString what = tagTyped && eventTyped ? QStringLiteral("its tag and event were")
        : tagTyped                              ? QStringLiteral("its tag \"") + HtmlText::shortQuote(tag) + QStringLiteral("\" was")
                                                : QStringLiteral("its event was");
    refuseField(QStringLiteral("tag"), QStringLiteral("no device"),
                QStringLiteral("no device for the row ") + HtmlText::forLog(disp, 80) + QStringLiteral("; tag ")
                    + HtmlText::forLog(tag) + QStringLiteral(" not taken"),
                QStringLiteral("The row ") + disp + QStringLiteral(" is no device, which alone keeps a tag and an event; ")
                    + what + QStringLiteral(" not taken."));
}

// Stores the tags and trigger flags the user changed. Runs after the
// devices were made, so that a tag typed in the row whose Used box made the
// device reaches it.
void tagsPass(const Request &r, const std::vector<PostedRow> &rows)
{
    const DeviceCodes devices;
    for (const PostedRow &row : rows) {
        const KeyValuePair *tag = r.FormCol().find(row.disp + QStringLiteral("Tag"));
        const bool event = ticked(r, row.disp + QStringLiteral("Event"));
        const Shown shown = shownOf(r, row.disp);
        bool tagEdited = tag && (!shown.known || tag->Value() != shown.tag);
        const bool eventEdited = !shown.known || event != shown.event;
        if (tagEdited) {
            if (const QString fault = IniText::tagFault(tag->Value()); !fault.isEmpty()) {
                refuseText(QStringLiteral("tag"), QStringLiteral("the tag of the row ") + row.disp, tag->Value(), fault);
                tagEdited = false;
            }
        }
        if (!tagEdited && !eventEdited)
            continue;
        ObjectPtr target;
        if (row.kind == PostedRow::IRCode) {
            // The code names the slot; a code that disagrees with its row is not this page's.
            if (row.dc.compare(QStringLiteral("R") + QString::number(row.number), Qt::CaseInsensitive) != 0
                || !gIRSlots || row.number + 1 > gIRSlots->count()) {
                refuseField(QStringLiteral("tag"), QStringLiteral("no IR slot"),
                            QStringLiteral("no IR slot for the row ") + HtmlText::forLog(row.disp),
                            QStringLiteral("The controller has no IR slot for the row ") + row.disp
                                + QStringLiteral("; its tag and event were not taken."));
                continue;
            }
            target = gIRSlots->item(Variant::fromLong(row.number + 1)).toObject();
        } else {
            target = hs ? devices.find(row.dc.isEmpty() ? currentCode(row) : row.dc) : nullptr;
            if (!target) {
                // Only a device keeps a row's tag and trigger: what its user
                // typed in a row without one is refused, not lost.
                const bool tagTyped = tagEdited && (shown.known || !tag->Value().isEmpty());
                const bool eventTyped = eventEdited && (shown.known || event);
                if (tagTyped || eventTyped)
                    noteNoDevice(row.disp, tagTyped ? tag->Value() : QString(), tagTyped, eventTyped);
                continue;
            }
        }
        if (tagEdited)
            target->let(QStringLiteral("ScriptTag"), Variant(tag->Value()));
        if (eventEdited)
            target->let(QStringLiteral("TriggerEvent"), Variant(event));
    }
}

// The page's option boxes its user changed; the others keep what they are
// now, whatever the page showed.
void saveIncludeOptions(const Request &r)
{
    const std::pair<const char *, bool *> options[] = {
        {"IncludeVariables", &gPlugin.IncludeVariables}, {"IncludeIO", &gPlugin.IncludeIO},
        {"IncludeIR", &gPlugin.IncludeIR},               {"IncludeX10", &gPlugin.IncludeX10},
        {"IncludeSetup", &gPlugin.IncludeSetup},         {"ShowOnlyUsed", &gPlugin.ShowOnlyUsed}};
    for (const auto &[name, option] : options) {
        const QString key = QLatin1String(name);
        if (!boxChanged(r, key))
            continue;
        *option = ticked(r, key);
        savePlugin(key, flag(*option));
    }
}

// The kind of row of which the post carries more than a Save takes, "" when
// none.
QString overfullKind(const Request &r, const std::vector<PostedRow> &rows)
{
    int counts[4] = {};
    for (const PostedRow &row : rows)
        ++counts[row.kind];
    static const char *const kNames[4] = {"variable", "X10", "I/O", "IR"};
    for (int k = 0; k < 4; ++k)
        if (counts[k] > kMostRowsOfAKind)
            return QLatin1String(kNames[k]);
    int macros = 0;
    int filters = 0;
    for (const KeyValuePair &field : r.FormCol().items()) {
        const QString &key = field.Key();
        if (key.startsWith(QLatin1String("MAC"), Qt::CaseInsensitive) && key.endsWith(QLatin1String("DC"), Qt::CaseInsensitive))
            ++macros;
        else if (key.startsWith(QLatin1String("FilterKey"), Qt::CaseInsensitive))
            ++filters;
    }
    if (macros > kMostRowsOfAKind)
        return QStringLiteral("macro");
    if (filters > kMostRowsOfAKind)
        return QStringLiteral("filter");
    return QString();
}

// Fields a hand-made post carries that the Save would otherwise drop in
// silence: a second copy of a field (the first is taken), the setup block's
// fields without the block, and row fields that name no row the page has.
void noteDroppedFields(const Request &r, const std::vector<PostedRow> &rows, bool setupPosted)
{
    for (const QString &key : r.FormCol().repeated())
        refuseField(QStringLiteral("post"), QStringLiteral("field repeated"),
                    QStringLiteral("the field ") + HtmlText::forLog(key, 80) + QStringLiteral(" posted more than once; the first taken"),
                    QStringLiteral("The post carried the field ") + key
                        + QStringLiteral(" more than once; only its first copy was taken."));
    if (!setupPosted) {
        static const char *const kSetupFields[] = {"SerialIP",   "CommPort",   "PeriodicScriptInterval", "DebugLog",
                                                   "ServerPort", "Background", "StyleSheet", "log_errors", "log_comms",
                                                   "Recognition", "ProjectFile", "QPROFile", "IRPROFile"};
        for (const char *name : kSetupFields) {
            if (!present(r, QLatin1String(name)))
                continue;
            refuseField(QStringLiteral("post"), QStringLiteral("setup without poll_interval"),
                        QStringLiteral("setup fields posted without poll_interval; none taken"),
                        QStringLiteral("The post carried setup fields without poll_interval, which the setup block always "
                                       "posts; no setup field was taken."));
            break;
        }
    }
    // A macro is no device: its row shows an empty tag and an unticked
    // event, and whatever its user puts there has nowhere to go.
    static const QRegularExpression macroField(QStringLiteral("^(MAC\\d+)(TAG|EVENT)$"));
    for (const KeyValuePair &field : r.FormCol().items()) {
        const QRegularExpressionMatch m = macroField.match(field.Key().toUpper());
        if (!m.hasMatch())
            continue;
        const bool tag = m.captured(2) == QLatin1String("TAG");
        if (tag && field.Value().isEmpty())
            continue;
        noteNoDevice(m.captured(1), field.Value(), tag, !tag);
    }
    // A row's fields go with its hidden code field, and only rows the
    // controller can have are read.
    static const QRegularExpression rowField(QStringLiteral("^(V\\d+:.*|X\\d+:.*|IR\\d+|[A-P]\\d+)(TAG|USED|EVENT)$"));
    QSet<QString> known;
    for (const PostedRow &row : rows)
        known.insert(row.disp);
    for (const KeyValuePair &field : r.FormCol().items()) {
        const QRegularExpressionMatch m = rowField.match(field.Key().toUpper());
        if (!m.hasMatch() || known.contains(m.captured(1)))
            continue;
        refuseField(QStringLiteral("post"), QStringLiteral("no such row"),
                    QStringLiteral("the field ") + HtmlText::forLog(field.Key(), 80) + QStringLiteral(" names no row of the page"),
                    QStringLiteral("The post carried the field ") + field.Key()
                        + QStringLiteral(", which names no row of the page; not taken."));
    }
}

void Save(Request &r)
{
    const std::vector<PostedRow> rows = postedRows(r);
    if (const QString kind = overfullKind(r, rows); !kind.isEmpty()) {
        const QString text = QStringLiteral("a Save of more than ") + QString::number(kMostRowsOfAKind) + QLatin1Char(' ')
            + kind + QStringLiteral(" rows");
        RefusalLog::Log(kType, QStringLiteral("Status ClientRequest refused ") + text + QStringLiteral("; nothing taken"),
                        RefusalLog::Kind(QStringLiteral("Status ClientRequest Save"), QStringLiteral("rows of a kind")),
                        kPostedFormLogBudget);
        NoteRefusal(QStringLiteral("The page refused ") + text + QStringLiteral("; nothing was saved."));
        return;
    }
    // The setup block's fields are read only from a page that carried them.
    // Decided by the post alone: another tab may have switched the block off
    // since this page was built, and its user's edits still count.
    const bool setupPosted = present(r, QStringLiteral("poll_interval"));
    if (r.FormReadAsCodePage())
        refuseField(QStringLiteral("post"), QStringLiteral("not UTF-8"), QStringLiteral("a Save not in UTF-8 read as Windows-1252"),
                    QStringLiteral("The post was not UTF-8, as this page posts, but as a tab of the page's older version "
                                   "posted: all its text was read as Windows-1252. Check what it stored."));
    noteDroppedFields(r, rows, setupPosted);
    {
        // A model of the dialog's own, from the host's devices: a dialog the
        // user has open keeps its unconfirmed boxes and stays open.
        refreshUsedFlags();
        const std::unique_ptr<FrmConfig> model = FrmConfig::Standalone();
        DeviceSelection &matrix = model->matrix;
        UsedChanges changes = usedPass(r, rows, matrix);
        if (setupPosted) {
            for (int i = 0; i < 16 && i < matrix.rows.size(); ++i) {
                const QString box = QStringLiteral("Y") + QString::number(i);
                const int inverted = ticked(r, box) ? 1 : 0;
                const KeyValuePair *shown = r.FormCol().find(box + QStringLiteral("Shown"));
                // A unit without a box (an RLY-8) posts no shown state: nothing to take.
                if (!shown || (shown->Value() == QLatin1String("1") ? 1 : 0) == inverted)
                    continue; // the user left the box as shown
                if (matrix.aInvert[size_t(i)] != inverted) {
                    matrix.aInvert[size_t(i)] = inverted;
                    changes.points = true;
                }
            }
        }
        // Devices are made and removed only for the kinds whose boxes the
        // user changed: a page that changed none leaves every device alone.
        // Each block counts when the post carries its rows, whatever the
        // options are now: another tab may have switched a block off since
        // this page was built, and its user's edits still count.
        const int flags = (changes.variables ? 1 : 0) + (changes.points ? 2 : 0);
        if (flags != 0)
            model->CreateVariablesAndIO(flags);
        defineX10(changes.x10);
        saveMacros(r);
        if (setupPosted)
            saveSettings(r);
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
    // An open dialog shows the devices as they are now.
    if (FrmConfig *dialog = FrmConfig::instance())
        dialog->RefreshMatrices();
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

// Only sent events pass between the items of a macro.
void pauseBetweenItems()
{
    QDeadlineTimer deadline(100);
    Shutdown::WaitScope waiting(Shutdown::Wait::MacroPause);
    // A stop signal's own event cannot come through here: the signal ends the pause itself.
    while (!deadline.hasExpired() && !gShuttingDown && !gStopSignalled) {
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
    const bool macro = kMacro.match(ci.toUpper()).hasMatch();
    if (cv == QLatin1String("OFF") || cv == QLatin1String("ON") || cv == QLatin1String("DIM")) {
        if (!dc.isEmpty() && !macro) {
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
        if (macro) {
            QStringList items = dc.split(QLatin1Char(','));
            if (items.size() > kMacroItemLimit) {
                const QString text = QStringLiteral("a macro of ") + QString::number(items.size())
                    + QStringLiteral(" items plays its first ") + QString::number(kMacroItemLimit);
                refuseField(QStringLiteral("macro button"), QStringLiteral("too many items"), text,
                            QStringLiteral("The macro button carried ") + QString::number(items.size())
                                + QStringLiteral(" items; the page played its first ") + QString::number(kMacroItemLimit)
                                + QStringLiteral(" only."));
                items = items.mid(0, kMacroItemLimit);
            }
            if (!dc.trimmed().isEmpty()) {
                for (int i = 0; i < items.size(); ++i) {
                    if (i > 0)
                        pauseBetweenItems();
                    if (gShuttingDown || gStopSignalled)
                        break;
                    const double loc = VbString::Val(items.at(i));
                    if (loc >= 0 && loc <= 1023)
                        PluginCalls::PlayIR(qint32(loc));
                    else
                        logSkip(QStringLiteral("macro button"), QStringLiteral("no IR location"),
                                QStringLiteral("no IR location ") + HtmlText::forLog(items.at(i)));
                }
            }
        } else if (ci.startsWith(QLatin1String("IR"), Qt::CaseInsensitive)) {
            const double loc = VbString::Val(ci.mid(2));
            if (loc >= 0 && loc <= 1023)
                PluginCalls::PlayIR(qint32(loc));
        } else {
            // The send button of an IR-module point names no IR location of its own.
            logSkip(QStringLiteral("send button"), QStringLiteral("no IR location"),
                    QStringLiteral("no IR location for the row ") + HtmlText::forLog(ci));
        }
    }
    PageWait::Request();
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
    // The Host header writes an IPv6 address in brackets, as the origin did before it was parsed.
    QString origin = url.host().toLower();
    if (origin.contains(QLatin1Char(':')))
        origin = QLatin1Char('[') + origin + QLatin1Char(']');
    QString named = origin;
    if (url.port() != -1)
        named += QLatin1Char(':') + QString::number(url.port());
    if (named == host)
        return false;
    // A Host header without its port matches an origin on the scheme's default port.
    const int defaultPort = url.scheme() == QLatin1String("https") ? 443 : 80;
    if (url.port() == -1 && host == origin + QLatin1Char(':') + QString::number(defaultPort))
        return false;
    if (url.port() == defaultPort && host == origin)
        return false;
    return true;
}

bool ClientRequest(Request &request, Response &response)
{
    refusalNotes().clear();
    if (IsCrossSitePost(request)) {
        RefusalLog::Log(kType, QStringLiteral("Status ClientRequest refused a post from ")
                                   + HtmlText::forLog(request.ServerVariables(QStringLiteral("Origin")).isEmpty()
                                                          ? request.ServerVariables(QStringLiteral("Referer"))
                                                          : request.ServerVariables(QStringLiteral("Origin")), 80),
                        QStringLiteral("Status ClientRequest cross-site post"), kPostedFormLogBudget);
        response.Redirect(QString());
        return false;
    }
    const quint64 saveSerial = SavedFiles::failureSerial();
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
        LogError(kType, QStringLiteral("Status ClientRequest ") + CutLogText(e.description));
    } catch (const std::exception &e) {
        LogError(kType, QStringLiteral("Status ClientRequest ") + QString::fromLocal8Bit(e.what()));
    }
    // The page built next must not show as stored what never reached the disk.
    if (const QList<SavedFiles::Failure> failed = SavedFiles::failuresSince(saveSerial); !failed.isEmpty())
        refusalNotes().prepend(QStringLiteral("Not saved: ") + SavedFiles::describe(failed) + QLatin1Char('.'));
    return true;
}

void ClientRequest()
{
    Request *request = Headers::PageRequest();
    Response *response = Headers::PageResponse();
    if (request && response)
        ClientRequest(*request, *response);
}
