// The running program's web server under siege: one row per kind of
// misbehaving client, each from several loopback addresses, while an
// ordinary browser on 127.0.0.1 asks for the help page every second and must
// be answered within 2 s. After each row the log broadcasts it caused are
// few, and nothing the program sent names the folder it runs from. Each row
// runs in a private network of its own, so the rows run side by side.
#include "KorvaneProcess.h"
#include "PrivateNetwork.h"
#include "QuillonSim.h"
#include "SimTcpTransport.h"
#include "XapListener.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray kHelp = "<html>help</html>";

// The loopback address of a crowd's n-th client (all of 127/8 and the test's own IPv6
// /64 on the loopback are local); 127.0.0.1 and 127.0.0.200 are the ordinary client's.
QString crowdAddress(int n, bool ipv6)
{
    if (ipv6)
        return QStringLiteral("fd00::") + QString::number(n + 2, 16);
    if (n < 190)
        return QStringLiteral("127.0.0.") + QString::number(2 + n);
    return QStringLiteral("127.1.") + QString::number(n / 200) + QLatin1Char('.') + QString::number(n % 200 + 1);
}

// A connection from a chosen loopback address. With `readRate` set it takes only that many bytes a second off the
// connection, through a small receive buffer.
struct Connection
{
    Connection(quint16 port, const QString &source, int readRate = 0) : readRate(readRate)
    {
        socket.bind(QHostAddress(source));
        if (readRate > 0) {
            socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 2048);
            socket.setReadBufferSize(256);
        } else {
            QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        }
        socket.connectToHost(QHostAddress(source).protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6
                                                                                               : QHostAddress::LocalHost,
                             port);
        clock.start();
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    QTcpSocket socket;
    QByteArray received;
    QElapsedTimer clock;
    int readRate = 0;
};

// A client that keeps its connection once it has read its reply, as an
// HTTP/1.1 client keeps one for reuse: it never closes on the server's end
// of the reply (a QTcpSocket would), only `holdMs` later (never when < 0).
struct KeepingConnection
{
    KeepingConnection(quint16 port, const QString &source, QByteArray request, int holdMs)
        : request(std::move(request)), holdMs(holdMs)
    {
        const QHostAddress from(source);
        const bool v6 = from.protocol() == QAbstractSocket::IPv6Protocol;
        fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_storage local = {}, remote = {};
        socklen_t length = 0;
        if (v6) {
            auto &l = reinterpret_cast<sockaddr_in6 &>(local), &r = reinterpret_cast<sockaddr_in6 &>(remote);
            l.sin6_family = r.sin6_family = AF_INET6;
            const Q_IPV6ADDR bytes = from.toIPv6Address();
            memcpy(&l.sin6_addr, &bytes, 16);
            r.sin6_addr = in6addr_loopback;
            r.sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
        } else {
            auto &l = reinterpret_cast<sockaddr_in &>(local), &r = reinterpret_cast<sockaddr_in &>(remote);
            l.sin_family = r.sin_family = AF_INET;
            l.sin_addr.s_addr = htonl(from.toIPv4Address());
            r.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            r.sin_port = htons(port);
            length = sizeof(sockaddr_in);
        }
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&local), length) != 0
            || (::connect(fd, reinterpret_cast<sockaddr *>(&remote), length) != 0 && errno != EINPROGRESS))
            finished = true;
    }
    ~KeepingConnection()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Sends once connected, reads what came; true once it is to be made anew.
    bool step()
    {
        if (finished)
            return holdMs >= 0;
        if (!sent) {
            pollfd p = {fd, POLLOUT, 0};
            if (::poll(&p, 1, 0) <= 0)
                return false;
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            sent = error == 0 && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size();
            finished = !sent;
            return false;
        }
        if (!endSeen) {
            char buffer[16384];
            for (;;) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    received.append(buffer, n);
                    continue;
                }
                if (n == 0 || errno != EAGAIN) {
                    endSeen = true;
                    held.start();
                }
                break;
            }
            return false;
        }
        if (holdMs >= 0 && held.elapsed() >= holdMs) {
            finished = true;
            return true;
        }
        return false;
    }
    int fd = -1;
    QByteArray request;
    int holdMs;
    bool sent = false;
    bool endSeen = false;
    bool finished = false;
    QByteArray received;
    QElapsedTimer held;
};

class Siege;


