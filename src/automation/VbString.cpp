#include "VbString.h"

#include "VbError.h"
#include "automation/Latin1Case.h"

#include <cmath>
#include <limits>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

// &H / &O digits as a Long's bits; with wrap16, up to 16 bits as an
// Integer's (Val and CInt read "&HFFFF" as -1, the other conversions as 65535).
std::optional<double> radixValue(const QString &digits, int base, bool wrap16)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint64 v = 0;
    for (QChar c : digits) {
        int d = c.isDigit() ? c.digitValue() : (Latin1Case::upper(c).unicode() - 'A' + 10);
        if (d < 0 || d >= base)
            return std::nullopt;
        v = v * base + quint64(d);
        if (v > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (wrap16 && v <= 0xFFFF)
        return double(qint16(quint16(v)));
    return double(qint32(quint32(v)));
}

} // namespace

namespace VbString {

// Val's reading; `overflowed` tells a number too large to hold from a real 0.
static double readVal(const QString &text, bool &overflowed)
{
    overflowed = false;
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!isBlank(c))
            s.append(c);

    if (s.startsWith(QLatin1Char('&')) && s.size() > 1) {
        QChar kind = Latin1Case::upper(s.at(1));
        int base = kind == QLatin1Char('H') ? 16 : (kind == QLatin1Char('O') ? 8 : 0);
        int from = base ? 2 : 1;
        if (!base)
            base = 8; // "&17" is octal too
        int i = from;
        while (i < s.size()) {
            QChar c = Latin1Case::upper(s.at(i));
            int d = c.isDigit() ? c.digitValue() : (c >= QLatin1Char('A') && c <= QLatin1Char('F') ? c.unicode() - 'A' + 10 : 99);
            if (d >= base)
                break;
            ++i;
        }
        const QString digits = s.mid(from, i - from);
        const std::optional<double> value = radixValue(digits, base, true);
        overflowed = !value && !digits.isEmpty();
        return value.value_or(0);
    }

    int i = 0;
    QString num;
    if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+')))
        num.append(s[i++]);
    bool digits = false, dot = false;
    while (i < s.size()) {
        QChar c = s[i];
        if (c.isDigit() && c.unicode() < 128) {
            digits = true;
            num.append(c);
        } else if (c == QLatin1Char('.') && !dot) {
            dot = true;
            num.append(c);
        } else {
            break;
        }
        ++i;
    }
    if (!digits)
        return 0;
    if (i < s.size() && (Latin1Case::upper(s[i]) == QLatin1Char('E') || Latin1Case::upper(s[i]) == QLatin1Char('D'))) {
        QString exp = QStringLiteral("e");
        int j = i + 1;
        if (j < s.size() && (s[j] == QLatin1Char('-') || s[j] == QLatin1Char('+')))
            exp.append(s[j++]);
        int start = j;
        while (j < s.size() && s[j].isDigit() && s[j].unicode() < 128)
            exp.append(s[j++]);
        if (j > start)
            num.append(exp);
    }
    bool ok = false;
    double v = num.toDouble(&ok);
    overflowed = !ok && std::isinf(v);
    return ok ? v : 0;
}

double Val(const QString &text)
{
    bool overflowed;
    return readVal(text, overflowed);
}

double ValOrOverflow(const QString &text)
{
    bool overflowed;
    const double value = readVal(text, overflowed);
    if (overflowed)
        throw VbError(VbErr::Overflow);
    return value;
}

// The number of a "&H" or "&O" text; nothing for any other text.
static std::optional<double> radixText(const QString &s, bool wrap16)
{
    if (!s.startsWith(QLatin1Char('&')) || s.size() <= 2)
        return std::nullopt;
    QChar kind = Latin1Case::upper(s.at(1));
    if (kind == QLatin1Char('H'))
        return radixValue(s.mid(2), 16, wrap16);
    if (kind == QLatin1Char('O'))
        return radixValue(s.mid(2), 8, wrap16);
    return std::nullopt;
}

std::optional<qint16> parseIntegerBits(const QString &text)
{
    const QString s = text.trimmed();
    const std::optional<double> value = radixText(s, true);
    if (!value || *value < -32768 || *value > 32767)
        return std::nullopt;
    return qint16(*value);
}

