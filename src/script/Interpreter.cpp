#include "Interpreter.h"

#include <utility>
#include "InterpreterEntry.h"

#include "MemoryBudget.h"
#include "Operators.h"
#include "Parser.h"

#include "automation/Latin1Case.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <limits>
#include <optional>

#include <sys/resource.h>

namespace {

size_t stackBudget()
{
    rlimit rl{};
    size_t size = 8u << 20;
    if (getrlimit(RLIMIT_STACK, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur > 0)
        size = std::min<size_t>(size_t(rl.rlim_cur), 64u << 20);
    // Half the stack: the host's own frames and the sanitizers' redzones need the rest.
    return size / 2;
}
} // namespace

Interpreter::Interpreter()
    : m_err(std::make_shared<ErrObject>())
    , m_error(std::make_shared<ScriptError>())
    , m_stackBudget(stackBudget())
{
    MemoryBudget::setLongWorkCheck(&Interpreter::checkLongWork);
}

Interpreter::~Interpreter()
{
    m_tearingDown = true;
    releaseScriptObjects();
    for (const ScriptModulePtr &m : m_modules)
        m->end();
    m_modules.clear();
    m_items.clear();
    dropPendingTerminates();
}

void Interpreter::dropPendingTerminates() noexcept
{
    // Releasing one may queue more (its fields' objects): never destroy inside the queue itself.
    while (!m_pendingTerminates.empty()) {
        auto batch = std::move(m_pendingTerminates);
        m_pendingTerminates.clear();
        batch.clear();
    }
}

void Interpreter::deferTerminate(std::shared_ptr<ClassInstance> owner)
{
    m_pendingTerminates.push_back(std::move(owner));
    if (m_entryDepth > 0 || m_runningTerminates || m_terminatesPosted)
        return;
    // Dropped by the host outside any run: the host may be in the middle of changing the
    // container that held it, so the terminates run once control is back in the event loop.
    if (auto *app = QCoreApplication::instance()) {
        m_terminatesPosted = true;
        QMetaObject::invokeMethod(
            app,
            [weak = weak_from_this()] {
                if (auto engine = weak.lock()) {
                    engine->m_terminatesPosted = false;
                    engine->runPendingTerminates();
                }
            },
            Qt::QueuedConnection);
    } else {
        runPendingTerminates(); // no event loop to come back to
    }
}

void Interpreter::runPendingTerminates() noexcept
{
    // A terminate's own releases join the queue this loop is taking.
    if (m_runningTerminates || m_pendingTerminates.empty())
        return;
    m_runningTerminates = true;
    {
        // Outside a run this entry is the one time-out every waiting terminate shares.
        Entry entry(*this);
        while (!m_pendingTerminates.empty()) {
            auto owner = std::move(m_pendingTerminates.front());
            m_pendingTerminates.pop_front();
            runTerminate(*owner, owner);
        }
        m_runningTerminates = false;
    }
}

void Interpreter::releaseScriptObjects()
{
    // Objects of script classes hold their module: release them first. A
    // Class_Terminate may store new objects again; a few passes take those.
    // The teardown is one run: its terminates share one time-out and end at a stop.
    if (!m_tearingDown) {
        Entry entry(*this);
        for (int pass = 0; pass < 4 && !runOver(); ++pass) {
            for (const auto &m : std::vector<ScriptModulePtr>(m_modules))
                m->releaseValues();
            runPendingTerminates();
        }
    }
    // What is left was stored by a Class_Terminate that keeps doing so, or
    // lives in a cycle of objects referring to each other: empty them all
    // without running more script.
    const bool wasTearingDown = m_tearingDown;
    m_tearingDown = true;
    for (const auto &m : std::vector<ScriptModulePtr>(m_modules))
        m->releaseValues();
    for (const auto &weak : std::vector<std::weak_ptr<ClassInstance>>(m_instances))
        if (auto instance = weak.lock())
            instance->releaseFields();
    m_instances.clear();
    m_tracked.clear();
    m_tearingDown = wasTearingDown;
}

void Interpreter::track(const std::shared_ptr<ClassInstance> &instance)
{
    if (m_instances.size() >= m_pruneAt) {
        std::erase_if(m_instances, [](const std::weak_ptr<ClassInstance> &w) { return w.expired(); });
        m_pruneAt = std::max<size_t>(64, m_instances.size() * 2);
    }
    m_instances.push_back(instance);
    // Each entry keeps its object's count block until the next prune, also once the object
    // is gone: a storm of Class_Terminate making objects leaves as many of those as objects.
    constexpr qint64 kCountBlockBytes = 64;
    const qint64 held = qint64(m_instances.capacity()) * qint64(sizeof(std::weak_ptr<ClassInstance>))
        + qint64(m_instances.size()) * kCountBlockBytes;
    if (held > m_tracked.bytes())
        m_tracked.add(held - m_tracked.bytes());
    else
        m_tracked.recount(held);
}

void Interpreter::addObject(const QString &name, const ObjectPtr &object, bool addMembers)
{
    if (!object)
        throw VbError(VbErr::InvalidProcedureCall);
    for (const HostItem &item : m_items)
        if (item.name.compare(name, Qt::CaseInsensitive) == 0)
            throw VbError(VbErr::DuplicateKey);
    m_items.push_back({Latin1Case::lower(name), object, addMembers});
    ++m_generation;
}

void Interpreter::reset()
{
    // The script's objects go first, while their Class_Terminate can still run.
    releaseScriptObjects();
    m_tearingDown = true;
    for (const ScriptModulePtr &m : m_modules)
        m->end();
    m_modules.clear();
    m_items.clear();
    m_tearingDown = false;
    m_err->clear();
    m_error->clear();
    ++m_generation;
}

ScriptModulePtr Interpreter::globalModule()
{
    if (m_modules.empty() || m_modules.front()->name() != QLatin1String("Global"))
        m_modules.insert(m_modules.begin(), std::make_shared<ScriptModule>(QStringLiteral("Global"), weak_from_this()));
    return m_modules.front();
}

ScriptModulePtr Interpreter::addModule(const QString &name)
{
    globalModule();
    auto fresh = std::make_shared<ScriptModule>(name, weak_from_this());
    for (auto &m : m_modules) {
        if (m->name().compare(name, Qt::CaseInsensitive) == 0) {
            // An object of the old module that the host still keeps holds that module: its
            // variables go now, or an object in one of them would keep both for ever.
            const ScriptModulePtr old = std::exchange(m, fresh);
            ++m_generation;
            old->releaseValues();
            return fresh;
        }
    }
    m_modules.push_back(fresh);
    return fresh;
}

ScriptModulePtr Interpreter::module(const QString &name) const
{
    for (const auto &m : m_modules)
        if (m->name().compare(name, Qt::CaseInsensitive) == 0)
            return m;
    return nullptr;
}

// ------------------------------------------------------------- entry points

void Interpreter::runTopLevel(ScriptModule &module, const ProgramPtr &program)
{
    Frame f;
    f.module = &module;
    f.optionExplicit = program->optionExplicit;
    for (const ConstStmt *c : program->consts)
        execConst(c, f);
    execBlock(program->top, f);
}

void Interpreter::addCode(ScriptModule &module, const QString &code, bool programsOwnText)
{
    auto keep = module.shared_from_this();
    Entry entry(*this);
    entry.guard([&] {
        ProgramPtr program;
        {
            // The user's script file read by the program must load whatever scripts keep
            // beyond their runs (saved variables, records, settings): a full budget would
            // otherwise leave no script to run, with nothing the user could do but restart.
            // What it holds is still counted, and its own code is refused as any script's.
            std::optional<MemoryBudget::OwnWork> own;
            if (programsOwnText)
                own.emplace();
            program = Parser(code).parseProgram();
            module.adopt(program);
        }
        ++m_generation;
        runTopLevel(module, program);
    });
}

Variant Interpreter::run(ScriptModule &module, const QString &procedure, std::vector<Variant> &args)
{
    auto keep = module.shared_from_this();
    Entry entry(*this);
    return entry.guard([&] {
        QString lower = Latin1Case::lower(procedure);
        ScriptModule *owner = &module;
        const Procedure *p = module.findProcedure(lower);
        if (!p) {
            owner = globalModule().get();
            p = owner->findProcedure(lower);
        }
        if (!p)
            throw VbError(35, QStringLiteral("Sub or Function not defined"), runtimeErrorSource());
        return callProcedureRef(*owner, *p, args);
    });
}

Variant Interpreter::eval(ScriptModule &module, const QString &expression)
{
    auto keep = module.shared_from_this();
    Entry entry(*this);
    return entry.guard([&] {
        ProgramPtr program = Parser(expression).parseExpressionOnly();
        Frame f;
        f.module = &module;
        return eval(program->expression, f);
    });
}

void Interpreter::executeStatement(ScriptModule &module, const QString &statement)
{
    addCode(module, statement);
}

Variant Interpreter::callProcedureRef(ScriptModule &module, const Procedure &procedure, std::vector<Variant> &args)
{
    Entry entry(*this);
    if (args.size() != procedure.params.size())
        throw VbError(VbErr::WrongArgumentCount);
    std::vector<Variant *> ptrs;
    ptrs.reserve(args.size());
    for (Variant &a : args)
        ptrs.push_back(&a);
    return invokeProcedure(&procedure, &module, nullptr, ptrs.data(), int(ptrs.size()));
}

void Interpreter::runTerminate(ClassInstance &self, const std::shared_ptr<ClassInstance> &owner) noexcept
{
    // A terminate that makes objects whose terminates make more would never end: past the
    // time-out no more of them run, and the run they are part of ends at its next check.
    if (!terminateRuns(self))
        return;
    try {
        track(owner);
        Entry entry(*this);
        int line = m_line, column = m_column;
        invokeProcedure(self.definition()->terminate, self.module(), &self, nullptr, 0);
        m_line = line;
        m_column = column;
    } catch (const ScriptAbort &) {
        // Nowhere to throw it from a release; the run's next statement meets it again.
        s_checkDeadlineNow = true;
    } catch (...) {
        // An error in Class_Terminate has nowhere to go.
    }
}

// ------------------------------------------------------------- statements

std::vector<std::chrono::steady_clock::time_point> &Interpreter::runningDeadlines()
{
    static std::vector<std::chrono::steady_clock::time_point> deadlines;
    return deadlines;
}

std::chrono::steady_clock::time_point Interpreter::activeDeadline()
{
    const auto &deadlines = runningDeadlines();
    return deadlines.empty() ? std::chrono::steady_clock::time_point::max() : deadlines.back();
}

bool Interpreter::scriptCodeRunning()
{
    return !runningDeadlines().empty();
}

void Interpreter::checkDeadline()
{
    checkLongWork();
}

bool Interpreter::runOver()
{
    if (runningDeadlines().empty())
        return false;
    // The innermost run's deadline is never later than an outer one's; a stop ends every run.
    return s_stopRequested || std::chrono::steady_clock::now() > activeDeadline();
}

void Interpreter::checkLongWork()
{
    s_checkDeadlineNow = s_stopRequested.load();
    if (runOver()) {
        // Every check from here on looks again, until the run has ended: whatever swallows
        // this one (a release running Class_Terminate) cannot keep the run going.
        s_checkDeadlineNow = true;
        throw ScriptAbort{ScriptAbort::Timeout, 0};
    }
}

void Interpreter::outOfStack()
{
    throw VbError(VbErr::OutOfStackSpace);
}

void Interpreter::trap(const VbError &e, Frame &)
{
    VbError copy = e;
    if (copy.source.isEmpty())
        copy.source = runtimeErrorSource();
    m_err->set(copy);
}

inline Flow Interpreter::exec(const Stmt *s, Frame &f, const Block **tail)
{
    m_line = s->line;
    m_column = s->column;
    tick();
    switch (s->kind) {
    case SK::Call:
        execCall(static_cast<const CallStmt *>(s), f);
        return Flow::Normal;
    case SK::Assign: {
        // A plain value into a local: the commonest statement, run without a call of its own.
        auto *a = static_cast<const AssignStmt *>(s);
        if (!a->appendsToTarget && !a->isSet && a->target->kind == EK::Name) {
            const NameBinding &b = static_cast<const NameExpr *>(a->target)->bind;
            if (b.kind == RefKind::Local) {
                // An operator on calls (a recursive function's result) is worked out in this
                // frame: one frame less per level of the recursion.
                const BinaryExpr *both = bothOperandsMade(a->value);
                Variant v = both ? evalBoth(both, f) : evalQuick(a->value, f);
                if (v.isObject()) [[unlikely]]
                    v = v.defaultValue();
                *f.vars[b.slot] = std::move(v);
                return Flow::Normal;
            }
        }
        execAssign(a, f);
        return Flow::Normal;
    }
    case SK::Dim:
        execDim(static_cast<const DimStmt *>(s)->vars, f, false, false);
        return Flow::Normal;
    case SK::ReDim: {
        auto *r = static_cast<const ReDimStmt *>(s);
        execDim(r->vars, f, true, r->preserve);
        return Flow::Normal;
    }
    case SK::Const:
        execConst(static_cast<const ConstStmt *>(s), f);
        return Flow::Normal;
    case SK::If:
        if (tail) {
            *tail = &ifBranch(static_cast<const IfStmt *>(s), f);
            return Flow::Normal;
        }
        return execBlock(ifBranch(static_cast<const IfStmt *>(s), f), f);
    case SK::Select:
        return execSelect(static_cast<const SelectStmt *>(s), f);
    case SK::For:
        return execFor(static_cast<const ForStmt *>(s), f);
    case SK::ForEach:
        return execForEach(static_cast<const ForEachStmt *>(s), f);
    case SK::Do:
        return execDo(static_cast<const DoStmt *>(s), f);
    case SK::Exit:
        switch (static_cast<const ExitStmt *>(s)->what) {
        case ExitWhat::Do: return Flow::ExitDo;
        case ExitWhat::For: return Flow::ExitFor;
        case ExitWhat::Procedure: return Flow::ExitProcedure;
        }
        return Flow::Normal;
    case SK::OnError:
        f.resumeNext = static_cast<const OnErrorStmt *>(s)->resumeNext;
        m_err->clear();
        return Flow::Normal;
    case SK::With:
        return execWith(static_cast<const WithStmt *>(s), f);
    case SK::Erase:
        execErase(static_cast<const EraseStmt *>(s), f);
        return Flow::Normal;
    case SK::Nop:
        return Flow::Normal;
    }
    return Flow::Normal;
}

// A statement's header fails under On Error Resume Next: VBScript goes on
// with the next statement, which is the first one of the header's block.
template<class F>
inline bool Interpreter::headerFails(Frame &f, F &&header)
{
    if (!f.resumeNext) {
        header();
        return false;
    }
    try {
        header();
        return false;
    } catch (const VbError &e) {
        trap(e, f);
        return true;
    }
}

inline const Block &Interpreter::ifBranch(const IfStmt *s, Frame &f)
{
    for (const auto &[cond, body] : s->branches) {
        if (!f.resumeNext) {
            if (truth(cond, f))
                return body;
            continue;
        }
        bool taken = false;
        if (headerFails(f, [&] { taken = truth(cond, f); }) || taken)
            return body;
    }
    return s->elseBody;
}

Flow Interpreter::execBlock(const Block &block, Frame &f)
{
    checkStack();
    const Stmt *const *next = block.data();
    const Stmt *const *end = next + block.size();
    while (next != end) {
        const Stmt *s = *next++;
        // An If that ends the block hands back its branch, walked on in this frame: the If is
        // over when its branch is, as when the branch ran in a frame of its own.
        const Block *branch = nullptr;
        const Block **tail = next == end ? &branch : nullptr;
        Flow flow;
        if (!f.resumeNext) {
            flow = exec(s, f, tail);
        } else {
            try {
                flow = exec(s, f, tail);
            } catch (const VbError &e) {
                trap(e, f);
                continue;
            } catch (const std::bad_alloc &) {
                // The memory the statement asked for is not there: a run error of that statement.
                trap(VbError(VbErr::OutOfMemory, VbError::standardDescription(VbErr::OutOfMemory)), f);
                continue;
            }
        }
        if (branch) {
            // What the header released waits for the branch's first statement, as it did.
            next = branch->data();
            end = next + branch->size();
            continue;
        }
        if (!m_pendingTerminates.empty())
            runPendingTerminates();
        if (flow != Flow::Normal)
            return flow;
    }
    // An empty branch, or an If whose header failed on the way to one: released values go now.
    if (!m_pendingTerminates.empty())
        runPendingTerminates();
    return Flow::Normal;
}

Flow Interpreter::execSelect(const SelectStmt *s, Frame &f)
{
    Variant subject;
    if (headerFails(f, [&] { subject = eval(s->subject, f); }))
        return execBlock(s->cases.empty() ? s->elseBody : s->cases.front().body, f);
    for (const CaseClause &c : s->cases) {
        for (const Expr *e : c.values) {
            bool matched = false;
            const bool failed = headerFails(f, [&] {
                Variant r = Operators::comparison(Op::Eq, subject, eval(e, f));
                matched = r.type() == Variant::Boolean && r.rawBool();
            });
            if (failed || matched)
                return execBlock(c.body, f);
        }
    }
    return execBlock(s->elseBody, f);
}

// The body of a loop whose header failed under On Error Resume Next runs
// once; then its Next fails too, with `error`.
Flow Interpreter::runUninitialisedLoop(const Block &body, Frame &f, qint32 error)
{
    const Flow flow = execBlock(body, f);
    if (flow == Flow::ExitFor)
        return Flow::Normal;
    if (flow != Flow::Normal)
        return flow;
    throw VbError(error);
}

Flow Interpreter::execFor(const ForStmt *s, Frame &f)
{
    Variant from, to, step;
    Variant *var = nullptr;
    bool up = true;
    if (headerFails(f, [&] {
            from = Operators::operand(eval(s->from, f));
            to = Operators::operand(eval(s->to, f));
            step = s->step ? Operators::operand(eval(s->step, f)) : Variant::fromInteger(1);
            if (from.isNull() || to.isNull() || step.isNull())
                throw VbError(VbErr::InvalidUseOfNull);
            if (from.isString())
                from = Variant(from.toDouble());
            to = to.isString() ? Variant(to.toDouble()) : to;
            step = step.isString() ? Variant(step.toDouble()) : step;
            up = step.toDouble() >= 0;
            var = variableRef(s->var, f, true);
            if (!var)
                throw VbError(VbErr::IllegalAssignment);
            *var = from;
        }))
        return runUninitialisedLoop(s->body, f, VbErr::ForLoopNotInitialized);
    // Whole-number bounds: compare without building Variants.
    const bool whole = (to.type() == Variant::Integer || to.type() == Variant::Long || to.type() == Variant::Byte)
        && (step.type() == Variant::Integer || step.type() == Variant::Long || step.type() == Variant::Byte);
    const qint64 toWhole = whole ? qint64(to.toLong()) : 0;
    while (true) {
        var = variableRef(s->var, f, true);
        if (whole && (var->type() == Variant::Integer || var->type() == Variant::Long)) {
            qint64 i = var->type() == Variant::Integer ? var->rawInteger() : var->rawLong();
            if (up ? i > toWhole : i < toWhole)
                break;
        } else {
            int c = Operators::compare(*var, to);
            if (up ? c > 0 : c < 0)
                break;
        }
        Flow flow = execBlock(s->body, f);
        if (flow == Flow::ExitFor)
            break;
        if (flow != Flow::Normal)
            return flow;
        var = variableRef(s->var, f, true);
        *var = Operators::wholeOrBinary(Op::Add, *var, step);
        tick();
    }
    return Flow::Normal;
}

Flow Interpreter::execForEach(const ForEachStmt *s, Frame &f)
{
    // The loop walks a copy of the group (the body may change or erase the array), held
    // for the whole loop and by every level of a recursion inside it: it is charged.
    MemoryBudget::Held copy;
    std::vector<Variant> items;
    if (headerFails(f, [&] {
            Variant group = eval(s->group, f);
            if (group.isArray()) {
                copy.add(qint64(group.array().size()) * qint64(sizeof(Variant)));
                items = group.array().data();
            } else if (group.isObject()) {
                ObjectPtr o = objectOf(group);
                if (!o->enumerate(items))
                    throw VbError(VbErr::NotACollection);
                copy.add(qint64(items.size()) * qint64(sizeof(Variant)));
            } else {
                throw VbError(VbErr::NotACollection);
            }
        }))
        return runUninitialisedLoop(s->body, f, VbErr::NotACollection);
    for (Variant &item : items) {
        Variant *var = variableRef(s->var, f, true);
        if (!var)
            throw VbError(VbErr::IllegalAssignment);
        *var = std::move(item);
        Flow flow = execBlock(s->body, f);
        if (flow == Flow::ExitFor)
            return Flow::Normal;
        if (flow != Flow::Normal)
            return flow;
    }
    // A loop that ran to its end leaves its variable Empty.
    if (!items.empty())
        if (Variant *var = variableRef(s->var, f, true))
            *var = Variant();
    return Flow::Normal;
}

Flow Interpreter::execDo(const DoStmt *s, Frame &f)
{
    while (true) {
        if (s->cond && s->condAtTop) {
            bool holds = false;
            if (!headerFails(f, [&] { holds = truth(s->cond, f); }) && holds == s->until)
                break;
        }
        Flow flow = execBlock(s->body, f);
        if (flow == Flow::ExitDo && !s->wend)
            break;
        if (flow != Flow::Normal)
            return flow;
        if (s->cond && !s->condAtTop && truth(s->cond, f) == s->until)
            break;
        tick();
    }
    return Flow::Normal;
}

Flow Interpreter::execWith(const WithStmt *s, Frame &f)
{
    // A failed header leaves the block without an object: its members fail.
    Variant object;
    headerFails(f, [&] {
        object = eval(s->object, f);
        if (!object.isObject())
            throw VbError(VbErr::ObjectRequired);
    });
    f.withStack.push_back(std::move(object));
    struct Pop {
        Frame &f;
        ~Pop() { f.withStack.pop_back(); }
    } pop{f};
    return execBlock(s->body, f);
}

void Interpreter::execCall(const CallStmt *s, Frame &f)
{
    callTarget(s->callee, s->args, f, true);
}

void Interpreter::execAssign(const AssignStmt *s, Frame &f)
{
    if (s->appendsToTarget) {
        // s = s & x: append in place instead of copying s every time.
        auto *b = static_cast<const BinaryExpr *>(s->value);
        Variant right = eval(b->right, f);
        Variant *target = variableRef(static_cast<const NameExpr *>(s->target), f, true);
        if (target && target->isString() && !right.isNull() && !right.isArray()) {
            const QString tail = right.isString() ? right.rawString() : Operators::operand(right).toString();
            // The string may move to a block of twice its size: both are held for a moment.
            MemoryBudget::checkString(qint64(target->rawString().size()) + tail.size());
            target->appendString(tail);
            return;
        }
        Variant left = eval(b->left, f);
        assignTo(s->target, Operators::concat(left, right), f, false);
        return;
    }
    Variant v = eval(s->value, f);
    if (s->isSet) {
        if (!v.isObject())
            throw VbError(VbErr::ObjectRequired);
    } else if (v.isObject()) {
        v = v.defaultValue();
    }
    if (s->target->kind == EK::Name) {
        const NameBinding &b = static_cast<const NameExpr *>(s->target)->bind;
        if (b.kind == RefKind::Local) {
            *f.vars[b.slot] = std::move(v);
            return;
        }
    }
    assignTo(s->target, std::move(v), f, s->isSet);
}

void Interpreter::execDim(const std::vector<DimVar> &vars, Frame &f, bool redim, bool preserve)
{
    for (const DimVar &v : vars) {
        Variant *r = variableRef(v.name, f, true);
        if (!r)
            throw VbError(VbErr::IllegalAssignment);
        if (!v.isArray)
            continue;
        if (!redim && v.bounds.empty()) {
            if (!r->isArray())
                *r = Variant::fromArray(std::make_shared<VbArray>());
            continue;
        }
        if (!redim && r->isArray() && r->array().dimensions() > 0)
            continue; // a Dim met again (in a loop) keeps its array
        std::vector<VbArray::Bound> bounds;
        qint64 elements = 1;
        for (const Expr *e : v.bounds) {
            qint32 upper = Operators::operand(eval(e, f)).toLong();
            if (upper < -1)
                throw VbError(VbErr::SubscriptOutOfRange);
            bounds.push_back({0, upper + 1});
            elements = std::min<qint64>(elements * (qint64(upper) + 1), std::numeric_limits<qint32>::max() * 2LL);
        }
        MemoryBudget::checkArray(elements);
        r = variableRef(v.name, f, true);
        if (!redim) {
            VbArray a(std::move(bounds));
            a.fixed = true;
            *r = Variant(std::move(a));
            continue;
        }
        if (r->isArray() && (r->array().fixed || r->array().pinned()))
            throw VbError(VbErr::ArrayFixedOrLocked);
        if (preserve && r->isArray() && r->array().dimensions() > 0)
            r->arrayMut().resizePreserve(std::move(bounds));
        else
            *r = Variant(VbArray(std::move(bounds)));
    }
}

void Interpreter::execConst(const ConstStmt *s, Frame &f)
{
    for (const auto &[name, value] : s->items) {
        Variant v = eval(value, f);
        Variant *r = variableRef(name, f, true);
        if (!r)
            throw VbError(VbErr::IllegalAssignment);
        *r = std::move(v);
    }
}

void Interpreter::execErase(const EraseStmt *s, Frame &f)
{
    Variant *r = variableRef(s->target, f, true);
    if (!r || !r->isArray())
        throw VbError(VbErr::TypeMismatch);
    if (r->array().pinned())
        throw VbError(VbErr::ArrayFixedOrLocked);
    if (r->array().fixed) {
        for (Variant &v : r->arrayMut().data())
            v = Variant();
    } else {
        *r = Variant::fromArray(std::make_shared<VbArray>());
    }
}

// ------------------------------------------------------- Execute and Eval

Variant Interpreter::evalText(Frame &frame, const QString &text)
{
    ProgramPtr program = Parser(text, frame.proc, frame.me ? frame.me->definition() : nullptr).parseExpressionOnly();
    if (frame.proc && !frame.execLocals)
        frame.execLocals = std::make_shared<ExecLocals>();
    Frame f = frame;
    f.resumeNext = false;
    return eval(program->expression, f);
}

void Interpreter::executeText(Frame &frame, const QString &text, bool global)
{
    if (global || !frame.proc) {
        ProgramPtr program = Parser(text).parseProgram();
        frame.module->adopt(program);
        ++m_generation;
        if (global)
            runTopLevel(*frame.module, program);
        else
            runInScope(frame, *program); // module-level Execute: the global scope, the caller's error mode
        return;
    }
    // Inside a procedure the text runs in the procedure's own scope: what it
    // declares is local to this activation; procedures and classes it
    // defines belong to the module.
    ProgramPtr program = Parser(text, frame.proc, frame.me ? frame.me->definition() : nullptr).parseProgram();
    if (!program->procedures.empty() || !program->classes.empty()) {
        frame.module->adopt(program);
        ++m_generation;
    }
    if (!frame.execLocals)
        frame.execLocals = std::make_shared<ExecLocals>();
    for (const QString &name : program->localNames)
        if (!frame.proc->locals.contains(name))
            frameLocal(frame, name, true);
    runInScope(frame, *program);
}

void Interpreter::runInScope(Frame &frame, const Program &program)
{
    // The text's errors go to its caller's statement, whatever the caller's error mode.
    Frame f = frame;
    f.resumeNext = false;
    f.optionExplicit = program.optionExplicit || frame.optionExplicit;
    for (const ConstStmt *c : program.consts)
        execConst(c, f);
    execBlock(program.top, f);
}

void Interpreter::showText(const QString &text)
{
    if (uiLog)
        uiLog(text);
    else
        fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}
