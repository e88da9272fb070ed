#include "Parser.h"

#include "Binder.h"
#include "Lexer.h"
#include "SyntaxError.h"

#include "automation/Latin1Case.h"

namespace {
constexpr int kMaxNesting = 250;

struct DepthScope {
    int &depth;
    explicit DepthScope(int &d) : depth(d) { ++depth; }
    ~DepthScope() { --depth; }
};

int precedence(const Token &t, Op &op)
{
    switch (t.type) {
    case Tok::Caret: op = Op::Pow; return 14;
    case Tok::Star: op = Op::Mul; return 12;
    case Tok::Slash: op = Op::Div; return 12;
    case Tok::Backslash: op = Op::IntDiv; return 11;
    case Tok::Plus: op = Op::Add; return 9;
    case Tok::Minus: op = Op::Sub; return 9;
    case Tok::Amp: op = Op::Concat; return 8;
    case Tok::Eq: op = Op::Eq; return 7;
    case Tok::Ne: op = Op::Ne; return 7;
    case Tok::Lt: op = Op::Lt; return 7;
    case Tok::Gt: op = Op::Gt; return 7;
    case Tok::Le: op = Op::Le; return 7;
    case Tok::Ge: op = Op::Ge; return 7;
    case Tok::Keyword:
        switch (t.kw) {
        case Kw::Mod: op = Op::Mod; return 10;
        case Kw::Is: op = Op::Is; return 7;
        case Kw::And: op = Op::And; return 5;
        case Kw::Or: op = Op::Or; return 4;
        case Kw::Xor: op = Op::Xor; return 3;
        case Kw::Eqv: op = Op::Eqv; return 2;
        case Kw::Imp: op = Op::Imp; return 1;
        default: return 0;
        }
    default:
        return 0;
    }
}
} // namespace

Parser::Parser(const QString &text, const Procedure *outerProc, const ClassDef *outerClass)
    : m_toks(Lexer(text).tokenize())
    , m_tokensHeld(qint64(m_toks.size()) * Lexer::kTokenBytes + qint64(text.size()) * Lexer::kTextBytesPerChar)
    , m_prog(std::make_shared<Program>())
    , m_outerProc(outerProc)
    , m_outerClass(outerClass)
{
}

const Token &Parser::peekTok(int ahead) const
{
    size_t i = std::min(m_i + size_t(ahead), m_toks.size() - 1);
    return m_toks[i];
}

bool Parser::atWord(const char *lower) const
{
    return cur().type == Tok::Ident && cur().lower == QLatin1String(lower);
}

void Parser::fail(qint32 number) const
{
    failAt(number, cur());
}

void Parser::failAt(qint32 number, const Token &t) const
{
    throw SyntaxError::make(number, t.line, t.column);
}

void Parser::expect(Tok t, qint32 error)
{
    if (!at(t))
        fail(error);
    next();
}

void Parser::expectKw(Kw k, qint32 error)
{
    if (!atKw(k))
        fail(error);
    next();
}

void Parser::expectEndOfStatement()
{
    if (!atEndOfStatement())
        fail(SyntaxError::ExpectedEndOfStatement);
    if (at(Tok::NewLine))
        next();
}

void Parser::skipNewLines()
{
    while (at(Tok::NewLine))
        next();
}

QString Parser::identifier()
{
    if (!at(Tok::Ident))
        fail(SyntaxError::ExpectedIdentifier);
    QString s = cur().text;
    next();
    return s;
}

QString Parser::memberName()
{
    if (!at(Tok::Ident) && !at(Tok::Keyword))
        fail(SyntaxError::ExpectedIdentifier);
    QString s = cur().text;
    next();
    return s;
}

int Parser::depthGuard()
{
    if (m_depth > kMaxNesting)
        throw VbError(VbErr::OutOfStackSpace, {}, QStringLiteral("Microsoft VBScript compilation error"), cur().line,
                      cur().column);
    return m_depth;
}

NameExpr *Parser::makeName(const Token &t)
{
    auto *n = m_prog->make<NameExpr>(t.line, t.column);
    n->name = t.text;
    n->lower = t.lower;
    (m_proc ? m_uses : m_outerUses).push_back(n);
    return n;
}

void Parser::declare(const NameExpr *name, bool byReDim)
{
    const QString &lower = name->lower;
    if (m_proc && byReDim) {
        if (!m_redimmed.contains(lower))
            m_redimmed.push_back(lower);
    } else if (m_proc) {
        if (!m_declared.contains(lower))
            m_declared.push_back(lower);
    } else if (m_outerProc) {
        // Execute inside a procedure declares in that procedure's scope.
        if (!m_prog->localNames.contains(lower))
            m_prog->localNames.push_back(lower);
    } else if (!m_prog->globalNames.contains(lower)) {
        m_prog->globalNames.push_back(lower);
        m_prog->declaredAt.insert(lower, name);
    }
}

