// Request framing, limits and the connection pool of the running server.
#include "WebTestSupport.h"

#include "core/RefusalLog.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPageHook.h"
#include "web/TCPServer.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

class Pool : public WebTest
{
protected:
    void SetUp() override
    {
        WebTest::SetUp();
        SetStatusPageBuilder([this](Request &request, Response &) {
            ++pages;
            return QStringLiteral("form=") + request.Form(QStringLiteral("a")) + QLatin1Char('/')
                + request.Form(QStringLiteral("b"));
        });
    }
    int pages = 0;
};

TEST_F(Pool, PostSplitIntoPacketsIsOneRequest)
{
    const QByteArray reply = exchange({"POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-", "Length: 8\r\n\r\n", "a=1&b", "=22"}, 120);
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n")) << reply.toStdString();
    EXPECT_TRUE(reply.endsWith("\r\n\r\nform=1/22")) << reply.toStdString();
    EXPECT_EQ(pages, 1);
}

TEST_F(Pool, RequestByteByByte)
{
    const QByteArray request = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    QList<QByteArray> bytes;
    for (const char c : request)
        bytes.append(QByteArray(1, c));
    const QByteArray reply = exchange(bytes, 5);
    EXPECT_TRUE(reply.endsWith("\r\n\r\nform=/")) << reply.toStdString();
    EXPECT_EQ(pages, 1);
}

TEST_F(Pool, BytesAfterTheRequestAreNotASecondRequest)
{
    const QByteArray reply = exchange({"GET /status HTTP/1.1\r\n\r\nGET /status HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(reply.count("HTTP/1.1 200 OK"), 1);
    EXPECT_EQ(pages, 1);
}

TEST_F(Pool, Limits)
{
    struct Case
    {
        QList<QByteArray> pieces;
        QByteArray status;
    };
    const QByteArray bigHeader = "GET /status HTTP/1.1\r\nX-Pad: " + QByteArray(20 * 1024, 'a') + "\r\n\r\n";
    const QByteArray hugeLine = "GET /" + QByteArray(17 * 1024, 'b');
    const QByteArray bigBody = "POST /status HTTP/1.1\r\nContent-Length: " + QByteArray::number(2 * 1024 * 1024) + "\r\n\r\n";
    const std::vector<Case> cases = {
        {{bigHeader}, "431 Request Header Fields Too Large"},
        {{hugeLine}, "431 Request Header Fields Too Large"},
        {{bigBody, QByteArray(64 * 1024, 'c')}, "413 Payload Too Large"},
        {{"HELLO THERE\r\n"}, "400 Bad Request"},
        {{QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)}, "400 Bad Request"},
        {{"GET /status HTTP/1.1\r\nContent-Length: -5\r\n\r\n"}, "400 Bad Request"},
        {{"GET /status HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n"}, "400 Bad Request"},
        {{"POST /status HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"}, "400 Bad Request"},
    };
    for (const Case &c : cases) {
        RefusalLog::Reset(); // each case logs its own refusal
        const int mark = logMark();
        const QByteArray reply = exchange(c.pieces);
        const QByteArray expectedBody = "<html><h1>" + c.status + "</h1></html>";
        EXPECT_EQ(reply, "HTTP/1.1 " + c.status + "\r\nServer: tvk\r\nDate: 05-Dec-26\r\nConnection: Close\r\n"
                             "Content-Type: text/html\r\nContent-Length: " + QByteArray::number(expectedBody.size())
                             + "\r\n\r\n" + expectedBody)
            << c.status.toStdString();
        EXPECT_TRUE(anyLogContains(mark, QStringLiteral("socket_DataArrival ") + QString::fromLatin1(c.status.left(3))))
            << c.status.toStdString();
    }
    EXPECT_EQ(pages, 0);
    // Still serving.
    EXPECT_TRUE(get("/status").endsWith("form=/"));
}

TEST_F(Pool, BodyUpToTheLimitIsTaken)
{
    const QByteArray body = "a=" + QByteArray(1024 * 1024 - 2, 'z');
    const QByteArray reply = exchange({"POST /status HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n", body});
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK")) << reply.left(200).toStdString();
    EXPECT_EQ(pages, 1);
}

TEST_F(Pool, IdleAndIncompleteConnectionsTimeOut)
{
    TCPServer::instance().setIdleTimeoutMs(400);
    // Started before the connections: on a loaded machine the server may take
    // one long before the others have connected, and its time runs from then.
    QElapsedTimer clock;
    clock.start();
    // The timeout applies to connections accepted from now on.
    Client idle(m_port);
    Client slow(m_port);
    Client shortBody(m_port);
    ASSERT_TRUE(idle.connected() && slow.connected() && shortBody.connected());
    shortBody.socket.write("POST /status HTTP/1.1\r\nContent-Length: 100\r\n\r\na=1");
    const int mark = logMark();
    // A slowloris client: one header byte every 100 ms, never done.
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] { slow.socket.write("X"); });
    slow.socket.write("GET /status HTTP/1.1\r\nX-Slow: ");
    drip.start(100);
    EXPECT_TRUE(idle.closed());
    EXPECT_TRUE(slow.closed());
    EXPECT_TRUE(shortBody.closed());
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(idle.received, QByteArray());
    EXPECT_TRUE(slow.received.startsWith("HTTP/1.1 408 Request Timeout\r\n")) << slow.received.toStdString();
    EXPECT_TRUE(shortBody.received.startsWith("HTTP/1.1 408 Request Timeout\r\n"));
    // The second refusal of the same text is counted, not logged again.
    EXPECT_EQ(logsSince(mark).filter(QStringLiteral("408")).size(), 1);
    RefusalLog::Flush();
    EXPECT_EQ(logsSince(mark).filter(QStringLiteral("408 Request Timeout from 127.0.0.1: request incomplete after 400 ms (repeated 1 more times)")).size(), 1);
    EXPECT_EQ(pages, 0);
    EXPECT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == 0; }));
}

