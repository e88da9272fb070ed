#pragma once

#include "Ast.h"
#include "ClassInstance.h"
#include "ErrObject.h"
#include "Operators.h"
#include "ScriptError.h"
#include "ScriptModule.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

// Ends a whole run, through any On Error Resume Next: the script's time-out,
// or a host's request to quit (the test runner's WScript.Quit).
struct ScriptAbort {
    enum Reason { Timeout, Quit } reason = Timeout;
    int exitCode = 0;
};

// The locals that text run by Execute added to a procedure's activation,
// by name. A name the procedure's body also uses lives in the body's slot.
struct ExecLocals {
    QHash<QString, Variant *> names;
    std::deque<Variant> owned; // a deque: the pointers stay valid as it grows
    MemoryBudget::Held held;   // the names and slots above: Execute in a loop adds without end
};

// One activation: module-level code, a procedure, or text run by Execute.
struct Frame {
    ScriptModule *module = nullptr;
    const Procedure *proc = nullptr;
    ClassInstance *me = nullptr;
    Variant **vars = nullptr;
    bool resumeNext = false;
    bool optionExplicit = false;
    std::vector<Variant> withStack;
    std::shared_ptr<ExecLocals> execLocals; // shared with the frames of the Execute texts
};

enum class Flow : quint8 { Normal, ExitDo, ExitFor, ExitProcedure };

// The tree-walking evaluator and the state the scripts share: modules, the
// objects the host added, Err, the time-out and the nesting depth. Every entry
// point may be called again from a host member while a script runs.
class Interpreter : public std::enable_shared_from_this<Interpreter>
{
public:
    static constexpr qint32 TimeoutError = -2147467260; // E_ABORT: the run was stopped

    Interpreter();
    ~Interpreter();

    // Host set-up.
    void addObject(const QString &name, const ObjectPtr &object, bool addMembers);
    void reset();
    ScriptModulePtr globalModule();
    ScriptModulePtr addModule(const QString &name); // a fresh module, replacing one of that name
    ScriptModulePtr module(const QString &name) const;
    const std::vector<ScriptModulePtr> &modules() const { return m_modules; }
    ErrObject &err() { return *m_err; }
    const std::shared_ptr<ErrObject> &errObject() const { return m_err; }
    const std::shared_ptr<ScriptError> &error() const { return m_error; }

    int timeout = 10000;   // ms; <= 0: none
    bool allowUI = true;
    std::function<void(const QString &)> uiLog; // MsgBox/InputBox texts

    // Entry points: raise VbError (also recorded in error()) or ScriptAbort(Quit).
    void addCode(ScriptModule &module, const QString &code, bool programsOwnText = false);
    Variant run(ScriptModule &module, const QString &procedure, std::vector<Variant> &args);
    Variant eval(ScriptModule &module, const QString &expression);
    void executeStatement(ScriptModule &module, const QString &statement);

    // Calls coming from objects.
    Variant invokeMember(ClassInstance &self, const QString &name, CallKind kind, std::vector<Variant> &args);
    Variant callProcedureRef(ScriptModule &module, const Procedure &procedure, std::vector<Variant> &args);
    // Class_Terminate, with the object's new owner: runs no script once the run is over its time-out or stopping.
    void runTerminate(ClassInstance &self, const std::shared_ptr<ClassInstance> &owner) noexcept;
    // An object whose last reference went: its Class_Terminate waits until the operation that
    // released it is over (a container the terminate changes may still be walking its storage).
    void deferTerminate(std::shared_ptr<ClassInstance> owner);
    // Runs the waiting terminates: between statements, when the outermost entry leaves, or (for
    // objects the host dropped outside any run) from the event loop, all under one time-out.
    void runPendingTerminates() noexcept;
    bool terminateRuns(const ClassInstance &self) const
    {
        return !m_tearingDown && self.definition()->terminate && !self.orphaned() && !runOver();
    }
    void track(const std::shared_ptr<ClassInstance> &instance); // a new object of a script class

