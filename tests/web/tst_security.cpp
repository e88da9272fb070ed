// Settings and security modes of the chrome, one request at a time.
#include "ChromeFixture.h"

#include "web/chrome/HeaderParameters.h"
#include "web/chrome/Headers.h"

#include "core/RefusalLog.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <vector>

#include <QSqlDatabase>
#include <QSqlQuery>

using Headers::gSecureLevel;
using Headers::gUserName;

class Security : public ChromeTest
{
protected:
    QString lastSession(const QString &user)
    {
        QString value;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(path(QStringLiteral("Data/chrome.db")));
            db.open();
            QSqlQuery q(db);
            q.prepare(QStringLiteral("SELECT LastSessTime FROM MenuUsers WHERE UserID = ?"));
            q.addBindValue(user);
            q.exec();
            if (q.next())
                value = q.value(0).isNull() ? QStringLiteral("NULL") : q.value(0).toString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        return value;
    }
};

TEST_F(Security, NoneAndBasicModes)
{
    setting(QStringLiteral("usesecurity"), QStringLiteral("none"));
    request();
    EXPECT_EQ(gSecureLevel, 10);
    EXPECT_EQ(gUserName, QStringLiteral("NO SECURITY"));

    setting(QStringLiteral("usesecurity"), QStringLiteral("Basic"));
    struct Case
    {
        QByteArray header;
        int level;
        const char *user;
    };
    const Case cases[] = {
        {"", 10, ""},
        {"AUTH_USER: guest\r\n", 0, "GUEST"},
        {"AUTH_USER: GuEsT\r\n", 0, "GUEST"},
        {"AUTH_USER: homeset\r\n", 10, "LOCAL"},
        {"AUTH_USER: bob\r\n", 10, "BOB"},
        {"AUTH_USER: j\xfcrgen\r\n", 10, "J\xdcRGEN"},
    };
    for (const Case &c : cases) {
        request(c.header);
        EXPECT_EQ(gSecureLevel, c.level) << c.header.toStdString();
        EXPECT_EQ(gUserName, QString::fromLatin1(c.user)) << c.header.toStdString();
    }
}

// A client's level never carries over to the next request.
TEST_F(Security, LevelIsResetForEveryRequest)
{
    setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
    request("AUTH_USER: admin\r\n");
    EXPECT_EQ(gSecureLevel, 10);
    setting(QStringLiteral("usesecurity"), QString());
    request();
    EXPECT_EQ(gSecureLevel, 0);
    EXPECT_EQ(gUserName, QString());
    setting(QStringLiteral("usesecurity"), QStringLiteral("ENHANCED"));
    setting(QStringLiteral("dbpath"), QStringLiteral("NA"));
    request();
    EXPECT_EQ(gSecureLevel, 0);
    EXPECT_EQ(gUserName, QString());
}

TEST_F(Security, EnhancedModeReadsTheUserTable)
{
    standardDatabase();
    setting(QStringLiteral("usesecurity"), QStringLiteral("ENHANCED"));
    setting(QStringLiteral("dbpath"), QStringLiteral("Provider=x;Data Source=Data\\chrome.db;Persist=False"));
    request({}, QStringLiteral("10.1.1.1"));
    EXPECT_EQ(gSecureLevel, 5);
    EXPECT_EQ(gUserName, QStringLiteral("bob"));
    EXPECT_NE(lastSession(QStringLiteral("bob")), QStringLiteral("NULL"));
    EXPECT_EQ(lastSession(QStringLiteral("alice")), QStringLiteral("NULL"));

    request({}, QStringLiteral("10.9.9.9"));
    EXPECT_EQ(gSecureLevel, 0);
    EXPECT_EQ(gUserName, QStringLiteral("None"));
    EXPECT_EQ(lastSession(QStringLiteral("alice")), QStringLiteral("NULL"));
}

// The address and the user name reach SQL only as bound values.
TEST_F(Security, InjectionThroughTheAddressFindsNoUser)
{
    standardDatabase();
    setting(QStringLiteral("usesecurity"), QStringLiteral("ENHANCED"));
    setting(QStringLiteral("dbpath"), path(QStringLiteral("Data/chrome.db")));
    request({}, QStringLiteral("' OR '1'='1"));
    EXPECT_EQ(gSecureLevel, 0);
    EXPECT_EQ(gUserName, QStringLiteral("None"));
    request({}, QStringLiteral("x'; UPDATE MenuUsers SET SecureLevel = 99; --"));
    request({}, QStringLiteral("10.1.1.1"));
    EXPECT_EQ(gSecureLevel, 5);
    EXPECT_EQ(lastSession(QStringLiteral("alice")), QStringLiteral("NULL"));
}

