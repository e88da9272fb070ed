#pragma once

#include "Dispatch.h"

// A match's captured groups ("ISubMatches"), the first group at index 0; a
// group that took no part in the match is Empty.
class RegExpSubMatches : public DispatchObject<RegExpSubMatches>
{
public:
    explicit RegExpSubMatches(std::vector<Variant> groups);
    static void describe(DispatchTable<RegExpSubMatches> &t);

    const std::vector<Variant> &groups() const { return m_groups; }
    bool enumerate(std::vector<Variant> &items) override;

private:
    Variant Item(const Variant &index) const;
    qint32 Count() const { return qint32(m_groups.size()); }

    std::vector<Variant> m_groups;
};
