#include "core/IniText.h"

#include "automation/AnsiCodePage.h"

namespace {

// Far above any name, tag, list or path typed by hand; a longer text would
// only grow the settings files that every later save rewrites whole.
constexpr qsizetype kLongest = 255;

QString common(const QString& text)
{
    if (text.size() > kLongest)
        return QStringLiteral("is longer than ") + QString::number(kLongest) + QStringLiteral(" characters");
    if (text.contains(QLatin1Char('"')))
        return QStringLiteral("holds a double quote, which the settings files drop");
    for (const QChar c : text) {
        // U+0081, U+008D, U+008F, U+0090 and U+009D would pass the code page
        // (its undefined bytes stand for them) yet no one types them, and
        // what reads the files back shows them as nothing or as U+FFFD.
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f))
            return QStringLiteral("holds a line break or a control character");
        if (AnsiCodePage::toUnicode(AnsiCodePage::fromUnicode(c)) != c)
            return QStringLiteral("holds a character that is not Windows-1252, the settings files' code page");
    }
    return QString();
}

bool blankAt(const QString& text, bool start)
{
    if (text.isEmpty())
        return false;
    const QChar c = start ? text.front() : text.back();
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

QString IniText::keyFault(const QString& key, const QString& value)
{
    if (const QString fault = common(key); !fault.isEmpty())
        return fault;
    if (key.contains(QLatin1Char('=')))
        return QStringLiteral("holds \"=\", which ends a key in the settings files");
    if (key.startsWith(QLatin1Char(';')))
        return QStringLiteral("starts with \";\", which makes its line a comment");
    if (blankAt(key, true) || blankAt(key, false))
        return QStringLiteral("starts or ends with a blank, which the settings files drop");
    if (key.startsWith(QLatin1Char('[')) && value.trimmed().endsWith(QLatin1Char(']')))
        return QStringLiteral("starts with \"[\" and its value ends with \"]\", which makes its line a section heading");
    return QString();
}

QString IniText::valueFault(const QString& value, bool pair)
{
    if (const QString fault = common(value); !fault.isEmpty())
        return fault;
    if (pair && value.contains(QLatin1Char('=')))
        return QStringLiteral("holds \"=\", which cuts the value when the settings file is read");
    if (blankAt(value, false))
        return QStringLiteral("ends with a blank, which the settings files drop");
    return QString();
}

QString IniText::fieldFault(const QString& field)
{
    if (const QString fault = common(field); !fault.isEmpty())
        return fault;
    if (field.contains(QLatin1Char(';')))
        return QStringLiteral("holds \";\", which separates the stored fields");
    return QString();
}

QString IniText::tagFault(const QString& tag)
{
    if (const QString fault = fieldFault(tag); !fault.isEmpty())
        return fault;
    return keyFault(tag);
}
