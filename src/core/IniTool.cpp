#include "core/IniTool.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/SavedFiles.h"
#include "core/Shutdown.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "automation/VbError.h"
#include "automation/Latin1Case.h"

#include <QFile>
#include <QSet>
#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace {

const QChar kKeySeparator(3);
// A log entry names this many repeated sections and keys, then counts the rest.
constexpr qsizetype kNamedDuplicates = 10;

QString trimSpaces(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start) == QLatin1Char(' '))
        ++start;
    while (end > start && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(start, end - start);
}

// Characters that would end or cut a line of the written file.
QString withoutLineBreaks(QString text)
{
    for (QChar& c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return text;
}

// A line that a reader would take differently: "=" ends the key early, a line that starts
// with ";" is a comment, one that starts with "[" and ends with "]" is a section, and one
// that starts with a blank loses it. Keys such as "[6" (the I/O devices' house character)
// are read back whole as long as their line does not end in "]".
bool unreadableLine(const QString& key, const QString& value)
{
    if (key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char(' ')))
        return true;
    qsizetype end = value.size();
    while (end > 0 && value.at(end - 1) == QLatin1Char(' '))
        --end;
    return key.startsWith(QLatin1Char('[')) && end > 0 && value.at(end - 1) == QLatin1Char(']');
}

QStringList splitLines(const QByteArray& data)
{
    // Any of CR LF, LF or CR ends a line, as the line reader of a text file does.
    QStringList lines;
    const QString text = AnsiCodePage::decode(data);
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

// The files whose save failed before the plug-in registered, and has not succeeded since.
QSet<QString>& failingBeforeRegistration()
{
    static QSet<QString> files;
    return files;
}

}  // namespace

QString IniTool::valueKey(const QString& section, const QString& key)
{
    return section + kKeySeparator + key;
}

qint64 IniTool::entryBytes(const QString& key, const QString& item)
{
    // The key is held twice (as written and lower-cased for the index), the item once, plus
    // the list slot, the hash node and the blocks' headers.
    constexpr qint64 kEntryOverhead = 160;
    return 2 * (2 * qint64(key.size()) + qint64(item.size())) + kEntryOverhead;
}

qint64 IniTool::writeGrowth(const QString& section, const QString& key, const QString& value) const
{
    qint64 growth = find(section) ? 0 : entryBytes(section, section);
    const QString fullKey = valueKey(section, key);
    if (const Entry* entry = find(fullKey))
        return growth + 2 * (qint64(value.size()) - qint64(entry->item.size()));
    return growth + entryBytes(fullKey, value);
}

const IniTool::Entry* IniTool::find(const QString& key) const
{
    const auto it = m_index.constFind(Latin1Case::lower(key));
    return it == m_index.constEnd() ? nullptr : &m_entries.at(*it);
}

void IniTool::insert(const QString& key, const QString& item, bool isSection)
{
    m_index.insert(Latin1Case::lower(key), m_entries.size());
    m_entries.append(Entry{key, item, isSection});
    m_bytes += entryBytes(key, item);
}

void IniTool::addSection(const QString& section)
{
    if (!find(section))
        insert(section, section, true);
}

