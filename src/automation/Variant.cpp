#include "Variant.h"

#include "Object.h"
#include "VbDate.h"
#include "VbError.h"
#include "VbString.h"

#include <cmath>
#include <limits>

const QString &Variant::emptyString()
{
    static const QString empty;
    return empty;
}

const ObjectPtr &Variant::nullObject()
{
    static const ObjectPtr none;
    return none;
}

Variant::Variant(const QString &value)
    : m_type(String)
    , m_string(value)
{
    MemoryBudget::charge(MemoryBudget::textBytes(m_string));
}

Variant::Variant(QString &&value)
    : m_type(String)
    , m_string(std::move(value))
{
    MemoryBudget::charge(MemoryBudget::textBytes(m_string));
}

Variant::Variant(const char *utf8)
    : m_type(String)
    , m_string(QString::fromUtf8(utf8))
{
    MemoryBudget::charge(MemoryBudget::textBytes(m_string));
}

namespace {

// Releases waiting for the outermost one. Allocated once and never freed:
// values held by other static objects are released after static destructors ran.
struct ReleaseQueue {
    int depth = 0;
    std::vector<ObjectPtr> objects;
    std::vector<std::shared_ptr<VbArray>> arrays;
};

ReleaseQueue &releaseQueue()
{
    static ReleaseQueue *queue = new ReleaseQueue;
    return *queue;
}

// Shallow nesting is released at once, as a script expects of its objects'
// Class_Terminate; only a chain deeper than this waits in the queue.
constexpr int kReleaseDepth = 32;

} // namespace

void Variant::releaseHeld() noexcept
{
    ReleaseQueue &q = releaseQueue();
    const bool last = m_type == Object ? m_object.use_count() == 1 : m_array.use_count() == 1;
    if (!last)
        return; // only a count goes down
    if (q.depth >= kReleaseDepth) {
        try {
            if (m_type == Object)
                q.objects.push_back(std::move(m_object));
            else
                q.arrays.push_back(std::move(m_array));
            return;
        } catch (...) {
            // No room to queue it: released here after all.
        }
    }
    ++q.depth;
    if (m_type == Object)
        m_object.reset();
    else
        m_array.reset();
    if (q.depth == 1) {
        while (!q.objects.empty() || !q.arrays.empty()) {
            if (!q.objects.empty()) {
                ObjectPtr next = std::move(q.objects.back());
                q.objects.pop_back();
                next.reset();
            } else {
                std::shared_ptr<VbArray> next = std::move(q.arrays.back());
                q.arrays.pop_back();
                next.reset();
            }
        }
    }
    --q.depth;
}

void Variant::copyFrom(const Variant &other)
{
    m_num = other.m_num;
    switch (other.m_type) {
    case String:
        new (&m_string) QString(other.m_string);
        MemoryBudget::charge(MemoryBudget::textBytes(m_string));
        break;
    case Object: new (&m_object) ObjectPtr(other.m_object); break;
    case Array:
        if (other.m_array && other.m_array->pinned()) [[unlikely]]
            new (&m_array) std::shared_ptr<VbArray>(std::make_shared<VbArray>(*other.m_array));
        else
            new (&m_array) std::shared_ptr<VbArray>(other.m_array);
        break;
    default: break;
    }
    m_type = other.m_type;
}

Variant &Variant::replaceHeld(Variant &&other) noexcept
{
    if (this == &other)
        return *this;
    // The old value goes last, once the new one is in place: other may live
    // inside it (an element of its array), and its release may run script
    // code (Class_Terminate) that reads this very variable.
    Variant old(std::move(*this));
    destroy();
    m_type = Empty;
    moveFrom(std::move(other));
    return *this;
}

Variant::Variant(const QStringList &values)
    : m_type(Array)
    , m_array()
{
    std::vector<Variant> items;
    items.reserve(size_t(values.size()));
    for (const QString &s : values)
        items.emplace_back(s);
    m_array = std::make_shared<VbArray>(VbArray::fromValues(std::move(items)));
}

Variant::Variant(ObjectPtr object)
    : m_type(Object)
    , m_object(std::move(object))
{
}

