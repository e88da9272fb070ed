#include "RegExpMatches.h"

RegExpMatches::RegExpMatches(std::vector<Variant> matches)
    : m_matches(std::move(matches))
{
}

void RegExpMatches::describe(DispatchTable<RegExpMatches> &t)
{
    t.name(QStringLiteral("IMatchCollection2"));
    t.get(QStringLiteral("Item"), &RegExpMatches::Item);
    t.get(QString(), &RegExpMatches::Item);
    t.get(QStringLiteral("Count"), &RegExpMatches::Count);
}

Variant RegExpMatches::Item(const Variant &index) const
{
    const qint32 i = index.isObject() ? index.defaultValue().toLong() : index.toLong();
    if (i < 0 || size_t(i) >= m_matches.size())
        throw VbError(VbErr::InvalidProcedureCall);
    return m_matches[size_t(i)];
}

bool RegExpMatches::enumerate(std::vector<Variant> &items)
{
    items = m_matches;
    return true;
}
