#include "web/TCPServer.h"

#include "web/HelpPage.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPageHook.h"
#include "web/WebClock.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "automation/VbString.h"
#include "automation/Latin1Case.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <sys/socket.h>

namespace {

TCPServer *sInstance = nullptr;

// The start of a request line that is still arriving: a method is letters only.
bool canBeRequestLine(const QByteArray &start)
{
    const qsizetype blank = start.indexOf(' ');
    const QByteArray method = blank < 0 ? start : start.left(blank);
    if (method.size() > 32)
        return false;
    for (const char c : method)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

// METHOD SP target SP HTTP/d.d, nothing else on the line.
bool isRequestLine(const QByteArray &line)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z]+ [\\x21-\\xFF]+ HTTP/[0-9]\\.[0-9]$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(QString::fromLatin1(line)).hasMatch();
}

QString peerText(const QTcpSocket &socket)
{
    QHostAddress address = socket.peerAddress();
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    if (ok)
        address = QHostAddress(v4);
    return address.toString();
}

QByteArray errorPage(int status, const QString &reason)
{
    const QString body = QStringLiteral("<html><h1>") + QString::number(status) + QLatin1Char(' ') + reason
        + QStringLiteral("</h1></html>");
    const QString text = QStringLiteral("HTTP/1.1 ") + QString::number(status) + QLatin1Char(' ') + reason
        + QStringLiteral("\r\nServer: tvk\r\nDate: ") + WebClock::mediumDate(WebClock::now())
        + QStringLiteral("\r\nConnection: Close\r\nContent-Type: text/html\r\nContent-Length: ")
        + QString::number(body.size()) + QStringLiteral("\r\n\r\n") + body;
    return AnsiCodePage::encode(text);
}

} // namespace

TCPServer &TCPServer::instance()
{
    if (!sInstance)
        sInstance = new TCPServer();
    return *sInstance;
}

bool TCPServer::loaded()
{
    return sInstance != nullptr;
}

void TCPServer::load()
{
    if (sInstance)
        return;
    TCPServer &server = instance();
    try {
        server.StartListening();
        CreateFolders(gAppPath + QStringLiteral("/Data/") + kProgramName + QStringLiteral("/x"));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Server Form_Load "));
    }
}

void TCPServer::unload()
{
    delete sInstance;
    sInstance = nullptr;
}

TCPServer::TCPServer()
{
    ServerTimer.setSingleShot(true);
    connect(&ServerTimer, &QTimer::timeout, this, &TCPServer::ServerTimer_Timer);
    m_poolRetry.setSingleShot(true);
    connect(&m_poolRetry, &QTimer::timeout, this, &TCPServer::socket_ConnectionRequest);
    connect(&m_listener, &QTcpServer::newConnection, this, &TCPServer::socket_ConnectionRequest);
    for (int i = 1; i < kElements; ++i) {
        Element &e = m_elements[size_t(i)];
        e.idleTimer = std::make_unique<QTimer>();
        e.idleTimer->setSingleShot(true);
        connect(e.idleTimer.get(), &QTimer::timeout, this, [this, i] { idleTimeout(i); });
        e.TCPBinarySendTimer = std::make_unique<QTimer>();
        e.TCPBinarySendTimer->setSingleShot(true);
        connect(e.TCPBinarySendTimer.get(), &QTimer::timeout, this, [this, i] { TCPBinarySendTimer_Timer(i); });
    }
}

TCPServer::~TCPServer()
{
    m_listener.close();
    for (int i = 1; i < kElements; ++i) {
        Element &e = m_elements[size_t(i)];
        if (e.socket) {
            e.socket->disconnect(this);
            e.socket->abort();
            delete e.socket;
        }
    }
}

QString TCPServer::htmlRoot() const
{
    return ResolvePathNoCase(gAppPath, QStringLiteral("HTML"));
}

void TCPServer::StartListening()
{
    QString port = QStringLiteral("8010");
    if (hs)
        port = hs->getIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("HTTPPort"), QStringLiteral("8010"),
                                 QStringLiteral("tvkXapKorvane.ini"));
    port.remove(QLatin1Char('"'));
    gHTTPPort = port;
    ServerTimer.stop();
    const double number = VbString::Val(port);
    if (port.isEmpty() || number == double(m_listener.serverPort()))
        return;
    if (number < 1 || number > 65535 || number != double(qint64(number))) {
        LogError(kProgramName, QStringLiteral("StartListening no such port ") + HtmlText::forLog(port));
        return;
    }
    m_listener.close();
    if (!m_listener.listen(QHostAddress::Any, quint16(number)))
        LogError(kProgramName, QStringLiteral("StartListening port ") + port + QStringLiteral(": ")
                                   + m_listener.errorString());
    m_roundRobin = 0;
}

