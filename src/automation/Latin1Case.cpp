#include "automation/Latin1Case.h"

namespace Latin1Case {

namespace {

// Latin-1 capitals: A-Z and 0xC0-0xDE without the multiplication sign 0xD7;
// their small letters lie 0x20 above.
bool isCapital(char16_t u)
{
    return (u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7);
}

bool isSmall(char16_t u)
{
    return (u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7);
}

} // namespace

QChar upper(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0xFF)
        return isSmall(u) ? QChar(char16_t(u - 0x20)) : c;
    const QChar mapped = c.toUpper();
    return mapped.unicode() > 0xFF ? mapped : c;
}

QChar lower(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0xFF)
        return isCapital(u) ? QChar(char16_t(u + 0x20)) : c;
    const QChar mapped = c.toLower();
    return mapped.unicode() > 0xFF ? mapped : c;
}


QString upper(const QString &text)
{
    return mapEach(text, [](QChar c) { return upper(c); });
}

QString lower(const QString &text)
{
    return mapEach(text, [](QChar c) { return lower(c); });
}

bool equalIgnoringCase(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lower(a.at(i)) != lower(b.at(i)))
            return false;
    }
    return true;
}

} // namespace Latin1Case
