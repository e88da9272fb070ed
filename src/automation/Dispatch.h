#pragma once

#include "Object.h"
#include "VbError.h"
#include "automation/Latin1Case.h"

#include <QHash>
#include <QString>
#include <algorithm>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

// Declarative late binding: a class lists its members once, by name, and the
// table adapts typed C++ member functions to Object::invoke. A non-const
// reference parameter (QString&, int&, Variant&...) is ByRef: what the member
// leaves in it is written back into the caller's argument. Missing trailing
// arguments arrive as Empty (VB's optional parameters). A table that calls
// argumentsRequired() raises 449 "Argument not optional" when a call leaves
// out a parameter that was not marked optional:
//
//     t.argumentsRequired();
//     t.method("GetIniSetting", &Application::GetIniSetting, Optional{1}); // sFile
//
//     class XapMessage : public DispatchObject<XapMessage> {
//     public:
//         static void describe(DispatchTable<XapMessage> &t) {
//             t.name("XapMessage");
//             t.method("AddItem", &XapMessage::AddItem);
//             t.property("MsgClass", &XapMessage::MsgClass, &XapMessage::setMsgClass);
//         }
//     };

namespace dispatch_detail {

template<class P>
struct Arg;

template<class V, class Convert>
struct ValueArg {
    V value;
    explicit ValueArg(Variant &a)
        : value(Convert()(a))
    {
    }
    V get() { return value; }
    void back(Variant &) {}
};

template<class V, class Convert>
struct RefArg {
    V value;
    explicit RefArg(Variant &a)
        : value(Convert()(a))
    {
    }
    V &get() { return value; }
    void back(Variant &a) { a = Variant(value); }
};

struct ToString { QString operator()(const Variant &v) const { return v.toString(); } };
struct ToLong { qint32 operator()(const Variant &v) const { return v.toLong(); } };
struct ToInteger { qint16 operator()(const Variant &v) const { return v.toInteger(); } };
struct ToDouble { double operator()(const Variant &v) const { return v.toDouble(); } };
struct ToBool { bool operator()(const Variant &v) const { return v.toBool(); } };
struct ToObject {
    ObjectPtr operator()(const Variant &v) const { return v.isEmpty() ? ObjectPtr() : v.toObject(); }
};

template<> struct Arg<QString> : ValueArg<QString, ToString> { using ValueArg::ValueArg; };
template<> struct Arg<const QString &> : ValueArg<QString, ToString> { using ValueArg::ValueArg; };
template<> struct Arg<QString &> : RefArg<QString, ToString> { using RefArg::RefArg; };
template<> struct Arg<int> : ValueArg<qint32, ToLong> { using ValueArg::ValueArg; };
template<> struct Arg<int &> : RefArg<qint32, ToLong> { using RefArg::RefArg; };
template<> struct Arg<qint16> : ValueArg<qint16, ToInteger> { using ValueArg::ValueArg; };
template<> struct Arg<qint16 &> {
    qint16 value;
    explicit Arg(Variant &a) : value(a.toInteger()) {}
    qint16 &get() { return value; }
    void back(Variant &a) { a = Variant::fromInteger(value); }
};
template<> struct Arg<double> : ValueArg<double, ToDouble> { using ValueArg::ValueArg; };
template<> struct Arg<double &> : RefArg<double, ToDouble> { using RefArg::RefArg; };
template<> struct Arg<bool> : ValueArg<bool, ToBool> { using ValueArg::ValueArg; };
template<> struct Arg<bool &> : RefArg<bool, ToBool> { using RefArg::RefArg; };
template<> struct Arg<ObjectPtr> : ValueArg<ObjectPtr, ToObject> { using ValueArg::ValueArg; };
template<> struct Arg<const ObjectPtr &> : ValueArg<ObjectPtr, ToObject> { using ValueArg::ValueArg; };
template<> struct Arg<Variant> {
    Variant value;
    explicit Arg(Variant &a) : value(a) {}
    Variant get() { return value; }
    void back(Variant &) {}
};
template<> struct Arg<const Variant &> : Arg<Variant> { using Arg<Variant>::Arg; };
template<> struct Arg<Variant &> {
    Variant *value;
    explicit Arg(Variant &a) : value(&a) {}
    Variant &get() { return *value; }
    void back(Variant &) {}
};

inline Variant toVariant(const QString &v) { return Variant(v); }
inline Variant toVariant(qint32 v) { return Variant(int(v)); }
inline Variant toVariant(qint16 v) { return Variant::fromInteger(v); }
inline Variant toVariant(double v) { return Variant(v); }
inline Variant toVariant(bool v) { return Variant(v); }
inline Variant toVariant(const Variant &v) { return v; }
inline Variant toVariant(const QStringList &v) { return Variant(v); }
template<class O>
Variant toVariant(const std::shared_ptr<O> &v) { return Variant(ObjectPtr(v)); }

using Fn = std::function<Variant(Object &, std::vector<Variant> &)>;

template<class T, class R, class F, class... P, size_t... I>
Variant callWith(T &self, F fn, std::vector<Variant> &args, std::index_sequence<I...>)
{
    if (args.size() > sizeof...(P)) {
        // obj.Prop(i) of a member without parameters indexes what it returns:
        // an object through its default member, or an array.
        if constexpr (sizeof...(P) == 0 && !std::is_void_v<R>) {
            Variant value = toVariant((self.*fn)());
            if (value.isObject() && value.rawObject())
                return value.rawObject()->invoke(QString(), CallKind::PropertyGet, args);
            if (value.isArray()) {
                std::vector<qint32> at;
                for (const Variant &a : args)
                    at.push_back(a.isObject() ? a.defaultValue().toLong() : a.toLong());
                return value.array().at(at);
            }
        }
        throw VbError(VbErr::WrongArgumentCount);
    }
    Variant missing[sizeof...(P) + 1];
    auto pick = [&](size_t i) -> Variant & { return i < args.size() ? args[i] : missing[i]; };
    std::tuple<Arg<P>...> holders{Arg<P>(pick(I))...};
    if constexpr (std::is_void_v<R>) {
        (self.*fn)(std::get<I>(holders).get()...);
        (std::get<I>(holders).back(pick(I)), ...);
        return Variant();
    } else {
        auto result = (self.*fn)(std::get<I>(holders).get()...);
        (std::get<I>(holders).back(pick(I)), ...);
        return toVariant(result);
    }
}

template<class T, class R, class... P>
constexpr size_t arity(R (T::*)(P...)) { return sizeof...(P); }
template<class T, class R, class... P>
constexpr size_t arity(R (T::*)(P...) const) { return sizeof...(P); }

// A call that leaves out any of the first `required` arguments raises 449.
inline Fn requiring(Fn fn, size_t required)
{
    if (required == 0)
        return fn;
    return [fn = std::move(fn), required](Object &o, std::vector<Variant> &args) {
        if (args.size() < required)
            throw VbError(VbErr::ArgumentNotOptional);
        return fn(o, args);
    };
}

template<class T, class R, class... P>
Fn adapt(R (T::*fn)(P...))
{
    return [fn](Object &o, std::vector<Variant> &args) {
        return callWith<T, R, decltype(fn), P...>(static_cast<T &>(o), fn, args, std::index_sequence_for<P...>{});
    };
}

template<class T, class R, class... P>
Fn adapt(R (T::*fn)(P...) const)
{
    return [fn](Object &o, std::vector<Variant> &args) {
        return callWith<const T, R, decltype(fn), P...>(static_cast<const T &>(o), fn, args,
                                                         std::index_sequence_for<P...>{});
    };
}

} // namespace dispatch_detail

