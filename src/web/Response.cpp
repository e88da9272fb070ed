#include "web/Response.h"

#include "core/RefusalLog.h"

#include "web/HtmlText.h"
#include "web/TCPServer.h"
#include "web/WebClock.h"

#include "core/ConfigPath.h"
#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "automation/VbError.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kNotFoundBody = QStringLiteral("<html><h1>404 File Not Found</h1></html>");
const QString kRefusalBody = QStringLiteral("<HTML>Unauthorized Access<HTML>");

QString dateText()
{
    return WebClock::mediumDate(WebClock::now());
}

QString lastModified(const QString &path)
{
    return WebClock::generalDate(QFileInfo(path).lastModified());
}

QString page(const QString &statusLine, const QString &body)
{
    FastString s;
    s.Add(statusLine + kCrLf);
    s.Add(QStringLiteral("Server: tvk") + kCrLf);
    s.Add(QStringLiteral("Date: ") + dateText() + kCrLf);
    s.Add(QStringLiteral("Expires: Tue, 04 Dec 1993 21:29:02 GMT") + kCrLf);
    s.Add(QStringLiteral("Accept-Ranges: bytes") + kCrLf);
    s.Add(QStringLiteral("Content-Type: text/html") + kCrLf);
    s.Add(QStringLiteral("Content-Length: ") + QString::number(body.size()) + kCrLf);
    s.Add(QStringLiteral("Cache-Control: no-cache") + kCrLf);
    s.Add(kCrLf);
    s.Add(body);
    return s.Value();
}

} // namespace

void Response::setIndex(qint16 index)
{
    m_index = index;
    m_generation = TCPServer::loaded() ? TCPServer::instance().generation(index) : 0;
}

quint64 Response::generationFor(qint16 index) const
{
    if (index == m_index)
        return m_generation;
    return TCPServer::loaded() ? TCPServer::instance().generation(index) : 0;
}

bool Response::sendText(qint16 index, const QByteArray &bytes)
{
    if (m_answered && index == m_index)
        return false;
    if (index == m_index)
        m_answered = true;
    if (!TCPServer::loaded())
        return false;
    return TCPServer::instance().sendReply(index, generationFor(index), bytes);
}

