#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <span>

// Every file the program writes, and the one way it writes them.
//
// A whole file is written beside its target, flushed to the disk, renamed over the target and
// checked; until then the old file and its backup stay as they were, and a backup is replaced
// only once the new file is in place. A full disk, a file-size limit, a folder that cannot be
// written or a kill at any moment therefore leaves the old file or the new one, never a cut one.
// A log file grows by whole lines: a line that does not fit is taken back off the file.
//
// A writer that is added to the program gets an entry in `Writer` and in `writers()`, and a row
// in the table of tests/e2e/tst_saved_files.cpp, which fails while one is missing.
namespace SavedFiles {

enum class Writer {
    Settings,       // the INI files of Config: settings, the device store, the plug-in's settings
    IrMap,          // Config/irmap.cfg, the IR key remap (the configuration dialog's OK)
    IrLabels,       // Config/irlbl.cfg with irLbl.cfg_Bck, rebuilt by a synchronisation
    IrZones,        // "Synchronized irZones.cfg", the zones a synchronisation found
    ProjectFile,    // the controller's project file with its "Copy of" backup
    ScriptJob,      // Scripts/~NAME.wsf, the job a script call runs
    ProgramLog,     // Data/xaptvkKorvane/xaptvkKorvane.txt, appended line by line
    CommsLog,       // Data/quillon.log, the controller traffic, appended line by line
};

struct WriterInfo {
    Writer writer;
    const char* name;
    bool appends;   // grows by lines instead of being written whole
};

// The table of every writer; nothing writes a file of the program without an entry here.
std::span<const WriterInfo> writers();
const WriterInfo& info(Writer writer);

struct Result {
    bool ok = true;
    int vbNumber = 0;       // the error a script sees: 61 disk full, 70 permission, 75 path
    QString why;            // for the log and the notes
};

// Writes `bytes` as the whole new content of `path`. With `backup`, the content the file had
// before becomes the backup, but only when it differs and only after the new file is in place.
// A failure is recorded for failuresSince() and logged with the file's name, unless the caller
// logs it in words of its own (`callerLogs`), naming the file and Result::why.
Result save(Writer writer, const QString& path, const QByteArray& bytes, const QString& backup = QString(),
            bool callerLogs = false);

// Appends one whole line (with its line end) to a log file; a short write is cut back off.
bool append(Writer writer, const QString& path, const QByteArray& line);

struct Failure {
    QString path;
    QString why;
};
// A running count of failed whole-file saves (not log lines), to take the ones a request caused.
quint64 failureSerial();
// The failed saves after `serial` (at most the last few dozen), oldest first.
QList<Failure> failuresSince(quint64 serial);
// "the file NAME could not be written (WHY)" for each failure, joined for a note.
QString describe(const QList<Failure>& failures);

}  // namespace SavedFiles
