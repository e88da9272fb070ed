#pragma once

#include "Dispatch.h"
#include "MemoryBudget.h"
#include "RegExpList.h"

// One match of a RegExp ("IMatch2"): its text (the default member), where it
// starts (0-based) and its length, and the captured groups.
class RegExpMatch : public DispatchObject<RegExpMatch>
{
public:
    RegExpMatch(QString value, qint32 firstIndex, std::vector<Variant> groups);
    static void describe(DispatchTable<RegExpMatch> &t);

    const QString &value() const { return m_value; }
    qint32 firstIndex() const { return m_firstIndex; }

private:
    QString Value() const { return m_value; }
    qint32 FirstIndex() const { return m_firstIndex; }
    qint32 Length() const { return qint32(m_value.size()); }
    ObjectPtr SubMatches() const;

    MemoryBudget::Held m_held; // the object and its text, checked before the groups are kept
    QString m_value;
    qint32 m_firstIndex;
    std::shared_ptr<RegExpSubMatches> m_subMatches;
};
