#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QUdpSocket>

#include <functional>

#include "WaitUntil.h"

// Collects what arrives on 127.0.0.1 at a port (the xAP port by default).
class XapListener
{
public:
    // A rig that a test may first re-run in a network of its own binds only when it
    // starts: the copy that just waits for that run must not hold the port meanwhile.
    enum When { Now, AtListen };
    explicit XapListener(quint16 port = 3639, When when = Now) : m_port(port)
    {
        if (when == Now)
            listen();
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                QByteArray data(socket.pendingDatagramSize(), Qt::Uninitialized);
                socket.readDatagram(data.data(), data.size());
                received.append(data);
            }
        });
    }
    // Binds unless bound already; true once bound.
    bool listen()
    {
        // Another test run on this machine may hold the xAP port for a while: wait for it.
        QDeadlineTimer deadline(120000);
        while (!bound && !(bound = socket.bind(QHostAddress(QHostAddress::LocalHost), m_port)) && !deadline.hasExpired())
            QThread::msleep(100);
        return bound;
    }
    bool waitForCount(qsizetype n) { return waitUntil([this, n] { return received.size() >= n; }); }

    QUdpSocket socket;
    QList<QByteArray> received;
    bool bound = false;

private:
    quint16 m_port;
};
