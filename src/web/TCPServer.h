#pragma once

#include "web/Request.h"

#include "core/DrainSlices.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// The web server form: a listening socket and a pool of connection elements
// 1 to 25, a request queue drained 50 ms after the first request of a burst,
// the dispatch of each request by its path, and the paced send of files in
// 1000-byte chunks. One request per connection: the connection closes once
// its reply has gone out.
//
// A connection's bytes are gathered until its header block and the body its
// Content-Length announces are complete; only then does the request join the
// queue. Limits: header block 16 KiB (431), body 1 MiB (413), a first line
// that is no HTTP request line (400). A connection that has not sent a whole
// request within the idle time is closed (408 when it had sent part of one).
// A client that drips its request cannot keep its connection either: the
// header block must be complete within 10 s of its first byte, and a body
// and a reply must each go through within 10 s plus the time their length
// takes at a minimum rate. Every connection waiting in the system is taken at
// once into a line of our own (pool and line within a budget of descriptors
// from the process's file limit); a place goes to the client holding the
// fewest, one that has sent its request line first. A place whose reply has
// gone out whole is free for a newcomer at once (a client keeping the
// connection for reuse holds nothing). At a full pool the
// newcomer takes the place of a connection (open at least half a second, or
// 0.15 s without a whole request line) of the client holding the most, so
// clients that crowd the pool lose their own connections first; one client
// (an address, or an IPv6 /64) holds at most 8 connections, and while the
// pool is full it waits for no more places than that, except for newcomers
// given a moment to speak, for which its silent ones make way. A request
// line or header line ended by a bare LF is refused at once.
//
// A request whose Host is no name of this machine gets 421; a body sent with
// Transfer-Encoding gets 411. A status page that waits for the controller's
// next poll (after a row button) is held while other requests are served.
// The queue is drained fairly: the client address that has used the least of
// the server's time lately first.
// While a status page waits inside its drain (a command to a controller that
// is slow to answer), requests that need no status page (help, files,
// refusals) are still answered. Refusals are logged through the collapsing
// refusal log, one entry per kind of refusal.
class TCPServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kElements = 26;           // element 0 listens
    static constexpr int kChunk = 1000;            // bytes per paced send
    static constexpr int kBinaryWatchdogMs = 5000; // a chunk goes out at the latest after this
    static constexpr int kQueueDelayMs = 50;
    static constexpr int kDrainSliceMs = DrainSlices::kPageRequestsMs; // a drain lets events in after this long
    static constexpr int kMaxHeader = 16 * 1024;
    static constexpr int kMaxBody = 1024 * 1024;
    static constexpr int kMaxPerAddress = 8;
    static constexpr int kHeaderDeadlineMs = 10000;
    // A body or a reply of n bytes must go through within the grace time
    // plus n / kMinTransferRate seconds.
    static constexpr int kTransferGraceMs = 10000;
    static constexpr int kMinTransferRate = 16 * 1024; // bytes per second

    static TCPServer &instance();
    static bool loaded();
    // Loads the form (start-up): starts listening on the HTTPPort setting.
    static void load();
    // Unloads it (shutdown): every connection is closed, listening stops. While
    // a queue drain runs (its page can let events run) the server is only
    // marked; the drain deletes it when it returns.
    static void unload();

    // The port is read only here; empty, 0 or non-numeric leaves the server not listening.
    void StartListening();
    bool isListening() const { return m_listener.isListening(); }
    quint16 serverPort() const { return m_listener.serverPort(); }
    QString htmlRoot() const;

    // Connection element state, as the socket control reported it.
    enum State { Closed = 0, Listening = 2, Connected = 7 };
    int State(int index) const;
    QString RemoteHostIP(int index) const;
    int openCount() const;

    // Writes a whole reply on an element, once: a second reply for the same
    // connection is dropped. False when nothing was sent (no connection,
    // closed, or already answered).
    bool sendReply(int index, quint64 generation, const QByteArray &bytes);
    // The connection currently on an element (0 when none).
    quint64 generation(int index) const;

    // Paced send of a file after its header; the connection closes at the end.
    bool sendFile(int index, quint64 generation, const QByteArray &header, const QString &path);

    // Times of the pool, shortened by tests.
    void setIdleTimeoutMs(int ms) { m_idleMs = ms; }
    void setEvictAfterMs(int ms) { m_evictAfterMs = ms; }
    void setMaxPerAddress(int count) { m_maxPerAddress = count; }
    // The header deadline and the transfer grace time together.
    void setTransferDeadlineMs(int ms) { m_headerDeadlineMs = m_graceMs = ms; }
    void setMinTransferRate(int bytesPerSecond) { m_minRate = bytesPerSecond; }
    // Status page replies held until the controller's next poll (tests).
    int heldReplies() const { return int(m_held.size()); }
    // Sizes of the pieces of a paced send as they are written (diagnostics and tests).
    std::function<void(int index, qint64 bytes)> onChunkWritten;

