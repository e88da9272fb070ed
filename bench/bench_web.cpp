// Web server speed: requests per second of the running program for the help
// page and a 100 KB image with 10 concurrent clients on loopback (median of
// three runs), the time to build one page's chrome, and the resident memory
// after 100 and after 10,000 requests. Prints its figures; not run by CI.
#include "web/HTMLIncludes.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/chrome/Headers.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include "core/Globals.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>
#include "LoopbackClients.h"
#include "WaitUntil.h"

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}


double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// `total` requests for `target` over `concurrency` clients, each connection
// one request (the server closes after its reply). Returns requests/s.
double load(quint16 port, const QByteArray &target, int total, int concurrency, qint64 expectBytes)
{
    int started = 0;
    int done = 0;
    int failed = 0;
    QElapsedTimer clock;
    clock.start();
    std::function<void()> launch = [&] {
        if (started >= total)
            return;
        QTcpSocket *socket = connectFrom(started++, port);
        auto received = std::make_shared<qint64>(0);
        QObject::connect(socket, &QTcpSocket::connected, [socket, target] {
            socket->write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        });
        QObject::connect(socket, &QTcpSocket::readyRead, [socket, received] { *received += socket->readAll().size(); });
        QObject::connect(socket, &QTcpSocket::disconnected, [&, socket, received] {
            *received += socket->readAll().size();
            if (*received < expectBytes)
                ++failed;
            ++done;
            socket->deleteLater();
            launch();
        });
        QObject::connect(socket, &QTcpSocket::errorOccurred, [&, socket](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError) {
                ++failed;
                ++done;
                socket->disconnect();
                socket->deleteLater();
                launch();
            }
        });
    };
    for (int i = 0; i < concurrency; ++i)
        launch();
    waitUntil([&] { return done >= total; }, 600000);
    const double seconds = clock.elapsed() / 1000.0;
    if (failed)
        std::printf("  (%d of %d requests failed)\n", failed, total);
    return total / seconds;
}

long rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

void chromeBenchmark(const QByteArray &mode)
{
    QTemporaryDir dir;
    gAppPath = dir.path();
    writeFile(dir.filePath(QStringLiteral("Config/tvkXap.ini")), "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    writeFile(dir.filePath(QStringLiteral("Config/tvkXapKorvane.ini")),
              "[Settings]\r\ndbpath=Data/menus.db\r\nusesecurity=" + mode + "\r\nrowstyle=Link\r\nlogpagehits=0\r\n");
    writeFile(dir.filePath(QStringLiteral("Config/includes.ini")), "[header.asp]\r\nstrShowLinks=TOPLEVEL\r\nuseAlerts=0\r\n");
    {
        QDir().mkpath(dir.filePath(QStringLiteral("Data")));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(dir.filePath(QStringLiteral("Data/menus.db")));
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE MenuUsers (UserID TEXT, SecureLevel INTEGER, SecID TEXT, LastSessTime TEXT)"));
        q.exec(QStringLiteral("CREATE TABLE Menus (MenuID INTEGER, MenuItem TEXT, MenuURL TEXT, ParentID INTEGER, LevelID INTEGER, "
                              "SecureLevel INTEGER, MenuImage TEXT, SortOrder INTEGER)"));
        q.exec(QStringLiteral("INSERT INTO MenuUsers VALUES ('alice', 10, '127.0.0.1', NULL)"));
        for (int i = 1; i <= 8; ++i)
            q.exec(QStringLiteral("INSERT INTO Menus VALUES (%1, 'Item %1', '/item%1', 0, 1, 0, '', %1)").arg(i));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    HostIniCache().reset();
    hs = std::make_shared<Application>();
    const HeaderParameters parameters{QStringLiteral("Korvane Status"), QString(), QStringLiteral("#000000"), QStringLiteral("x"),
                                      QStringLiteral("StyleNoBody.css")};
    std::vector<double> runs;
    for (int run = 0; run < 3; ++run) {
        const int n = 500;
        QElapsedTimer clock;
        clock.start();
        qsizetype size = 0;
        for (int i = 0; i < n; ++i) {
            Request request;
            request.setRemoteip(QStringLiteral("127.0.0.1"));
            request.ParsePage(QStringLiteral("GET /status HTTP/1.1\r\nHost: 127.0.0.1:8010\r\n\r\n"));
            Response response;
            Headers::RunPageSetup(request, response);
            Headers::CheckAccess(parameters);
            size += CustomHeader(parameters).size();
        }
        runs.push_back(clock.nsecsElapsed() / 1000.0 / n);
        if (size == 0)
            std::printf("  (empty chrome)\n");
    }
    std::printf("chrome of one page (settings, %s check, gate, head with TOPLEVEL menu row): median %.0f us\n",
                mode.constData(), median(runs));
    hs.reset();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    chromeBenchmark("ENHANCED");
    chromeBenchmark("BASIC");

    QTemporaryDir dir;
    quint16 port;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    writeFile(dir.filePath(QStringLiteral("Config/tvkXap.ini")), "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    writeFile(dir.filePath(QStringLiteral("Config/tvkXapKorvane.ini")),
              "[tspi_quillon]\r\nHTTPPort=" + QByteArray::number(port) + "\r\nCommPort=/dev/null/none\r\n");
    QByteArray help = "<html><body>";
    for (int i = 0; i < 60; ++i)
        help += "<p>Help text line " + QByteArray::number(i) + " with a link to xaptvkKorvane_files/image.gif.</p>\n";
    help += "</body></html>";
    writeFile(dir.filePath(QStringLiteral("HTML/Help/xaptvkKorvane/xaptvkKorvane.htm")), help);
    writeFile(dir.filePath(QStringLiteral("HTML/images/photo.jpg")), QByteArray(100 * 1024, 'j'));

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KORVANE_EXE), {QStringLiteral("--app-path"), dir.path()});
    if (!waitUntil([&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        }, 30000)) {
        std::printf("program did not listen\n");
        return 1;
    }
    load(port, "/help", 100, 10, help.size());
    const long rss100 = rssKb(program.processId());

    std::vector<double> helpRuns, imageRuns;
    for (int run = 0; run < 3; ++run)
        helpRuns.push_back(load(port, "/help", 2000, 10, help.size()));
    for (int run = 0; run < 3; ++run)
        imageRuns.push_back(load(port, "/images/photo.jpg", 500, 10, 100 * 1024));
    std::printf("help page (%lld bytes), 10 clients: median %.0f requests/s\n", qint64(help.size()), median(helpRuns));
    std::printf("100 KB image, 10 clients: median %.0f requests/s\n", median(imageRuns));
    const int before = 100 + 6000 + 1500;
    load(port, "/help", 10000 - before, 10, help.size());
    std::printf("resident memory: %ld KB after 100 requests, %ld KB after 10000\n", rss100, rssKb(program.processId()));
    program.terminate();
    program.waitForFinished(30000);
    return 0;
}
