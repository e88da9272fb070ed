#include "host/FieldRecord.h"

FieldRecord::FieldRecord(std::span<const FieldSpec> specs)
    : m_specs(specs)
{
    m_values.reserve(specs.size());
    for (const FieldSpec &spec : specs)
        m_values.push_back(emptyValue(spec.type));
}

Variant FieldRecord::emptyValue(Variant::Type type)
{
    switch (type) {
    case Variant::Integer:
        return Variant::fromInteger(0);
    case Variant::Long:
        return Variant::fromLong(0);
    case Variant::Single:
        return Variant::fromSingle(0);
    case Variant::Double:
        return Variant::fromDouble(0);
    case Variant::Date:
        return Variant::fromDate(0);
    case Variant::String:
        return Variant(QString());
    case Variant::Boolean:
        return Variant(false);
    case Variant::Object:
        return Variant::nothing();
    default:
        return Variant();
    }
}

Variant FieldRecord::convert(Variant::Type type, const Variant &value)
{
    switch (type) {
    case Variant::Integer:
        return Variant::fromInteger(value.toInteger());
    case Variant::Long:
        return Variant::fromLong(value.toLong());
    case Variant::Single:
        return Variant::fromSingle(value.toSingle());
    case Variant::Double:
        return Variant::fromDouble(value.toDouble());
    case Variant::Date:
        return Variant::fromDate(value.toDate());
    case Variant::String:
        return Variant(value.toString());
    case Variant::Boolean:
        return Variant(value.toBool());
    case Variant::Object:
        if (value.isEmpty())
            return Variant::nothing();
        return Variant(value.toObject());
    default:
        return value;
    }
}

bool FieldRecord::sameValue(const Variant &a, const Variant &b)
{
    if (a.isObject() || b.isObject())
        return a.isObject() && b.isObject() && a.rawObject() == b.rawObject();
    if (a.isString() && b.isString())
        return a.rawString() == b.rawString();
    if ((a.isNumber() || a.type() == Variant::Boolean) && (b.isNumber() || b.type() == Variant::Boolean))
        return a.toDouble() == b.toDouble();
    return a.type() == b.type() && a.toText() == b.toText()
        || (a.isEmpty() && b.toText().isEmpty()) || (b.isEmpty() && a.toText().isEmpty());
}

void FieldRecord::storeField(int index, const Variant &value)
{
    const FieldSpec &spec = m_specs[size_t(index)];
    if (!spec.stored)
        return;
    m_values[size_t(index)] = convert(spec.type, value);
}