void Parser::checkClassNames() const
{
    // Classes share one namespace with the module's variables and procedures.
    QHash<QString, const Node *> taken = m_prog->declaredAt;
    for (const Procedure *p : m_prog->procedures)
        if (!taken.contains(p->lower))
            taken.insert(p->lower, p);
    for (const ClassDef *c : m_prog->classes) {
        auto other = taken.constFind(c->lower);
        if (other == taken.constEnd()) {
            taken.insert(c->lower, c);
            continue;
        }
        const Node *later = (*other)->line > c->line || ((*other)->line == c->line && (*other)->column > c->column)
            ? *other : c;
        throw SyntaxError::make(SyntaxError::NameRedefined, later->line, later->column);
    }
}

// ------------------------------------------------------------------ program

ProgramPtr Parser::parseProgram()
{
    skipNewLines();
    while (!at(Tok::End)) {
        parseModuleItem(m_prog->top);
        skipNewLines();
    }
    checkClassNames();
    Binder::bindOuter(m_outerUses, m_outerProc, m_outerClass);
    return m_prog;
}

ProgramPtr Parser::parseExpressionOnly()
{
    skipNewLines();
    m_prog->expression = parseExpr();
    skipNewLines();
    if (!at(Tok::End))
        fail(SyntaxError::ExpectedEndOfStatement);
    Binder::bindOuter(m_outerUses, m_outerProc, m_outerClass);
    return m_prog;
}

void Parser::parseModuleItem(Block &out)
{
    // Declarations that only the module level (or a class) may hold.
    if (atKw(Kw::Option)) {
        next();
        if (!atWord("explicit"))
            fail(SyntaxError::ExpectedIdentifier);
        next();
        m_prog->optionExplicit = true;
        expectEndOfStatement();
        return;
    }
    if (atKw(Kw::Class)) {
        parseClass();
        return;
    }
    bool isPublic = true;
    bool hasScope = false;
    if (atKw(Kw::Public) || atKw(Kw::Private)) {
        isPublic = atKw(Kw::Public);
        hasScope = true;
        next();
    }
    bool isDefault = false;
    if (hasScope && atWord("default")) {
        isDefault = true;
        next();
    }
    if (atKw(Kw::Sub) || atKw(Kw::Function) || atWord("property")) {
        if (isDefault)
            fail(SyntaxError::MustBeInClass);
        if (atWord("property"))
            fail(SyntaxError::MustBeInClass);
        Procedure *p = parseProcedure(isPublic, false, nullptr);
        m_prog->procedures.push_back(p);
        return;
    }
    if (hasScope) {
        if (atKw(Kw::Const)) {
            out.push_back(parseConst());
            return;
        }
        out.push_back(parseDim(false));
        return;
    }
    parseStatementsInto(out, false);
}

void Parser::parseStatementsInto(Block &out, bool singleLine)
{
    Stmt *s = parseStatement();
    if (s) {
        if (s->kind == SK::Const && !m_proc)
            m_prog->consts.push_back(static_cast<ConstStmt *>(s));
        else if (s->kind == SK::Const)
            const_cast<Procedure *>(m_proc)->consts.push_back(static_cast<ConstStmt *>(s));
        else
            out.push_back(s);
    }
    if (singleLine)
        return;
    expectEndOfStatement();
}

bool Parser::atBlockEnd() const
{
    if (at(Tok::End))
        return true;
    if (cur().type != Tok::Keyword)
        return false;
    switch (cur().kw) {
    case Kw::End:
    case Kw::Else:
    case Kw::ElseIf:
    case Kw::Case:
    case Kw::Loop:
    case Kw::Next:
    case Kw::Wend:
        return true;
    default:
        return false;
    }
}

Block Parser::parseBlock()
{
    DepthScope guard(m_depth);
    depthGuard();
    Block out;
    skipNewLines();
    while (!atBlockEnd()) {
        if (atKw(Kw::Sub) || atKw(Kw::Function) || atKw(Kw::Class) || atKw(Kw::Option))
            fail(SyntaxError::ExpectedStatement);
        if (atKw(Kw::Public) || atKw(Kw::Private))
            fail(SyntaxError::ExpectedStatement);
        parseStatementsInto(out, false);
        skipNewLines();
    }
    return out;
}

