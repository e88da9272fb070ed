// The running server against clients that misuse it: foreign Host names,
// coded bodies, crowds from one address, clients still uploading at a full
// pool, pages that wait for the controller, and an unload in mid-page.
#include "WebTestSupport.h"

#include "web/AllowedHost.h"
#include "web/HelpPage.h"
#include "web/PageWait.h"
#include "core/RefusalLog.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPageHook.h"
#include "web/TCPServer.h"

#include "controller/PluginState.h"
#include "host/Application.h"
#include "host/HostGlobals.h"

#include <functional>
#include <QCoreApplication>
#include <QEventLoop>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <vector>

class Hostile : public WebTest
{
protected:
    void SetUp() override
    {
        WebTest::SetUp();
        gPlugin.PageRefreshFlag = 0;
        SetStatusPageBuilder([this](Request &request, Response &) {
            ++pages;
            if (!request.Form(QStringLiteral("press")).isEmpty())
                PageWait::Request();
            if (PageWait::Requested())
                return QString();
            return QStringLiteral("page ") + QString::number(pages) + QLatin1Char(' ') + request.Form(QStringLiteral("press"));
        });
    }
    void TearDown() override
    {
        gPlugin.PageRefreshFlag = 0;
        gPageRefreshWaitMs = 2000;
        WebTest::TearDown();
    }
    QByteArray getWithHost(const QByteArray &host)
    {
        return exchange({"GET /status HTTP/1.1\r\nHost: " + host + "\r\n\r\n"});
    }
    static QByteArray press(const QByteArray &value)
    {
        const QByteArray body = "press=" + value;
        return "POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
    }
    int pages = 0;
};

TEST(AllowedHostNames, LiteralsLocalhostMachineAndSetting)
{
    const QStringList none;
    for (const char *host : {"127.0.0.1", "127.0.0.1:8010", "10.1.2.3:80", "[::1]", "[::1]:8010", "[fe80::1]:1",
                             "localhost", "LOCALHOST:8010", ""})
        EXPECT_TRUE(AllowedHost::IsAllowed(QString::fromLatin1(host), none)) << host;
    for (const char *host : {"rebind.attacker.example:8010", "rebind.attacker.example", "::1", "[::1", "[::1]x",
                             "[house]:80", "127.0.0.1:80:80", "127.0.0.1:http", "localhost.attacker.example"})
        EXPECT_FALSE(AllowedHost::IsAllowed(QString::fromLatin1(host), none)) << host;

    const QString machine = QSysInfo::machineHostName();
    ASSERT_FALSE(machine.isEmpty());
    EXPECT_TRUE(AllowedHost::IsAllowed(machine.toUpper() + QStringLiteral(":8010"), none));
    EXPECT_TRUE(AllowedHost::IsAllowed(machine.section(QLatin1Char('.'), 0, 0), none));
    EXPECT_FALSE(AllowedHost::IsAllowed(machine + QStringLiteral(".attacker.example"), none));

    const QStringList extra{QStringLiteral("house.lan"), QStringLiteral(" Panel ")};
    EXPECT_TRUE(AllowedHost::IsAllowed(QStringLiteral("House.LAN:8010"), extra));
    EXPECT_TRUE(AllowedHost::IsAllowed(QStringLiteral("panel"), extra));
    EXPECT_FALSE(AllowedHost::IsAllowed(QStringLiteral("house.lan.attacker.example"), extra));
}

