#include "WebTestSupport.h"
#include "TestPorts.h"

#include "web/StatusPageHook.h"
#include "core/RefusalLog.h"
#include "web/TCPServer.h"
#include "web/WebClock.h"
#include "web/chrome/Headers.h"
#include "web/chrome/PageHead.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QThread>


QDateTime WebTest::fixedNow()
{
    return QDateTime(QDate(2026, 12, 5), QTime(15, 4, 5));
}

void WebTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    gAppPath = m_dir.path();
    QDir(m_dir.path()).mkpath(QStringLiteral("Config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("HTML"));
    writeConfig(QStringLiteral("tvkXap.ini"), "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    HostIniCache().reset();
    hs = std::make_shared<Application>();
    Headers::Reset();
    SetStatusPageBuilder({});
    WebClock::set([] { return fixedNow(); });
    RefusalLog::Reset();

    // A port found free can still be taken by another test program before the server binds
    // it (ctest runs test programs side by side): try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = TestPorts::tcp();
        ASSERT_GT(m_port, 0);
        writeConfig(QStringLiteral("tvkXapKorvane.ini"),
                    "[tspi_quillon]\r\nHTTPPort=\"" + QByteArray::number(m_port) + "\"\r\n");
        HostIniCache().reset();
        TCPServer::load();
        if (TCPServer::instance().isListening())
            break;
        TCPServer::unload();
    }
    ASSERT_TRUE(TCPServer::instance().isListening());
}

void WebTest::TearDown()
{
    TCPServer::unload();
    SetStatusPageBuilder({});
    WebClock::set({});
    Headers::Reset();
    hs.reset();
    HostIniCache().reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void WebTest::writeFile(const QString &relative, const QByteArray &bytes) const
{
    const QString full = path(relative);
    QDir().mkpath(full.left(full.lastIndexOf(QLatin1Char('/'))));
    QFile file(full);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void WebTest::touch(const QString &relative, const QDateTime &when) const
{
    QFile file(path(relative));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
}

QByteArray WebTest::exchange(const QList<QByteArray> &pieces, int gapMs, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs))
        return "no connection";
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0 && gapMs > 0) {
            QDeadlineTimer gap(gapMs);
            waitUntil([&] { return gap.hasExpired(); }, gapMs + 1000);
        }
        socket.write(pieces.at(i));
        socket.flush();
    }
    waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    received += socket.readAll();
    return received;
}

QByteArray WebTest::get(const QByteArray &target, const QByteArray &extraHeaders)
{
    return exchange({"GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n"});
}

int WebTest::logMark()
{
    return PendingXapMessageCount();
}

namespace {
QString item(const QString &body, const QString &key)
{
    for (const QString &pair : body.split(QChar(0))) {
        const qsizetype eq = pair.indexOf(QChar(1));
        if (eq >= 0 && pair.left(eq) == key)
            return pair.mid(eq + 1);
    }
    return QString();
}
} // namespace

QStringList WebTest::logsSince(int mark)
{
    QStringList out;
    const QStringList bodies = PendingXapBodies();
    for (qsizetype i = mark; i < bodies.size(); ++i)
        out.append(item(bodies.at(i), QStringLiteral("Data")));
    return out;
}

QStringList WebTest::logTypesSince(int mark)
{
    QStringList out;
    const QStringList bodies = PendingXapBodies();
    for (qsizetype i = mark; i < bodies.size(); ++i)
        out.append(item(bodies.at(i), QStringLiteral("Type")));
    return out;
}

bool WebTest::anyLogContains(int mark, const QString &text)
{
    for (const QString &data : logsSince(mark))
        if (data.contains(text))
            return true;
    return false;
}

QString WebTest::makeDatabase(const QString &relative, const QStringList &statements) const
{
    const QString file = path(relative);
    QDir().mkpath(file.left(file.lastIndexOf(QLatin1Char('/'))));
    QFile::remove(file);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture"));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        for (const QString &sql : statements)
            EXPECT_TRUE(query.exec(sql)) << sql.toStdString() << ": " << query.lastError().text().toStdString();
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture"));
    return file;
}

QStringList chromeSchema()
{
    return {
        QStringLiteral("CREATE TABLE MenuUsers (UserID TEXT, SecureLevel INTEGER, SecID TEXT, LastSessTime TEXT)"),
        QStringLiteral("CREATE TABLE Menus (MenuID INTEGER, MenuItem TEXT, MenuURL TEXT, ParentID INTEGER, LevelID INTEGER, "
                       "SecureLevel INTEGER, MenuImage TEXT, SortOrder INTEGER)"),
        QStringLiteral("CREATE TABLE MenuPOPPref (UserID TEXT, yoffset INTEGER, xoffset INTEGER, staticyoffset INTEGER, "
                       "slidespeed INTEGER, waittime INTEGER, menuIsStatic INTEGER, menuwidth INTEGER, barlink TEXT, "
                       "bartext TEXT, barwidth INTEGER, mouseovercolor TEXT, mouseoutcolor TEXT, targetwindow TEXT)"),
        QStringLiteral("CREATE TABLE MenuPOP (MenuID INTEGER, MenuText TEXT, MenuURL TEXT, IsHeader INTEGER, IsActive "
                       "INTEGER, UserID TEXT, SortOrder INTEGER)"),
    };
}
