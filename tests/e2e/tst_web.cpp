// The web server of the real program on loopback: a real HTTP client, raw
// sockets for framing and hostile requests, log entries seen on xAP.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Client
{
    // `source`: the client's own loopback address (the server takes at most 8
    // connections from one address).
    explicit Client(quint16 port, const QString &source = QString())
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        if (!source.isEmpty())
            socket.bind(QHostAddress(source));
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool connected() { return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }); }
    bool closed(int timeoutMs = 20000)
    {
        return waitUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
    QTcpSocket socket;
    QByteArray received;
};

QByteArray imageBytes()
{
    QByteArray bytes(100 * 1024, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 31 + i / 997) & 0xFF);
    return bytes;
}

const QByteArray kHelp = "<html><body>Help for xaptvkKorvane_files users</body></html>";

} // namespace

class WebProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder.writeFile("Config/includes.ini", includes);
        folder.writeFile("HTML/Help/xaptvkKorvane/xaptvkKorvane.htm", kHelp);
        folder.writeFile("HTML/images/big.gif", imageBytes());
        folder.writeFile("HTML/style.css", "body { color: red; }");
        folder.writeFile("secret.css", "SECRET");
        port = startOnFreeWebPort([this](quint16 p) {
            folder.writeFile("Config/tvkXapKorvane.ini", "[tspi_quillon]\r\nHTTPPort=" + QByteArray::number(p)
                                                             + "\r\nCommPort=/dev/null/none\r\n[Settings]\r\n" + settings);
            program = std::make_unique<KorvaneProcess>(folder);
            return program->pid();
        });
        ASSERT_GT(port, 0);
        ASSERT_TRUE(waitUntil([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        }, 30000));
    }
    void TearDown() override
    {
        if (program)
            EXPECT_EQ(program->terminate(), 0);
    }

    QByteArray exchange(const QList<QByteArray> &pieces, int gapMs = 0, int timeoutMs = 20000)
    {
        Client c(port);
        if (!c.connected())
            return "no connection";
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0 && gapMs > 0)
                pause(gapMs);
            c.socket.write(pieces.at(i));
            c.socket.flush();
        }
        c.closed(timeoutMs);
        return c.received + c.socket.readAll();
    }
    QByteArray get(const QByteArray &target, const QByteArray &headers = QByteArray())
    {
        return exchange({"GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n"});
    }
    // Log entries arrive on the xAP port; only the tests that look at them bind it.
    void listen()
    {
        listener = std::make_unique<XapListener>();
        ASSERT_TRUE(listener->bound);
    }
    bool logged(const QByteArray &text, int timeoutMs = 10000)
    {
        return waitUntil([&] {
            for (const QByteArray &d : listener->received)
                if (d.contains("class=Tessera.Event") && d.contains(text))
                    return true;
            return false;
        }, timeoutMs);
    }
    bool serving()
    {
        return get("/help").endsWith("users</body></html>");
    }

    QByteArray settings;
    QByteArray includes;
    std::unique_ptr<XapListener> listener;
    ProgramFolder folder;
    quint16 port = 0;
    std::unique_ptr<KorvaneProcess> program;
};

