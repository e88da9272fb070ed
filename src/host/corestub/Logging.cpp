// Temporary stand-in for core's logging until the core library is merged:
// every message waits in the pending queue, as it does before the endpoint is up.
#include "core/Logging.h"

#include "core/Globals.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"

#include <QDir>
#include <QFileInfo>

namespace {
int &pendingCount()
{
    static int count = 0;
    return count;
}
} // namespace

void InitXap() {}

QString LocalComputerName()
{
    return QStringLiteral("localhost");
}

void SendXap(const QString &, const QString &, const QString &, const QString &, const QString &, const QString &)
{
    ++pendingCount();
}

int PendingXapMessageCount()
{
    return pendingCount();
}

void LogError(const QString &, const QString &)
{
    PendingError::clear();
    ++pendingCount();
}

void WriteLogFile(const QString &, const QString &)
{
    PendingError::clear();
}

void CreateFolders(const QString &path)
{
    const QString normal = QDir::fromNativeSeparators(path);
    const qsizetype last = normal.lastIndexOf(QLatin1Char('/'));
    if (last > 0)
        QDir().mkpath(normal.left(last));
}