TEST_F(Pool, TwentySixSimultaneousRequestsAreAllAnswered)
{
    TCPServer::instance().setMaxPerAddress(TCPServer::kElements); // all from one address here
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 26; ++i)
        clients.push_back(std::make_unique<Client>(m_port));
    for (auto &c : clients)
        c->socket.write("GET /status?n=1 HTTP/1.1\r\n\r\n");
    for (auto &c : clients) {
        EXPECT_TRUE(c->closed());
        EXPECT_TRUE(c->received.endsWith("form=/")) << c->received.toStdString();
    }
    EXPECT_EQ(pages, 26);
}

// At the pool's limit the oldest idle connection makes room; the others stay.
TEST_F(Pool, FullPoolClosesOnlyTheOldestIdleConnection)
{
    TCPServer::instance().setEvictAfterMs(100);
    TCPServer::instance().setMaxPerAddress(TCPServer::kElements);
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < TCPServer::kElements - 1; ++i) {
        idle.push_back(std::make_unique<Client>(m_port));
        ASSERT_TRUE(idle.back()->connected());
        ASSERT_TRUE(waitUntil([&] { return TCPServer::instance().openCount() == i + 1; }));
        pause(5);
    }
    pause(150);
    const int mark = logMark();
    const QByteArray reply = get("/status");
    EXPECT_TRUE(reply.endsWith("form=/")) << reply.toStdString();
    EXPECT_TRUE(idle.front()->closed(5000));
    for (size_t i = 1; i < idle.size(); ++i)
        EXPECT_EQ(idle[i]->socket.state(), QAbstractSocket::ConnectedState) << i;
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("pool full")));
}

// A full pool of connections whose bodies have stalled: the newcomer is not
// turned away, and it costs the crowd one connection, not all of them.
TEST_F(Pool, ANewcomerTakesThePlaceOfOneStalledRequest)
{
    TCPServer::instance().setMaxPerAddress(TCPServer::kElements);
    std::vector<std::unique_ptr<Client>> busy;
    for (int i = 0; i < TCPServer::kElements - 1; ++i) {
        busy.push_back(std::make_unique<Client>(m_port));
        ASSERT_TRUE(busy.back()->connected());
        busy.back()->socket.write("POST /status HTTP/1.1\r\nContent-Length: 3\r\n\r\n");
    }
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == TCPServer::kElements - 1; }));
    Client late(m_port);
    ASSERT_TRUE(late.connected()); // the system accepts it; the pool takes it once a stalled one may go
    late.socket.write("GET /status HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(late.closed());
    EXPECT_TRUE(late.received.endsWith("form=/"));
    size_t open = 0;
    for (const auto &b : busy)
        open += b->socket.state() == QAbstractSocket::ConnectedState ? 1 : 0;
    EXPECT_EQ(open, busy.size() - 1);
}