TEST_F(Security, DatabaseThatCannotBeOpened)
{
    setting(QStringLiteral("usesecurity"), QStringLiteral("ENHANCED"));
    setting(QStringLiteral("dbpath"), QStringLiteral("DBQ=Data/missing.db"));
    int mark = logMark();
    request();
    EXPECT_EQ(gSecureLevel, 0);
    EXPECT_EQ(gUserName, QString());
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("XSecurityCheck:  Line ")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("Data/missing.db")))); // never created

    writeFile(QStringLiteral("Data/garbage.db"), QByteArray(4096, 'g'));
    setting(QStringLiteral("dbpath"), QStringLiteral("Data/garbage.db"));
    mark = logMark();
    request();
    EXPECT_EQ(gSecureLevel, 0);
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("XSecurityCheck: ")));
}

TEST_F(Security, TouchScreenClients)
{
    setting(QStringLiteral("rowstyle"), QStringLiteral("Link"));
    setting(QStringLiteral("audreyrowstyle"), QStringLiteral("Image"));
    setting(QStringLiteral("touchscreenips"), QStringLiteral("10.0.0.5,127.0.0.1"));
    request();
    EXPECT_TRUE(Headers::gTouchScreen);
    EXPECT_EQ(Headers::Settings().rowstyle, QStringLiteral("Image"));

    setting(QStringLiteral("touchscreenips"), QStringLiteral("10.0.0.5, 127.0.0.1"));
    request();
    EXPECT_FALSE(Headers::gTouchScreen);
    EXPECT_EQ(Headers::Settings().rowstyle, QStringLiteral("Link"));

    request("User-Agent: Mozilla (QNX)\r\n");
    EXPECT_TRUE(Headers::gTouchScreen);
    request("User-Agent: audrey\r\n");
    EXPECT_FALSE(Headers::gTouchScreen);
}

// The page name is the request's own path: a client's PATH_INFO header
// names nothing, and no page name is exempt from the gate.
TEST_F(Security, PageNameAndRefusalLog)
{
    setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
    request("PATH_INFO: x\\y\\page.asp\r\nAUTH_USER: guest\r\n");
    EXPECT_EQ(Headers::fnPageName(), QStringLiteral("status"));
    int mark = logMark();
    Headers::LogAuthorized();
    EXPECT_TRUE(Headers::PageRefused());
    ASSERT_GE(logsSince(mark).size(), 1);
    EXPECT_EQ(logTypesSince(mark).at(0), QStringLiteral("Unauthorized"));
    EXPECT_EQ(logsSince(mark).at(0),
              QStringLiteral("Anonymous Guest at 127.0.0.1 attempted to access status at 12/5/2026 3:04:05 PM. "));

    request("PATH_INFO: unauthorized.asp\r\nAUTH_USER: guest\r\n", QStringLiteral("10.0.0.7"));
    EXPECT_EQ(Headers::fnPageName(), QStringLiteral("status"));
    mark = logMark();
    Headers::LogAuthorized();
    EXPECT_TRUE(Headers::PageRefused());
    // A refusal of the same kind within the minute is counted, not logged again.
    EXPECT_FALSE(anyLogContains(mark, QStringLiteral("Anonymous Guest at 10.0.0.7")));
    RefusalLog::Flush();
    EXPECT_TRUE(anyLogContains(mark, QStringLiteral("Anonymous Guest at 127.0.0.1 attempted to access status at 12/5/2026 3:04:05 PM.  (repeated 1 more times)")));

    // With no request to name the page, the name is "" and the fault is logged with its label.
    Headers::Reset();
    mark = logMark();
    EXPECT_EQ(Headers::fnPageName(), QString());
    ASSERT_EQ(logsSince(mark).size(), 1);
    EXPECT_TRUE(logsSince(mark).at(0).startsWith(QStringLiteral("fnPageName:  Line "))) << logsSince(mark).at(0).toStdString();
}

TEST_F(Security, GateByThePageMenuEntry)
{
    standardDatabase();
    setting(QStringLiteral("dbpath"), QStringLiteral("Data/chrome.db"));
    setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
    const HeaderParameters status{QString(), QString(), QString(), QString(), QString(), QStringLiteral("/stat")};
    const HeaderParameters unknown{QString(), QString(), QString(), QString(), QString(), QStringLiteral("/nowhere")};
    const HeaderParameters top{QString(), QString(), QString(), QString(), QString(), QStringLiteral("TOPLEVEL")};
    const HeaderParameters old{QString(), QString(), QString(), QString(), QString(), QStringLiteral("OldStyle")};

    request("AUTH_USER: guest\r\n");
    EXPECT_TRUE(Headers::CheckAccess(status)); // Status needs level 0
    request("AUTH_USER: guest\r\n");
    EXPECT_FALSE(Headers::CheckAccess(unknown)); // no entry: level 10
    request("AUTH_USER: guest\r\n");
    EXPECT_TRUE(Headers::CheckAccess(top));
    // Links that name no menu row give the page no level of its own: it needs the full one.
    request("AUTH_USER: guest\r\n");
    EXPECT_FALSE(Headers::CheckAccess(old));
    request("AUTH_USER: admin\r\n");
    EXPECT_TRUE(Headers::CheckAccess(old));
    request("AUTH_USER: admin\r\n");
    EXPECT_TRUE(Headers::CheckAccess(unknown));
    // The page's own mode parameter replaces the setting.
    request("AUTH_USER: guest\r\n");
    const HeaderParameters open{QString(), QString(), QString(), QString(), QString(), QStringLiteral("/nowhere"),
                                QString(), QString(), QString(), QStringLiteral("NONE")};
    EXPECT_TRUE(Headers::CheckAccess(open));

    // A database fault holds the page to level 10.
    setting(QStringLiteral("dbpath"), QStringLiteral("Data/none.db"));
    request("AUTH_USER: guest\r\n");
    EXPECT_FALSE(Headers::CheckAccess(status));
}

