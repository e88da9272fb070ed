#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

// The controller's local serial port at 9600 8N1.
class SerialPortLink : public QObject
{
    Q_OBJECT
public:
    explicit SerialPortLink(QObject* parent = nullptr);
    // A COM number n is /dev/ttyS<n-1>; anything else is taken as a device path.
    static QString DevicePath(const QString& commPort);
    void setCommPort(const QString& commPort) { m_commPort = commPort; }
    bool setPortOpen(bool open);
    bool PortOpen() const { return m_port.isOpen(); }
    int InBufferCount() const { return int(m_port.bytesAvailable()); }
    int PeekByte();
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
