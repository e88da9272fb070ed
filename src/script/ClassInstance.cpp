#include "ClassInstance.h"

#include "Interpreter.h"

#include "ProcRef.h"
#include "ScriptModule.h"

#include "automation/Latin1Case.h"

#include <typeinfo>
#include <unordered_set>

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
    if (orphaned())
        throw VbError(VbErr::ObjectVariableNotSet);
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

bool ClassInstance::orphaned() const
{
    return m_module && m_module->ended();
}

ObjectPtr ClassInstance::self()
{
    return shared_from_this();
}

namespace {

bool isEnded(const Object &object)
{
    if (typeid(object) == typeid(ClassInstance))
        return static_cast<const ClassInstance &>(object).orphaned();
    if (typeid(object) == typeid(ProcRef))
        return static_cast<const ProcRef &>(object).orphaned();
    return false;
}

// Walks without recursion (containers may nest deep or hold themselves) and releases what
// it takes only once the walk is over: a release must not change a container being walked.
class EndedObjectSweep : public HeldValues
{
public:
    void value(Variant &held) override { m_values.push_back(&held); }
    void object(ObjectPtr &held) override { m_objects.push_back(&held); }
    void part(ObjectPtr held) override { m_parts.push_back(std::move(held)); }

    int run()
    {
        while (!m_values.empty() || !m_objects.empty() || !m_parts.empty()) {
            if (!m_parts.empty()) {
                const ObjectPtr part = std::move(m_parts.back());
                m_parts.pop_back();
                if (part && m_seen.insert(part.get()).second)
                    part->visitHeld(*this);
                continue;
            }
            if (!m_objects.empty()) {
                ObjectPtr *held = m_objects.back();
                m_objects.pop_back();
                if (*held && take(**held)) {
                    m_released.emplace_back(std::move(*held));
                    held->reset();
                }
                continue;
            }
            Variant *held = m_values.back();
            m_values.pop_back();
            if (held->isArray()) {
                if (holdsObjects(held->array()))
                    for (Variant &element : held->arrayMut().data())
                        m_values.push_back(&element);
            } else if (held->isObject() && held->rawObject() && take(*held->rawObject())) {
                m_released.emplace_back(held->rawObject());
                *held = Variant::nothing();
            }
        }
        return m_dropped;
    }

private:
    static bool holdsObjects(const VbArray &array)
    {
        for (const Variant &element : array.data())
            if (element.isArray() || (element.isObject() && element.rawObject()))
                return true;
        return false;
    }

    // Whether the object is to be dropped; otherwise what it keeps joins the walk.
    bool take(Object &object)
    {
        if (isEnded(object)) {
            ++m_dropped;
            return true;
        }
        if (m_seen.insert(&object).second)
            object.visitHeld(*this);
        return false;
    }

    std::vector<Variant *> m_values;
    std::vector<ObjectPtr *> m_objects;
    std::vector<ObjectPtr> m_parts;
    std::unordered_set<const Object *> m_seen;
    std::vector<ObjectPtr> m_released;
    int m_dropped = 0;
};

} // namespace

int dropEndedScriptObjects(Variant &root)
{
    EndedObjectSweep sweep;
    sweep.value(root);
    return sweep.run();
}
