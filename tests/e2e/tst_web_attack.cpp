// The running program's web server under attack, with the simulator as its
// controller: requests from other sites and foreign host names, guests in
// the security modes, crowds of clients, slow clients, and an Exit while a
// row button's page waits for the controller.
#include "HttpExchange.h"
#include "KorvaneProcess.h"
#include "QuillonSimProcess.h"
#include "XapListener.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A client connection from a chosen loopback address (the server holds at
// most 8 connections per address).
struct Client
{
    Client(quint16 port, const QString &source = QStringLiteral("127.0.0.1"))
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.bind(QHostAddress(source));
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool connected() { return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }); }
    bool closed(int timeoutMs = 30000)
    {
        return waitUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
    QTcpSocket socket;
    QByteArray received;
};

// The variable 5 command of the demo page's ON button with 1234.
const QByteArray kVariableFrame = "<- c8 29 05 d2 04 00 00";

class AttackedProgram : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (program)
            EXPECT_EQ(program->terminate(), 0);
        stopQuillonSim(sim);
    }

    // The demo's program folder with the simulator as controller; `settings`
    // go to [Settings], `pageSettings` to [tspi_quillon] of tvkXapKorvane.ini,
    // `plugin` replaces lines of xaptvkKorvane.ini.
    void startProgram(const QByteArray &settings = QByteArray(), const QByteArray &pageSettings = QByteArray(),
                      const QList<QPair<QByteArray, QByteArray>> &plugin = {})
    {
        const int simPort = startQuillonSim(sim, {"--tcp", "0"}, simText);
        ASSERT_GT(simPort, 0);
        const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
        for (const QString &sub : {QStringLiteral("Config"), QStringLiteral("Scripts")}) {
            QDirIterator it(demo.filePath(sub), QDir::Files);
            while (it.hasNext()) {
                const QString file = it.next();
                folder.writeFile(sub + "/" + QFileInfo(file).fileName(), readFile(file));
            }
        }
        folder.writeFile("HTML/xaptvkKorvane/xaptvkKorvane_links.htm", "<a href=\"/stat\">Status</a>");
        QByteArray pluginIni = readFile(folder.path() + "/Config/xaptvkKorvane.ini");
        for (const auto &[from, to] : plugin)
            pluginIni.replace(from, to);
        folder.writeFile("Config/xaptvkKorvane.ini", pluginIni);
        const QByteArray demoStore = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
        webPort = startOnFreeWebPort([&](quint16 port) {
            QByteArray store = demoStore;
            store.replace("CommPort=10001", "CommPort=" + QByteArray::number(simPort) + "\r\nHTTPPort="
                                                  + QByteArray::number(port) + "\r\n" + pageSettings);
            if (!settings.isEmpty())
                store += "\r\n[Settings]\r\n" + settings;
            folder.writeFile("Config/tvkXapKorvane.ini", store);
            program = std::make_unique<KorvaneProcess>(folder);
            return program->pid();
        });
        ASSERT_GT(webPort, 0);
        // The page lists the controller's variables once the program is up
        // (a guest in a security mode sees no page: then the port is enough).
        ASSERT_TRUE(waitUntil([&] {
            const QByteArray page = exchange(get("/stat", "AUTH_USER: admin\r\n"));
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("value='([^']+)' name='V5:06DC'"))
                                                  .match(QString::fromLatin1(page));
            if (m.hasMatch())
                variableCode = m.captured(1).toLatin1();
            return m.hasMatch() || (!settings.isEmpty() && page.startsWith("HTTP/1.1 403"));
        }, 60000));
        pause(300);
    }

    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(webPort); }
    QByteArray get(const QByteArray &target, const QByteArray &headers = QByteArray()) const
    {
        return "GET " + target + " HTTP/1.1\r\nHost: " + host() + "\r\n" + headers + "\r\n";
    }
    // The ON button of variable 5 with 1234, as the page posts it.
    QByteArray rowButton(const QByteArray &headers = QByteArray(), const QByteArray &hostName = QByteArray()) const
    {
        const QByteArray body = "clientinput=V5%3A06&clientvalue=ON&V5%3A06DC=" + variableCode + "&V5%3A06Value=1234";
        const QByteArray h = hostName.isEmpty() ? host() : hostName;
        return "POST /stat HTTP/1.1\r\nHost: " + h + "\r\nOrigin: http://" + h + "\r\n" + headers
            + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
    }

    QByteArray exchange(const QByteArray &request, const QString &source = QStringLiteral("127.0.0.1"))
    {
        return httpExchange(webPort, request, {.source = source, .connectMs = 10000, .replyMs = 30000});
    }
    const QByteArray &simOutput()
    {
        simText += sim.readAllStandardOutput();
        return simText;
    }
    bool frameSeen(int timeoutMs) { return waitUntil([&] { return simOutput().contains(kVariableFrame); }, timeoutMs); }

    ProgramFolder folder;
    QProcess sim;
    QByteArray simText;
    quint16 webPort = 0;
    QByteArray variableCode = "B6"; // the demo's variable 5
    std::unique_ptr<KorvaneProcess> program;
};

} // namespace

