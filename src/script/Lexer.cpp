#include "Lexer.h"

#include "MemoryBudget.h"

#include "SyntaxError.h"
#include "VbDate.h"

#include "automation/Latin1Case.h"

#include <QHash>
#include <cmath>

Lexer::Lexer(const QString &text)
    : m_text(text)
{
}

Kw Lexer::keyword(const QString &lower)
{
    static const QHash<QString, Kw> words = {
        {"and", Kw::And}, {"byref", Kw::ByRef}, {"byval", Kw::ByVal}, {"call", Kw::Call},
        {"case", Kw::Case}, {"class", Kw::Class}, {"const", Kw::Const}, {"dim", Kw::Dim},
        {"do", Kw::Do}, {"each", Kw::Each}, {"else", Kw::Else}, {"elseif", Kw::ElseIf},
        {"empty", Kw::Empty}, {"end", Kw::End}, {"eqv", Kw::Eqv}, {"erase", Kw::Erase},
        {"exit", Kw::Exit}, {"false", Kw::False}, {"for", Kw::For}, {"function", Kw::Function},
        {"if", Kw::If}, {"imp", Kw::Imp}, {"in", Kw::In}, {"is", Kw::Is}, {"loop", Kw::Loop},
        {"me", Kw::Me}, {"mod", Kw::Mod}, {"new", Kw::New}, {"next", Kw::Next}, {"not", Kw::Not},
        {"nothing", Kw::Nothing}, {"null", Kw::Null}, {"on", Kw::On}, {"option", Kw::Option},
        {"or", Kw::Or}, {"private", Kw::Private}, {"public", Kw::Public}, {"redim", Kw::ReDim},
        {"select", Kw::Select}, {"set", Kw::Set}, {"sub", Kw::Sub}, {"then", Kw::Then},
        {"to", Kw::To}, {"true", Kw::True}, {"until", Kw::Until}, {"wend", Kw::Wend},
        {"while", Kw::While}, {"with", Kw::With}, {"xor", Kw::Xor},
    };
    return words.value(lower, Kw::None);
}

QChar Lexer::peek(int ahead) const
{
    int p = m_pos + ahead;
    return p < m_text.size() ? m_text.at(p) : QChar();
}

void Lexer::fail(qint32 number) const
{
    throw SyntaxError::make(number, m_tokLine, m_tokColumn);
}

void Lexer::skipToLineEnd()
{
    while (m_pos < m_text.size() && m_text.at(m_pos) != QLatin1Char('\n') && m_text.at(m_pos) != QLatin1Char('\r'))
        ++m_pos;
}

Token Lexer::make(Tok type)
{
    Token t;
    t.type = type;
    t.line = m_tokLine;
    t.column = m_tokColumn;
    t.spaceBefore = m_space;
    return t;
}

static bool isIdentStart(QChar c)
{
    return c.isLetter();
}

static bool isIdentChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

