#include "automation/Latin1Case.h"

#include "automation/AnsiCodePage.h"

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

bool inCodePage(QChar c)
{
    return AnsiCodePage::fromUnicode(c) != '?';
}

// A character beyond Latin-1 takes its mapping when that stays beyond Latin-1, and, for a
// character of the code page, when the code page holds the mapped one too: "ƒ" (byte 0x83)
// has a capital the code page lacks, which a file would get as "?".
QChar mappedBeyondLatin1(QChar c, QChar mapped)
{
    if (mapped.unicode() <= 0xFF)
        return c;
    if (inCodePage(c) && !inCodePage(mapped))
        return c;
    return mapped;
}

} // namespace

QChar upper(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0xFF)
        return isSmall(u) ? QChar(char16_t(u - 0x20)) : c;
    return mappedBeyondLatin1(c, c.toUpper());
}

QChar lower(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0xFF)
        return isCapital(u) ? QChar(char16_t(u + 0x20)) : c;
    return mappedBeyondLatin1(c, c.toLower());
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
