#include "host/RemoteClient.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/AnsiCodePage.h"
#include "automation/PendingError.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTcpSocket>

namespace {

// Owned by the application object, so the socket goes before Qt does.
QPointer<RemoteClient> &holder()
{
    static QPointer<RemoteClient> client;
    return client;
}

} // namespace

RemoteClient::RemoteClient()
    : m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::connected, this, &RemoteClient::onConnected);
    // Once the peer has taken everything, a later drop is a new burst.
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() == 0)
            m_dropping = false;
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A peer that closes is no fault. Held text waits for the next attempt,
        // which the next SendTCP starts.
        if (error == QAbstractSocket::RemoteHostClosedError)
            return;
        LogTrapped(kProgramName,
                   QStringLiteral("RemoteConnect ") + m_host + QLatin1Char(':') + QString::number(m_port)
                       + QStringLiteral(" ") + m_socket->errorString(),
                   QStringLiteral("RemoteConnect ") + QString::number(int(error)));
    });
}

RemoteClient &RemoteClient::instance()
{
    if (!holder()) {
        holder() = new RemoteClient();
        holder()->setParent(QCoreApplication::instance());
    }
    return *holder();
}

void RemoteClient::release()
{
    delete holder().data();
}

bool RemoteClient::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

qint64 RemoteClient::bytesWaiting() const
{
    return m_socket->bytesToWrite();
}

void RemoteClient::RemoteConnect(const QString &host, qint32 port)
{
    try {
        if (host != m_host || port != m_port)
            RemoteClose();
        m_host = host;
        m_port = port;
        const QAbstractSocket::SocketState state = m_socket->state();
        if (state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState
            || state == QAbstractSocket::ConnectedState)
            return;
        m_socket->abort();
        if (port < 1 || port > 65535)
            throw VbError(VbErr::InvalidProcedureCall, QStringLiteral("Invalid argument"));
        m_socket->connectToHost(host, quint16(port));
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, QStringLiteral("RemoteConnect"));
    }
}

bool RemoteClient::RemoteSend(const QString &text)
{
    try {
        const QByteArray bytes = AnsiCodePage::encode(text);
        if (isConnected()) {
            m_pending.clear();
            // A peer that accepts but never reads must not grow the write buffer for ever; a
            // text of any size goes out while little is still waiting.
            if (m_socket->bytesToWrite() >= kMaxPendingBytes) {
                drop(bytes.size(), QStringLiteral("the peer is not taking what was sent"));
                return false;
            }
            m_socket->write(bytes);
            return true;
        }
        if (m_pending.size() >= kMaxPendingBytes) {
            drop(bytes.size(), QStringLiteral("the connection is not up"));
            return false;
        }
        m_pending += bytes;
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, QStringLiteral("RemoteSend"));
    }
    return false;
}

void RemoteClient::drop(qsizetype bytes, const QString &why)
{
    if (m_dropping)
        return;
    m_dropping = true;
    LogTrapped(kProgramName,
               QStringLiteral("RemoteSend: ") + QString::number(bytes) + QStringLiteral(" bytes to ") + m_host
                   + QLatin1Char(':') + QString::number(m_port) + QStringLiteral(" dropped, ") + why
                   + QStringLiteral("; more may follow unlogged"),
               QStringLiteral("RemoteSend: dropped, ") + why);
}

void RemoteClient::RemoteClose()
{
    m_dropping = false;
    // Held text was meant for this connection, not for the next one.
    m_pending.clear();
    // What was written already still goes out before the close.
    m_socket->flush();
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState && m_socket->state() != QAbstractSocket::ClosingState)
        m_socket->abort();
}

void RemoteClient::onConnected()
{
    m_dropping = false;
    if (m_pending.isEmpty())
        return;
    const QByteArray bytes = m_pending;
    m_pending.clear();
    m_socket->write(bytes);
}
