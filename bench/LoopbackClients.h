#pragma once
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>

// Client i connects from its own loopback address (7 addresses), so that no
// address holds more connections than the web server allows one address.
inline QTcpSocket *connectFrom(int i, quint16 port)
{
    auto *socket = new QTcpSocket;
    const QHostAddress source(QStringLiteral("127.0.0.") + QString::number(2 + i % 7));
    for (int attempt = 0; attempt < 50; ++attempt)
        if (socket->bind(source, quint16(20000 + QRandomGenerator::global()->bounded(10000))))
            break;
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}
