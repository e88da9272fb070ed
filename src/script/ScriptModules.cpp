#include "ScriptModules.h"

#include "Interpreter.h"

ScriptModules::ScriptModules(std::weak_ptr<Interpreter> engine)
    : m_engine(std::move(engine))
{
}

void ScriptModules::describe(DispatchTable<ScriptModules> &t)
{
    t.name(QStringLiteral("Modules"));
    t.method(QStringLiteral("Add"), &ScriptModules::Add);
    t.method(QStringLiteral("Item"), &ScriptModules::Item);
    t.method(QString(), &ScriptModules::Item);
    t.get(QStringLiteral("Count"), &ScriptModules::Count);
}

std::shared_ptr<Interpreter> ScriptModules::engine() const
{
    auto e = m_engine.lock();
    if (!e)
        throw VbError(VbErr::ObjectVariableNotSet);
    return e;
}

ScriptModulePtr ScriptModules::add(const QString &name)
{
    if (name.isEmpty())
        throw VbError(VbErr::InvalidProcedureCall);
    return engine()->addModule(name);
}

ScriptModulePtr ScriptModules::item(const QString &name) const
{
    auto e = engine();
    if (name.compare(QLatin1String("Global"), Qt::CaseInsensitive) == 0)
        return e->globalModule();
    if (auto m = e->module(name))
        return m;
    throw VbError(VbErr::SubscriptOutOfRange);
}

int ScriptModules::count() const
{
    auto e = engine();
    e->globalModule();
    return int(e->modules().size());
}

bool ScriptModules::enumerate(std::vector<Variant> &items)
{
    auto e = engine();
    e->globalModule();
    for (const auto &m : e->modules())
        items.emplace_back(ObjectPtr(m));
    return true;
}

ObjectPtr ScriptModules::Add(const QString &name)
{
    return add(name);
}

ObjectPtr ScriptModules::Item(const Variant &nameOrIndex) const
{
    if (nameOrIndex.isString())
        return item(nameOrIndex.rawString());
    auto e = engine();
    e->globalModule();
    int index = nameOrIndex.toLong();
    if (index < 1 || index > int(e->modules().size()))
        throw VbError(VbErr::SubscriptOutOfRange);
    return e->modules()[size_t(index - 1)];
}
