#include "core/xap/XapEndpoint.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/RefusalLog.h"
#include "core/xap/XapMessage.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"
#include "automation/VbError.h"
#include "automation/Latin1Case.h"

#include <QHostInfo>

#include <utility>
#include <QTimer>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QVariant>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Room for a burst of datagrams while the dispatcher is busy; the kernel caps it at rmem_max.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
constexpr int kReceiveDelayMs = 50;
constexpr int kLargestDatagram = 65536;

QString joinLines(const QString& template_)
{
    QString text = template_;
    return text.replace(QLatin1Char('|'), QLatin1Char('\n'));
}

}  // namespace

xap::xap(QObject* parent)
    : QObject(parent)
{
    // Named children, so that diagnostics and tests can find the form's timers.
    m_hbeatTimer.setParent(this);
    m_hbeatTimer.setObjectName(QStringLiteral("HBeatTimer"));
    m_receiveTimer.setParent(this);
    m_receiveTimer.setObjectName(QStringLiteral("ReceiveTimer"));
    connect(&m_receiveTimer, &VbTimer::timer, this, &xap::onReceiveTick);
    connect(&m_hbeatTimer, &VbTimer::timer, this, &xap::onHeartbeatTick);
    SocketsInitialize();
}

xap::~xap()
{
    m_queue.clear();
    m_queuedBytes = 0;
    SocketsCleanup();
    if (gXap == this)
        gXap = nullptr;
}

int xap::hibyte(int value)
{
    return (value / 256) & 255;
}

int xap::lobyte(int value)
{
    return value & 255;
}

void xap::SocketsInitialize()
{
    // Sockets here need no library started for the process. What can still be
    // missing is the IPv4 datagram layer itself (a kernel or sandbox without
    // it): say so in the xAP log, as the bind that follows will fail.
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) {
        const int err = errno;
        WriteLogFile(kProgramName, QStringLiteral("SocketsInitialize ")
                                       + QStringLiteral("IPv4 UDP sockets are not available: ")
                                       + QString::fromLocal8Bit(std::strerror(err)));
        return;
    }
    ::close(probe);
}

void xap::SocketsCleanup()
{
    // Nothing to release on this platform: the sockets close with the form.
}

void xap::RegisterNewMessageCallback(std::function<void()> callback)
{
    m_callback = std::move(callback);
}

QString xap::GetMessage()
{
    if (m_queue.isEmpty())
        return QString();
    const QByteArray bytes = m_queue.dequeue();
    m_queuedBytes -= bytes.size();
    QString text = AnsiCodePage::decode(bytes);
    // Half drained: what waited in the sockets meanwhile is read again.
    if (m_readingPaused && m_queue.size() <= kMaxQueuedTexts / 2 && m_queuedBytes <= kMaxQueuedBytes / 2) {
        m_readingPaused = false;
        for (QUdpSocket* socket : {m_loopback, m_network})
            scheduleRead(socket);
    }
    // Drained: a later flood is a new burst with an entry of its own.
    if (m_queue.isEmpty())
        m_floodLogged = false;
    return text;
}

void xap::setXapSource(const QString& v)
{
    m_source = v;
    rebuildHeartbeatPrefix();
}

void xap::setXapTarget(const QString& v)
{
    m_target = v;
    rebuildHeartbeatPrefix();
}

void xap::setXapUID(const QString& v)
{
    m_uid = v;
    rebuildHeartbeatPrefix();
}

void xap::rebuildHeartbeatPrefix()
{
    m_hbeatPrefix = joinLines(QStringLiteral("xap-hbeat|{|v=13|hop=1|uid=")) + m_uid
        + joinLines(QStringLiteral("|class=xap-hbeat.alive|source=")) + m_source
        + joinLines(QStringLiteral("|interval="));
}

bool xap::IpMatches(const QString& pattern, const QString& address)
{
    const QStringList p = pattern.split(QLatin1Char('.'));
    const QStringList a = address.split(QLatin1Char('.'));
    if (p.size() != 4 || a.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool okP = false;
        bool okA = false;
        const long pv = p.at(i).trimmed().toLong(&okP);
        const long av = a.at(i).trimmed().toLong(&okA);
        if (!okP || !okA || (av & pv) != av)
            return false;
    }
    return true;
}