// A foreign Host gets 421 and reaches no page; the setting adds names.
TEST_F(Hostile, ForeignHostIsMisdirected)
{
    int mark = logMark();
    const QByteArray reply = exchange({"POST /status HTTP/1.1\r\nHost: rebind.attacker.example:8010\r\n"
                                       "Origin: http://rebind.attacker.example:8010\r\nContent-Length: 7\r\n\r\npress=1"});
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 421 Misdirected Request\r\n")) << reply.toStdString();
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("421 Misdirected Request from 127.0.0.1: Host rebind.attacker.example:8010")));
    EXPECT_TRUE(getWithHost("house.lan").startsWith("HTTP/1.1 421"));
    EXPECT_TRUE(exchange({"GET /help HTTP/1.1\r\nHost: evil.example\r\n\r\n"}).startsWith("HTTP/1.1 421"));
    EXPECT_EQ(pages, 0);

    for (const QByteArray host : {"127.0.0.1:8010", "[::1]:8010", "localhost"})
        EXPECT_TRUE(getWithHost(host).endsWith("page " + QByteArray::number(pages) + " ")) << host.toStdString();
    EXPECT_TRUE(exchange({"GET /status HTTP/1.0\r\n\r\n"}).startsWith("HTTP/1.1 200")); // no Host at all
    hs->saveIniSetting(QStringLiteral("tspi_quillon"), QStringLiteral("AllowedHosts"), QStringLiteral("\"panel, house.lan\""),
                       QStringLiteral("tvkXapKorvane.ini"));
    EXPECT_TRUE(getWithHost("house.lan:8010").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(getWithHost("panel").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(getWithHost("other.lan").startsWith("HTTP/1.1 421"));
}

TEST_F(Hostile, CodedBodyNeedsALength)
{
    const int mark = logMark();
    const QByteArray reply = exchange({"POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                       "7\r\npress=1\r\n0\r\n\r\n"});
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 411 Length Required\r\n")) << reply.toStdString();
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("411 Length Required from 127.0.0.1: body sent with Transfer-Encoding chunked")));
    EXPECT_EQ(pages, 0);
}

// Many refusals of one kind make one log entry, and one more with the count
// once the minute is over.
TEST_F(Hostile, RepeatedRefusalsCollapse)
{
    const int mark = logMark();
    for (int i = 0; i < 20; ++i)
        getWithHost("rebind.attacker.example");
    EXPECT_EQ(logsSince(mark).filter(QStringLiteral("421")).size(), 1);
    // Another name is the same kind of refusal: the client picks the name, so
    // it cannot buy itself a log entry with each.
    getWithHost("other.attacker.example");
    EXPECT_EQ(logsSince(mark).filter(QStringLiteral("other.attacker.example")).size(), 0);
    RefusalLog::Flush();
    EXPECT_EQ(logsSince(mark).filter(QStringLiteral("rebind.attacker.example is no name of this server (repeated 20 more times)")).size(), 1);
}

// The count goes out by itself once the window is over.
TEST(RefusalLogKinds, CountLoggedWhenTheWindowEnds)
{
    RefusalLog::Reset();
    RefusalLog::SetWindowMs(200);
    const int mark = WebTest::logMark();
    for (int i = 0; i < 3; ++i)
        RefusalLog::Log(QStringLiteral("T"), QStringLiteral("same"));
    EXPECT_EQ(WebTest::logsSince(mark), QStringList{QStringLiteral("same")});
    EXPECT_TRUE(waitUntil([&] { return WebTest::logsSince(mark).size() == 2; }, 5000));
    EXPECT_EQ(WebTest::logsSince(mark).value(1), QStringLiteral("same (repeated 2 more times)"));
    // Once quiet for a window, the next one is logged at once again.
    waitUntil([] { return false; }, 500);
    RefusalLog::Log(QStringLiteral("T"), QStringLiteral("same"));
    EXPECT_EQ(WebTest::logsSince(mark).size(), 3);
    RefusalLog::Reset();
}

TEST(RefusalLogKinds, BoundedAndCountedPerKind)
{
    RefusalLog::Reset();
    const int mark = WebTest::logMark();
    for (int i = 0; i < 1000; ++i)
        RefusalLog::Log(QStringLiteral("T"), QStringLiteral("refused ") + QString::number(i % 2), QString());
    for (int i = 0; i < 600; ++i)
        RefusalLog::Log(QStringLiteral("T"), QStringLiteral("varied ") + QString::number(i), QString());
    // Two kinds, then 30 more distinct ones until the texts' share of the table is full, then one shared kind.
    EXPECT_EQ(WebTest::logsSince(mark).size(), 2 + 30 + 1);
    RefusalLog::Flush();
    const QStringList logs = WebTest::logsSince(mark);
    EXPECT_TRUE(logs.contains(QStringLiteral("refused 0 (repeated 499 more times)")));
    EXPECT_TRUE(logs.contains(QStringLiteral("refused 1 (repeated 499 more times)")));
    EXPECT_TRUE(logs.contains(QStringLiteral("further refusals of other kinds, the first: varied 30 (repeated 569 more times)")));
    RefusalLog::Reset();
}

// However varied the refusals of one source, those of another are still
// logged at once: each row floods one source, then a refusal of a kind not
// seen yet must appear.
TEST(RefusalLogKinds, NoSourceCrowdsOutAnother)
{
    struct Flood
    {
        const char *name;
        std::function<void(int)> refuse;
    };
    const Flood floods[] = {
        {"texts as their own kind", [](int i) { RefusalLog::Log(QStringLiteral("T"), QStringLiteral("text ") + QString::number(i)); }},
        {"one label, varied details",
         [](int i) { RefusalLog::Log(QStringLiteral("T"), QStringLiteral("x"), RefusalLog::Kind(QStringLiteral("form"), QString::number(i))); }},
        {"one label, varied types",
         [](int i) { RefusalLog::Log(QStringLiteral("T") + QString::number(i % 8), QStringLiteral("y"), RefusalLog::Kind(QStringLiteral("a"), QString::number(i))); }},
    };
    for (const Flood &flood : floods) {
        RefusalLog::Reset();
        const int mark = WebTest::logMark();
        for (int i = 0; i < 2000; ++i)
            flood.refuse(i);
        EXPECT_LE(WebTest::logsSince(mark).size(), 8 * 33) << flood.name;
        RefusalLog::Log(QStringLiteral("T"), QStringLiteral("foreign Host"), QStringLiteral("misdirected"));
        EXPECT_EQ(WebTest::logsSince(mark).value(WebTest::logsSince(mark).size() - 1), QStringLiteral("foreign Host"))
            << flood.name;
    }
    RefusalLog::Reset();
}

// The ninth connection from one address takes the place of that address's
// longest-idle one, or is closed when none of them is idle.
TEST_F(Hostile, EightConnectionsPerAddress)
{
    std::vector<std::unique_ptr<Client>> eight;
    for (int i = 0; i < TCPServer::kMaxPerAddress; ++i) {
        eight.push_back(std::make_unique<Client>(m_port));
        ASSERT_TRUE(eight.back()->connected());
    }
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == TCPServer::kMaxPerAddress; }));
    TCPServer::instance().setEvictAfterMs(60000);
    int mark = logMark();
    Client ninth(m_port);
    EXPECT_TRUE(ninth.closed());
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("127.0.0.1 holds 8 connections: another one closed")));
    EXPECT_EQ(TCPServer::instance().openCount(), TCPServer::kMaxPerAddress);

    TCPServer::instance().setEvictAfterMs(100);
    eight.back()->socket.write("GET /sta"); // the last one is busy
    pause(300);
    eight.back()->socket.write("t");
    mark = logMark();
    Client tenth(m_port);
    ASSERT_TRUE(tenth.connected());
    EXPECT_TRUE(eight.front()->closed());
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("connections per client full: closed a connection from 127.0.0.1")));
    tenth.socket.write("GET /status HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(tenth.closed());
    EXPECT_TRUE(tenth.received.startsWith("HTTP/1.1 200"));
    EXPECT_EQ(eight.back()->socket.state(), QAbstractSocket::ConnectedState);
}

