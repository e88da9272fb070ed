#pragma once

#include "Dispatch.h"
#include "ScriptError.h"
#include "ScriptModule.h"

#include <functional>

class Interpreter;
class ScriptModules;

// The script engine as the program drives it: one language (VBScript), named
// host objects, modules of code, a time-out and the last error. Reachable by
// name too (Reset, Language, AllowUI, AddObject, Timeout, Modules, Error,
// AddCode, Run, Eval, ExecuteStatement).
class ScriptControl : public DispatchObject<ScriptControl>
{
public:
    static constexpr qint32 NoTimeout = -1;

    ScriptControl();
    ~ScriptControl() override;
    static void describe(DispatchTable<ScriptControl> &t);

    void Reset();
    QString Language() const { return m_language; }
    void setLanguage(const QString &language);
    bool AllowUI() const;
    void setAllowUI(bool allow);
    qint32 Timeout() const;
    void setTimeout(qint32 ms);
    // With addMembers, the object's members are also global names, after the
    // script's own.
    void AddObject(const QString &name, const ObjectPtr &object, bool addMembers = false);
    std::shared_ptr<ScriptModules> Modules() const { return m_modules; }
    std::shared_ptr<ScriptError> Error() const;

    // The global module's code.
    void AddCode(const QString &code);
    Variant Run(const QString &procedure, std::vector<Variant> args = {});
    Variant Eval(const QString &expression);
    void ExecuteStatement(const QString &statement);

    // C++ conveniences.
    ScriptModulePtr addModule(const QString &name);
    ScriptModulePtr module(const QString &name) const; // null when there is none
    // Where MsgBox and InputBox texts go when nobody can see them (stderr by default).
    void setPromptLog(std::function<void(const QString &)> log);
    const std::shared_ptr<Interpreter> &engine() const { return m_engine; }

private:
    std::shared_ptr<Interpreter> m_engine;
    std::shared_ptr<ScriptModules> m_modules;
    QString m_language = QStringLiteral("VBScript");
};

using ScriptControlPtr = std::shared_ptr<ScriptControl>;
