#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

class LinkOutage;

// The controller's local serial port at 9600 8N1. At most kMaxBuffered
// received bytes wait unread; the port is not read beyond that. A port that
// fails while open (a device unplugged) is closed and opened again every
// reconnect period until it is back, with one log entry per outage.
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
    // The controller link's outage, to which the port reports its failures.
    void setOutage(LinkOutage* outage) { m_linkOutage = outage; }
    // Whether the port failed and is being opened again.
    bool Reopening() const { return m_reopen.isActive(); }
    int InBufferCount() const { return int(m_port.bytesAvailable()); }
    int PeekByte();
    QByteArray Peek(int n) { return m_port.peek(n); }
    int ReadByte();
    void Output(const QByteArray& bytes);

signals:
    void onComm();
    void linkDown();
    void linkUp(); // open again after an outage

private:
    bool openPort(bool logFailure);
    void onError(QSerialPort::SerialPortError e);
    void closeAfterError();
    void onReopenTick();
    QSerialPort m_port;
    QString m_commPort;
    QTimer m_reopen;
    bool m_outage = false; // failed and not yet open again
    LinkOutage* m_linkOutage = nullptr;
    void report(const QString& text);
};