// At a full pool the connection that is still sending is not the one that
// makes room, even though it was accepted first.
TEST_F(Hostile, UploadingClientIsNotIdle)
{
    TCPServer::instance().setEvictAfterMs(300);
    TCPServer::instance().setMaxPerAddress(TCPServer::kElements);
    Client uploader(m_port);
    ASSERT_TRUE(uploader.connected());
    const QByteArray body = "press=" + QByteArray(3000, 'u');
    uploader.socket.write("POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size())
                          + "\r\n\r\n");
    qsizetype sent = 0;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        if (sent < body.size()) {
            uploader.socket.write(body.mid(sent, 100));
            sent += 100;
        }
    });
    drip.start(50);
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < TCPServer::kElements - 2; ++i) {
        idle.push_back(std::make_unique<Client>(m_port));
        ASSERT_TRUE(idle.back()->connected());
    }
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == TCPServer::kElements - 1; }));
    pause(500);
    Client newcomer(m_port);
    ASSERT_TRUE(newcomer.connected());
    newcomer.socket.write("GET /help HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(newcomer.closed());
    EXPECT_TRUE(idle.front()->closed());
    EXPECT_TRUE(uploader.closed());
    EXPECT_TRUE(uploader.received.startsWith("HTTP/1.1 200")) << uploader.received.left(100).toStdString();
}

