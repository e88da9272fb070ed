#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QString>

// The status page's form as a browser reads and posts it.
namespace FormFields {

using Fields = QList<QPair<QString, QString>>;

// The attribute of one input tag, written as the page writes it: name='x' or name ='x'.
inline QString attribute(const QString &tag, const QString &name)
{
    const QRegularExpression re("\\b" + name + "\\s*=\\s*'([^']*)'", QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(tag);
    return m.hasMatch() ? m.captured(1) : QString();
}

inline QString unescape(QString s)
{
    s.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&#39;", "'");
    return s.replace("&amp;", "&");
}

// The body of a form post (application/x-www-form-urlencoded).
inline QByteArray encode(const Fields &fields)
{
    QByteArray out;
    for (const auto &[key, value] : fields) {
        if (!out.isEmpty())
            out += '&';
        out += key.toUtf8().toPercentEncoding("*-._").replace("%20", "+") + '='
            + value.toUtf8().toPercentEncoding("*-._").replace("%20", "+");
    }
    return out;
}

} // namespace FormFields
