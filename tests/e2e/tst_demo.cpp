// The demo as the run command starts it: the demo folder's files, the
// simulator executable as the controller, the program; a newcomer sees a
// live controller on xAP within half a minute.
#include "HttpExchange.h"
#include "KorvaneProcess.h"
#include "QuillonSimProcess.h"
#include "XapListener.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString item(const QByteArray& datagram, const QString& key)
{
    const QRegularExpression re("\n" + QRegularExpression::escape(key) + "=([^\n]*)\n",
                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(datagram));
    return m.hasMatch() ? m.captured(1) : QString();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Copies the demo's Config, Scripts and HTML, with their subfolders, as the run command does.
void copyDemo(const ProgramFolder& folder)
{
    const QDir demo(QStringLiteral(KORVANE_DEMO_DIR));
    for (const QString& sub : {QStringLiteral("Config"), QStringLiteral("Scripts"), QStringLiteral("HTML")}) {
        QDirIterator it(demo.filePath(sub), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            folder.writeFile(demo.relativeFilePath(file), readFile(file));
        }
    }
}

// One GET on its own connection; the server closes it after the reply.
QByteArray httpGet(quint16 port, const QByteArray& target)
{
    return httpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", {.replyMs = 30000});
}

// The text of every table cell of a page, in order, without its markup.
QStringList cellTexts(const QByteArray& page)
{
    static const QRegularExpression cell(QStringLiteral("<td[^>]*>(.*?)</td>"),
                                         QRegularExpression::CaseInsensitiveOption
                                             | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    QStringList out;
    auto it = cell.globalMatch(QString::fromUtf8(page));
    while (it.hasNext())
        out << it.next().captured(1).remove(tag).replace(QStringLiteral("&nbsp;"), QStringLiteral(" ")).trimmed();
    return out;
}

class DemoTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (program)
            EXPECT_EQ(program->terminate(), 0);
        stopQuillonSim(sim);
    }
    // Starts the simulator as the run command does; returns its port.
    int startSimulator()
    {
        QByteArray output;
        return startQuillonSim(sim, {"--tcp", "0", "--paced"}, output);
    }

    // The demo as the run command sets it up, its controller link pointed at the simulator.
    // With `webPort` given, the status page is served on a free port, written there.
    bool startDemo(const QByteArray& extraSettings = QByteArray(), quint16* webPort = nullptr)
    {
        const int simPort = startSimulator();
        if (simPort <= 0)
            return false;
        copyDemo(folder);
        QByteArray store = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
        if (!store.contains("CommPort=10001"))
            return false;
        store.replace("CommPort=10001", "CommPort=" + QByteArray::number(simPort));
        if (!store.endsWith("\r\n"))
            store += "\r\n";
        const auto launch = [&](const QByteArray& more) {
            folder.writeFile("Config/tvkXapKorvane.ini", store + extraSettings + more);
            program = std::make_unique<KorvaneProcess>(folder);
            return program->pid();
        };
        if (!webPort)
            return launch(QByteArray()) > 0;
        *webPort = startOnFreeWebPort([&](quint16 port) { return launch("HTTPPort=" + QByteArray::number(port) + "\r\n"); });
        return *webPort != 0;
    }

    ProgramFolder folder;
    QProcess sim;
    std::unique_ptr<KorvaneProcess> program;
};

TEST_F(DemoTest, DemoFolderStaysOnLoopbackAndHoldsTheControllersDevices)
{
    const QByteArray xap = readFile(QStringLiteral(KORVANE_DEMO_DIR) + "/Config/tvkXap.ini");
    EXPECT_TRUE(xap.contains("BroadcastAddress=127.0.0.1"));
    EXPECT_TRUE(xap.contains("InterfaceAddress=127.0.0.1"));
    const QList<QByteArray> store = readFile(QStringLiteral(KORVANE_DEMO_DIR) + "/Config/tvkXapKorvane.ini").split('\n');
    int variables = 0, inputs = 0, outputs = 0;
    for (const QByteArray& line : store) {
        const QList<QByteArray> f = line.mid(line.indexOf('=') + 1).trimmed().split(';');
        if (f.size() != 13 || f[2] != "Veltro Quillon")
            continue;
        variables += f[3] == "3";
        inputs += f[3] == "0";
        outputs += f[3] == "1";
    }
    EXPECT_EQ(variables, 128);
    EXPECT_EQ(inputs, 8 + 16);
    EXPECT_EQ(outputs, 8 + 8);
    EXPECT_TRUE(QFile::exists(QStringLiteral(KORVANE_DEMO_DIR) + "/Scripts/xaptvkKorvane.txt"));
}