// A row button's page waits for the next poll (or the wait's end) while the
// server answers others; one waiting page per client address.
TEST_F(Hostile, PageThatWaitsDoesNotHoldUpOthers)
{
    gPageRefreshWaitMs = 3000;
    Client waiting(m_port);
    ASSERT_TRUE(waiting.connected());
    waiting.socket.write(press("1"));
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().heldReplies() == 1; }));
    EXPECT_EQ(gPlugin.PageRefreshFlag, 1);

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(get("/help").startsWith("HTTP/1.1 200"));
    // The same address presses again: its page comes at once.
    const QByteArray second = exchange({press("2")});
    EXPECT_TRUE(second.startsWith("HTTP/1.1 200")) << second.toStdString();
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(waiting.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_TRUE(waiting.received.isEmpty());

    // The poll pass starts: the held page goes out, built without the press.
    gPlugin.PageRefreshFlag = 0;
    EXPECT_TRUE(waiting.closed());
    EXPECT_TRUE(waiting.received.startsWith("HTTP/1.1 200")) << waiting.received.toStdString();
    EXPECT_TRUE(waiting.received.endsWith(" ")) << waiting.received.toStdString();
    EXPECT_EQ(TCPServer::instance().heldReplies(), 0);

    // Without a poll the page goes out when the wait is over, and the flag is lowered.
    gPageRefreshWaitMs = 300;
    clock.restart();
    const QByteArray late = exchange({press("3")});
    EXPECT_TRUE(late.startsWith("HTTP/1.1 200")) << late.toStdString();
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(gPlugin.PageRefreshFlag, 0);
}

// A client gone while its page waits costs nothing; unloading drops held pages.
TEST_F(Hostile, HeldPagesOfGoneClientsAndAtUnload)
{
    {
        Client gone(m_port);
        ASSERT_TRUE(gone.connected());
        gone.socket.write(press("1"));
        ASSERT_TRUE(waitUntil([] { return TCPServer::instance().heldReplies() == 1; }));
        gone.socket.abort();
    }
    const int built = pages;
    gPlugin.PageRefreshFlag = 0;
    EXPECT_TRUE(waitUntil([] { return TCPServer::instance().heldReplies() == 0; }));
    pause(100);
    EXPECT_EQ(pages, built);

    Client held(m_port);
    ASSERT_TRUE(held.connected());
    held.socket.write(press("2"));
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().heldReplies() == 1; }));
    TCPServer::unload();
    EXPECT_TRUE(held.closed());
    TCPServer::load();
}

