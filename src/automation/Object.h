#pragma once

#include "Variant.h"

#include <QString>
#include <memory>
#include <vector>

// How a member is reached, as IDispatch::Invoke's flags say it.
enum class CallKind {
    Method,
    PropertyGet,
    PropertyLet,
    PropertySet,
};

// Receives the values and references an object keeps; each may be replaced in place.
class HeldValues
{
public:
    virtual void value(Variant &held) = 0;
    virtual void object(ObjectPtr &held) = 0;
    // An object the holder keeps that is never replaced (a list it owns).
    virtual void part(ObjectPtr held) = 0;

protected:
    ~HeldValues() = default;
};

// A late-bound object: scripts and outside callers reach its members by name,
// without regard to case. Arguments are passed by reference: a member may
// write back into them (ByRef). For a property let or set the new value is the
// last argument. The empty name is the default member.
class Object : public std::enable_shared_from_this<Object>
{
public:
    virtual ~Object() = default;

    virtual QString typeName() const = 0;

    // Raises VbError 438 "Object doesn't support this property or method" for
    // an unknown member, 450 for a wrong argument count.
    virtual Variant invoke(const QString &name, CallKind kind, std::vector<Variant> &args) = 0;

    // Whether a member of that name exists (scripts look up the members of an
    // object added with its members global).
    virtual bool hasMember(const QString &name) const = 0;

    // For Each: fills the items and returns true when the object is a collection.
    virtual bool enumerate(std::vector<Variant> &items);

    // Hands every value and object reference the object keeps to `visitor`: the host
    // looks through what it keeps for objects of a script that has ended.
    virtual void visitHeld(HeldValues &visitor);

    // Convenience wrappers for C++ callers.
    Variant call(const QString &name, std::vector<Variant> args = {});
    Variant get(const QString &name);
    void let(const QString &name, const Variant &value);
};