qint32 Parser::strayCloser(qint32 otherwise) const
{
    // A loop's closer met inside another construct: that construct is the
    // one left open, but VBScript names the stray closer.
    if (atKw(Kw::Next))
        return SyntaxError::UnexpectedNext;
    if (atKw(Kw::Loop))
        return SyntaxError::LoopWithoutDo;
    return otherwise;
}

void Parser::parseEnd(Kw what, qint32 error)
{
    if (!atKw(Kw::End))
        fail(strayCloser(SyntaxError::ExpectedEnd));
    next();
    if (what == Kw::None) {
        if (!atWord("property"))
            fail(SyntaxError::ExpectedProperty);
        next();
        return;
    }
    expectKw(what, error);
}

Stmt *Parser::parseStatement()
{
    DepthScope guard(m_depth);
    depthGuard();
    const Token &t = cur();
    if (t.type == Tok::Keyword) {
        switch (t.kw) {
        case Kw::If: return parseIf();
        case Kw::Select: return parseSelect();
        case Kw::For: return parseFor();
        case Kw::Do: return parseDo();
        case Kw::While: return parseWhile();
        case Kw::With: return parseWith();
        case Kw::Dim: return parseDim(true);
        case Kw::ReDim: return parseReDim();
        case Kw::Const: return parseConst();
        case Kw::Exit: return parseExit();
        case Kw::On: return parseOnError();
        case Kw::Set:
            next();
            return parseAssignOrCall(true, false);
        case Kw::Call:
            next();
            return parseAssignOrCall(false, true);
        case Kw::Erase: {
            auto *s = m_prog->make<EraseStmt>(t.line, t.column);
            next();
            if (!at(Tok::Ident))
                fail(SyntaxError::ExpectedIdentifier);
            s->target = makeName(cur());
            next();
            return s;
        }
        case Kw::Me:
            return parseAssignOrCall(false, false);
        case Kw::Loop:
            fail(SyntaxError::LoopWithoutDo);
        case Kw::Next:
            fail(SyntaxError::UnexpectedNext);
        default:
            fail(SyntaxError::ExpectedStatement);
        }
    }
    if (t.type == Tok::Ident) {
        if (t.lower == QLatin1String("let") && peekTok().type == Tok::Ident) {
            next();
            return parseAssignOrCall(false, false);
        }
        if (t.lower == QLatin1String("stop") && (peekTok().type == Tok::NewLine || peekTok().type == Tok::End)) {
            next();
            return m_prog->make<NopStmt>(t.line, t.column);
        }
        return parseAssignOrCall(false, false);
    }
    if (t.type == Tok::Dot)
        return parseAssignOrCall(false, false);
    fail(SyntaxError::ExpectedStatement);
}

Stmt *Parser::parseAssignOrCall(bool isSet, bool hasCallKeyword)
{
    const Token start = cur();
    if (!at(Tok::Ident) && !at(Tok::Dot) && !atKw(Kw::Me))
        fail(SyntaxError::ExpectedIdentifier);
    Expr *chain = parsePostfix();
    if (!hasCallKeyword && at(Tok::Eq)) {
        if (chain->kind != EK::Name && chain->kind != EK::Member && chain->kind != EK::Call)
            fail(SyntaxError::ExpectedStatement);
        next();
        auto *s = m_prog->make<AssignStmt>(start.line, start.column);
        s->target = chain;
        s->isSet = isSet;
        if (isSet && atKw(Kw::New)) {
            s->value = parsePrimary();
        } else {
            s->value = parseExpr();
        }
        if (!isSet && chain->kind == EK::Name && s->value->kind == EK::Binary) {
            auto *b = static_cast<BinaryExpr *>(s->value);
            if (b->op == Op::Concat && b->left->kind == EK::Name
                && static_cast<NameExpr *>(b->left)->lower == static_cast<NameExpr *>(chain)->lower)
                s->appendsToTarget = true;
        }
        return s;
    }
    if (isSet)
        fail(SyntaxError::ExpectedEquals);
    auto *s = m_prog->make<CallStmt>(start.line, start.column);
    auto markCall = [](Expr *e) {
        if (e->kind == EK::Name)
            static_cast<NameExpr *>(e)->isCall = true;
    };
    if (atEndOfStatement() || (atKw(Kw::Else))) {
        if (chain->kind == EK::Call) {
            auto *c = static_cast<CallExpr *>(chain);
            s->callee = c->target;
            if (hasCallKeyword || c->args.size() <= 1) {
                if (!hasCallKeyword && c->args.size() == 1) {
                    auto *p = m_prog->make<ParenExpr>(c->args[0]->line, c->args[0]->column);
                    p->inner = c->args[0];
                    s->args.push_back(p);
                } else {
                    s->args = c->args;
                }
            } else {
                failAt(SyntaxError::ParenthesesOnSubCall, start);
            }
            if (!s->args.empty())
                markCall(s->callee);
        } else {
            s->callee = chain;
        }
        return s;
    }
    if (hasCallKeyword)
        fail(SyntaxError::ExpectedEndOfStatement);
    // "foo (a) + 1, b": the parenthesised start belongs to the first argument.
    if (chain->kind == EK::Call) {
        auto *c = static_cast<CallExpr *>(chain);
        if (c->args.size() != 1 || c->args[0]->kind == EK::Missing)
            fail(SyntaxError::ExpectedEndOfStatement);
        s->callee = c->target;
        auto *p = m_prog->make<ParenExpr>(c->args[0]->line, c->args[0]->column);
        p->inner = c->args[0];
        Expr *first = parseBinaryRest(p, 1);
        s->args.push_back(first);
        if (at(Tok::Comma)) {
            next();
            auto rest = parseArgs(Tok::NewLine);
            s->args.insert(s->args.end(), rest.begin(), rest.end());
        }
    } else {
        s->callee = chain;
        s->args = parseArgs(Tok::NewLine);
    }
    markCall(s->callee);
    return s;
}