// Unloading while a page is being built (its wait let events run) leaves the
// server to the page, which finishes; the server goes once the page is done.
TEST_F(Hostile, UnloadDuringAPage)
{
    bool finished = false;
    SetStatusPageBuilder([&](Request &, Response &) {
        TCPServer::unload();
        QCoreApplication::processEvents();
        EXPECT_FALSE(TCPServer::loaded());
        finished = true;
        return QStringLiteral("late page");
    });
    Client c(m_port);
    ASSERT_TRUE(c.connected());
    c.socket.write("GET /status HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(c.closed());
    EXPECT_TRUE(finished);
    EXPECT_FALSE(c.received.contains("late page"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(TCPServer::loaded());
    TCPServer::load(); // for TearDown
    EXPECT_TRUE(TCPServer::instance().isListening());
}

// Framing refusals that come at once, whatever the client sends after:
// lines ended by LF alone, and a second Host or Content-Length line. Host
// written without a blank (or with blanks around the colon) is checked as
// any other.
TEST_F(Hostile, HeaderLinesTheChecksCannotBeFooledBy)
{
    struct Case
    {
        QByteArray request;
        QByteArray status;
    };
    const std::vector<Case> cases = {
        {"GET /status HTTP/1.1\nHost: 127.0.0.1\n\n", "400 Bad Request"},
        {"GET /status HTTP/1.1\n", "400 Bad Request"},
        {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\n\n", "400 Bad Request"},
        {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\n", "400 Bad Request"},
        {"GET /status HTTP/1.1\r\nX-A: 1\nX-B: 2\r\n\r\n", "400 Bad Request"},
        {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n\r\n", "400 Bad Request"},
        {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nhost:127.0.0.1\r\n\r\n", "400 Bad Request"},
        {"POST /status HTTP/1.1\r\nContent-Length: 7\r\nContent-Length: 7\r\n\r\npress=1", "400 Bad Request"},
        {"POST /status HTTP/1.1\r\nContent-Length:7\r\ncontent-length : 7\r\n\r\npress=1", "400 Bad Request"},
        {"GET /status HTTP/1.1\r\nHost:evil.example\r\n\r\n", "421 Misdirected Request"},
        {"GET /status HTTP/1.1\r\nHost :evil.example\r\n\r\n", "421 Misdirected Request"},
        {"GET /status HTTP/1.1\r\nhost:\tevil.example:80\r\n\r\n", "421 Misdirected Request"},
        {"POST /status HTTP/1.1\r\nTransfer-Encoding:chunked\r\n\r\n7\r\npress=1\r\n0\r\n\r\n", "411 Length Required"},
        // A body may hold bare LFs: only the header block is read as lines.
        {"POST /status HTTP/1.1\r\nHost:127.0.0.1\r\nContent-Length:9\r\n\r\nother=1\n\n", "200 OK"},
    };
    for (const Case &c : cases) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray reply = exchange({c.request}, 0, 5000);
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 " + c.status + "\r\n")) << c.request.toStdString() << " -> "
                                                                       << reply.left(60).toStdString();
        EXPECT_LT(clock.elapsed(), 3000) << c.request.toStdString();
    }
    EXPECT_EQ(pages, 1);
}

// A client that drips its header never completes it in time; one that drips
// its body falls below the minimum rate. Each is answered 408 at its deadline,
// long before the idle time-out.
TEST_F(Hostile, DrippingClientsMeetTheirDeadline)
{
    TCPServer::instance().setTransferDeadlineMs(600);
    TCPServer::instance().setMinTransferRate(1000);
    struct Case
    {
        QByteArray start;
        QByteArray drip;
    };
    const std::vector<Case> cases = {
        {"GET /status HTTP/1.1\r\nX-Slow: ", "a"},
        {"G", "E"},
        {"POST /status HTTP/1.1\r\nContent-Length: 300\r\n\r\npress=", "b"},
    };
    std::vector<std::unique_ptr<Client>> clients;
    for (const Case &c : cases) {
        clients.push_back(std::make_unique<Client>(m_port));
        ASSERT_TRUE(clients.back()->connected());
        clients.back()->socket.write(c.start);
    }
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (size_t i = 0; i < cases.size(); ++i)
            if (clients[i]->socket.state() == QAbstractSocket::ConnectedState)
                clients[i]->socket.write(cases[i].drip);
    });
    drip.start(100);
    const int mark = logMark();
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_TRUE(clients[i]->closed(10000)) << i;
        EXPECT_TRUE(clients[i]->received.startsWith("HTTP/1.1 408 Request Timeout\r\n"))
            << i << ": " << clients[i]->received.left(60).toStdString();
    }
    // Header deadline 0.6 s; the body's 0.6 s and 300 bytes at 1000 bytes/s.
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("408 Request Timeout from 127.0.0.1: header incomplete")));
    EXPECT_EQ(pages, 0);
}

// A client reading a large reply slowly (or not at all) loses its connection
// once the reply's deadline is over, though every read restarts the idle time.
TEST_F(Hostile, SlowReaderMeetsItsDeadline)
{
    const QString big(8 * 1024 * 1024, QLatin1Char('x'));
    SetStatusPageBuilder([&](Request &, Response &) { return big; });
    TCPServer::instance().setTransferDeadlineMs(500);
    TCPServer::instance().setMinTransferRate(4 * 1024 * 1024);
    Client slow(m_port, QString(), 4096);
    ASSERT_TRUE(slow.connected());
    slow.socket.write("GET /status HTTP/1.1\r\n\r\n");
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] { slow.takeSome(); });
    reader.start(50);
    const int mark = logMark();
    QElapsedTimer clock;
    clock.start();
    // (The client, reading from its full buffer, sees the close only later.)
    EXPECT_TRUE(waitUntil([&] { return anyLogContains(mark, QStringLiteral("not taken in time")); }, 20000));
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == 0; }));
    EXPECT_LT(slow.received.size(), big.size());
    SetStatusPageBuilder([](Request &, Response &) { return QStringLiteral("small"); });
    EXPECT_TRUE(get("/status").endsWith("small"));
}