    // For built-ins.
    Variant evalText(Frame &frame, const QString &text);
    void executeText(Frame &frame, const QString &text, bool global);
    ObjectPtr getRef(Frame &frame, const QString &name);
    void showText(const QString &text);
    quint64 generation() const { return m_generation; }
    void bumpGeneration() { ++m_generation; }
    // The time-out of the innermost run in progress in any engine; max() when none runs.
    static std::chrono::steady_clock::time_point activeDeadline();
    // Some engine's code is on the stack (a run, or code the host called outside one).
    static bool scriptCodeRunning();
    // The next statement of any engine looks at the clock (a host member waited up to the deadline).
    static void checkDeadlineSoon() { s_checkDeadlineNow = true; }
    // The program is stopping: every run in progress, and any started later, ends at its next
    // statement as at its time-out. Safe to call from a signal handler.
    static void requestStop()
    {
        s_stopRequested = true;
        s_checkDeadlineNow = true;
    }
    static bool stopRequested() { return s_stopRequested; }
    // Built-ins call this every so often inside a long loop: the same check as
    // between statements, so a run ends at its time-out inside one call too.
    static void checkLongWork();
    // Whether the innermost run is past its time-out, or the program is stopping.
    static bool runOver();
    float rndLast = 0;
    quint32 rndSeed = 0x50000;

private:
    class Entry;
    friend class Entry;

    // statements
    Flow execBlock(const Block &block, Frame &f);
    // Inlined into execBlock, which runs every statement.
    // tail: where an If that ends its block leaves the branch it takes, for execBlock to walk
    // in its own frame (a recursive procedure's If then costs no frame per level); null to run it.
    [[gnu::always_inline]] inline Flow exec(const Stmt *s, Frame &f, const Block **tail);
    [[gnu::always_inline]] inline const Block &ifBranch(const IfStmt *s, Frame &f);
    Flow execSelect(const SelectStmt *s, Frame &f);
    Flow execFor(const ForStmt *s, Frame &f);
    Flow execForEach(const ForEachStmt *s, Frame &f);
    Flow execDo(const DoStmt *s, Frame &f);
    Flow execWith(const WithStmt *s, Frame &f);
    void execCall(const CallStmt *s, Frame &f);
    void execAssign(const AssignStmt *s, Frame &f);
    void execDim(const std::vector<DimVar> &vars, Frame &f, bool redim, bool preserve);
    void execConst(const ConstStmt *s, Frame &f);
    void execErase(const EraseStmt *s, Frame &f);
    void runTopLevel(ScriptModule &module, const ProgramPtr &program);
    void releaseScriptObjects();
    void runInScope(Frame &frame, const Program &program); // Execute's text, in its caller's scope
    void trap(const VbError &e, Frame &f);
    template<class F>
    [[gnu::always_inline]] inline bool headerFails(Frame &f, F &&header);
    Flow runUninitialisedLoop(const Block &body, Frame &f, qint32 error);
    // Every 1024th statement or loop turn looks at the clock.
    void tick()
    {
        if ((++m_ticks & 0x3FF) == 0 || s_checkDeadlineNow) [[unlikely]]
            checkDeadline();
    }
    void checkDeadline();
    // The deadlines of the runs in progress in every engine, innermost last.
    static std::vector<std::chrono::steady_clock::time_point> &runningDeadlines();

