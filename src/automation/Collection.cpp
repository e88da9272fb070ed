#include "Collection.h"

#include "automation/Latin1Case.h"

void Collection::describe(DispatchTable<Collection> &t)
{
    t.name(QStringLiteral("Collection"));
    t.method(QStringLiteral("Add"), &Collection::Add);
    t.method(QStringLiteral("Item"), &Collection::Item);
    t.method(QString(), &Collection::Item);
    t.method(QStringLiteral("Remove"), &Collection::Remove);
    t.get(QStringLiteral("Count"), &Collection::Count);
}

namespace {

// An item's slot, its key and the key's place in the index.
qint64 entryBytes(const QString &key)
{
    return qint64(sizeof(Variant) + 64) + MemoryBudget::textBytes(key);
}

} // namespace

void Collection::add(const Variant &item, const QString &key)
{
    add(item, key, Variant(), Variant());
}

void Collection::add(const Variant &item, const QString &key, const Variant &before, const Variant &after)
{
    const QString k = Latin1Case::lower(key);
    if (!k.isEmpty() && m_index.contains(k))
        throw VbError(VbErr::DuplicateKey);
    size_t at = m_items.size();
    if (!before.isEmpty() && !after.isEmpty())
        throw VbError(VbErr::InvalidProcedureCall);
    if (!before.isEmpty())
        at = position(before);
    else if (!after.isEmpty())
        at = position(after) + 1;
    m_held.add(entryBytes(k));
    m_items.insert(m_items.begin() + qsizetype(at), item);
    m_keys.insert(m_keys.begin() + qsizetype(at), k);
    if (at + 1 == m_items.size()) {
        if (!k.isEmpty())
            m_index.insert(k, at);
    } else {
        rebuildIndex();
    }
}

size_t Collection::position(const Variant &indexOrKey) const
{
    if (indexOrKey.isString()) {
        auto it = m_index.constFind(Latin1Case::lower(indexOrKey.rawString()));
        if (it == m_index.constEnd())
            throw VbError(VbErr::InvalidProcedureCall);
        return *it;
    }
    qint32 i = indexOrKey.toLong();
    if (i < 1 || size_t(i) > m_items.size())
        throw VbError(VbErr::SubscriptOutOfRange);
    return size_t(i - 1);
}

void Collection::rebuildIndex()
{
    m_index.clear();
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (!m_keys[i].isEmpty())
            m_index.insert(m_keys[i], i);
}

const Variant &Collection::item(const Variant &indexOrKey) const
{
    return m_items[position(indexOrKey)];
}

bool Collection::containsKey(const QString &key) const
{
    return m_index.contains(Latin1Case::lower(key));
}

void Collection::remove(const Variant &indexOrKey)
{
    size_t at = position(indexOrKey);
    m_held.drop(entryBytes(m_keys[at]));
    m_items.erase(m_items.begin() + qsizetype(at));
    m_keys.erase(m_keys.begin() + qsizetype(at));
    rebuildIndex();
}

void Collection::clear()
{
    m_items.clear();
    m_keys.clear();
    m_index.clear();
    m_held.clear();
}

bool Collection::enumerate(std::vector<Variant> &items)
{
    items = m_items;
    return true;
}

Variant Collection::Add(const Variant &item, const Variant &key, const Variant &before, const Variant &after)
{
    add(item, key.isEmpty() ? QString() : key.toString(), before, after);
    return Variant();
}

Variant Collection::Item(const Variant &indexOrKey) const
{
    return item(indexOrKey);
}

void Collection::Remove(const Variant &indexOrKey)
{
    remove(indexOrKey);
}

qint32 Collection::Count() const
{
    return count();
}

void Collection::visitHeld(HeldValues &visitor)
{
    for (Variant &item : m_items)
        visitor.value(item);
}
