// Expressions, names and calls of the interpreter.
#include "Interpreter.h"
#include "InterpreterEntry.h"

#include "Builtins.h"
#include "ClassRegistry.h"
#include "Operators.h"
#include "ProcRef.h"

#include "automation/Latin1Case.h"

#include <typeinfo>

namespace {

// A member of a script class as a call kind reaches it: a variable of the
// instance, or one of its procedures.
struct MemberTarget {
    Variant *field = nullptr;
    const Procedure *procedure = nullptr;
};

MemberTarget findMember(ClassInstance &self, const QString &name, CallKind kind, bool fromOutside,
                        MemberCache *cache = nullptr, quint64 generation = 0)
{
    const ClassDef *def = self.definition();
    int field = -1;
    const ClassMember *member = nullptr;
    if (cache && cache->owner == def && cache->generation == generation) {
        field = cache->field;
        member = cache->member;
    } else {
        const QString *lower = &name;
        if (name.isEmpty()) {
            if (def->defaultMember.isEmpty())
                throw VbError(VbErr::NotSupported);
            lower = &def->defaultMember;
        }
        auto fi = def->fieldIndex.constFind(*lower);
        if (fi != def->fieldIndex.constEnd()) {
            field = *fi;
        } else {
            auto mi = def->members.constFind(*lower);
            if (mi == def->members.constEnd())
                throw VbError(VbErr::NotSupported);
            member = &*mi;
        }
        if (cache)
            *cache = {def, generation, field, member};
    }
    if (field >= 0) {
        if (fromOutside && !def->fields[size_t(field)].isPublic)
            throw VbError(VbErr::NotSupported);
        return {&self.field(field), nullptr};
    }
    const ClassMember &m = *member;
    const Procedure *p = nullptr;
    switch (kind) {
    case CallKind::Method: p = m.method ? m.method : m.get; break;
    case CallKind::PropertyGet: p = m.get ? m.get : m.method; break;
    case CallKind::PropertyLet: p = m.let; break;
    case CallKind::PropertySet: p = m.set; break;
    }
    if (!p) {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet)
            throw VbError(VbErr::WrongArgumentCount);
        throw VbError(VbErr::NotSupported);
    }
    if (fromOutside && !p->isPublic)
        throw VbError(VbErr::NotSupported);
    return {nullptr, p};
}

// Variants for one call, on the stack when few. Each is made only when the
// call needs it, in place from its value (a Variant is not free to make,
// to move into and to destroy). Late ones (the values of ByRef arguments
// that are no variables) go after the others, as the caller's temporaries
// outlive the callee's variables.
// Many: the count may be more than N (false: the caller made sure it is not).
template<size_t N, bool Many = true>
class CallSlots
{
public:
    explicit CallSlots(size_t n)
        : m_count(n)
        , m_data(!wide() ? reinterpret_cast<Variant *>(m_inline)
                         : static_cast<Variant *>(::operator new(n * sizeof(Variant))))
    {
        static_assert(N <= 64);
        if (wide()) { // past the inline ones every slot is made at once
            for (size_t i = 0; i < n; ++i)
                new (m_data + i) Variant();
        }
    }
    [[gnu::always_inline]] ~CallSlots()
    {
        const quint64 late = m_late;
        if (wide()) {
            for (size_t i = 0; i < m_count; ++i)
                if (!(i < 64 && (late >> i) & 1))
                    m_data[i] = Variant();
            unpin();
            for (size_t i = 0; i < m_count; ++i)
                m_data[i].~Variant();
            ::operator delete(m_data);
            return;
        }
        const quint64 built = m_built;
        for (quint64 own = built & ~late; own; own &= own - 1)
            m_data[__builtin_ctzll(own)].~Variant();
        unpin();
        for (quint64 rest = built & late; rest; rest &= rest - 1)
            m_data[__builtin_ctzll(rest)].~Variant();
    }
    CallSlots(const CallSlots &) = delete;
    CallSlots &operator=(const CallSlots &) = delete;

    template<class V>
    Variant *make(size_t i, V &&value, bool late = false)
    {
        if (late && i < 64)
            m_late |= quint64(1) << i;
        if (wide()) {
            m_data[i] = std::forward<V>(value);
        } else {
            new (m_data + i) Variant(std::forward<V>(value));
            m_built |= quint64(1) << i;
        }
        return m_data + i;
    }
    Variant *make(size_t i) { return make(i, Variant()); }
    // The value fn returns, made in its slot without a move.
    template<class F>
    Variant *emplace(size_t i, F &&fn, bool late)
    {
        if (late && i < 64)
            m_late |= quint64(1) << i;
        if (wide()) {
            m_data[i] = fn();
        } else {
            new (m_data + i) Variant(fn());
            m_built |= quint64(1) << i;
        }
        return m_data + i;
    }

