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

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// A job file carries a call, not data: a parameter past this is refused (7), so a script
// cannot write its values out through job files.
constexpr qsizetype kMaxJobChars = 65536;
// Job files stay in the Scripts folder after their job: past this many, only an existing
// one may be written again (67 "Too many files"), so a loop over new names cannot fill the disk.
constexpr int kMaxJobFiles = 256;

QString jobBase(const QString &scriptName)
{
    return QString(scriptName).remove(QRegularExpression(QStringLiteral("\\.txt"), QRegularExpression::CaseInsensitiveOption));
}

QString jobPath(const QString &jobName)
{
    return ResolvePathNoCase(gAppPath, QStringLiteral("Scripts/") + jobName);
}

// Raised to the script that called Spawn, with an entry logged.
void checkJobRoom(const QString &scriptName, const QString &procedure, const QString &parameter)
{
    const QString base = jobBase(scriptName);
    const qint64 chars = 2 * qint64(base.size()) + procedure.size() + parameter.size();
    const QString path = jobPath(QStringLiteral("~") + base + QStringLiteral(".wsf"));
    if (chars > kMaxJobChars)
        throw VbError(VbErr::OutOfMemory, QStringLiteral("Out of memory: the job text of ") + QString::number(chars)
                                              + QStringLiteral(" characters is more than ")
                                              + QString::number(kMaxJobChars));
    if (QFileInfo::exists(path))
        return;
    // A script name with a folder puts its job below the Scripts folder ("~d1/j5.wsf"): those
    // count too, or a loop over folders would fill the disk all the same.
    const QString scripts = ResolvePathNoCase(gAppPath, QStringLiteral("Scripts"));
    const QDir top(scripts);
    int jobs = 0;
    QDirIterator it(scripts, {QStringLiteral("*.wsf")}, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (jobs < kMaxJobFiles && it.hasNext())
        jobs += top.relativeFilePath(it.next()).startsWith(QLatin1Char('~')) ? 1 : 0;
    if (jobs >= kMaxJobFiles)
        throw VbError(67, QStringLiteral("Too many files: ") + QString::number(jobs)
                              + QStringLiteral(" job files in the Scripts folder"));
}

// Writes "~" + name + ".wsf" into the Scripts folder: a job that loads the
// script's file and calls one procedure with one quoted parameter. Returns
// the job file's name, empty when it could not be written.
QString WrapWSF(const QString &scriptName, const QString &procedure, const QString &parameter)
{
    try {
        const QString base = jobBase(scriptName);
        const QString jobName = QStringLiteral("~") + base + QStringLiteral(".wsf");
        const QString path = jobPath(jobName);
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
    try {
        checkJobRoom(sScriptName, sProcedure, sScriptParm);
    } catch (const VbError &e) {
        PendingError::set(e);
        LogTrapped(kProgramName, QStringLiteral("Spawn"));
        throw;
    }
    const QString job = WrapWSF(sScriptName, sProcedure, sScriptParm);
    // No Windows script host exists here to run the job.
    if (!job.isEmpty())
        LogMemberError(kProgramName,
                       QStringLiteral("Spawn: no script host is available to start ") + gAppPath
                           + QStringLiteral("/Scripts/") + job,
                       QStringLiteral("Spawn"), QStringLiteral("no script host"));
    return nullptr;
}