Variant::Variant(const VbArray &array)
    : m_type(Array)
    , m_array(std::make_shared<VbArray>(array))
{
}

Variant::Variant(VbArray &&array)
    : m_type(Array)
    , m_array(std::make_shared<VbArray>(std::move(array)))
{
}


Variant Variant::nothing()
{
    return Variant(ObjectPtr());
}



Variant Variant::fromByte(quint8 value)
{
    Variant v;
    v.m_type = Byte;
    v.m_num.by = value;
    return v;
}

Variant Variant::fromSingle(float value)
{
    Variant v;
    v.m_type = Single;
    v.m_num.f = value;
    return v;
}

Variant Variant::fromDouble(double value)
{
    return Variant(value);
}

Variant Variant::fromCurrency(qint64 scaledBy10000)
{
    Variant v;
    v.m_type = Currency;
    v.m_num.cy = scaledBy10000;
    return v;
}


Variant Variant::fromError(qint32 code)
{
    Variant v;
    v.m_type = Error;
    v.m_num.l = code;
    return v;
}

Variant Variant::fromArray(std::shared_ptr<VbArray> array)
{
    Variant v;
    new (&v.m_array) std::shared_ptr<VbArray>(array ? std::move(array) : std::make_shared<VbArray>());
    v.m_type = Array;
    return v;
}

bool Variant::isNumber() const
{
    switch (m_type) {
    case Integer:
    case Long:
    case Single:
    case Double:
    case Currency:
    case Byte:
        return true;
    default:
        return false;
    }
}

Variant Variant::defaultValue() const
{
    if (m_type != Object)
        return *this;
    if (!m_object)
        throw VbError(VbErr::ObjectVariableNotSet);
    std::vector<Variant> args;
    Variant v = m_object->invoke(QString(), CallKind::PropertyGet, args);
    if (v.isObject())
        throw VbError(VbErr::TypeMismatch);
    return v;
}

QString Variant::toString() const
{
    switch (m_type) {
    case Empty:
        return QString();
    case Null:
        throw VbError(VbErr::InvalidUseOfNull);
    case Boolean:
        return m_num.b ? QStringLiteral("True") : QStringLiteral("False");
    case Byte:
        return QString::number(m_num.by);
    case Integer:
        return QString::number(m_num.i);
    case Long:
        return QString::number(m_num.l);
    case Single:
        return VbString::formatSingle(m_num.f);
    case Double:
        return VbString::formatDouble(m_num.d);
    case Currency: {
        qint64 whole = m_num.cy / 10000;
        qint64 frac = std::llabs(m_num.cy % 10000);
        QString s = QString::number(whole);
        if (m_num.cy < 0 && whole == 0)
            s.prepend(QLatin1Char('-'));
        if (frac) {
            QString f = QStringLiteral("%1").arg(frac, 4, 10, QLatin1Char('0'));
            while (f.endsWith(QLatin1Char('0')))
                f.chop(1);
            s += QLatin1Char('.') + f;
        }
        return s;
    }
    case Date:
        return VbDate::formatGeneralDate(m_num.d);
    case String:
        return m_string;
    case Error:
        return QStringLiteral("Error %1").arg(m_num.l);
    case Object:
        return defaultValue().toString();
    case Array:
        break;
    }
    throw VbError(VbErr::TypeMismatch);
}

QString Variant::toText() const
{
    switch (m_type) {
    case Empty:
    case Null:
        return QString();
    case Object:
        return m_object ? m_object->typeName() : QStringLiteral("Nothing");
    case Array:
        return QStringLiteral("Array");
    default:
        try {
            return toString();
        } catch (const VbError &) {
            return QString();
        }
    }
}

double Variant::toDouble() const
{
    switch (m_type) {
    case Empty:
        return 0;
    case Null:
        throw VbError(VbErr::InvalidUseOfNull);
    case Boolean:
        return m_num.b ? -1 : 0;
    case Byte:
        return m_num.by;
    case Integer:
        return m_num.i;
    case Long:
    case Error:
        return m_num.l;
    case Single:
        return m_num.f;
    case Double:
    case Date:
        return m_num.d;
    case Currency:
        return double(m_num.cy) / 10000.0;
    case String: {
        bool overflow = false;
        if (auto n = VbString::parseNumber(m_string, &overflow))
            return *n;
        if (overflow)
            throw VbError(VbErr::Overflow);
        if (auto d = VbDate::parseGeneralDate(m_string))
            return *d;
        throw VbError(VbErr::TypeMismatch);
    }
    case Object:
        return defaultValue().toDouble();
    case Array:
        break;
    }
    throw VbError(VbErr::TypeMismatch);
}

