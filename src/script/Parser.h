#pragma once

#include "Ast.h"
#include "Token.h"

#include "MemoryBudget.h"

// Recursive descent over the tokens of one text, building a Program and
// binding each scope's names as it closes. Raises VbError with a compile error
// number and the place of the offending token.
class Parser
{
public:
    // The procedure and class whose locals Execute/Eval text may see.
    Parser(const QString &text, const Procedure *outerProc = nullptr, const ClassDef *outerClass = nullptr);

    ProgramPtr parseProgram();
    ProgramPtr parseExpressionOnly();

private:
    enum class Ctx { Module, Class, Procedure };

    const Token &cur() const { return m_toks[m_i]; }
    const Token &peekTok(int ahead = 1) const;
    bool at(Tok t) const { return cur().type == t; }
    bool atKw(Kw k) const { return cur().type == Tok::Keyword && cur().kw == k; }
    bool atWord(const char *lower) const;
    bool atEndOfStatement() const { return at(Tok::NewLine) || at(Tok::End); }
    void next()
    {
        if (m_i + 1 < m_toks.size())
            ++m_i;
        // The run's time-out and a stop end a long parse too.
        if ((m_i & 0xFFF) == 0) [[unlikely]]
            MemoryBudget::checkLongWork();
    }
    [[noreturn]] void fail(qint32 number) const;
    [[noreturn]] void failAt(qint32 number, const Token &t) const;
    void expect(Tok t, qint32 error);
    void expectKw(Kw k, qint32 error);
    void expectEndOfStatement();
    void skipNewLines();
    // One or more items separated by commas.
    template<class F>
    void commaList(F item)
    {
        while (true) {
            item();
            if (!at(Tok::Comma))
                return;
            next();
        }
    }
    QString identifier();
    QString memberName();

    // statements
    void parseModuleItem(Block &out);
    Block parseBlock();
    bool atBlockEnd() const;
    Stmt *parseStatement();
    void parseStatementsInto(Block &out, bool singleLine);
    Stmt *parseIf();
    Stmt *parseSelect();
    Stmt *parseFor();
    Stmt *parseDo();
    Stmt *parseWhile();
    Stmt *parseWith();
    Stmt *parseDim(bool);
    Stmt *parseReDim();
    Stmt *parseConst();
    Stmt *parseExit();
    Stmt *parseOnError();
    Stmt *parseAssignOrCall(bool isSet, bool hasCallKeyword);
    DimVar parseDimVar(bool allowBoundsExpr);
    Procedure *parseProcedure(bool isPublic, bool isDefault, ClassDef *owner);
    void parseClass();
    void parseEnd(Kw what, qint32 error);
    qint32 strayCloser(qint32 otherwise) const;
    void declare(const NameExpr *name, bool byReDim = false);
    void checkClassNames() const;

    // expressions
    Expr *parseExpr(int minPrec = 1);
    Expr *parseBinaryRest(Expr *lhs, int minPrec);
    Expr *parseUnary();
    Expr *parsePostfix();
    Expr *parsePrimary();
    std::vector<Expr *> parseArgs(Tok closer);
    NameExpr *makeName(const Token &t);
    int depthGuard();

    std::vector<Token> m_toks;
    MemoryBudget::Held m_tokensHeld;
    size_t m_i = 0;
    ProgramPtr m_prog;
    const Procedure *m_outerProc;
    const ClassDef *m_outerClass;
    Ctx m_ctx = Ctx::Module;
    Procedure *m_proc = nullptr;
    ClassDef *m_class = nullptr;
    std::vector<NameExpr *> m_uses;      // names of the scope being parsed
    std::vector<NameExpr *> m_outerUses; // names outside any procedure
    QStringList m_declared;
    QStringList m_redimmed;
    int m_loops[2] = {0, 0};            // open Do and For loops
    int m_depth = 0;
    struct PendingBind {
        Procedure *proc;
        QStringList declared;
        QStringList redimmed;
        std::vector<NameExpr *> uses;
    };
    std::vector<PendingBind> m_pendingBinds; // a class's methods, bound when the class is complete
};
