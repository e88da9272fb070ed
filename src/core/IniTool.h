#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "automation/VbError.h"

// One INI file held in memory. Section and key names are compared ignoring case, the first
// occurrence of a key wins, and Save rewrites the whole file sorted, keeping a "_bck" copy.
class IniTool
{
public:
    void Load(const QString& file);
    void DumpHashTable() {}
    QString Read(const QString& section, const QString& key, const QString& defaultValue) const;
    void WriteKey(const QString& section, const QString& key, const QString& value);
    void RemoveKey(const QString& section, const QString& key);
    void RemoveSection(const QString& section);
    // Section names in the order they were first seen; empty when there is none.
    QStringList Headers() const;
    // Key names of the section; one empty element when it has none.
    QStringList Keys(const QString& section) const;
    void Clear();
    // Returns false when the file could not be written completely; lastError() then says why.
    bool Save();
    const VbError& lastError() const { return m_lastError; }

    QString fileName() const { return m_file; }

    // What the held entries take in memory, kept up to date by every change.
    qint64 bytes() const { return m_bytes; }
    // How much more bytes() would be after WriteKey with these arguments (negative when less).
    qint64 writeGrowth(const QString& section, const QString& key, const QString& value) const;

private:
    struct Entry {
        QString key;   // as first seen: a section name, or section + Chr(3) + key name
        QString item;  // the section name, or the value
        bool isSection = false;
    };

    static QString valueKey(const QString& section, const QString& key);
    static qint64 entryBytes(const QString& key, const QString& item);
    void addSection(const QString& section);
    void insert(const QString& key, const QString& item, bool isSection);
    const Entry* find(const QString& key) const;

    QString m_file;
    VbError m_lastError;
    QList<Entry> m_entries;                 // dictionary order; removed entries are erased
    QHash<QString, qsizetype> m_index;      // lower-cased key -> position in m_entries
    qint64 m_bytes = 0;
};