// One row of the catalogue: what each connection of the crowd does.
struct Attack
{
    const char *name;
    int addresses;  // 127.0.0.2 and on
    int perAddress; // connections each address keeps open (a closed one comes back)
    int seconds;
    // What a connection sends when it opens (n counts the connections made).
    std::function<QByteArray(const Siege &, int n)> opening;
    QByteArray drip = QByteArray(); // sent every half second after the opening
    int readRate = 0;               // bytes per second the client reads; 0: all at once
    bool silentController = false;
    // The bound stretches with what one such request costs this build on
    // this machine, timed alone before the row (else one status page).
    bool timeOneAlone = false;
    // The crowd's addresses are IPv6 ones of one /64 (one host's).
    bool ipv6 = false;
    // After the row a request with a foreign Host must still be logged.
    bool foreignHostAfter = false;
    // When set, the ordinary client's median time must stay below it: a crowd
    // it queues behind costs it on every request, not once.
    int medianBoundMs = 0;
    // The program's open-file limit (soft, hard) when set; the web server
    // must leave the rest of the program its descriptors whatever the crowd.
    QPair<qint64, qint64> openFiles = {};
    // The crowd keeps each connection after its reply (HTTP/1.1 keep-alive):
    // for this long, then asks again on a new one; when < 0, for good.
    std::optional<int> keepAfterReplyMs = std::nullopt;
    // The ordinary client's address when not 127.0.0.1 (one of the crowd's /64).
    const char *ordinarySource = nullptr;
};

// Descriptors the rest of the program may need beside the web server's.
constexpr int kDescriptorsForTheRest = 128;

int openDescriptors(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

class Siege : public ::testing::TestWithParam<Attack>
{
public:
    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(webPort); }
    QByteArray get(const QByteArray &target, const QByteArray &hostName = QByteArray()) const
    {
        return "GET " + target + " HTTP/1.1\r\nHost: " + (hostName.isEmpty() ? host() : hostName) + "\r\n\r\n";
    }
    QByteArray post(const QByteArray &body) const
    {
        return "POST /stat HTTP/1.1\r\nHost: " + host() + "\r\nOrigin: http://" + host()
            + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
    }
    // The ON button of variable 5 with a value, as the page posts it.
    QByteArray rowButton(int value) const
    {
        return post("clientinput=V5%3A06&clientvalue=ON&V5%3A06DC=" + variableCode + "&V5%3A06Value="
                    + QByteArray::number(value));
    }
    // A Save of the setup block with values the page refuses, each one new.
    QByteArray badSave(int n) const
    {
        // Values and row numbers are the poster's: each Save names other rows.
        const QByteArray k = QByteArray::number(n), ir = QByteArray::number(n % 1024);
        return post("clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&poll_interval=p" + k
                    + "&ServerPort=" + QByteArray::number(70000 + n) + "&CommPort=c" + k + "&Background=b" + k + "%28"
                    + "&MAC" + QByteArray::number(n + 1) + "DC=1&MAC" + QByteArray::number(n + 1) + "=bad%3D" + k
                    + "&IR" + ir + "DC=R" + ir + "&IR" + ir + "Tag=+b" + k + "+&SerialIP=ip" + k
                    + "&Source0=&Class0=&FilterKey" + QByteArray::number(n + 1) + "=gone~" + k + "&FilterShown"
                    + QByteArray::number(n + 1) + "=x%3B1&Source" + QByteArray::number(n + 1) + "=s" + k + "&Class"
                    + QByteArray::number(n + 1) + "=c");
    }
    QByteArray save(int n) const
    {
        return post("clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&IncludeVariables=on&V5%3A06DC="
                    + variableCode + "&V5%3A06Used=on&V5%3A06Tag=siege" + QByteArray::number(n)
                    + "&V5%3A06Value=" + QByteArray::number(n));
    }

protected:
    void TearDown() override
    {
        if (program)
            EXPECT_EQ(program->terminate(), 0);
    }

    // The demo's program folder with the simulated controller.
    void startProgram(QPair<qint64, qint64> openFiles = {})
    {
        sim.setUnit(1, 11);
        sim.setUnit(2, 12);
        sim.setUnit(3, 13);
        sim.setUnit(4, 6);
        for (int i = 0; i < 8; ++i)
            sim.vars[i] = quint16(i * 10);
        ASSERT_TRUE(tcp.listen());
        sim.attach(&tcp);
        const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
        for (const QString &sub : {QStringLiteral("Config"), QStringLiteral("Scripts")}) {
            QDirIterator it(demo.filePath(sub), QDir::Files);
            while (it.hasNext()) {
                const QString file = it.next();
                folder.writeFile(sub + "/" + QFileInfo(file).fileName(), readFile(file));
            }
        }
        folder.writeFile("HTML/Help/xaptvkKorvane/xaptvkKorvane.htm", kHelp);
        folder.writeFile("HTML/xaptvkKorvane/xaptvkKorvane_links.htm", "<a href=\"/stat\">Status</a>");
        const QByteArray demoStore = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
        webPort = startOnFreeWebPort([&](quint16 port) {
            QByteArray store = demoStore;
            store.replace("CommPort=10001", "CommPort=" + QByteArray::number(tcp.port()) + "\r\nHTTPPort="
                                                  + QByteArray::number(port) + "\r\n");
            folder.writeFile("Config/tvkXapKorvane.ini", store);
            program = std::make_unique<KorvaneProcess>(folder, QList<QPair<QString, QString>>(), 0, openFiles);
            return program->pid();
        });
        ASSERT_GT(webPort, 0);
        ASSERT_TRUE(waitUntil([&] {
            // (From an address of its own: the ordinary client starts the row
            // with no share of the server's time used.)
            const QByteArray page = exchange(get("/stat"), QStringLiteral("127.0.0.200"));
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("value='([^']+)' name='V5:06DC'"))
                                                  .match(QString::fromLatin1(page));
            if (m.hasMatch())
                variableCode = m.captured(1).toLatin1();
            return m.hasMatch();
        }, 60000));
        pause(500);
    }

    QByteArray exchange(const QByteArray &request, const QString &source = QStringLiteral("127.0.0.1"))
    {
        Connection c(webPort, source);
        if (!waitUntil([&] { return c.socket.state() == QAbstractSocket::ConnectedState; }))
            return QByteArray();
        c.socket.write(request);
        waitUntil([&] { return c.closed(); }, 30000);
        return c.received;
    }

    int logBroadcasts(qsizetype from) const
    {
        int n = 0;
        for (qsizetype i = from; i < xap->received.size(); ++i)
            n += xap->received.at(i).contains("Event.Log") ? 1 : 0;
        return n;
    }

    std::unique_ptr<XapListener> xap; // only inside the private network
    QuillonSim sim;
    SimTcpTransport tcp;
    ProgramFolder folder;
    quint16 webPort = 0;
    QByteArray variableCode = "B6";
    std::unique_ptr<KorvaneProcess> program;
};

} // namespace

