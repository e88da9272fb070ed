#include "web/HelpPage.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "automation/AnsiCodePage.h"

#include <QFile>
#include <QFileInfo>

QString HelpPage()
{
    const QString file = ResolvePathNoCase(gAppPath, QStringLiteral("HTML/Help/") + kProgramName + QLatin1Char('/')
                                                         + kProgramName + QStringLiteral(".htm"));
    QFile help(file);
    if (!QFileInfo(file).isFile() || !help.open(QIODevice::ReadOnly))
        return QStringLiteral("Sorry, Help from ") + ProgramRelative(file) + QStringLiteral(" is not available");
    QString text = AnsiCodePage::decode(help.readAll());
    text.replace(kProgramName + QStringLiteral("_files"),
                 QStringLiteral("help/") + kProgramName + QLatin1Char('/') + kProgramName + QStringLiteral("_files"),
                 Qt::CaseInsensitive);
    return text;
}
