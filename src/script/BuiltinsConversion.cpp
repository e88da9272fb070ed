// Conversions, type tests and arrays.
#include "Builtins.h"

#include "ClassInstance.h"
#include "ErrObject.h"

#include "Operators.h"
#include "VbError.h"
#include "VbString.h"

namespace {

using Args = std::vector<Variant>;

Variant value(const Variant &v)
{
    Variant x = Operators::operand(v);
    if (x.isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    return x;
}

Variant fnCBool(Interpreter &, Frame &, Args &a) { return Variant(value(a[0]).toBool()); }
Variant fnCByte(Interpreter &, Frame &, Args &a)
{
    const Variant x = value(a[0]);
    // True is all bits set, in a Byte 255.
    if (x.type() == Variant::Boolean)
        return Variant::fromByte(x.rawBool() ? 255 : 0);
    return Variant::fromByte(x.toByte());
}
Variant fnCCur(Interpreter &, Frame &, Args &a) { return Variant::fromCurrency(value(a[0]).toCurrency()); }
Variant fnCDbl(Interpreter &, Frame &, Args &a) { return Variant(value(a[0]).toDouble()); }
Variant fnCInt(Interpreter &, Frame &, Args &a) { return Variant::fromInteger(value(a[0]).toInteger()); }
Variant fnCLng(Interpreter &, Frame &, Args &a) { return Variant::fromLong(value(a[0]).toLong()); }
Variant fnCSng(Interpreter &, Frame &, Args &a) { return Variant::fromSingle(value(a[0]).toSingle()); }
Variant fnCStr(Interpreter &, Frame &, Args &a) { return Variant(value(a[0]).toString()); }
Variant fnCDate(Interpreter &, Frame &, Args &a) { return Variant::fromDate(value(a[0]).toDate()); }

// Whether an object has a default property that needs no argument: a
// script class's Public Default Property Get, or Err's Number.
bool hasPlainDefaultProperty(Object *object)
{
    if (auto *instance = dynamic_cast<ClassInstance *>(object)) {
        const ClassDef *def = instance->definition();
        if (def->defaultMember.isEmpty())
            return false;
        const Procedure *get = def->members.value(def->defaultMember).get;
        return get && get->params.empty();
    }
    return dynamic_cast<ErrObject *>(object) != nullptr;
}

Variant fnVarType(Interpreter &, Frame &, Args &a)
{
    const Variant &v = a[0];
    if (v.isObject() && v.rawObject() && hasPlainDefaultProperty(v.rawObject().get())) {
        // An object reports the type of its default property.
        std::vector<Variant> none;
        try {
            Variant value = v.rawObject()->invoke(QString(), CallKind::PropertyGet, none);
            return Variant::fromInteger(qint16(value.varType()));
        } catch (const VbError &) {
            return Variant::fromInteger(Variant::Object);
        }
    }
    return Variant::fromInteger(qint16(v.varType()));
}

Variant fnTypeName(Interpreter &, Frame &, Args &a)
{
    return Variant(a[0].typeName());
}

Variant fnIsArray(Interpreter &, Frame &, Args &a) { return Variant(a[0].isArray()); }
Variant fnIsEmpty(Interpreter &, Frame &, Args &a) { return Variant(a[0].isEmpty()); }
Variant fnIsNull(Interpreter &, Frame &, Args &a) { return Variant(a[0].isNull()); }
Variant fnIsObject(Interpreter &, Frame &, Args &a) { return Variant(a[0].isObject()); }

bool isNumeric(const Variant &v)
{
    switch (v.type()) {
    case Variant::Empty:
    case Variant::Boolean:
    case Variant::Byte:
    case Variant::Integer:
    case Variant::Long:
    case Variant::Single:
    case Variant::Double:
    case Variant::Currency:
        return true;
    case Variant::String:
        return VbString::IsNumeric(v.rawString());
    case Variant::Object:
        try {
            return isNumeric(v.defaultValue());
        } catch (const VbError &) {
            return false;
        }
    default:
        return false;
    }
}

Variant fnIsNumeric(Interpreter &, Frame &, Args &a)
{
    return Variant(isNumeric(a[0]));
}

Variant fnArray(Interpreter &, Frame &, Args &a)
{
    return Variant(VbArray::fromValues(a));
}

const VbArray &arrayArg(const Variant &v)
{
    if (!v.isArray())
        throw VbError(VbErr::TypeMismatch);
    return v.array();
}

int dimensionArg(const Args &a)
{
    return Builtins::missing(a, 1) ? 1 : Operators::operand(a[1]).toLong();
}

Variant fnLBound(Interpreter &, Frame &, Args &a)
{
    return Variant::fromLong(arrayArg(a[0]).lbound(dimensionArg(a)));
}

Variant fnUBound(Interpreter &, Frame &, Args &a)
{
    return Variant::fromLong(arrayArg(a[0]).ubound(dimensionArg(a)));
}

} // namespace

void Builtins::addConversions(BuiltinTable &t)
{
    auto add = [&](const char *name, Builtin::Fn fn, int minArgs, int maxArgs) {
        t.insert(QString::fromLatin1(name), Builtin{fn, minArgs, maxArgs, {}});
    };
    add("cbool", fnCBool, 1, 1);
    add("cbyte", fnCByte, 1, 1);
    add("ccur", fnCCur, 1, 1);
    add("cdbl", fnCDbl, 1, 1);
    add("cint", fnCInt, 1, 1);
    add("clng", fnCLng, 1, 1);
    add("csng", fnCSng, 1, 1);
    add("cstr", fnCStr, 1, 1);
    add("cdate", fnCDate, 1, 1);
    add("vartype", fnVarType, 1, 1);
    add("typename", fnTypeName, 1, 1);
    add("isarray", fnIsArray, 1, 1);
    add("isempty", fnIsEmpty, 1, 1);
    add("isnull", fnIsNull, 1, 1);
    add("isnumeric", fnIsNumeric, 1, 1);
    add("isobject", fnIsObject, 1, 1);
    add("array", fnArray, 0, 1 << 20);
    add("lbound", fnLBound, 1, 2);
    add("ubound", fnUBound, 1, 2);
}