std::vector<Token> Lexer::tokenize()
{
    std::vector<Token> out;
    auto lastType = [&]() { return out.empty() ? Tok::NewLine : out.back().type; };
    const int n = int(m_text.size());
    m_space = true;
    quint32 turns = 0;
    while (true) {
        // Blanks and line continuations.
        while (m_pos < n) {
            QChar c = m_text.at(m_pos);
            if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QChar(0xA0) || c == QChar(0)) {
                ++m_pos;
                m_space = true;
                continue;
            }
            if (c == QLatin1Char('_') && (m_pos + 1 >= n || !isIdentChar(m_text.at(m_pos + 1)))) {
                int p = m_pos + 1;
                while (p < n && (m_text.at(p) == QLatin1Char(' ') || m_text.at(p) == QLatin1Char('\t')))
                    ++p;
                if (p < n && (m_text.at(p) == QLatin1Char('\r') || m_text.at(p) == QLatin1Char('\n'))) {
                    if (m_text.at(p) == QLatin1Char('\r') && p + 1 < n && m_text.at(p + 1) == QLatin1Char('\n'))
                        ++p;
                    m_pos = p + 1;
                    ++m_line;
                    m_lineStart = m_pos;
                    m_space = true;
                    continue;
                }
            }
            break;
        }
        // A long text is a long piece of work: the run's time-out and a stop end it.
        if ((++turns & 0xFFF) == 0) [[unlikely]] {
            MemoryBudget::checkLongWork();
            m_held.add(qint64(out.size()) * kTokenBytes + qint64(m_pos) * kTextBytesPerChar - m_held.bytes());
        }
        m_tokLine = m_line;
        m_tokColumn = m_pos - m_lineStart + 1;
        if (m_pos >= n) {
            if (lastType() != Tok::NewLine)
                out.push_back(make(Tok::NewLine));
            out.push_back(make(Tok::End));
            return out;
        }
        QChar c = m_text.at(m_pos);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            ++m_pos;
            if (c == QLatin1Char('\r') && peek() == QLatin1Char('\n'))
                ++m_pos;
            if (lastType() != Tok::NewLine)
                out.push_back(make(Tok::NewLine));
            ++m_line;
            m_lineStart = m_pos;
            m_space = true;
            continue;
        }
        if (c == QLatin1Char('\'')) {
            skipToLineEnd();
            continue;
        }
        Token t = make(Tok::End);
        m_space = false;
        bool afterDot = lastType() == Tok::Dot && !t.spaceBefore;
        if (isIdentStart(c)) {
            int start = m_pos;
            while (m_pos < n && isIdentChar(m_text.at(m_pos)))
                ++m_pos;
            t.text = m_text.mid(start, m_pos - start);
            t.lower = Latin1Case::lower(t.text);
            if (!afterDot && t.lower == QLatin1String("rem")) {
                skipToLineEnd();
                m_space = true;
                continue;
            }
            t.kw = afterDot ? Kw::None : keyword(t.lower);
            t.type = t.kw == Kw::None ? Tok::Ident : Tok::Keyword;
            out.push_back(std::move(t));
            continue;
        }
        if (c == QLatin1Char('[')) {
            int close = m_text.indexOf(QLatin1Char(']'), m_pos + 1);
            int eol = m_text.indexOf(QLatin1Char('\n'), m_pos + 1);
            if (close < 0 || (eol >= 0 && eol < close))
                fail(SyntaxError::ExpectedIdentifier);
            t.text = m_text.mid(m_pos + 1, close - m_pos - 1);
            t.lower = Latin1Case::lower(t.text);
            t.type = Tok::Ident;
            m_pos = close + 1;
            out.push_back(std::move(t));
            continue;
        }
        if (c.isDigit() || (c == QLatin1Char('.') && peek(1).isDigit() && !(lastType() == Tok::Ident || lastType() == Tok::RParen) )) {
            lexNumber(t);
            out.push_back(std::move(t));
            continue;
        }
        if (c == QLatin1Char('"')) {
            lexString(t);
            out.push_back(std::move(t));
            continue;
        }
        if (c == QLatin1Char('#')) {
            lexDate(t);
            out.push_back(std::move(t));
            continue;
        }
        if (c == QLatin1Char('&') && radixLiteralAhead()) {
            lexRadix(t);
            out.push_back(std::move(t));
            continue;
        }
        ++m_pos;
        switch (c.unicode()) {
        case ':': t.type = Tok::NewLine; t.colon = true; m_space = true;
            if (lastType() == Tok::NewLine && !out.empty()) { continue; }
            break;
        case '(': t.type = Tok::LParen; break;
        case ')': t.type = Tok::RParen; break;
        case ',': t.type = Tok::Comma; break;
        case '.': t.type = Tok::Dot; break;
        case '+': t.type = Tok::Plus; break;
        case '-': t.type = Tok::Minus; break;
        case '*': t.type = Tok::Star; break;
        case '/': t.type = Tok::Slash; break;
        case '\\': t.type = Tok::Backslash; break;
        case '^': t.type = Tok::Caret; break;
        case '&': t.type = Tok::Amp; break;
        case '=':
            if (peek() == QLatin1Char('<')) { ++m_pos; t.type = Tok::Le; }
            else if (peek() == QLatin1Char('>')) { ++m_pos; t.type = Tok::Ge; }
            else t.type = Tok::Eq;
            break;
        case '<':
            if (peek() == QLatin1Char('>')) { ++m_pos; t.type = Tok::Ne; }
            else if (peek() == QLatin1Char('=')) { ++m_pos; t.type = Tok::Le; }
            else t.type = Tok::Lt;
            break;
        case '>':
            if (peek() == QLatin1Char('=')) { ++m_pos; t.type = Tok::Ge; }
            else if (peek() == QLatin1Char('<')) { ++m_pos; t.type = Tok::Ne; }
            else t.type = Tok::Gt;
            break;
        default:
            fail(SyntaxError::InvalidCharacter);
        }
        out.push_back(std::move(t));
    }
}

void Lexer::lexNumber(Token &t)
{
    const int n = int(m_text.size());
    int start = m_pos;
    bool isFloat = false;
    while (m_pos < n && m_text.at(m_pos).isDigit())
        ++m_pos;
    if (m_pos < n && m_text.at(m_pos) == QLatin1Char('.')) {
        isFloat = true;
        ++m_pos;
        while (m_pos < n && m_text.at(m_pos).isDigit())
            ++m_pos;
    }
    if (m_pos < n && (m_text.at(m_pos) == QLatin1Char('e') || m_text.at(m_pos) == QLatin1Char('E'))) {
        int p = m_pos + 1;
        if (p < n && (m_text.at(p) == QLatin1Char('+') || m_text.at(p) == QLatin1Char('-')))
            ++p;
        if (p < n && m_text.at(p).isDigit()) {
            isFloat = true;
            m_pos = p;
            while (m_pos < n && m_text.at(m_pos).isDigit())
                ++m_pos;
        }
    }
    QString digits = m_text.mid(start, m_pos - start);
    bool forceLong = false;
    if (m_pos < n && m_text.at(m_pos) == QLatin1Char('&') && !isFloat) {
        forceLong = true;
        ++m_pos;
    } else if (m_pos < n && m_text.at(m_pos) == QLatin1Char('#')) {
        isFloat = true;
        ++m_pos;
    }
    if (m_pos < n && isIdentStart(m_text.at(m_pos)))
        fail(SyntaxError::ExpectedEndOfStatement);
    bool ok = false;
    double d = digits.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        fail(SyntaxError::InvalidNumber);
    t.type = Tok::Number;
    if (isFloat)
        t.value = Variant(d);
    else if (!forceLong && d <= 32767)
        t.value = Variant::fromInteger(qint16(d));
    else if (d <= 2147483647.0)
        t.value = Variant::fromLong(qint32(d));
    else
        t.value = Variant(d);
}

