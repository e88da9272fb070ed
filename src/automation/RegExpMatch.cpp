#include "RegExpMatch.h"

RegExpMatch::RegExpMatch(QString value, qint32 firstIndex, std::vector<Variant> groups)
    : m_held(qint64(sizeof(RegExpMatch) + sizeof(RegExpSubMatches) + 2 * sizeof(Variant) + 64)
             + MemoryBudget::textBytes(value))
    , m_value(std::move(value))
    , m_firstIndex(firstIndex)
    , m_subMatches(std::make_shared<RegExpSubMatches>(std::move(groups)))
{
}

void RegExpMatch::describe(DispatchTable<RegExpMatch> &t)
{
    t.name(QStringLiteral("IMatch2"));
    t.get(QStringLiteral("Value"), &RegExpMatch::Value);
    t.get(QString(), &RegExpMatch::Value);
    t.get(QStringLiteral("FirstIndex"), &RegExpMatch::FirstIndex);
    t.get(QStringLiteral("Length"), &RegExpMatch::Length);
    t.get(QStringLiteral("SubMatches"), &RegExpMatch::SubMatches);
}

ObjectPtr RegExpMatch::SubMatches() const
{
    return m_subMatches;
}
