#include "RegExpSubMatches.h"

RegExpSubMatches::RegExpSubMatches(std::vector<Variant> groups)
    : m_groups(std::move(groups))
{
}

void RegExpSubMatches::describe(DispatchTable<RegExpSubMatches> &t)
{
    t.name(QStringLiteral("ISubMatches"));
    t.get(QStringLiteral("Item"), &RegExpSubMatches::Item);
    t.get(QString(), &RegExpSubMatches::Item);
    t.get(QStringLiteral("Count"), &RegExpSubMatches::Count);
}

Variant RegExpSubMatches::Item(const Variant &index) const
{
    const qint32 i = index.isObject() ? index.defaultValue().toLong() : index.toLong();
    if (i < 0 || size_t(i) >= m_groups.size())
        throw VbError(VbErr::InvalidProcedureCall);
    return m_groups[size_t(i)];
}

bool RegExpSubMatches::enumerate(std::vector<Variant> &items)
{
    items = m_groups;
    return true;
}
