#pragma once

#include "web/KeyValuePair.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

// Fields in the order they came, keyed without regard to letter case; a key
// that is already present keeps its first pair.
class FieldCollection
{
public:
    // False (and nothing added) when the key is already there.
    bool add(const KeyValuePair &pair);
    const KeyValuePair *find(const QString &key) const;
    // "" for a missing key.
    QString value(const QString &key) const;
    const std::vector<KeyValuePair> &items() const { return m_items; }
    int count() const { return int(m_items.size()); }
    // The keys that came more than once, each once, as first repeated.
    const QStringList &repeated() const { return m_repeated; }

private:
    std::vector<KeyValuePair> m_items;
    QHash<QString, qsizetype> m_index; // lower-cased key -> position
    QStringList m_repeated;
    QSet<QString> m_repeatedIndex;
};
