#pragma once

#include "core/IniTool.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

// The host's INI files of the Config folder, one IniTool per file, kept in
// memory for the life of the process. Reads come from memory (a file changed
// on disk is read again first); writes stay in memory until flush().
class IniCache
{
public:
    IniCache();

    // Back to the single reserved slot, as the host's initialisation leaves it.
    void reset();

    QString read(const QString &file, const QString &section, const QString &key, const QString &defaultValue);
    void write(const QString &file, const QString &section, const QString &key, const QString &value);
    // key=value items of the section joined by Chr(0); "" when it has none.
    QString section(const QString &file, const QString &section);
    // The length section() would give, without making the text.
    qint64 sectionChars(const QString &file, const QString &section);
    void clearSection(const QString &file, const QString &section);
    // Saves every changed file; a file that cannot be written stays changed, and once
    // the others are saved the failure is raised.
    void flush();

    int slotCount() const { return int(m_slots.size()); }
    bool isDirty(const QString &file) const;

private:
    struct Slot {
        QString key;
        QDateTime fileDate;
        std::unique_ptr<IniTool> ini;
        bool dirty = false;
    };

    static QString pathOf(const QString &file);
    int index(const QString &file, bool noReload);

    std::vector<Slot> m_slots;
};