// How many of a member's last parameters are optional (VB's Optional).
struct Optional {
    size_t count = 0;
};

template<class T>
class DispatchTable
{
public:
    using Raw = std::function<Variant(T &, CallKind, std::vector<Variant> &)>;

    static DispatchTable &instance()
    {
        static DispatchTable table = [] {
            DispatchTable t;
            T::describe(t);
            return t;
        }();
        return table;
    }

    void name(const QString &className) { m_className = className; }
    const QString &className() const { return m_className; }

    // From here on every parameter must be passed unless it is marked Optional.
    void argumentsRequired() { m_argumentsRequired = true; }
    bool requiresArguments() const { return m_argumentsRequired; }

    // A method (also reachable as a property get, as late binding allows).
    template<class F>
    DispatchTable &method(const QString &name, F fn, Optional optional = {})
    {
        entry(name).method = bind(fn, optional);
        return *this;
    }

    // A read-only property (its parameters, if any, follow the method's rules).
    template<class G>
    DispatchTable &get(const QString &name, G getter, Optional optional = {})
    {
        entry(name).get = bind(getter, optional);
        return *this;
    }

    // A property with get and let; the setter takes the value last.
    template<class G, class S>
    DispatchTable &property(const QString &name, G getter, S setter)
    {
        auto &e = entry(name);
        e.get = dispatch_detail::adapt(getter);
        e.let = keepingText(getter, dispatch_detail::adapt(setter));
        return *this;
    }

