#pragma once

#include "core/IniTool.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

// The host's INI files of the Config folder, one IniTool per file, kept in
// memory for the life of the process. Reads come from memory (a file changed
// on disk is read again first); writes stay in memory until flush().
// A file is one slot however its name is spelled, and what the slots hold is
// counted in the scripts' memory budget (a script can name any file).
class IniCache
{
public:
    IniCache();
    ~IniCache();
    IniCache(const IniCache &) = delete;
    IniCache &operator=(const IniCache &) = delete;

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

    // The memory that reading (loadCost) or writing (writeCost) would take beyond what the
    // cache holds now, for a check before a script's call: loading a file passes through
    // its bytes, their text and its lines before the entries are built.
    qint64 loadCost(const QString &file, bool noReload) const;
    qint64 writeCost(const QString &file, const QString &section, const QString &key, const QString &value) const;

private:
    struct Slot {
        QString key;
        QDateTime fileDate;
        std::unique_ptr<IniTool> ini;
        bool dirty = false;
        qint64 charged = 0;
    };

    static QString pathOf(const QString &file);
    // One key per file on disk: its real path, letters compared ignoring case.
    static QString keyOf(const QString &path);
    const Slot *find(const QString &key) const;
    int index(const QString &file, bool noReload);
    void recount(Slot &slot);
    void releaseAll();

    std::vector<Slot> m_slots;
};
