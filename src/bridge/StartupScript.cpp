#include "bridge/StartupScript.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

#include "ScriptControl.h"
#include "ScriptModule.h"

#include <QFile>

StartupScript::StartupScript(std::shared_ptr<ScriptControl> engine)
    : m_engine(std::move(engine))
{
}

QString ScriptFilePath(const QString &file)
{
    if (file.contains(QLatin1Char(':')) || file.contains(QLatin1String("\\\\")))
        return file;
    QString name = file;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    return ResolvePathNoCase(gAppPath, QStringLiteral("Scripts/") + name);
}

void StartupScript::Add(const QString &file, const QString &module)
{
    m_file = file;
    try {
        m_module = m_engine->addModule(module);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Script-Add"));
        return;
    }
    QFile in(ScriptFilePath(file));
    if (!in.exists())
        return;
    if (!in.open(QIODevice::ReadOnly)) {
        LogError(kProgramName, QStringLiteral("Script-AccumulateReferences ") + file + QLatin1Char(' ') + in.errorString());
        return;
    }
    const QString code = QString::fromLatin1(in.readAll());
    try {
        m_module->AddCode(code);
    } catch (...) {
    }
    PendingError::clear();
    const std::shared_ptr<ScriptError> error = m_engine->Error();
    if (error->Number() != 0) {
        LogError(kProgramName, QStringLiteral("Error in script syntax / ") + file + QLatin1Char(' ') + error->Description()
                                   + QStringLiteral("@ Line ") + QString::number(error->Line()) + QStringLiteral(" col ")
                                   + QString::number(error->Column()));
        error->clear();
    }
}

Variant StartupScript::Run(const QString &procedure, const QString &parameter)
{
    const std::shared_ptr<ScriptError> error = m_engine->Error();
    error->clear();
    Variant result;
    bool failed = false;
    try {
        if (!m_module)
            throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
        std::vector<Variant> args{Variant(parameter)};
        result = m_module->Run(procedure, args);
    } catch (const VbError &e) {
        failed = true;
        if (error->Number() == 0)
            error->set(e);
    } catch (...) {
        failed = true;
        PendingError::capture();
        if (error->Number() == 0)
            error->set(PendingError::current());
    }
    PendingError::clear();
    if (failed || error->Number() != 0) {
        LogError(kProgramName, QStringLiteral("Script Run Error ") + QString::number(error->Number()) + QStringLiteral(" - ")
                                   + error->Description() + QStringLiteral("@ Script Line ") + QString::number(error->Line())
                                   + QStringLiteral(" col ") + QString::number(error->Column()));
        error->clear();
        return Variant();
    }
    return result;
}
