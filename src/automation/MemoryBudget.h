#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

// What the scripts' values may hold together. One running count of the bytes
// held by strings, arrays and the objects a script fills (dictionaries, objects
// of its classes, match lists) is charged where they are made and released when
// they go; a script that would pass the budget gets a run error its caller can
// trap before the memory is taken, so no script can take the machine's memory.
namespace MemoryBudget {

constexpr qint64 kDefaultBytes = 256LL * 1024 * 1024;

qint64 bytes();
void setBytes(qint64 bytes);

// The bytes held now. Charging never raises: the checks below come first.
inline qint64 s_used = 0;
inline qint64 used() { return s_used; }
inline void charge(qint64 bytes) { s_used += bytes; }
inline void release(qint64 bytes) { s_used -= bytes; }
// What a text counts: the block it holds (a shared block counts for each holder).
inline qint64 textBytes(const QString &s) { return qint64(s.capacity()) * qint64(sizeof(QChar)); }

// Only work a script drives is ever refused: the engine marks its runs (and the host members
// they call) as script work. The program's own work - storing a received record, logging,
// settings, the web server - is charged but never refused, also when it runs inside a wait
// of a script, because a script that filled the budget must not cost the program its data.
// (The same mark tells the logger that an entry comes from a member a script called.)
inline int s_scriptWork = 0;
inline bool scriptDriven() { return s_scriptWork > 0; }
class ScriptWork
{
public:
    ScriptWork() { ++s_scriptWork; }
    ~ScriptWork() { --s_scriptWork; }
    ScriptWork(const ScriptWork &) = delete;
    ScriptWork &operator=(const ScriptWork &) = delete;
};
// The program's own work inside a script's run (a wait that pumps events).
class OwnWork
{
public:
    OwnWork() : m_saved(s_scriptWork) { s_scriptWork = 0; }
    ~OwnWork() { s_scriptWork = m_saved; }
    OwnWork(const OwnWork &) = delete;
    OwnWork &operator=(const OwnWork &) = delete;

private:
    int m_saved;
};

// Raise 14 "Out of string space" when a string of `chars` more characters would not fit.
void checkString(qint64 chars);
// Raise 7 "Out of memory" when an array of `elements` more values would not fit.
void checkArray(qint64 elements);
// Raise 7 "Out of memory" when `bytes` more would not fit.
void checkBytes(qint64 bytes);

// A long piece of work inside a built-in looks at the running script's deadline
// (and whatever else ends a run) through this, every so often. The engine installs it.
using LongWorkCheck = void (*)();
void setLongWorkCheck(LongWorkCheck check);
void checkLongWork();

// Bytes one object holds besides its values, counted while it lives.
class Held
{
public:
    Held() = default;
    explicit Held(qint64 bytes) { add(bytes); }
    ~Held() { release(m_bytes); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

    // Checked first: 7 when the bytes would pass the budget.
    void add(qint64 bytes)
    {
        checkBytes(bytes);
        charge(bytes);
        m_bytes += bytes;
    }
    void drop(qint64 bytes)
    {
        release(bytes);
        m_bytes -= bytes;
    }
    void clear() { drop(m_bytes); }
    // After a check of the caller's own: the object now holds `bytes`.
    void recount(qint64 bytes)
    {
        charge(bytes - m_bytes);
        m_bytes = bytes;
    }
    qint64 bytes() const { return m_bytes; }

private:
    qint64 m_bytes = 0;
};

// A text a built-in makes piece by piece, of a length not known beforehand:
// each growth is checked against the budget before it is made, and a long
// build looks at the deadline now and then.
class TextBuilder
{
public:
    TextBuilder() = default;
    void append(QStringView piece)
    {
        if (m_text.size() + piece.size() > m_text.capacity())
            grow(m_text.size() + piece.size());
        m_text.append(piece);
        if ((++m_pieces & 0xFFF) == 0) [[unlikely]]
            checkLongWork();
    }
    void append(QChar c) { append(QStringView(&c, 1)); }
    qsizetype size() const { return m_text.size(); }
    QString take();

private:
    void grow(qint64 chars);
    QString m_text;
    Held m_held;
    quint32 m_pieces = 0;
};

}  // namespace MemoryBudget
