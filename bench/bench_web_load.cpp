// Web server under load, against the running program with the demo's
// folder and the controller simulator: requests per second and p50/p99
// latency of the help page and of the demo's status page with 50 concurrent
// clients, and the help page's latency while 20 clients post row buttons.
// Usage: bench_web_load [program] [simulator] (default: this build's).
// Prints its figures; not run by CI.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>
#include "LoopbackClients.h"
#include "WaitUntil.h"

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

struct Figures
{
    double perSecond = 0;
    double p50 = 0;
    double p99 = 0;
    int failed = 0;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// `total` requests over `concurrency` clients, one request per connection.
Figures load(quint16 port, const QByteArray &request, int total, int concurrency, const QByteArray &mustEndWith)
{
    int started = 0;
    int done = 0;
    Figures f;
    std::vector<double> latencies;
    QElapsedTimer clock;
    clock.start();
    std::function<void(int)> launch = [&](int slot) {
        if (started >= total)
            return;
        ++started;
        auto received = std::make_shared<QByteArray>();
        auto since = std::make_shared<QElapsedTimer>();
        since->start();
        QTcpSocket *socket = connectFrom(slot, port);
        auto finish = [&, socket, received, since, slot] {
            *received += socket->readAll();
            if (!received->startsWith("HTTP/1.1 200") || !received->endsWith(mustEndWith))
                ++f.failed;
            latencies.push_back(since->nsecsElapsed() / 1e6);
            ++done;
            socket->disconnect();
            socket->deleteLater();
            launch(slot);
        };
        QObject::connect(socket, &QTcpSocket::connected, [socket, request] { socket->write(request); });
        QObject::connect(socket, &QTcpSocket::readyRead, [socket, received] { *received += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, finish);
        QObject::connect(socket, &QTcpSocket::errorOccurred, [socket, finish](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                finish();
            else if (socket->state() == QAbstractSocket::UnconnectedState)
                finish();
        });
    };
    for (int i = 0; i < concurrency; ++i)
        launch(i);
    waitUntil([&] { return done >= total; }, 600000);
    f.perSecond = total / (clock.elapsed() / 1000.0);
    f.p50 = percentile(latencies, 0.5);
    f.p99 = percentile(latencies, 0.99);
    return f;
}

void print(const char *what, const Figures &f)
{
    std::printf("%-44s %8.0f req/s   p50 %7.1f ms   p99 %7.1f ms%s\n", what, f.perSecond, f.p50, f.p99,
                f.failed ? qPrintable(QStringLiteral("   (%1 failed)").arg(f.failed)) : "");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString exe = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KORVANE_EXE);
    const QString simExe = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(QUILLONSIM_EXE);

    QProcess sim;
    sim.start(simExe, {QStringLiteral("--tcp"), QStringLiteral("0")});
    QByteArray simText;
    waitUntil([&] {
        simText += sim.readAllStandardOutput();
        return simText.contains('\n');
    }, 10000);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(simText));
    if (!m.hasMatch()) {
        std::printf("simulator did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
    for (const QString &sub : {QStringLiteral("Config"), QStringLiteral("Scripts")}) {
        QDirIterator it(demo.filePath(sub), QDir::Files);
        while (it.hasNext()) {
            const QString file = it.next();
            writeFile(dir.filePath(sub + QLatin1Char('/') + QFileInfo(file).fileName()), readFile(file));
        }
    }
    quint16 port;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QByteArray store = readFile(dir.filePath(QStringLiteral("Config/tvkXapKorvane.ini")));
    store.replace("CommPort=10001", "CommPort=" + m.captured(1).toLatin1() + "\r\nHTTPPort=" + QByteArray::number(port));
    writeFile(dir.filePath(QStringLiteral("Config/tvkXapKorvane.ini")), store);
    QByteArray help = "<html><body>";
    for (int i = 0; i < 60; ++i)
        help += "<p>Help text line " + QByteArray::number(i) + ".</p>\n";
    help += "</body></html>";
    writeFile(dir.filePath(QStringLiteral("HTML/Help/xaptvkKorvane/xaptvkKorvane.htm")), help);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(exe, {QStringLiteral("--app-path"), dir.path()});
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    const QByteArray getHelp = "GET /help HTTP/1.1\r\n" + host + "\r\n";
    const QByteArray getStatus = "GET /stat HTTP/1.1\r\n" + host + "\r\n";
    QByteArray variableCode;
    if (!waitUntil([&] {
            const Figures one = load(port, getStatus, 1, 1, "</html>");
            if (one.failed)
                return false;
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            s.waitForConnected(1000);
            s.write(getStatus);
            QByteArray page;
            while (s.waitForReadyRead(3000))
                page += s.readAll();
            const QRegularExpressionMatch v = QRegularExpression(QStringLiteral("value='([^']+)' name='V5:06DC'")).match(QString::fromLatin1(page));
            variableCode = v.captured(1).toLatin1();
            return v.hasMatch();
        }, 60000)) {
        std::printf("program did not serve the status page\n");
        return 1;
    }
    std::printf("program: %s\n", qPrintable(exe));
    load(port, getHelp, 200, 50, "</html>");
    print("help page, 50 clients, 2000 requests", load(port, getHelp, 2000, 50, "</html>"));
    print("status page, 50 clients, 500 requests", load(port, getStatus, 500, 50, "</html>"));

    // 20 clients post a row button over and over while one reads the help page.
    const QByteArray body = "clientinput=V5%3A06&clientvalue=ON&V5%3A06DC=" + variableCode + "&V5%3A06Value=1234";
    const QByteArray post = "POST /stat HTTP/1.1\r\n" + host + "Origin: http://127.0.0.1:" + QByteArray::number(port)
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    bool posting = true;
    int posted = 0;
    std::function<void(int)> repost = [&](int i) {
        if (!posting)
            return;
        QTcpSocket *socket = connectFrom(i, port);
        QObject::connect(socket, &QTcpSocket::connected, [socket, post] { socket->write(post); });
        QObject::connect(socket, &QTcpSocket::readyRead, [socket] { socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, [&, socket, i] {
            ++posted;
            socket->disconnect();
            socket->deleteLater();
            QTimer::singleShot(0, [&, i] { repost(i); });
        });
    };
    for (int i = 0; i < 20; ++i)
        repost(i);
    QDeadlineTimer warm(1000);
    waitUntil([&] { return warm.hasExpired(); }, 2000);
    std::vector<double> helpTimes;
    int helpFailed = 0;
    QElapsedTimer span;
    span.start();
    // At most 40 fetches or a minute: a server that stalls gives fewer.
    for (int i = 0; i < 40 && (i < 3 || span.elapsed() < 60000); ++i) {
        QElapsedTimer t;
        t.start();
        helpFailed += load(port, getHelp, 1, 1, "</html>").failed;
        helpTimes.push_back(t.nsecsElapsed() / 1e6);
    }
    posting = false;
    std::printf("%-44s p50 %7.1f ms   p99 %7.1f ms   (%d fetches, %d failed; %d row-button replies in %.1f s)\n",
                "help page while 20 clients post row buttons", percentile(helpTimes, 0.5), percentile(helpTimes, 0.99),
                int(helpTimes.size()), helpFailed, posted, span.elapsed() / 1000.0);
    QDeadlineTimer settle(3000);
    waitUntil([&] { return settle.hasExpired(); }, 4000);
    program.terminate();
    program.waitForFinished(30000);
    sim.kill();
    sim.waitForFinished(5000);
    return 0;
}
