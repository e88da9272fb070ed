#pragma once

#include "Ast.h"
#include "Object.h"

class Interpreter;
class ScriptModule;

// What GetRef returns: a procedure called through the object's default member,
// as event handlers are.
class ProcRef : public Object
{
public:
    ProcRef(std::weak_ptr<Interpreter> engine, std::shared_ptr<ScriptModule> module, const Procedure *procedure,
            ProgramPtr program);

    QString typeName() const override { return QStringLiteral("Object"); }
    Variant invoke(const QString &name, CallKind kind, std::vector<Variant> &args) override;
    bool hasMember(const QString &name) const override { return name.isEmpty(); }
    bool orphaned() const; // its script was read again

private:
    std::weak_ptr<Interpreter> m_engine;
    std::shared_ptr<ScriptModule> m_module;
    const Procedure *m_procedure;
    ProgramPtr m_program; // the procedure's text, kept while the reference is, even once redefined
};
