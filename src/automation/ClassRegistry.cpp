#include "ClassRegistry.h"

#include "Dictionary.h"
#include "RegExp.h"
#include "VbError.h"
#include "automation/Latin1Case.h"

ClassRegistry &ClassRegistry::instance()
{
    static ClassRegistry registry;
    return registry;
}

ClassRegistry::ClassRegistry()
{
    add(QStringLiteral("Scripting.Dictionary"), [] { return std::make_shared<Dictionary>(); });
    add(QStringLiteral("VBScript.RegExp"), [] { return std::make_shared<RegExp>(); });
}

void ClassRegistry::add(const QString &progId, Factory factory)
{
    m_factories.insert(Latin1Case::lower(progId), {progId, std::move(factory)});
}

bool ClassRegistry::contains(const QString &progId) const
{
    return m_factories.contains(Latin1Case::lower(progId));
}

ObjectPtr ClassRegistry::create(const QString &progId) const
{
    auto it = m_factories.constFind(Latin1Case::lower(progId));
    if (it == m_factories.constEnd())
        throw VbError(VbErr::CantCreateObject);
    return it->second();
}

QStringList ClassRegistry::progIds() const
{
    QStringList ids;
    for (const auto &entry : m_factories)
        ids << entry.first;
    ids.sort(Qt::CaseInsensitive);
    return ids;
}