Stmt *Parser::parseIf()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<IfStmt>(start.line, start.column);
    Expr *cond = parseExpr();
    expectKw(Kw::Then, SyntaxError::ExpectedThen);
    if (!at(Tok::NewLine)) {
        // Single-line form: statements up to the line end, an optional Else.
        Block body;
        while (true) {
            parseStatementsInto(body, true);
            if (at(Tok::NewLine) && cur().colon && !atKw(Kw::Else)) {
                next();
                if (atKw(Kw::Else) || atEndOfStatement())
                    break;
                continue;
            }
            break;
        }
        s->branches.emplace_back(cond, std::move(body));
        if (atKw(Kw::Else)) {
            next();
            while (true) {
                parseStatementsInto(s->elseBody, true);
                if (at(Tok::NewLine) && cur().colon) {
                    next();
                    if (atEndOfStatement())
                        break;
                    continue;
                }
                break;
            }
        }
        if (atKw(Kw::End) && peekTok().type == Tok::Keyword && peekTok().kw == Kw::If) {
            next();
            next();
        }
        if (!atEndOfStatement())
            fail(SyntaxError::ExpectedEndOfStatement);
        return s;
    }
    s->branches.emplace_back(cond, parseBlock());
    while (true) {
        if (atKw(Kw::ElseIf)) {
            next();
            Expr *c = parseExpr();
            expectKw(Kw::Then, SyntaxError::ExpectedThen);
            s->branches.emplace_back(c, parseBlock());
            continue;
        }
        if (atKw(Kw::Else)) {
            next();
            s->elseBody = parseBlock();
            parseEnd(Kw::If, SyntaxError::ExpectedIf);
            break;
        }
        parseEnd(Kw::If, SyntaxError::ExpectedIf);
        break;
    }
    return s;
}

Stmt *Parser::parseSelect()
{
    const Token start = cur();
    next();
    expectKw(Kw::Case, SyntaxError::ExpectedCase);
    auto *s = m_prog->make<SelectStmt>(start.line, start.column);
    s->subject = parseExpr();
    expectEndOfStatement();
    skipNewLines();
    bool sawElse = false;
    while (atKw(Kw::Case)) {
        if (sawElse)
            fail(SyntaxError::ExpectedEnd);
        next();
        if (atKw(Kw::Else)) {
            next();
            sawElse = true;
            s->elseBody = parseBlock();
            continue;
        }
        CaseClause c;
        while (true) {
            c.values.push_back(parseExpr());
            if (!at(Tok::Comma))
                break;
            next();
        }
        c.body = parseBlock();
        s->cases.push_back(std::move(c));
    }
    parseEnd(Kw::Select, SyntaxError::ExpectedSelect);
    return s;
}

