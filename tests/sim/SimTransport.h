#pragma once
#include <QByteArray>
#include <QObject>

// One byte channel between the simulated controller and the program.
class SimTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SimTransport() override;
    virtual void write(const QByteArray& bytes) = 0;
    // Drops the connection as a serial server losing its client would.
    virtual void disconnectClient() = 0;
    virtual bool isConnected() const = 0;
    // Bytes written and not yet taken by the other side's connection.
    virtual qint64 pendingBytes() const = 0;

signals:
    void bytesReceived(const QByteArray& bytes);
    void clientConnected();
    void clientDisconnected();
};