void IniTool::Load(const QString& file)
{
    m_file = file;
    Clear();
    QFile in(file);
    if (!QFileInfo(file).isFile() || !in.open(QIODevice::ReadOnly))
        return;
    QByteArray data = in.readAll();
    // An editor may put a UTF-8 byte-order mark first; left in, it would hide the first section.
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QString section;
    int lineNumber = 0;
    // A user who appends a second block of a section sees its repeated keys ignored, and gone
    // at the next save: the log says which, once per load.
    QStringList repeatedSections;
    QStringList droppedKeys;
    int droppedCount = 0;
    // A file that is no INI file at all (a script may point the reader at any file) has a bad
    // line on nearly every line: one entry for the load, with the count.
    int badLines = 0;
    int firstBadLine = 0;
    for (const QString& raw : splitLines(data)) {
        ++lineNumber;
        const QString line = trimSpaces(raw);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.size() >= 2 && line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            if (find(section)) {
                if (repeatedSections.size() < kNamedDuplicates)
                    repeatedSections.append(QLatin1Char('[') + section + QLatin1Char(']'));
            }
            addSection(section);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            if (badLines++ == 0)
                firstBadLine = lineNumber;
            continue;
        }
        const QString key = valueKey(section, line.left(eq));
        if (!find(key)) {
            insert(key, line.mid(eq + 1), false);
        } else {
            if (droppedKeys.size() < kNamedDuplicates)
                droppedKeys.append(QLatin1Char('[') + section + QLatin1Char(']') + line.left(eq));
            ++droppedCount;
        }
    }
    if (badLines > 0 && gPluginHostRegistered) {
        QString text = QStringLiteral(" Equal sign not found on line ") + QString::number(firstBadLine) + QStringLiteral(" of ") + file;
        if (badLines > 1)
            text += QStringLiteral(" (%1 lines without one)").arg(badLines);
        // Loads a script drives, file after file, count as repeats of one entry.
        LogMemberError(QStringLiteral("IniTool"), text, QStringLiteral("IniTool"), QStringLiteral("Equal sign not found"));
    }
    if (!repeatedSections.isEmpty() || droppedCount > 0) {
        QString text = QStringLiteral("IniTool ") + file + QStringLiteral(": the first of equal sections and keys is kept;");
        if (!repeatedSections.isEmpty())
            text += QStringLiteral(" repeated section(s) ") + repeatedSections.join(QStringLiteral(", ")) + QLatin1Char(';');
        if (droppedCount > 0) {
            text += QStringLiteral(" ") + QString::number(droppedCount) + QStringLiteral(" later key(s) dropped: ")
                + droppedKeys.join(QStringLiteral(", "));
            if (droppedCount > droppedKeys.size())
                text += QStringLiteral(", ...");
        }
        LogMemberError(kProgramName, text, QStringLiteral("IniTool"), QStringLiteral("first of equal sections and keys is kept"));
    }
}

QString IniTool::Read(const QString& section, const QString& key, const QString& defaultValue) const
{
    const Entry* entry = find(valueKey(section, key));
    if (!entry || entry->item.isEmpty())
        return defaultValue;
    return entry->item;
}

void IniTool::WriteKey(const QString& section, const QString& key, const QString& value)
{
    addSection(section);
    const QString fullKey = valueKey(section, key);
    const auto it = m_index.constFind(Latin1Case::lower(fullKey));
    if (it != m_index.constEnd()) {
        QString& item = m_entries[*it].item;
        m_bytes += 2 * (qint64(value.size()) - qint64(item.size()));
        item = value;
    } else
        insert(fullKey, value, false);
}

void IniTool::RemoveKey(const QString& section, const QString& key)
{
    const auto it = m_index.constFind(Latin1Case::lower(valueKey(section, key)));
    if (it == m_index.constEnd())
        return;
    const qsizetype pos = *it;
    m_bytes -= entryBytes(m_entries.at(pos).key, m_entries.at(pos).item);
    m_entries.removeAt(pos);
    m_index.erase(it);
    for (auto& index : m_index) {
        if (index > pos)
            --index;
    }
}

void IniTool::RemoveSection(const QString& section)
{
    // Every value entry goes, also keys that Keys lists trimmed ("key " of "key = v") or
    // not at all (an empty key): otherwise they would come back on the next Save.
    const QString prefix = section + kKeySeparator;
    const auto removed = std::remove_if(m_entries.begin(), m_entries.end(), [&](const Entry& entry) {
        return !entry.isSection && entry.key.startsWith(prefix, Qt::CaseInsensitive);
    });
    if (removed == m_entries.end())
        return;
    m_entries.erase(removed, m_entries.end());
    m_index.clear();
    m_bytes = 0;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        m_index.insert(Latin1Case::lower(m_entries.at(i).key), i);
        m_bytes += entryBytes(m_entries.at(i).key, m_entries.at(i).item);
    }
}

