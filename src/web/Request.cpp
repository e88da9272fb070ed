#include "web/Request.h"

#include "web/HtmlText.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"
#include "automation/AnsiCodePage.h"

#include <QStringDecoder>

namespace {

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// The request target is absolute ("http://host/...") when it begins with a scheme.
bool isAbsoluteTarget(const QString &target)
{
    return target.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || target.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// Headers the security checks and the framing read. HTTP lets blanks stand
// around the colon; a check that missed "Host:x" would let it through.
bool isGuardedHeader(const QString &name)
{
    for (const char *guarded : {"host", "origin", "referer", "content-length", "transfer-encoding"})
        if (name.compare(QLatin1String(guarded), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

QString Request::ServerVariables(const QString &name) const
{
    const QString lower = HtmlText::lcase(name);
    if (lower == QLatin1String("http_user_agent"))
        return m_headers.value(QStringLiteral("User-Agent"));
    if (lower == QLatin1String("remote_addr"))
        return m_remoteip;
    if (lower == QLatin1String("local_addr"))
        return m_localip;
    return m_headers.value(name);
}

namespace {

// "+" as a blank and each %XX escape as one byte of the code page; every
// other character stands for itself. `controls`: whether an escaped control
// character stays one (else it becomes a blank).
QString decodeEscapes(const QString &s, bool controls)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('+')) {
            out += QLatin1Char(' ');
        } else if (c == QLatin1Char('%') && i + 2 < s.size() && hexDigit(s.at(i + 1)) >= 0
                   && hexDigit(s.at(i + 2)) >= 0) {
            int code = hexDigit(s.at(i + 1)) * 16 + hexDigit(s.at(i + 2));
            if (code < 32 && !controls)
                code = 32;
            out += AnsiCodePage::toUnicode(quint8(code));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString Request::Decode(const QString &s)
{
    return decodeEscapes(s, false);
}

namespace {

// The bytes of a form body, each escape as its byte; false when the body
// holds a character its client did not escape (no browser sends one).
bool escapedBytes(const QString &s, QByteArray &bytes)
{
    bytes.clear();
    bytes.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('+')) {
            bytes += ' ';
        } else if (c == QLatin1Char('%') && i + 2 < s.size() && hexDigit(s.at(i + 1)) >= 0
                   && hexDigit(s.at(i + 2)) >= 0) {
            bytes += char(hexDigit(s.at(i + 1)) * 16 + hexDigit(s.at(i + 2)));
            i += 2;
        } else if (c.unicode() < 0x80) {
            bytes += char(c.unicode());
        } else {
            return false;
        }
    }
    return true;
}

// A leading byte-order mark stays a character, so that the checks of what
// is stored refuse it as they refuse it anywhere else in a field.
QString fromUtf8(const QByteArray &bytes, bool *valid = nullptr)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (valid)
        *valid = !utf8.hasError();
    return text;
}

QString decodeUtf8Field(const QString &s)
{
    QByteArray bytes;
    escapedBytes(s, bytes);
    return fromUtf8(bytes);
}

QString decodeCodePageField(const QString &s)
{
    return decodeEscapes(s, true);
}

} // namespace

bool Request::IsUtf8Form(const QString &body)
{
    QByteArray bytes;
    bool valid = false;
    if (escapedBytes(body, bytes))
        fromUtf8(bytes, &valid);
    return valid;
}

void Request::parseForm(const QString &body)
{
    // A browser encodes a form from its characters, so the post of a page
    // that posts UTF-8 is UTF-8 through and through (an ASCII body is too).
    // A body that is not must come from a tab of the page as it was before,
    // which posted Windows-1252, or be made by hand: all of it is read in the
    // code page, never one field one way and the next another, and the page
    // says so.
    if (IsUtf8Form(body)) {
        ParseKeyValues(body, m_formFields, &decodeUtf8Field);
        return;
    }
    m_formReadAsCodePage = true;
    ParseKeyValues(body, m_formFields, &decodeCodePageField);
}

void Request::ParseKeyValues(const QString &text, FieldCollection &target, QString (*decode)(const QString &))
{
    if (text.isEmpty())
        return;
    for (const QString &piece : text.split(QLatin1Char('&'))) {
        if (piece.isEmpty())
            continue;
        const QStringList parts = piece.split(QLatin1Char('='));
        KeyValuePair pair;
        pair.setKey(decode(parts.at(0)));
        pair.setValue(parts.size() > 1 ? decode(parts.at(1)) : QString());
        target.add(pair);
    }
}

void Request::ParsePage(const QString &sData)
{
    const qsizetype blank = sData.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return;
    qsizetype lineEnd = sData.indexOf(QLatin1String("\r\n"));
    if (lineEnd < 0)
        lineEnd = sData.size();
    // The protocol token is the last word of the request line, so a path that
    // holds "http" does not end the path early.
    const qsizetype lastBlank = sData.lastIndexOf(QLatin1Char(' '), lineEnd - 1);
    const qsizetype version = lastBlank + 1;
    if (lastBlank <= blank || !sData.mid(version, 4).startsWith(QLatin1String("HTTP"), Qt::CaseInsensitive))
        return;
    m_method = sData.left(blank);
    const QString target = sData.mid(blank + 1, lastBlank - blank - 1);
    if (target.isEmpty() || isAbsoluteTarget(target)) {
        // A client can repeat this at will: one entry per minute, and of its
        // text only the request line.
        RefusalLog::Log(kProgramName,
                        QStringLiteral("ParsePage i=") + QString::number(blank + 1) + QStringLiteral(",j=")
                            + QString::number(version + 1) + QStringLiteral(",len=") + QString::number(sData.size())
                            + QStringLiteral(", Data=") + HtmlText::forLog(sData.left(lineEnd), 80),
                        QStringLiteral("ParsePage request target"));
        return;
    }
    const qsizetype question = target.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        const QString rawQuery = target.mid(question + 1);
        m_query = QLatin1Char('?') + Decode(rawQuery);
        ParseKeyValues(rawQuery, m_queryFields);
        m_page = Decode(target.left(question));
    } else {
        m_query.clear();
        m_page = Decode(target);
    }
    m_payload.clear();

    const qsizetype blankLine = sData.indexOf(QLatin1String("\r\n\r\n"), version);
    if (blankLine >= 0) {
        m_header = sData.mid(version, blankLine - version);
        const qsizetype bodyStart = blankLine + 4;
        if (sData.size() - bodyStart > 2) {
            if (m_method == QLatin1String("POST"))
                m_method = QStringLiteral("POSTx");
            QString body = sData.mid(bodyStart);
            body.remove(QLatin1String("\r\n"));
            m_payload = Decode(body);
            parseForm(body);
        }
    } else {
        m_header = sData.mid(version);
    }

    const QStringList lines = m_header.split(QLatin1String("\r\n"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        KeyValuePair pair;
        if (colon > 0 && isGuardedHeader(line.left(colon).trimmed())) {
            pair.setKey(line.left(colon).trimmed());
            pair.setValue(line.mid(colon + 1).trimmed());
        } else {
            const QStringList parts = line.split(QLatin1String(": "));
            if (parts.size() != 2)
                continue;
            pair.setKey(parts.at(0));
            pair.setValue(parts.at(1));
        }
        m_headers.add(pair);
    }
}

Request Request::withoutForm() const
{
    Request copy(*this);
    copy.m_formFields = FieldCollection();
    copy.m_formReadAsCodePage = false;
    copy.m_payload.clear();
    if (copy.m_method == QLatin1String("POSTx"))
        copy.m_method = QStringLiteral("POST");
    return copy;
}

void Request::AddPostData(const QString &s)
{
    parseForm(s);
}