    // ByRef array elements: a reference to the element itself while the
    // call runs, its array pinned so that the element stays in place. The
    // callee's own variables go before the pins; the caller's temporaries after.
    void pin(const std::shared_ptr<VbArray> &array)
    {
        if (!m_pins)
            m_pins = std::make_unique<std::vector<std::shared_ptr<VbArray>>>();
        m_pins->push_back(array);
        array->pin();
    }

    // Empty variables from slot `from` on.
    void makeRest(size_t from, Variant **bound)
    {
        for (size_t i = from; i < m_count; ++i)
            bound[i] = make(i);
    }

private:
    bool wide() const { return Many && m_count > N; }
    void unpin() noexcept
    {
        if (m_pins)
            for (const auto &a : *m_pins)
                a->unpin();
    }

    alignas(Variant) unsigned char m_inline[N * sizeof(Variant)];
    size_t m_count;
    Variant *m_data;
    quint64 m_built = 0;
    quint64 m_late = 0;
    std::unique_ptr<std::vector<std::shared_ptr<VbArray>>> m_pins; // made by the first element
};

template<class T, size_t N>
class PointerSlots
{
public:
    explicit PointerSlots(size_t n)
        : m_data(n <= N ? m_inline : new T *[n])
        , m_heap(n > N)
    {
    }
    ~PointerSlots()
    {
        if (m_heap)
            delete[] m_data;
    }
    PointerSlots(const PointerSlots &) = delete;
    PointerSlots &operator=(const PointerSlots &) = delete;

    T **data() { return m_data; }

private:
    T *m_inline[N];
    T **m_data;
    bool m_heap;
};

bool isVariable(const Expr *e)
{
    return e->kind == EK::Name;
}

} // namespace

// ------------------------------------------------------------------ names

Variant *Interpreter::frameLocal(Frame &f, const QString &lower, bool create)
{
    if (!f.execLocals) {
        if (!create)
            return nullptr;
        f.execLocals = std::make_shared<ExecLocals>();
    }
    ExecLocals &x = *f.execLocals;
    if (Variant *v = x.names.value(lower))
        return v;
    if (!create)
        return nullptr;
    x.held.add(ScriptModule::nameEntryBytes(lower, sizeof(Variant *)) + qint64(sizeof(Variant)));
    Variant *v;
    auto implicit = f.proc->implicitSlots.constFind(lower);
    if (implicit != f.proc->implicitSlots.constEnd()) {
        v = f.vars[*implicit];
    } else {
        x.owned.emplace_back();
        v = &x.owned.back();
    }
    x.names.insert(lower, v);
    return v;
}

static void bindGlobal(NameBinding &b, ScriptModule *m, int index)
{
    ScriptModule::Global &g = m->global(index);
    b.run = RunKind::Global;
    b.module = m;
    b.index = index;
    b.globalValue = &g.value;
    b.globalProcedure = &g.procedure;
}

void Interpreter::resolve(NameExpr *n, Frame &f)
{
    NameBinding &b = n->bind;
    if (b.frameScoped) {
        if (Variant *v = frameLocal(f, n->lower, false)) {
            b.run = RunKind::FrameLocal;
            b.frameLocal = v;
            return;
        }
    }
    ScriptModule *m = f.module;
    int i = m->find(n->lower);
    if (i < 0) {
        ScriptModule *g = globalModule().get();
        if (g != m && (i = g->find(n->lower)) >= 0)
            m = g;
    }
    if (i >= 0) {
        bindGlobal(b, m, i);
        return;
    }
    b.generation = m_generation;
    for (const HostItem &item : m_items) {
        if (item.name == n->lower) {
            b.run = RunKind::HostItem;
            b.host = item.object.get();
            return;
        }
    }
    if (const Builtin *builtin = Builtins::find(n->lower)) {
        b.run = builtin->fn ? RunKind::Builtin : RunKind::Constant;
        b.builtin = builtin;
        return;
    }
    for (const HostItem &item : m_items) {
        if (item.addMembers && item.object->hasMember(n->name)) {
            b.run = RunKind::HostMember;
            b.host = item.object.get();
            return;
        }
    }
    const bool madeByExecute = f.execLocals && f.execLocals->names.contains(n->lower);
    if (f.optionExplicit && !b.implicitOk && !madeByExecute)
        throw VbError(VbErr::VariableUndefined);
    if (f.proc && b.slot >= 0) {
        b.run = RunKind::ImplicitLocal;
        return;
    }
    if (b.frameScoped) {
        b.run = RunKind::FrameLocal;
        b.frameLocal = frameLocal(f, n->lower, true);
        return;
    }
    bindGlobal(b, f.module, f.module->define(n->lower));
    ++m_generation;
}

