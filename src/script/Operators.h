#pragma once

#include "Ast.h"
#include "Variant.h"

// VBScript's operators on Variants: result types widen as VBScript widens
// them (Integer overflowing into Long, Long into Double), Null propagates,
// strings meet numbers by VBScript's comparison rules, and the logical
// operators are bitwise on numbers.
namespace Operators {

Variant binary(Op op, const Variant &a, const Variant &b);
Variant unary(Op op, const Variant &a);

Variant add(const Variant &a, const Variant &b);
Variant subtract(const Variant &a, const Variant &b);
Variant multiply(const Variant &a, const Variant &b);
Variant divide(const Variant &a, const Variant &b);
Variant intDivide(const Variant &a, const Variant &b);
Variant modulo(const Variant &a, const Variant &b);
Variant power(const Variant &a, const Variant &b);
Variant concat(const Variant &a, const Variant &b);
Variant negate(const Variant &a);
Variant logicalNot(const Variant &a);
Variant logical(Op op, const Variant &a, const Variant &b);
bool same(const Variant &a, const Variant &b); // Is

// -1, 0 or 1; neither may be Null. textCompare ignores case between texts.
int compare(const Variant &a, const Variant &b, bool textCompare = false);
// =, <>, <, >, <=, >=: Boolean, or Null when either side is Null.
Variant comparison(Op op, const Variant &a, const Variant &b);

// The value an operator works on: an object's default value, never an array.
Variant operand(const Variant &v);

// binary() for two Integer or Long operands of the operators that loops and counters use
// most, inline and without a Num: the same results as the general rules. None when the
// general rules must decide (other types or operators, Mod by 0); else the result's type,
// its value in n.
enum class Whole : quint8 { None, Boolean, Integer, Long, Double };

[[gnu::always_inline]] inline Whole whole(Op op, const Variant &a, const Variant &b, qint64 &n)
{
    const Variant::Type ta = a.type(), tb = b.type();
    if ((ta != Variant::Integer && ta != Variant::Long) || (tb != Variant::Integer && tb != Variant::Long))
        return Whole::None;
    const qint64 x = ta == Variant::Integer ? a.rawInteger() : a.rawLong();
    const qint64 y = tb == Variant::Integer ? b.rawInteger() : b.rawLong();
    switch (op) {
    case Op::Add: n = x + y; break;
    case Op::Sub: n = x - y; break;
    case Op::Mul: n = x * y; break;
    case Op::Mod:
        if (y == 0)
            return Whole::None;
        n = x % y;
        break;
    case Op::Eq: n = x == y; return Whole::Boolean;
    case Op::Ne: n = x != y; return Whole::Boolean;
    case Op::Lt: n = x < y; return Whole::Boolean;
    case Op::Gt: n = x > y; return Whole::Boolean;
    case Op::Le: n = x <= y; return Whole::Boolean;
    case Op::Ge: n = x >= y; return Whole::Boolean;
    default: return Whole::None;
    }
    // Integer widens to Long, Long to Double, as the general rules do.
    if (ta == Variant::Integer && tb == Variant::Integer && n >= -32768 && n <= 32767)
        return Whole::Integer;
    if (n >= -2147483648LL && n <= 2147483647LL)
        return Whole::Long;
    return Whole::Double;
}

inline Variant wholeValue(Whole kind, qint64 n)
{
    switch (kind) {
    case Whole::Boolean: return Variant(n != 0);
    case Whole::Integer: return Variant::fromInteger(qint16(n));
    case Whole::Long: return Variant::fromLong(qint32(n));
    default: return Variant(double(n));
    }
}

// binary(), with two whole numbers worked out inline.
[[gnu::always_inline]] inline Variant wholeOrBinary(Op op, const Variant &a, const Variant &b)
{
    qint64 n = 0;
    if (const Whole w = whole(op, a, b, n); w != Whole::None)
        return wholeValue(w, n);
    return binary(op, a, b);
}

} // namespace Operators
