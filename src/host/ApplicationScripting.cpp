// Script files run by the host: inside the process as module "M1" of the
// shared engine, or wrapped in a job file for a separate script host.

#include "host/Application.h"
#include "host/Script.h"
#include "host/Trap.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/SavedFiles.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// Writes "~" + name + ".wsf" into the Scripts folder: a job that loads the
// script's file and calls one procedure with one quoted parameter. Returns
// the job file's name, empty when it could not be written.
QString WrapWSF(const QString &scriptName, const QString &procedure, const QString &parameter)
{
    try {
        const QString base =
            QString(scriptName).remove(QRegularExpression(QStringLiteral("\\.txt"), QRegularExpression::CaseInsensitiveOption));
        const QString jobName = QStringLiteral("~") + base + QStringLiteral(".wsf");
        const QString quote = QStringLiteral("\"");
        const QStringList lines{
            QStringLiteral("<job id=") + quote + base + quote + QStringLiteral(">"),
            QStringLiteral("<script language=\"VBScript\" src=") + quote + QStringLiteral("..\\") + base
                + QStringLiteral(".txt") + quote + QStringLiteral("/>"),
            QStringLiteral("<script language=\"VBScript\">"),
            QStringLiteral("Dim xap"),
            QStringLiteral("Set xap = createobject(\"Lodestar.Application\")"),
            (procedure + QLatin1Char(' ') + quote + parameter + quote).trimmed(),
            QStringLiteral("Set xap = Nothing"),
            QStringLiteral("</Script>"),
            QStringLiteral("</Job>"),
        };
        QString text;
        for (const QString &line : lines)
            text += line + QLatin1Char('\n');
        const QString path = ResolvePathNoCase(gAppPath, QStringLiteral("Scripts/") + jobName);
        const SavedFiles::Result saved =
            SavedFiles::save(SavedFiles::Writer::ScriptJob, path, AnsiCodePage::encode(text), QString(), true);
        if (!saved.ok)
            throw VbError(75, QStringLiteral("Path/File access error: ") + path + QStringLiteral(": ") + saved.why);
        return jobName;
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, QStringLiteral("WrapWSF"));
        return QString();
    }
}

} // namespace

void Application::describeScripting(DispatchTable<Application> &t)
{
    t.method("Run", &Application::Run);
    t.method("RunEx", &Application::RunEx);
    t.method("Spawn", &Application::Spawn);
}

void Application::Run(QString &sFilename)
{
    Script::RunFile(sFilename, QStringLiteral("main"), Variant(QString()));
}

Variant Application::RunEx(QString &sFilename, QString &sProcedure, QString &sParameter)
{
    return Script::RunFile(sFilename, sProcedure, Variant(sParameter));
}

ObjectPtr Application::Spawn(QString &sScriptName, QString &sProcedure, QString &sScriptParm)
{
    const QString job = WrapWSF(sScriptName, sProcedure, sScriptParm);
    // No Windows script host exists here to run the job.
    if (!job.isEmpty())
        LogMemberError(kProgramName,
                       QStringLiteral("Spawn: no script host is available to start ") + gAppPath
                           + QStringLiteral("/Scripts/") + job,
                       QStringLiteral("Spawn"), QStringLiteral("no script host"));
    return nullptr;
}
