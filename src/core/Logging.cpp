#include "core/Logging.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/IniTool.h"
#include "core/RefusalLog.h"
#include "core/SavedFiles.h"
#include "core/XapQueuedMessage.h"
#include "core/xap/XapEndpoint.h"

#include "automation/AnsiCodePage.h"
#include "automation/MemoryBudget.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbError.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <deque>

namespace {

std::deque<xapQueuedMessage>& pendingMessages()
{
    static std::deque<xapQueuedMessage> queue;
    return queue;
}

}  // namespace

QString LocalComputerName()
{
    static const QString name = [] {
        const QString host = QSysInfo::machineHostName();
        const qsizetype dot = host.indexOf(QLatin1Char('.'));
        return dot < 0 ? host : host.left(dot);
    }();
    return name;
}

void InitXap()
{
    try {
        gComputerName = LocalComputerName();
        gExePath = QCoreApplication::applicationFilePath();
        CreateFolders(ResolvePathNoCase(gAppPath, QStringLiteral("Data")) + QStringLiteral("/x"));
        CreateFolders(ResolvePathNoCase(gAppPath, QStringLiteral("HTML")) + QStringLiteral("/x"));
        IniTool ini;
        ini.Load(ConfigFile(QStringLiteral("tvkXap.ini")));
        gXapInterfaceSetting = ini.Read(QStringLiteral("Interface"), QStringLiteral("InterfaceAddress"), QStringLiteral("Default"));
        gXapBroadcastSetting = ini.Read(QStringLiteral("Interface"), QStringLiteral("BroadcastAddress"), QStringLiteral("Default"));
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("InitXap"));
    }
}

namespace {

// One message through the endpoint; a message that cannot go out is written to the xAP log
// file with its body and dropped, and the caller goes on with the next one.
void sendOne(const xapQueuedMessage& m)
{
    try {
        if (!gXap)
            throw VbError(91, QStringLiteral("Object variable or With block variable not set"));
        gXap->SendXap(m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData, m.MsgSubAddress, m.MsgUID);
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("SendXap  ") + m.MsgData);
    }
}

}  // namespace

void SendXap(const QString& target, const QString& cls, const QString& section, const QString& body,
             const QString& subAddress, const QString& uid)
{
    const QString useUid = uid.isEmpty() && gXap ? gXap->XapUID() : uid;
    xapQueuedMessage message{target, useUid, cls, section, body, subAddress};
    if (!gXapReady) {
        pendingMessages().push_back(std::move(message));
        return;
    }
    if (!pendingMessages().empty()) {
        // Taken out first: a send that pumps events may queue again, and a message that
        // cannot be sent costs only itself.
        std::deque<xapQueuedMessage> queued;
        queued.swap(pendingMessages());
        for (const xapQueuedMessage& m : queued)
            sendOne(m);
    }
    sendOne(message);
}

int PendingXapMessageCount()
{
    return int(pendingMessages().size());
}

QString CutLogText(const QString& text)
{
    return CutLogText(text, 1000);
}

QString CutLogText(const QString& text, qsizetype most)
{
    if (text.size() <= most)
        return text;
    qsizetype kept = most;
    if (text.at(kept - 1).isHighSurrogate())
        --kept; // never half a character
    return text.left(kept) + QStringLiteral(" ...(") + QString::number(text.size() - kept)
        + QStringLiteral(" more characters)");
}

QString XapItemValue(const QString& value)
{
    QString clean;
    clean.reserve(value.size());
    for (const QChar c : value) {
        if (c.unicode() >= 0x20)
            clean += c;
    }
    return clean;
}

QList<xapQueuedMessage> PendingXapMessages()
{
    return QList<xapQueuedMessage>(pendingMessages().begin(), pendingMessages().end());
}

QStringList PendingXapBodies()
{
    QStringList bodies;
    for (const xapQueuedMessage& m : pendingMessages())
        bodies.append(m.MsgData);
    return bodies;
}

void LogError(const QString& type, const QString& data)
{
    QString suffix;
    if (PendingError::isPending()) {
        const VbError& err = PendingError::current();
        suffix = QStringLiteral(" Line ") + QString::number(err.line) + QLatin1Char(' ') + CutLogText(err.description, kPartKept);
        PendingError::clear();
    }
    const QChar item(0);
    const QChar eq(1);
    const QString body = QStringLiteral("Time") + eq + VbDate::formatGeneralDate(VbDate::oleNow()) + item
        + QStringLiteral("Type") + eq + XapItemValue(CutLogText(type)) + item
        + QStringLiteral("Data") + eq + XapItemValue(CutLogText(CutLogText(data, suffix.isEmpty() ? 1000 : kPartKept) + suffix));
    SendXap(QString(), QStringLiteral("Tessera.Event"), QStringLiteral("Event.Log"), body, QString(), QString());
}

