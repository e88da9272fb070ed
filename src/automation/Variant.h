#pragma once

#include "MemoryBudget.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <new>
#include <utility>
#include <vector>

class Object;
class VbArray;
using ObjectPtr = std::shared_ptr<Object>;

// The VBScript value. Copies of an array share its storage until one of them
// is changed (arrays are values in VB, so a change never shows in a copy).
class Variant
{
public:
    // The VarType numbers of VB.
    enum Type : quint16 {
        Empty = 0,
        Null = 1,
        Integer = 2,
        Long = 3,
        Single = 4,
        Double = 5,
        Currency = 6,
        Date = 7,
        String = 8,
        Object = 9,
        Error = 10,
        Boolean = 11,
        Byte = 17,
        Array = 8192,
    };

    Variant() {}
    // A copy of an array shares its storage, except while an element of it is
    // passed ByRef: then the copy gets storage of its own at once.
    [[gnu::always_inline]] Variant(const Variant &other);
    Variant &operator=(const Variant &other);
    [[gnu::always_inline]] Variant(Variant &&other) noexcept;
    [[gnu::always_inline]] Variant &operator=(Variant &&other) noexcept;
    // The special members are inline in full for numbers; what a payload needs is a call.
    [[gnu::always_inline]] ~Variant()
    {
        // Most values hold no payload: no call for them.
        if (holdsPayload(m_type)) [[unlikely]]
            destroy();
    }
    Variant(bool value);
    Variant(int value); // Long
    Variant(qint64 value) = delete; // say which: fromLong/fromCurrency/Double
    Variant(double value);
    Variant(const QString &value);
    Variant(QString &&value);
    Variant(const char *utf8); // keeps literals away from the bool overload
    Variant(const QStringList &values); // a 0-based array of strings
    Variant(ObjectPtr object);         // Nothing when null
    Variant(const VbArray &array);
    Variant(VbArray &&array);

    static Variant null();
    static Variant nothing();
    static Variant fromInteger(qint16 value);
    static Variant fromLong(qint32 value);
    static Variant fromByte(quint8 value);
    static Variant fromSingle(float value);
    static Variant fromDouble(double value);
    static Variant fromCurrency(qint64 scaledBy10000);
    static Variant fromDate(double oleDate);
    static Variant fromError(qint32 code);
    static Variant fromArray(std::shared_ptr<VbArray> array);

    Type type() const { return m_type; }
    bool isEmpty() const { return m_type == Empty; }
    bool isNull() const { return m_type == Null; }
    bool isString() const { return m_type == String; }
    bool isObject() const { return m_type == Object; }
    bool isNothing() const { return m_type == Object && !m_object; }
    bool isArray() const { return m_type == Array; }
    // A number of any width (Boolean excluded).
    bool isNumber() const;

    // VB's conversions, raising VbError as VB does: 13 "Type mismatch" for a
    // text that is no number, 6 "Overflow" out of range, 94 "Invalid use of
    // Null" for Null. Objects convert through their default member.
    QString toString() const; // CStr
    double toDouble() const;  // CDbl
    float toSingle() const;   // CSng
    qint32 toLong() const;    // CLng: halves to even
    qint16 toInteger() const; // CInt: halves to even
    quint8 toByte() const;    // CByte
    qint64 toCurrency() const; // CCur, scaled by 10000
    bool toBool() const;      // CBool
    double toDate() const;    // CDate, as an OLE day number
    ObjectPtr toObject() const; // 424 "Object required" unless an object (null for Nothing)

    // Never raises: Null and Empty give "", arrays and objects a short
    // description. For log lines and displays.
    QString toText() const;

    // The value behind an object's default member (or the value itself).
    Variant defaultValue() const;

    const VbArray &array() const;
    VbArray &arrayMut(); // detaches a shared array first (never a pinned one)
    std::shared_ptr<VbArray> arrayShared() const { return m_type == Array ? m_array : nullptr; }

