#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include "WaitUntil.h"

// Readable failure messages for texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

class Request;
class Response;


// An open client connection that collects what arrives, from `source` (any
// loopback address) when given. A client with `readBuffer` set takes only
// that many bytes at a time off the connection, and only when asked to
// (takeSome): a client that reads slowly.
struct Client
{
    explicit Client(quint16 port, const QString &source = QString(), int readBuffer = 0)
    {
        if (readBuffer == 0)
            QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        if (!source.isEmpty())
            socket.bind(QHostAddress(source));
        if (readBuffer > 0) {
            socket.setReadBufferSize(readBuffer);
            socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, readBuffer);
        }
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void takeSome() { received += socket.read(socket.readBufferSize()); }
    bool connected() { return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }); }
    bool closed(int timeoutMs = 15000)
    {
        return waitUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
    QTcpSocket socket;
    QByteArray received;
};


// A program folder (loopback-only xAP settings), the host object, a fixed
// clock (5 December 2026 15:04:05) and the web server listening on a free
// loopback port.
class WebTest : public ::testing::Test
{
public:
    // Data items of the log entries made since the mark (LogError entries
    // wait for the xAP endpoint, which tests do not open).
    static int logMark();
    static QStringList logsSince(int mark);
    static QStringList logTypesSince(int mark);
    static bool anyLogContains(int mark, const QString &text);

protected:
    void SetUp() override;
    void TearDown() override;

    QString path(const QString &relative) const { return m_dir.path() + QLatin1Char('/') + relative; }
    void writeFile(const QString &relative, const QByteArray &bytes) const;
    // Sets a file's modification time (for Last-Modified).
    void touch(const QString &relative, const QDateTime &when) const;
    // An INI file of the Config folder; call before the file is first read.
    void writeConfig(const QString &name, const QByteArray &text) const { writeFile(QStringLiteral("Config/") + name, text); }

    // Connects, sends each piece (waiting gapMs between them) and returns all
    // bytes until the server closes the connection (or the timeout passes).
    QByteArray exchange(const QList<QByteArray> &pieces, int gapMs = 0, int timeoutMs = 15000);
    QByteArray get(const QByteArray &target, const QByteArray &extraHeaders = QByteArray());

    // A SQLite file built from the statements.
    QString makeDatabase(const QString &relative, const QStringList &statements) const;

    static QDateTime fixedNow();
    quint16 m_port = 0;
    QTemporaryDir m_dir;
};

// The chrome's standard fixture tables: MenuUsers, Menus, MenuPOPPref, MenuPOP.
QStringList chromeSchema();
