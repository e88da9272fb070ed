#include "ScriptControl.h"

#include "Interpreter.h"
#include "ScriptModules.h"

ScriptControl::ScriptControl()
    : m_engine(std::make_shared<Interpreter>())
    , m_modules(std::make_shared<ScriptModules>(m_engine))
{
    m_engine->globalModule();
}

ScriptControl::~ScriptControl() = default;

void ScriptControl::describe(DispatchTable<ScriptControl> &t)
{
    t.name(QStringLiteral("ScriptControl"));
    t.method(QStringLiteral("Reset"), &ScriptControl::Reset);
    t.property(QStringLiteral("Language"), &ScriptControl::Language, &ScriptControl::setLanguage);
    t.property(QStringLiteral("AllowUI"), &ScriptControl::AllowUI, &ScriptControl::setAllowUI);
    t.property(QStringLiteral("Timeout"), &ScriptControl::Timeout, &ScriptControl::setTimeout);
    t.method(QStringLiteral("AddObject"), &ScriptControl::AddObject);
    t.get(QStringLiteral("Modules"), &ScriptControl::Modules);
    t.get(QStringLiteral("Error"), &ScriptControl::Error);
    t.method(QStringLiteral("AddCode"), &ScriptControl::AddCode);
    t.method(QStringLiteral("Eval"), &ScriptControl::Eval);
    t.method(QStringLiteral("ExecuteStatement"), &ScriptControl::ExecuteStatement);
    t.raw(QStringLiteral("Run"), [](ScriptControl &c, CallKind, std::vector<Variant> &args) {
        const ScriptModulePtr global = c.m_engine->globalModule();
        return ScriptModule::runCalled(*global, args);
    });
}

void ScriptControl::Reset()
{
    m_engine->reset();
    m_engine->globalModule();
}

void ScriptControl::setLanguage(const QString &language)
{
    if (language.compare(QLatin1String("VBScript"), Qt::CaseInsensitive) != 0
        && language.compare(QLatin1String("VBS"), Qt::CaseInsensitive) != 0)
        throw VbError(VbErr::InvalidProcedureCall, QStringLiteral("Only VBScript is available"));
    m_language = QStringLiteral("VBScript");
}

bool ScriptControl::AllowUI() const
{
    return m_engine->allowUI;
}

void ScriptControl::setAllowUI(bool allow)
{
    m_engine->allowUI = allow;
}

qint32 ScriptControl::Timeout() const
{
    return m_engine->timeout;
}

void ScriptControl::setTimeout(qint32 ms)
{
    m_engine->timeout = ms;
}

void ScriptControl::AddObject(const QString &name, const ObjectPtr &object, bool addMembers)
{
    m_engine->addObject(name, object, addMembers);
}

std::shared_ptr<ScriptError> ScriptControl::Error() const
{
    return m_engine->error();
}

void ScriptControl::AddCode(const QString &code)
{
    m_engine->globalModule()->AddCode(code);
}

Variant ScriptControl::Run(const QString &procedure, std::vector<Variant> args)
{
    return m_engine->globalModule()->Run(procedure, args);
}

Variant ScriptControl::Eval(const QString &expression)
{
    return m_engine->globalModule()->Eval(expression);
}

void ScriptControl::ExecuteStatement(const QString &statement)
{
    m_engine->globalModule()->ExecuteStatement(statement);
}

ScriptModulePtr ScriptControl::addModule(const QString &name)
{
    return m_modules->add(name);
}

ScriptModulePtr ScriptControl::module(const QString &name) const
{
    if (name.compare(QLatin1String("Global"), Qt::CaseInsensitive) == 0)
        return m_engine->globalModule();
    return m_engine->module(name);
}

void ScriptControl::setPromptLog(std::function<void(const QString &)> log)
{
    m_engine->uiLog = std::move(log);
}
