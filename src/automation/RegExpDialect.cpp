#include "RegExpDialect.h"

#include "VbError.h"

#include <vector>

namespace {

constexpr qint32 kSyntax = 5017;
constexpr qint32 kQuantifier = 5018;
constexpr qint32 kBracket = 5019;
constexpr qint32 kParen = 5020;
constexpr qint32 kRange = 5021;

// The line terminators of the dialect: '.' stops at them, multi-line '^'/'$' meet them.
const QString kTerminators = QStringLiteral("\\n\\r\\x{2028}\\x{2029}");

QString codePoint(uint c)
{
    return QStringLiteral("\\x{%1}").arg(c, 0, 16);
}

bool isHex(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isOctal(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('7');
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// A character written literally in the PCRE2 text: letters and digits stand
// for themselves, everything else is escaped or written by its code.
QString literal(uint c)
{
    if (c < 128 && (isAsciiLetter(QChar(c)) || isDigit(QChar(c))))
        return QString(QChar(c));
    if (c > 32 && c < 127)
        return QStringLiteral("\\") + QChar(c);
    if (c >= 128 && c <= 0xFFFF) // surrogate halves stay as written, a pair is one character
        return QString(QChar(c));
    return codePoint(c);
}

class Translator
{
public:
    Translator(const QString &pattern, bool multiline)
        : p(pattern)
        , n(int(pattern.size()))
        , m_multiline(multiline)
    {
    }

    RegExpDialect::Translation run()
    {
        m_groups = countGroups();
        // What the last item was, for the quantifier that may follow it.
        enum class Last { Nothing, Atom, Quantifier, Assertion } last = Last::Nothing;
        int depth = 0;
        while (i < n) {
            const QChar c = p.at(i);
            switch (c.unicode()) {
            case '\\': {
                bool assertion = false;
                out += escape(false, assertion);
                last = assertion ? Last::Assertion : Last::Atom;
                continue;
            }
            case '[':
                out += charClass();
                last = Last::Atom;
                continue;
            case '(':
                ++i;
                if (i < n && p.at(i) == QLatin1Char('?')) {
                    if (i + 1 < n
                        && (p.at(i + 1) == QLatin1Char(':') || p.at(i + 1) == QLatin1Char('=')
                            || p.at(i + 1) == QLatin1Char('!'))) {
                        out += QStringLiteral("(?") + p.at(i + 1);
                        i += 2;
                    } else {
                        throw VbError(kSyntax);
                    }
                } else {
                    out += QLatin1Char('(');
                }
                ++depth;
                last = Last::Nothing;
                continue;
            case ')':
                if (depth == 0)
                    throw VbError(kSyntax);
                --depth;
                out += QLatin1Char(')');
                ++i;
                last = Last::Atom;
                continue;
            case '|':
                out += QLatin1Char('|');
                ++i;
                last = Last::Nothing;
                continue;
            case '^':
                out += m_multiline ? QStringLiteral("(?<![^%1])").arg(kTerminators) : QStringLiteral("\\A");
                ++i;
                last = Last::Assertion;
                continue;
            case '$':
                out += m_multiline ? QStringLiteral("(?![^%1])").arg(kTerminators) : QStringLiteral("\\z");
                ++i;
                last = Last::Assertion;
                continue;
            case '.':
                out += QStringLiteral("[^%1]").arg(kTerminators);
                ++i;
                last = Last::Atom;
                continue;
            case '*':
            case '+':
            case '?':
            case '{': {
                QString q;
                if (!quantifier(q)) { // a '{' that starts no quantifier is itself
                    out += QStringLiteral("\\{");
                    ++i;
                    last = Last::Atom;
                    continue;
                }
                if (last != Last::Atom)
                    throw VbError(kQuantifier);
                out += q;
                last = Last::Quantifier;
                continue;
            }
            default:
                out += literal(c.unicode());
                ++i;
                last = Last::Atom;
                continue;
            }
        }
        if (depth != 0)
            throw VbError(kParen);
        return {out, m_groups};
    }

private:
    int countGroups() const
    {
        int count = 0;
        bool inClass = false;
        for (int k = 0; k < n; ++k) {
            const QChar c = p.at(k);
            if (c == QLatin1Char('\\')) {
                ++k;
            } else if (inClass) {
                if (c == QLatin1Char(']'))
                    inClass = false;
            } else if (c == QLatin1Char('[')) {
                inClass = true;
                if (k + 1 < n && p.at(k + 1) == QLatin1Char('^'))
                    ++k;
                if (k + 1 < n && p.at(k + 1) == QLatin1Char(']'))
                    ++k; // "[]" and "[^]" end at once
                else
                    continue;
                inClass = false;
            } else if (c == QLatin1Char('(') && !(k + 1 < n && p.at(k + 1) == QLatin1Char('?'))) {
                ++count;
            }
        }
        return count;
    }

    // At a quantifier character: its PCRE2 text (greedy or lazy), or false for
    // a '{' that is no quantifier.
    bool quantifier(QString &q)
    {
        const QChar c = p.at(i);
        int k = i + 1;
        if (c == QLatin1Char('{')) {
            int start = k;
            while (k < n && isDigit(p.at(k)))
                ++k;
            if (k == start)
                return false;
            const QString low = p.mid(start, k - start);
            QString high = low;
            bool open = false;
            if (k < n && p.at(k) == QLatin1Char(',')) {
                ++k;
                int hs = k;
                while (k < n && isDigit(p.at(k)))
                    ++k;
                high = p.mid(hs, k - hs);
                open = high.isEmpty();
            }
            if (k >= n || p.at(k) != QLatin1Char('}'))
                return false;
            ++k;
            bool okLow = false, okHigh = false;
            qlonglong lo = low.toLongLong(&okLow), hi = open ? 0 : high.toLongLong(&okHigh);
            // PCRE2 counts to 65535; nothing longer is written in practice.
            if (!okLow || lo > 65535 || (!open && (!okHigh || hi > 65535)))
                throw VbError(kSyntax);
            if (!open && hi < lo)
                throw VbError(kSyntax);
            q = open ? QStringLiteral("{%1,}").arg(lo) : QStringLiteral("{%1,%2}").arg(lo).arg(hi);
        } else {
            q = c;
        }
        if (k < n && p.at(k) == QLatin1Char('?')) {
            q += QLatin1Char('?');
            ++k;
        }
        i = k;
        return true;
    }

    // At a backslash. Inside a class, \b is a backspace and back-references
    // read as octal codes; assertion tells whether the escape was \b or \B.
    QString escape(bool inClass, bool &assertion, uint *single = nullptr)
    {
        ++i;
        if (i >= n)
            throw VbError(kSyntax);
        const QChar c = p.at(i++);
        auto one = [&](uint code) {
            if (single)
                *single = code;
            return literal(code);
        };
        switch (c.unicode()) {
        case 'd': case 'D': case 'w': case 'W': case 's': case 'S':
            // ASCII digits and word characters; white space as the dialect
            // lists it, all of which PCRE2's \s (without Unicode properties) matches.
            return QStringLiteral("\\") + c;
        case 'b':
            if (inClass)
                return one(8);
            assertion = true;
            return QStringLiteral("\\b");
        case 'B':
            if (inClass)
                return one('B');
            assertion = true;
            return QStringLiteral("\\B");
        case 'n': return one('\n');
        case 'r': return one('\r');
        case 't': return one('\t');
        case 'f': return one('\f');
        case 'v': return one('\v');
        case 'c':
            if (i < n && isAsciiLetter(p.at(i)))
                return one(p.at(i++).unicode() % 32);
            --i; // "\c" alone is a backslash and a c
            return one('\\');
        case 'x':
            if (i + 1 < n && isHex(p.at(i)) && isHex(p.at(i + 1))) {
                uint v = p.mid(i, 2).toUInt(nullptr, 16);
                i += 2;
                return one(v);
            }
            return one('x');
        case 'u':
            if (i + 3 < n && isHex(p.at(i)) && isHex(p.at(i + 1)) && isHex(p.at(i + 2)) && isHex(p.at(i + 3))) {
                uint v = p.mid(i, 4).toUInt(nullptr, 16);
                i += 4;
                return one(v);
            }
            return one('u');
        default:
            break;
        }
        if (isDigit(c)) {
            --i;
            int start = i;
            while (i < n && isDigit(p.at(i)))
                ++i;
            bool ok = false;
            int number = p.mid(start, i - start).toInt(&ok);
            if (!inClass && c != QLatin1Char('0') && ok && number <= m_groups) {
                // A group that took no part (or is still open) matches the empty text.
                return QStringLiteral("(?(%1)\\g{%1})").arg(number);
            }
            // Otherwise an octal code of up to three digits, or the digit itself.
            i = start;
            if (!isOctal(p.at(i)))
                return one(p.at(i++).unicode());
            uint v = 0;
            int digits = 0;
            while (i < n && digits < 3 && isOctal(p.at(i)) && v * 8 + (p.at(i).unicode() - '0') <= 0377) {
                v = v * 8 + (p.at(i).unicode() - '0');
                ++i;
                ++digits;
            }
            return one(v);
        }
        // Any other escaped character stands for itself.
        return one(c.unicode());
    }

    QString charClass()
    {
        ++i; // '['
        bool negated = false;
        if (i < n && p.at(i) == QLatin1Char('^')) {
            negated = true;
            ++i;
        }
        if (i < n && p.at(i) == QLatin1Char(']')) {
            ++i;
            return negated ? QStringLiteral("[\\s\\S]") : QStringLiteral("(?!)");
        }
        // Items: a single character (with its code) or a class escape (\d...).
        struct Item {
            QString text;
            bool single = false;
            uint code = 0;
            bool rangeDash = false; // an unescaped '-'
        };
        std::vector<Item> items;
        bool closed = false;
        while (i < n) {
            const QChar c = p.at(i);
            if (c == QLatin1Char(']')) {
                ++i;
                closed = true;
                break;
            }
            if (c == QLatin1Char('\\')) {
                bool assertion = false;
                uint code = 0x110000;
                QString t = escape(true, assertion, &code);
                items.push_back({t, code != 0x110000, code, false});
            } else {
                items.push_back({literal(c.unicode()), true, c.unicode(), c == QLatin1Char('-')});
                ++i;
            }
        }
        if (!closed)
            throw VbError(kBracket);
        QString s = negated ? QStringLiteral("[^") : QStringLiteral("[");
        for (size_t k = 0; k < items.size(); ++k) {
            const Item &it = items[k];
            // "a-z": a range between two single characters; a class escape
            // beside a '-' makes the '-' a character of its own.
            if (it.single && !it.rangeDash && k + 2 < items.size() && items[k + 1].rangeDash) {
                const Item &hi = items[k + 2];
                if (hi.single) {
                    if (hi.code < it.code)
                        throw VbError(kRange);
                    s += it.text + QLatin1Char('-') + hi.text;
                    k += 2;
                    continue;
                }
            }
            s += it.text;
        }
        s += QLatin1Char(']');
        return s;
    }

    const QString &p;
    const int n;
    const bool m_multiline;
    int i = 0;
    int m_groups = 0;
    QString out;
};

} // namespace

namespace RegExpDialect {

Translation translate(const QString &pattern, bool multiline)
{
    return Translator(pattern, multiline).run();
}

} // namespace RegExpDialect