    // expressions
public:
    Variant eval(const Expr *e, Frame &f);
    // The condition of an If or a loop. A comparison of two whole numbers read in place (a
    // literal or a local) is decided here, without a call and without a Boolean value.
    [[gnu::always_inline]] bool truth(const Expr *e, Frame &f)
    {
        if (e->kind == EK::Binary) {
            auto *b = static_cast<const BinaryExpr *>(e);
            if (b->op >= Op::Eq && b->op <= Op::Ge) {
                const Variant *l = localOrLiteral(b->left, f);
                const Variant *r = l ? localOrLiteral(b->right, f) : nullptr;
                qint64 n = 0;
                if (r && Operators::whole(b->op, *l, *r, n) == Operators::Whole::Boolean)
                    return n != 0;
            }
        }
        return truthOther(e, f);
    }
private:
    bool truthOther(const Expr *e, Frame &f);
    // A literal or a local of the frame, in place: reading it runs no code. Null otherwise.
    static const Variant *localOrLiteral(const Expr *e, Frame &f)
    {
        if (e->kind == EK::Literal)
            return &static_cast<const LiteralExpr *>(e)->value;
        if (e->kind == EK::Name && static_cast<const NameExpr *>(e)->bind.kind == RefKind::Local)
            return f.vars[static_cast<const NameExpr *>(e)->bind.slot];
        return nullptr;
    }
    Variant evalName(const NameExpr *n, Frame &f);
    // A module's procedure that the call names, once its name is known to be one.
    static const Procedure *knownProcedure(const CallExpr *c)
    {
        if (c->target->kind != EK::Name)
            return nullptr;
        const NameBinding &b = static_cast<const NameExpr *>(c->target)->bind;
        return b.kind == RefKind::Dynamic && b.run == RunKind::Global ? *b.globalProcedure : nullptr;
    }
    // eval, with a call of a known procedure made from here: a recursive function then
    // costs one frame less per level.
    [[gnu::always_inline]] Variant evalOperand(const Expr *e, Frame &f)
    {
        if (e->kind == EK::Call) {
            auto *c = static_cast<const CallExpr *>(e);
            if (const Procedure *p = knownProcedure(c)) {
                checkStack();
                return callUser(p, static_cast<const NameExpr *>(c->target)->bind.module, nullptr, c->args, f);
            }
        }
        return eval(e, f);
    }
    // An operator whose right operand may run code (a call): both operands are made where
    // they are kept, and a call of a known procedure is made from here.
    [[gnu::always_inline]] Variant evalBoth(const BinaryExpr *b, Frame &f)
    {
        checkStack();
        const Variant l = evalOperand(b->left, f);
        const Variant r = evalOperand(b->right, f);
        return Operators::wholeOrBinary(b->op, l, r);
    }
    // What evalBoth takes: not the head of a chain that evalChain walks.
    static const BinaryExpr *bothOperandsMade(const Expr *e)
    {
        if (e->kind != EK::Binary)
            return nullptr;
        auto *b = static_cast<const BinaryExpr *>(e);
        return b->left->kind != EK::Binary && !isPlain(b->right) ? b : nullptr;
    }
    // eval, with what needs no call of its own done here: a literal, a local, an operator on
    // two whole numbers read in place; an operator on anything else skips eval's frame.
    [[gnu::always_inline]] Variant evalQuick(const Expr *e, Frame &f)
    {
        if (e->kind == EK::Binary)
            return evalOperator(static_cast<const BinaryExpr *>(e), f);
        if (const Variant *v = localOrLiteral(e, f))
            return *v;
        return evalOperand(e, f);
    }
    // An operator on two whole numbers read in place, with no operand copies and no call.
    // That path goes no deeper, so the stack is checked only on the way into evalBinary.
    [[gnu::always_inline]] Variant evalOperator(const BinaryExpr *b, Frame &f)
    {
        if (const Variant *l = localOrLiteral(b->left, f)) {
            if (const Variant *r = localOrLiteral(b->right, f)) {
                qint64 n = 0;
                if (const Operators::Whole w = Operators::whole(b->op, *l, *r, n); w != Operators::Whole::None)
                    return Operators::wholeValue(w, n);
            }
        }
        checkStack();
        return evalBinary(b, f);
    }
    Variant evalBinary(const BinaryExpr *b, Frame &f);
    Variant evalChain(const BinaryExpr *top, Frame &f);
    static bool isPlain(const Expr *e)
    {
        if (e->kind == EK::Literal)
            return true;
        return e->kind == EK::Name && isPlainName(static_cast<const NameExpr *>(e));
    }
    static bool isPlainName(const NameExpr *n);
    // The value of e, in place when it is a literal or a frame's variable,
    // otherwise evaluated into scratch.
    const Variant &evalRef(const Expr *e, Frame &f, std::optional<Variant> &scratch)
    {
        if (e->kind == EK::Name) {
            const NameBinding &b = static_cast<const NameExpr *>(e)->bind;
            if (b.kind == RefKind::Local)
                return *f.vars[b.slot];
        } else if (e->kind == EK::Literal) {
            return static_cast<const LiteralExpr *>(e)->value;
        }
        return evalRefOther(e, f, scratch);
    }
    const Variant &evalRefOther(const Expr *e, Frame &f, std::optional<Variant> &scratch);
    Variant evalMember(const MemberExpr *m, Frame &f);
    Variant evalCall(const CallExpr *c, Frame &f);
    Variant evalNew(const NewExpr *n, Frame &f);
    Variant withObject(Frame &f);
    // The object of obj.name (or of the With block), in place when obj is a variable.
    const Variant &memberBase(const MemberExpr *m, Frame &f, std::optional<Variant> &scratch);
    const ObjectPtr &objectOf(const Variant &v);
    // The object whose member is called: 424 for Nothing as for any other value.
    const ObjectPtr &memberObject(const Variant &v);
    Variant *variableRef(const NameExpr *n, Frame &f, bool create);
    void resolve(NameExpr *n, Frame &f);
    Variant *frameLocal(Frame &f, const QString &lower, bool create);
    void assignName(const NameExpr *n, Variant &&value, Frame &f, bool isSet, std::vector<Expr *> *indexArgs = nullptr);
    void assignTo(const Expr *target, Variant &&value, Frame &f, bool isSet);
    std::vector<qint32> indexes(const std::vector<Expr *> &args, Frame &f);
    Variant indexValue(const Variant &v, const std::vector<Expr *> &args, Frame &f);

