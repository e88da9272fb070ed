#include "web/TCPServer.h"

#include <algorithm>
#include <tuple>

#include <sys/ioctl.h>

#include "web/HelpPage.h"
#include "web/AllowedHost.h"
#include "web/HtmlText.h"
#include "web/PageWait.h"
#include "core/RefusalLog.h"
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

#include <cmath>

#include <sys/resource.h>
#include <sys/socket.h>

namespace {

TCPServer *sInstance = nullptr;

// How long a connection that has said nothing keeps its place before a
// client's other connection that has spoken may take it.
constexpr int kMomentToSpeakMs = 50;
// Members of the line one client may have beyond its share while they have
// not had their moment to speak.
constexpr int kSilentNewcomersPerClient = 32;

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

// What one client counts as: its address, or for IPv6 the /64 it is in
// (one host owns a whole /64 and can use any address of it).
QString clientGroup(const QTcpSocket &socket)
{
    QHostAddress address = socket.peerAddress();
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    if (ok)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

// How many descriptors the web server may hold (the pool, its line and what
// the listener has accepted for us): what the process's file limit leaves
// after the descriptors the rest of the program needs (settings and record
// files, the log, the xAP and controller sockets, scripts). A crowd may
// fill the web server's share, never theirs.
int descriptorBudget()
{
    constexpr rlim_t kKeptForTheRest = 256;
    // Every connection held is looked at by each turn of the event loop: a
    // line far longer than the pool costs the whole program its time, while
    // one that closes its silent members keeps a crowd of any size moving.
    constexpr rlim_t kMost = 2048;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return int(kMost);
    // A service's usual soft limit (1,024) would leave so few places that a crowd of idle
    // connections queues a browser behind it in the system's queue; the soft limit is only a
    // default, so take what the hard limit allows, up to what the pool can use.
    // (RLIM_INFINITY is the largest rlim_t, so an unlimited hard limit needs no case of its own.)
    const rlim_t wanted = qMin(limit.rlim_max, kMost + kKeptForTheRest);
    if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    // Under a tiny limit the rest keeps three quarters: the page is the
    // program's least part.
    const rlim_t kept = qMin(kKeptForTheRest, limit.rlim_cur * 3 / 4);
    return int(qMin(limit.rlim_cur - kept, kMost));
}

// The part of the budget the listener may hold accepted for us.
int listenerShare(int budget)
{
    return qBound(1, budget / 8, 16);
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

// A request path as the dispatch tests it: lower case, backslash as separator.
QString routePath(const QString &page)
{
    QString path = HtmlText::lcase(page);
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

// The dispatch path of a queued request, from its request line alone.
QString pathOf(const QString &text)
{
    const qsizetype lineEnd = text.indexOf(QLatin1String("\r\n"));
    const QString line = text.left(lineEnd < 0 ? text.size() : lineEnd);
    const qsizetype first = line.indexOf(QLatin1Char(' '));
    const qsizetype last = line.lastIndexOf(QLatin1Char(' '));
    if (first < 0 || last <= first)
        return QString();
    const QString target = line.mid(first + 1, last - first - 1);
    return routePath(Request::Decode(target.left(target.indexOf(QLatin1Char('?')))));
}

bool hostAllowed(const Request &request)
{
    return AllowedHost::IsAllowed(request.ServerVariables(QStringLiteral("Host")), AllowedHost::Configured());
}

// The Host check of a queued request, before it is parsed for its page.
bool hostAllowed(const QString &text)
{
    const qsizetype end = text.indexOf(QLatin1String("\r\n\r\n"));
    Request head;
    head.ParsePage(end < 0 ? text : text.left(end + 4));
    return hostAllowed(head);
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
    return sInstance != nullptr && !sInstance->m_unloaded;
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
    if (!sInstance)
        return;
    if (sInstance->m_draining) {
        // The drain below us still uses the server: it deletes it on return.
        if (!sInstance->m_unloaded) {
            sInstance->m_unloaded = true;
            sInstance->shutDown();
        }
        return;
    }
    delete sInstance;
    sInstance = nullptr;
}

void TCPServer::shutDown()
{
    m_listener.close();
    ServerTimer.stop();
    m_poolRetry.stop();
    m_heldTimer.stop();
    m_held.clear();
    m_queue.clear();
    for (const Waiting &waiting : m_waiting) {
        QTcpSocket *socket = waiting.socket;
        if (socket) {
            socket->abort();
            socket->deleteLater();
        }
    }
    m_waiting.clear();
    m_waitingPerGroup.clear();
    for (int i = 1; i < kElements; ++i)
        release(i);
}

TCPServer::TCPServer()
{
    m_clock.start();
    ServerTimer.setSingleShot(true);
    connect(&ServerTimer, &QTimer::timeout, this, &TCPServer::ServerTimer_Timer);
    m_poolRetry.setSingleShot(true);
    connect(&m_poolRetry, &QTimer::timeout, this, &TCPServer::socket_ConnectionRequest);
    // The listener announces each connection it accepts, and goes on
    // accepting for as long as we take them at once: a crowd that comes back
    // as fast as it is closed would keep the program inside that one event.
    // Taken on the next turn instead, the listener stops at its share and
    // timers, requests and the controller link get their turns between.
    m_takeSoon.setSingleShot(true);
    m_takeSoon.setInterval(0);
    connect(&m_takeSoon, &QTimer::timeout, this, &TCPServer::socket_ConnectionRequest);
    connect(&m_listener, &QTcpServer::newConnection, this, &TCPServer::takePending);
    m_heldTimer.setInterval(20);
    connect(&m_heldTimer, &QTimer::timeout, this, &TCPServer::releaseHeld);
    for (int i = 1; i < kElements; ++i) {
        Element &e = m_elements[size_t(i)];
        e.idleTimer = std::make_unique<QTimer>();
        e.idleTimer->setSingleShot(true);
        connect(e.idleTimer.get(), &QTimer::timeout, this, [this, i] { idleTimeout(i); });
        e.deadlineTimer = std::make_unique<QTimer>();
        e.deadlineTimer->setSingleShot(true);
        connect(e.deadlineTimer.get(), &QTimer::timeout, this, [this, i] { deadlineExpired(i); });
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
    // Every connection waiting in the kernel is taken at once into our own
    // line, so that the choice between them is ours, not first come first served.
    m_descriptorBudget = descriptorBudget();
    // What the listener has accepted and not yet handed over holds
    // descriptors too: it gets a small share of the budget, the line the rest.
    m_listener.setMaxPendingConnections(listenerShare(m_descriptorBudget));
    m_listener.setListenBacklogSize(m_descriptorBudget);
    m_saidLimitTooSmall = false;
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

QHash<QString, int> TCPServer::heldPerAddress(bool lingering) const
{
    QHash<QString, int> held;
    for (int i = 1; i < kElements; ++i)
        if (m_elements[size_t(i)].phase != Element::Free && (lingering || m_elements[size_t(i)].phase != Element::Lingering))
            ++held[m_elements[size_t(i)].group];
    return held;
}

void TCPServer::lookAtRequest(Waiting &waiting)
{
    if (waiting.whole || !waiting.socket)
        return;
    const qint64 available = waiting.socket->bytesAvailable();
    if (available == waiting.seen)
        return;
    waiting.seen = available;
    const QByteArray sent = waiting.socket->peek(qMin<qint64>(available, kMaxHeader));
    waiting.line = sent.contains("\r\n");
    const qsizetype end = sent.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    qint64 length = 0;
    for (const QByteArray &header : sent.left(end).split('\n')) {
        const qsizetype colon = header.indexOf(':');
        if (colon > 0 && header.left(colon).trimmed().compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = header.mid(colon + 1).trimmed().toLongLong();
    }
    waiting.whole = available - (end + 4) >= length;
}

namespace {

bool unread(QTcpSocket *socket)
{
    if (!socket)
        return false;
    if (socket->bytesAvailable() > 0)
        return true;
    int pending = 0;
    return socket->socketDescriptor() >= 0 && ::ioctl(int(socket->socketDescriptor()), FIONREAD, &pending) == 0 && pending > 0;
}

} // namespace

bool TCPServer::fetchUnread(Waiting &waiting)
{
    // What a member of the line sent may wait in the system's buffer with no
    // notice to come (traced: a browser's whole request, for seconds): it is
    // fetched when seen there, so that the line is judged by what was sent.
    if (!waiting.socket)
        return false;
    if (waiting.whole || waiting.socket->bytesAvailable() > 0)
        return true;
    if (!unread(waiting.socket))
        return false;
    waiting.socket->waitForReadyRead(0);
    return true;
}

bool TCPServer::hasRequestLine(const Element &e)
{
    return e.phase != Element::Reading || e.buffer.contains("\r\n");
}

bool TCPServer::evict(const QString &address, bool spoke)
{
    // A request already taken whole (queued, being answered, held for the
    // controller) keeps its connection: only a client still sending, or one
    // its reply is still going to, can be made to give way.
    // A reply goes only when it has stopped moving (or has gone out whole)
    // for as long: a client taking its reply at speed keeps it.
    // A connection that has not sent its whole request (line, headers and
    // body) within a fraction of that time is a client too slow to be worth
    // its place: a browser sends a page's request at once.
    // A client at its cap making room for a connection of its own that has
    // spoken: its connections that have not (one client may be every host
    // of a LAN's IPv6 /64, a browser beside a crowd) go after a moment.
    const auto evictable = [this, spoke](const Element &e) {
        // Bytes not yet read (by Qt or by us) are ours to be slow about, not
        // the client's: on a loaded machine its readyRead may come late.
        // A client never found slow gets longer to speak: a loaded machine
        // may keep a browser from sending the request it has ready.
        if (e.phase == Element::Reading)
            return e.acceptedAt.isValid()
                && e.acceptedAt.elapsed()
                    >= (spoke && !hasRequestLine(e) ? kMomentToSpeakMs
                                                    : evictedLately(e.group) ? m_evictAfterMs * 3 / 10 : m_evictAfterMs)
                && !unread(e.socket);
        return (e.phase == Element::Replying || e.phase == Element::Lingering) && e.lastSentAt.isValid()
            && e.lastSentAt.elapsed() >= m_evictAfterMs;
    };
    const QHash<QString, int> held = heldPerAddress();
    // The address holding the most gives way first. A client's only
    // connection is not taken while any address holds several: then the
    // newcomer waits until one of theirs may go.
    int most = 0;
    for (const int n : held)
        most = qMax(most, n);
    int chosen = 0;
    for (int i = 1; i < kElements; ++i) {
        const Element &e = m_elements[size_t(i)];
        if (!evictable(e) || (!address.isEmpty() && e.group != address)
            || (address.isEmpty() && most > 1 && held.value(e.group) < 2))
            continue;
        if (chosen == 0) {
            chosen = i;
            continue;
        }
        const Element &c = m_elements[size_t(chosen)];
        const int mine = held.value(e.group);
        const int theirs = held.value(c.group);
        const bool myLine = hasRequestLine(e);
        const bool theirLine = hasRequestLine(c);
        // Of two equally placed, the one that has been sending the longest
        // goes: a crowd's connection has dripped for seconds, while a browser's
        // new one, whose first bytes a loaded machine delays, is young.
        const bool bothReading = e.phase == Element::Reading && c.phase == Element::Reading;
        const bool staler = bothReading ? e.acceptedAt.elapsed() > c.acceptedAt.elapsed()
                                        : e.lastByteAt.elapsed() > c.lastByteAt.elapsed();
        // A client already found too slow goes before one never found so: on
        // a loaded machine a browser may not have sent its request by the
        // time its connection can be taken, while a crowd that reconnects at
        // once is found slow over and over. No clock decides it.
        const bool mySlow = evictedLately(e.group);
        const bool theirSlow = evictedLately(c.group);
        if (mine > theirs
            || (mine == theirs
                && ((mySlow && !theirSlow)
                    || (mySlow == theirSlow && (theirLine && !myLine || (myLine == theirLine && staler))))))
            chosen = i;
    }
    if (chosen == 0)
        return false;
    const QString from = m_elements[size_t(chosen)].group;
    const QString kind = address.isEmpty() ? QStringLiteral("pool full") : QStringLiteral("connections per client full");
    RefusalLog::Log(kProgramName, QStringLiteral("socket_ConnectionRequest ") + kind
                                      + QStringLiteral(": closed a connection from ") + from + QStringLiteral(" (")
                                      + QString::number(held.value(from)) + QStringLiteral(" open)"),
                    QStringLiteral("socket_ConnectionRequest ") + kind);
    // Only a client too slow to send its request or take its reply is
    // remembered; a browser's connection kept open after its reply is not.
    if (address.isEmpty() && m_elements[size_t(chosen)].phase != Element::Lingering)
        markSlow(from);
    release(chosen);
    return true;
}

void TCPServer::RecentMarks::mark(const QString &group)
{
    if (at.size() >= kSlowClientsKept && !at.contains(group)) {
        for (auto it = at.begin(); it != at.end();)
            it = it.value().elapsed() >= kSlowClientMemoryMs ? at.erase(it) : std::next(it);
        if (at.size() >= kSlowClientsKept)
            at.clear();
    }
    at[group].start();
}

bool TCPServer::RecentMarks::lately(const QString &group) const
{
    const auto it = at.constFind(group);
    return it != at.constEnd() && it.value().elapsed() < kSlowClientMemoryMs;
}

int TCPServer::takeLingering(const QString &group)
{
    // A place whose reply has gone out whole only waits for its client to
    // close: a client that keeps it open for reuse (HTTP/1.1 keep-alive does
    // so) would otherwise hold the pool from those still waiting for a
    // reply. The reply is already in the system's hands and our side already
    // ended; closing now does not take it from the client.
    int chosen = 0;
    for (int i = 1; i < kElements; ++i) {
        const Element &e = m_elements[size_t(i)];
        if (e.phase != Element::Lingering)
            continue;
        if (chosen == 0 || (e.group == group && m_elements[size_t(chosen)].group != group)
            || ((e.group == group) == (m_elements[size_t(chosen)].group == group)
                && e.lastSentAt.elapsed() > m_elements[size_t(chosen)].lastSentAt.elapsed()))
            chosen = i;
    }
    if (chosen == 0)
        return 0;
    Element &e = m_elements[size_t(chosen)];
    // Bytes it sent after its request are dropped first: closing with them
    // unread would reset the connection under the reply.
    if (e.socket && e.socket->socketDescriptor() >= 0) {
        char sink[4096];
        for (int n = 0; n < 16 && ::recv(int(e.socket->socketDescriptor()), sink, sizeof sink, MSG_DONTWAIT) > 0; ++n) {
        }
    }
    if (e.group != group)
        m_keptOpen.mark(e.group);
    release(chosen);
    return chosen;
}

int TCPServer::busyCount() const
{
    int count = 0;
    for (int i = 1; i < kElements; ++i)
        count += m_elements[size_t(i)].phase != Element::Free && m_elements[size_t(i)].phase != Element::Lingering ? 1 : 0;
    return count;
}

bool TCPServer::stopTaking()
{
    if (!gShuttingDown)
        return false;
    m_listener.close();
    m_poolRetry.stop();
    for (const Waiting &waiting : m_waiting) {
        if (QTcpSocket *socket = waiting.socket) {
            socket->abort();
            socket->deleteLater();
        }
    }
    m_waiting.clear();
    m_waitingPerGroup.clear();
    const std::deque<QueueItem> queued = std::move(m_queue);
    m_queue.clear();
    for (const QueueItem &item : queued) {
        if (m_elements[size_t(item.index)].generation == item.generation)
            release(item.index);
    }
    return true;
}

void TCPServer::socket_ConnectionRequest()
{
    if (stopTaking())
        return;
    constexpr qint64 kAskSilentEveryMs = 10;
    const qint64 now = m_clock.elapsed();
    try {
        for (;;) {
            takeFromListener();
            if (m_waiting.empty())
                return;
            // Across the whole line: the client holding the fewest
            // connections first; of those one that has sent its whole
            // request (an ordinary browser does at once), then one none of
            // whose connections had to be closed for slowness lately (a crowd
            // that reconnects at once would otherwise stand level with a
            // browser), then one that has sent its request line; of those
            // still level, every other place goes to the earliest and the
            // rest to the latest: a browser that comes after a crowd of
            // clients asking once each is not served after all of them, and
            // the earliest still move at half the pace at worst. A connection
            // whose reply has gone out whole does not count: its client may
            // well ask again before it has closed it.
            const QHash<QString, int> busy = heldPerAddress(false);
            // A client that kept its last connection open after the reply
            // (until we took it back) comes after one that did not: a crowd
            // of keep-alive clients is not ahead of a newcomer.
            const auto rank = [this](Waiting &w) {
                lookAtRequest(w);
                return std::tuple(!w.whole, evictedLately(w.group), m_keptOpen.lately(w.group), !w.line);
            };
            constexpr size_t kNone = size_t(-1);
            size_t next = kNone;
            int nextHeld = 0;
            std::tuple<bool, bool, bool, bool> nextRank;
            // A connection that has sent something is weighed wherever it
            // stands; of the silent ones only the oldest few: they rank
            // alike, and weighing a whole line of them for every place
            // would cost the thread a look at each member per connection.
            constexpr int kSilentWeighed = 32;
            int silentWeighed = 0;
            for (size_t i = 0; i < m_waiting.size();) {
                Waiting &w = m_waiting[i];
                if (!w.socket || w.socket->state() != QAbstractSocket::ConnectedState) {
                    // Reset before we took it: nobody to answer. (Those
                    // before it keep their places, `next` among them.)
                    dropWaiting(m_waiting.begin() + qsizetype(i));
                    continue;
                }
                // The system is asked now and then what a silent member may
                // have sent: asking for every place taken would cost a long
                // line a call per member per place.
                bool spoke = w.socket->bytesAvailable() > 0 || w.whole;
                if (!spoke && (w.askedAt < 0 || now - w.askedAt >= kAskSilentEveryMs)) {
                    w.askedAt = now;
                    spoke = fetchUnread(w);
                    if (!w.socket || w.socket->state() != QAbstractSocket::ConnectedState)
                        continue; // looked at again at once, and dropped
                }
                const bool weighed = spoke || ++silentWeighed <= kSilentWeighed;
                const int held = weighed ? busy.value(w.group) : 0;
                if (weighed && (next == kNone || held <= nextHeld)) {
                    const auto r = rank(w);
                    if (next == kNone || held < nextHeld || r < nextRank || (m_newestTurn && r == nextRank)) {
                        next = i;
                        nextHeld = held;
                        nextRank = r;
                    }
                }
                ++i;
            }
            if (next == kNone)
                continue; // every one weighed had gone: look again
            const auto chosen = m_waiting.begin() + qsizetype(next);
            const bool spoke = chosen->line || chosen->whole;
            if (nextHeld >= m_maxPerAddress && !evict(chosen->group, spoke)) {
                if (spoke || chosen->since.elapsed() < kMomentToSpeakMs) {
                    // It has spoken (or not yet had its moment to): it waits
                    // for one of its client's connections to make way, and is
                    // not closed for them.
                    if (!m_poolRetry.isActive())
                        m_poolRetry.start(50);
                    return;
                }
                RefusalLog::Log(kProgramName,
                                QStringLiteral("socket_ConnectionRequest ") + chosen->group + QStringLiteral(" holds ")
                                    + QString::number(m_maxPerAddress) + QStringLiteral(" connections: another one closed"),
                                QStringLiteral("socket_ConnectionRequest per client"));
                dropWaiting(chosen);
                continue;
            }
            int index = chooseElement();
            if (index == 0)
                index = takeLingering(chosen->group);
            if (index == 0 && evict())
                index = chooseElement();
            if (index == 0) {
                // Every element carries a request that is still arriving or being
                // answered: the newcomers wait until one frees.
                if (!m_poolRetry.isActive())
                    m_poolRetry.start(50);
                return;
            }
            m_newestTurn = !m_newestTurn;
            QTcpSocket *socket = chosen->socket;
            const QString group = chosen->group;
            forgetWaiting(*chosen);
            m_waiting.erase(chosen);
            const QString address = peerText(*socket);
            m_roundRobin = index;
            Element &e = m_elements[size_t(index)];
            e.socket = socket;
            e.generation = m_nextGeneration++;
            e.buffer.clear();
            e.phase = Element::Reading;
            e.requestStarted = false;
            e.bodyTimed = false;
            e.answered = false;
            e.Tag = QStringLiteral("0");
            e.sendDone = true;
            e.remoteIp = address;
            e.group = group;
            {
                QHostAddress local = socket->localAddress();
                bool ok = false;
                const quint32 v4 = local.toIPv4Address(&ok);
                if (ok)
                    local = QHostAddress(v4);
                e.localIp = local.protocol() == QAbstractSocket::IPv6Protocol
                    ? QLatin1Char('[') + local.toString() + QLatin1Char(']')
                    : local.toString();
            }
            e.lastByteAt.start();
            e.acceptedAt.start();
            e.idleTimer->start(m_idleMs);
            connect(socket, &QTcpSocket::readyRead, this, [this, index] { socket_DataArrival(index); });
            connect(socket, &QTcpSocket::disconnected, this, [this, index] { socket_Close(index); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, index] {
                Element &el = m_elements[size_t(index)];
                if (el.socket && el.phase == Element::Replying) {
                    // Progress: the client is reading (its deadline still holds).
                    el.idleTimer->start(m_idleMs);
                    el.lastSentAt.start();
                    if (el.socket->bytesToWrite() == 0)
                        Socket_SendComplete(index);
                }
            });
            // What it sent while it waited may still be in the system's
            // buffer with no notice to come: a client that has spoken is not
            // to wait for a next packet that a whole request never sends.
            if (socket->bytesAvailable() == 0 && unread(socket))
                socket->waitForReadyRead(0);
            if (socket->bytesAvailable() > 0 && m_elements[size_t(index)].socket == socket)
                socket_DataArrival(index);
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("socket_ConnectionRequest "));
    }
}

void TCPServer::takeFromListener()
{
    const int budget = m_descriptorBudget > 0 ? m_descriptorBudget : descriptorBudget();
    // Per client: connections held and waiting. One whose reply has gone
    // out whole only waits for its client to close it: a browser asking
    // again right after its last page is no surplus.
    // (Counted as they come and go: a look at every member of the line
    // for each newcomer would make a long line cost its length per connection.)
    const QHash<QString, int> held = heldPerAddress(false);
    const int room = budget - listenerShare(budget);
    // Places whose reply has gone out whole are free for a newcomer.
    const int busy = busyCount();
    bool poolFull = busy + int(m_waiting.size()) >= kElements - 1;
    std::array<size_t, 3> incompleteFrom{};
    while (m_listener.hasPendingConnections()
           && (openCount() + int(m_waiting.size()) < room || closeIncompleteWaiting(incompleteFrom))) {
        QTcpSocket *socket = m_listener.nextPendingConnection();
        if (!socket)
            break;
        if (socket->state() != QAbstractSocket::ConnectedState || socket->peerAddress().isNull()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const QString group = clientGroup(*socket);
        // With no place free, a client holding and waiting for as many
        // places as it may hold would only stand in the line before others;
        // its member that has said nothing the longest makes way for the
        // newcomer, else the newcomer goes, unless it has spoken and its
        // client's share is held in the pool (a silent one of those makes
        // way when it is placed).
        if (poolFull && held.value(group) + int(m_waitingPerGroup.value(group).size()) >= m_maxPerAddress
            && !makeRoomInGroup(group, unread(socket))) {
            RefusalLog::Log(kProgramName,
                            QStringLiteral("socket_ConnectionRequest pool full: closed another waiting connection from ")
                                + group,
                            QStringLiteral("socket_ConnectionRequest waiting surplus"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_waiting.push_back({socket, group});
        Waiting &joined = m_waiting.back();
        joined.since.start();
        joined.serial = m_nextSerial++;
        m_waitingPerGroup[group].push_back(Member{joined.serial, socket, joined.since});
        poolFull = poolFull || busy + int(m_waiting.size()) >= kElements - 1;
    }
}

bool TCPServer::closeIncompleteWaiting(std::array<size_t, 3> &from)
{
    if (!m_saidLimitTooSmall && m_descriptorBudget < kBudgetForACrowd) {
        // Said once: the user can raise the limit, the page cannot.
        m_saidLimitTooSmall = true;
        struct rlimit limit = {};
        getrlimit(RLIMIT_NOFILE, &limit);
        LogError(kProgramName, QStringLiteral("socket_ConnectionRequest the open-file limit (")
                                   + QString::number(qulonglong(limit.rlim_max))
                                   + QStringLiteral(") leaves the page ") + QString::number(m_descriptorBudget)
                                   + QStringLiteral(" connections: under a crowd of clients it may answer a browser late; "
                                                    "a limit of 1024 or more avoids it"));
    }
    // A full line would leave every newcomer in the system's queue, first
    // come first served behind a crowd that holds the line: the line's
    // oldest connection that has said the least makes way, first one that
    // has sent nothing, then one without a whole request line, then one
    // whose request is still incomplete. A client that has sent its whole
    // request (a browser does at once) keeps its place whatever its age; one
    // closed comes back at the end like any other newcomer, and counts as
    // found slow. Only one given a moment to speak goes: a client found slow
    // lately a short one, any other as long as the pool gives it (a loaded
    // machine may keep a browser from sending the request it has ready for
    // longer than the short moment, and a browser closed unanswered shows
    // its user an error).
    static const char *const kSaid[] = {" that sent nothing", " that sent no whole request line",
                                        " that sent no whole request"};
    for (size_t stage = 0; stage < from.size(); ++stage) {
        for (size_t &at = from[stage]; at < m_waiting.size(); ++at) {
            Waiting &w = m_waiting[at];
            if (w.socket && w.since.elapsed() < kMomentToSpeakMs) {
                // The rest of the line is younger still: look again soon.
                if (!m_poolRetry.isActive())
                    m_poolRetry.start(kMomentToSpeakMs);
                break;
            }
            if (w.socket && w.since.elapsed() < m_evictAfterMs && !evictedLately(w.group))
                continue;
            size_t said = 0;
            if (w.socket && fetchUnread(w)) {
                lookAtRequest(w);
                said = w.whole ? from.size() : w.line ? 2 : 1;
            }
            if (w.socket && said != stage)
                continue;
            if (w.socket) {
                RefusalLog::Log(kProgramName, QStringLiteral("socket_ConnectionRequest line full: closed a connection from ")
                                                  + w.group + QLatin1String(kSaid[stage]),
                                QStringLiteral("socket_ConnectionRequest line full"));
                markSlow(w.group);
            }
            const size_t dropped = at;
            dropWaiting(m_waiting.begin() + qsizetype(dropped));
            // Those behind it moved up one place.
            for (size_t &cursor : from)
                if (cursor > dropped)
                    --cursor;
            return true;
        }
    }
    return false;
}

void TCPServer::release(int index)
{
    Element &e = m_elements[size_t(index)];
    e.idleTimer->stop();
    e.deadlineTimer->stop();
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
    e.requestStarted = false;
    e.bodyTimed = false;
    e.acceptedAt.invalidate();
    e.lastSentAt.invalidate();
    e.answered = false;
    e.Tag = QStringLiteral("0");
    e.sendDone = true;
    e.remoteIp.clear();
    e.group.clear();
    e.localIp.clear();
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
    takePending();
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
        // A client still sending is not idle; the whole request must still
        // come within the idle time of the accept.
        if (!data.isEmpty()) {
            e.lastByteAt.start();
            if (!e.requestStarted) {
                e.requestStarted = true;
                e.deadlineTimer->start(m_headerDeadlineMs);
            }
        }
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
    const qsizetype headerEnd = e.buffer.indexOf("\r\n\r\n");
    // A line ended by LF alone would otherwise leave the request waiting for
    // a CR LF that never comes.
    const qsizetype headerPart = headerEnd < 0 ? e.buffer.size() : headerEnd + 4;
    const char *bytes = e.buffer.constData();
    for (qsizetype at = 0; at < headerPart; ++at) {
        if (bytes[at] == '\n' && (at == 0 || bytes[at - 1] != '\r')) {
            refuse(index, 400, QStringLiteral("Bad Request"), QStringLiteral("bare LF"),
                   QStringLiteral("a line ended by LF without CR"));
            return;
        }
    }
    const qsizetype lineEnd = e.buffer.indexOf("\r\n");
    if (lineEnd >= 0 ? !isRequestLine(e.buffer.left(lineEnd)) : !canBeRequestLine(e.buffer)) {
        refuse(index, 400, QStringLiteral("Bad Request"), QStringLiteral("request line"),
               QStringLiteral("not an HTTP request line: ")
                   + HtmlText::forLog(AnsiCodePage::decode(e.buffer.left(lineEnd < 0 ? 80 : qMin<qsizetype>(lineEnd, 80)))));
        return;
    }
    if ((headerEnd < 0 && e.buffer.size() > kMaxHeader) || headerEnd + 4 > kMaxHeader) {
        refuse(index, 431, QStringLiteral("Request Header Fields Too Large"), QStringLiteral("header size"),
               QStringLiteral("header block above ") + QString::number(kMaxHeader) + QStringLiteral(" bytes"));
        return;
    }
    if (headerEnd < 0)
        return;
    qint64 length = 0;
    int lengths = 0;
    int hosts = 0;
    const QList<QByteArray> lines = e.buffer.left(headerEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const auto name = Latin1Case::lower(line.left(colon).trimmed());
        if (name == "transfer-encoding") {
            // Bodies are framed by their length only; a coded one would be read as garbage.
            refuse(index, 411, QStringLiteral("Length Required"), QStringLiteral("transfer coding"),
                   QStringLiteral("body sent with Transfer-Encoding ")
                       + HtmlText::forLog(AnsiCodePage::decode(line.mid(colon + 1).trimmed().left(40))));
            return;
        }
        // Two of these would let the security checks read one value and the
        // framing (or a proxy in front) another.
        if (name == "host" && ++hosts > 1) {
            refuse(index, 400, QStringLiteral("Bad Request"), QStringLiteral("two Host lines"),
                   QStringLiteral("two Host lines"));
            return;
        }
        if (name != "content-length")
            continue;
        if (++lengths > 1) {
            refuse(index, 400, QStringLiteral("Bad Request"), QStringLiteral("two Content-Length lines"),
                   QStringLiteral("two Content-Length lines"));
            return;
        }
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool ok = !value.isEmpty();
        for (const char c : value)
            ok = ok && c >= '0' && c <= '9';
        length = ok && value.size() <= 12 ? value.toLongLong() : -1;
        if (length < 0) {
            refuse(index, 400, QStringLiteral("Bad Request"), QStringLiteral("Content-Length"),
                   QStringLiteral("bad Content-Length ") + HtmlText::forLog(AnsiCodePage::decode(value.left(40))));
            return;
        }
    }
    if (length > kMaxBody) {
        refuse(index, 413, QStringLiteral("Payload Too Large"), QStringLiteral("body size"),
               QStringLiteral("body of ") + QString::number(length) + QStringLiteral(" bytes"));
        return;
    }
    const qint64 total = headerEnd + 4 + length;
    if (e.buffer.size() < total) {
        if (!e.bodyTimed) {
            e.bodyTimed = true;
            startTransferDeadline(index, length);
        }
        return;
    }
    const QString text = AnsiCodePage::decode(e.buffer.left(total));
    e.buffer.clear();
    e.buffer.squeeze();
    e.phase = Element::Queued;
    e.idleTimer->stop();
    e.deadlineTimer->stop();
    m_queue.push_back(QueueItem{index, e.generation, text});
    emit requestQueued(index);
    if (!ServerTimer.isActive())
        ServerTimer.start(kQueueDelayMs);
}

void TCPServer::startTransferDeadline(int index, qint64 bytes)
{
    const qint64 ms = m_graceMs + bytes * 1000 / m_minRate;
    m_elements[size_t(index)].deadlineTimer->start(int(qMin<qint64>(ms, 24 * 3600 * 1000)));
}

void TCPServer::refuse(int index, int status, const QString &reason, const QString &kind, const QString &why,
                       const QString &label)
{
    Element &e = m_elements[size_t(index)];
    RefusalLog::Log(kProgramName,
                    label + QString::number(status) + QLatin1Char(' ') + reason + QStringLiteral(" from ") + e.remoteIp
                        + QStringLiteral(": ") + why,
                    label + QString::number(status) + QLatin1Char(' ') + kind);
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
            refuse(index, 408, QStringLiteral("Request Timeout"), QStringLiteral("idle"),
                   QStringLiteral("request incomplete after ") + QString::number(m_idleMs) + QStringLiteral(" ms"));
            return;
        }
        release(index);
        break;
    case Element::Replying:
        dropReply(index, QStringLiteral("stalled"));
        break;
    case Element::Lingering:
        m_keptOpen.mark(e.group);
        release(index);
        break;
    default:
        return;
    }
    takePending();
}

void TCPServer::dropReply(int index, const QString &why)
{
    RefusalLog::Log(kProgramName,
                    QStringLiteral("TCPServer reply to ") + m_elements[size_t(index)].remoteIp + QLatin1Char(' ') + why
                        + QStringLiteral("; connection closed"),
                    QStringLiteral("TCPServer reply ") + why);
    release(index);
}

void TCPServer::takePending()
{
    if ((m_listener.hasPendingConnections() || !m_waiting.empty()) && !m_takeSoon.isActive())
        m_takeSoon.start();
}

std::deque<TCPServer::Waiting>::iterator TCPServer::dropWaiting(std::deque<Waiting>::iterator it)
{
    if (QTcpSocket *socket = it->socket) {
        // Deleted at once, not later: its descriptor goes back to the system
        // now and may come back as the very next connection taken.
        socket->abort();
        delete socket;
    }
    forgetWaiting(*it);
    return m_waiting.erase(it);
}

void TCPServer::forgetWaiting(const Waiting &waiting)
{
    const auto members = m_waitingPerGroup.find(waiting.group);
    if (members == m_waitingPerGroup.end())
        return;
    std::vector<Member> &list = members.value();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Member &m) { return m.serial == waiting.serial; }),
               list.end());
    if (list.empty())
        m_waitingPerGroup.erase(members);
}

bool TCPServer::makeRoomInGroup(const QString &group, bool newcomerSpoke)
{
    // One client may be a LAN's whole IPv6 /64: a browser among a neighbour's
    // crowd would otherwise be turned away whenever the crowd fills the
    // client's share. The accept may also come before a browser's request
    // has arrived, so a newcomer that has said nothing yet gets its moment
    // too, up to a bound; past it (or for one that has spoken) the member
    // silent the longest goes whatever its age.
    if (closeSilentMember(group, kMomentToSpeakMs))
        return true;
    const int waiting = int(m_waitingPerGroup.value(group).size());
    if (!newcomerSpoke && waiting < kSilentNewcomersPerClient)
        return true;
    if (closeSilentMember(group, 0))
        return true;
    // Every member has spoken: one more that has spoken still joins while its
    // client's share is held in the pool (a silent one there makes way).
    return newcomerSpoke && waiting < m_maxPerAddress;
}

bool TCPServer::closeSilentMember(const QString &group, int silentForMs)
{
    // Its entry in the line is dropped when the line is next looked at.
    const auto members = m_waitingPerGroup.find(group);
    if (members == m_waitingPerGroup.end())
        return false;
    std::vector<Member> &list = members.value();
    for (auto it = list.begin(); it != list.end(); ++it) {
        QTcpSocket *socket = it->socket;
        if (socket && (it->since.elapsed() < silentForMs || socket->bytesAvailable() > 0 || unread(socket)))
            continue;
        if (socket) {
            RefusalLog::Log(kProgramName,
                            QStringLiteral("socket_ConnectionRequest pool full: closed a waiting connection from ") + group
                                + QStringLiteral(" that sent nothing"),
                            QStringLiteral("socket_ConnectionRequest waiting surplus"));
            socket->abort();
            delete socket;
        }
        list.erase(it);
        return true;
    }
    return false;
}

void TCPServer::deadlineExpired(int index)
{
    Element &e = m_elements[size_t(index)];
    switch (e.phase) {
    case Element::Reading:
        refuse(index, 408, QStringLiteral("Request Timeout"), QStringLiteral("deadline"),
               e.bodyTimed ? QStringLiteral("body slower than ") + QString::number(m_minRate)
                       + QStringLiteral(" bytes/s")
                           : QStringLiteral("header incomplete ") + QString::number(m_headerDeadlineMs)
                       + QStringLiteral(" ms after its first byte"));
        return;
    case Element::Replying:
        dropReply(index, QStringLiteral("not taken in time"));
        break;
    default:
        return;
    }
    takePending();
}

// ---- queue ----

void TCPServer::ServerTimer_Timer()
{
    if (m_draining)
        serveAside();
    else
        ProcessRequestQueue();
}

void TCPServer::serveAside()
{
    if (m_servingAside || m_unloaded || stopTaking())
        return;
    m_servingAside = true;
    QPointer<TCPServer> self(this);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        // Status pages are built one at a time, by the drain; a request the
        // Host check refuses needs no page.
        if (pathOf(it->text).startsWith(QLatin1String("\\stat")) && hostAllowed(it->text)) {
            ++it;
            continue;
        }
        const QueueItem item = *it;
        m_queue.erase(it);
        try {
            dispatch(item.index, item.generation, item.text);
        } catch (...) {
            PendingError::capture();
            LogError(kProgramName, QStringLiteral("ProcessRequestQueue "));
        }
        if (!self || m_unloaded)
            return;
        answerUnanswered(item.index, item.generation);
        it = m_queue.begin();
    }
    m_servingAside = false;
}

double TCPServer::recentUse(const QString &address) const
{
    const auto it = m_use.constFind(address);
    if (it == m_use.constEnd())
        return 0;
    return it->ms * std::exp2(-double(m_clock.elapsed() - it->at) / kUseHalfLifeMs);
}

void TCPServer::chargeUse(const QString &address, qint64 ms)
{
    if (m_use.size() > 1024)
        m_use.clear(); // forgotten addresses start afresh
    m_use.insert(address, Use{recentUse(address) + double(ms) + 1, m_clock.elapsed()});
}

void TCPServer::answerUnanswered(int index, quint64 generation)
{
    Element &e = m_elements[size_t(index)];
    if (e.phase == Element::Queued && e.generation == generation && !e.answered) {
        Response fallback;
        fallback.setIndex(qint16(index));
        fallback.SendErrorResponse(qint16(index));
    }
}

void TCPServer::ProcessRequestQueue()
{
    ServerTimer.stop();
    if (stopTaking())
        return;
    m_draining = true;
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.empty()) {
        // Fair between clients: the request of the address that has taken the
        // least of the server's time lately goes first, so a browser asking
        // now and then passes a crowd that keeps the server busy; one
        // address's requests keep their order.
        // Between addresses that have used equally little (none yet, as a
        // crowd arriving at once), the one holding fewer connections first.
        const QHash<QString, int> held = heldPerAddress();
        // Requests that need no status page (help, files, refusals) cost next
        // to nothing and go before pages.
        auto next = m_queue.begin();
        double least = -1;
        int leastHeld = 0;
        bool leastPage = true;
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            // One key for the charge and its tie-break: what one client counts as.
            const QString &address = m_elements[size_t(it->index)].group;
            const double used = recentUse(address);
            const bool page = pathOf(it->text).startsWith(QLatin1String("\\stat"));
            if (least < 0 || (leastPage && !page)
                || (page == leastPage && (used < least || (used == least && held.value(address) < leastHeld)))) {
                least = used;
                leastHeld = held.value(address);
                leastPage = page;
                next = it;
            }
        }
        const QueueItem item = *next;
        m_queue.erase(next);
        const QString address = m_elements[size_t(item.index)].group;
        const qint64 began = m_clock.elapsed();
        // Should this request's page wait for the controller, the requests
        // already queued behind it that need no page are answered meanwhile.
        if (!m_queue.empty())
            ServerTimer.start(kQueueDelayMs);
        try {
            dispatch(item.index, item.generation, item.text);
        } catch (...) {
            PendingError::capture();
            LogError(kProgramName, QStringLiteral("ProcessRequestQueue "));
        }
        // Every request gets one reply, whatever happened while it was built.
        answerUnanswered(item.index, item.generation);
        chargeUse(address, m_clock.elapsed() - began);
        // Clients arriving meanwhile are let in (accepted, read) before the
        // rest: a backlog of pages must not keep a newcomer out of its turn.
        if (slice.elapsed() >= kDrainSliceMs)
            break;
    }
    m_draining = false;
    if (m_unloaded) {
        // Unloaded while a page let events run: nothing of it is used any more.
        if (sInstance == this)
            sInstance = nullptr;
        deleteLater();
        return;
    }
    if (!m_queue.empty())
        ServerTimer.start(0);
}

void TCPServer::dispatch(int index, quint64 generation, const QString &text)
{
    if (m_elements[size_t(index)].generation != generation)
        return;
    Request request;
    request.setRemoteip(m_elements[size_t(index)].remoteIp);
    request.setLocalip(m_elements[size_t(index)].localIp);
    request.ParsePage(text);
    if (!hostAllowed(request)) {
        const QString host = request.ServerVariables(QStringLiteral("Host"));
        refuse(index, 421, QStringLiteral("Misdirected Request"), QStringLiteral("Host"),
               QStringLiteral("Host ") + HtmlText::forLog(host, 80) + QStringLiteral(" is no name of this server"),
               QStringLiteral("ProcessRequestQueue "));
        return;
    }
    Response response;
    response.setIndex(qint16(index));
    const QString path = routePath(request.page());
    const QString ext = path.right(4);
    if (ext == QLatin1String(".jpg") || ext == QLatin1String(".gif") || ext == QLatin1String(".png")
        || ext == QLatin1String(".wmz"))
        response.SendBinaryFile(path, qint16(index));
    else if (ext == QLatin1String(".css"))
        response.SendTextFile(path, qint16(index));
    else if (path.startsWith(QLatin1String("\\stat"))) {
        PageWait::Begin();
        QString page = StatusPage(request, response);
        if (PageWait::End() && !response.answered() && !m_unloaded) {
            if (hold(index, generation, request))
                return;
            // This client waits for a page already: this one comes at once.
            Request plain = request.withoutForm();
            page = StatusPage(plain, response);
        }
        response.SendTextString(page, qint16(index));
    }
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
    e.lastSentAt.start();
    e.Tag = QStringLiteral("0");
    e.idleTimer->start(m_idleMs);
    startTransferDeadline(index, bytes.size());
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
        LogError(kProgramName, QStringLiteral("TCPServer_SendBinaryFile cannot open ") + ProgramRelative(path));
        return false;
    }
    e.answered = true;
    e.phase = Element::Replying;
    e.lastSentAt.start();
    e.Tag = QStringLiteral("1");
    startTransferDeadline(index, header.size() + file->size());
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
    try {
        Element &e = m_elements[size_t(index)];
        e.TCPBinarySendTimer->stop();
        e.sendDone = true;
        sendNextChunk(index);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("TCPBinarySendTimer_Timer"));
    }
}

// ---- held status pages ----

bool TCPServer::hold(int index, quint64 generation, const Request &request)
{
    Element &e = m_elements[size_t(index)];
    for (const HeldReply &held : m_held) {
        const Element &other = m_elements[size_t(held.index)];
        if (held.remoteIp == e.remoteIp && other.phase == Element::Holding && other.generation == held.generation)
            return false;
    }
    e.phase = Element::Holding;
    e.idleTimer->stop();
    m_held.push_back(HeldReply{index, generation, e.remoteIp, request.withoutForm(), QDeadlineTimer(gPageRefreshWaitMs)});
    if (!m_heldTimer.isActive())
        m_heldTimer.start();
    return true;
}

void TCPServer::releaseHeld()
{
    // A page in the making (a drain that lets events run) is not interrupted.
    if (m_draining)
        return;
    const bool pollStarted = PageWait::PollStarted();
    std::vector<HeldReply> due;
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (pollStarted || it->deadline.hasExpired() || gShuttingDown) {
            due.push_back(std::move(*it));
            it = m_held.erase(it);
        } else {
            ++it;
        }
    }
    if (m_held.empty()) {
        m_heldTimer.stop();
        PageWait::Done();
    }
    QPointer<TCPServer> self(this);
    for (const HeldReply &held : due) {
        if (!self || m_unloaded)
            return;
        Element &e = m_elements[size_t(held.index)];
        if (e.phase != Element::Holding || e.generation != held.generation)
            continue; // the client went away meanwhile
        if (gShuttingDown) {
            release(held.index);
            continue;
        }
        e.phase = Element::Queued;
        m_draining = true;
        sendStatusPage(held.index, held.request);
        m_draining = false;
        if (m_unloaded) {
            if (sInstance == this)
                sInstance = nullptr;
            deleteLater();
            return;
        }
    }
    // Requests that arrived while a page was built found the drain busy.
    if (!m_queue.empty() && !ServerTimer.isActive())
        ServerTimer.start(kQueueDelayMs);
}

void TCPServer::sendStatusPage(int index, const Request &request)
{
    try {
        Request page = request;
        Response response;
        response.setIndex(qint16(index));
        response.SendTextString(StatusPage(page, response), qint16(index));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("ProcessRequestQueue "));
    }
    Element &e = m_elements[size_t(index)];
    if (e.phase == Element::Queued && !e.answered) {
        Response fallback;
        fallback.setIndex(qint16(index));
        fallback.SendErrorResponse(qint16(index));
    }
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
    e.lastSentAt.start();
    e.deadlineTimer->stop();
    ::shutdown(int(e.socket->socketDescriptor()), SHUT_WR);
    e.idleTimer->start(m_lingerMs);
}
