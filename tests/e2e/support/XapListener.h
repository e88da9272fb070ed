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
    explicit XapListener(quint16 port = 3639)
    {
        // Another test run on this machine may hold the xAP port for a while: wait for it.
        QDeadlineTimer deadline(120000);
        while (!(bound = socket.bind(QHostAddress(QHostAddress::LocalHost), port)) && !deadline.hasExpired())
            QThread::msleep(100);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                QByteArray data(socket.pendingDatagramSize(), Qt::Uninitialized);
                socket.readDatagram(data.data(), data.size());
                received.append(data);
            }
        });
    }
    bool waitForCount(qsizetype n) { return waitUntil([this, n] { return received.size() >= n; }); }

    QUdpSocket socket;
    QList<QByteArray> received;
    bool bound = false;
};
