#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

// The controller's local serial port at 9600 8N1. At most kMaxBuffered
// received bytes wait unread; the port is not read beyond that.
class SerialPortLink : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxBuffered = 4096;

    explicit SerialPortLink(QObject* parent = nullptr);
    // A COM number n is /dev/ttyS<n-1>; anything else is taken as a device path.
    static QString DevicePath(const QString& commPort);
    void setCommPort(const QString& commPort) { m_commPort = commPort; }
    bool setPortOpen(bool open);
    bool PortOpen() const { return m_port.isOpen(); }
    int InBufferCount() const { return int(m_port.bytesAvailable()); }
    int PeekByte();
    QByteArray Peek(int n) { return m_port.peek(n); }
    int ReadByte();
    void Output(const QByteArray& bytes);

signals:
    void onComm();
    void linkDown();

private:
    void onError(QSerialPort::SerialPortError e);
    QSerialPort m_port;
    QString m_commPort;
};
