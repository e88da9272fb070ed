#include "CommsLog.h"
#include "PluginState.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

void WriteCommsLog(const QString& text)
{
    if (gPlugin.LogComms != 1)
        return;
    QDateTime now = QDateTime::currentDateTime();
    QString when = now.time() == QTime(0, 0) ? now.toString("M/d/yyyy")
                                             : now.toString("M/d/yyyy h:mm:ss AP");
    QFile f(QDir(gAppPath).filePath("Data/quillon.log"));
    if (!f.open(QIODevice::Append | QIODevice::Text)
        || f.write((when + " " + text + "\n").toLatin1()) < 0) {
        LogError("xaptvkKorvane", "Unable to write to ocelog.log file (maybe no disk space)");
    }
}