std::optional<double> parseNumber(const QString &text, bool *overflow)
{
    if (overflow)
        *overflow = false;
    QString s = text.trimmed();
    if (s.isEmpty())
        return std::nullopt;
    if (s.startsWith(QLatin1Char('&')) && s.size() > 2)
        return radixText(s, false);
    bool negative = false;
    int i = 0;
    if (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+')) {
        negative = s[i] == QLatin1Char('-');
        ++i;
        while (i < s.size() && s[i] == QLatin1Char(' '))
            ++i;
    }
    QString body;
    bool digits = false, dot = false, exp = false;
    for (; i < s.size(); ++i) {
        QChar c = s[i];
        if (c.isDigit() && c.unicode() < 128) {
            digits = true;
            body.append(c);
        } else if (c == QLatin1Char(',') && !dot && !exp && digits) {
            continue; // thousands separator
        } else if (c == QLatin1Char('.') && !dot && !exp) {
            dot = true;
            body.append(c);
        } else if ((Latin1Case::upper(c) == QLatin1Char('E') || Latin1Case::upper(c) == QLatin1Char('D')) && digits && !exp) {
            exp = true;
            body.append(QLatin1Char('e'));
            if (i + 1 < s.size() && (s[i + 1] == QLatin1Char('-') || s[i + 1] == QLatin1Char('+')))
                body.append(s[++i]);
            if (i + 1 >= s.size() || !s[i + 1].isDigit())
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    bool ok = false;
    double v = body.toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        if (overflow)
            *overflow = std::isinf(v);
        return std::nullopt;
    }
    return negative ? -v : v;
}

bool IsNumeric(const QString &text)
{
    return parseNumber(text).has_value();
}

static QString formatDigits(double value, int precision)
{
    if (value == 0)
        return QStringLiteral("0");
    QString s = QString::number(value, 'g', precision);
    int e = s.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        // VB writes 1E+20 and 1E-05: upper-case marker, sign, at least two digits.
        QString mant = s.left(e);
        QString ex = s.mid(e + 1);
        QChar sign = QLatin1Char('+');
        if (ex.startsWith(QLatin1Char('-')) || ex.startsWith(QLatin1Char('+'))) {
            sign = ex[0];
            ex = ex.mid(1);
        }
        while (ex.size() > 2 && ex.startsWith(QLatin1Char('0')))
            ex = ex.mid(1);
        if (ex.size() < 2)
            ex.prepend(QLatin1Char('0'));
        s = mant + QLatin1Char('E') + sign + ex;
    }
    return s;
}

QString formatDouble(double value)
{
    return formatDigits(value, 15);
}

QString formatSingle(float value)
{
    return formatDigits(double(value), 7);
}

double roundHalfEven(double value)
{
    return std::nearbyint(value);
}

QString LTrim(const QString &text)
{
    int i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    return text.mid(i);
}

QString RTrim(const QString &text)
{
    int n = text.size();
    while (n > 0 && text[n - 1] == QLatin1Char(' '))
        --n;
    return text.left(n);
}

QString Trim(const QString &text)
{
    return LTrim(RTrim(text));
}

QStringList Split(const QString &text, const QString &delimiter, int count, bool textCompare)
{
    QStringList out;
    if (text.isEmpty() || count == 0)
        return out;
    if (delimiter.isEmpty()) {
        out << text;
        return out;
    }
    const Qt::CaseSensitivity cs = textCompare ? Qt::CaseInsensitive : Qt::CaseSensitive;
    int from = 0;
    while (count < 0 || out.size() < count - 1) {
        int at = text.indexOf(delimiter, from, cs);
        if (at < 0)
            break;
        out << text.mid(from, at - from);
        from = at + delimiter.size();
    }
    out << text.mid(from);
    return out;
}

QString Mid(const QString &text, int start, int length)
{
    if (start < 1)
        throw VbError(VbErr::InvalidProcedureCall);
    if (length < -1)
        throw VbError(VbErr::InvalidProcedureCall);
    if (start > text.size())
        return QString();
    return length < 0 ? text.mid(start - 1) : text.mid(start - 1, length);
}

QString Left(const QString &text, int length)
{
    if (length < 0)
        throw VbError(VbErr::InvalidProcedureCall);
    return text.left(length);
}

QString Right(const QString &text, int length)
{
    if (length < 0)
        throw VbError(VbErr::InvalidProcedureCall);
    return text.right(length);
}

int InStr(int start, const QString &text, const QString &what, bool textCompare)
{
    if (start < 1)
        throw VbError(VbErr::InvalidProcedureCall);
    if (start > text.size())
        return what.isEmpty() && start == text.size() + 1 && !text.isEmpty() ? start : 0;
    if (what.isEmpty())
        return start;
    int at = text.indexOf(what, start - 1, textCompare ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return at < 0 ? 0 : at + 1;
}

int InStr(const QString &text, const QString &what)
{
    return InStr(1, text, what, false);
}

int InStrRev(const QString &text, const QString &what, int start, bool textCompare)
{
    if (start == 0 || start < -1)
        throw VbError(VbErr::InvalidProcedureCall);
    if (text.isEmpty())
        return 0;
    if (start == -1)
        start = text.size();
    if (what.isEmpty())
        return start <= text.size() ? start : 0;
    if (start > text.size())
        return 0;
    int from = start - what.size();
    if (from < 0)
        return 0;
    int at = text.lastIndexOf(what, from, textCompare ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return at < 0 ? 0 : at + 1;
}

} // namespace VbString