// At a full pool the newcomer's place comes from the address holding the
// most connections, even when those connections keep sending.
TEST_F(Hostile, FullPoolEvictsFromTheAddressHoldingTheMost)
{
    TCPServer::instance().setEvictAfterMs(300);
    QTimer drip;
    std::vector<std::unique_ptr<Client>> crowd;
    // One from a lone address, connected long before, then 8 from each of
    // three addresses: 25 (the pool's 25 elements).
    for (int i = 0; i < 3 * TCPServer::kMaxPerAddress + 1; ++i) {
        const QString source = QStringLiteral("127.0.0.") + QString::number(i == 0 ? 9 : 2 + (i - 1) / 8);
        crowd.push_back(std::make_unique<Client>(m_port, source));
        ASSERT_TRUE(crowd.back()->connected());
        crowd.back()->socket.write("GET /status HTTP/1.1\r\nX-Slow: ");
        if (i == 0)
            pause(400);
    }
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (auto &c : crowd)
            if (c->socket.state() == QAbstractSocket::ConnectedState)
                c->socket.write("z");
    });
    drip.start(100);
    ASSERT_TRUE(waitUntil([] { return TCPServer::instance().openCount() == TCPServer::kElements - 1; }));
    // At once, while only the lone client's connection is old enough to go:
    // the newcomer waits for the crowd's instead.
    const int mark = logMark();
    QElapsedTimer clock;
    clock.start();
    const QByteArray reply = get("/status");
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200")) << reply.left(60).toStdString();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("pool full: closed a connection from 127.0.0.")));
    // The lone client kept its connection.
    EXPECT_EQ(crowd.front()->socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_FALSE(anyLogContains(mark, QStringLiteral("closed a connection from 127.0.0.9")));
    drip.stop();
}

// A page that waits inside its build (a command to a controller that does not
// answer) holds no other client: help pages, files and refusals are answered
// meanwhile; status pages of other clients come after it, in turn.
TEST_F(Hostile, PageWaitingForTheControllerHoldsNoOtherClient)
{
    writeFile(QStringLiteral("HTML/Help/xaptvkKorvane/xaptvkKorvane.htm"), "help text");
    writeFile(QStringLiteral("HTML/style.css"), "body{}");
    SetStatusPageBuilder([&](Request &request, Response &) {
        if (!request.Form(QStringLiteral("press")).isEmpty()) {
            QEventLoop wait; // as the controller link waits for an answer
            QTimer::singleShot(2500, &wait, &QEventLoop::quit);
            wait.exec();
        }
        return QStringLiteral("page");
    });
    struct Case
    {
        QByteArray request;
        QByteArray reply;
        bool whileWaiting;
    };
    const std::vector<Case> cases = {
        {"GET /help HTTP/1.1\r\n\r\n", "help text", true},
        {"GET /style.css HTTP/1.1\r\n\r\n", "body{}", true},
        {"GET /status HTTP/1.1\r\nHost: evil.example\r\n\r\n", "421 Misdirected Request</h1></html>", true},
        {"GET /nothing.htm HTTP/1.1\r\n\r\n", "404 File Not Found</h1></html>", true},
        {"GET /status HTTP/1.1\r\n\r\n", "page", false},
    };
    QElapsedTimer clock;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<qint64> closedAt(cases.size(), -1);
    for (size_t i = 0; i < cases.size(); ++i) {
        clients.push_back(std::make_unique<Client>(m_port, QStringLiteral("127.0.0.") + QString::number(3 + int(i))));
        ASSERT_TRUE(clients.back()->connected());
        QObject::connect(&clients.back()->socket, &QTcpSocket::disconnected, [&, i] { closedAt[i] = clock.elapsed(); });
    }
    // The others ask while the press's page waits (the test's own code does
    // not run again before that page is done).
    QTimer::singleShot(300, [&] {
        for (size_t i = 0; i < cases.size(); ++i)
            clients[i]->socket.write(cases[i].request);
    });
    Client presser(m_port, QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(presser.connected());
    clock.start();
    presser.socket.write(press("1"));
    EXPECT_TRUE(presser.closed());
    const qint64 pressDone = clock.elapsed();
    EXPECT_TRUE(presser.received.endsWith("page"));
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_TRUE(clients[i]->closed()) << i;
        EXPECT_TRUE(clients[i]->received.endsWith(cases[i].reply))
            << cases[i].request.toStdString() << " -> " << clients[i]->received.toStdString();
        if (cases[i].whileWaiting)
            EXPECT_LT(closedAt[i], 2000) << cases[i].request.toStdString();
        else
            EXPECT_GE(closedAt[i], 2400) << cases[i].request.toStdString();
    }
    EXPECT_GE(pressDone, 2400);
}