int TCPServer::State(int index) const
{
    if (index == 0)
        return m_listener.isListening() ? Listening : Closed;
    if (index < 0 || index >= kElements)
        return Closed;
    const Element &e = m_elements[size_t(index)];
    if (!e.socket || e.phase == Element::Free)
        return Closed;
    return e.socket->state() == QAbstractSocket::ConnectedState ? Connected : Closed;
}

QString TCPServer::RemoteHostIP(int index) const
{
    if (index <= 0 || index >= kElements)
        return QString();
    return m_elements[size_t(index)].remoteIp;
}

int TCPServer::openCount() const
{
    int count = 0;
    for (int i = 1; i < kElements; ++i)
        count += m_elements[size_t(i)].phase != Element::Free ? 1 : 0;
    return count;
}

quint64 TCPServer::generation(int index) const
{
    if (index <= 0 || index >= kElements || m_elements[size_t(index)].phase == Element::Free)
        return 0;
    return m_elements[size_t(index)].generation;
}

// ---- pool ----

int TCPServer::chooseElement()
{
    for (int step = 1; step < kElements; ++step) {
        int index = (m_roundRobin + step) % kElements;
        if (index == 0)
            continue;
        if (m_elements[size_t(index)].phase == Element::Free)
            return index;
    }
    return 0;
}

bool TCPServer::evictOldestIdle()
{
    int oldest = 0;
    qint64 age = -1;
    for (int i = 1; i < kElements; ++i) {
        const Element &e = m_elements[size_t(i)];
        if (e.phase != Element::Reading || e.acceptedAt.elapsed() < m_evictAfterMs)
            continue;
        if (e.acceptedAt.elapsed() > age) {
            age = e.acceptedAt.elapsed();
            oldest = i;
        }
    }
    if (oldest == 0)
        return false;
    LogError(kProgramName, QStringLiteral("socket_ConnectionRequest pool full: closed idle connection ")
                               + QString::number(oldest) + QStringLiteral(" from ")
                               + m_elements[size_t(oldest)].remoteIp);
    release(oldest);
    return true;
}

void TCPServer::socket_ConnectionRequest()
{
    try {
        while (m_listener.hasPendingConnections()) {
            int index = chooseElement();
            if (index == 0 && evictOldestIdle())
                index = chooseElement();
            if (index == 0) {
                // Every element carries a request that is still arriving or being
                // answered: the newcomer waits in the listener until one frees.
                if (!m_poolRetry.isActive())
                    m_poolRetry.start(250);
                return;
            }
            QTcpSocket *socket = m_listener.nextPendingConnection();
            if (!socket)
                return;
            m_roundRobin = index;
            Element &e = m_elements[size_t(index)];
            e.socket = socket;
            e.generation = m_nextGeneration++;
            e.buffer.clear();
            e.phase = Element::Reading;
            e.answered = false;
            e.Tag = QStringLiteral("0");
            e.sendDone = true;
            e.remoteIp = peerText(*socket);
            e.acceptedAt.start();
            e.idleTimer->start(m_idleMs);
            connect(socket, &QTcpSocket::readyRead, this, [this, index] { socket_DataArrival(index); });
            connect(socket, &QTcpSocket::disconnected, this, [this, index] { socket_Close(index); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, index] {
                Element &el = m_elements[size_t(index)];
                if (el.socket && el.phase == Element::Replying) {
                    el.idleTimer->start(m_idleMs); // progress: the client is reading
                    if (el.socket->bytesToWrite() == 0)
                        Socket_SendComplete(index);
                }
            });
            if (socket->bytesAvailable() > 0)
                socket_DataArrival(index);
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("socket_ConnectionRequest "));
    }
}

void TCPServer::release(int index)
{
    Element &e = m_elements[size_t(index)];
    e.idleTimer->stop();
    e.TCPBinarySendTimer->stop();
    e.file.reset();
    if (e.socket) {
        QTcpSocket *socket = e.socket;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    e.socket = nullptr;
    e.phase = Element::Free;
    e.buffer.clear();
    e.buffer.squeeze();
    e.answered = false;
    e.Tag = QStringLiteral("0");
    e.sendDone = true;
    e.remoteIp.clear();
}

void TCPServer::socket_Close(int index)
{
    try {
        Element &e = m_elements[size_t(index)];
        if (e.phase == Element::Free)
            return;
        const quint64 gen = e.generation;
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            if (it->index == index && it->generation == gen) {
                m_queue.erase(it);
                break;
            }
        }
        release(index);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("socket_Close "));
    }
    if (m_listener.hasPendingConnections())
        QTimer::singleShot(0, this, &TCPServer::socket_ConnectionRequest);
}

// ---- receiving ----