static inline bool needsResolve(const NameBinding &b, quint64 generation)
{
    return b.run == RunKind::Unresolved || (b.run >= RunKind::Builtin && b.generation != generation);
}

Variant *Interpreter::variableRef(const NameExpr *n, Frame &f, bool)
{
    NameBinding &b = n->bind;
    switch (b.kind) {
    case RefKind::Local:
        return f.vars[b.slot];
    case RefKind::Field:
        return &f.me->field(b.slot);
    case RefKind::MeMember:
        return nullptr;
    case RefKind::Dynamic:
        break;
    }
    if (needsResolve(b, m_generation))
        resolve(const_cast<NameExpr *>(n), f);
    switch (b.run) {
    case RunKind::Global:
        return *b.globalProcedure ? nullptr : b.globalValue;
    case RunKind::ImplicitLocal:
        return f.vars[b.slot];
    case RunKind::FrameLocal:
        return b.frameLocal;
    default:
        return nullptr;
    }
}

Variant Interpreter::evalName(const NameExpr *n, Frame &f)
{
    // A bare name is a call without arguments: a variable's value, a
    // procedure's result, a constant or a host object.
    static const std::vector<Expr *> none;
    return callTarget(n, none, f, false);
}

// ------------------------------------------------------------ expressions

bool Interpreter::truthOther(const Expr *e, Frame &f)
{
    if (e->kind == EK::Binary) {
        // A comparison of two whole numbers needs no Boolean Variant.
        auto *b = static_cast<const BinaryExpr *>(e);
        if (b->op >= Op::Eq && b->op <= Op::Ge) {
            std::optional<Variant> lt, rt;
            const Variant &l = isPlain(b->right) ? evalRef(b->left, f, lt) : lt.emplace(eval(b->left, f));
            const Variant &r = evalRef(b->right, f, rt);
            const Variant::Type tl = l.type(), tr = r.type();
            if ((tl == Variant::Integer || tl == Variant::Long) && (tr == Variant::Integer || tr == Variant::Long)) {
                const qint32 x = tl == Variant::Integer ? l.rawInteger() : l.rawLong();
                const qint32 y = tr == Variant::Integer ? r.rawInteger() : r.rawLong();
                switch (b->op) {
                case Op::Eq: return x == y;
                case Op::Ne: return x != y;
                case Op::Lt: return x < y;
                case Op::Gt: return x > y;
                case Op::Le: return x <= y;
                default: return x >= y;
                }
            }
            Variant c = Operators::comparison(b->op, l, r);
            return c.type() == Variant::Boolean && c.rawBool();
        }
    }
    Variant v = eval(e, f);
    switch (v.type()) {
    case Variant::Boolean: return v.rawBool();
    case Variant::Null:
    case Variant::Empty: return false;
    case Variant::Integer: return v.rawInteger() != 0;
    case Variant::Long: return v.rawLong() != 0;
    default: {
        Variant x = Operators::operand(v);
        return x.isNull() ? false : x.toBool();
    }
    }
}

// A literal or a variable of the frame: reading it runs no code.
// A module's variable, once its name is known to be one (not a procedure).
static inline Variant *knownGlobal(const NameExpr *n)
{
    const NameBinding &b = n->bind;
    if (b.kind != RefKind::Dynamic || b.run != RunKind::Global || *b.globalProcedure)
        return nullptr;
    return b.globalValue;
}

bool Interpreter::isPlainName(const NameExpr *n)
{
    const RefKind k = n->bind.kind;
    return k == RefKind::Local || k == RefKind::Field || knownGlobal(n);
}

const Variant &Interpreter::evalRefOther(const Expr *e, Frame &f, std::optional<Variant> &scratch)
{
    if (e->kind == EK::Literal)
        return static_cast<const LiteralExpr *>(e)->value;
    if (e->kind == EK::Name) {
        auto *n = static_cast<const NameExpr *>(e);
        if (n->bind.kind == RefKind::Local)
            return *f.vars[n->bind.slot];
        if (n->bind.kind == RefKind::Field)
            return f.me->field(n->bind.slot);
        if (Variant *v = knownGlobal(n))
            return *v;
    }
    return scratch.emplace(eval(e, f));
}

