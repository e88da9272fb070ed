#include "Object.h"

bool Object::enumerate(std::vector<Variant> &)
{
    return false;
}

Variant Object::call(const QString &name, std::vector<Variant> args)
{
    return invoke(name, CallKind::Method, args);
}

Variant Object::get(const QString &name)
{
    std::vector<Variant> args;
    return invoke(name, CallKind::PropertyGet, args);
}

void Object::let(const QString &name, const Variant &value)
{
    std::vector<Variant> args{value};
    invoke(name, value.isObject() ? CallKind::PropertySet : CallKind::PropertyLet, args);
}

void Object::visitHeld(HeldValues &) {}
