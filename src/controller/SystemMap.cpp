#include "SystemMap.h"
#include "link/CommsLog.h"

#include "core/Globals.h"
#include "core/SavedFiles.h"
#include "automation/AnsiCodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QString noTabs(const QString& s)
{
    return QString(s).remove('\t');
}

// A row's text as names are made from it: no tabs and no other control characters.
QString printable(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (const QChar c : s)
        if (c.unicode() >= 0x20)
            out += c;
    return out;
}
} // namespace

bool SystemMap::read(const QString& projectFile)
{
    m_rows.clear();
    m_error.clear();
    if (projectFile.isEmpty()) {
        LogControllerError(kProgramName, "ReadSystemMap: No Project File has been specified");
        return true;
    }
    QFile f(projectFile);
    if (!f.exists()) {
        LogControllerError(kProgramName, "ReadSystemMap: " + projectFile + " Project File does not exist");
        return true;
    }
    auto refuse = [&](const QString& why) {
        m_error = projectFile + " " + why;
        LogControllerError(kProgramName, "ReadSystemMap: " + m_error);
        return false;
    };
    // A pipe would block until a writer came, a device could be read without
    // end: only a regular file is a project file.
    if (!QFileInfo(projectFile).isFile())
        return refuse(QStringLiteral("is not a regular file; not read"));
    if (!f.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot be read"));
    // A project file has a few thousand short lines; anything far larger is
    // not one, and holding it line by line could exhaust memory.
    if (f.size() > kMaxBytes)
        return refuse("is too large for a project file (" + QString::number(f.size()) + " bytes); not read");
    const QByteArray all = f.read(kMaxBytes + 1);
    if (all.size() > kMaxBytes)
        return refuse(QStringLiteral("grew beyond the size of a project file while read; not read"));
    qsizetype lines = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (all[i] == '\n' || (all[i] == '\r' && (i + 1 == all.size() || all[i + 1] != '\n')))
            ++lines;
    }
    if (lines > kMaxLines)
        return refuse("has " + QString::number(lines) + " lines, more than a project file has ("
                      + QString::number(kMaxLines) + "); not read");
    QString level1, level2, level3;
    bool inModule = false;
    int pos = 0;
    int id = 0;
    while (pos < all.size()) {
        int end = pos;
        while (end < all.size() && all[end] != '\n' && all[end] != '\r')
            ++end;
        Row r;
        r.raw = all.mid(pos, end - pos);
        if (end < all.size()) {
            const bool crlf = all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n';
            r.lineEnd = all.mid(end, crlf ? 2 : 1);
            end += crlf ? 2 : 1;
        }
        pos = end;
        r.ID = ++id;
        const QString line = AnsiCodePage::decode(r.raw);
        int tabs = 0;
        while (tabs < line.size() && line[tabs] == '\t')
            ++tabs;
        const QString text = noTabs(line);
        if (tabs == 0) {
            level1 = text;
            level2.clear();
            level3.clear();
        } else if (tabs == 1) {
            level2 = text;
            level3.clear();
            if (text.size() > 8 && text.startsWith("Module #")) {
                level3 = text.mid(8, 3).trimmed();
                inModule = true;
            }
        } else if (tabs == 2 && !inModule) {
            level3 = text;
        } else {
            r.Line = line;
        }
        r.Level1 = level1;
        r.Level2 = level2;
        r.Level3 = level3;
        m_rows.append(r);
    }
    return true;
}

bool SystemMap::write(const QString& projectFile) const
{
    if (m_rows.isEmpty())
        return true;
    const QFileInfo info(projectFile);
    const QString copy = info.dir().filePath("Copy of " + info.fileName());
    QByteArray out;
    QByteArray defaultEnd = "\r\n";
    for (const Row& r : m_rows)
        if (!r.lineEnd.isEmpty()) {
            defaultEnd = r.lineEnd;
            break;
        }
    for (const Row& r : m_rows) {
        if (!r.changed) {
            out += r.raw + r.lineEnd;
            continue;
        }
        QString line;
        if (!r.Line.isEmpty())
            line = r.Line;
        else if (r.Level3.isEmpty() || r.Level3.toInt() > 0 || r.Level3 == "0")
            line = r.Level2.isEmpty() ? r.Level1 : "\t" + r.Level2;
        else
            line = "\t\t" + r.Level3;
        out += AnsiCodePage::encode(line) + (r.lineEnd.isEmpty() ? defaultEnd : r.lineEnd);
    }
    // The file as it was becomes the copy, but only once the new one is in place.
    if (const SavedFiles::Result saved = SavedFiles::save(SavedFiles::Writer::ProjectFile, projectFile, out, copy, true);
        !saved.ok) {
        LogControllerError(kProgramName, "WriteSystemMap: cannot write " + projectFile + " (" + saved.why + "); file left unchanged");
        return false;
    }
    return true;
}

const SystemMap::Row* SystemMap::row(int id) const
{
    if (id < 1 || id > m_rows.size())
        return nullptr;
    return &m_rows[id - 1];
}

QString SystemMap::text(int id) const
{
    const Row* r = row(id);
    return r ? printable(r->Line) : QString();
}

bool SystemMap::exists(int id) const
{
    const Row* r = row(id);
    return r && !r->Line.isEmpty();
}

void SystemMap::setLine(int id, const QString& line)
{
    if (id < 1 || id > m_rows.size())
        return;
    Row& r = m_rows[id - 1];
    if (r.Line.isEmpty()) {
        LogControllerError(kProgramName, "WriteSystemMap: line " + QString::number(id)
                                             + " is a heading, not a point row; left unchanged");
        return;
    }
    if (r.Line == line)
        return;
    r.Line = line;
    r.changed = true;
}

int SystemMap::localHeading(const QString& level3) const
{
    for (const Row& r : m_rows)
        if (r.Line.isEmpty() && r.Level2.compare("Local", Qt::CaseInsensitive) == 0
            && r.Level3.compare(level3, Qt::CaseInsensitive) == 0)
            return r.ID;
    return 0;
}

int SystemMap::moduleHeading(int unit) const
{
    const QString want = QString::number(unit);
    for (const Row& r : m_rows)
        if (r.Line.isEmpty() && r.Level3 == want)
            return r.ID;
    return 0;
}
