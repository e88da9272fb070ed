#include "ClassInstance.h"

#include "Interpreter.h"

#include "automation/Latin1Case.h"

namespace {

// What one object takes in memory: its own block, its owner's control block and its
// fields' block, each with the allocator's header, and its entries in the engine's list
// of objects and in the release queue.
qint64 chargedBytes(const ClassDef *def)
{
    constexpr qint64 kHeader = 16;
    const qint64 fields = qint64(def->fields.size() * sizeof(Variant));
    return qint64(sizeof(ClassInstance)) + kHeader + 48 + kHeader + (fields ? fields + kHeader : 0) + 2 * 16 + 16;
}

} // namespace

ClassInstance::ClassInstance(std::weak_ptr<Interpreter> engine, std::shared_ptr<ScriptModule> module,
                             const ClassDef *def, ProgramPtr program)
    : m_engine(std::move(engine))
    , m_engineId(m_engine.lock().get())
    , m_module(std::move(module))
    , m_def(def)
    , m_program(std::move(program))
    , m_held(chargedBytes(def))
    , m_fields(def->fields.size())
{
}

std::shared_ptr<ClassInstance> ClassInstance::create(std::weak_ptr<Interpreter> engine,
                                                     std::shared_ptr<ScriptModule> module, const ClassDef *def,
                                                     ProgramPtr program)
{
    return std::shared_ptr<ClassInstance>(
        new ClassInstance(std::move(engine), std::move(module), def, std::move(program)), &lastReferenceGone);
}

void ClassInstance::lastReferenceGone(ClassInstance *instance)
{
    if (!instance->m_terminated) {
        instance->m_terminated = true;
        auto engine = instance->m_engine.lock();
        if (engine && engine->terminateRuns(*instance)) {
            // A new owner for Class_Terminate's Me (the expired one is replaced in
            // weak_from_this): a reference the terminate keeps is a real one.
            engine->deferTerminate(std::shared_ptr<ClassInstance>(instance, &lastReferenceGone));
            return; // the object goes with its new owner unless the terminate keeps it
        }
    }
    delete instance;
}

ClassInstance::~ClassInstance() = default;

QString ClassInstance::typeName() const
{
    return m_def->name;
}

Variant ClassInstance::invoke(const QString &name, CallKind kind, std::vector<Variant> &args)
{
    auto engine = m_engine.lock();
    if (!engine)
        throw VbError(VbErr::NotSupported);
    return engine->invokeMember(*this, name, kind, args);
}

bool ClassInstance::hasMember(const QString &name) const
{
    QString lower = Latin1Case::lower(name);
    auto f = m_def->fieldIndex.constFind(lower);
    if (f != m_def->fieldIndex.constEnd())
        return m_def->fields[size_t(*f)].isPublic;
    auto m = m_def->members.constFind(lower);
    if (m == m_def->members.constEnd())
        return false;
    for (const Procedure *p : {m->method, m->get, m->let, m->set})
        if (p && p->isPublic)
            return true;
    return false;
}

void ClassInstance::releaseFields()
{
    // The old values go only after the object is whole again: their own
    // release may reach back into it.
    std::vector<Variant> old(m_fields.size());
    old.swap(m_fields);
}

ObjectPtr ClassInstance::self()
{
    return shared_from_this();
}