// Whether the left spine is long enough to be walked in a loop.
static bool longChain(const BinaryExpr *b)
{
    const Expr *e = b;
    for (int depth = 0; depth < 16; ++depth) {
        if (e->kind != EK::Binary)
            return false;
        e = static_cast<const BinaryExpr *>(e)->left;
    }
    return true;
}

Variant Interpreter::eval(const Expr *e, Frame &f)
{
    switch (e->kind) {
    case EK::Literal:
        return static_cast<const LiteralExpr *>(e)->value;
    case EK::Name: {
        auto *n = static_cast<const NameExpr *>(e);
        if (n->bind.kind == RefKind::Local)
            return *f.vars[n->bind.slot];
        if (n->bind.kind == RefKind::Field)
            return f.me->field(n->bind.slot);
        if (const Variant *v = knownGlobal(n))
            return *v;
        return evalName(n, f);
    }
    case EK::Member:
        checkStack();
        return evalMember(static_cast<const MemberExpr *>(e), f);
    case EK::Call: {
        checkStack();
        auto *c = static_cast<const CallExpr *>(e);
        // What callTarget would call.
        if (const Procedure *p = knownProcedure(c))
            return callUser(p, static_cast<const NameExpr *>(c->target)->bind.module, nullptr, c->args, f);
        return callTarget(c->target, c->args, f, false, true);
    }
    case EK::Unary: {
        checkStack();
        auto *u = static_cast<const UnaryExpr *>(e);
        return Operators::unary(u->op, eval(u->operand, f));
    }
    case EK::Binary:
        return evalOperator(static_cast<const BinaryExpr *>(e), f);
    case EK::New:
        return evalNew(static_cast<const NewExpr *>(e), f);
    case EK::Me:
        if (!f.me)
            throw VbError(VbErr::ObjectRequired);
        return Variant(f.me->self());
    case EK::Paren:
        checkStack();
        return eval(static_cast<const ParenExpr *>(e)->inner, f);
    case EK::Missing:
        return Variant();
    }
    return Variant();
}

Variant Interpreter::evalBinary(const BinaryExpr *b, Frame &f)
{
    if (b->left->kind == EK::Binary && longChain(b))
        return evalChain(b, f);
    // The left operand is read in place only when the right one cannot
    // change it; the right one always can be.
    if (!isPlain(b->right))
        return evalBoth(b, f);
    std::optional<Variant> lt, rt;
    const Variant &l = evalRef(b->left, f, lt);
    const Variant &r = evalRef(b->right, f, rt);
    return Operators::wholeOrBinary(b->op, l, r);
}

// a + b + c + ... is a tree as deep as the text is long: its left spine is
// walked in a loop, each operand in the order the recursion would take.
Variant Interpreter::evalChain(const BinaryExpr *top, Frame &f)
{
    std::vector<const BinaryExpr *> spine;
    const Expr *e = top;
    for (; e->kind == EK::Binary; e = static_cast<const BinaryExpr *>(e)->left)
        spine.push_back(static_cast<const BinaryExpr *>(e));
    Variant value = eval(e, f);
    for (auto it = spine.rbegin(); it != spine.rend(); ++it) {
        std::optional<Variant> rt;
        const Variant &r = evalRef((*it)->right, f, rt);
        value = Operators::binary((*it)->op, value, r);
    }
    return value;
}

const Variant &Interpreter::memberBase(const MemberExpr *m, Frame &f, std::optional<Variant> &scratch)
{
    if (!m->object)
        return scratch.emplace(withObject(f));
    return evalRef(m->object, f, scratch);
}

Variant Interpreter::withObject(Frame &f)
{
    if (f.withStack.empty())
        throw VbError(VbErr::ObjectRequired);
    return f.withStack.back();
}

const ObjectPtr &Interpreter::objectOf(const Variant &v)
{
    if (!v.isObject())
        throw VbError(VbErr::ObjectRequired);
    if (!v.rawObject())
        throw VbError(VbErr::ObjectVariableNotSet);
    return v.rawObject();
}

const ObjectPtr &Interpreter::memberObject(const Variant &v)
{
    if (!v.isObject() || !v.rawObject())
        throw VbError(VbErr::ObjectRequired);
    return v.rawObject();
}

Variant Interpreter::evalMember(const MemberExpr *m, Frame &f)
{
    static const std::vector<Expr *> none;
    std::optional<Variant> scratch;
    const Variant &base = memberBase(m, f, scratch);
    return callObject(memberObject(base), m->name, CallKind::PropertyGet, none, f, nullptr, m);
}

