#pragma once

#include "Variant.h"

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

// The syntax tree of one piece of compiled text. Nodes live in their Program's
// arena and point at each other with plain pointers.

struct ClassDef;
struct Procedure;
class Object;

struct Node {
    virtual ~Node() = default;
    int line = 0;
    int column = 0;
};

enum class Op : quint8 {
    Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat,
    Eq, Ne, Lt, Gt, Le, Ge, Is,
    And, Or, Xor, Eqv, Imp,
    Neg, Not, Plus,
};

// ----------------------------------------------------------------- names

// Where a name lives, as far as the binder can tell. Names it cannot place are
// Dynamic and are looked up at their first use (then cached).
enum class RefKind : quint8 {
    Dynamic,  // module global, another module's, host item, built-in...
    Local,    // a slot of the procedure's frame
    Field,    // a variable of the class instance (Me)
    MeMember, // a procedure or property of the class
};

// What a Dynamic name turned out to be at run time.
enum class RunKind : quint8 {
    Unresolved,
    Global,     // entry of a module's globals (a variable, or a procedure)
    ImplicitLocal,
    FrameLocal, // a local that Execute made in the procedure it runs in
    Builtin,
    Constant,
    HostItem,   // an object added by name
    HostMember, // a member of an object added with its members
};

struct Builtin;
class ScriptModule;

struct NameBinding {
    RefKind kind = RefKind::Dynamic;
    int slot = -1; // Local/Field slot; for Dynamic in a procedure, the implicit local slot
    bool implicitOk = false; // named by ReDim, which declares even under Option Explicit
    bool frameScoped = false; // in Execute/Eval text inside a procedure: new names are its locals
    // Run-time cache of a Dynamic name.
    RunKind run = RunKind::Unresolved;
    int index = -1;
    ScriptModule *module = nullptr;
    // The Global entry's two fields (module->global(index)), which stay where they are.
    Variant *globalValue = nullptr;
    const Procedure *const *globalProcedure = nullptr;
    const Builtin *builtin = nullptr;
    Object *host = nullptr;
    Variant *frameLocal = nullptr; // valid while the text that holds the name runs
    quint64 generation = 0;
};

// --------------------------------------------------------------- expressions

enum class EK : quint8 { Literal, Name, Member, Call, Unary, Binary, New, Me, Paren, Missing };

struct Expr : Node {
    explicit Expr(EK k) : kind(k) {}
    EK kind;
};

struct LiteralExpr : Expr {
    LiteralExpr() : Expr(EK::Literal) {}
    Variant value;
};

struct NameExpr : Expr {
    NameExpr() : Expr(EK::Name) {}
    QString name;
    QString lower;
    bool isCall = false; // written with arguments: f(x) calls f even inside f
    mutable NameBinding bind;
};

// What a member name of a script class came to last time, per place in the
// code: the class, and its variable's slot or its procedures.
struct ClassMember;
struct MemberCache {
    const ClassDef *owner = nullptr;
    quint64 generation = 0; // the engine's, when the entry was made
    int field = -1;
    const ClassMember *member = nullptr;
};

// obj.name, or .name inside With (object null).
struct MemberExpr : Expr {
    MemberExpr() : Expr(EK::Member) {}
    Expr *object = nullptr;
    QString name;
    QString lower;
    mutable MemberCache cache;
};

// target(args): a call, an array index or a default member.
struct CallExpr : Expr {
    CallExpr() : Expr(EK::Call) {}
    Expr *target = nullptr;
    std::vector<Expr *> args;
};

struct UnaryExpr : Expr {
    UnaryExpr() : Expr(EK::Unary) {}
    Op op = Op::Neg;
    Expr *operand = nullptr;
};

struct BinaryExpr : Expr {
    BinaryExpr() : Expr(EK::Binary) {}
    Op op = Op::Add;
    Expr *left = nullptr;
    Expr *right = nullptr;
};

struct NewExpr : Expr {
    NewExpr() : Expr(EK::New) {}
    QString className;
};

struct MeExpr : Expr {
    MeExpr() : Expr(EK::Me) {}
};

// (x): a value, never a reference, so a ByRef parameter gets a copy.
struct ParenExpr : Expr {
    ParenExpr() : Expr(EK::Paren) {}
    Expr *inner = nullptr;
};

// An argument left out: f(1, , 3).
struct MissingExpr : Expr {
    MissingExpr() : Expr(EK::Missing) {}
};

// --------------------------------------------------------------- statements

enum class SK : quint8 {
    Call, Assign, Dim, ReDim, Const, If, Select, For, ForEach, Do, Exit, OnError, With, Erase, Nop,
};

struct Stmt : Node {
    explicit Stmt(SK k) : kind(k) {}
    SK kind;
};

using Block = std::vector<Stmt *>;

// A procedure or method called as a statement: "foo a, b", "Call foo(a)".
struct CallStmt : Stmt {
    CallStmt() : Stmt(SK::Call) {}
    Expr *callee = nullptr; // Name, Member or another expression
    std::vector<Expr *> args;
};