TEST_P(Siege, OrdinaryClientIsServedAndTheLogStaysShort)
{
    // (The row's figures, its "siege " lines, are in the output printed.)
    RUN_IN_PRIVATE_NETWORK(.onlyThere = true);
    xap = std::make_unique<XapListener>();
    ASSERT_TRUE(xap->bound);
    const Attack &attack = GetParam();
    if (attack.ipv6) {
        // The /64 on the namespace's own loopback: no address that leaves it.
        for (int n = 0; n < attack.addresses; ++n)
            ASSERT_EQ(QProcess::execute(QStringLiteral("ip"), {"-6", "addr", "add", crowdAddress(n, true) + "/64", "dev", "lo", "nodad"}), 0);
        if (attack.ordinarySource)
            ASSERT_EQ(QProcess::execute(QStringLiteral("ip"), {"-6", "addr", "add", QString::fromLatin1(attack.ordinarySource) + "/64", "dev", "lo", "nodad"}), 0);
    }
    startProgram(attack.openFiles);
    if (HasFatalFailure())
        return;
    if (attack.silentController)
        sim.silent = true;
    // The ordinary client may wait for the request in progress and one more:
    // 2 s, or four times what one costs here (the longer of two tries) when a
    // loaded machine makes that more.
    // Times are the program's own: what it waited for a processor that a
    // loaded machine gave to others is taken out.
    qint64 oneMs = 0;
    for (int n = 0; n < 2; ++n) {
        const OwnClock one(*program);
        const QByteArray alone = exchange(attack.timeOneAlone ? attack.opening(*this, n) : get("/stat"), QStringLiteral("127.0.0.200"));
        oneMs = qMax(oneMs, one.ownMs());
        ASSERT_TRUE(alone.startsWith("HTTP/1.1 ")) << alone.left(100).toStdString();
    }
    const qint64 boundMs = qMax<qint64>(2000, 4 * oneMs);
    pause(1000);

    const qsizetype logsBefore = xap->received.size();
    const QByteArray folderPath = folder.path().toLatin1();
    int made = 0;
    int answered = 0;
    bool leaked = false;
    std::vector<std::unique_ptr<Connection>> crowd(size_t(attack.addresses * attack.perAddress));
    std::vector<std::unique_ptr<KeepingConnection>> keeping(attack.keepAfterReplyMs ? crowd.size() : 0);
    const auto open = [&](size_t slot) {
        const QString source = crowdAddress(int(slot) / attack.perAddress, attack.ipv6);
        if (attack.keepAfterReplyMs) {
            if (keeping[slot])
                answered += keeping[slot]->received.startsWith("HTTP/") ? 1 : 0;
            keeping[slot] = std::make_unique<KeepingConnection>(webPort, source, attack.opening(*this, made++),
                                                                *attack.keepAfterReplyMs);
            return;
        }
        crowd[slot] = std::make_unique<Connection>(webPort, source, attack.readRate);
        crowd[slot]->socket.write(attack.opening(*this, made++));
    };
    const auto harvest = [&](Connection &c) {
        c.received += c.socket.readAll();
        answered += c.received.startsWith("HTTP/") ? 1 : 0;
        leaked = leaked || c.received.contains(folderPath);
    };
    for (size_t slot = 0; slot < crowd.size(); ++slot)
        open(slot);
    QTimer drive; // every 100 ms: closed connections come back, drips and slow reads go on
    int tick = 0;
    int mostDescriptors = 0;
    QObject::connect(&drive, &QTimer::timeout, [&] {
        ++tick;
        if (attack.openFiles.second > 0)
            mostDescriptors = qMax(mostDescriptors, openDescriptors(program->pid()));
        for (size_t slot = 0; slot < keeping.size(); ++slot)
            if (keeping[slot]->step())
                open(slot);
        for (size_t slot = 0; slot < crowd.size() && keeping.empty(); ++slot) {
            Connection &c = *crowd[slot];
            if (c.closed()) {
                harvest(c);
                open(slot);
                continue;
            }
            if (!attack.drip.isEmpty() && tick % 5 == 0 && c.socket.state() == QAbstractSocket::ConnectedState)
                c.socket.write(attack.drip);
            if (c.readRate > 0)
                c.received += c.socket.read(qMax(1, c.readRate / 10));
        }
    });
    drive.start(100);

    // The ordinary client: the help page once a second, from 127.0.0.1.
    std::vector<qint64> latencies;
    std::vector<qint64> waitedForCpu;
    QByteArray failures;
    QElapsedTimer siege;
    siege.start();
    while (siege.elapsed() < attack.seconds * 1000) {
        const OwnClock clock(*program);
        const QByteArray reply = exchange(get("/help"), attack.ordinarySource ? QString::fromLatin1(attack.ordinarySource)
                                                                               : QStringLiteral("127.0.0.1"));
        const qint64 ownMs = clock.ownMs();
        latencies.push_back(ownMs);
        waitedForCpu.push_back(clock.elapsedMs() - ownMs);
        leaked = leaked || reply.contains(folderPath);
        if (!reply.endsWith(kHelp) || ownMs >= boundMs)
            failures += "  " + QByteArray::number(siege.elapsed()) + " ms into the row: " + QByteArray::number(ownMs)
                + " ms (" + QByteArray::number(clock.elapsedMs()) + " ms in all), " + reply.left(40).replace("\r\n", " ")
                + "\n";
        pause(int(qMax<qint64>(0, 1000 - clock.elapsedMs())));
    }
    drive.stop();
    for (auto &c : crowd)
        if (c)
            harvest(*c);
    for (auto &k : keeping)
        answered += k->received.startsWith("HTTP/") ? 1 : 0;
    pause(1000); // log entries still on their way
    const int logs = logBroadcasts(logsBefore);
    if (attack.foreignHostAfter) {
        // Whatever the row refused, a refusal of another kind is logged at once.
        const qsizetype before = xap->received.size();
        exchange(get("/stat", "foreign.attacker.example"));
        exchange("GET /stat HTTP/1.1\r\nHost: " + host() + "\r\nHost: doubled.example\r\n\r\n");
        const auto logged = [&](const QByteArray &text) {
            for (qsizetype i = before; i < xap->received.size(); ++i)
                if (xap->received.at(i).contains("Event.Log") && xap->received.at(i).contains(text))
                    return true;
            return false;
        };
        EXPECT_TRUE(waitUntil([&] { return logged("foreign.attacker.example"); }, 5000)) << "the foreign Host left no entry";
        EXPECT_TRUE(waitUntil([&] { return logged("two Host lines"); }, 5000)) << "the doubled Host left no entry";
    }
    const qint64 worst = *std::max_element(latencies.begin(), latencies.end());
    std::cout << "siege " << attack.name << ": worst /help " << worst << " ms (bound " << boundMs << ") over " << latencies.size()
              << " requests; " << made << " connections, " << answered << " answered; " << logs << " log broadcasts;";
    for (const qint64 ms : latencies)
        std::cout << ' ' << ms;
    std::cout << "; waited for a processor:";
    for (const qint64 ms : waitedForCpu)
        std::cout << ' ' << ms;
    std::cout << std::endl;

    EXPECT_TRUE(failures.isEmpty()) << "help requests too slow or unanswered:\n" << failures.toStdString();
    if (attack.openFiles.second > 0) {
        std::cout << "siege " << attack.name << ": at most " << mostDescriptors << " descriptors open of "
                  << attack.openFiles.second << std::endl;
        EXPECT_LE(mostDescriptors, attack.openFiles.second - kDescriptorsForTheRest)
            << "the crowd took descriptors the rest of the program needs";
        // A setting written during the crowd is stored.
        const QByteArray reply = exchange(save(4242));
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 ")) << reply.left(100).toStdString();
        EXPECT_TRUE(waitUntil([&] { 
            QDirIterator it(folder.path() + "/Config", QDir::Files);
            while (it.hasNext())
                if (readFile(it.next()).contains("siege4242"))
                    return true;
            return false;
        }, 5000))
            << "the Save during the crowd was not stored";
    }
    if (attack.medianBoundMs > 0) {
        std::vector<qint64> sorted = latencies;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_LT(sorted[sorted.size() / 2], attack.medianBoundMs) << "the ordinary client waits behind the crowd";
    }
    // A whole request, however odd, gets its answer (a refusal at least) at once.
    if (attack.drip.isEmpty() && attack.readRate == 0 && !attack.opening(*this, 0).isEmpty())
        EXPECT_GE(2 * answered, made) << answered << " of " << made << " connections answered";
    // A handful of kinds, each logged once and then counted.
    EXPECT_LE(logs, 12);
    for (qsizetype i = logsBefore; i < xap->received.size(); ++i)
        leaked = leaked || xap->received.at(i).contains(folderPath);
    EXPECT_FALSE(leaked) << "a reply or a log broadcast named " << folderPath.toStdString();
    EXPECT_TRUE(program->running());
}