    // Raw payloads, valid for the matching type only.
    bool rawBool() const { return m_num.b; }
    qint16 rawInteger() const { return m_num.i; }
    qint32 rawLong() const { return m_num.l; }
    quint8 rawByte() const { return m_num.by; }
    float rawSingle() const { return m_num.f; }
    double rawDouble() const { return m_num.d; }
    qint64 rawCurrency() const { return m_num.cy; }
    double rawDate() const { return m_num.d; }
    qint32 rawError() const { return m_num.l; }
    const QString &rawString() const { return m_type == String ? m_string : emptyString(); }
    // Appends to a String in place, without a copy (Strings only).
    void appendString(QStringView tail)
    {
        const qint64 before = MemoryBudget::textBytes(m_string);
        m_string.append(tail);
        MemoryBudget::charge(MemoryBudget::textBytes(m_string) - before);
    }
    const ObjectPtr &rawObject() const { return m_type == Object ? m_object : nullObject(); }

    // VB's TypeName and VarType.
    QString typeName() const;
    int varType() const;

private:
    // A string, an object or an array: what needs more than copying the number's word.
    // Every number type is below String: one comparison decides for them.
    static bool holdsPayload(Type t) { return t >= String && (t == String || t == Object || t == Array); }
    static const QString &emptyString();
    static const ObjectPtr &nullObject();
    // The payload of the type in hand: a Variant is copied, moved and
    // destroyed by its type, without touching what it does not hold.
    [[gnu::noinline]] void destroy() noexcept
    {
        switch (m_type) {
        case String:
            MemoryBudget::release(MemoryBudget::textBytes(m_string));
            m_string.~QString();
            break;
        case Object:
            if (m_object)
                releaseHeld();
            m_object.~ObjectPtr();
            break;
        case Array:
            if (m_array)
                releaseHeld();
            m_array.~shared_ptr();
            break;
        default: break;
        }
    }
    // Drops the object or array held, without one stack frame per link of a
    // chain of them: a release nested deeply inside another is queued and
    // done by the outermost one.
    void releaseHeld() noexcept;
    void copyFrom(const Variant &other); // out of line: the inline copy is the number's
    [[gnu::always_inline]] void moveFrom(Variant &&other) noexcept;
    // Move-assignment over a value that holds a payload.
    Variant &replaceHeld(Variant &&other) noexcept;

    Type m_type = Empty;
    union Num {
        bool b;
        quint8 by;
        qint16 i;
        qint32 l;
        float f;
        double d;
        qint64 cy;
    } m_num{};
    union {
        QString m_string;
        ObjectPtr m_object;
        std::shared_ptr<VbArray> m_array;
    };
};

// A VB array: any number of dimensions, each with its own lower bound; the
// first index runs fastest, as in VB's memory order (For Each follows it).
class VbArray
{
public:
    struct Bound {
        qint32 lower = 0;
        qint32 count = 0;
    };

    VbArray() = default;
    explicit VbArray(std::vector<Bound> bounds);
    // A 0-based one-dimensional array of the given values.
    static VbArray fromValues(std::vector<Variant> values);

    int dimensions() const { return int(m_bounds.size()); }
    qint32 lbound(int dimension) const; // 1-based dimension; 9 when out of range
    qint32 ubound(int dimension) const;
    const std::vector<Bound> &bounds() const { return m_bounds; }
    size_t size() const { return m_data.size(); }

    // Element by index list; 9 "Subscript out of range" when outside.
    Variant &at(const std::vector<qint32> &indexes);
    const Variant &at(const std::vector<qint32> &indexes) const;
    std::vector<Variant> &data() { return m_data; }
    const std::vector<Variant> &data() const { return m_data; }

    // ReDim Preserve: only the last dimension may change.
    void resizePreserve(std::vector<Bound> bounds);

    // Fixed-size arrays (declared with bounds) refuse ReDim.
    bool fixed = false;

    // While an element is passed ByRef the array is pinned: its storage stays
    // where it is (ReDim and Erase raise 10), and copies of it are deep. Each
    // pin is held together with a reference to the storage.
    bool pinned() const { return m_pins.count > 0; }
    void pin() { ++m_pins.count; }
    void unpin() { --m_pins.count; }
    int pins() const { return m_pins.count; }

private:
    // A copy of an array is not pinned.
    struct PinCount {
        int count = 0;
        PinCount() = default;
        PinCount(const PinCount &) {}
        PinCount &operator=(const PinCount &) { return *this; }
    } m_pins;