float Variant::toSingle() const
{
    double d = toDouble();
    if (std::fabs(d) > double(std::numeric_limits<float>::max()))
        throw VbError(VbErr::Overflow);
    return float(d);
}

qint32 Variant::toLong() const
{
    switch (m_type) {
    case Long:
        return m_num.l;
    case Integer:
        return m_num.i;
    case Byte:
        return m_num.by;
    case Boolean:
        return m_num.b ? -1 : 0;
    case Empty:
        return 0;
    default:
        break;
    }
    double r = VbString::roundHalfEven(toDouble());
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        throw VbError(VbErr::Overflow);
    return qint32(r);
}

qint16 Variant::toInteger() const
{
    if (m_type == String)
        if (const auto bits = VbString::parseIntegerBits(m_string))
            return *bits;
    double r = m_type == Long ? double(m_num.l) : VbString::roundHalfEven(toDouble());
    if (!(r >= -32768.0 && r <= 32767.0))
        throw VbError(VbErr::Overflow);
    return qint16(r);
}

quint8 Variant::toByte() const
{
    double r = VbString::roundHalfEven(toDouble());
    if (!(r >= 0.0 && r <= 255.0))
        throw VbError(VbErr::Overflow);
    return quint8(r);
}

qint64 Variant::toCurrency() const
{
    if (m_type == Currency)
        return m_num.cy;
    // The product is taken with more precision than a double holds, as VB's
    // conversion does: 0.00025 lies a hair above the half and rounds up.
    long double r = std::nearbyintl(static_cast<long double>(toDouble()) * 10000.0L);
    if (!(r >= -9223372036854775807.0L && r <= 9223372036854775807.0L))
        throw VbError(VbErr::Overflow);
    return qint64(r);
}