TEST_F(DemoTest, LiveControllerOnXapWithinHalfAMinute)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    const int simPort = startSimulator();
    ASSERT_GT(simPort, 0) << "the simulator did not start";
    copyDemo(folder);
    QByteArray store = readFile(folder.path() + "/Config/tvkXapKorvane.ini");
    ASSERT_TRUE(store.contains("CommPort=10001"));
    store.replace("CommPort=10001", "CommPort=" + QByteArray::number(simPort));
    folder.writeFile("Config/tvkXapKorvane.ini", store);

    QElapsedTimer clock;
    clock.start();
    program = std::make_unique<KorvaneProcess>(folder);
    ASSERT_TRUE(listener.waitForCount(1));
    const QByteArray heartbeat = listener.received.first();
    const QString source = item(heartbeat, "source");
    const quint16 port = quint16(item(heartbeat, "port").toUInt());
    ASSERT_GT(port, 0);

    QUdpSocket sender;
    auto query = [&] {
        const QByteArray q = "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=xAPBSC.query\nsource=acme.demo.test\n"
                             "target="
            + source.toLatin1() + ":hall_temperature.>\n}\nrequest\n{\n}\n";
        sender.writeDatagram(q, QHostAddress(QHostAddress::LocalHost), port);
    };
    auto ofClass = [&](const QString& cls) {
        QList<QByteArray> out;
        for (const QByteArray& d : listener.received)
            if (item(d, "class").compare(cls, Qt::CaseInsensitive) == 0)
                out << d;
        return out;
    };
    qint64 lastQuery = -1000;
    const bool live = waitUntil(
        [&] {
            if (clock.elapsed() - lastQuery >= 1000) {
                lastQuery = clock.elapsed();
                query();
            }
            return !ofClass("xAPBSC.info").isEmpty() && !ofClass("xAPBSC.event").isEmpty();
        },
        30000);
    EXPECT_TRUE(live) << "after " << clock.elapsed() << " ms: " << ofClass("xAPBSC.info").size() << " answers, "
                      << ofClass("xAPBSC.event").size() << " events";
    ASSERT_FALSE(ofClass("xAPBSC.info").isEmpty());
    const QByteArray answer = ofClass("xAPBSC.info").first();
    EXPECT_TRUE(item(answer, "source").startsWith(source + ":Hall_Temperature.", Qt::CaseInsensitive))
        << answer.constData();
    EXPECT_FALSE(item(answer, "Level").isEmpty()) << "a variable answers with its level";
    for (const QByteArray& d : listener.received)
        EXPECT_TRUE(item(d, "source").startsWith(source) || item(d, "source") == "acme.demo.test");
}

TEST_F(DemoTest, StatusPageListsTheLiveControllersDevices)
{
    XapListener listener; // holds the xAP port, so the program's broadcasts stay with this test
    ASSERT_TRUE(listener.bound);
    quint16 httpPort = 0;
    ASSERT_TRUE(startDemo(QByteArray(), &httpPort));
    QByteArray page;
    QStringList cells;
    // The simulator raises variable 0 every 10 seconds: the page follows it.
    const bool live = waitUntil(
        [&] {
            page = httpGet(httpPort, "/status");
            cells = cellTexts(page);
            const qsizetype at = cells.indexOf(QStringLiteral("V0:01"));
            return at > 0 && cells.at(at - 1).toInt() > 0;
        },
        60000);
    ASSERT_TRUE(page.startsWith("HTTP/1.1 200 OK\r\n")) << page.left(300).constData();
    const qsizetype hall = cells.indexOf(QStringLiteral("V0:01"));
    ASSERT_GT(hall, 0) << "no row for variable 0";
    EXPECT_TRUE(live) << "variable 0 still shows " << cells.at(hall - 1).toStdString();
    EXPECT_EQ(cells.value(hall + 1), QStringLiteral("Hall Temperature"));
    EXPECT_EQ(cells.value(cells.indexOf(QStringLiteral("V64:41")) + 1), QStringLiteral("Heating Day Setpoint"));
    // The demo shows only points with devices: its 128 variables and its 40 I/O devices.
    int variables = 0, points = 0;
    for (const QString& c : cells) {
        variables += QRegularExpression(QStringLiteral("^V\\d+:[0-9A-F]{2}$")).match(c).hasMatch();
        points += QRegularExpression(QStringLiteral("^X\\d+:[0-9A-F]{2}$")).match(c).hasMatch();
    }
    EXPECT_EQ(variables, 128);
    EXPECT_EQ(points, 16 + 16 + 8);
    for (const char* name : {"Front Door Contact", "Porch Light", "Workshop Door", "Pond Level", "Driveway Lights",
                             "Gate Motor"})
        EXPECT_TRUE(cells.contains(QString::fromLatin1(name))) << name;
    // The workshop door opened or closed since the start: its change is today's.
    const qsizetype door = cells.indexOf(QStringLiteral("Workshop Door"));
    ASSERT_GT(door, 0);
    EXPECT_TRUE(cells.value(door + 1).startsWith(QStringLiteral("Today "))) << cells.value(door + 1).toStdString();
    // The page links the demo's stylesheet, and the server has it.
    EXPECT_TRUE(page.contains("href=\"/xaptvkKorvane/StyleNoBody.css\""));
    const QByteArray css = httpGet(httpPort, "/xaptvkKorvane/StyleNoBody.css");
    EXPECT_TRUE(css.left(css.indexOf("\r\n")).endsWith(" 200 OK")) << css.left(200).constData();
    EXPECT_TRUE(css.endsWith(readFile(QStringLiteral(KORVANE_DEMO_DIR) + "/HTML/xaptvkKorvane/StyleNoBody.css")));
    // The demo's receive filter is in the filter table.
    EXPECT_TRUE(page.contains("value='demo.weather.garden' name='Source1'")) << "no filter row for the demo's filter";
    EXPECT_TRUE(page.contains("value='Garden_Weather' name='FilterTag1'"));
}