// A client cycling through many kinds of refusal under one budget buys no
// entry per kind: the budget's entries per window are bounded, repeats
// included, the rest is counted in one entry at the window's end, and the
// refusals of another source are still logged at once.
TEST(RefusalLogKinds, ABudgetBoundsEveryKindItsClientsCause)
{
    RefusalLog::Reset();
    const QString budget = QStringLiteral("posts");
    auto cycle = [&](int kinds, int times) {
        for (int t = 0; t < times; ++t)
            for (int k = 0; k < kinds; ++k)
                RefusalLog::Log(QStringLiteral("T"), QStringLiteral("field %1 fault, value %2").arg(k).arg(t),
                                RefusalLog::Kind(QStringLiteral("field ") + QString::number(k), QStringLiteral("fault")), budget);
    };
    auto refusalsIn = [](const QStringList &logs) {
        // Each first entry stands for one refusal; a counted one for its count.
        static const QRegularExpression count(QStringLiteral("(\\(repeated (\\d+) more times\\)$)|(^posts: (\\d+) further refusals)"));
        int n = 0;
        for (const QString &entry : logs) {
            const QRegularExpressionMatch m = count.match(entry);
            n += !m.hasMatch() ? 1 : m.captured(2).isEmpty() ? m.captured(4).toInt() : m.captured(2).toInt();
        }
        return n;
    };
    int mark = WebTest::logMark();
    cycle(78, 3);
    EXPECT_EQ(WebTest::logsSince(mark).size(), RefusalLog::kEntriesPerBudget);
    RefusalLog::Log(QStringLiteral("T"), QStringLiteral("foreign Host"), QStringLiteral("misdirected"));
    EXPECT_EQ(WebTest::logsSince(mark).value(RefusalLog::kEntriesPerBudget), QStringLiteral("foreign Host"));
    RefusalLog::Flush();
    QStringList logs = WebTest::logsSince(mark);
    logs.removeAll(QStringLiteral("foreign Host"));
    EXPECT_EQ(logs.size(), RefusalLog::kEntriesPerBudget + 1);
    EXPECT_TRUE(logs.last().startsWith(QStringLiteral("posts: 222 further refusals"))) << logs.last().toStdString();
    EXPECT_EQ(refusalsIn(logs), 78 * 3) << "refusals lost from the count";

    // Window after window, by itself: the bound holds and the count goes out.
    RefusalLog::Reset();
    RefusalLog::SetWindowMs(300);
    mark = WebTest::logMark();
    for (int window = 0; window < 3; ++window) {
        const int before = int(WebTest::logsSince(mark).size());
        cycle(78, 2);
        EXPECT_LE(int(WebTest::logsSince(mark).size()) - before, RefusalLog::kEntriesPerBudget + 1) << "window " << window;
        EXPECT_TRUE(waitUntil([&] { return WebTest::logsSince(mark).filter(QStringLiteral("further refusals")).size() == window + 1; },
                              5000))
            << "window " << window << ": no counted entry";
    }
    RefusalLog::Flush();
    EXPECT_EQ(refusalsIn(WebTest::logsSince(mark)), 3 * 78 * 2) << "refusals lost from the count";
    RefusalLog::Reset();
}
