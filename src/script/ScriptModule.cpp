#include "ScriptModule.h"

#include <algorithm>
#include <iterator>

#include "Interpreter.h"
#include "SyntaxError.h"

ScriptModule::ScriptModule(const QString &name, std::weak_ptr<Interpreter> engine)
    : m_name(name)
    , m_engine(std::move(engine))
{
}

void ScriptModule::describe(DispatchTable<ScriptModule> &t)
{
    t.name(QStringLiteral("Module"));
    t.get(QStringLiteral("Name"), &ScriptModule::name);
    t.method(QStringLiteral("AddCode"), &ScriptModule::AddCode);
    t.method(QStringLiteral("Eval"), &ScriptModule::Eval);
    t.method(QStringLiteral("ExecuteStatement"), &ScriptModule::ExecuteStatement);
    t.raw(QStringLiteral("Run"), [](ScriptModule &m, CallKind, std::vector<Variant> &args) -> Variant {
        if (args.empty())
            throw VbError(VbErr::WrongArgumentCount);
        std::vector<Variant> rest(args.begin() + 1, args.end());
        Variant result = m.Run(args[0].toString(), rest);
        std::copy(rest.begin(), rest.end(), args.begin() + 1);
        return result;
    });
}

static std::shared_ptr<Interpreter> engineOf(const std::weak_ptr<Interpreter> &weak)
{
    auto engine = weak.lock();
    if (!engine)
        throw VbError(VbErr::ObjectVariableNotSet);
    return engine;
}

void ScriptModule::AddCode(const QString &code)
{
    engineOf(m_engine)->addCode(*this, code);
}

Variant ScriptModule::Run(const QString &procedure, std::vector<Variant> &args)
{
    return engineOf(m_engine)->run(*this, procedure, args);
}

Variant ScriptModule::Eval(const QString &expression)
{
    return engineOf(m_engine)->eval(*this, expression);
}

void ScriptModule::ExecuteStatement(const QString &statement)
{
    engineOf(m_engine)->executeStatement(*this, statement);
}

int ScriptModule::define(const QString &lower)
{
    auto it = m_index.constFind(lower);
    if (it != m_index.constEnd())
        return *it;
    int index = int(m_globals.size());
    m_globals.emplace_back();
    m_index.insert(lower, index);
    return index;
}

void ScriptModule::checkNames(const Program &program) const
{
    // A class may not take the name of a variable or procedure the module
    // declared earlier, nor the other way round.
    auto redefined = [](const Node *at) {
        return SyntaxError::make(SyntaxError::NameRedefined, at->line, at->column);
    };
    for (const ClassDef *c : program.classes)
        if (m_declared.contains(c->lower))
            throw redefined(c);
    for (const Procedure *p : program.procedures)
        if (m_classes.contains(p->lower))
            throw redefined(p);
    for (auto it = program.declaredAt.cbegin(); it != program.declaredAt.cend(); ++it)
        if (m_classes.contains(it.key()))
            throw redefined(it.value());
}

void ScriptModule::adopt(const ProgramPtr &program)
{
    checkNames(*program);
    for (const QString &name : program->globalNames) {
        define(name);
        m_declared.insert(name);
    }
    bool replaces = false;
    for (const Procedure *p : program->procedures) {
        m_declared.insert(p->lower);
        Global &g = m_globals[size_t(define(p->lower))];
        replaces = replaces || g.procedure;
        g.procedure = p;
        g.value = Variant();
    }
    for (const ClassDef *c : program->classes)
        m_classes.insert(c->lower, {c, program});
    if (program->procedures.empty() && program->classes.empty())
        return;
    m_programs.push_back(program);
    // A text whose definitions were all replaced (ExecuteGlobal run again and again) is
    // not kept for ever: it goes once no frame can be running its code.
    if (replaces) {
        auto gone = std::stable_partition(m_programs.begin(), m_programs.end(),
                                          [this](const ProgramPtr &p) { return defines(*p); });
        std::move(gone, m_programs.end(), std::back_inserter(m_replaced));
        m_programs.erase(gone, m_programs.end());
    }
}

bool ScriptModule::defines(const Program &program) const
{
    for (const Procedure *p : program.procedures)
        if (findProcedure(p->lower) == p)
            return true;
    for (const ClassDef *c : program.classes)
        if (findClass(c->lower) == c)
            return true;
    return false;
}

ProgramPtr ScriptModule::programOf(const Procedure *procedure) const
{
    for (const ProgramPtr &p : m_programs)
        if (std::find(p->procedures.begin(), p->procedures.end(), procedure) != p->procedures.end())
            return p;
    return nullptr;
}

void ScriptModule::releaseValues()
{
    for (Global &g : m_globals) {
        Variant old = std::move(g.value);
        g.value = Variant();
    }
}

const ClassDef *ScriptModule::findClass(const QString &lower, ProgramPtr *owner) const
{
    auto it = m_classes.constFind(lower);
    if (it == m_classes.constEnd())
        return nullptr;
    if (owner)
        *owner = it->second;
    return it->first;
}

const Procedure *ScriptModule::findProcedure(const QString &lower) const
{
    int i = find(lower);
    return i < 0 ? nullptr : m_globals[size_t(i)].procedure;
}
