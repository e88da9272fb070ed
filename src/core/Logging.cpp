#include "core/Logging.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/IniTool.h"
#include "core/XapQueuedMessage.h"
#include "core/xap/XapEndpoint.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbError.h"

#include <QCoreApplication>
#include <QDir>
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

void SendXap(const QString& target, const QString& cls, const QString& section, const QString& body,
             const QString& subAddress, const QString& uid)
{
    try {
        const QString useUid = uid.isEmpty() && gXap ? gXap->XapUID() : uid;
        if (!gXapReady) {
            pendingMessages().push_back(xapQueuedMessage{target, useUid, cls, section, body, subAddress});
            return;
        }
        if (!gXap)
            throw VbError(91, QStringLiteral("Object variable or With block variable not set"));
        if (!pendingMessages().empty()) {
            std::deque<xapQueuedMessage> queued;
            queued.swap(pendingMessages());
            for (const xapQueuedMessage& m : queued)
                gXap->SendXap(m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData, m.MsgSubAddress, m.MsgUID);
        }
        gXap->SendXap(target, cls, section, body, subAddress, useUid);
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("SendXap  ") + body);
    }
}

int PendingXapMessageCount()
{
    return int(pendingMessages().size());
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
        suffix = QStringLiteral(" Line ") + QString::number(err.line) + QLatin1Char(' ') + err.description;
        PendingError::clear();
    }
    const QChar item(0);
    const QChar eq(1);
    const QString body = QStringLiteral("Time") + eq + VbDate::formatGeneralDate(VbDate::oleNow()) + item
        + QStringLiteral("Type") + eq + type + item
        + QStringLiteral("Data") + eq + data + suffix;
    SendXap(QString(), QStringLiteral("Tessera.Event"), QStringLiteral("Event.Log"), body, QString(), QString());
}

void WriteLogFile(const QString& source, const QString& text)
{
    long line = 0;
    QString description;
    if (PendingError::isPending()) {
        line = PendingError::current().line;
        description = PendingError::current().description;
    }
    const QString folder = ResolvePathNoCase(gAppPath, QStringLiteral("Data/") + kProgramName);
    QDir().mkpath(folder);
    QFile file(ResolvePathNoCase(folder, kProgramName + QStringLiteral(".txt")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        const QString entry = source + QLatin1Char(' ') + text + QLatin1Char(' ') + QString::number(line)
            + QLatin1Char(' ') + description + QLatin1Char('\n');
        file.write(entry.toLatin1());
    }
    PendingError::clear();
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