signals:
    void requestQueued(int index);

private:
    struct Element
    {
        QPointer<QTcpSocket> socket;
        quint64 generation = 0;
        QByteArray buffer;
        enum Phase { Free, Reading, Queued, Holding, Replying, Lingering } phase = Free;
        bool answered = false;
        QString remoteIp;
        QString group; // the address, or an IPv6 address's /64: what one client counts as
        QString localIp;
        QElapsedTimer lastByteAt;
        QElapsedTimer acceptedAt;
        QElapsedTimer lastSentAt; // the reply last moved (or went out whole)
        std::unique_ptr<QTimer> idleTimer;
        // The header, body or reply deadline of the transfer under way.
        std::unique_ptr<QTimer> deadlineTimer;
        bool requestStarted = false;
        bool bodyTimed = false;
        // Paced send: "1" while a file goes out.
        QString Tag = QStringLiteral("0");
        bool sendDone = true;
        std::unique_ptr<QTimer> TCPBinarySendTimer;
        std::unique_ptr<QFile> file;
    };
    struct QueueItem
    {
        int index;
        quint64 generation;
        QString text;
    };
    // A status page reply that waits for the controller's next poll.
    struct HeldReply
    {
        int index;
        quint64 generation;
        QString remoteIp;
        Request request;
        QDeadlineTimer deadline;
    };

    TCPServer();
    ~TCPServer() override;

    void socket_ConnectionRequest();
    void socket_DataArrival(int index);
    void socket_Close(int index);
    void Socket_SendComplete(int index);
    void TCPBinarySendTimer_Timer(int index);
    void ServerTimer_Timer();
    void ProcessRequestQueue();
    void dispatch(int index, quint64 generation, const QString &text);

    void frame(int index);
    // `kind` names the refusal for the collapsing log (never text the client chose).
    void refuse(int index, int status, const QString &reason, const QString &kind, const QString &why,
                const QString &label = QStringLiteral("socket_DataArrival "));
    bool hold(int index, quint64 generation, const Request &request);
    void releaseHeld();
    void sendStatusPage(int index, const Request &request);
    void shutDown();
    // Once the program stops: no newcomer is let in and no waiting request is begun.
    bool stopTaking();
    void sendNextChunk(int index);
    void finishReply(int index);
    void idleTimeout(int index);
    void deadlineExpired(int index);
    // Closes a connection whose client does not take its reply (logged as `why`).
    void dropReply(int index, const QString &why);
    // Lets a newcomer waiting in the listener try again.
    void takePending();
    void startTransferDeadline(int index, qint64 bytes);
    // Requests that need no status page, answered while a drain's page waits.
    void serveAside();
    // The not-found page for a request that got no reply of its own.
    void answerUnanswered(int index, quint64 generation);
    double recentUse(const QString &address) const;
    void chargeUse(const QString &address, qint64 ms);
    int chooseElement();
    // Open connections per client (an address, or an IPv6 /64).
    // `lingering`: count connections whose reply has gone out whole too.
    QHash<QString, int> heldPerAddress(bool lingering = true) const;
    // Whether a connection still being read has sent a whole request line.
    static bool hasRequestLine(const Element &e);
    // Takes what waits in the listener into the line, closing at once a
    // newcomer that would only wait while its client holds or waits already.
    void takeFromListener();
    // Closes the oldest connection of a full line that has said the least
    // (nothing, no whole request line, no whole request), looking from the
    // cursors on (where the last call stopped); false when none may go.
    bool closeIncompleteWaiting(std::array<size_t, 3> &from);
    // Makes room for a newcomer: closes a connection of `address` when given,
    // else one of the address holding the most connections that has one to
    // spare (never a client's only one while others hold several); of
    // those, the one that has received nothing the longest. Only connections open for
    // the eviction time go, none whose request is queued or being answered,
    // and a reply only once it has not moved for as long.
    // With `spoke`, a connection of `address` that has said less (no whole
    // request line, given a moment to speak) may go however young it is.
    bool evict(const QString &address = QString(), bool spoke = false);
    // Takes for a newcomer of `group` a place whose reply has gone out whole:
    // one of its own first, else the one finished longest ago; 0 when none.
    int takeLingering(const QString &group);
    void release(int index);

    QTcpServer m_listener;
    std::array<Element, kElements> m_elements;
    std::deque<QueueItem> m_queue;
    // Connections taken from the listener that wait for an element; the
    // line and the pool together stay within the descriptor budget.
    struct Waiting
    {
        QPointer<QTcpSocket> socket;
        QString group;
        qint64 seen = 0;    // bytes it had sent when last looked at
        bool line = false;  // they hold a whole request line
        bool whole = false; // and the whole request: headers and body
        QElapsedTimer since; // taken into the line
        quint64 serial = 0;
        qint64 askedAt = -1; // the system last asked what it sent (server clock)
    };
    // A member of the line as its client's list holds it.
    struct Member
    {
        quint64 serial;
        QPointer<QTcpSocket> socket;
        QElapsedTimer since;
    };
    // Looks again at what a waiting connection has sent, when more has come.
    static void lookAtRequest(Waiting &waiting);
    // Whether it has sent anything, fetching what the system holds for it.
    static bool fetchUnread(Waiting &waiting);
    std::deque<Waiting> m_waiting;
    // Members of the line per client, kept as they join and leave.
    QHash<QString, std::vector<Member>> m_waitingPerGroup;
    quint64 m_nextSerial = 1;
    // Closes a member of the line and takes it out; the next member.
    std::deque<Waiting>::iterator dropWaiting(std::deque<Waiting>::iterator it);
    void forgetWaiting(const Waiting &waiting);
    // A client at its cap, a newcomer of it in the listener: whether the
    // newcomer may join the line, a member that has said nothing making way
    // for it where one may.
    bool makeRoomInGroup(const QString &group, bool newcomerSpoke);
    // Closes the client's member of the line that has said nothing for at
    // least that long, the oldest; false when none has.
    bool closeSilentMember(const QString &group, int silentForMs);
    // Takes what the listener holds on the next turn of the event loop.
    QTimer m_takeSoon;
    int m_descriptorBudget = 0;
    // Below this budget a crowd that fills the line keeps a browser waiting
    // (measured: over a second at 64); said once when the line first fills.
    static constexpr int kBudgetForACrowd = 256;
    bool m_saidLimitTooSmall = false;
    QTimer ServerTimer;
    QTimer m_poolRetry;
    QTimer m_heldTimer;
    std::vector<HeldReply> m_held;
    bool m_draining = false;
    bool m_servingAside = false;
    bool m_unloaded = false;
    // Time spent on each client address's requests (ms), halved every kUseHalfLifeMs.
    struct Use
    {
        double ms = 0;
        qint64 at = 0;
    };
    static constexpr double kUseHalfLifeMs = 5000;
    QHash<QString, Use> m_use;
    QElapsedTimer m_clock;
    int m_roundRobin = 0;
    // Whether the next place goes to the latest of the line's level members.
    bool m_newestTurn = false;
    quint64 m_nextGeneration = 1;
    int m_idleMs = 30000;
    int m_evictAfterMs = 500;
    // Clients one of whose connections was closed to make room, and when:
    // in the line they come after clients never found that slow.
    static constexpr int kSlowClientMemoryMs = 10000;
    static constexpr int kSlowClientsKept = 4096;
    struct RecentMarks
    {
        void mark(const QString &group);
        bool lately(const QString &group) const;
        QHash<QString, QElapsedTimer> at;
    };
    RecentMarks m_foundSlow;
    // Clients that kept a connection open after its reply until the server
    // took it back: in the line they come after clients that did not.
    RecentMarks m_keptOpen;
    bool evictedLately(const QString &group) const { return m_foundSlow.lately(group); }
    void markSlow(const QString &group) { m_foundSlow.mark(group); }
    // Open connections other than those whose reply has gone out whole.
    int busyCount() const;
    int m_maxPerAddress = kMaxPerAddress;
    int m_lingerMs = 2000;
    int m_headerDeadlineMs = kHeaderDeadlineMs;
    int m_graceMs = kTransferGraceMs;
    int m_minRate = kMinTransferRate;
};