Variant Interpreter::evalNew(const NewExpr *n, Frame &f)
{
    QString lower = Latin1Case::lower(n->className);
    ProgramPtr program;
    ScriptModule *owner = f.module;
    const ClassDef *def = owner->findClass(lower, &program);
    if (!def) {
        owner = globalModule().get();
        def = owner->findClass(lower, &program);
    }
    if (!def) {
        // The one class of the runtime that New creates.
        if (lower == QLatin1String("regexp"))
            return Variant(ClassRegistry::instance().create(QStringLiteral("VBScript.RegExp")));
        throw VbError(506);
    }
    auto module = std::static_pointer_cast<ScriptModule>(owner->shared_from_this());
    auto instance = ClassInstance::create(weak_from_this(), module, def, program);
    track(instance);
    for (size_t i = 0; i < def->fields.size(); ++i) {
        const ClassField &field = def->fields[i];
        if (!field.isArray)
            continue;
        if (field.bounds.empty()) {
            instance->field(int(i)) = Variant::fromArray(std::make_shared<VbArray>());
            continue;
        }
        std::vector<VbArray::Bound> bounds;
        for (const Expr *e : field.bounds)
            bounds.push_back({0, eval(e, f).toLong() + 1});
        VbArray a(std::move(bounds));
        a.fixed = true;
        instance->field(int(i)) = Variant(std::move(a));
    }
    if (def->initialize)
        invokeProcedure(def->initialize, owner, instance.get(), nullptr, 0);
    return Variant(ObjectPtr(instance));
}

std::vector<qint32> Interpreter::indexes(const std::vector<Expr *> &args, Frame &f)
{
    std::vector<qint32> out;
    out.reserve(args.size());
    for (const Expr *e : args) {
        Variant v = eval(e, f);
        if (v.type() == Variant::Long)
            out.push_back(v.rawLong());
        else if (v.type() == Variant::Integer)
            out.push_back(v.rawInteger());
        else
            out.push_back(Operators::operand(v).toLong());
    }
    return out;
}

Variant Interpreter::indexValue(const Variant &v, const std::vector<Expr *> &args, Frame &f)
{
    if (args.empty())
        return v;
    if (v.isArray())
        return v.array().at(indexes(args, f));
    if (v.isObject())
        return callObject(objectOf(v), QString(), CallKind::Method, args, f);
    throw VbError(VbErr::TypeMismatch);
}

// ---------------------------------------------------------------- assignment

void Interpreter::assignName(const NameExpr *n, Variant &&value, Frame &f, bool isSet, std::vector<Expr *> *)
{
    if (Variant *r = variableRef(n, f, true)) {
        *r = std::move(value);
        return;
    }
    static const std::vector<Expr *> none;
    CallKind kind = isSet ? CallKind::PropertySet : CallKind::PropertyLet;
    if (n->bind.kind == RefKind::MeMember) {
        callMeMember(f, n->lower, kind, none, &value);
        return;
    }
    if (n->bind.kind == RefKind::Dynamic && n->bind.run == RunKind::HostMember) {
        std::vector<Variant> args{std::move(value)};
        n->bind.host->invoke(n->name, kind, args);
        return;
    }
    throw VbError(VbErr::IllegalAssignment);
}

void Interpreter::assignTo(const Expr *target, Variant &&value, Frame &f, bool isSet)
{
    static const std::vector<Expr *> none;
    CallKind kind = isSet ? CallKind::PropertySet : CallKind::PropertyLet;
    switch (target->kind) {
    case EK::Name:
        assignName(static_cast<const NameExpr *>(target), std::move(value), f, isSet);
        return;
    case EK::Member: {
        auto *m = static_cast<const MemberExpr *>(target);
        std::optional<Variant> scratch;
    const Variant &base = memberBase(m, f, scratch);
        callObject(memberObject(base), m->name, kind, none, f, &value, m);
        return;
    }
    case EK::Call: {
        auto *c = static_cast<const CallExpr *>(target);
        if (c->target->kind == EK::Name) {
            auto *n = static_cast<const NameExpr *>(c->target);
            if (Variant *r = variableRef(n, f, true)) {
                if (r->isArray()) {
                    std::vector<qint32> at = indexes(c->args, f);
                    r = variableRef(n, f, true);
                    r->arrayMut().at(at) = std::move(value);
                    return;
                }
                if (r->isObject()) {
                    callObject(objectOf(*r), QString(), kind, c->args, f, &value);
                    return;
                }
                throw VbError(VbErr::TypeMismatch);
            }
            if (n->bind.kind == RefKind::MeMember) {
                callMeMember(f, n->lower, kind, c->args, &value);
                return;
            }
            if (n->bind.kind == RefKind::Dynamic && n->bind.run == RunKind::HostMember) {
                callObject(n->bind.host->shared_from_this(), n->name, kind, c->args, f, &value);
                return;
            }
            if (n->bind.kind == RefKind::Dynamic && n->bind.run == RunKind::HostItem) {
                callObject(n->bind.host->shared_from_this(), QString(), kind, c->args, f, &value);
                return;
            }
            throw VbError(VbErr::IllegalAssignment);
        }
        if (c->target->kind == EK::Member) {
            auto *m = static_cast<const MemberExpr *>(c->target);
            std::optional<Variant> scratch;
    const Variant &base = memberBase(m, f, scratch);
            callObject(memberObject(base), m->name, kind, c->args, f, &value, m);
            return;
        }
        Variant base = eval(c->target, f);
        callObject(objectOf(base), QString(), kind, c->args, f, &value);
        return;
    }
    default:
        throw VbError(VbErr::IllegalAssignment);
    }
}