    size_t offset(const std::vector<qint32> &indexes) const;

    // The bytes of the values' slots, counted while the array lives. Declared
    // before the slots, so that a copy is checked against the budget before
    // the slots are copied.
    struct SlotBytes {
        qint64 bytes = 0;
        SlotBytes() = default;
        SlotBytes(const SlotBytes &other)
            : bytes(other.bytes)
        {
            MemoryBudget::checkBytes(bytes);
            MemoryBudget::charge(bytes);
        }
        SlotBytes(SlotBytes &&other) noexcept
            : bytes(std::exchange(other.bytes, 0))
        {
        }
        SlotBytes &operator=(const SlotBytes &other)
        {
            if (this != &other) {
                MemoryBudget::checkBytes(other.bytes);
                set(other.bytes);
            }
            return *this;
        }
        SlotBytes &operator=(SlotBytes &&other) noexcept
        {
            if (this != &other) {
                MemoryBudget::release(bytes);
                bytes = std::exchange(other.bytes, 0);
            }
            return *this;
        }
        ~SlotBytes() { MemoryBudget::release(bytes); }
        void set(qint64 now)
        {
            MemoryBudget::charge(now - bytes);
            bytes = now;
        }
    } m_slotBytes;
    // The slots, and the array's own block and bounds besides: with its owner's count and
    // the allocator's header on each of its three blocks, as a million small arrays take.
    void countSlots()
    {
        m_slotBytes.set(qint64(m_data.size()) * qint64(sizeof(Variant))
                        + qint64(sizeof(VbArray) + 96 + m_bounds.size() * sizeof(Bound)));
    }

    std::vector<Bound> m_bounds;
    std::vector<Variant> m_data;
};

inline void Variant::moveFrom(Variant &&other) noexcept
{
    m_num = other.m_num;
    if (!holdsPayload(other.m_type)) [[likely]] {
        m_type = other.m_type;
        return;
    }
    switch (other.m_type) {
    case String: new (&m_string) QString(std::move(other.m_string)); break;
    case Object: new (&m_object) ObjectPtr(std::move(other.m_object)); break;
    case Array: new (&m_array) std::shared_ptr<VbArray>(std::move(other.m_array)); break;
    default: break;
    }
    m_type = other.m_type;
}

inline Variant::Variant(const Variant &other)
{
    // A number is its two words: no call for it.
    if (!holdsPayload(other.m_type)) [[likely]] {
        m_num = other.m_num;
        m_type = other.m_type;
        return;
    }
    copyFrom(other);
}

inline Variant::Variant(Variant &&other) noexcept
{
    moveFrom(std::move(other));
}

inline Variant &Variant::operator=(const Variant &other)
{
    if (this != &other)
        *this = Variant(other);
    return *this;
}

inline Variant &Variant::operator=(Variant &&other) noexcept
{
    if (!holdsPayload(m_type)) [[likely]] {
        if (this != &other)
            moveFrom(std::move(other));
        return *this;
    }
    return replaceHeld(std::move(other));
}

inline Variant::Variant(bool value)
    : m_type(Boolean)
{
    m_num.b = value;
}

inline Variant::Variant(int value)
    : m_type(Long)
{
    m_num.l = value;
}

inline Variant::Variant(double value)
    : m_type(Double)
{
    m_num.d = value;
}

inline Variant Variant::null()
{
    Variant v;
    v.m_type = Null;
    return v;
}

inline Variant Variant::fromInteger(qint16 value)
{
    Variant v;
    v.m_type = Integer;
    v.m_num.i = value;
    return v;
}

inline Variant Variant::fromLong(qint32 value)
{
    return Variant(int(value));
}

inline Variant Variant::fromDate(double oleDate)
{
    Variant v;
    v.m_type = Date;
    v.m_num.d = oleDate;
    return v;
}