// Whether the '&' at the current position starts a hex or octal literal:
// digits of its base follow, and no letter runs on from them. Otherwise the
// '&' joins texts, as in "x" &hi with a variable hi.
bool Lexer::radixLiteralAhead() const
{
    int p = 1;
    int base = 8;
    const QChar kind = Latin1Case::lower(peek(p));
    if (kind == QLatin1Char('h') || kind == QLatin1Char('o')) {
        base = kind == QLatin1Char('h') ? 16 : 8;
        ++p;
    }
    const int first = p;
    while (true) {
        const QChar c = Latin1Case::lower(peek(p));
        const bool digit = (c >= QLatin1Char('0') && c <= QLatin1Char('9') && c.unicode() - '0' < base)
            || (base == 16 && c >= QLatin1Char('a') && c <= QLatin1Char('f'));
        if (!digit)
            break;
        ++p;
    }
    if (p == first)
        return false;
    if (peek(p) == QLatin1Char('&'))
        ++p;
    return !isIdentChar(peek(p));
}

void Lexer::lexRadix(Token &t)
{
    const int n = int(m_text.size());
    ++m_pos; // '&'
    int base = 8;
    if (Latin1Case::lower(peek()) == QLatin1Char('h')) {
        base = 16;
        ++m_pos;
    } else if (Latin1Case::lower(peek()) == QLatin1Char('o')) {
        ++m_pos;
    }
    quint64 v = 0;
    int digits = 0;
    while (m_pos < n) {
        int d = -1;
        QChar c = m_text.at(m_pos);
        if (c.isDigit())
            d = c.digitValue();
        else if (base == 16 && Latin1Case::lower(c) >= QLatin1Char('a') && Latin1Case::lower(c) <= QLatin1Char('f'))
            d = Latin1Case::lower(c).unicode() - 'a' + 10;
        if (d < 0 || d >= base)
            break;
        v = v * quint64(base) + quint64(d);
        if (v > 0xFFFFFFFFull)
            fail(SyntaxError::InvalidNumber);
        ++digits;
        ++m_pos;
    }
    if (digits == 0)
        fail(SyntaxError::InvalidNumber);
    bool forceLong = false;
    if (m_pos < n && m_text.at(m_pos) == QLatin1Char('&')) {
        forceLong = true;
        ++m_pos;
    }
    t.type = Tok::Number;
    // Up to 16 bits are an Integer's (&HFFFF is -1); the '&' suffix reads
    // the digits as a Long's instead, kept as an Integer when the value fits.
    const qint32 value = qint32(quint32(v));
    if (forceLong ? (value >= -32768 && value <= 32767) : v <= 0xFFFF)
        t.value = Variant::fromInteger(qint16(value));
    else
        t.value = Variant::fromLong(value);
}

void Lexer::lexDate(Token &t)
{
    int close = m_text.indexOf(QLatin1Char('#'), m_pos + 1);
    int eol = m_text.indexOf(QLatin1Char('\n'), m_pos + 1);
    if (close < 0 || (eol >= 0 && eol < close))
        fail(SyntaxError::Syntax);
    QString body = m_text.mid(m_pos + 1, close - m_pos - 1).trimmed();
    auto d = VbDate::parseGeneralDate(body);
    if (!d)
        fail(SyntaxError::Syntax);
    m_pos = close + 1;
    t.type = Tok::DateLit;
    t.value = Variant::fromDate(*d);
}

void Lexer::lexString(Token &t)
{
    const int n = int(m_text.size());
    QString s;
    ++m_pos;
    while (true) {
        if (m_pos >= n || m_text.at(m_pos) == QLatin1Char('\n') || m_text.at(m_pos) == QLatin1Char('\r'))
            fail(SyntaxError::UnterminatedString);
        QChar c = m_text.at(m_pos++);
        if (c == QLatin1Char('"')) {
            if (m_pos < n && m_text.at(m_pos) == QLatin1Char('"')) {
                s += c;
                ++m_pos;
                continue;
            }
            break;
        }
        s += c;
    }
    t.type = Tok::String;
    t.value = Variant(std::move(s));
}