// ------------------------------------------------------------------- calls

Variant Interpreter::calledValue(const Variant &v, const std::vector<Expr *> &args, Frame &f, bool called)
{
    if (called && args.empty() && !v.isObject() && !v.isArray())
        throw VbError(VbErr::TypeMismatch);
    return indexValue(v, args, f);
}

Variant Interpreter::callTarget(const Expr *callee, const std::vector<Expr *> &args, Frame &f, bool statement,
                                bool called)
{
    called = called || statement;
    switch (callee->kind) {
    case EK::Name: {
        auto *n = static_cast<const NameExpr *>(callee);
        NameBinding &b = n->bind;
        switch (b.kind) {
        case RefKind::Local:
            return calledValue(*f.vars[b.slot], args, f, called);
        case RefKind::Field:
            return calledValue(f.me->field(b.slot), args, f, called);
        case RefKind::MeMember:
            return callMeMember(f, n->lower, CallKind::Method, args);
        case RefKind::Dynamic:
            break;
        }
        if (needsResolve(b, m_generation))
            resolve(const_cast<NameExpr *>(n), f);
        switch (b.run) {
        case RunKind::Global:
            if (const Procedure *p = *b.globalProcedure)
                return callUser(p, b.module, nullptr, args, f);
            return calledValue(*b.globalValue, args, f, called);
        case RunKind::ImplicitLocal:
            return calledValue(*f.vars[b.slot], args, f, called);
        case RunKind::FrameLocal:
            return calledValue(*b.frameLocal, args, f, called);
        case RunKind::Constant:
            if (!args.empty())
                throw VbError(VbErr::TypeMismatch);
            return b.builtin->constant;
        case RunKind::Builtin:
            return callBuiltin(b.builtin, args, f);
        case RunKind::HostItem:
            if (args.empty() && !statement)
                return Variant(b.host->shared_from_this());
            return callObject(b.host->shared_from_this(), QString(), CallKind::Method, args, f);
        case RunKind::HostMember:
            return callObject(b.host->shared_from_this(), n->name, CallKind::Method, args, f);
        case RunKind::Unresolved:
            break;
        }
        throw VbError(VbErr::VariableUndefined);
    }
    case EK::Member: {
        auto *m = static_cast<const MemberExpr *>(callee);
        std::optional<Variant> scratch;
    const Variant &base = memberBase(m, f, scratch);
        return callObject(memberObject(base), m->name, CallKind::Method, args, f, nullptr, m);
    }
    default: {
        Variant v = eval(callee, f);
        return indexValue(v, args, f);
    }
    }
}

inline Variant Interpreter::enterProcedure(const Procedure *p, ScriptModule *module, ClassInstance *me, Variant **bound)
{
    checkStack();
    Frame f;
    f.module = module;
    f.proc = p;
    f.me = me;
    f.vars = bound;
    f.optionExplicit = p->optionExplicit;
    const int line = m_line, column = m_column;
    for (const ConstStmt *c : p->consts)
        execConst(c, f);
    execBlock(p->body, f);
    // Back in the caller's statement: its errors are reported there.
    m_line = line;
    m_column = column;
    if (p->resultSlot >= 0)
        return std::move(*bound[p->resultSlot]);
    return Variant();
}