TEST_F(Security, RefusedStatusRequestOverTheWire)
{
    standardDatabase();
    setting(QStringLiteral("dbpath"), QStringLiteral("Data/chrome.db"));
    setting(QStringLiteral("usesecurity"), QStringLiteral("BASIC"));
    include(QStringLiteral("strShowLinks"), QStringLiteral("/nowhere"));
    const int mark = logMark();
    const QByteArray refused = get("/status", "AUTH_USER: guest\r\n");
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 403 Forbidden\r\n")) << refused.toStdString();
    EXPECT_TRUE(refused.endsWith("\r\n\r\n<HTML>Unauthorized Access<HTML>"));
    EXPECT_TRUE(logTypesSince(mark).contains(QStringLiteral("Unauthorized")));
    const QByteArray allowed = get("/status", "AUTH_USER: admin\r\n");
    EXPECT_TRUE(allowed.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(allowed.contains("<td nowrap><b>User:</b> ADMIN</td>"));
}

// A row written for an IPv4 address admits the same client when it comes in
// over IPv6: an IPv4-mapped address as its IPv4 address, the machine's own
// ::1 as 127.0.0.1. Other IPv6 addresses match only a row of their own.
TEST_F(Security, IPv6ClientsMatchTheirRows)
{
    standardDatabase();
    setting(QStringLiteral("usesecurity"), QStringLiteral("ENHANCED"));
    setting(QStringLiteral("dbpath"), path(QStringLiteral("Data/chrome.db")));
    setting(QStringLiteral("touchscreenips"), QStringLiteral("10.1.1.1,127.0.0.1"));
    struct Case
    {
        QString address;
        QString user;
        bool touchScreen;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("::1"), QStringLiteral("alice"), true},
        {QStringLiteral("::ffff:127.0.0.1"), QStringLiteral("alice"), true},
        {QStringLiteral("::ffff:10.1.1.1"), QStringLiteral("bob"), true},
        {QStringLiteral("0:0:0:0:0:0:0:1"), QStringLiteral("alice"), true},
        {QStringLiteral("::2"), QStringLiteral("None"), false},
        {QStringLiteral("fe80::1"), QStringLiteral("None"), false},
        {QStringLiteral("::ffff:10.1.1.2"), QStringLiteral("None"), false},
        {QStringLiteral("::127.0.0.1"), QStringLiteral("None"), false}, // IPv4-compatible, not mapped
    };
    for (const Case &c : cases) {
        request({}, c.address);
        EXPECT_EQ(gUserName, c.user) << c.address.toStdString();
        EXPECT_EQ(Headers::gTouchScreen, c.touchScreen) << c.address.toStdString();
    }
    // The row matched is the one whose session time is kept.
    EXPECT_NE(lastSession(QStringLiteral("bob")), QStringLiteral("NULL"));
}

// The browser of the machine itself, connecting over ::1, gets the page a
// row for 127.0.0.1 allows.
TEST_F(Security, LocalBrowserOverIPv6)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHostIPv6, m_port);
    if (!probe.waitForConnected(2000))
        GTEST_SKIP() << "no IPv6 loopback here";
    probe.abort();
    standardDatabase();
    setting(QStringLiteral("usesecurity"), QStringLiteral("ENHANCED"));
    setting(QStringLiteral("dbpath"), path(QStringLiteral("Data/chrome.db")));
    const int mark = logMark();
    QTcpSocket client;
    QByteArray reply;
    QObject::connect(&client, &QTcpSocket::readyRead, [&] { reply += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHostIPv6, m_port);
    ASSERT_TRUE(client.waitForConnected(5000));
    client.write("GET /status HTTP/1.1\r\nHost: localhost:" + QByteArray::number(m_port) + "\r\n\r\n");
    EXPECT_TRUE(waitUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 15000));
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n")) << reply.left(300).toStdString();
    EXPECT_FALSE(logTypesSince(mark).contains(QStringLiteral("Unauthorized"))) << logsSince(mark).join('\n').toStdString();
}