QString xap::GetIP() const
{
    // Non-loopback addresses come first, so "Default" (which matches nothing) takes the first
    // of them; an address equal to the setting wins over one that only matches its bits.
    QStringList network;
    QStringList loopback;
    for (const QHostAddress& addr : QNetworkInterface::allAddresses()) {
        if (addr.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        (addr.isLoopback() ? loopback : network).append(addr.toString());
    }
    const QStringList candidates = network + loopback;
    if (candidates.contains(m_interface))
        return m_interface;
    for (const QString& addr : candidates) {
        if (IpMatches(m_interface, addr))
            return addr;
    }
    return network.isEmpty() ? QString() : network.first();
}

QHostAddress xap::resolveBroadcast() const
{
    const QString host = Latin1Case::lower(m_broadcast) == QLatin1StringView("default") ? QStringLiteral("255.255.255.255")
                                                                                : m_broadcast.trimmed();
    QHostAddress literal;
    if (literal.setAddress(host)) {
        bool ok = false;
        const quint32 v4 = literal.toIPv4Address(&ok);
        return ok ? QHostAddress(v4) : QHostAddress();
    }
    // A host name: looked up once, here, so that every datagram goes where the setting says.
    for (const QHostAddress& addr : QHostInfo::fromName(host).addresses()) {
        if (addr.protocol() == QAbstractSocket::IPv4Protocol)
            return addr;
    }
    return QHostAddress();
}

int xap::Init()
{
    m_localIp = GetIP();
    m_remoteHost = resolveBroadcast();
    if (m_remoteHost.isNull()) {
        // Left as it was, every datagram would silently go to 0.0.0.0.
        WriteLogFile(kProgramName, QStringLiteral("Init BroadcastAddress ") + m_broadcast
                                       + QStringLiteral(" gives no IPv4 address"));
        return -1;
    }
    const QHostAddress local(m_localIp);
    // One socket serves both roles when the chosen local address is itself a loopback one.
    const bool needNetwork = !m_localIp.isEmpty() && !local.isLoopback();

    int result = -1;
    for (int candidate = kFirstPort; candidate < kFirstPort + kPortTries; ++candidate) {
        auto loop = std::make_unique<QUdpSocket>(this);
        if (!loop->bind(QHostAddress(QHostAddress::LocalHost), quint16(candidate), QAbstractSocket::DontShareAddress))
            continue;
        std::unique_ptr<QUdpSocket> net;
        if (needNetwork) {
            net = std::make_unique<QUdpSocket>(this);
            if (!net->bind(local, quint16(candidate), QAbstractSocket::DontShareAddress)) {
                // Held on the network address by someone else: a later port may be free on both.
                if (net->error() == QAbstractSocket::AddressInUseError)
                    continue;
                result = -std::abs(int(net->error()));
                break;
            }
        }
        m_loopback = loop.release();
        m_network = net.release();
        m_port = candidate;
        result = candidate;
        break;
    }
    for (QUdpSocket* socket : {m_loopback, m_network}) {
        if (!socket)
            continue;
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(kReceiveBufferBytes));
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readPending(socket); });
    }
    m_hbeatSuffix = QStringLiteral("0\nport=") + QString::number(m_port) + QStringLiteral("\n}\n");
    return result;
}