bool Variant::toBool() const
{
    switch (m_type) {
    case Boolean:
        return m_num.b;
    case Empty:
        return false;
    case Null:
        throw VbError(VbErr::InvalidUseOfNull);
    case String: {
        if (m_string.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (m_string.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        if (auto n = VbString::parseNumber(m_string))
            return *n != 0;
        throw VbError(VbErr::TypeMismatch);
    }
    case Object:
        return defaultValue().toBool();
    case Array:
        throw VbError(VbErr::TypeMismatch);
    default:
        return toDouble() != 0;
    }
}

double Variant::toDate() const
{
    switch (m_type) {
    case Date:
        return m_num.d;
    case String: {
        if (auto d = VbDate::parseGeneralDate(m_string))
            return *d;
        if (auto n = VbString::parseNumber(m_string))
            return *n;
        throw VbError(VbErr::TypeMismatch);
    }
    default: {
        double d = toDouble();
        // The range of VB dates: years 100 to 9999.
        if (d < -657434.0 || d >= 2958466.0)
            throw VbError(VbErr::Overflow);
        return d;
    }
    }
}

ObjectPtr Variant::toObject() const
{
    if (m_type != Object)
        throw VbError(VbErr::ObjectRequired);
    return m_object;
}

const VbArray &Variant::array() const
{
    if (m_type != Array || !m_array)
        throw VbError(VbErr::TypeMismatch);
    return *m_array;
}

VbArray &Variant::arrayMut()
{
    if (m_type != Array || !m_array)
        throw VbError(VbErr::TypeMismatch);
    if (m_array.use_count() > 1 + m_array->pins())
        m_array = std::make_shared<VbArray>(*m_array);
    return *m_array;
}

QString Variant::typeName() const
{
    switch (m_type) {
    case Empty:
        return QStringLiteral("Empty");
    case Null:
        return QStringLiteral("Null");
    case Integer:
        return QStringLiteral("Integer");
    case Long:
        return QStringLiteral("Long");
    case Single:
        return QStringLiteral("Single");
    case Double:
        return QStringLiteral("Double");
    case Currency:
        return QStringLiteral("Currency");
    case Date:
        return QStringLiteral("Date");
    case String:
        return QStringLiteral("String");
    case Object:
        return m_object ? m_object->typeName() : QStringLiteral("Nothing");
    case Error:
        return QStringLiteral("Error");
    case Boolean:
        return QStringLiteral("Boolean");
    case Byte:
        return QStringLiteral("Byte");
    case Array:
        return QStringLiteral("Variant()");
    }
    return QStringLiteral("Unknown");
}

int Variant::varType() const
{
    return m_type == Array ? int(Array) + int(12) : int(m_type);
}

// ---------------------------------------------------------------- VbArray

VbArray::VbArray(std::vector<Bound> bounds)
    : m_bounds(std::move(bounds))
{
    size_t n = m_bounds.empty() ? 0 : 1;
    for (const Bound &b : m_bounds) {
        if (b.count < 0)
            throw VbError(VbErr::SubscriptOutOfRange);
        n *= size_t(b.count);
    }
    if (n > 50'000'000)
        throw VbError(VbErr::OutOfMemory);
    MemoryBudget::checkArray(qint64(n) + 4);
    m_data.resize(n);
    countSlots();
}

VbArray VbArray::fromValues(std::vector<Variant> values)
{
    VbArray a;
    a.m_bounds = {Bound{0, qint32(values.size())}};
    a.m_data = std::move(values);
    a.countSlots();
    return a;
}

qint32 VbArray::lbound(int dimension) const
{
    if (dimension < 1 || dimension > dimensions())
        throw VbError(VbErr::SubscriptOutOfRange);
    return m_bounds[size_t(dimension - 1)].lower;
}

qint32 VbArray::ubound(int dimension) const
{
    if (dimension < 1 || dimension > dimensions())
        throw VbError(VbErr::SubscriptOutOfRange);
    const Bound &b = m_bounds[size_t(dimension - 1)];
    return b.lower + b.count - 1;
}

size_t VbArray::offset(const std::vector<qint32> &indexes) const
{
    if (indexes.size() != m_bounds.size())
        throw VbError(VbErr::SubscriptOutOfRange);
    size_t off = 0, stride = 1;
    for (size_t d = 0; d < m_bounds.size(); ++d) {
        qint64 i = qint64(indexes[d]) - m_bounds[d].lower;
        if (i < 0 || i >= m_bounds[d].count)
            throw VbError(VbErr::SubscriptOutOfRange);
        off += size_t(i) * stride;
        stride *= size_t(m_bounds[d].count);
    }
    return off;
}

Variant &VbArray::at(const std::vector<qint32> &indexes)
{
    return m_data[offset(indexes)];
}

const Variant &VbArray::at(const std::vector<qint32> &indexes) const
{
    return m_data[offset(indexes)];
}

void VbArray::resizePreserve(std::vector<Bound> bounds)
{
    if (fixed || pinned())
        throw VbError(VbErr::ArrayFixedOrLocked);
    if (m_bounds.empty()) {
        *this = VbArray(std::move(bounds));
        return;
    }
    if (bounds.size() != m_bounds.size())
        throw VbError(VbErr::SubscriptOutOfRange);
    for (size_t d = 0; d + 1 < bounds.size(); ++d)
        if (bounds[d].lower != m_bounds[d].lower || bounds[d].count != m_bounds[d].count)
            throw VbError(VbErr::SubscriptOutOfRange);
    // The last dimension is the slowest, so preserving is a plain resize.
    size_t inner = 1;
    for (size_t d = 0; d + 1 < bounds.size(); ++d)
        inner *= size_t(bounds[d].count);
    if (bounds.back().count < 0)
        throw VbError(VbErr::SubscriptOutOfRange);
    const size_t n = inner * size_t(bounds.back().count);
    if (n > m_data.size())
        MemoryBudget::checkArray(qint64(n - m_data.size()));
    m_bounds = std::move(bounds);
    m_data.resize(n);
    countSlots();
}
