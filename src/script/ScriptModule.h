#pragma once

#include "Ast.h"
#include "Dispatch.h"
#include "MemoryBudget.h"

#include <QSet>
#include <deque>

class Interpreter;

// A namespace of script code: its global variables, procedures and classes,
// and the compiled texts that define them. Scripts and the host reach it by
// name as the script control's module (AddCode, Run, Eval, ExecuteStatement).
class ScriptModule : public DispatchObject<ScriptModule>
{
public:
    struct Global {
        Variant value;
        const Procedure *procedure = nullptr; // a Sub or Function of that name
    };

    ScriptModule(const QString &name, std::weak_ptr<Interpreter> engine);
    static void describe(DispatchTable<ScriptModule> &t);

    const QString &name() const { return m_name; }

    // The facade: each raises VbError (compile or run-time) and records it in
    // the engine's Error object.
    void AddCode(const QString &code);
    // A script file the program itself reads (not a script's Execute or RunEx): its tree is
    // charged but never refused for what scripts keep; its module-level code runs as script work.
    void AddProgramText(const QString &code);
    Variant Run(const QString &procedure, std::vector<Variant> &args);
    // Run as a script calls it: the procedure's name, then its arguments, each
    // ByRef argument's new value handed back in its place.
    static Variant runCalled(ScriptModule &m, std::vector<Variant> &args);
    Variant Eval(const QString &expression);
    void ExecuteStatement(const QString &statement);

    // For the interpreter.
    int find(const QString &lower) const { return m_index.value(lower, -1); }
    int define(const QString &lower); // the index of a (new) global of that name
    Global &global(int index) { return m_globals[size_t(index)]; }
    // Takes in a compiled text's declarations; 1041 "Name redefined" when a
    // class clashes with a declared variable or procedure.
    void adopt(const ProgramPtr &program);
    const ClassDef *findClass(const QString &lower, ProgramPtr *owner = nullptr) const;
    const Procedure *findProcedure(const QString &lower) const;
    // The compiled text that defines a module-level procedure.
    ProgramPtr programOf(const Procedure *procedure) const;
    // Frees the texts whose every definition was replaced since: called when no frame
    // of the engine runs, so none of their code is in use.
    void dropReplaced() { m_replaced.clear(); }
    // Empties every variable (objects go, their Class_Terminate runs) while
    // the module itself stays whole.
    void releaseValues();
    // The engine let go of the module (the script was read again): objects and
    // procedure references of it that the host still keeps are dead and act as Nothing.
    void end() { m_ended = true; }
    bool ended() const { return m_ended; }

    // What a name costs in a table that finds it: its text, its entry and the table's room.
    static qint64 nameEntryBytes(const QString &lower, qint64 valueBytes);
    // What a compiled text's definitions hold besides their nodes: names, lists and lookup
    // tables (a table's first block alone is over a kilobyte, far more than an empty class).
    static qint64 definitionBytes(const Program &program);

private:
    void checkNames(const Program &program) const;
    bool defines(const Program &program) const;

    QString m_name;
    bool m_ended = false;
    std::weak_ptr<Interpreter> m_engine;
    std::deque<Global> m_globals; // a deque: references stay valid as globals are added
    QHash<QString, int> m_index;
    QSet<QString> m_declared; // by Dim, Const, ReDim, Sub or Function
    QHash<QString, std::pair<const ClassDef *, ProgramPtr>> m_classes;
    std::vector<ProgramPtr> m_programs;
    std::vector<ProgramPtr> m_replaced; // kept until no frame can be running them
    MemoryBudget::Held m_held;          // the tables above: they only grow while the module lives
};

using ScriptModulePtr = std::shared_ptr<ScriptModule>;
