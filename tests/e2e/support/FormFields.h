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

// What a browser posts for a page with no button pressed: text and hidden
// fields and the ticked boxes (value "on" unless given) of the page's main form.
inline Fields collect(const QString &page)
{
    Fields fields;
    // Only the page's main form: the two small forms after it post on their own.
    const QString form = page.left(page.indexOf(QLatin1String("</form>")));
    const QRegularExpression input("<input\\b[^>]*>", QRegularExpression::CaseInsensitiveOption);
    for (auto it = input.globalMatch(form); it.hasNext();) {
        const QString tag = it.next().captured(0);
        const QString type = attribute(tag, "type").toLower();
        const QString name = attribute(tag, "name");
        if (name.isEmpty() || type == "submit" || type == "button")
            continue;
        if (type == "checkbox" || type == "radio") {
            if (QRegularExpression("\\schecked\\b").match(tag).hasMatch()) {
                const QString value = attribute(tag, "value");
                fields.append({name, value.isEmpty() ? QStringLiteral("on") : unescape(value)});
            }
            continue;
        }
        fields.append({name, unescape(attribute(tag, "value"))});
    }
    return fields;
}

} // namespace FormFields