Variant Interpreter::callUser(const Procedure *p, ScriptModule *module, ClassInstance *me,
                              const std::vector<Expr *> &args, Frame &caller, const Variant *extra)
{
    const size_t count = args.size() + (extra ? 1 : 0);
    if (count != p->params.size())
        throw VbError(VbErr::WrongArgumentCount);
    // The callee's variables are bound here, each argument straight into its slot: a
    // value of the call's own is made once, where the callee reads it.
    const size_t vars = std::max(size_t(p->slotCount), count);
    if (vars <= 8) [[likely]] {
        CallSlots<8, false> store(vars);
        Variant *bound[8];
        return bindAndEnter(store, bound, p, module, me, args, caller, extra);
    }
    CallSlots<8> store(vars);
    PointerSlots<Variant, 8> slotSlots(vars);
    return bindAndEnter(store, slotSlots.data(), p, module, me, args, caller, extra);
}

template<class Store>
inline Variant Interpreter::bindAndEnter(Store &store, Variant **bound, const Procedure *p, ScriptModule *module,
                                         ClassInstance *me, const std::vector<Expr *> &args, Frame &caller,
                                         const Variant *extra)
{
    const size_t count = args.size() + (extra ? 1 : 0);
    for (size_t i = 0; i < args.size(); ++i) {
        const Expr *a = args[i];
        const bool byRef = !p->params[i].byVal;
        if (byRef) {
            if (isVariable(a)) {
                const NameBinding &b = static_cast<const NameExpr *>(a)->bind;
                if (b.kind == RefKind::Local) {
                    bound[i] = caller.vars[b.slot];
                    continue;
                }
                if (Variant *r = variableRef(static_cast<const NameExpr *>(a), caller, true)) {
                    bound[i] = r;
                    continue;
                }
            } else if (a->kind == EK::Call) {
                auto *c = static_cast<const CallExpr *>(a);
                if (c->target->kind == EK::Name && !c->args.empty()) {
                    auto *n = static_cast<const NameExpr *>(c->target);
                    Variant *r = variableRef(n, caller, true);
                    if (r && r->isArray()) {
                        std::vector<qint32> at = indexes(c->args, caller);
                        r = variableRef(n, caller, true); // the indexes may have run code
                        if (r && r->isArray()) {
                            VbArray &array = r->arrayMut();
                            bound[i] = &array.at(at);
                            store.pin(r->arrayShared());
                            continue;
                        }
                    }
                }
            }
        }
        bound[i] = store.emplace(i, [&] { return evalQuick(a, caller); }, byRef);
    }
    if (extra)
        bound[count - 1] = store.make(count - 1, *extra, !p->params[count - 1].byVal);
    store.makeRest(count, bound);
    return enterProcedure(p, module, me, bound);
}

Variant Interpreter::invokeProcedure(const Procedure *p, ScriptModule *module, ClassInstance *me, Variant **args,
                                     int count, quint64 movable)
{
    checkStack();
    const int vars = p->slotCount;
    CallSlots<8> store{size_t(vars)};
    PointerSlots<Variant, 8> slotSlots{size_t(vars)};
    Variant **slotPtrs = slotSlots.data();
    for (int i = 0; i < vars; ++i) {
        if (i >= count)
            slotPtrs[i] = store.make(size_t(i));
        else if (!p->params[size_t(i)].byVal)
            slotPtrs[i] = args[i];
        else if (i < 64 && (movable >> i) & 1)
            slotPtrs[i] = store.make(size_t(i), std::move(*args[i]));
        else
            slotPtrs[i] = store.make(size_t(i), *args[i]);
    }
    return enterProcedure(p, module, me, slotPtrs);
}

Variant Interpreter::callMeMember(Frame &f, const QString &lower, CallKind kind, const std::vector<Expr *> &args,
                                  const Variant *extra)
{
    if (!f.me)
        throw VbError(VbErr::ObjectRequired);
    return callMemberOf(*f.me, lower, kind, args, f, extra, false);
}

Variant Interpreter::callMemberOf(ClassInstance &self, const QString &lower, CallKind kind,
                                  const std::vector<Expr *> &args, Frame &f, const Variant *extra, bool fromOutside,
                                  MemberCache *cache)
{
    if (self.orphaned())
        throw VbError(VbErr::ObjectVariableNotSet);
    MemberTarget t = findMember(self, lower, kind, fromOutside, cache, m_generation);
    if (t.field) {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet) {
            Variant value = extra ? *extra : Variant();
            if (kind == CallKind::PropertyLet && value.isObject())
                value = value.defaultValue();
            if (args.empty()) {
                *t.field = std::move(value);
            } else if (t.field->isArray()) {
                std::vector<qint32> at = indexes(args, f);
                t.field->arrayMut().at(at) = std::move(value);
            } else if (t.field->isObject()) {
                callObject(objectOf(*t.field), QString(), kind, args, f, &value);
            } else {
                throw VbError(VbErr::TypeMismatch);
            }
            return Variant();
        }
        return indexValue(*t.field, args, f);
    }
    // The caller holds the object: callObject a reference of its own, Me's
    // procedures the call that runs them.
    return callUser(t.procedure, self.module(), &self, args, f, extra);
}