TEST_F(Pool, UnloadClosesEverythingAndStopsListening)
{
    Client open(m_port);
    ASSERT_TRUE(open.connected());
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == 1; }));
    TCPServer::unload();
    EXPECT_TRUE(open.closed());
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, m_port);
    EXPECT_FALSE(probe.waitForConnected(1000));
    TCPServer::load(); // for TearDown
}

// The port setting is read at load: empty, 0, non-numeric or out of range leaves the server not listening.
// (A key stored with no value reads as the default 8010; "" in quotes is empty.)
TEST_F(Pool, PortSettings)
{
    for (const QString &port : {QStringLiteral("\"\""), QStringLiteral("0"), QStringLiteral("web"), QStringLiteral("70000")}) {
        TCPServer::unload();
        hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("HTTPPort"), port, QStringLiteral("tvkXapKorvane.ini"));
        TCPServer::load();
        EXPECT_FALSE(TCPServer::instance().isListening()) << port.toStdString();
    }
    TCPServer::unload();
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("HTTPPort"),
                       QStringLiteral("\"%1\"").arg(m_port), QStringLiteral("tvkXapKorvane.ini"));
    TCPServer::load();
    EXPECT_TRUE(TCPServer::instance().isListening());
    EXPECT_EQ(TCPServer::instance().serverPort(), m_port);
}

// Connections reset before the server took them have no peer address: they
// are closed, and none of them counts against an address (which would make
// them share one bucket and shut out the next such client).
TEST_F(Pool, ConnectionsResetBeforeTheyAreTakenAreDropped)
{
    const int mark = logMark();
    for (int i = 0; i < 2 * TCPServer::kMaxPerAddress; ++i) {
        // Connect and reset without letting the server's events run in between.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        const linger reset = {1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
    }
    pause(300);
    // The server takes connections in the order they came: once the next one
    // is answered, it has looked at every reset one, however late its turn.
    EXPECT_TRUE(get("/status").endsWith("form=/"));
    EXPECT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == 0; }));
    for (int i = 1; i < TCPServer::kElements; ++i)
        EXPECT_EQ(TCPServer::instance().State(i), TCPServer::Closed) << i;
    EXPECT_FALSE(anyLogContains(mark, QStringLiteral("holds"))) << logsSince(mark).join('\n').toStdString();
}

