#include "host/IniCache.h"

#include "core/ConfigPath.h"
#include "core/SavedFiles.h"

#include "automation/VbError.h"
#include "automation/Latin1Case.h"
#include "automation/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>


namespace {

// A load holds the file's bytes, their text (two bytes a character), its lines and the
// entries built from them at once.
constexpr qint64 kLoadBytesPerFileByte = 8;

} // namespace

IniCache::IniCache()
{
    reset();
}

IniCache::~IniCache()
{
    releaseAll();
}

void IniCache::releaseAll()
{
    for (Slot &slot : m_slots) {
        MemoryBudget::release(slot.charged);
        slot.charged = 0;
    }
}

void IniCache::recount(Slot &slot)
{
    const qint64 now = slot.ini->bytes();
    MemoryBudget::charge(now - slot.charged);
    slot.charged = now;
}

void IniCache::reset()
{
    releaseAll();
    m_slots.clear();
    Slot reserved;
    // Lookup keys are lower case, so no file ever matches this slot.
    reserved.key = QStringLiteral("ControlSystemIniFile");
    reserved.ini = std::make_unique<IniTool>();
    m_slots.push_back(std::move(reserved));
}

QString IniCache::pathOf(const QString &file)
{
    QString name = file.isEmpty() ? QStringLiteral("settings.ini") : file;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return ConfigFile(name);
}

QString IniCache::keyOf(const QString &path)
{
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    return Latin1Case::lower(real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real);
}

const IniCache::Slot *IniCache::find(const QString &key) const
{
    for (const Slot &slot : m_slots) {
        if (slot.key == key)
            return &slot;
    }
    return nullptr;
}

qint64 IniCache::loadCost(const QString &file, bool noReload) const
{
    const QFileInfo info(pathOf(file));
    if (!info.isFile())
        return 0;
    const Slot *slot = find(keyOf(info.filePath()));
    if (slot && (noReload || info.lastModified() <= slot->fileDate))
        return 0;
    return kLoadBytesPerFileByte * info.size();
}

qint64 IniCache::writeCost(const QString &file, const QString &section, const QString &key, const QString &value) const
{
    const Slot *slot = find(keyOf(pathOf(file)));
    if (slot)
        return slot->ini->writeGrowth(section, key, value);
    return loadCost(file, true) + IniTool().writeGrowth(section, key, value);
}

int IniCache::index(const QString &file, bool noReload)
{
    const QString path = pathOf(file);
    QFileInfo info(path);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        if (!SavedFiles::save(SavedFiles::Writer::Settings, path, QByteArray()).ok)
            throw VbError(75, QStringLiteral("Path/File access error"));
        info.refresh();
    }
    const QString key = keyOf(path);
    const QDateTime modified = info.lastModified();
    for (size_t i = 0; i < m_slots.size(); ++i) {
        Slot &slot = m_slots[i];
        if (slot.key != key)
            continue;
        if (modified > slot.fileDate) {
            slot.fileDate = modified;
            if (!noReload) {
                slot.ini->Load(path);
                recount(slot);
            }
        }
        return int(i);
    }
    Slot slot;
    slot.key = key;
    slot.fileDate = modified;
    slot.ini = std::make_unique<IniTool>();
    slot.ini->Load(path);
    recount(slot);
    m_slots.push_back(std::move(slot));
    return int(m_slots.size() - 1);
}

QString IniCache::read(const QString &file, const QString &section, const QString &key, const QString &defaultValue)
{
    return m_slots[size_t(index(file, false))].ini->Read(section, key, defaultValue);
}

void IniCache::write(const QString &file, const QString &section, const QString &key, const QString &value)
{
    Slot &slot = m_slots[size_t(index(file, true))];
    slot.ini->WriteKey(section, key, value);
    recount(slot);
    slot.dirty = true;
}

QString IniCache::section(const QString &file, const QString &sectionName)
{
    const IniTool &ini = *m_slots[size_t(index(file, false))].ini;
    const QStringList keys = ini.Keys(sectionName);
    if (keys.size() == 1 && keys.first().isEmpty())
        return QString();
    QString text;
    for (const QString &key : keys)
        text += QChar(0) + key + QLatin1Char('=') + ini.Read(sectionName, key, QString());
    return text.mid(1);
}

qint64 IniCache::sectionChars(const QString &file, const QString &sectionName)
{
    const IniTool &ini = *m_slots[size_t(index(file, false))].ini;
    qint64 chars = 0;
    for (const QString &key : ini.Keys(sectionName))
        chars += key.size() + 2 + ini.Read(sectionName, key, QString()).size();
    return chars;
}

void IniCache::clearSection(const QString &file, const QString &sectionName)
{
    Slot &slot = m_slots[size_t(index(file, false))];
    const QStringList keys = slot.ini->Keys(sectionName);
    const bool hadKeys = !(keys.size() == 1 && keys.first().isEmpty());
    slot.ini->RemoveSection(sectionName);
    recount(slot);
    // Removing the last entries must reach the disk too, or they come back
    // at the next start.
    if (hadKeys)
        slot.dirty = true;
}

bool IniCache::isDirty(const QString &file) const
{
    const Slot *slot = find(keyOf(pathOf(file)));
    return slot && slot->dirty;
}

void IniCache::flush()
{
    // One file that cannot be written must not cost the others their changes: every dirty
    // file is tried, the failed ones stay dirty for the next flush, and the first failure
    // is raised afterwards.
    std::optional<VbError> first;
    for (size_t i = 1; i < m_slots.size(); ++i) {
        Slot &slot = m_slots[i];
        if (!slot.dirty)
            continue;
        // IniTool writes beside the file and renames, so a crash never leaves a truncated store.
        if (slot.ini->Save())
            slot.dirty = false;
        else if (!first)
            first = slot.ini->lastError();
    }
    if (first)
        throw *first;
}