void TCPServer::socket_DataArrival(int index)
{
    try {
        Element &e = m_elements[size_t(index)];
        if (!e.socket)
            return;
        const QByteArray data = e.socket->readAll();
        if (e.phase != Element::Reading)
            return; // bytes after the request (or after a refusal) are not kept
        e.buffer.append(data);
        frame(index);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("socket_DataArrival "));
    }
}

void TCPServer::frame(int index)
{
    Element &e = m_elements[size_t(index)];
    while (e.buffer.startsWith("\r\n"))
        e.buffer.remove(0, 2);
    const qsizetype lineEnd = e.buffer.indexOf("\r\n");
    if (lineEnd >= 0 ? !isRequestLine(e.buffer.left(lineEnd)) : !canBeRequestLine(e.buffer)) {
        refuse(index, 400, QStringLiteral("Bad Request"), QStringLiteral("not an HTTP request line: ")
                                                             + HtmlText::forLog(AnsiCodePage::decode(e.buffer.left(lineEnd < 0 ? 80 : lineEnd))));
        return;
    }
    const qsizetype headerEnd = e.buffer.indexOf("\r\n\r\n");
    if ((headerEnd < 0 && e.buffer.size() > kMaxHeader) || headerEnd + 4 > kMaxHeader) {
        refuse(index, 431, QStringLiteral("Request Header Fields Too Large"),
               QStringLiteral("header block above ") + QString::number(kMaxHeader) + QStringLiteral(" bytes"));
        return;
    }
    if (headerEnd < 0)
        return;
    qint64 length = 0;
    bool seen = false;
    const QList<QByteArray> lines = e.buffer.left(headerEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || Latin1Case::lower(line.left(colon).trimmed()) != "content-length")
            continue;
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool ok = !value.isEmpty();
        for (const char c : value)
            ok = ok && c >= '0' && c <= '9';
        const qint64 number = ok && value.size() <= 12 ? value.toLongLong() : -1;
        if (number < 0 || (seen && number != length)) {
            refuse(index, 400, QStringLiteral("Bad Request"),
                   QStringLiteral("bad Content-Length ") + HtmlText::forLog(AnsiCodePage::decode(value)));
            return;
        }
        seen = true;
        length = number;
    }
    if (length > kMaxBody) {
        refuse(index, 413, QStringLiteral("Payload Too Large"),
               QStringLiteral("body of ") + QString::number(length) + QStringLiteral(" bytes"));
        return;
    }
    const qint64 total = headerEnd + 4 + length;
    if (e.buffer.size() < total)
        return;
    const QString text = AnsiCodePage::decode(e.buffer.left(total));
    e.buffer.clear();
    e.buffer.squeeze();
    e.phase = Element::Queued;
    e.idleTimer->stop();
    m_queue.push_back(QueueItem{index, e.generation, text});
    emit requestQueued(index);
    if (!m_draining && !ServerTimer.isActive())
        ServerTimer.start(kQueueDelayMs);
}

void TCPServer::refuse(int index, int status, const QString &reason, const QString &why)
{
    Element &e = m_elements[size_t(index)];
    LogError(kProgramName, QStringLiteral("socket_DataArrival ") + QString::number(status) + QLatin1Char(' ') + reason
                               + QStringLiteral(" from ") + e.remoteIp + QStringLiteral(": ") + why);
    e.buffer.clear();
    e.buffer.squeeze();
    sendReply(index, e.generation, errorPage(status, reason));
}

void TCPServer::idleTimeout(int index)
{
    Element &e = m_elements[size_t(index)];
    switch (e.phase) {
    case Element::Reading:
        if (!e.buffer.isEmpty()) {
            refuse(index, 408, QStringLiteral("Request Timeout"),
                   QStringLiteral("request incomplete after ") + QString::number(m_idleMs) + QStringLiteral(" ms"));
            return;
        }
        release(index);
        break;
    case Element::Replying:
        LogError(kProgramName, QStringLiteral("TCPServer reply to ") + e.remoteIp
                                   + QStringLiteral(" stalled; connection closed"));
        release(index);
        break;
    case Element::Lingering:
        release(index);
        break;
    default:
        return;
    }
    if (m_listener.hasPendingConnections())
        QTimer::singleShot(0, this, &TCPServer::socket_ConnectionRequest);
}

// ---- queue ----

void TCPServer::ServerTimer_Timer()
{
    ProcessRequestQueue();
}