void LogTrapped(const QString& type, const QString& label)
{
    LogTrapped(type, label, label);
}

void LogTrapped(const QString& type, const QString& text, const QString& label)
{
    // A member a script calls in a loop can fail once per call, hundreds of thousands of
    // times: while a script drives, one member's error is broadcast once and its repeats
    // counted. The refusal log sends through LogError.
    if (!MemoryBudget::scriptDriven()) {
        LogError(type, text);
        return;
    }
    QString suffix;
    qint32 number = 0;
    if (PendingError::isPending()) {
        const VbError& err = PendingError::current();
        suffix = QStringLiteral(" Line ") + QString::number(err.line) + QLatin1Char(' ') + CutLogText(err.description, kPartKept);
        number = err.number;
        PendingError::clear();
    }
    // The kind is kept while its repeats are counted: a script's long text is cut first.
    RefusalLog::Log(CutLogText(type), CutLogText(CutLogText(text, suffix.isEmpty() ? 1000 : kPartKept) + suffix),
                    RefusalLog::Kind(CutLogText(label), QString::number(number)));
}

void LogMemberError(const QString& type, const QString& text, const QString& member, const QString& error)
{
    if (MemoryBudget::scriptDriven())
        RefusalLog::Log(CutLogText(type), CutLogText(text), RefusalLog::Kind(CutLogText(member), CutLogText(error)));
    else
        LogError(type, text);
}

namespace {

constexpr qint64 kRepeatWindowMs = 60000;

void appendToLogFile(const QString& line)
{
    const QString folder = ResolvePathNoCase(gAppPath, QStringLiteral("Data/") + kProgramName);
    QDir().mkpath(folder);
    SavedFiles::append(SavedFiles::Writer::ProgramLog, ResolvePathNoCase(folder, kProgramName + QStringLiteral(".txt")),
                       AnsiCodePage::encode(line + QLatin1Char('\n')));
}

// The same entry over and over (a peer sending one malformed datagram in a loop) is written
// once a minute with a count, so the file cannot grow without bound.
struct RepeatedEntry {
    QString entry;
    qint64 writtenAt = 0;
    int repeats = 0;
    bool flushArmed = false;
};

RepeatedEntry& lastEntry()
{
    static RepeatedEntry last;
    return last;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

void writeRepeats()
{
    RepeatedEntry& last = lastEntry();
    if (last.repeats == 0)
        return;
    appendToLogFile(last.entry + QStringLiteral(" (repeated ") + QString::number(last.repeats) + QStringLiteral(" more times)"));
    last.repeats = 0;
    last.writtenAt = monotonicMs();
}

}  // namespace

void WriteLogFile(const QString& source, const QString& text)
{
    long line = 0;
    QString description;
    if (PendingError::isPending()) {
        line = PendingError::current().line;
        description = PendingError::current().description;
    }
    PendingError::clear();
    const QString entry = CutLogText(source) + QLatin1Char(' ') + CutLogText(text) + QLatin1Char(' ')
        + QString::number(line) + QLatin1Char(' ') + CutLogText(description);
    RepeatedEntry& last = lastEntry();
    const qint64 now = monotonicMs();
    if (entry == last.entry && now - last.writtenAt < kRepeatWindowMs && QCoreApplication::instance()) {
        ++last.repeats;
        if (!last.flushArmed) {
            last.flushArmed = true;
            QTimer::singleShot(int(kRepeatWindowMs - (now - last.writtenAt)), QCoreApplication::instance(), [] {
                lastEntry().flushArmed = false;
                writeRepeats();
            });
        }
        return;
    }
    writeRepeats();
    appendToLogFile(entry);
    last.entry = entry;
    last.writtenAt = now;
}

void FlushLogFileRepeats()
{
    writeRepeats();
}

void CreateFolders(const QString& path)
{
    const QString normal = QDir::fromNativeSeparators(path);
    const qsizetype last = normal.lastIndexOf(QLatin1Char('/'));
    if (last <= 0)
        return;
    const QStringList parts = normal.left(last).split(QLatin1Char('/'));
    QString folder = normal.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    for (const QString& part : parts) {
        if (part.isEmpty())
            continue;
        folder += (folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + part;
        if (QFileInfo(folder).isDir())
            continue;
        if (!QDir().mkdir(folder))
            LogError(kProgramName, QStringLiteral(" CreateFolders ") + folder);
    }
}