    // calls
    // called: the name is called (a statement, or parentheses after it), not only read.
    Variant callTarget(const Expr *callee, const std::vector<Expr *> &args, Frame &f, bool statement,
                       bool called = false);
    // A variable's value, indexed by args; calling one that holds neither an object nor an
    // array is a type mismatch (what an undefined procedure is at run time).
    Variant calledValue(const Variant &v, const std::vector<Expr *> &args, Frame &f, bool called);
    Variant callUser(const Procedure *p, ScriptModule *module, ClassInstance *me, const std::vector<Expr *> &args,
                     Frame &caller, const Variant *extra = nullptr);
    // callUser's binding of the arguments into the callee's slots (store), then its run.
    template<class Store>
    [[gnu::always_inline]] inline Variant bindAndEnter(Store &store, Variant **bound, const Procedure *p,
                                                       ScriptModule *module, ClassInstance *me,
                                                       const std::vector<Expr *> &args, Frame &caller,
                                                       const Variant *extra);
    // movable: bit i set when args[i] is a value of the call's own, free to be moved.
    Variant invokeProcedure(const Procedure *p, ScriptModule *module, ClassInstance *me, Variant **args, int count,
                            quint64 movable = 0);
    // Runs p's body over its variables, already bound (params first, then the rest).
    [[gnu::always_inline]] inline Variant enterProcedure(const Procedure *p, ScriptModule *module, ClassInstance *me,
                                                         Variant **bound);
    Variant callObject(const ObjectPtr &object, const QString &name, CallKind kind, const std::vector<Expr *> &args,
                       Frame &f, const Variant *extra = nullptr, const MemberExpr *site = nullptr);
    Variant callMeMember(Frame &f, const QString &lower, CallKind kind, const std::vector<Expr *> &args,
                         const Variant *extra = nullptr);
    Variant callMemberOf(ClassInstance &self, const QString &lower, CallKind kind, const std::vector<Expr *> &args,
                         Frame &f, const Variant *extra, bool fromOutside, MemberCache *cache = nullptr);
    Variant callBuiltin(const Builtin *b, const std::vector<Expr *> &args, Frame &f);
    // On every recursive path of the evaluator: one comparison, the throw kept out of line.
    void checkStack()
    {
        if (static_cast<char *>(__builtin_frame_address(0)) < m_stackLimit) [[unlikely]]
            outOfStack();
    }
    [[noreturn]] static void outOfStack();

    std::vector<ScriptModulePtr> m_modules;
    struct HostItem {
        QString name;
        ObjectPtr object;
        bool addMembers = false;
    };
    std::vector<HostItem> m_items;
    std::shared_ptr<ErrObject> m_err;
    std::shared_ptr<ScriptError> m_error;
    quint64 m_generation = 1;

    // Where the running statement is, for error reports.
    int m_line = 0;
    int m_column = 0;
    int m_entryDepth = 0;
    // The lowest address the script's frames may reach; null while no entry runs, so that
    // no frame is ever below it.
    char *m_stackLimit = nullptr;
    size_t m_stackBudget = 0;
    quint32 m_ticks = 0;
    // Atomic, as a stop signal's handler sets them; lock-free, so reading them costs a plain load.
    static inline std::atomic<bool> s_checkDeadlineNow = false;
    static inline std::atomic<bool> s_stopRequested = false;
    std::vector<std::chrono::steady_clock::time_point> m_deadlines;
    bool m_tearingDown = false;
    // Every live object of a script class, so that the end of the engine can
    // break the cycles they form.
    std::vector<std::weak_ptr<ClassInstance>> m_instances;
    size_t m_pruneAt = 64;
    MemoryBudget::Held m_tracked; // the list above
    std::deque<std::shared_ptr<ClassInstance>> m_pendingTerminates;
    bool m_runningTerminates = false;
    bool m_terminatesPosted = false;
    void dropPendingTerminates() noexcept;
};
