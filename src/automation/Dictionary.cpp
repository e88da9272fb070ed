#include "Dictionary.h"

#include "automation/ScriptCase.h"

namespace {
constexpr qint32 kElementNotFound = 32811;
constexpr qint64 kEmptyBytes = qint64(sizeof(Dictionary)) + 2048;

// An entry's key and item, its slot in the index and the index's copy of the key.
qint64 entryBytes(const QString &indexKey)
{
    return qint64(2 * sizeof(Variant) + 64) + MemoryBudget::textBytes(indexKey);
}
}

Dictionary::Dictionary(CompareMode mode)
    : m_mode(mode)
{
    // The object, and the first block of its index, which even one key takes.
    m_held.add(kEmptyBytes);
}

void Dictionary::describe(DispatchTable<Dictionary> &t)
{
    t.name(QStringLiteral("Dictionary"));
    t.method(QStringLiteral("Add"), &Dictionary::Add);
    t.method(QStringLiteral("Exists"), &Dictionary::Exists);
    t.method(QStringLiteral("Items"), &Dictionary::Items);
    t.method(QStringLiteral("Keys"), &Dictionary::Keys);
    t.method(QStringLiteral("Remove"), &Dictionary::Remove);
    t.method(QStringLiteral("RemoveAll"), &Dictionary::RemoveAll);
    t.get(QStringLiteral("Count"), &Dictionary::Count);
    t.property(QStringLiteral("CompareMode"), &Dictionary::getCompareMode, &Dictionary::setCompareModeLong);
    auto item = [](Dictionary &d, CallKind kind, std::vector<Variant> &args) -> Variant {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet) {
            if (args.size() != 2)
                throw VbError(VbErr::WrongArgumentCount);
            d.setItem(args[0], args[1]);
            return Variant();
        }
        if (args.size() != 1)
            throw VbError(VbErr::WrongArgumentCount);
        return d.itemRef(args[0]);
    };
    t.raw(QStringLiteral("Item"), item);
    t.raw(QString(), item);
    t.raw(QStringLiteral("Key"), [](Dictionary &d, CallKind kind, std::vector<Variant> &args) -> Variant {
        if (kind != CallKind::PropertyLet || args.size() != 2)
            throw VbError(VbErr::NotSupported);
        d.renameKey(args[0], args[1]);
        return Variant();
    });
}

QString Dictionary::norm(const Variant &key) const
{
    switch (key.type()) {
    case Variant::String:
        return QLatin1String("s:") + (m_mode != BinaryCompare ? ScriptCase::lower(key.rawString()) : key.rawString());
    case Variant::Empty:
        return QStringLiteral("e:");
    case Variant::Null:
        return QStringLiteral("z:");
    case Variant::Object:
        return QStringLiteral("o:%1").arg(quintptr(key.rawObject().get()));
    case Variant::Date:
        return QStringLiteral("d:%1").arg(key.rawDate(), 0, 'g', 17);
    case Variant::Array:
        throw VbError(VbErr::TypeMismatch);
    default:
        return QStringLiteral("n:%1").arg(key.toDouble(), 0, 'g', 17);
    }
}

void Dictionary::reindexFrom(size_t position)
{
    for (size_t i = position; i < m_keys.size(); ++i)
        m_index[norm(m_keys[i])] = i;
}

void Dictionary::add(const Variant &key, const Variant &item)
{
    QString k = norm(key);
    if (m_index.contains(k))
        throw VbError(VbErr::DuplicateKey);
    m_held.add(entryBytes(k));
    m_index.insert(k, m_keys.size());
    m_keys.push_back(key);
    m_items.push_back(item);
}

bool Dictionary::exists(const Variant &key) const
{
    return m_index.contains(norm(key));
}

Variant Dictionary::item(const Variant &key) const
{
    auto it = m_index.constFind(norm(key));
    return it == m_index.constEnd() ? Variant() : m_items[*it];
}

Variant &Dictionary::itemRef(const Variant &key)
{
    QString k = norm(key);
    auto it = m_index.constFind(k);
    if (it != m_index.constEnd())
        return m_items[*it];
    // Reading a missing key adds it, as the scripting dictionary does.
    m_held.add(entryBytes(k));
    m_index.insert(k, m_keys.size());
    m_keys.push_back(key);
    m_items.emplace_back();
    return m_items.back();
}

void Dictionary::setItem(const Variant &key, const Variant &item)
{
    itemRef(key) = item;
}

void Dictionary::remove(const Variant &key)
{
    QString k = norm(key);
    auto it = m_index.find(k);
    if (it == m_index.end())
        throw VbError(kElementNotFound, QStringLiteral("Element not found"));
    size_t pos = *it;
    m_index.erase(it);
    m_held.drop(entryBytes(k));
    m_keys.erase(m_keys.begin() + qsizetype(pos));
    m_items.erase(m_items.begin() + qsizetype(pos));
    reindexFrom(pos);
}

void Dictionary::removeAll()
{
    m_keys.clear();
    m_items.clear();
    m_index.clear();
    m_held.drop(m_held.bytes() - kEmptyBytes);
}

void Dictionary::renameKey(const Variant &oldKey, const Variant &newKey)
{
    QString oldNorm = norm(oldKey), newNorm = norm(newKey);
    auto it = m_index.find(oldNorm);
    if (it == m_index.end())
        throw VbError(kElementNotFound, QStringLiteral("Element not found"));
    if (oldNorm != newNorm && m_index.contains(newNorm))
        throw VbError(VbErr::DuplicateKey);
    m_held.add(entryBytes(newNorm));
    size_t pos = *it;
    m_index.erase(it);
    m_held.drop(entryBytes(oldNorm));
    m_keys[pos] = newKey;
    m_index.insert(newNorm, pos);
}

void Dictionary::setCompareMode(qint32 mode)
{
    if (mode < 0 || !m_keys.empty())
        throw VbError(VbErr::InvalidProcedureCall);
    m_mode = mode;
}

bool Dictionary::enumerate(std::vector<Variant> &items)
{
    items = m_keys;
    return true;
}

Variant Dictionary::Add(const Variant &key, const Variant &item)
{
    add(key, item);
    return Variant();
}

bool Dictionary::Exists(const Variant &key) const
{
    return exists(key);
}

Variant Dictionary::Items() const
{
    MemoryBudget::checkArray(count());
    return Variant(VbArray::fromValues(m_items));
}

Variant Dictionary::Keys() const
{
    MemoryBudget::checkArray(count());
    return Variant(VbArray::fromValues(m_keys));
}

void Dictionary::Remove(const Variant &key)
{
    remove(key);
}

void Dictionary::RemoveAll()
{
    removeAll();
}

qint32 Dictionary::Count() const
{
    return count();
}

qint32 Dictionary::getCompareMode() const
{
    return m_mode;
}

void Dictionary::setCompareModeLong(qint32 mode)
{
    setCompareMode(mode);
}

void Dictionary::visitHeld(HeldValues &visitor)
{
    for (Variant &item : m_items)
        visitor.value(item);
}