    // A write-only property (let), or the let half of one.
    template<class S>
    DispatchTable &let(const QString &name, S setter)
    {
        entry(name).let = dispatch_detail::adapt(setter);
        return *this;
    }

    // An object property's set.
    template<class S>
    DispatchTable &set(const QString &name, S setter)
    {
        entry(name).set = dispatch_detail::adapt(setter);
        return *this;
    }

    // A member that handles every call kind and its arguments itself.
    DispatchTable &raw(const QString &name, Raw fn)
    {
        entry(name).raw = std::move(fn);
        return *this;
    }

    bool has(const QString &name) const { return m_members.contains(Latin1Case::lower(name)); }

    Variant invoke(T &self, const QString &name, CallKind kind, std::vector<Variant> &args) const
    {
        auto it = m_members.constFind(Latin1Case::lower(name));
        if (it == m_members.constEnd())
            throw VbError(VbErr::NotSupported);
        const Member &m = *it;
        if (m.raw)
            return m.raw(self, kind, args);
        const dispatch_detail::Fn *fn = nullptr;
        switch (kind) {
        case CallKind::Method:
            fn = m.method ? &m.method : (m.get ? &m.get : nullptr);
            break;
        case CallKind::PropertyGet:
            fn = m.get ? &m.get : (m.method ? &m.method : nullptr);
            break;
        case CallKind::PropertyLet:
            fn = m.let ? &m.let : (m.set ? &m.set : nullptr);
            break;
        case CallKind::PropertySet:
            fn = m.set ? &m.set : (m.let ? &m.let : nullptr);
            break;
        }
        if (!fn)
            throw VbError(VbErr::NotSupported);
        return (*fn)(self, args);
    }

private:
    struct Member {
        dispatch_detail::Fn method, get, let, set;
        Raw raw;
    };

    Member &entry(const QString &name) { return m_members[Latin1Case::lower(name)]; }

    static qint64 textHeld(const QString &text) { return MemoryBudget::textBytes(text); }
    static qint64 textHeld(const Variant &value)
    {
        return value.type() == Variant::String ? MemoryBudget::textBytes(value.toString()) : 0;
    }
    template<class V>
    static qint64 textHeld(const V &)
    {
        return 0;
    }

    // A text a property keeps outlives the value it came in: the object is charged for what
    // its getter then gives, checked first against the value's own size.
    template<class G>
    static dispatch_detail::Fn keepingText(G getter, dispatch_detail::Fn let)
    {
        using Got = std::decay_t<std::invoke_result_t<G, T &>>;
        if constexpr (!std::is_same_v<Got, QString> && !std::is_same_v<Got, Variant>) {
            return let;
        } else {
            return [getter, let = std::move(let)](Object &o, std::vector<Variant> &args) {
                T &self = static_cast<T &>(o);
                const qint64 before = textHeld(std::invoke(getter, self));
                if (!args.empty()) {
                    const qint64 coming = textHeld(args.back());
                    if (coming > before)
                        MemoryBudget::checkBytes(coming - before);
                }
                Variant result = let(o, args);
                self.keepText(textHeld(std::invoke(getter, self)) - before);
                return result;
            };
        }
    }

    template<class F>
    dispatch_detail::Fn bind(F fn, Optional optional) const
    {
        const size_t count = dispatch_detail::arity(fn);
        const size_t required = m_argumentsRequired && optional.count < count ? count - optional.count : 0;
        return dispatch_detail::requiring(dispatch_detail::adapt(fn), required);
    }

    QString m_className = QStringLiteral("Object");
    bool m_argumentsRequired = false;
    QHash<QString, Member> m_members;
};

// Base of every class reachable by name: T describes its members once.
template<class T>
class DispatchObject : public Object
{
public:
    QString typeName() const override { return DispatchTable<T>::instance().className(); }

    Variant invoke(const QString &name, CallKind kind, std::vector<Variant> &args) override
    {
        return DispatchTable<T>::instance().invoke(static_cast<T &>(*this), name, kind, args);
    }

    bool hasMember(const QString &name) const override { return DispatchTable<T>::instance().has(name); }

    // A text the object now keeps (negative: lets go of), already checked by the caller.
    void keepText(qint64 bytes) { m_objectBytes.recount(std::max(kBaseBytes, m_objectBytes.bytes() + bytes)); }

private:
    // The object's block, its owner's count and the allocator's header: millions of small
    // objects made by a script are refused like any other memory.
    static constexpr qint64 kBaseBytes = qint64(sizeof(T)) + 48;
    MemoryBudget::Held m_objectBytes{kBaseBytes};
};
