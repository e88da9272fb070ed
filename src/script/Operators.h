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

} // namespace Operators