Stmt *Parser::parseFor()
{
    const Token start = cur();
    next();
    if (atKw(Kw::Each)) {
        next();
        auto *s = m_prog->make<ForEachStmt>(start.line, start.column);
        if (!at(Tok::Ident))
            fail(SyntaxError::ExpectedIdentifier);
        s->var = makeName(cur());
        next();
        expectKw(Kw::In, SyntaxError::ExpectedIn);
        s->group = parseExpr();
        ++m_loops[1];
        s->body = parseBlock();
        --m_loops[1];
        expectKw(Kw::Next, SyntaxError::ExpectedNext);
        if (at(Tok::Ident))
            next();
        return s;
    }
    auto *s = m_prog->make<ForStmt>(start.line, start.column);
    if (!at(Tok::Ident))
        fail(SyntaxError::InvalidForVariable);
    s->var = makeName(cur());
    next();
    expect(Tok::Eq, SyntaxError::ExpectedEquals);
    s->from = parseExpr();
    expectKw(Kw::To, SyntaxError::ExpectedTo);
    s->to = parseExpr();
    if (atWord("step")) {
        next();
        s->step = parseExpr();
    }
    ++m_loops[1];
    s->body = parseBlock();
    --m_loops[1];
    expectKw(Kw::Next, SyntaxError::ExpectedNext);
    if (at(Tok::Ident))
        next();
    return s;
}

Stmt *Parser::parseDo()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<DoStmt>(start.line, start.column);
    if (atKw(Kw::While) || atKw(Kw::Until)) {
        s->until = atKw(Kw::Until);
        next();
        s->cond = parseExpr();
    }
    ++m_loops[0];
    s->body = parseBlock();
    --m_loops[0];
    if (!atKw(Kw::Loop))
        fail(atKw(Kw::Next) ? SyntaxError::UnexpectedNext : SyntaxError::ExpectedLoop);
    next();
    if (atKw(Kw::While) || atKw(Kw::Until)) {
        if (s->cond)
            fail(SyntaxError::ExpectedEndOfStatement);
        s->until = atKw(Kw::Until);
        next();
        s->cond = parseExpr();
        s->condAtTop = false;
    }
    return s;
}

Stmt *Parser::parseWhile()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<DoStmt>(start.line, start.column);
    s->cond = parseExpr();
    s->wend = true;
    s->body = parseBlock();
    if (!atKw(Kw::Wend))
        fail(strayCloser(SyntaxError::ExpectedWend));
    next();
    return s;
}

Stmt *Parser::parseWith()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<WithStmt>(start.line, start.column);
    s->object = parseExpr();
    s->body = parseBlock();
    parseEnd(Kw::With, SyntaxError::ExpectedWith);
    return s;
}

DimVar Parser::parseDimVar(bool allowBoundsExpr)
{
    DimVar v;
    if (!at(Tok::Ident))
        fail(SyntaxError::ExpectedIdentifier);
    v.name = makeName(cur());
    next();
    if (at(Tok::LParen)) {
        next();
        v.isArray = true;
        if (!at(Tok::RParen)) {
            while (true) {
                if (!allowBoundsExpr && !at(Tok::Number) )
                    fail(SyntaxError::ExpectedInteger);
                v.bounds.push_back(parseExpr());
                if (!at(Tok::Comma))
                    break;
                next();
            }
        }
        expect(Tok::RParen, SyntaxError::ExpectedRParen);
    }
    return v;
}

Stmt *Parser::parseDim(bool hasKeyword)
{
    const Token start = cur();
    if (hasKeyword)
        next();
    auto *s = m_prog->make<DimStmt>(start.line, start.column);
    commaList([&] {
        DimVar v = parseDimVar(false);
        declare(v.name);
        s->vars.push_back(std::move(v));
    });
    return s;
}

Stmt *Parser::parseReDim()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<ReDimStmt>(start.line, start.column);
    if (atWord("preserve")) {
        s->preserve = true;
        next();
    }
    commaList([&] {
        DimVar v = parseDimVar(true);
        if (v.bounds.empty())
            fail(SyntaxError::ExpectedExpression);
        declare(v.name, true);
        s->vars.push_back(std::move(v));
    });
    return s;
}

Stmt *Parser::parseConst()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<ConstStmt>(start.line, start.column);
    commaList([&] {
        if (!at(Tok::Ident))
            fail(SyntaxError::ExpectedIdentifier);
        NameExpr *n = makeName(cur());
        next();
        expect(Tok::Eq, SyntaxError::ExpectedEquals);
        Expr *value = parseExpr();
        declare(n);
        s->items.emplace_back(n, value);
    });
    return s;
}