void xap::sendDatagram(const QString& text)
{
    QUdpSocket* socket = m_network ? m_network : m_loopback;
    if (!socket)
        throw VbError(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    const QByteArray bytes = AnsiCodePage::encode(text);
    if (socket->writeDatagram(bytes, m_remoteHost, kXapPort) != bytes.size())
        throw VbError(10000 + int(socket->error()), socket->errorString());
}

void xap::SendHeartbeat(int seconds)
{
    if (seconds > 60)
        seconds = 60;
    else if (seconds < 1)
        seconds = 0;
    else if (seconds < 5)
        seconds = 5;
    m_hbeatTimer.setInterval(seconds * 1000);
    m_hbeatTimer.setEnabled(seconds >= 1);
    m_beatFailed = true;
    sendDatagram(m_hbeatPrefix + QString::number(seconds) + m_hbeatSuffix);
    m_beatFailed = false;
    m_tick = 0;
}

void xap::onHeartbeatTick()
{
    m_tick = (m_tick + 1) % 10;
    // A heartbeat that could not go out (no route yet at boot) is tried again at the next
    // tick rather than ten periods later.
    if (m_tick != 0 && !m_beatFailed)
        return;
    try {
        SendHeartbeat(m_hbeatTimer.interval() / 1000);
    } catch (...) {
        PendingError::capture();
        WriteLogFile(kProgramName, QStringLiteral("HBeatTimer"));
    }
}

QString xap::SendXap(const QString& target, const QString& cls, const QString& section, const QString& body,
                     const QString& subAddress, const QString& uid)
{
    XapMessage message;
    message.setMsgClass(cls);
    message.setMsgSource(subAddress.isEmpty() ? m_source : m_source + QLatin1Char(':') + subAddress);
    message.setMsgTarget(target);
    message.setMsgUID(uid.isEmpty() ? m_uid : uid);
    message.AddHeader();
    message.AddSection(section);
    if (!body.isEmpty()) {
        for (const QString& item : body.split(QChar(0))) {
            const qsizetype sep = item.indexOf(QChar(1));
            if (sep >= 0)
                message.AddItem(section, item.left(sep), item.mid(sep + 1));
        }
    }
    sendDatagram(message.ToXap());
    return QString();
}

void xap::readPending(QUdpSocket* socket)
{
    const int which = socket == m_loopback ? 0 : 1;
    m_readScheduled[which] = false;
    if (m_intakeClosed)
        return;
    // Every wake-up reads at least once: a socket error waiting in the queue (a port
    // unreachable) makes the peek say "nothing" while datagrams wait, and only a read takes
    // the error away and lets the socket signal again.
    for (int n = 0; n < kDatagramsPerRead; ++n) {
        // A full queue leaves the rest in the socket's own (bounded) buffer until the
        // dispatcher has taken half of it; what the socket cannot hold the system drops.
        if (queueFull()) {
            if (!gShuttingDown && !m_readingPaused && !m_floodLogged) {
                m_floodLogged = true;
                LogError(kProgramName, QStringLiteral("Receive queue full (") + QString::number(m_queue.size())
                                           + QStringLiteral(" messages): received messages beyond it may be lost"));
            }
            m_readingPaused = true;
            return;
        }
        const qint64 size = socket->pendingDatagramSize();
        QByteArray data(size > 0 ? size : kLargestDatagram, Qt::Uninitialized);
        const qint64 got = socket->readDatagram(data.data(), data.size());
        if (got < 0) {
            if (socket->hasPendingDatagrams())
                continue;
            break;
        }
        data.truncate(got);
        ++m_datagramsRead;
        ProcessReceivedMessage(data);
    }
    // The rest waits its turn behind the events that came in meanwhile (a stop request).
    if (socket->hasPendingDatagrams())
        scheduleRead(socket);
}

QList<QByteArray> xap::takeReceived()
{
    QList<QByteArray> texts(m_queue.begin(), m_queue.end());
    qsizetype bytes = m_queuedBytes;
    m_queue.clear();
    m_queuedBytes = 0;
    if (std::exchange(m_intakeClosed, true))
        return texts;
    for (QUdpSocket* socket : {m_loopback, m_network}) {
        while (socket && socket->hasPendingDatagrams() && texts.size() < kMaxQueuedTexts && bytes < kMaxQueuedBytes) {
            const qint64 size = socket->pendingDatagramSize();
            QByteArray data(size > 0 ? size : kLargestDatagram, Qt::Uninitialized);
            const qint64 got = socket->readDatagram(data.data(), data.size());
            if (got < 0)
                continue;
            data.truncate(got);
            ++m_datagramsRead;
            if (blockCount(data) > kMostBlocks)
                continue;
            bytes += data.size();
            texts.append(std::move(data));
        }
    }
    return texts;
}

void xap::scheduleRead(QUdpSocket* socket)
{
    if (!socket)
        return;
    const int which = socket == m_loopback ? 0 : 1;
    if (m_readScheduled[which])
        return;
    m_readScheduled[which] = true;
    QTimer::singleShot(0, socket, [this, socket] { readPending(socket); });
}

bool xap::queueFull() const
{
    return m_queue.size() >= kMaxQueuedTexts || m_queuedBytes >= kMaxQueuedBytes;
}

int xap::blockCount(const QByteArray& text, int most)
{
    // Counted as the parser finds them: from the third line on, every "}" line with a line
    // after it opens a section, and the line after it is that section's name, whatever it
    // holds. No "{" is needed, so none is looked for.
    const qsizetype first = text.indexOf('\n');
    qsizetype at = first < 0 ? -1 : text.indexOf('\n', first + 1);
    int blocks = 0;
    while (at >= 0 && blocks <= most) {
        at = text.indexOf("\n}\n", at);
        if (at < 0)
            break;
        ++blocks;
        at = text.indexOf('\n', at + 3); // past the name line
    }
    return blocks;
}

void xap::ProcessReceivedMessage(const QByteArray& text)
{
    if (blockCount(text) > kMostBlocks) {
        RefusalLog::Log(kProgramName,
                        QStringLiteral("xAP message of more than ") + QString::number(kMostBlocks)
                            + QStringLiteral(" blocks refused"),
                        QStringLiteral("xap-many-blocks"));
        return;
    }
    if (m_filterHeartbeats && Latin1Case::lower(QString::fromLatin1(text.left(8))) != QLatin1StringView("xap-head"))
        return;
    m_queue.enqueue(text);
    m_queuedBytes += text.size();
    // Armed only when idle, so a steady stream cannot postpone the drain forever.
    if (!m_receiveTimer.isEnabled()) {
        m_receiveTimer.setInterval(kReceiveDelayMs);
        m_receiveTimer.setEnabled(true);
    }
}

void xap::onReceiveTick()
{
    m_receiveTimer.setEnabled(false);
    if (m_callback)
        m_callback();
}
