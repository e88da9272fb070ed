#include "Operators.h"

#include "MemoryBudget.h"
#include "Object.h"
#include "VbError.h"
#include "VbString.h"

#include <cmath>
#include <limits>
#include <optional>

namespace Operators {

namespace {

// The widening order of the numeric types in arithmetic.
enum Rank { REmpty = 0, RByte = 1, RInteger = 2, RLong = 3, RSingle = 4, RDouble = 5, RCurrency = 6, RDate = 7 };

[[noreturn]] void mismatch()
{
    throw VbError(VbErr::TypeMismatch);
}

// A numeric operand: its rank and value (Currency kept exact).
struct Num {
    Rank rank;
    double d = 0;
    qint64 i = 0; // integer ranks and Currency (scaled)
};

Num toNum(const Variant &v)
{
    switch (v.type()) {
    case Variant::Empty: return {REmpty, 0, 0};
    case Variant::Boolean: return {RInteger, v.rawBool() ? -1.0 : 0.0, v.rawBool() ? -1 : 0};
    case Variant::Byte: return {RByte, double(v.rawByte()), v.rawByte()};
    case Variant::Integer: return {RInteger, double(v.rawInteger()), v.rawInteger()};
    case Variant::Long: return {RLong, double(v.rawLong()), v.rawLong()};
    case Variant::Single: return {RSingle, double(v.rawSingle()), 0};
    case Variant::Double: return {RDouble, v.rawDouble(), 0};
    case Variant::Currency: return {RCurrency, double(v.rawCurrency()) / 10000.0, v.rawCurrency()};
    case Variant::Date: return {RDate, v.rawDate(), 0};
    case Variant::String: {
        bool overflow = false;
        auto n = VbString::parseNumber(v.rawString(), &overflow);
        if (overflow)
            throw VbError(VbErr::Overflow);
        if (!n)
            mismatch();
        return {RDouble, *n, 0};
    }
    case Variant::Object: return toNum(operand(v));
    default:
        mismatch();
    }
}

bool isIntegerRank(Rank r)
{
    return r <= RLong;
}

Variant fitInteger(qint64 r, Rank rank)
{
    if (rank <= RByte && r >= 0 && r <= 255)
        return Variant::fromByte(quint8(r));
    if (rank <= RInteger && r >= -32768 && r <= 32767)
        return Variant::fromInteger(qint16(r));
    if (r >= std::numeric_limits<qint32>::min() && r <= std::numeric_limits<qint32>::max())
        return Variant::fromLong(qint32(r));
    return Variant(double(r));
}

Variant fitFloat(double r, Rank rank)
{
    if (std::isnan(r) || std::isinf(r))
        throw VbError(VbErr::Overflow);
    if (rank == RSingle && std::fabs(r) <= double(std::numeric_limits<float>::max()))
        return Variant::fromSingle(float(r));
    return Variant(r);
}

Variant currency(long double scaled)
{
    if (scaled > 9.2233720368547758e18L || scaled < -9.2233720368547758e18L)
        throw VbError(VbErr::Overflow);
    return Variant::fromCurrency(qint64(std::llroundl(scaled)));
}

// An operand as Currency (scaled by 10000), rounded as CCur rounds.
qint64 scaled(const Num &n)
{
    if (n.rank == RCurrency)
        return n.i;
    return Variant(n.d).toCurrency();
}

enum class Arith { Add, Sub, Mul };

Variant arithmetic(Arith kind, const Variant &av, const Variant &bv)
{
    // Fast paths for the common integer and float cases.
    if (av.type() == bv.type()) {
        if (av.type() == Variant::Integer) {
            qint64 x = av.rawInteger(), y = bv.rawInteger();
            return fitInteger(kind == Arith::Add ? x + y : kind == Arith::Sub ? x - y : x * y, RInteger);
        }
        if (av.type() == Variant::Long) {
            qint64 x = av.rawLong(), y = bv.rawLong();
            return fitInteger(kind == Arith::Add ? x + y : kind == Arith::Sub ? x - y : x * y, RLong);
        }
        if (av.type() == Variant::Double) {
            double x = av.rawDouble(), y = bv.rawDouble();
            return fitFloat(kind == Arith::Add ? x + y : kind == Arith::Sub ? x - y : x * y, RDouble);
        }
    }
    if ((av.type() == Variant::Integer && bv.type() == Variant::Long)
        || (av.type() == Variant::Long && bv.type() == Variant::Integer)) {
        qint64 x = av.type() == Variant::Long ? av.rawLong() : av.rawInteger();
        qint64 y = bv.type() == Variant::Long ? bv.rawLong() : bv.rawInteger();
        return fitInteger(kind == Arith::Add ? x + y : kind == Arith::Sub ? x - y : x * y, RLong);
    }
    if (av.isNull() || bv.isNull())
        return Variant::null();
    Num a = toNum(av), b = toNum(bv);
    if (a.rank == REmpty && b.rank == REmpty)
        return Variant::fromInteger(0);
    if (a.rank == RDate || b.rank == RDate) {
        double r = kind == Arith::Add ? a.d + b.d : kind == Arith::Sub ? a.d - b.d : a.d * b.d;
        if (kind == Arith::Mul || (kind == Arith::Sub && a.rank == RDate && b.rank == RDate))
            return fitFloat(r, RDouble);
        if (r < -657434.0 || r >= 2958466.0)
            throw VbError(VbErr::Overflow);
        return Variant::fromDate(r);
    }
    Rank rank = std::max(a.rank, b.rank);
    // A Single meeting a Long needs a Double's precision.
    if (rank == RSingle && (a.rank == RLong || b.rank == RLong))
        rank = RDouble;
    if (rank == RCurrency) {
        // Sums stay Currency; a product with a floating operand is a Double.
        if (kind == Arith::Mul
            && (a.rank == RSingle || a.rank == RDouble || b.rank == RSingle || b.rank == RDouble)) {
            return fitFloat(a.d * b.d, RDouble);
        }
        long double x = scaled(a), y = scaled(b);
        if (kind == Arith::Add)
            return currency(x + y);
        if (kind == Arith::Sub)
            return currency(x - y);
        return currency(x * y / 10000.0L);
    }
    if (isIntegerRank(rank)) {
        if (rank == REmpty)
            rank = RInteger;
        qint64 x = a.i, y = b.i;
        return fitInteger(kind == Arith::Add ? x + y : kind == Arith::Sub ? x - y : x * y, rank);
    }
    double r = kind == Arith::Add ? a.d + b.d : kind == Arith::Sub ? a.d - b.d : a.d * b.d;
    return fitFloat(r, rank);
}

// The integer operand of \, Mod and the bitwise operators.
qint64 toWhole(const Num &n)
{
    if (isIntegerRank(n.rank))
        return n.i;
    double r = VbString::roundHalfEven(n.rank == RCurrency ? double(n.i) / 10000.0 : n.d);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        throw VbError(VbErr::Overflow);
    return qint64(r);
}

Rank wholeRank(const Num &a, const Num &b)
{
    Rank ra = isIntegerRank(a.rank) ? a.rank : RLong;
    Rank rb = isIntegerRank(b.rank) ? b.rank : RLong;
    Rank r = std::max(ra, rb);
    if (r == REmpty)
        return RInteger;
    if (r == RByte && (a.rank == REmpty || b.rank == REmpty))
        return RInteger;
    return r;
}

} // namespace

Variant operand(const Variant &v)
{
    if (v.isObject())
        return v.defaultValue();
    if (v.isArray())
        mismatch();
    return v;
}

Variant add(const Variant &a, const Variant &b)
{
    if (a.isString() && b.isString()) {
        MemoryBudget::checkString(qint64(a.rawString().size()) + b.rawString().size());
        return Variant(a.rawString() + b.rawString());
    }
    if (a.isObject() || b.isObject())
        return add(operand(a), operand(b));
    if (a.isString() && b.isEmpty())
        return a;
    if (b.isString() && a.isEmpty())
        return b;
    return arithmetic(Arith::Add, a, b);
}

Variant subtract(const Variant &a, const Variant &b)
{
    return arithmetic(Arith::Sub, a, b);
}

Variant multiply(const Variant &a, const Variant &b)
{
    return arithmetic(Arith::Mul, a, b);
}

Variant divide(const Variant &av, const Variant &bv)
{
    if (av.isNull() || bv.isNull())
        return Variant::null();
    Num a = toNum(av), b = toNum(bv);
    if (b.d == 0)
        throw VbError(a.d == 0 ? VbErr::Overflow : VbErr::DivisionByZero);
    double r = a.d / b.d;
    // A Single divided by (or into) a Single or a short whole number stays Single.
    auto narrow = [](Rank k) { return k <= RInteger || k == RSingle; };
    bool single = (a.rank == RSingle || b.rank == RSingle) && narrow(a.rank) && narrow(b.rank);
    return fitFloat(r, single ? RSingle : RDouble);
}

// \ and Mod by the general rules: both operands rounded to whole numbers first.
template<typename F>
static Variant wholeDivision(const Variant &av, const Variant &bv, F op)
{
    if (av.isNull() || bv.isNull())
        return Variant::null();
    Num a = toNum(av), b = toNum(bv);
    qint64 x = toWhole(a), y = toWhole(b);
    if (y == 0)
        throw VbError(VbErr::DivisionByZero);
    return fitInteger(op(x, y), wholeRank(a, b));
}

Variant intDivide(const Variant &av, const Variant &bv)
{
    return wholeDivision(av, bv, [](qint64 x, qint64 y) { return x / y; });
}

Variant modulo(const Variant &av, const Variant &bv)
{
    const bool wholeA = av.type() == Variant::Long || av.type() == Variant::Integer;
    const bool wholeB = bv.type() == Variant::Long || bv.type() == Variant::Integer;
    if (wholeA && wholeB) {
        const qint64 x = av.type() == Variant::Long ? av.rawLong() : av.rawInteger();
        const qint64 y = bv.type() == Variant::Long ? bv.rawLong() : bv.rawInteger();
        if (y != 0) {
            if (av.type() == Variant::Integer && bv.type() == Variant::Integer)
                return Variant::fromInteger(qint16(x % y));
            return Variant::fromLong(qint32(x % y));
        }
    }
    return wholeDivision(av, bv, [](qint64 x, qint64 y) { return x % y; });
}

Variant power(const Variant &av, const Variant &bv)
{
    if (av.isNull() || bv.isNull())
        return Variant::null();
    Num a = toNum(av), b = toNum(bv);
    if (a.d == 0 && b.d < 0)
        throw VbError(VbErr::InvalidProcedureCall);
    if (a.d < 0 && b.d != std::floor(b.d))
        throw VbError(VbErr::InvalidProcedureCall);
    return fitFloat(std::pow(a.d, b.d), RDouble);
}

Variant concat(const Variant &a, const Variant &b)
{
    if (a.isString() && b.isString()) {
        MemoryBudget::checkString(qint64(a.rawString().size()) + b.rawString().size());
        return Variant(a.rawString() + b.rawString());
    }
    if (a.isNull() && b.isNull())
        return Variant::null();
    Variant x = operand(a), y = operand(b);
    QString s = x.isNull() ? QString() : x.toString();
    const QString tail = y.isNull() ? QString() : y.toString();
    MemoryBudget::checkString(qint64(s.size()) + tail.size());
    s += tail;
    return Variant(std::move(s));
}

Variant negate(const Variant &v)
{
    switch (v.type()) {
    case Variant::Null: return v;
    case Variant::Empty: return Variant::fromInteger(0);
    case Variant::Boolean: return Variant::fromInteger(v.rawBool() ? 1 : 0);
    case Variant::Byte: return Variant::fromInteger(qint16(-int(v.rawByte())));
    case Variant::Integer: return fitInteger(-qint64(v.rawInteger()), RInteger);
    case Variant::Long: return fitInteger(-qint64(v.rawLong()), RLong);
    case Variant::Single: return Variant::fromSingle(-v.rawSingle());
    case Variant::Double: return Variant(-v.rawDouble());
    case Variant::Currency: return currency(-static_cast<long double>(v.rawCurrency()));
    case Variant::Date: return Variant::fromDate(-v.rawDate());
    case Variant::String: return Variant(-toNum(v).d);
    case Variant::Object: return negate(operand(v));
    default: mismatch();
    }
}

namespace {

bool isBoolOrNull(const Variant &v)
{
    return v.type() == Variant::Boolean || v.isNull();
}

// Operands of the bitwise operators; strings "True"/"False" count as Booleans.
Variant logicalOperand(const Variant &v)
{
    Variant x = operand(v);
    if (x.isString()) {
        const QString &s = x.rawString();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return Variant(true);
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return Variant(false);
    }
    return x;
}

} // namespace

Variant logicalNot(const Variant &v)
{
    Variant x = logicalOperand(v);
    switch (x.type()) {
    case Variant::Null: return x;
    case Variant::Boolean: return Variant(!x.rawBool());
    case Variant::Empty: return Variant::fromInteger(-1);
    case Variant::Byte: return Variant::fromByte(quint8(~x.rawByte()));
    case Variant::Integer: return Variant::fromInteger(qint16(~x.rawInteger()));
    default: return Variant::fromLong(qint32(~toWhole(toNum(x))));
    }
}

Variant logical(Op op, const Variant &av, const Variant &bv)
{
    Variant a = logicalOperand(av), b = logicalOperand(bv);
    if (a.isNull() || b.isNull()) {
        // Null is an unknown value: the result is known only where the other
        // operand decides it bit by bit (x And 0, x Or -1, 0 Imp x, x Imp -1),
        // and is then that operand's value in its own type.
        auto decided = [](const Variant &other, bool allOnes) -> std::optional<Variant> {
            if (other.isNull())
                return std::nullopt;
            if (other.type() == Variant::Boolean) {
                if (other.rawBool() != allOnes)
                    return std::nullopt;
                return Variant(allOnes);
            }
            Num n = toNum(other);
            Rank rank = wholeRank(n, n);
            qint64 v = toWhole(n);
            qint64 ones = rank == RByte ? 0xFF : -1;
            if (v != (allOnes ? ones : 0))
                return std::nullopt;
            return fitInteger(allOnes ? (rank == RByte ? 255 : -1) : 0, rank);
        };
        std::optional<Variant> r;
        switch (op) {
        case Op::And: r = decided(a.isNull() ? b : a, false); break;
        case Op::Or: r = decided(a.isNull() ? b : a, true); break;
        case Op::Imp:
            if (a.isNull())
                r = decided(b, true);
            else if (auto z = decided(a, false)) // 0 Imp Null: every bit of Not 0 is set
                r = a.type() == Variant::Boolean ? Variant(true) : Operators::logicalNot(*z);
            break;
        default: break;
        }
        return r ? *r : Variant::null();
    }
    if (a.type() == Variant::Boolean && b.type() == Variant::Boolean) {
        bool x = a.rawBool(), y = b.rawBool();
        switch (op) {
        case Op::And: return Variant(x && y);
        case Op::Or: return Variant(x || y);
        case Op::Xor: return Variant(x != y);
        case Op::Eqv: return Variant(x == y);
        case Op::Imp: return Variant(!x || y);
        default: break;
        }
    }
    Num na = toNum(a), nb = toNum(b);
    qint64 x = toWhole(na), y = toWhole(nb);
    qint64 r = 0;
    switch (op) {
    case Op::And: r = x & y; break;
    case Op::Or: r = x | y; break;
    case Op::Xor: r = x ^ y; break;
    case Op::Eqv: r = ~(x ^ y); break;
    case Op::Imp: r = ~x | y; break;
    default: break;
    }
    Rank rank = wholeRank(na, nb);
    if (rank == RByte)
        return Variant::fromByte(quint8(r));
    if (rank == RInteger)
        return Variant::fromInteger(qint16(r));
    return Variant::fromLong(qint32(r));
}

bool same(const Variant &a, const Variant &b)
{
    if (!a.isObject() || !b.isObject())
        throw VbError(VbErr::ObjectRequired);
    return a.rawObject() == b.rawObject();
}

namespace {

bool isNumeric(const Variant &v)
{
    return v.isNumber() || v.type() == Variant::Boolean || v.type() == Variant::Date;
}

int sign(double d)
{
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

int compareText(const QString &a, const QString &b, bool textCompare)
{
    int c = textCompare ? QString::compare(a, b, Qt::CaseInsensitive) : QString::compare(a, b, Qt::CaseSensitive);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

int compare(const Variant &av, const Variant &bv, bool textCompare)
{
    if (av.type() == Variant::Long && bv.type() == Variant::Long)
        return av.rawLong() < bv.rawLong() ? -1 : av.rawLong() > bv.rawLong() ? 1 : 0;
    if (av.type() == Variant::Integer && bv.type() == Variant::Integer)
        return av.rawInteger() < bv.rawInteger() ? -1 : av.rawInteger() > bv.rawInteger() ? 1 : 0;
    Variant a = operand(av), b = operand(bv);
    if (a.isNull() || b.isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    if (a.isString() && b.isString())
        return compareText(a.rawString(), b.rawString(), textCompare);
    if (a.isEmpty() && b.isEmpty())
        return 0;
    if (a.isEmpty())
        return b.isString() ? compareText(QString(), b.rawString(), textCompare) : sign(0 - toNum(b).d);
    if (b.isEmpty())
        return a.isString() ? compareText(a.rawString(), QString(), textCompare) : sign(toNum(a).d);
    if (a.isString() && isNumeric(b))
        return 1;
    if (b.isString() && isNumeric(a))
        return -1;
    if (a.type() == Variant::Currency && b.type() == Variant::Currency)
        return a.rawCurrency() < b.rawCurrency() ? -1 : a.rawCurrency() > b.rawCurrency() ? 1 : 0;
    double x = toNum(a).d, y = toNum(b).d;
    return x < y ? -1 : x > y ? 1 : 0;
}

Variant comparison(Op op, const Variant &a, const Variant &b)
{
    if (a.isNull() || b.isNull())
        return Variant::null();
    if ((a.isObject() && operand(a).isNull()) || (b.isObject() && operand(b).isNull()))
        return Variant::null();
    int c = compare(a, b);
    switch (op) {
    case Op::Eq: return Variant(c == 0);
    case Op::Ne: return Variant(c != 0);
    case Op::Lt: return Variant(c < 0);
    case Op::Gt: return Variant(c > 0);
    case Op::Le: return Variant(c <= 0);
    case Op::Ge: return Variant(c >= 0);
    default: return Variant();
    }
}

Variant binary(Op op, const Variant &a, const Variant &b)
{
    switch (op) {
    case Op::Add: return add(a, b);
    case Op::Sub: return subtract(a, b);
    case Op::Mul: return multiply(a, b);
    case Op::Div: return divide(a, b);
    case Op::IntDiv: return intDivide(a, b);
    case Op::Mod: return modulo(a, b);
    case Op::Pow: return power(a, b);
    case Op::Concat: return concat(a, b);
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Gt:
    case Op::Le:
    case Op::Ge: return comparison(op, a, b);
    case Op::Is: return Variant(same(a, b));
    case Op::And:
    case Op::Or:
    case Op::Xor:
    case Op::Eqv:
    case Op::Imp: return logical(op, a, b);
    default: break;
    }
    throw VbError(VbErr::TypeMismatch);
}

Variant unary(Op op, const Variant &a)
{
    switch (op) {
    case Op::Neg: return negate(a);
    case Op::Not: return logicalNot(a);
    case Op::Plus: return a.isObject() ? operand(a) : a;
    default: throw VbError(VbErr::TypeMismatch);
    }
}

} // namespace Operators