TEST_F(WebProgram, RealClientKeepAliveAndClose)
{
    QNetworkAccessManager manager;
    const QUrl base(QStringLiteral("http://127.0.0.1:%1").arg(port));
    auto fetch = [&](const QString &path, bool close) {
        QNetworkRequest request(base.resolved(QUrl(path)));
        if (close)
            request.setRawHeader("Connection", "close");
        QNetworkReply *reply = manager.get(request);
        waitUntil([&] { return reply->isFinished(); }, 20000);
        reply->deleteLater();
        return std::make_pair(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll());
    };
    for (int round = 0; round < 3; ++round) {
        const auto help = fetch(QStringLiteral("/help"), false);
        EXPECT_EQ(help.first, 200);
        EXPECT_EQ(help.second, "<html><body>Help for help/xaptvkKorvane/xaptvkKorvane_files users</body></html>");
        const auto image = fetch(QStringLiteral("/images/BIG.gif"), round == 1);
        EXPECT_EQ(image.first, 200);
        EXPECT_EQ(image.second, imageBytes());
    }
    EXPECT_EQ(fetch(QStringLiteral("/nothing.htm"), true).first, 404);
    EXPECT_EQ(fetch(QStringLiteral("/nothing.gif"), false).first, 404);
    const auto status = fetch(QStringLiteral("/status"), false);
    EXPECT_EQ(status.first, 200);
    EXPECT_TRUE(status.second.contains("Korvane Status"));

    // A keep-alive request still gets its one reply and then the close.
    Client raw(port);
    ASSERT_TRUE(raw.connected());
    raw.socket.write("GET /style.css HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_TRUE(raw.closed());
    EXPECT_TRUE(raw.received.endsWith("\r\n\r\nbody { color: red; }"));
}

TEST_F(WebProgram, PostInPiecesAndRequestByteByByte)
{
    const QByteArray post = exchange({"POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Le", "ngth: 20\r\n\r\nclientinput=", "&x=12345"}, 150);
    EXPECT_TRUE(post.startsWith("HTTP/1.1 200 OK\r\n")) << post.left(200).toStdString();
    EXPECT_EQ(post.count("HTTP/1.1"), 1);

    const QByteArray request = "GET /help HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    QList<QByteArray> bytes;
    for (const char c : request)
        bytes.append(QByteArray(1, c));
    const QByteArray reply = exchange(bytes, 10);
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(reply.endsWith("Help for help/xaptvkKorvane/xaptvkKorvane_files users</body></html>"));
}

TEST_F(WebProgram, TwentySixSimultaneousConnections)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 26; ++i)
        clients.push_back(std::make_unique<Client>(port, QStringLiteral("127.0.0.") + QString::number(2 + i / 8)));
    for (auto &c : clients)
        ASSERT_TRUE(c->connected());
    for (size_t i = 0; i < clients.size(); ++i)
        clients[i]->socket.write(i % 2 ? "GET /images/big.gif HTTP/1.1\r\n\r\n" : "GET /help HTTP/1.1\r\n\r\n");
    const QByteArray image = imageBytes();
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_TRUE(clients[i]->closed(60000)) << i;
        if (i % 2)
            EXPECT_TRUE(clients[i]->received.endsWith(image)) << i << " got " << clients[i]->received.size();
        else
            EXPECT_TRUE(clients[i]->received.endsWith("users</body></html>")) << i;
    }
    EXPECT_TRUE(serving());
}

// Idle, slowloris and short-body connections are closed after 30 s; the
// server answers others meanwhile.
TEST_F(WebProgram, IdleAndSlowClientsTimeOut)
{
    listen();
    Client idle(port), slow(port), shortBody(port);
    ASSERT_TRUE(idle.connected() && slow.connected() && shortBody.connected());
    shortBody.socket.write("POST /status HTTP/1.1\r\nContent-Length: 500\r\n\r\nclientinput=1");
    slow.socket.write("GET /status HTTP/1.1\r\n");
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] { slow.socket.write("X-Slow: y\r\n"); });
    drip.start(2000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(serving());
    EXPECT_TRUE(idle.closed(60000));
    EXPECT_TRUE(slow.closed(10000));
    EXPECT_TRUE(shortBody.closed(10000));
    EXPECT_GE(clock.elapsed(), 25000);
    EXPECT_EQ(idle.received, QByteArray());
    EXPECT_TRUE(slow.received.startsWith("HTTP/1.1 408 Request Timeout\r\n"));
    EXPECT_TRUE(shortBody.received.startsWith("HTTP/1.1 408 Request Timeout\r\n"));
    EXPECT_TRUE(logged("socket_DataArrival 408 Request Timeout from 127.0.0.1"));
    EXPECT_TRUE(serving());
}

