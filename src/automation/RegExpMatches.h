#pragma once

#include "Dispatch.h"

// What RegExp.Execute returns ("IMatchCollection2"): the matches in order,
// Item (the default member) from index 0, and For Each over them.
class RegExpMatches : public DispatchObject<RegExpMatches>
{
public:
    explicit RegExpMatches(std::vector<Variant> matches);
    static void describe(DispatchTable<RegExpMatches> &t);

    const std::vector<Variant> &matches() const { return m_matches; }
    bool enumerate(std::vector<Variant> &items) override;

private:
    Variant Item(const Variant &index) const;
    qint32 Count() const { return qint32(m_matches.size()); }

    std::vector<Variant> m_matches;
};
