#include "SimTcpTransport.h"

#include "TestPorts.h"

#include <sys/socket.h>

namespace {
// A close with nothing lingering is a reset on the wire.
void resetAndDelete(QTcpSocket* s)
{
    const linger l{1, 0};
    ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s->abort();
    s->deleteLater();
}
} // namespace

SimTcpTransport::SimTcpTransport(QObject* parent) : SimTransport(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SimTcpTransport::onNewConnection);
}

bool SimTcpTransport::listen(quint16 port)
{
    if (!port && !m_port) {
        // Tests stop the server and listen again on the same port. A port the system hands
        // out could meanwhile be handed to another test's client, so it comes from outside
        // the system's range.
        for (int attempt = 0; attempt < 20; ++attempt) {
            const quint16 candidate = TestPorts::tcp();
            if (candidate && m_server.listen(QHostAddress::LocalHost, candidate)) {
                m_port = candidate;
                return true;
            }
        }
        return false;
    }
    if (!m_server.listen(QHostAddress::LocalHost, port ? port : m_port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

quint16 SimTcpTransport::port() const { return m_port; }

void SimTcpTransport::stopListening() { m_server.close(); }

void SimTcpTransport::onNewConnection()
{
    while (QTcpSocket* s = m_server.nextPendingConnection()) {
        ++m_accepted;
        if (resetOnAccept) {
            resetAndDelete(s);
            continue;
        }
        if (closeOnAccept) {
            s->close();
            s->deleteLater();
            continue;
        }
        // Aborting emits disconnected at once, which may clear m_client.
        if (QTcpSocket* old = m_client) {
            old->abort();
            old->deleteLater();
        }
        m_client = s;
        s->setParent(this);
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(s, &QTcpSocket::readyRead, this, [this, s] {
            if (s == m_client)
                emit bytesReceived(s->readAll());
        });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            if (s == m_client) {
                m_client = nullptr;
                emit clientDisconnected();
            }
            s->deleteLater();
        });
        emit clientConnected();
    }
}

void SimTcpTransport::write(const QByteArray& bytes)
{
    if (m_client && m_client->state() == QAbstractSocket::ConnectedState) {
        m_client->write(bytes);
        m_client->flush();
    }
}

void SimTcpTransport::disconnectClient()
{
    if (m_client) {
        QTcpSocket* s = m_client;
        m_client = nullptr;
        s->disconnectFromHost();
        if (s->state() != QAbstractSocket::UnconnectedState)
            s->abort();
        s->deleteLater();
        emit clientDisconnected();
    }
}

void SimTcpTransport::resetClient()
{
    if (QTcpSocket* s = m_client) {
        m_client = nullptr;
        s->disconnect(this);
        resetAndDelete(s);
        emit clientDisconnected();
    }
}

bool SimTcpTransport::isConnected() const { return m_client != nullptr; }

qint64 SimTcpTransport::pendingBytes() const { return m_client ? m_client->bytesToWrite() : 0; }
