// Replies of the running server, byte for byte, on the fixed clock.
#include "WebTestSupport.h"

#include "core/RefusalLog.h"

#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPageHook.h"
#include "web/TCPServer.h"
#include "web/chrome/Headers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpSocket>

namespace {

const QByteArray kNotFound = "HTTP/1.1 404 Object Not Found\r\nServer: tvk\r\nDate: 05-Dec-26\r\nConnection: Close\r\n"
                             "Content-Type: text/html\r\nContent-Length: 40\r\n\r\n<html><h1>404 File Not Found</h1></html>";
const QByteArray kBinaryNotFound = "HTTP/1.1 404 Not Found\r\nServer: tvk\r\nDate:05-Dec-26\r\n\r\n";

QByteArray page(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nServer: tvk\r\nDate: 05-Dec-26\r\nExpires: Tue, 04 Dec 1993 21:29:02 GMT\r\n"
           "Accept-Ranges: bytes\r\nContent-Type: text/html\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nCache-Control: no-cache\r\n\r\n" + body;
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

const QDateTime kModified(QDate(2026, 11, 30), QTime(9, 8, 7));

} // namespace

class Replies : public WebTest
{
};

TEST_F(Replies, HelpPageWithCompanionLinksMoved)
{
    writeFile(QStringLiteral("HTML/help/XAPTVKKORVANE/xaptvkKorvane.HTM"),
              "<img src=\"xaptvkKorvane_files/a.gif\"><a href=\"XAPTVKKORVANE_FILES/b.htm\">");
    EXPECT_EQ(get("/help"), page("<img src=\"help/xaptvkKorvane/xaptvkKorvane_files/a.gif\">"
                                 "<a href=\"help/xaptvkKorvane/xaptvkKorvane_files/b.htm\">"));
    // Any path under /help that is no image or style sheet gets the page.
    EXPECT_EQ(get("/HELP/x.xml").left(15), QByteArray("HTTP/1.1 200 OK"));
}

TEST_F(Replies, MissingHelpPage)
{
    // The file is named within the program folder: where that folder is stays with this machine.
    const QByteArray body = "Sorry, Help from HTML/Help/xaptvkKorvane/xaptvkKorvane.htm is not available";
    const QByteArray reply = get("/help");
    EXPECT_EQ(reply, page(body));
    EXPECT_FALSE(reply.contains(m_dir.path().toLatin1()));
}

TEST_F(Replies, StyleSheet)
{
    writeFile(QStringLiteral("HTML/Styles/Main.CSS"), "body { color: #fff; }\r\n\xe9");
    touch(QStringLiteral("HTML/Styles/Main.CSS"), kModified);
    EXPECT_EQ(get("/styles/main.css"),
              QByteArray("HTTP/1.0 200 OK\r\nServer: tvk\r\nDate: 05-Dec-26\r\nAccept-Ranges: bytes\r\n"
                         "Content-Type: text/css\r\nLast-Modified: 11/30/2026 9:08:07 AM\r\nContent-Length: 24\r\n\r\n"
                         "body { color: #fff; }\r\n\xe9"));
    EXPECT_EQ(get("/styles/none.css"), kNotFound);
}

TEST_F(Replies, BinaryFileInPacedChunks)
{
    const QByteArray bytes = pattern(2500);
    writeFile(QStringLiteral("HTML/Images/Logo.GIF"), bytes);
    touch(QStringLiteral("HTML/Images/Logo.GIF"), kModified);
    std::vector<qint64> chunks;
    TCPServer::instance().onChunkWritten = [&](int, qint64 n) { chunks.push_back(n); };
    EXPECT_EQ(get("/Images/Logo.GIF"),
              "HTTP/1.1 200 OK\r\nServer: tvk\r\nDate:05-Dec-26\r\nLast-Modified: 11/30/2026 9:08:07 AM\r\n"
              "Accept-Ranges: bytes\r\nContent-Length: 2500\r\nConnection: Close\r\nContent-Type: image/gif\r\n\r\n"
                  + bytes);
    EXPECT_EQ(chunks, (std::vector<qint64>{1000, 1000, 500}));

    chunks.clear();
    writeFile(QStringLiteral("HTML/two.png"), pattern(2000));
    const QByteArray two = get("/two.png");
    EXPECT_TRUE(two.contains("Content-Length: 2000\r\n")) << two.left(300).toStdString();
    EXPECT_TRUE(two.contains("Content-Type: image/png\r\n"));
    EXPECT_TRUE(two.endsWith(pattern(2000)));
    EXPECT_EQ(chunks, (std::vector<qint64>{1000, 1000}));

    chunks.clear();
    writeFile(QStringLiteral("HTML/empty.jpg"), QByteArray());
    const QByteArray empty = get("/empty.jpg");
    EXPECT_TRUE(empty.endsWith("Content-Length: 0\r\nConnection: Close\r\nContent-Type: image/jpeg\r\n\r\n"))
        << empty.toStdString();
    EXPECT_TRUE(chunks.empty());

    writeFile(QStringLiteral("HTML/m.wmz"), "abc");
    EXPECT_TRUE(get("/m.wmz").contains("Content-Type: unknown/binary\r\n"));
}

// Large enough to need many paced chunks while other requests are answered.
TEST_F(Replies, BinarySendDoesNotHoldUpOtherRequests)
{
    const QByteArray bytes = pattern(300 * 1000);
    writeFile(QStringLiteral("HTML/big.jpg"), bytes);
    writeFile(QStringLiteral("HTML/s.css"), "x{}");
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(waitUntil([&] { return slow.state() == QAbstractSocket::ConnectedState; }));
    slow.write("GET /big.jpg HTTP/1.1\r\n\r\n");
    QByteArray received;
    QObject::connect(&slow, &QTcpSocket::readyRead, [&] { received += slow.readAll(); });
    EXPECT_TRUE(get("/s.css").endsWith("x{}"));
    ASSERT_TRUE(waitUntil([&] { return slow.state() == QAbstractSocket::UnconnectedState; }, 30000));
    received += slow.readAll();
    EXPECT_TRUE(received.endsWith(bytes));
}

TEST_F(Replies, MissingFilesAndUnservedPaths)
{
    EXPECT_EQ(get("/images/none.gif"), kBinaryNotFound);
    EXPECT_EQ(get("/"), kNotFound);
    EXPECT_EQ(get("/index.htm"), kNotFound);
    EXPECT_EQ(get("/script.js"), kNotFound);
    EXPECT_EQ(get("/favicon.ico"), kNotFound);
    // Hidden files count as missing.
    writeFile(QStringLiteral("HTML/.secret.gif"), "x");
    EXPECT_EQ(get("/.secret.gif"), kBinaryNotFound);
    // A folder is no file.
    writeFile(QStringLiteral("HTML/dir.gif/inner"), "x");
    EXPECT_EQ(get("/dir.gif"), kBinaryNotFound);
}

TEST_F(Replies, Traversal)
{
    writeFile(QStringLiteral("secret.css"), "SECRET");
    writeFile(QStringLiteral("secret.gif"), "SECRET");
    writeFile(QStringLiteral("HTML/inside/ok.css"), "fine");
    QDir().mkpath(path(QStringLiteral("outside")));
    writeFile(QStringLiteral("outside/o.gif"), "SECRET");
    ASSERT_TRUE(QFile::link(path(QStringLiteral("outside")), path(QStringLiteral("HTML/link"))));

    const QList<QByteArray> textTargets = {"/../secret.css", "/%2e%2e/secret.css", "/%2E%2E%2Fsecret.css",
                                           "/inside/..\\..\\secret.css", "\\..\\secret.css", "/inside/%2e%2e/%2e%2e/secret.css"};
    // Each refusal is logged (each case on its own: repeats of one kind are
    // counted), and neither the reply nor the log names the program folder.
    for (const QByteArray &target : textTargets) {
        RefusalLog::Reset();
        const int mark = logMark();
        const QByteArray reply = get(target);
        EXPECT_EQ(reply, kNotFound) << target.toStdString();
        EXPECT_FALSE(reply.contains("SECRET"));
        EXPECT_TRUE(anyLogContains(mark, QStringLiteral("refused a path outside"))) << target.toStdString();
        EXPECT_FALSE(anyLogContains(mark, m_dir.path())) << target.toStdString();
    }
    for (const QByteArray &target : QList<QByteArray>{"/../secret.gif", "/%2e%2e/secret.gif", "/link/o.gif"}) {
        RefusalLog::Reset();
        const int mark = logMark();
        EXPECT_EQ(get(target), kBinaryNotFound) << target.toStdString();
        EXPECT_TRUE(anyLogContains(mark, QStringLiteral("refused a path outside"))) << target.toStdString();
        EXPECT_FALSE(anyLogContains(mark, m_dir.path())) << target.toStdString();
    }
    // An absolute path is taken under the HTML folder.
    EXPECT_EQ(get(path(QStringLiteral("secret.css")).toLatin1()), kNotFound);
    EXPECT_EQ(get("/etc/passwd.css"), kNotFound);
    // What is inside stays served, with either separator.
    EXPECT_TRUE(get("/inside/ok.css").endsWith("fine"));
    EXPECT_TRUE(get("/inside\\OK.css").endsWith("fine"));
}

TEST_F(Replies, StatusPathsWithoutABuilderGiveTheEmptyChromePage)
{
    const QByteArray a = get("/STATUS");
    const QByteArray b = get("/status?x=1");
    EXPECT_TRUE(a.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(a.contains("<title> - Korvane Status</title>")) << a.toStdString();
    EXPECT_TRUE(a.endsWith("<a name=\"pagecontent\"></a>\r\n</body></html>"));
    EXPECT_EQ(a, b);
}

TEST_F(Replies, StatusBuilderSeesRequestAndChrome)
{
    QString seenPage, seenUser, seenForm;
    SetStatusPageBuilder([&](Request &request, Response &response) {
        Headers::RunPageSetup(request, response);
        seenPage = request.page();
        seenUser = Headers::gUserName;
        seenForm = request.Form(QStringLiteral("clientinput"));
        return QStringLiteral("<p>page</p>");
    });
    const QByteArray reply = exchange({"POST /status HTTP/1.1\r\nContent-Length: 14\r\n\r\nclientinput=on"});
    EXPECT_EQ(reply, page("<p>page</p>"));
    EXPECT_EQ(seenPage, QStringLiteral("/status"));
    EXPECT_EQ(seenForm, QStringLiteral("on"));
}

// Pages are in the code page: a posted "%80" is the euro sign, and the euro sign of a page
// goes out as byte 128, one byte per character as Content-Length counts them.
TEST_F(Replies, CodePageCharactersOfFormsAndPagesAreTheirBytes)
{
    QString seenForm;
    SetStatusPageBuilder([&](Request &request, Response &response) {
        Headers::RunPageSetup(request, response);
        seenForm = request.Form(QStringLiteral("clientinput"));
        return QStringLiteral("<p>") + seenForm + QChar(0x2013) + QStringLiteral("</p>");
    });
    const QByteArray body = "clientinput=%80%9C";
    const QByteArray reply = exchange(
        {"POST /status HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body});
    EXPECT_EQ(seenForm, QString::fromUtf8("\u20ac\u0153"));
    EXPECT_EQ(reply, page("<p>\x80\x9c\x96</p>"));
}

TEST_F(Replies, BuilderFaultGivesAnEmptyPageAndALogEntry)
{
    SetStatusPageBuilder([](Request &, Response &) -> QString { throw std::runtime_error("boom"); });
    const int mark = logMark();
    EXPECT_EQ(get("/stat"), page(""));
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("StatusPage: ")));
}

// A page that the gate refused gets the refusal only, never a second reply.
TEST_F(Replies, RefusalIsTheOnlyReply)
{
    SetStatusPageBuilder([](Request &, Response &response) {
        response.Redirect(QStringLiteral("/unauthorized.asp"));
        response.Redirect(QStringLiteral("/again"));
        return QStringLiteral("the page itself");
    });
    EXPECT_EQ(get("/stat"), QByteArray("HTTP/1.1 403 Forbidden\r\nServer: tvk\r\nDate: 05-Dec-26\r\n"
                                       "Expires: Tue, 04 Dec 1993 21:29:02 GMT\r\nAccept-Ranges: bytes\r\n"
                                       "Content-Type: text/html\r\nContent-Length: 31\r\nCache-Control: no-cache\r\n\r\n"
                                       "<HTML>Unauthorized Access<HTML>"));
}

TEST_F(Replies, ContentTypes)
{
    EXPECT_EQ(Response::ContentType(QStringLiteral("a.JPG")), QStringLiteral("image/jpeg"));
    EXPECT_EQ(Response::ContentType(QStringLiteral("x.txt.gif")), QStringLiteral("image/gif"));
    EXPECT_EQ(Response::ContentType(QStringLiteral("a.png")), QStringLiteral("image/png"));
    EXPECT_EQ(Response::ContentType(QStringLiteral("a.css")), QStringLiteral("text/css"));
    EXPECT_EQ(Response::ContentType(QStringLiteral("a.htm")), QStringLiteral("text/html"));
    EXPECT_EQ(Response::ContentType(QStringLiteral("a.txt")), QStringLiteral("text/plain"));
    EXPECT_EQ(Response::ContentType(QStringLiteral("noext")), QStringLiteral("unknown/binary"));
}

// A client gone before its page is ready gets nothing, and one log entry.
TEST_F(Replies, ClientGoneBeforeThePage)
{
    bool built = false;
    SetStatusPageBuilder([&](Request &, Response &) {
        built = true;
        return QStringLiteral("late");
    });
    {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(waitUntil([&] { return client.state() == QAbstractSocket::ConnectedState; }));
        client.write("GET /stat HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(waitUntil([&] { return TCPServer::instance().openCount() == 1; }));
        client.abort();
    }
    waitUntil([] { return TCPServer::instance().openCount() == 0; });
    QDeadlineTimer settle(300);
    waitUntil([&] { return settle.hasExpired(); });
    EXPECT_FALSE(built); // the queued request went with its connection
    EXPECT_EQ(TCPServer::instance().openCount(), 0);
    EXPECT_EQ(get("/").left(12), QByteArray("HTTP/1.1 404"));
}