TEST_F(DemoTest, HelpServesTheShippedPageAndEveryPictureItShows)
{
    XapListener listener; // holds the xAP port, so the program's broadcasts stay with this test
    ASSERT_TRUE(listener.bound);
    quint16 httpPort = 0;
    ASSERT_TRUE(startDemo(QByteArray(), &httpPort));
    const QString helpDir = QStringLiteral(KORVANE_DEMO_DIR) + "/HTML/Help/xaptvkKorvane";
    QByteArray shipped = readFile(helpDir + "/xaptvkKorvane.htm");
    ASSERT_FALSE(shipped.isEmpty()) << "no help page in the demo";
    // The page names its pictures by its files folder; the server moves them under the help path.
    shipped.replace("xaptvkKorvane_files/", "help/xaptvkKorvane/xaptvkKorvane_files/");

    // Every path the menu's help link may take gives the same page.
    QByteArray page;
    for (const QByteArray target : {"/help", "/HELP", "/help?topic=1", "/help/x.xml"}) {
        QByteArray reply;
        waitUntil([&] { return (reply = httpGet(httpPort, target)).startsWith("HTTP/1.1 200 OK\r\n"); }, 30000);
        SCOPED_TRACE(target.constData());
        ASSERT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n")) << reply.left(300).constData();
        const QByteArray body = reply.mid(reply.indexOf("\r\n\r\n") + 4);
        EXPECT_FALSE(body.contains("Sorry, Help from"));
        EXPECT_EQ(body, shipped);
        page = body;
    }

    // Each picture the page shows, fetched as a browser at /help resolves it, is the shipped file,
    // and every file of the files folder is shown.
    static const QRegularExpression img(QStringLiteral("<img[^>]*\\ssrc=\"([^\"]+)\""),
                                        QRegularExpression::CaseInsensitiveOption);
    QStringList shown;
    for (auto it = img.globalMatch(QString::fromLatin1(page)); it.hasNext();)
        shown << it.next().captured(1);
    QStringList files = QDir(helpDir + "/xaptvkKorvane_files").entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    QStringList shownFiles;
    for (const QString& src : shown) {
        SCOPED_TRACE(src.toStdString());
        ASSERT_TRUE(src.startsWith(QStringLiteral("help/xaptvkKorvane/xaptvkKorvane_files/")));
        const QByteArray reply = httpGet(httpPort, "/" + src.toLatin1());
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n")) << reply.left(300).constData();
        const QString name = src.section(QLatin1Char('/'), -1);
        const QByteArray bytes = readFile(helpDir + "/xaptvkKorvane_files/" + name);
        EXPECT_FALSE(bytes.isEmpty());
        EXPECT_TRUE(reply.endsWith(bytes)) << "the reply is not the picture " << name.toStdString();
        EXPECT_TRUE(reply.left(reply.indexOf("\r\n\r\n")).contains("image/png"));
        shownFiles << name;
    }
    shownFiles.sort();
    shownFiles.removeDuplicates();
    EXPECT_EQ(shownFiles, files);

    // What the help says the program serves: the status page at its menu link and at /status,
    // the help at /help (the status page itself has no link to it), and nothing else the menu
    // bar links to, its own Help link included.
    const QByteArray status = httpGet(httpPort, "/status");
    ASSERT_TRUE(status.startsWith("HTTP/1.1 200 OK\r\n"));
    static const QRegularExpression href(QStringLiteral("href\\s*=\\s*\"(/[^\"#]*)\""));
    QStringList links;
    for (auto it = href.globalMatch(QString::fromLatin1(status)); it.hasNext();) {
        const QString link = it.next().captured(1);
        if (!link.endsWith(QLatin1String(".css")) && !links.contains(link))
            links << link;
    }
    ASSERT_TRUE(links.contains(QStringLiteral("/stat"))) << links.join(' ').toStdString();
    ASSERT_TRUE(links.contains(QStringLiteral("/html_help/hlp_contents.htm"))) << "the menu bar's Help link";
    for (const QString &link : links) {
        SCOPED_TRACE(link.toStdString());
        EXPECT_FALSE(link.startsWith(QLatin1String("/help"), Qt::CaseInsensitive));
        const QByteArray reply = httpGet(httpPort, link.toLatin1());
        if (link == QLatin1String("/stat") || link == QLatin1String("/status"))
            EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n"));
        else
            EXPECT_TRUE(reply.startsWith("HTTP/1.1 404")) << reply.left(100).constData();
    }
}

} // namespace
