#pragma once

#include "Dispatch.h"
#include "ScriptModule.h"

class Interpreter;

// The script control's Modules collection: Add gives a fresh, empty module
// (also when the name exists), Item finds one by name.
class ScriptModules : public DispatchObject<ScriptModules>
{
public:
    explicit ScriptModules(std::weak_ptr<Interpreter> engine);
    static void describe(DispatchTable<ScriptModules> &t);

    ScriptModulePtr add(const QString &name);
    ScriptModulePtr item(const QString &name) const; // 9 when there is none
    int count() const;

    bool enumerate(std::vector<Variant> &items) override;

private:
    std::shared_ptr<Interpreter> engine() const;
    ObjectPtr Add(const QString &name);
    ObjectPtr Item(const Variant &nameOrIndex) const;
    qint32 Count() const { return count(); }

    std::weak_ptr<Interpreter> m_engine;
};
