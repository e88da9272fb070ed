#pragma once
#include "SimTransport.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A serial-device server on a loopback port: one client at a time, the newest wins.
class SimTcpTransport : public SimTransport
{
    Q_OBJECT
public:
    explicit SimTcpTransport(QObject* parent = nullptr);
    bool listen(quint16 port = 0);
    quint16 port() const;
    void write(const QByteArray& bytes) override;
    void disconnectClient() override;
    bool isConnected() const override;
    qint64 pendingBytes() const override;
    // Stops accepting, so reconnect attempts are refused until listen() again.
    void stopListening();
    // True: every connection is closed as soon as it is accepted, as a device
    // server whose port another client holds answers.
    bool closeOnAccept = false;
    // True: every connection is reset (RST) as soon as it is accepted.
    bool resetOnAccept = false;
    // Drops the connection with a reset instead of an orderly close.
    void resetClient();
    int accepted() const { return m_accepted; }

private:
    void onNewConnection();
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    quint16 m_port = 0;
    int m_accepted = 0;
};