namespace {

QByteArray dotDot(int n)
{
    static const QList<QByteArray> targets = {"/../secret.css", "/%2e%2e/%2e%2e/x.gif", "/help/../../x.css",
                                              "/stat/..\\..\\y.png", "/a/../../../../etc/passwd.css"};
    return targets.at(n % targets.size()) + "?" + QByteArray::number(n);
}

const std::vector<Attack> kAttacks = {
    {"DrippingHeaders", 4, 8, 13, [](const Siege &s, int) { return "GET /stat HTTP/1.1\r\nHost: " + s.host() + "\r\nX-Drip: "; }, "x"},
    {"DrippingHeadersFromFortyAddresses", 40, 1, 13, [](const Siege &, int) { return QByteArray("G"); }, "E"},
    {"DrippingBodies", 4, 8, 13,
     [](const Siege &s, int) {
         return "POST /stat HTTP/1.1\r\nHost: " + s.host() + "\r\nContent-Length: 100000\r\n\r\nclientinput=";
     },
     "y"},
    {"SlowReaders", 4, 8, 13, [](const Siege &s, int) { return s.get("/stat"); }, QByteArray(), 64},
    {"IdleConnections", 4, 8, 13, [](const Siege &, int) { return QByteArray(); }},
    {"AbsoluteFormFlood", 4, 2, 8, [](const Siege &s, int n) { return s.get("http://x/stat" + QByteArray::number(n)); }},
    {"DotDotFlood", 4, 2, 8, [](const Siege &s, int n) { return s.get(dotDot(n)); }},
    {"VariedHostFlood", 4, 2, 8,
     [](const Siege &s, int n) { return s.get("/stat", "h" + QByteArray::number(n) + ".attacker.example"); }},
    {"BareLineFeeds", 4, 8, 10, [](const Siege &s, int) { return "GET /stat HTTP/1.1\nHost: " + s.host() + "\n\n"; }},
    {"OversizedHeaders", 4, 2, 8,
     [](const Siege &s, int) { return "GET /stat HTTP/1.1\r\nHost: " + s.host() + "\r\nX-Big: " + QByteArray(20000, 'b') + "\r\n\r\n"; }},
    {"Pipelining", 4, 2, 8, [](const Siege &s, int) { return s.get("/stat").repeated(50); }},
    {"MegabyteBodies", 4, 1, 8,
     [](const Siege &s, int) { return s.post("clientinput=" + QByteArray(1024 * 1024 - 12, 'm')); }, QByteArray(), 0, false,
     true},
    {"RowButtonsWithTheControllerSilent", 4, 1, 12, [](const Siege &s, int n) { return s.rowButton(1000 + n); },
     QByteArray(), 0, true},
    {"SavesWithTheControllerSilent", 4, 1, 12, [](const Siege &s, int n) { return s.save(n); }, QByteArray(), 0, true,
     true},
    // Crowds beyond the pool and its line: every one drips, none sends a whole request.
    {"HundredAddressesDripping", 100, 1, 10, [](const Siege &, int) { return QByteArray("G"); }, "E", 0, false, false,
     false, false, 800},
    {"ThreeHundredAddressesDripping", 300, 1, 10, [](const Siege &, int) { return QByteArray("G"); }, "E", 0, false,
     false, false, false, 800},
    {"ThirteenAddressesOfEight", 13, 8, 10,
     [](const Siege &s, int) { return "GET /stat HTTP/1.1\r\nHost: " + s.host() + "\r\nX-Drip: "; }, "x", 0, false,
     false, false, false, 800},
    {"HundredAddressesOfOneIPv6Net", 100, 1, 10, [](const Siege &, int) { return QByteArray("G"); }, "E", 0, false, false,
     true, false, 800},
    // One step further into the request: a whole request line, then headers
    // dripping; or a whole header block, then a body that stalls.
    {"ThreeHundredAddressesLineThenHeadersDripping", 300, 1, 10, [](const Siege &, int) { return QByteArray("GET /help HTTP/1.1\r\n"); },
     "X-a: b\r\n", 0, false, false, false, false, 800},
    {"ThreeHundredAddressesSlowBodies", 300, 1, 10,
     [](const Siege &s, int) {
         return "POST /stat HTTP/1.1\r\nHost: " + s.host() + "\r\nContent-Length: 100000\r\n\r\ncl";
     },
     "y", 0, false, false, false, false, 800},
    // More clients than a hard open-file limit of 1,024 can hold, idle or
    // dripping, each coming back as soon as it is closed: the program's
    // thread must not go to their churn.
    {"ThousandIdleAddressesUnderAHardLimit", 1000, 1, 4, [](const Siege &, int) { return QByteArray(); }, QByteArray(), 0,
     false, false, false, false, 0, {1024, 1024}},
    {"ThousandAddressesDrippingUnderAHardLimit", 1000, 1, 4, [](const Siege &, int) { return QByteArray("G"); }, "E", 0,
     false, false, false, false, 0, {1024, 1024}},
    {"SavesWithVariedBadValues", 4, 1, 12, [](const Siege &s, int n) { return s.badSave(n); }, QByteArray(), 0, false,
     true, false, true},
    // Ordinary HTTP/1.1 clients that keep the connection their reply came
    // on: a thousand asking once each, or a crowd asking again a second
    // after each reply, some within the per-client cap.
    {"ThousandAddressesKeepingTheirConnections", 1000, 1, 6, [](const Siege &s, int) { return s.get("/help"); },
     QByteArray(), 0, false, false, false, false, 0, {}, -1},
    {"ThreeHundredAddressesHoldingEachReplyASecond", 300, 1, 8, [](const Siege &s, int) { return s.get("/help"); },
     QByteArray(), 0, false, false, false, false, 800, {}, 1000},
    {"FortyAddressesOfEightHoldingEachReplyASecond", 40, 8, 8, [](const Siege &s, int) { return s.get("/help"); },
     QByteArray(), 0, false, false, false, false, 800, {}, 1000},
    // A browser of the same IPv6 /64 as an idle crowd (every host of a LAN is).
    {"BrowserInTheIPv6NetOfAnIdleCrowd", 100, 1, 8, [](const Siege &, int) { return QByteArray(); }, QByteArray(), 0,
     false, false, true, false, 0, {}, std::nullopt, "fd00::ffff"},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Rows, Siege, ::testing::ValuesIn(kAttacks),
                         [](const ::testing::TestParamInfo<Attack> &info) { return std::string(info.param.name); });