// Exit arrives while a row button's page waits for the controller's next
// poll: the program ends cleanly and saves its store.
TEST_F(AttackedProgram, ExitWhileARowButtonWaits)
{
    startProgram(QByteArray(), QByteArray(), {{"poll_interval=500", "poll_interval=30000"}});
    const QString storePath = folder.path() + "/Config/tvkXapKorvane.ini";
    const QByteArray storeBefore = readFile(storePath);
    QFile::remove(storePath);
    Client c(webPort);
    ASSERT_TRUE(c.connected());
    c.socket.write(rowButton());
    ASSERT_TRUE(frameSeen(20000)) << simText.right(300).toStdString();
    pause(200);
    EXPECT_TRUE(c.received.isEmpty());
    EXPECT_EQ(program->terminate(), 0);
    const QByteArray errors = program->stderrText();
    EXPECT_FALSE(errors.contains("Sanitizer")) << errors.right(2000).toStdString();
    program.reset();
    EXPECT_TRUE(c.closed());
    // The store was written again at Exit.
    EXPECT_TRUE(readFile(storePath).contains("Boiler")) << readFile(storePath).left(300).toStdString();
}

// A guest refused in ENHANCED mode stays refused whatever page name its
// headers claim; BASIC refuses a guest's GET and POST with default menus.
TEST_F(AttackedProgram, GuestsAreRefusedInTheSecurityModes)
{
    startProgram("usesecurity=ENHANCED\r\ndbpath=NA\r\n");
    EXPECT_TRUE(exchange(get("/stat")).startsWith("HTTP/1.1 403"));
    const QByteArray reply = exchange(rowButton("PATH_INFO: unauthorized.asp\r\n"));
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 403")) << reply.left(200).toStdString();
    EXPECT_FALSE(frameSeen(1500));
}