// A browser on a loaded machine may not have sent its request by the time
// its connection could be taken, and a crowd that reconnects at once brings
// connections younger than it: the crowd's, found slow before, go first.
TEST_F(Pool, AClientFoundSlowGivesWayBeforeOneNeverFoundSo)
{
    const auto crowdAddress = [](int n) { return QStringLiteral("127.0.5.") + QString::number(10 + n); };
    const int places = TCPServer::kElements - 1;
    const auto wave = [&](std::vector<std::unique_ptr<Client>> &into, int count) {
        for (int n = 0; n < count; ++n) {
            into.push_back(std::make_unique<Client>(m_port, crowdAddress(n)));
            ASSERT_TRUE(into.back()->connected());
        }
    };
    const auto states = [&](const std::vector<std::unique_ptr<Client>> &clients) {
        QString text;
        for (const auto &c : clients)
            text += c->socket.state() == QAbstractSocket::ConnectedState ? QLatin1Char('o') : QLatin1Char('-');
        return text.toStdString();
    };
    std::vector<std::unique_ptr<Client>> first, second, third;

    // The crowd is found slow first: each newcomer of it takes the place of
    // one of its silent connections. A newcomer placed is then of a client
    // found slow and may go after 30% of the eviction time, before another
    // address's older connection that has not yet been closed; so the crowd
    // changes places only once the whole second wave waits (in one turn of
    // the server's, well within those 30% however loaded the machine), not
    // as its connections trickle in.
    constexpr int kSwapEvictAfterMs = 1000;
    TCPServer::instance().setEvictAfterMs(24 * 3600 * 1000);
    wave(first, places);
    ASSERT_TRUE(waitUntil([&] { return TCPServer::instance().openCount() == places; }));
    QElapsedTimer firstSilent; // at most as long as the first wave has been
    firstSilent.start();
    wave(second, places);
    pause(int(qMax<qint64>(50, kSwapEvictAfterMs - firstSilent.elapsed())));
    const int mark = logMark();
    TCPServer::instance().setEvictAfterMs(kSwapEvictAfterMs);
    ASSERT_TRUE(waitUntil([&] {
        for (const auto &c : first)
            if (c->socket.state() != QAbstractSocket::UnconnectedState)
                return false;
        return TCPServer::instance().openCount() == places;
    })) << "open in the pool: " << TCPServer::instance().openCount() << "; first wave " << states(first)
        << ", second wave " << states(second) << " (o: open)\n"
        << logsSince(mark).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(states(second), std::string(size_t(places), 'o'));
    second.clear();
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == 0; }));

    // The browser has been silent for the whole eviction time when the
    // newcomer comes, and is older than every connection of the crowd: were
    // it not for the crowd's having been found slow, it would go first.
    constexpr int kEvictAfterMs = 100;
    TCPServer::instance().setEvictAfterMs(kEvictAfterMs);
    Client browser(m_port, QStringLiteral("127.0.5.200"));
    ASSERT_TRUE(browser.connected());
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == 1; }));
    QElapsedTimer browserSilent; // at most as long as the server has held it
    browserSilent.start();
    pause(20);
    wave(third, places - 1);
    ASSERT_TRUE(waitUntil([&] { return TCPServer::instance().openCount() == places; }));
    // The crowd's connections may go after 30 ms of silence; the browser's after 100.
    pause(int(qMax<qint64>(60, kEvictAfterMs + 20 - browserSilent.elapsed())));

    Client newcomer(m_port, QStringLiteral("127.0.5.201"));
    ASSERT_TRUE(newcomer.connected());
    newcomer.socket.write("GET /status HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(newcomer.closed());
    EXPECT_TRUE(newcomer.received.endsWith("form=/")) << newcomer.received.toStdString();
    EXPECT_EQ(browser.socket.state(), QAbstractSocket::ConnectedState) << "the browser's connection was taken";
    const std::string crowdLeft = states(third);
    EXPECT_EQ(std::count(crowdLeft.begin(), crowdLeft.end(), '-'), 1) << crowdLeft;
    browser.socket.write("GET /status HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(browser.closed());
    EXPECT_TRUE(browser.received.endsWith("form=/")) << browser.received.toStdString();
}

namespace {

// A client that sends its request and then neither reads nor closes: what an
// HTTP/1.1 client that keeps its connection for reuse looks like to the pool.
struct KeepingClient
{
    explicit KeepingClient(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray request = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ok = ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0
            && ::send(fd, request.constData(), size_t(request.size()), 0) == request.size();
    }
    ~KeepingClient() { ::close(fd); }
    // Everything the server sent, up to its end of the connection.
    QByteArray readAll()
    {
        QByteArray all;
        char buffer[4096];
        timeval wait = {5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            all.append(buffer, n);
        return all;
    }
    int fd = -1;
    bool ok = false;
};

} // namespace

// Clients that keep their connections once answered hold the whole pool: a
// newcomer takes one of those places at once, not when the client lets go
// or its time is up, and the client whose place it was still has its reply.
TEST_F(Pool, AnsweredConnectionsKeptOpenMakeWayAtOnce)
{
    TCPServer::instance().setEvictAfterMs(24 * 3600 * 1000);
    TCPServer::instance().setMaxPerAddress(TCPServer::kElements);
    std::vector<std::unique_ptr<KeepingClient>> keeping;
    for (int i = 0; i < TCPServer::kElements - 1; ++i) {
        keeping.push_back(std::make_unique<KeepingClient>(m_port));
        ASSERT_TRUE(keeping.back()->ok);
    }
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == TCPServer::kElements - 1; }));
    ASSERT_TRUE(waitUntil([&] { return pages == TCPServer::kElements - 1; }));
    pause(100); // the replies go out whole

    Client newcomer(m_port);
    ASSERT_TRUE(newcomer.connected());
    newcomer.socket.write("GET /status HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(newcomer.closed(5000));
    // The kept connections are let go 2 s after their replies at the
    // latest: the newcomer must not have waited for that.
    EXPECT_GE(TCPServer::instance().openCount(), TCPServer::kElements - 4)
        << "the newcomer waited for the kept connections to be let go";
    EXPECT_TRUE(newcomer.received.endsWith("form=/")) << newcomer.received.toStdString();
    for (size_t i = 0; i < keeping.size(); ++i) {
        const QByteArray reply = keeping[i]->readAll();
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n") && reply.endsWith("form=/")) << i << ": " << reply.toStdString();
    }
}