Stmt *Parser::parseExit()
{
    const Token start = cur();
    next();
    auto *s = m_prog->make<ExitStmt>(start.line, start.column);
    if (atKw(Kw::Do)) {
        if (!m_loops[0])
            fail(SyntaxError::InvalidExit);
        s->what = ExitWhat::Do;
    } else if (atKw(Kw::For)) {
        if (!m_loops[1])
            fail(SyntaxError::InvalidExit);
        s->what = ExitWhat::For;
    } else if (atKw(Kw::Sub) || atKw(Kw::Function) || atWord("property")) {
        if (!m_proc)
            fail(SyntaxError::InvalidExit);
        bool ok = (atKw(Kw::Sub) && m_proc->kind == ProcKind::Sub)
            || (atKw(Kw::Function) && m_proc->kind == ProcKind::Function)
            || (atWord("property") && m_proc->kind >= ProcKind::PropertyGet);
        if (!ok)
            fail(SyntaxError::InvalidExit);
        s->what = ExitWhat::Procedure;
    } else {
        fail(SyntaxError::InvalidExit);
    }
    next();
    return s;
}

Stmt *Parser::parseOnError()
{
    const Token start = cur();
    next();
    if (!atWord("error"))
        fail(SyntaxError::Syntax);
    next();
    auto *s = m_prog->make<OnErrorStmt>(start.line, start.column);
    if (atWord("resume")) {
        next();
        if (!atKw(Kw::Next))
            fail(SyntaxError::Syntax);
        next();
        s->resumeNext = true;
    } else if (atWord("goto")) {
        next();
        if (!at(Tok::Number) || cur().value.toDouble() != 0)
            fail(SyntaxError::Syntax);
        next();
    } else {
        fail(SyntaxError::Syntax);
    }
    return s;
}

Procedure *Parser::parseProcedure(bool isPublic, bool isDefault, ClassDef *owner)
{
    const Token start = cur();
    auto *p = m_prog->make<Procedure>(start.line, start.column);
    p->isPublic = isPublic;
    p->isDefault = isDefault;
    p->owner = owner;
    p->optionExplicit = m_prog->optionExplicit;
    Kw endKw = Kw::Sub;
    qint32 endError = SyntaxError::ExpectedSub;
    if (atKw(Kw::Sub)) {
        p->kind = ProcKind::Sub;
    } else if (atKw(Kw::Function)) {
        p->kind = ProcKind::Function;
        endKw = Kw::Function;
        endError = SyntaxError::ExpectedFunction;
    } else {
        next(); // Property
        endKw = Kw::None;
        endError = SyntaxError::ExpectedProperty;
        if (atWord("get"))
            p->kind = ProcKind::PropertyGet;
        else if (atWord("let"))
            p->kind = ProcKind::PropertyLet;
        else if (atKw(Kw::Set))
            p->kind = ProcKind::PropertySet;
        else
            fail(SyntaxError::ExpectedLetSetGet);
    }
    if (isDefault && p->kind != ProcKind::PropertyGet && p->kind != ProcKind::Function && p->kind != ProcKind::Sub)
        fail(SyntaxError::DefaultOnlyOnGet);
    next();
    p->name = identifier();
    p->lower = Latin1Case::lower(p->name);
    if (at(Tok::LParen)) {
        next();
        while (!at(Tok::RParen)) {
            Param param;
            if (atKw(Kw::ByVal)) {
                param.byVal = true;
                next();
            } else if (atKw(Kw::ByRef)) {
                next();
            }
            param.name = identifier();
            if (at(Tok::LParen)) {
                next();
                expect(Tok::RParen, SyntaxError::ExpectedRParen);
            }
            p->params.push_back(param);
            if (!at(Tok::Comma))
                break;
            next();
        }
        expect(Tok::RParen, SyntaxError::ExpectedRParen);
    }
    if ((p->kind == ProcKind::PropertyLet || p->kind == ProcKind::PropertySet) && p->params.empty())
        fail(SyntaxError::PropertyNeedsArgument);
    expectEndOfStatement();

    Procedure *savedProc = m_proc;
    auto savedUses = std::move(m_uses);
    auto savedDeclared = std::move(m_declared);
    auto savedRedimmed = std::move(m_redimmed);
    m_redimmed.clear();
    int savedLoops[2] = {m_loops[0], m_loops[1]};
    m_uses.clear();
    m_declared.clear();
    m_loops[0] = m_loops[1] = 0;
    m_proc = p;
    p->body = parseBlock();
    parseEnd(endKw, endError);
    if (owner)
        m_pendingBinds.push_back({p, m_declared, m_redimmed, m_uses});
    else
        Binder::bindProcedure(*p, m_declared, m_redimmed, m_uses);
    m_proc = savedProc;
    m_uses = std::move(savedUses);
    m_declared = std::move(savedDeclared);
    m_redimmed = std::move(savedRedimmed);
    m_loops[0] = savedLoops[0];
    m_loops[1] = savedLoops[1];
    return p;
}