QStringList IniTool::Headers() const
{
    QStringList names;
    for (const Entry& entry : m_entries) {
        if (entry.isSection)
            names.append(entry.item);
    }
    return names;
}

QStringList IniTool::Keys(const QString& section) const
{
    // The section name is matched as plain text, never as a pattern.
    const QString prefix = section + kKeySeparator;
    QStringList names;
    for (const Entry& entry : m_entries) {
        if (entry.isSection || !entry.key.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QString name = trimSpaces(entry.key.mid(entry.key.indexOf(kKeySeparator) + 1));
        if (!name.isEmpty())
            names.append(name);
    }
    if (names.isEmpty())
        names.append(QString());
    return names;
}

void IniTool::Clear()
{
    m_entries.clear();
    m_index.clear();
    m_bytes = 0;
}

bool IniTool::Save()
{
    if (!Shutdown::savesAllowed()) {
        // A handler still running after Exit began would write over what Exit saves.
        m_lastError = VbError(75, QStringLiteral("Path/File access error"));
        LogError(kProgramName, QStringLiteral("IniTool Save ") + m_file + QStringLiteral(" not written: the program is stopping"));
        return false;
    }
    struct Row {
        QString header;
        QString key;
        QString headerSort;
        QString value;
    };
    QList<Row> rows;
    int refused = 0;
    for (const Entry& entry : m_entries) {
        if (entry.isSection || entry.item.isEmpty())
            continue;
        // Text from the network, a script or an imported file must not add lines of its own:
        // a line break in a value would start a section that the program then obeys.
        const qsizetype sep = entry.key.indexOf(kKeySeparator);
        const QString header = withoutLineBreaks(entry.key.left(sep));
        const QString key = withoutLineBreaks(entry.key.mid(sep + 1));
        const QString value = withoutLineBreaks(entry.item);
        if (unreadableLine(key, value)) {
            ++refused;
            continue;
        }
        rows.append(Row{header, key, Latin1Case::upper(header), value});
    }
    if (refused > 0) {
        LogError(kProgramName, QStringLiteral("IniTool Save ") + m_file + QStringLiteral(" left out ")
                                   + QString::number(refused) + QStringLiteral(" key(s) that cannot be read back"));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        const int bySection = a.headerSort.compare(b.headerSort, Qt::CaseInsensitive);
        if (bySection != 0)
            return bySection < 0;
        return a.key.compare(b.key, Qt::CaseInsensitive) < 0;
    });

    QString why;
    try {
        QString text;
        QString current;
        bool first = true;
        for (const Row& row : rows) {
            if (first || row.headerSort != current) {
                text += QLatin1Char('[') + row.headerSort + QStringLiteral("]\r\n");
                current = row.headerSort;
                first = false;
            }
            text += row.key + QLatin1Char('=') + row.value + QStringLiteral("\r\n");
        }
        const SavedFiles::Result saved = SavedFiles::save(SavedFiles::Writer::Settings, m_file, AnsiCodePage::encode(text),
                                                          m_file + QStringLiteral("_bck"), true);
        why = saved.why;
        if (!saved.ok)
            throw VbError(saved.vbNumber, saved.vbNumber == 61 ? QStringLiteral("Disk full")
                                              : saved.vbNumber == 70 ? QStringLiteral("Permission denied")
                                                                     : QStringLiteral("Path/File access error"));
        failingBeforeRegistration().remove(m_file);
        return true;
    } catch (...) {
        PendingError::capture();
        m_lastError = PendingError::current();
        // Exit's saves come after the plug-in has gone, the start-up's (its import's) before it
        // registers: a file they cannot write is reported all the same, the start-up's once,
        // since its saves repeat until the plug-in is up.
        const QString entry = QStringLiteral("IniTool Save ") + m_file + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
        if (gPluginHostRegistered || gShuttingDown) {
            LogError(kProgramName, entry);
        } else {
            PendingError::clear();
            if (!failingBeforeRegistration().contains(m_file)) {
                failingBeforeRegistration().insert(m_file);
                LogError(kProgramName, entry);
            }
        }
        return false;
    }
}
