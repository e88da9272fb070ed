#include "automation/ScriptCase.h"

#include "automation/Latin1Case.h"

namespace ScriptCase {

namespace {

constexpr char16_t kSmallYDiaeresis = 0x00FF;
constexpr char16_t kCapitalYDiaeresis = 0x0178;

// The text itself (shared, not copied) when no character changes.
template<class Map>
QString mapped(const QString &text, Map map)
{
    const qsizetype size = text.size();
    const QChar *in = text.constData();
    qsizetype i = 0;
    while (i < size && map(in[i]) == in[i])
        ++i;
    if (i == size)
        return text;
    QString out = text;
    QChar *data = out.data();
    for (; i < size; ++i)
        data[i] = map(data[i]);
    return out;
}

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
    return mapped(text, [](QChar c) { return upper(c); });
}

QString lower(const QString &text)
{
    return mapped(text, [](QChar c) { return lower(c); });
}

} // namespace ScriptCase
