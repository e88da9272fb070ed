#pragma once

#include "Token.h"

#include <vector>

// Turns script text into tokens. Line ends and ':' both end a statement; a '_'
// at the end of a line joins it with the next; comments ("'" and Rem) vanish.
// Raises the compile errors of bad literals and stray characters.
class Lexer
{
public:
    explicit Lexer(const QString &text);
    std::vector<Token> tokenize();

    static Kw keyword(const QString &lower);
    // What one token holds (its texts' blocks aside): a long text's tokens are charged
    // as they are made, before any tree is built from them.
    static constexpr qint64 kTokenBytes = qint64(sizeof(Token)) + 32;
    // and its texts, as written and lower-cased: at most this per character read.
    static constexpr qint64 kTextBytesPerChar = 4;

private:
    QChar peek(int ahead = 0) const;
    [[noreturn]] void fail(qint32 number) const;
    void skipToLineEnd();
    Token make(Tok type);
    void lexNumber(Token &t);
    void lexRadix(Token &t);
    bool radixLiteralAhead() const;
    void lexDate(Token &t);
    void lexString(Token &t);

    const QString &m_text;
    int m_pos = 0;
    int m_line = 1;
    int m_lineStart = 0;
    int m_tokLine = 1;
    int m_tokColumn = 1;
    bool m_space = false;
    MemoryBudget::Held m_held;
};
