#include "automation/ScriptCase.h"

#include "automation/Latin1Case.h"

namespace ScriptCase {

namespace {

constexpr char16_t kSmallYDiaeresis = 0x00FF;
constexpr char16_t kCapitalYDiaeresis = 0x0178;

} // namespace

QChar upper(QChar c)
{
    if (c.unicode() == kSmallYDiaeresis)
        return QChar(kCapitalYDiaeresis);
    return Latin1Case::upper(c);
}

QChar lower(QChar c)
{
    if (c.unicode() == kCapitalYDiaeresis)
        return QChar(kSmallYDiaeresis);
    return Latin1Case::lower(c);
}

QString upper(const QString &text)
{
    return Latin1Case::mapEach(text, [](QChar c) { return upper(c); });
}

QString lower(const QString &text)
{
    return Latin1Case::mapEach(text, [](QChar c) { return lower(c); });
}

} // namespace ScriptCase
