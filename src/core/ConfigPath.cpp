#include "core/ConfigPath.h"

#include "core/Globals.h"

#include <QDir>
#include <QFileInfo>

QString ResolvePathNoCase(const QString& dir, const QString& name)
{
    QString path = dir;
    const QStringList parts = QDir::fromNativeSeparators(name).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QString exact = path + QLatin1Char('/') + part;
        if (QFileInfo::exists(exact)) {
            path = exact;
            continue;
        }
        QString found;
        const QStringList entries = QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                found = entry;
                break;
            }
        }
        path += QLatin1Char('/') + (found.isEmpty() ? part : found);
    }
    return path;
}

QString ConfigFile(const QString& name)
{
    return ResolvePathNoCase(gAppPath, QStringLiteral("Config/") + name);
}

QString ProgramRelative(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString root = QDir::cleanPath(gAppPath);
    if (!root.isEmpty() && clean.startsWith(root + QLatin1Char('/')))
        return clean.mid(root.size() + 1);
    return QFileInfo(clean).fileName();
}
