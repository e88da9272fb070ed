#include "bridge/ReceivedNumber.h"

#include "automation/Variant.h"
#include "automation/VbError.h"
#include "automation/VbString.h"

#include <QRegularExpression>

#include <cmath>

namespace {

QString withoutBlanks(const QString &text)
{
    QString s;
    s.reserve(text.size());
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            s.append(c);
    }
    return s;
}

// A leading number that reads as 0 although it is not 0 has overflowed.
bool overflows(const QString &text)
{
    const QString s = withoutBlanks(text);
    static const QRegularExpression radix(QStringLiteral("^&(?:[Hh]([0-9A-Fa-f]+)|[Oo]?([0-7]+))"));
    const QRegularExpressionMatch r = radix.match(s);
    if (r.hasMatch()) {
        const QString digits = r.captured(1) + r.captured(2);
        return digits.contains(QRegularExpression(QStringLiteral("[1-9A-Fa-f]")));
    }
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[EeDd][+-]?[0-9]+)?"));
    const QRegularExpressionMatch d = decimal.match(s);
    if (!d.hasMatch())
        return false;
    QString number = d.captured(0);
    number.replace(QLatin1Char('D'), QLatin1Char('e')).replace(QLatin1Char('d'), QLatin1Char('e'));
    bool ok = false;
    const double value = number.toDouble(&ok);
    return !ok && std::isinf(value);
}

} // namespace

double ReceivedNumber(const QString &text)
{
    const double value = VbString::Val(text);
    if (value == 0 && overflows(text))
        throw VbError(VbErr::Overflow);
    return value;
}

qint16 ReceivedCInt(const QString &text)
{
    return Variant::fromDouble(ReceivedNumber(text)).toInteger();
}

qint32 ReceivedCLng(const QString &text)
{
    return Variant::fromDouble(ReceivedNumber(text)).toLong();
}
