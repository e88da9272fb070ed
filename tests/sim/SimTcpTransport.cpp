#include "SimTcpTransport.h"

SimTcpTransport::SimTcpTransport(QObject* parent) : SimTransport(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SimTcpTransport::onNewConnection);
}

bool SimTcpTransport::listen(quint16 port)
{
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
        if (m_client) {
            m_client->abort();
            m_client->deleteLater();
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

bool SimTcpTransport::isConnected() const { return m_client != nullptr; }