TEST_F(AttackedProgram, BasicModeRefusesAGuest)
{
    startProgram("usesecurity=BASIC\r\n");
    EXPECT_TRUE(exchange(get("/stat", "AUTH_USER: guest\r\n")).startsWith("HTTP/1.1 403"));
    EXPECT_TRUE(exchange(rowButton("AUTH_USER: Guest\r\n")).startsWith("HTTP/1.1 403"));
    EXPECT_FALSE(frameSeen(1500));
    // A named user has the full level.
    EXPECT_TRUE(exchange(rowButton("AUTH_USER: alice\r\n")).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(frameSeen(20000));
}

// A site that rebinds its name to this machine gets 421, even with an
// Origin matching its Host; this machine's names are served.
TEST_F(AttackedProgram, RebindingSiteIsMisdirected)
{
    startProgram(QByteArray(), "AllowedHosts=\"panel.lan\"\r\n");
    const QByteArray attacker = "rebind.attacker.example:" + QByteArray::number(webPort);
    const QByteArray reply = exchange(rowButton(QByteArray(), attacker));
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 421 Misdirected Request")) << reply.left(200).toStdString();
    EXPECT_FALSE(frameSeen(1500));
    for (const QByteArray &name : {QByteArray("127.0.0.1"), "[::1]:" + QByteArray::number(webPort), QByteArray("localhost"),
                                   QByteArray("panel.lan")}) {
        const QByteArray page = exchange("GET /stat HTTP/1.1\r\nHost: " + name + "\r\n\r\n");
        EXPECT_TRUE(page.startsWith("HTTP/1.1 200") && page.contains("name='V5:06DC'")) << name.toStdString();
    }
    EXPECT_TRUE(exchange(rowButton()).startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(frameSeen(20000));
}

// One client's forged Referer names its own links only.
TEST_F(AttackedProgram, ForgedRefererStaysWithItsClient)
{
    startProgram();
    const QByteArray forged = exchange("GET /stat HTTP/1.0\r\nReferer: http://evil.example/x\r\n\r\n");
    EXPECT_TRUE(forged.contains("href=\"http://evil.example:" + QByteArray::number(webPort) + "/xaptvkKorvane/"));
    const QByteArray next = exchange("GET /stat HTTP/1.0\r\n\r\n", QStringLiteral("127.0.0.2"));
    EXPECT_TRUE(next.startsWith("HTTP/1.1 200"));
    EXPECT_FALSE(next.contains("evil.example"));
    EXPECT_TRUE(next.contains("href=\"http://127.0.0.1:" + QByteArray::number(webPort) + "/xaptvkKorvane/"));
}

// Clients re-posting row buttons do not hold up a client reading the help page.
TEST_F(AttackedProgram, RowButtonsDoNotStallOthers)
{
    startProgram();
    folder.writeFile("HTML/Help/xaptvkKorvane/xaptvkKorvane.htm", "<html>help</html>");
    // What one status page costs this build on this machine (a sanitizer
    // build is many times slower): a help request may wait for the page in
    // progress, never for a row button's wait.
    QElapsedTimer pageClock;
    pageClock.start();
    ASSERT_TRUE(exchange(get("/stat")).contains("name='V5:06DC'"));
    const qint64 pageMs = pageClock.elapsed();
    struct Poster
    {
        std::unique_ptr<Client> client;
        QString source;
        int replies = 0;
    };
    std::vector<Poster> posters(20);
    for (size_t i = 0; i < posters.size(); ++i)
        posters[i].source = QStringLiteral("127.0.0.") + QString::number(2 + int(i) / 7);
    auto repost = [&](Poster &p) {
        p.client = std::make_unique<Client>(webPort, p.source);
        p.client->socket.write(rowButton());
    };
    for (Poster &p : posters)
        repost(p);
    QTimer keepPosting;
    QObject::connect(&keepPosting, &QTimer::timeout, [&] {
        for (Poster &p : posters)
            if (p.client->socket.state() == QAbstractSocket::UnconnectedState) {
                p.replies += p.client->received.startsWith("HTTP/1.1 200") ? 1 : 0;
                repost(p);
            }
    });
    keepPosting.start(20);
    pause(500);
    std::vector<qint64> times;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer t;
        t.start();
        const QByteArray help = exchange(get("/help"));
        times.push_back(t.elapsed());
        EXPECT_TRUE(help.endsWith("<html>help</html>")) << help.left(100).toStdString();
    }
    keepPosting.stop();
    std::sort(times.begin(), times.end());
    EXPECT_LT(times[times.size() / 2], 200 + 2 * pageMs) << "median help page ms; one status page took " << pageMs;
    int replies = 0;
    for (const Poster &p : posters)
        replies += p.replies;
    EXPECT_GT(replies, 20);
}

// A Save of 48 KB, uploaded over 3 s while 40 slowloris connections crowd
// the pool, is taken.
TEST_F(AttackedProgram, SaveUploadsAmongSlowloris)
{
    startProgram();
    std::vector<std::unique_ptr<Client>> slow;
    auto connectSlow = [&](int i) {
        auto c = std::make_unique<Client>(webPort, QStringLiteral("127.0.0.") + QString::number(2 + i / 8));
        c->socket.write("POST /stat HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        return c;
    };
    for (int i = 0; i < 40; ++i)
        slow.push_back(connectSlow(i));
    QTimer keepCrowding; // a closed slowloris comes back at once
    QObject::connect(&keepCrowding, &QTimer::timeout, [&] {
        for (int i = 0; i < int(slow.size()); ++i)
            if (slow[size_t(i)]->socket.state() == QAbstractSocket::UnconnectedState)
                slow[size_t(i)] = connectSlow(i);
    });
    keepCrowding.start(50);
    pause(1500);

    const QByteArray page = exchange(get("/stat"));
    ASSERT_TRUE(page.contains("name='V5:06DC'"));
    QByteArray body = "clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&IncludeVariables=on&V5%3A06DC="
        + variableCode + "&V5%3A06Used=on&V5%3A06Tag=slow_save&pad=";
    body += QByteArray(48 * 1024 - body.size(), 'p');
    const QByteArray head = "POST /stat HTTP/1.1\r\nHost: " + host() + "\r\nOrigin: http://" + host()
        + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n";
    Client save(webPort);
    ASSERT_TRUE(save.connected());
    save.socket.write(head);
    const int pieces = 30;
    for (int i = 0; i < pieces; ++i) {
        pause(100);
        save.socket.write(body.mid(i * body.size() / pieces, (i + 1) * body.size() / pieces - i * body.size() / pieces));
    }
    EXPECT_TRUE(save.closed());
    keepCrowding.stop();
    EXPECT_TRUE(save.received.startsWith("HTTP/1.1 200")) << save.received.left(100).toStdString();
    EXPECT_TRUE(save.received.contains("value='slow_save'"));
}

// The style sheet and background are taken only as a local path and a colour.
TEST_F(AttackedProgram, StyleSheetAndBackgroundStayLocal)
{
    startProgram();
    auto save = [&](const QByteArray &style, const QByteArray &background) {
        const QByteArray body = "clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&IncludeSetup=on&poll_interval=500&StyleSheet="
            + style.toPercentEncoding() + "&Background=" + background.toPercentEncoding();
        return exchange("POST /stat HTTP/1.1\r\nHost: " + host() + "\r\nOrigin: http://" + host()
                        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    };
    EXPECT_TRUE(save("site/my.css", "#a0b").startsWith("HTTP/1.1 200"));
    QByteArray page = exchange(get("/stat"));
    EXPECT_TRUE(page.contains("xaptvkKorvane/site/my.css")) << page.left(600).toStdString();
    EXPECT_TRUE(page.contains("#a0b"));
    for (const auto &[style, background] : QList<QPair<QByteArray, QByteArray>>{
             {"//evil.example/x.css", "url(http://evil.example/x.png)"},
             {"../x.css", "red;background-image:url(//evil.example/y.png)"},
             {"http:x.css", "#12345"}}) {
        EXPECT_TRUE(save(style, background).startsWith("HTTP/1.1 200"));
        page = exchange(get("/stat"));
        EXPECT_FALSE(page.contains("evil.example")) << style.toStdString();
        EXPECT_TRUE(page.contains("xaptvkKorvane/site/my.css")) << style.toStdString();
        EXPECT_TRUE(page.contains("#a0b")) << background.toStdString();
    }
    program->terminate();
    program.reset();
    const QByteArray store = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
    EXPECT_TRUE(store.contains("StyleSheet=site/my.css"));
    EXPECT_TRUE(store.contains("Background=#a0b"));
}

// A coded body is refused with 411 and carries out nothing.
TEST_F(AttackedProgram, ChunkedBodyIsRefused)
{
    startProgram();
    const QByteArray body = "clientinput=V5%3A06&clientvalue=ON&V5%3A06DC=" + variableCode + "&V5%3A06Value=1234";
    const QByteArray reply = exchange("POST /stat HTTP/1.1\r\nHost: " + host() + "\r\nTransfer-Encoding: chunked\r\n\r\n"
                                      + QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n0\r\n\r\n");
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 411 Length Required")) << reply.left(200).toStdString();
    EXPECT_FALSE(frameSeen(1500));
}

// A thousand refused requests make a few log messages, not a thousand.
TEST_F(AttackedProgram, RefusalsDoNotFloodTheLog)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    startProgram();
    const qsizetype before = listener.received.size();
    int refused = 0;
    for (int batch = 0; batch < 125; ++batch) {
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 8; ++i) {
            clients.push_back(std::make_unique<Client>(webPort, QStringLiteral("127.0.0.") + QString::number(2 + i % 4)));
            clients.back()->socket.write("GET /stat HTTP/1.1\r\nHost: rebind.attacker.example\r\n\r\n");
        }
        for (auto &c : clients) {
            c->closed();
            refused += c->received.startsWith("HTTP/1.1 421") ? 1 : 0;
        }
    }
    EXPECT_EQ(refused, 1000);
    pause(1000);
    int logs = 0;
    for (qsizetype i = before; i < listener.received.size(); ++i)
        logs += listener.received.at(i).contains("Event.Log") && listener.received.at(i).contains("421") ? 1 : 0;
    EXPECT_GE(logs, 1);
    EXPECT_LE(logs, 4);
}