void Parser::parseClass()
{
    const Token start = cur();
    next();
    if (m_outerProc)
        failAt(SyntaxError::Syntax, start);
    auto *c = m_prog->make<ClassDef>(start.line, start.column);
    c->name = identifier();
    c->lower = Latin1Case::lower(c->name);
    expectEndOfStatement();
    skipNewLines();
    m_class = c;
    // Members are bound when the class is complete: a method may use a
    // member declared below it.
    m_pendingBinds.clear();
    std::vector<Procedure *> methods;
    while (!atKw(Kw::End)) {
        if (at(Tok::End))
            fail(SyntaxError::ExpectedEnd);
        bool isPublic = true;
        bool scoped = false;
        if (atKw(Kw::Public) || atKw(Kw::Private)) {
            isPublic = atKw(Kw::Public);
            scoped = true;
            next();
        }
        bool isDefault = false;
        if (scoped && atWord("default")) {
            if (!isPublic)
                fail(SyntaxError::DefaultNeedsPublic);
            isDefault = true;
            next();
        }
        if (atKw(Kw::Sub) || atKw(Kw::Function) || atWord("property")) {
            methods.push_back(parseProcedure(isPublic, isDefault, c));
        } else if (atKw(Kw::Const)) {
            fail(SyntaxError::ExpectedStatement);
        } else if (scoped || atKw(Kw::Dim)) {
            if (isDefault)
                fail(SyntaxError::DefaultOnlyOnProcedures);
            if (atKw(Kw::Dim))
                next();
            while (true) {
                if (!at(Tok::Ident))
                    fail(SyntaxError::ExpectedIdentifier);
                ClassField f;
                f.name = cur().text;
                f.isPublic = isPublic;
                next();
                if (at(Tok::LParen)) {
                    next();
                    f.isArray = true;
                    while (!at(Tok::RParen)) {
                        if (!at(Tok::Number))
                            fail(SyntaxError::ExpectedInteger);
                        f.bounds.push_back(parseExpr());
                        if (!at(Tok::Comma))
                            break;
                        next();
                    }
                    expect(Tok::RParen, SyntaxError::ExpectedRParen);
                }
                QString lower = Latin1Case::lower(f.name);
                if (c->fieldIndex.contains(lower))
                    fail(SyntaxError::NameRedefined);
                c->fieldIndex.insert(lower, int(c->fields.size()));
                c->fields.push_back(std::move(f));
                if (!at(Tok::Comma))
                    break;
                next();
            }
            expectEndOfStatement();
        } else {
            fail(SyntaxError::ExpectedStatement);
        }
        skipNewLines();
    }
    parseEnd(Kw::Class, SyntaxError::ExpectedClass);
    m_class = nullptr;
    for (Procedure *p : methods) {
        ClassMember &m = c->members[p->lower];
        Procedure **slot = nullptr;
        switch (p->kind) {
        case ProcKind::Sub:
        case ProcKind::Function: slot = &m.method; break;
        case ProcKind::PropertyGet: slot = &m.get; break;
        case ProcKind::PropertyLet: slot = &m.let; break;
        case ProcKind::PropertySet: slot = &m.set; break;
        }
        if (*slot || (m.method && p->kind != ProcKind::Sub && p->kind != ProcKind::Function)
            || ((m.get || m.let || m.set) && (p->kind == ProcKind::Sub || p->kind == ProcKind::Function))
            || c->fieldIndex.contains(p->lower))
            throw SyntaxError::make(SyntaxError::NameRedefined, p->line, p->column);
        *slot = p;
        if (p->isDefault) {
            if (!c->defaultMember.isEmpty() && c->defaultMember != p->lower)
                throw SyntaxError::make(SyntaxError::MultipleDefaults, p->line, p->column);
            c->defaultMember = p->lower;
        }
        if (p->lower == QLatin1String("class_initialize") || p->lower == QLatin1String("class_terminate")) {
            if (!p->params.empty())
                throw SyntaxError::make(SyntaxError::InitTerminateArgs, p->line, p->column);
            (p->lower == QLatin1String("class_initialize") ? c->initialize : c->terminate) = p;
        }
    }
    for (PendingBind &b : m_pendingBinds)
        Binder::bindProcedure(*b.proc, b.declared, b.redimmed, b.uses);
    m_pendingBinds.clear();
    m_prog->classes.push_back(c);
}

// --------------------------------------------------------------- expressions

Expr *Parser::parseExpr(int minPrec)
{
    DepthScope guard(m_depth);
    depthGuard();
    Expr *lhs = parseUnary();
    return parseBinaryRest(lhs, minPrec);
}

