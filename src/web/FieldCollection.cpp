#include "web/FieldCollection.h"

#include "web/HtmlText.h"

bool FieldCollection::add(const KeyValuePair &pair)
{
    const QString key = HtmlText::lcase(pair.Key());
    if (m_index.contains(key)) {
        if (!m_repeatedIndex.contains(key)) {
            m_repeatedIndex.insert(key);
            m_repeated.push_back(pair.Key());
        }
        return false;
    }
    m_index.insert(key, qsizetype(m_items.size()));
    m_items.push_back(pair);
    return true;
}

const KeyValuePair *FieldCollection::find(const QString &key) const
{
    const auto it = m_index.constFind(HtmlText::lcase(key));
    return it == m_index.constEnd() ? nullptr : &m_items[size_t(*it)];
}

QString FieldCollection::value(const QString &key) const
{
    const KeyValuePair *pair = find(key);
    return pair ? pair->Value() : QString();
}