struct AssignStmt : Stmt {
    AssignStmt() : Stmt(SK::Assign) {}
    Expr *target = nullptr;
    Expr *value = nullptr;
    bool isSet = false;
    bool appendsToTarget = false; // "s = s & x": grows s in place
};

struct DimVar {
    NameExpr *name = nullptr;
    std::vector<Expr *> bounds; // upper bounds of a fixed-size array
    bool isArray = false;       // "a()" or with bounds
};

struct DimStmt : Stmt {
    DimStmt() : Stmt(SK::Dim) {}
    std::vector<DimVar> vars;
};

struct ReDimStmt : Stmt {
    ReDimStmt() : Stmt(SK::ReDim) {}
    bool preserve = false;
    std::vector<DimVar> vars;
};

struct ConstStmt : Stmt {
    ConstStmt() : Stmt(SK::Const) {}
    std::vector<std::pair<NameExpr *, Expr *>> items;
};

struct IfStmt : Stmt {
    IfStmt() : Stmt(SK::If) {}
    std::vector<std::pair<Expr *, Block>> branches;
    Block elseBody;
};

struct CaseClause {
    std::vector<Expr *> values;
    Block body;
};

struct SelectStmt : Stmt {
    SelectStmt() : Stmt(SK::Select) {}
    Expr *subject = nullptr;
    std::vector<CaseClause> cases;
    Block elseBody;
};

struct ForStmt : Stmt {
    ForStmt() : Stmt(SK::For) {}
    NameExpr *var = nullptr;
    Expr *from = nullptr;
    Expr *to = nullptr;
    Expr *step = nullptr;
    Block body;
};

struct ForEachStmt : Stmt {
    ForEachStmt() : Stmt(SK::ForEach) {}
    NameExpr *var = nullptr;
    Expr *group = nullptr;
    Block body;
};

struct DoStmt : Stmt {
    DoStmt() : Stmt(SK::Do) {}
    Expr *cond = nullptr; // null: loops until Exit Do
    bool condAtTop = true;
    bool until = false;
    bool wend = false; // While/Wend: Exit Do leaves the enclosing Do instead
    Block body;
};

enum class ExitWhat : quint8 { Do, For, Procedure };

struct ExitStmt : Stmt {
    ExitStmt() : Stmt(SK::Exit) {}
    ExitWhat what = ExitWhat::Do;
};

struct OnErrorStmt : Stmt {
    OnErrorStmt() : Stmt(SK::OnError) {}
    bool resumeNext = false;
};

struct WithStmt : Stmt {
    WithStmt() : Stmt(SK::With) {}
    Expr *object = nullptr;
    Block body;
};

struct EraseStmt : Stmt {
    EraseStmt() : Stmt(SK::Erase) {}
    NameExpr *target = nullptr;
};

struct NopStmt : Stmt {
    NopStmt() : Stmt(SK::Nop) {}
};

// --------------------------------------------------------------- procedures

enum class ProcKind : quint8 { Sub, Function, PropertyGet, PropertyLet, PropertySet };

struct Param {
    QString name;
    bool byVal = false;
};

struct Procedure : Node {
    QString name;
    QString lower;
    ProcKind kind = ProcKind::Sub;
    bool isPublic = true;
    bool isDefault = false;
    std::vector<Param> params;
    Block body;
    std::vector<ConstStmt *> consts; // set on entry: constants are known before any statement
    int resultSlot = -1;             // the function's own name
    int slotCount = 0;               // params first, then the rest
    QHash<QString, int> locals;      // lower-cased name -> slot (Execute and Eval need them)
    QHash<QString, int> implicitSlots; // names the body uses without declaring them -> slot
    ClassDef *owner = nullptr;
    bool optionExplicit = false;
};

struct ClassField {
    QString name;
    bool isPublic = true;
    std::vector<Expr *> bounds;
    bool isArray = false;
};

struct ClassMember {
    Procedure *method = nullptr; // Sub or Function
    Procedure *get = nullptr;
    Procedure *let = nullptr;
    Procedure *set = nullptr;
};

struct ClassDef : Node {
    QString name;
    QString lower;
    std::vector<ClassField> fields;
    QHash<QString, int> fieldIndex;
    QHash<QString, ClassMember> members;
    QString defaultMember; // lower-cased, empty for none
    Procedure *initialize = nullptr;
    Procedure *terminate = nullptr;
};

// One compiled text: what AddCode, ExecuteGlobal, Execute and Eval compile.
struct Program {
    template<class T>
    T *make(int line, int column)
    {
        auto node = std::make_unique<T>();
        node->line = line;
        node->column = column;
        T *raw = node.get();
        nodes.push_back(std::move(node));
        return raw;
    }

    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<Procedure *> procedures; // module-level Sub/Function
    std::vector<ClassDef *> classes;
    std::vector<ConstStmt *> consts;     // module-level constants
    Block top;
    Expr *expression = nullptr;          // Eval's expression
    QStringList globalNames;             // module-level Dim/ReDim/Const names, declared before the code runs
    QHash<QString, const Node *> declaredAt; // where each of them is first declared
    QStringList localNames;              // the same in text Execute runs inside a procedure: its locals
    bool optionExplicit = false;
};

using ProgramPtr = std::shared_ptr<Program>;