TEST_F(WebProgram, HostileRequests)
{
    listen();
    const QList<QByteArray> traversal = {"/../secret.css", "/%2e%2e/secret.css", "/%2E%2e%5csecret.css",
                                         "/..\\secret.css", "\\..\\secret.css", "/x/%2e%2e/%2E%2E/secret.css"};
    for (const QByteArray &target : traversal) {
        const QByteArray reply = get(target);
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 404 Object Not Found\r\n")) << target.toStdString();
        EXPECT_FALSE(reply.contains("SECRET"));
    }
    EXPECT_TRUE(get(folder.path().toLatin1() + "/secret.css").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(get("/../../../../etc/hostname.gif").startsWith("HTTP/1.1 404 Not Found\r\n"));
    EXPECT_TRUE(logged("refused a path outside"));

    const QByteArray header = exchange({"GET /help HTTP/1.1\r\nX-Big: " + QByteArray(20 * 1024, 'h') + "\r\n\r\n"});
    EXPECT_TRUE(header.startsWith("HTTP/1.1 431 Request Header Fields Too Large\r\n"));
    EXPECT_TRUE(logged("socket_DataArrival 431"));

    const QByteArray body = exchange({"POST /status HTTP/1.1\r\nContent-Length: 2097152\r\n\r\n", QByteArray(2 * 1024 * 1024, 'b')});
    EXPECT_TRUE(body.startsWith("HTTP/1.1 413 Payload Too Large\r\n")) << body.left(100).toStdString();
    EXPECT_TRUE(logged("socket_DataArrival 413"));

    const QByteArray junk = exchange({QByteArray("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11)});
    EXPECT_TRUE(junk.startsWith("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(logged("socket_DataArrival 400"));

    EXPECT_TRUE(serving());
}

class WebProgramWithChrome : public WebProgram
{
protected:
    void SetUp() override
    {
        settings = "dbpath=Data/menus.db\r\nusesecurity=BASIC\r\nrowstyle=Link\r\n";
        includes = "[header.asp]\r\nstrShowLinks=TOPLEVEL\r\nlogoShowClock=no\r\nlogoShowDate=no\r\n";
        makeDatabase();
        WebProgram::SetUp();
    }
    void makeDatabase()
    {
        const QString file = folder.path() + QStringLiteral("/Data/menus.db");
        QDir().mkpath(folder.path() + QStringLiteral("/Data"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e"));
            db.setDatabaseName(file);
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            for (const char *sql :
                 {"CREATE TABLE MenuUsers (UserID TEXT, SecureLevel INTEGER, SecID TEXT, LastSessTime TEXT)",
                  "CREATE TABLE Menus (MenuID INTEGER, MenuItem TEXT, MenuURL TEXT, ParentID INTEGER, LevelID INTEGER, "
                  "SecureLevel INTEGER, MenuImage TEXT, SortOrder INTEGER)",
                  "CREATE TABLE MenuPOPPref (UserID TEXT, yoffset INTEGER)",
                  "CREATE TABLE MenuPOP (MenuID INTEGER, MenuText TEXT, MenuURL TEXT, IsHeader INTEGER, IsActive INTEGER, "
                  "UserID TEXT, SortOrder INTEGER)",
                  "INSERT INTO Menus VALUES (1, 'Status', '/status', 0, 1, 0, '', 1)",
                  "INSERT INTO Menus VALUES (2, '<script>alert(1)</script>', 'javascript:alert(2)', 0, 1, 0, '', 2)"})
                EXPECT_TRUE(q.exec(QString::fromLatin1(sql))) << sql;
        }
        QSqlDatabase::removeDatabase(QStringLiteral("e2e"));
    }
};

TEST_F(WebProgramWithChrome, DataIsEscapedInThePage)
{
    const QByteArray page = get("/status", "AUTH_USER: ' OR '1'='1<script>\r\n");
    EXPECT_TRUE(page.startsWith("HTTP/1.1 200 OK\r\n")) << page.left(300).toStdString();
    EXPECT_TRUE(page.contains(" <a href=\"/status\">Status</a> |  <a href=\"#\">&lt;script&gt;alert(1)&lt;/script&gt;</a><br>\r\n"))
        << page.toStdString();
    EXPECT_TRUE(page.contains("<td nowrap><b>User:</b> &#39; OR &#39;1&#39;=&#39;1&lt;SCRIPT&gt;</td>"));
    EXPECT_FALSE(page.contains("<script>"));
    EXPECT_FALSE(page.contains("<SCRIPT>"));
    EXPECT_FALSE(page.contains("javascript:"));
    EXPECT_TRUE(serving());
}
