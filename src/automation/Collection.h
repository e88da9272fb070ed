#pragma once

#include "Dispatch.h"
#include "MemoryBudget.h"

#include <QHash>

// VB's Collection: 1-based, optionally keyed (keys without regard to case),
// a duplicate key is error 457, a missing item error 5.
class Collection : public DispatchObject<Collection>
{
public:
    static void describe(DispatchTable<Collection> &t);

    void add(const Variant &item, const QString &key = QString());
    // Before/after: a 1-based index or a key, Empty when not given.
    void add(const Variant &item, const QString &key, const Variant &before, const Variant &after);
    const Variant &item(const Variant &indexOrKey) const;
    bool containsKey(const QString &key) const;
    void remove(const Variant &indexOrKey);
    void clear();
    int count() const { return int(m_items.size()); }
    const std::vector<Variant> &items() const { return m_items; }

    bool enumerate(std::vector<Variant> &items) override;
    void visitHeld(HeldValues &visitor) override;

private:
    size_t position(const Variant &indexOrKey) const; // 0-based
    void rebuildIndex();

    Variant Add(const Variant &item, const Variant &key, const Variant &before, const Variant &after);
    Variant Item(const Variant &indexOrKey) const;
    void Remove(const Variant &indexOrKey);
    qint32 Count() const;

    std::vector<Variant> m_items;
    std::vector<QString> m_keys; // lower-cased, empty for none
    QHash<QString, size_t> m_index;
    MemoryBudget::Held m_held; // the entries, besides what their items hold
};

using CollectionPtr = std::shared_ptr<Collection>;
