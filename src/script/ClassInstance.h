#pragma once

#include "Ast.h"
#include "MemoryBudget.h"
#include "Object.h"

class Interpreter;
class ScriptModule;

// An object of a class the script declared. Its variables live here; its
// procedures run in the interpreter with this object as Me. Class_Terminate
// runs once, when the last reference goes: it runs with Me owned again, so
// whatever it stores Me into keeps the object alive, and the object goes when
// that last reference goes in turn.
class ClassInstance : public Object
{
public:
    static std::shared_ptr<ClassInstance> create(std::weak_ptr<Interpreter> engine,
                                                 std::shared_ptr<ScriptModule> module, const ClassDef *def,
                                                 ProgramPtr program);
    ~ClassInstance() override;

    QString typeName() const override;
    Variant invoke(const QString &name, CallKind kind, std::vector<Variant> &args) override;
    bool hasMember(const QString &name) const override;

    const ClassDef *definition() const { return m_def; }
    ScriptModule *module() const { return m_module.get(); }
    Variant &field(int slot) { return m_fields[size_t(slot)]; }
    // Empties every variable of the object (the engine is ending).
    void releaseFields();
    // Its script was read again: its variables are gone and none of its code runs.
    bool orphaned() const;

    // Me as a value.
    ObjectPtr self();

private:
    ClassInstance(std::weak_ptr<Interpreter> engine, std::shared_ptr<ScriptModule> module, const ClassDef *def,
                  ProgramPtr program);
    static void lastReferenceGone(ClassInstance *instance);

    bool m_terminated = false;
    std::weak_ptr<Interpreter> m_engine;
    const Interpreter *m_engineId; // which engine runs its procedures, compared without locking
    std::shared_ptr<ScriptModule> m_module;
    const ClassDef *m_def;
    ProgramPtr m_program;
    MemoryBudget::Held m_held; // checked before the fields are made
    std::vector<Variant> m_fields;
    friend class Interpreter;
};

// Replaces every object and procedure reference of an ended script found in `root` (and in
// the arrays and objects it holds, at any depth) by Nothing; returns how many.
int dropEndedScriptObjects(Variant &root);
