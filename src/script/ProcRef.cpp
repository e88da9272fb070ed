#include "ProcRef.h"

#include "Interpreter.h"

ProcRef::ProcRef(std::weak_ptr<Interpreter> engine, std::shared_ptr<ScriptModule> module, const Procedure *procedure,
                 ProgramPtr program)
    : m_engine(std::move(engine))
    , m_module(std::move(module))
    , m_procedure(procedure)
    , m_program(std::move(program))
{
}

bool ProcRef::orphaned() const
{
    return m_module && m_module->ended();
}

Variant ProcRef::invoke(const QString &name, CallKind, std::vector<Variant> &args)
{
    if (!name.isEmpty())
        throw VbError(VbErr::NotSupported);
    auto engine = m_engine.lock();
    if (!engine)
        throw VbError(VbErr::NotSupported);
    if (orphaned())
        throw VbError(VbErr::ObjectVariableNotSet);
    return engine->callProcedureRef(*m_module, *m_procedure, args);
}
