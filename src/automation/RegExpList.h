#pragma once

#include "Dispatch.h"

// A list of values a RegExp hands out: Item (the default member) from index 0,
// Count, and For Each over the values. The interface name is what TypeName says.
template<const char *Interface>
class RegExpList : public DispatchObject<RegExpList<Interface>>
{
public:
    explicit RegExpList(std::vector<Variant> items)
        : m_items(std::move(items))
    {
    }

    static void describe(DispatchTable<RegExpList> &t)
    {
        t.name(QString::fromLatin1(Interface));
        t.get(QStringLiteral("Item"), &RegExpList::Item);
        t.get(QString(), &RegExpList::Item);
        t.get(QStringLiteral("Count"), &RegExpList::Count);
    }

    bool enumerate(std::vector<Variant> &items) override
    {
        items = m_items;
        return true;
    }

private:
    Variant Item(const Variant &index) const
    {
        const qint32 i = index.isObject() ? index.defaultValue().toLong() : index.toLong();
        if (i < 0 || size_t(i) >= m_items.size())
            throw VbError(VbErr::InvalidProcedureCall);
        return m_items[size_t(i)];
    }
    qint32 Count() const { return qint32(m_items.size()); }

    std::vector<Variant> m_items;
};

inline constexpr char kMatchesInterface[] = "IMatchCollection2";
inline constexpr char kSubMatchesInterface[] = "ISubMatches";

// What RegExp.Execute returns: the matches in order.
using RegExpMatches = RegExpList<kMatchesInterface>;
// A match's captured groups, the first at index 0; a group that took no part
// in the match is Empty.
using RegExpSubMatches = RegExpList<kSubMatchesInterface>;