void TCPServer::ProcessRequestQueue()
{
    ServerTimer.stop();
    m_draining = true;
    while (!m_queue.empty()) {
        const QueueItem item = m_queue.front();
        m_queue.pop_front();
        try {
            dispatch(item.index, item.generation, item.text);
        } catch (...) {
            PendingError::capture();
            LogError(kProgramName, QStringLiteral("ProcessRequestQueue "));
        }
        // Every request gets one reply, whatever happened while it was built.
        Element &e = m_elements[size_t(item.index)];
        if (e.phase == Element::Queued && e.generation == item.generation && !e.answered) {
            Response fallback;
            fallback.setIndex(qint16(item.index));
            fallback.SendErrorResponse(qint16(item.index));
        }
    }
    m_draining = false;
}

void TCPServer::dispatch(int index, quint64 generation, const QString &text)
{
    if (m_elements[size_t(index)].generation != generation)
        return;
    Request request;
    request.setRemoteip(m_elements[size_t(index)].remoteIp);
    request.ParsePage(text);
    Response response;
    response.setIndex(qint16(index));
    QString path = HtmlText::lcase(request.page());
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QString ext = path.right(4);
    if (ext == QLatin1String(".jpg") || ext == QLatin1String(".gif") || ext == QLatin1String(".png")
        || ext == QLatin1String(".wmz"))
        response.SendBinaryFile(path, qint16(index));
    else if (ext == QLatin1String(".css"))
        response.SendTextFile(path, qint16(index));
    else if (path.startsWith(QLatin1String("\\stat")))
        response.SendTextString(StatusPage(request, response), qint16(index));
    else if (path.startsWith(QLatin1String("\\help")))
        response.SendTextString(HelpPage(), qint16(index));
    else
        response.SendErrorResponse(qint16(index));
}

// ---- sending ----

bool TCPServer::sendReply(int index, quint64 generation, const QByteArray &bytes)
{
    if (index <= 0 || index >= kElements)
        return false;
    Element &e = m_elements[size_t(index)];
    if (e.phase == Element::Free || e.generation != generation || e.answered || !e.socket
        || e.socket->state() != QAbstractSocket::ConnectedState)
        return false;
    e.answered = true;
    e.phase = Element::Replying;
    e.Tag = QStringLiteral("0");
    e.idleTimer->start(m_idleMs);
    e.socket->write(bytes);
    return true;
}

bool TCPServer::sendFile(int index, quint64 generation, const QByteArray &header, const QString &path)
{
    if (index <= 0 || index >= kElements)
        return false;
    Element &e = m_elements[size_t(index)];
    if (e.phase == Element::Free || e.generation != generation || e.answered || !e.socket
        || e.socket->state() != QAbstractSocket::ConnectedState)
        return false;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        LogError(kProgramName, QStringLiteral("TCPServer_SendBinaryFile cannot open ") + path);
        return false;
    }
    e.answered = true;
    e.phase = Element::Replying;
    e.Tag = QStringLiteral("1");
    e.file = std::move(file);
    e.idleTimer->start(m_idleMs);
    e.socket->write(header);
    e.sendDone = true; // the first chunk does not wait for the header
    sendNextChunk(index);
    return true;
}

void TCPServer::sendNextChunk(int index)
{
    Element &e = m_elements[size_t(index)];
    if (!e.sendDone || !e.socket || e.phase != Element::Replying)
        return;
    if (e.socket->state() != QAbstractSocket::ConnectedState)
        return;
    const QByteArray chunk = e.file ? e.file->read(kChunk) : QByteArray();
    if (chunk.isEmpty()) {
        e.file.reset();
        e.Tag = QStringLiteral("0");
        Socket_SendComplete(index);
        return;
    }
    e.TCPBinarySendTimer->start(kBinaryWatchdogMs);
    e.sendDone = false;
    e.socket->write(chunk);
    if (onChunkWritten)
        onChunkWritten(index, chunk.size());
}

void TCPServer::Socket_SendComplete(int index)
{
    try {
        Element &e = m_elements[size_t(index)];
        e.TCPBinarySendTimer->stop();
        e.sendDone = true;
        if (e.Tag != QLatin1String("1"))
            finishReply(index);
        else
            sendNextChunk(index);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Socket_SendComplete"));
    }
}

void TCPServer::TCPBinarySendTimer_Timer(int index)
{
    Element &e = m_elements[size_t(index)];
    e.TCPBinarySendTimer->stop();
    e.sendDone = true;
    sendNextChunk(index);
}

void TCPServer::finishReply(int index)
{
    Element &e = m_elements[size_t(index)];
    if (!e.socket || e.phase != Element::Replying || e.socket->bytesToWrite() > 0)
        return;
    // End our side and let the client read the reply and close its side; any
    // bytes it still sends are read and dropped, so the close does not reset
    // the connection under a reply the client has not read yet.
    e.phase = Element::Lingering;
    ::shutdown(int(e.socket->socketDescriptor()), SHUT_WR);
    e.idleTimer->start(m_lingerMs);
}
