// The text functions.
#include "Builtins.h"

#include "MemoryBudget.h"
#include "Operators.h"
#include "VbError.h"
#include "VbString.h"

#include "automation/AnsiCodePage.h"
#include "automation/Latin1Case.h"
#include "automation/ScriptCase.h"

#include <limits>

namespace {

using Args = std::vector<Variant>;

QString str(const Variant &v)
{
    return Operators::operand(v).toString();
}

qint32 lng(const Variant &v)
{
    return Operators::operand(v).toLong();
}

// The compare argument: left out or 0 compares binary, 1 as text; any other
// value is refused.
bool textMode(const Args &a, size_t i)
{
    if (Builtins::missing(a, i))
        return false;
    const qint32 mode = lng(a[i]);
    if (mode != 0 && mode != 1)
        throw VbError(VbErr::InvalidProcedureCall);
    return mode == 1;
}

void requireNonNegative(qint32 n)
{
    if (n < 0)
        throw VbError(VbErr::InvalidProcedureCall);
}

Variant fnLen(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    Variant v = Operators::operand(a[0]);
    if (v.isNull())
        return v;
    return Variant::fromLong(qint32(v.isString() ? v.rawString().size() : v.toString().size()));
}

// Left and Right: the first or the last n characters.
template<QString (*F)(const QString &, int)>
Variant endFn(Interpreter &, Frame &, Args &a)
{
    if (a[1].isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    qint32 n = lng(a[1]);
    requireNonNegative(n);
    if (a[0].isNull())
        return Variant::null();
    const QString s = str(a[0]);
    MemoryBudget::checkString(std::min<qint64>(n, s.size()));
    return Variant(F(s, n));
}

Variant fnMid(Interpreter &, Frame &, Args &a)
{
    qint32 start = lng(a[1]);
    if (start < 1)
        throw VbError(VbErr::InvalidProcedureCall);
    qint32 length = -1;
    if (a.size() > 2) {
        length = lng(a[2]);
        requireNonNegative(length);
    }
    if (a[0].isNull())
        return Variant::null();
    QString s = str(a[0]);
    if (start > s.size())
        return Variant(QString());
    MemoryBudget::checkString(length < 0 ? s.size() - start + 1 : std::min<qint64>(length, s.size() - start + 1));
    return Variant(length < 0 ? s.mid(start - 1) : s.mid(start - 1, length));
}

Variant fnInStr(Interpreter &, Frame &, Args &a)
{
    size_t first = 0;
    qint32 start = 1;
    if (a.size() >= 3) {
        if (a[0].isNull())
            throw VbError(VbErr::InvalidUseOfNull);
        start = lng(a[0]);
        first = 1;
    }
    if (start < 1)
        throw VbError(VbErr::InvalidProcedureCall);
    const bool text = a.size() >= 4 && textMode(a, 3);
    if (a[first].isNull() || a[first + 1].isNull())
        return Variant::null();
    QString s = str(a[first]), what = str(a[first + 1]);
    if (start > s.size())
        return Variant::fromLong(what.isEmpty() && start == s.size() + 1 && !s.isEmpty() ? 0 : 0);
    if (what.isEmpty())
        return Variant::fromLong(start);
    return Variant::fromLong(VbString::InStr(start, s, what, text));
}

Variant fnInStrRev(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull() || a[1].isNull())
        return Variant::null();
    QString s = str(a[0]), what = str(a[1]);
    qint32 start = Builtins::missing(a, 2) ? -1 : lng(a[2]);
    if (start == 0 || start < -1)
        throw VbError(VbErr::InvalidProcedureCall);
    const Qt::CaseSensitivity cs = textMode(a, 3) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    if (start == -1)
        start = qint32(s.size());
    if (start > s.size())
        return Variant::fromLong(0);
    if (what.isEmpty())
        return Variant::fromLong(start);
    qsizetype from = start - what.size();
    if (from < 0)
        return Variant::fromLong(0);
    return Variant::fromLong(qint32(s.lastIndexOf(what, from, cs) + 1));
}

Variant fnReplace(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull() || a[1].isNull() || a[2].isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    QString s = str(a[0]), find = str(a[1]), with = str(a[2]);
    qint32 start = Builtins::missing(a, 3) ? 1 : lng(a[3]);
    qint32 count = Builtins::missing(a, 4) ? -1 : lng(a[4]);
    if (start < 1 || count < -1)
        throw VbError(VbErr::InvalidProcedureCall);
    const Qt::CaseSensitivity cs = textMode(a, 5) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    if (start > s.size())
        return Variant(QString());
    if (find.isEmpty() || count == 0) {
        MemoryBudget::checkString(s.size() - start + 1);
        return Variant(s.mid(start - 1));
    }
    const QStringView rest = QStringView(s).mid(start - 1);
    MemoryBudget::TextBuilder out;
    qsizetype pos = 0;
    int done = 0;
    while (count < 0 || done < count) {
        qsizetype at = rest.indexOf(find, pos, cs);
        if (at < 0)
            break;
        out.append(rest.mid(pos, at - pos));
        out.append(with);
        pos = at + find.size();
        ++done;
    }
    out.append(rest.mid(pos));
    return Variant(out.take());
}

Variant fnSplit(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    QString delimiter = Builtins::missing(a, 1) && (a.size() < 2 || a[1].isEmpty()) ? QStringLiteral(" ") : str(a[1]);
    qint32 count = Builtins::missing(a, 2) ? -1 : lng(a[2]);
    if (count < -1)
        throw VbError(VbErr::InvalidProcedureCall);
    const bool text = textMode(a, 3);
    QString s = str(a[0]);
    if (count == 0)
        return Variant::fromArray(std::make_shared<VbArray>(std::vector<VbArray::Bound>{{0, 0}}));
    if (delimiter.isEmpty()) {
        if (s.isEmpty())
            return Variant::fromArray(std::make_shared<VbArray>(std::vector<VbArray::Bound>{{0, 0}}));
        return Variant(QStringList{s});
    }
    // The pieces hold at most the text's characters, in at most one slot per delimiter found.
    const qint64 pieces = std::min<qint64>(s.count(delimiter, text ? Qt::CaseInsensitive : Qt::CaseSensitive) + 1,
                                           count < 0 ? std::numeric_limits<qint64>::max() : count);
    MemoryBudget::checkBytes(pieces * qint64(sizeof(Variant) + sizeof(QString)) + qint64(s.size()) * 2);
    QStringList parts = VbString::Split(s, delimiter, count, text);
    if (parts.isEmpty())
        return Variant::fromArray(std::make_shared<VbArray>(std::vector<VbArray::Bound>{{0, 0}}));
    return Variant(parts);
}

Variant fnJoin(Interpreter &, Frame &, Args &a)
{
    if (!a[0].isArray() || a[0].array().dimensions() > 1)
        throw VbError(VbErr::TypeMismatch);
    QString delimiter = a.size() < 2 ? QStringLiteral(" ") : (a[1].isNull() ? QString() : str(a[1]));
    MemoryBudget::TextBuilder out;
    bool first = true;
    for (const Variant &v : a[0].array().data()) {
        if (!first)
            out.append(delimiter);
        first = false;
        if (v.isString())
            out.append(v.rawString());
        else if (!v.isNull())
            out.append(str(v));
    }
    return Variant(out.take());
}

Variant fnFilter(Interpreter &, Frame &, Args &a)
{
    if (!a[0].isArray() || a[0].array().dimensions() != 1)
        throw VbError(VbErr::TypeMismatch);
    if (a[1].isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    QString value = str(a[1]);
    bool include = Builtins::missing(a, 2) ? true : Operators::operand(a[2]).toBool();
    Qt::CaseSensitivity cs = textMode(a, 3) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    MemoryBudget::checkArray(qint64(a[0].array().size()));
    QStringList out;
    for (const Variant &v : a[0].array().data()) {
        QString s = v.isNull() ? QString() : str(v);
        if (s.contains(value, cs) == include)
            out << s;
    }
    if (out.isEmpty())
        return Variant::fromArray(std::make_shared<VbArray>(std::vector<VbArray::Bound>{{0, 0}}));
    return Variant(out);
}

template<QString (*F)(const QString &)>
Variant textFn(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    const QString s = str(a[0]);
    MemoryBudget::checkString(s.size());
    return Variant(F(s));
}

QString lower(const QString &s) { return ScriptCase::lower(s); }
QString upper(const QString &s) { return ScriptCase::upper(s); }
QString trimBoth(const QString &s) { return VbString::Trim(s); }
QString trimLeft(const QString &s) { return VbString::LTrim(s); }
QString trimRight(const QString &s) { return VbString::RTrim(s); }

Variant fnSpace(Interpreter &, Frame &, Args &a)
{
    qint32 n = lng(a[0]);
    requireNonNegative(n);
    MemoryBudget::checkString(n);
    return Variant(QString(n, QLatin1Char(' ')));
}

Variant fnString(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull() || a[1].isNull())
        return Variant::null();
    qint32 n = lng(a[0]);
    requireNonNegative(n);
    Variant c = Operators::operand(a[1]);
    QChar ch;
    if (c.isString()) {
        if (c.rawString().isEmpty())
            throw VbError(VbErr::InvalidProcedureCall);
        ch = c.rawString().at(0);
    } else {
        ch = AnsiCodePage::toUnicode(quint8(c.toLong() & 0xFF));
    }
    MemoryBudget::checkString(n);
    return Variant(QString(n, ch));
}

Variant fnStrComp(Interpreter &, Frame &, Args &a)
{
    const bool text = textMode(a, 2);
    if (a[0].isNull() || a[1].isNull())
        return Variant::null();
    QString x = str(a[0]), y = str(a[1]);
    int c = QString::compare(x, y, text ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return Variant::fromInteger(qint16(c < 0 ? -1 : c > 0 ? 1 : 0));
}

Variant fnStrReverse(Interpreter &, Frame &, Args &a)
{
    QString s = str(a[0]);
    MemoryBudget::checkString(s.size());
    std::reverse(s.begin(), s.end());
    return Variant(s);
}

Variant fnAsc(Interpreter &, Frame &, Args &a)
{
    QString s = str(a[0]);
    if (s.isEmpty())
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant::fromInteger(qint16(AnsiCodePage::fromUnicode(s.at(0))));
}

// AscB and ChrB: the character's own number below 256, without the code page.
Variant fnAscB(Interpreter &, Frame &, Args &a)
{
    QString s = str(a[0]);
    if (s.isEmpty())
        throw VbError(VbErr::InvalidProcedureCall);
    ushort u = s.at(0).unicode();
    return Variant::fromInteger(qint16(u < 256 ? u : '?'));
}

Variant fnAscW(Interpreter &, Frame &, Args &a)
{
    QString s = str(a[0]);
    if (s.isEmpty())
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant::fromInteger(qint16(s.at(0).unicode()));
}

Variant fnChr(Interpreter &, Frame &, Args &a)
{
    qint32 n = lng(a[0]);
    if (n < 0 || n > 255)
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant(QString(AnsiCodePage::toUnicode(quint8(n))));
}

Variant fnChrB(Interpreter &, Frame &, Args &a)
{
    qint32 n = lng(a[0]);
    if (n < 0 || n > 255)
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant(QString(QChar(ushort(n))));
}

Variant fnChrW(Interpreter &, Frame &, Args &a)
{
    qint32 n = lng(a[0]);
    if (n < -32768 || n > 65535)
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant(QString(QChar(ushort(n & 0xFFFF))));
}

Variant radix(const Variant &in, int base)
{
    Variant v = Operators::operand(in);
    if (v.isNull())
        return v;
    quint32 bits;
    switch (v.type()) {
    case Variant::Empty: bits = 0; break;
    case Variant::Byte: bits = v.rawByte(); break;
    case Variant::Boolean:
    case Variant::Integer: bits = quint16(v.toInteger()); break;
    default: bits = quint32(v.toLong()); break;
    }
    return Variant(Latin1Case::upper(QString::number(bits, base)));
}

Variant fnHex(Interpreter &, Frame &, Args &a)
{
    return radix(a[0], 16);
}

Variant fnOct(Interpreter &, Frame &, Args &a)
{
    return radix(a[0], 8);
}

Variant fnEscape(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    static const QString plain = QStringLiteral("@*_+-./");
    static const char hex[] = "0123456789ABCDEF";
    const QString s = str(a[0]);
    MemoryBudget::TextBuilder out;
    for (QChar c : s) {
        ushort u = c.unicode();
        if ((u < 128 && c.isLetterOrNumber()) || plain.contains(c)) {
            out.append(c);
        } else if (u < 256) {
            const QChar code[] = {QLatin1Char('%'), QLatin1Char(hex[u >> 4]), QLatin1Char(hex[u & 15])};
            out.append(QStringView(code, 3));
        } else {
            const QChar code[] = {QLatin1Char('%'), QLatin1Char('u'), QLatin1Char(hex[u >> 12]),
                                  QLatin1Char(hex[(u >> 8) & 15]), QLatin1Char(hex[(u >> 4) & 15]),
                                  QLatin1Char(hex[u & 15])};
            out.append(QStringView(code, 6));
        }
    }
    return Variant(out.take());
}

Variant fnUnescape(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    QString s = str(a[0]), out;
    MemoryBudget::checkString(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        bool ok = false;
        if (s[i] == QLatin1Char('%')) {
            if (i + 5 < s.size() + 0 && Latin1Case::lower(s[i + 1]) == QLatin1Char('u')) {
                ushort u = s.mid(i + 2, 4).toUShort(&ok, 16);
                if (ok) {
                    out += QChar(u);
                    i += 5;
                    continue;
                }
            }
            if (i + 2 < s.size() + 0) {
                ushort u = s.mid(i + 1, 2).toUShort(&ok, 16);
                if (ok) {
                    out += QChar(u);
                    i += 2;
                    continue;
                }
            }
        }
        out += s[i];
    }
    return Variant(out);
}

} // namespace

void Builtins::addStrings(BuiltinTable &t)
{
    auto add = [&](const char *name, Builtin::Fn fn, int minArgs, int maxArgs) {
        t.insert(QString::fromLatin1(name), Builtin{fn, minArgs, maxArgs, {}});
    };
    add("len", fnLen, 1, 1);
    add("left", endFn<VbString::Left>, 2, 2);
    add("right", endFn<VbString::Right>, 2, 2);
    add("mid", fnMid, 2, 3);
    add("instr", fnInStr, 2, 4);
    add("instrrev", fnInStrRev, 2, 4);
    add("replace", fnReplace, 3, 6);
    add("split", fnSplit, 1, 4);
    add("join", fnJoin, 1, 2);
    add("filter", fnFilter, 2, 4);
    add("lcase", textFn<lower>, 1, 1);
    add("ucase", textFn<upper>, 1, 1);
    add("trim", textFn<trimBoth>, 1, 1);
    add("ltrim", textFn<trimLeft>, 1, 1);
    add("rtrim", textFn<trimRight>, 1, 1);
    add("space", fnSpace, 1, 1);
    add("string", fnString, 2, 2);
    add("strcomp", fnStrComp, 2, 3);
    add("strreverse", fnStrReverse, 1, 1);
    add("asc", fnAsc, 1, 1);
    add("ascb", fnAscB, 1, 1);
    add("ascw", fnAscW, 1, 1);
    add("chr", fnChr, 1, 1);
    add("chrb", fnChrB, 1, 1);
    add("chrw", fnChrW, 1, 1);
    add("hex", fnHex, 1, 1);
    add("oct", fnOct, 1, 1);
    add("escape", fnEscape, 1, 1);
    add("unescape", fnUnescape, 1, 1);
}
