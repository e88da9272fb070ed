#include "core/SavedFiles.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>
#include <deque>

namespace SavedFiles {

namespace {

// A log file is read back from its end in pieces of kTailBytes when its last line was cut; past
// kTailSearchBytes without a line end it is no log of ours, and is left as it is.
constexpr qint64 kTailBytes = 64 * 1024;
constexpr qint64 kTailSearchBytes = 16 * 1024 * 1024;

constexpr std::array<WriterInfo, 8> kWriters{{
    {Writer::Settings, "settings file", false},
    {Writer::IrMap, "IR remap", false},
    {Writer::IrLabels, "IR labels", false},
    {Writer::IrZones, "IR zones", false},
    {Writer::ProjectFile, "project file", false},
    {Writer::ScriptJob, "script job", false},
    {Writer::ProgramLog, "program log", true},
    {Writer::CommsLog, "controller log", true},
}};

struct Failures {
    std::deque<Failure> recent;
    quint64 serial = 0;
};

Failures& failures()
{
    static Failures f;
    return f;
}

// Logging a failed log write goes out on xAP, whose own failure is written to the log file:
// the guard ends that circle after one turn.
bool& reporting()
{
    static bool busy = false;
    return busy;
}

void record(Writer writer, const QString& path, const QString& why, bool log = true)
{
    // Only whole-file saves are someone's request: a log line that did not fit is not the
    // page's or the dialog's change.
    if (!info(writer).appends) {
        Failures& f = failures();
        f.recent.push_back(Failure{path, why});
        if (f.recent.size() > 32)
            f.recent.pop_front();
        ++f.serial;
    }
    if (!log || reporting())
        return;
    reporting() = true;
    // A script naming file after file that cannot be written: the failures of its run count as
    // repeats of one entry, as its other trapped errors do.
    LogMemberError(kProgramName,
                   QStringLiteral("Cannot write the ") + QLatin1String(info(writer).name) + QLatin1Char(' ')
                       + QDir::toNativeSeparators(path) + QStringLiteral(": ") + why,
                   QLatin1String(info(writer).name), QStringLiteral("Cannot write"));
    reporting() = false;
}

Result failed(Writer writer, const QString& path, int number, const QString& why, bool log = true)
{
    record(writer, path, why, log);
    return Result{false, number, why};
}

QString reason(const QFileDevice& f, const QString& fallback)
{
    const QString text = f.errorString();
    return text.isEmpty() || text == QLatin1String("Unknown error") || f.error() == QFileDevice::NoError ? fallback : fallback + QStringLiteral(" (") + text + QLatin1Char(')');
}

// Opens the file beside the target and writes every byte through to the disk, so that a full
// disk or a size limit shows here, before any rename.
Result writeBeside(Writer writer, QSaveFile& out, const QByteArray& bytes, bool log)
{
    if (!out.open(QIODevice::WriteOnly))
        return failed(writer, out.fileName(), 75, reason(out, QStringLiteral("the folder cannot be written")), log);
    if (out.write(bytes) != bytes.size() || !out.flush() || out.error() != QFileDevice::NoError) {
        const QString why = reason(out, QStringLiteral("the disk is full or the file too large"));
        out.cancelWriting();
        return failed(writer, out.fileName(), 61, why, log);
    }
    return Result{};
}

// Where the last whole line of a log file of `size` bytes ends: `size` when it ends on a line
// end, 0 when no line end is in it, -1 when none is within kTailSearchBytes of its end. The
// last byte first: only a cut line costs reading back.
qint64 wholeLinesEnd(const QString& path, qint64 size)
{
    QFile tail(path);
    if (!tail.open(QIODevice::ReadOnly) || !tail.seek(size - 1) || tail.read(1) == "\n")
        return size;
    for (qint64 end = size; end > 0 && size - end < kTailSearchBytes;) {
        const qint64 from = std::max<qint64>(0, end - kTailBytes);
        if (!tail.seek(from))
            return size;
        const QByteArray piece = tail.read(end - from);
        if (piece.size() != end - from)
            return size;
        if (const qsizetype at = piece.lastIndexOf('\n'); at >= 0)
            return from + at + 1;
        end = from;
    }
    return size <= kTailSearchBytes ? 0 : -1;
}

}  // namespace

std::span<const WriterInfo> writers()
{
    return kWriters;
}

const WriterInfo& info(Writer writer)
{
    for (const WriterInfo& w : kWriters) {
        if (w.writer == writer)
            return w;
    }
    return kWriters.front();
}

Result save(Writer writer, const QString& path, const QByteArray& bytes, const QString& backup, bool callerLogs)
{
    const bool log = !callerLogs;
    QByteArray previous;
    const bool existed = QFileInfo(path).isFile();
    if (existed) {
        QFile old(path);
        if (!old.open(QIODevice::ReadOnly))
            return failed(writer, path, 70, reason(old, QStringLiteral("the old file cannot be read")), log);
        previous = old.readAll();
        if (old.error() != QFileDevice::NoError)
            return failed(writer, path, 70, reason(old, QStringLiteral("the old file cannot be read")), log);
        // Nothing changed: the backup keeps the version before the last real change.
        if (previous == bytes)
            return Result{};
    }
    QSaveFile out(path);
    if (Result r = writeBeside(writer, out, bytes, log); !r.ok)
        return r;
    std::unique_ptr<QSaveFile> copy;
    if (existed && !backup.isEmpty()) {
        copy = std::make_unique<QSaveFile>(backup);
        if (Result r = writeBeside(writer, *copy, previous, log); !r.ok) {
            out.cancelWriting();
            return r;
        }
    }
    // commit() syncs the new file before it renames it over the old one.
    if (!out.commit()) {
        if (copy)
            copy->cancelWriting();
        return failed(writer, path, 61, reason(out, QStringLiteral("the new file could not be put in place")), log);
    }
    if (QFileInfo(path).size() != bytes.size())
        return failed(writer, path, 61, QStringLiteral("the file on disk is not the size written"), log);
    // The new file is in place; a backup that cannot be renamed keeps the one before.
    if (copy && !copy->commit())
        return failed(writer, backup, 61, reason(*copy, QStringLiteral("the backup could not be put in place")), log);
    return Result{};
}

bool append(Writer writer, const QString& path, const QByteArray& line)
{
    // A full disk fails every line: the first failure is logged, and again after one went in.
    static std::array<bool, kWriters.size()> failing{};
    bool& already = failing[size_t(writer)];
    // A pipe would block the open until a reader came, the whole program with it.
    if (const QFileInfo at(path); at.exists() && !at.isFile()) {
        record(writer, path, QStringLiteral("it is not a plain file"), !already);
        already = true;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        record(writer, path, reason(file, QStringLiteral("the file cannot be opened")), !already);
        already = true;
        return false;
    }
    qint64 start = file.size();
    QByteArray bytes = line;
    if (start > 0) {
        // A process killed in the middle of a line left it cut: it goes before this one joins it.
        if (const qint64 lastEnd = wholeLinesEnd(path, start); lastEnd != start) {
            file.close();
            if (lastEnd >= 0) {
                start = lastEnd;
                QFile::resize(path, start);
            } else {
                // No line end within reach: the fragment stays, but on a line of its own.
                bytes.prepend('\n');
            }
            if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
                record(writer, path, reason(file, QStringLiteral("the file cannot be opened")), !already);
                already = true;
                return false;
            }
        }
    }
    if (file.write(bytes) == bytes.size() && file.flush()) {
        already = false;
        return true;
    }
    const QString why = reason(file, QStringLiteral("the disk is full or the file too large"));
    // A cut line would run into the next entry once space returns.
    file.close();
    if (QFileInfo(path).size() > start)
        QFile::resize(path, start);
    record(writer, path, why, !already);
    already = true;
    return false;
}

quint64 failureSerial()
{
    return failures().serial;
}

QList<Failure> failuresSince(quint64 serial)
{
    const Failures& f = failures();
    const quint64 count = f.serial > serial ? f.serial - serial : 0;
    QList<Failure> list;
    const size_t skip = count >= f.recent.size() ? 0 : f.recent.size() - size_t(count);
    for (size_t i = skip; i < f.recent.size(); ++i)
        list.append(f.recent[i]);
    return list;
}

QString describe(const QList<Failure>& list)
{
    QStringList parts;
    for (const Failure& f : list) {
        const QString part = QStringLiteral("the file ") + QDir::toNativeSeparators(f.path) + QStringLiteral(" could not be written (")
            + f.why + QLatin1Char(')');
        if (!parts.contains(part))
            parts.append(part);
    }
    return parts.join(QStringLiteral("; "));
}

}  // namespace SavedFiles