void Response::Redirect(const QString &)
{
    try {
        if (!sendText(m_index, AnsiCodePage::encode(page(QStringLiteral("HTTP/1.1 403 Forbidden"), kRefusalBody))))
            throw VbError(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TCPSever_SendTextString "));
    }
}

void Response::Send(const QString &sData)
{
    SendTextString(sData, m_index);
}

void Response::SendTextString(const QString &sResponse, qint16 index)
{
    try {
        if (m_answered && index == m_index)
            return; // the security gate refused this page already
        if (!sendText(index, AnsiCodePage::encode(page(QStringLiteral("HTTP/1.1 200 OK"), sResponse))))
            throw VbError(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TCPSever_SendTextString "));
    }
}

void Response::SendTextFile(const QString &sShortFile, qint16 index)
{
    try {
        const QString path = fileUnderRoot(sShortFile);
        if (path.isEmpty()) {
            SendErrorResponse(index);
            return;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw VbError(53, QStringLiteral("File not found"));
        const QString text = AnsiCodePage::decode(file.readAll());
        FastString s;
        s.Add(QStringLiteral("HTTP/1.0 200 OK") + kCrLf);
        s.Add(QStringLiteral("Server: tvk") + kCrLf);
        s.Add(QStringLiteral("Date: ") + dateText() + kCrLf);
        s.Add(QStringLiteral("Accept-Ranges: bytes") + kCrLf);
        s.Add(QStringLiteral("Content-Type: ") + ContentType(path) + kCrLf);
        s.Add(QStringLiteral("Last-Modified: ") + lastModified(path) + kCrLf);
        s.Add(QStringLiteral("Content-Length: ") + QString::number(text.size()) + kCrLf);
        s.Add(kCrLf);
        s.Add(text);
        if (!sendText(index, AnsiCodePage::encode(s.Value()))) {
            const int state = TCPServer::loaded() ? TCPServer::instance().State(index) : 0;
            LogError(kProgramName, QStringLiteral("TCPServer Unable to send TextFile ") + ProgramRelative(path)
                                       + QStringLiteral(" to socket ") + QString::number(index)
                                       + QStringLiteral(" because State is ") + QString::number(state));
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TCPServer_SendTextFile "));
    }
}

void Response::SendErrorResponse(qint16 index)
{
    try {
        FastString s;
        s.Add(QStringLiteral("HTTP/1.1 404 Object Not Found") + kCrLf);
        s.Add(QStringLiteral("Server: tvk") + kCrLf);
        s.Add(QStringLiteral("Date: ") + dateText() + kCrLf);
        s.Add(QStringLiteral("Connection: Close") + kCrLf);
        s.Add(QStringLiteral("Content-Type: text/html") + kCrLf);
        s.Add(QStringLiteral("Content-Length: ") + QString::number(kNotFoundBody.size()) + kCrLf);
        s.Add(kCrLf);
        s.Add(kNotFoundBody);
        if (!sendText(index, AnsiCodePage::encode(s.Value())))
            throw VbError(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TCPServer_SendError_Response "));
    }
}

void Response::SendBinaryFile(const QString &sFile, qint16 windex)
{
    try {
        if (windex <= 0 || windex >= TCPServer::kElements)
            throw VbError(9, QStringLiteral("Subscript out of range"));
        const QString path = fileUnderRoot(sFile);
        if (path.isEmpty()) {
            const QString header = QStringLiteral("HTTP/1.1 404 Not Found") + kCrLf + QStringLiteral("Server: tvk")
                + kCrLf + QStringLiteral("Date:") + dateText() + kCrLf + kCrLf;
            if (!sendText(windex, AnsiCodePage::encode(header)))
                throw VbError(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
            return;
        }
        FastString s;
        s.Add(QStringLiteral("HTTP/1.1 200 OK") + kCrLf);
        s.Add(QStringLiteral("Server: tvk") + kCrLf);
        s.Add(QStringLiteral("Date:") + dateText() + kCrLf);
        s.Add(QStringLiteral("Last-Modified: ") + lastModified(path) + kCrLf);
        s.Add(QStringLiteral("Accept-Ranges: bytes") + kCrLf);
        s.Add(QStringLiteral("Content-Length: ") + QString::number(QFileInfo(path).size()) + kCrLf);
        s.Add(QStringLiteral("Connection: Close") + kCrLf);
        s.Add(QStringLiteral("Content-Type: ") + ContentType(path) + kCrLf);
        s.Add(kCrLf);
        if (m_answered && windex == m_index)
            return;
        if (windex == m_index)
            m_answered = true;
        if (!TCPServer::loaded()
            || !TCPServer::instance().sendFile(windex, generationFor(windex), AnsiCodePage::encode(s.Value()), path))
            throw VbError(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TCPServer_SendBinaryFile "));
    }
}

QString Response::fileUnderRoot(const QString &shortFile)
{
    QString relative = shortFile;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString root = TCPServer::loaded() ? TCPServer::instance().htmlRoot()
                                             : ResolvePathNoCase(gAppPath, QStringLiteral("HTML"));
    const auto refuse = [&] {
        RefusalLog::Log(kProgramName,
                        QStringLiteral("TCPServer refused a path outside the HTML folder: ") + HtmlText::forLog(shortFile, 80),
                        QStringLiteral("TCPServer path outside"));
        return QString();
    };
    if (relative.contains(QLatin1String("..")))
        return refuse();
    const QString path = ResolvePathNoCase(root, relative);
    const QFileInfo info(path);
    if (!info.isFile() || info.fileName().startsWith(QLatin1Char('.')))
        return QString();
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (canonicalRoot.isEmpty() || !info.canonicalFilePath().startsWith(canonicalRoot + QLatin1Char('/')))
        return refuse();
    return path;
}

QString Response::ContentType(const QString &name)
{
    const QString lower = HtmlText::lcase(name);
    const qsizetype dot = lower.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : lower.mid(dot);
    if (ext == QLatin1String(".txt"))
        return QStringLiteral("text/plain");
    if (ext == QLatin1String(".htm") || ext == QLatin1String(".html") || ext == QLatin1String(".php"))
        return QStringLiteral("text/html");
    if (ext == QLatin1String(".css"))
        return QStringLiteral("text/css");
    if (ext == QLatin1String(".jpg") || ext == QLatin1String(".jpeg"))
        return QStringLiteral("image/jpeg");
    if (ext == QLatin1String(".gif"))
        return QStringLiteral("image/gif");
    if (ext == QLatin1String(".png"))
        return QStringLiteral("image/png");
    if (ext == QLatin1String(".bmp"))
        return QStringLiteral("image/bmp");
    return QStringLiteral("unknown/binary");
}
