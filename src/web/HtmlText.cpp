#include "web/HtmlText.h"

#include "automation/Latin1Case.h"

namespace HtmlText {

QString escape(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default: out += c;
        }
    }
    return out;
}

QString jsString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\'': out += QLatin1String("\\'"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '<': out += QLatin1String("\\x3C"); break;
        case '>': out += QLatin1String("\\x3E"); break;
        default: out += c;
        }
    }
    return out;
}

QString safeUrl(const QString &url)
{
    // Browsers drop blanks and control characters inside a scheme ("java\tscript:").
    QString squeezed;
    for (const QChar c : url)
        if (c.unicode() > 0x20)
            squeezed += c;
    const qsizetype colon = squeezed.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return url;
    const QString beforeColon = squeezed.left(colon);
    for (const QChar c : beforeColon)
        if (c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#'))
            return url; // the colon belongs to the path or the query: relative
    const QString scheme = Latin1Case::lower(beforeColon);
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return url;
    return QStringLiteral("#");
}

QString ucase(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
            c = QChar(ushort(u - 0x20));
    }
    return out;
}

QString lcase(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const ushort u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
            c = QChar(ushort(u + 0x20));
    }
    return out;
}

QString StripHTML(const QString &text)
{
    QString s = text;
    s.remove(QStringLiteral("&nbsp;"), Qt::CaseInsensitive);
    s.remove(QStringLiteral("&nbsp"), Qt::CaseInsensitive);
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = s.indexOf(QLatin1Char('<'), from);
        if (open < 0)
            break;
        const qsizetype close = s.indexOf(QLatin1Char('>'), open);
        if (close < 0)
            break;
        s.remove(open, close - open + 1);
        from = open;
    }
    return s;
}

QString forLog(const QString &text, int limit)
{
    QString out = text.left(limit);
    for (QChar &c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    if (text.size() > limit)
        out += QLatin1String("...");
    return out;
}

QString shortQuote(const QString &text)
{
    constexpr qsizetype kLongest = 80;
    return text.size() > kLongest ? text.left(kLongest) + QLatin1String("...") : text;
}

} // namespace HtmlText
