#include "HttpExchange.h"

#include "WaitUntil.h"

#include <QHostAddress>
#include <QTcpSocket>

QByteArray httpExchange(quint16 port, const QByteArray &request, const HttpOptions &options)
{
    QTcpSocket socket;
    if (!options.source.isEmpty())
        socket.bind(QHostAddress(options.source));
    socket.connectToHost(QHostAddress::LocalHost, port);
    // A refused connection ends the wait at once rather than at its bound.
    waitUntil([&] {
        return socket.state() == QAbstractSocket::ConnectedState
            || socket.state() == QAbstractSocket::UnconnectedState;
    }, options.connectMs);
    if (socket.state() != QAbstractSocket::ConnectedState)
        return QByteArray();
    socket.write(request);
    QByteArray reply;
    waitUntil([&] {
        reply += socket.readAll();
        if (options.meanwhile)
            options.meanwhile();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, options.replyMs);
    return reply + socket.readAll();
}

QByteArray formPost(const QByteArray &target, const QByteArray &host, const QByteArray &origin,
                    const QByteArray &body)
{
    return "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\nOrigin: " + origin
        + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}