Expr *Parser::parseBinaryRest(Expr *lhs, int minPrec)
{
    while (true) {
        Op op;
        int prec = precedence(cur(), op);
        if (prec == 0 || prec < minPrec)
            return lhs;
        const Token opTok = cur();
        next();
        Expr *rhs = parseUnary();
        rhs = parseBinaryRest(rhs, prec + 1);
        auto *b = m_prog->make<BinaryExpr>(opTok.line, opTok.column);
        b->op = op;
        b->left = lhs;
        b->right = rhs;
        lhs = b;
    }
}

Expr *Parser::parseUnary()
{
    DepthScope guard(m_depth);
    depthGuard();
    const Token t = cur();
    if (atKw(Kw::Not)) {
        next();
        auto *u = m_prog->make<UnaryExpr>(t.line, t.column);
        u->op = Op::Not;
        u->operand = parseExpr(7);
        return u;
    }
    if (at(Tok::Minus) || at(Tok::Plus)) {
        next();
        auto *u = m_prog->make<UnaryExpr>(t.line, t.column);
        u->op = t.type == Tok::Minus ? Op::Neg : Op::Plus;
        // The sign belongs to the operand before any power: -3^2 is (-3)^2.
        u->operand = parseUnary();
        return u;
    }
    return parsePostfix();
}

Expr *Parser::parsePostfix()
{
    Expr *e = parsePrimary();
    while (true) {
        if (at(Tok::LParen) && e->kind != EK::Literal && e->kind != EK::New) {
            const Token t = cur();
            next();
            auto *c = m_prog->make<CallExpr>(t.line, t.column);
            c->target = e;
            c->args = parseArgs(Tok::RParen);
            expect(Tok::RParen, SyntaxError::ExpectedRParen);
            if (e->kind == EK::Name)
                static_cast<NameExpr *>(e)->isCall = true;
            e = c;
            continue;
        }
        if (at(Tok::Dot) && !cur().spaceBefore && e->kind != EK::Literal) {
            const Token t = cur();
            next();
            auto *m = m_prog->make<MemberExpr>(t.line, t.column);
            m->object = e;
            m->name = memberName();
            m->lower = Latin1Case::lower(m->name);
            e = m;
            continue;
        }
        return e;
    }
}

Expr *Parser::parsePrimary()
{
    const Token t = cur();
    switch (t.type) {
    case Tok::Number:
    case Tok::String:
    case Tok::DateLit: {
        next();
        auto *l = m_prog->make<LiteralExpr>(t.line, t.column);
        l->value = t.value;
        return l;
    }
    case Tok::Ident:
        next();
        return makeName(t);
    case Tok::Dot: {
        next();
        auto *m = m_prog->make<MemberExpr>(t.line, t.column);
        m->name = memberName();
        m->lower = Latin1Case::lower(m->name);
        return m;
    }
    case Tok::LParen: {
        next();
        auto *p = m_prog->make<ParenExpr>(t.line, t.column);
        p->inner = parseExpr();
        expect(Tok::RParen, SyntaxError::ExpectedRParen);
        return p;
    }
    case Tok::Keyword: {
        auto literal = [&](Variant v) {
            next();
            auto *l = m_prog->make<LiteralExpr>(t.line, t.column);
            l->value = std::move(v);
            return l;
        };
        switch (t.kw) {
        case Kw::True: return literal(Variant(true));
        case Kw::False: return literal(Variant(false));
        case Kw::Empty: return literal(Variant());
        case Kw::Null: return literal(Variant::null());
        case Kw::Nothing: return literal(Variant::nothing());
        case Kw::Me: {
            if (!m_class && !(m_proc && m_proc->owner) && !m_outerClass)
                fail(SyntaxError::InvalidMe);
            next();
            return m_prog->make<MeExpr>(t.line, t.column);
        }
        case Kw::New: {
            next();
            auto *n = m_prog->make<NewExpr>(t.line, t.column);
            n->className = identifier();
            return n;
        }
        default:
            break;
        }
        break;
    }
    default:
        break;
    }
    fail(SyntaxError::ExpectedExpression);
}

std::vector<Expr *> Parser::parseArgs(Tok closer)
{
    std::vector<Expr *> args;
    auto atClose = [&]() { return closer == Tok::NewLine ? (atEndOfStatement() || atKw(Kw::Else)) : at(closer); };
    if (atClose())
        return args;
    while (true) {
        if (at(Tok::Comma) || atClose())
            args.push_back(m_prog->make<MissingExpr>(cur().line, cur().column));
        else
            args.push_back(parseExpr());
        if (!at(Tok::Comma))
            break;
        next();
    }
    return args;
}
