#include "core/PageStyle.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include <QRegularExpression>

namespace PageStyle {

namespace {

// What a log entry shows of a refused value: printable and short.
QString shown(const QString &value)
{
    QString out;
    for (const QChar c : value.left(80))
        out += c.unicode() < 0x20 || c.unicode() == 0x7F ? QLatin1Char('?') : c;
    return out;
}

bool take(QString &current, const QString &value, bool safe, const QString &key, const QString &where)
{
    if (!safe) {
        LogError(kProgramName, where + QStringLiteral(": ") + key + QStringLiteral(" \"") + shown(value)
                                   + QStringLiteral("\" refused, \"") + shown(current) + QStringLiteral("\" kept"));
        return false;
    }
    current = value;
    return true;
}

} // namespace

bool IsSafeStyleSheet(const QString &value)
{
    if (value.isEmpty())
        return true;
    if (value.contains(QLatin1String("//")) || value.contains(QLatin1Char(':')) || value.contains(QLatin1String(".."))
        || value.startsWith(QLatin1Char('/')) || value.contains(QLatin1Char('\\')))
        return false;
    // Nothing that could end the page's link attribute or its line.
    static const QRegularExpression allowed(QStringLiteral("\\A[^\\x00-\\x1F\\x7F\"'<>]+\\z"));
    return allowed.match(value).hasMatch();
}

bool IsSafeBackground(const QString &value)
{
    if (value.isEmpty())
        return true;
    static const QRegularExpression colour(QStringLiteral("\\A(#[0-9A-Fa-f]{3}|#[0-9A-Fa-f]{6}|[A-Za-z]+)\\z"));
    return colour.match(value).hasMatch();
}

bool TakeStyleSheet(QString &current, const QString &value, const QString &where)
{
    return take(current, value, IsSafeStyleSheet(value), QStringLiteral("StyleSheet"), where);
}

bool TakeBackground(QString &current, const QString &value, const QString &where)
{
    return take(current, value, IsSafeBackground(value), QStringLiteral("Background"), where);
}

} // namespace PageStyle
