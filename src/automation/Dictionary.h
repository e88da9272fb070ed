#pragma once

#include "Dispatch.h"
#include "MemoryBudget.h"

#include <QHash>

// "Scripting.Dictionary": keys in insertion order. Keys are any value; text
// keys compare with regard to case under CompareMode 0, without it under any
// other mode (1 text, 2 database, higher a locale's), which reads back as set.
class Dictionary : public DispatchObject<Dictionary>
{
public:
    enum CompareMode { BinaryCompare = 0, TextCompare = 1 };

    explicit Dictionary(CompareMode mode = BinaryCompare);
    static void describe(DispatchTable<Dictionary> &t);

    // C++ side.
    void add(const Variant &key, const Variant &item); // 457 when the key exists
    bool exists(const Variant &key) const;
    Variant item(const Variant &key) const;              // Empty when missing (nothing added)
    Variant &itemRef(const Variant &key);                // adds an Empty item when missing
    void setItem(const Variant &key, const Variant &item); // adds when missing
    void remove(const Variant &key);                     // 32811 when missing
    void removeAll();
    int count() const { return int(m_keys.size()); }
    const std::vector<Variant> &keyList() const { return m_keys; }
    const std::vector<Variant> &itemList() const { return m_items; }
    void renameKey(const Variant &oldKey, const Variant &newKey);
    CompareMode compareMode() const { return m_mode == BinaryCompare ? BinaryCompare : TextCompare; }
    void setCompareMode(qint32 mode); // 5 unless empty, or when negative

    bool enumerate(std::vector<Variant> &items) override;
    void visitHeld(HeldValues &visitor) override;

private:
    QString norm(const Variant &key) const;
    void reindexFrom(size_t position);

    Variant Add(const Variant &key, const Variant &item);
    bool Exists(const Variant &key) const;
    Variant Items() const;
    Variant Keys() const;
    void Remove(const Variant &key);
    void RemoveAll();
    qint32 Count() const;
    qint32 getCompareMode() const;
    void setCompareModeLong(qint32 mode);

    qint32 m_mode;
    std::vector<Variant> m_keys;
    std::vector<Variant> m_items;
    QHash<QString, size_t> m_index;
    MemoryBudget::Held m_held; // the entries, besides what their values hold
};

using DictionaryPtr = std::shared_ptr<Dictionary>;