Variant Interpreter::invokeMember(ClassInstance &self, const QString &name, CallKind kind, std::vector<Variant> &args)
{
    Entry entry(*this);
    MemberTarget t = findMember(self, Latin1Case::lower(name), kind, true);
    if (t.field) {
        if (kind == CallKind::PropertyLet || kind == CallKind::PropertySet) {
            if (args.empty())
                throw VbError(VbErr::WrongArgumentCount);
            Variant value = args.back();
            if (kind == CallKind::PropertyLet && value.isObject())
                value = value.defaultValue();
            if (args.size() == 1) {
                *t.field = std::move(value);
                return Variant();
            }
            std::vector<qint32> at;
            for (size_t i = 0; i + 1 < args.size(); ++i)
                at.push_back(args[i].toLong());
            if (!t.field->isArray())
                throw VbError(VbErr::TypeMismatch);
            t.field->arrayMut().at(at) = std::move(value);
            return Variant();
        }
        if (args.empty())
            return *t.field;
        if (t.field->isArray()) {
            std::vector<qint32> at;
            for (const Variant &a : args)
                at.push_back(a.toLong());
            return t.field->array().at(at);
        }
        ObjectPtr target = objectOf(*t.field);
        return target->invoke(QString(), kind, args);
    }
    if (args.size() != t.procedure->params.size())
        throw VbError(VbErr::WrongArgumentCount);
    std::vector<Variant *> ptrs;
    ptrs.reserve(args.size());
    for (Variant &a : args)
        ptrs.push_back(&a);
    auto keep = self.self();
    return invokeProcedure(t.procedure, self.module(), &self, ptrs.data(), int(ptrs.size()));
}

Variant Interpreter::callObject(const ObjectPtr &object, const QString &name, CallKind kind,
                                const std::vector<Expr *> &args, Frame &f, const Variant *extra, const MemberExpr *site)
{
    // The object may be read in place from a variable that the arguments or
    // the member itself assign: hold it for the call.
    ObjectPtr keep = object;
    Object *raw = keep.get();
    if (typeid(*raw) == typeid(ClassInstance)) {
        auto *instance = static_cast<ClassInstance *>(raw);
        if (instance->m_engineId == this) {
            if (site)
                return callMemberOf(*instance, site->lower, kind, args, f, extra, true, &site->cache);
            return callMemberOf(*instance, Latin1Case::lower(name), kind, args, f, extra, true);
        }
    }
    std::vector<Variant> values;
    values.reserve(args.size() + 1);
    for (const Expr *a : args)
        values.push_back(eval(a, f));
    if (extra)
        values.push_back(*extra);
    Variant result = raw->invoke(name, kind, values);
    // Arguments are passed by reference: what the member left in them goes
    // back into the caller's variables.
    for (size_t i = 0; i < args.size(); ++i) {
        if (!isVariable(args[i]))
            continue;
        if (Variant *r = variableRef(static_cast<const NameExpr *>(args[i]), f, true))
            *r = std::move(values[i]);
    }
    return result;
}

Variant Interpreter::callBuiltin(const Builtin *b, const std::vector<Expr *> &args, Frame &f)
{
    if (int(args.size()) < b->minArgs || int(args.size()) > b->maxArgs)
        throw VbError(VbErr::WrongArgumentCount);
    std::vector<Variant> values;
    values.reserve(args.size());
    for (const Expr *a : args) {
        Variant v = eval(a, f);
        values.push_back(v.isObject() && v.rawObject() && b->maxArgs >= 0 ? std::move(v) : std::move(v));
    }
    return b->fn(*this, f, values);
}

ObjectPtr Interpreter::getRef(Frame &f, const QString &name)
{
    QString lower = Latin1Case::lower(name);
    ScriptModule *owner = f.module;
    const Procedure *p = owner->findProcedure(lower);
    if (!p) {
        owner = globalModule().get();
        p = owner->findProcedure(lower);
    }
    if (!p)
        throw VbError(VbErr::InvalidProcedureCall);
    auto module = std::static_pointer_cast<ScriptModule>(owner->shared_from_this());
    return std::make_shared<ProcRef>(weak_from_this(), module, p, module->programOf(p));
}
