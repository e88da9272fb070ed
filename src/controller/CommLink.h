#pragma once
#include <QByteArray>
#include <QObject>
#include <QPointer>

#include "SerialComm.h"
class SerialPortLink;

// The one byte stream to the controller: a local serial port or a TCP serial
// server, chosen by UseSerialComm. Keeps PortOpenFlag and CommsStarted true only
// while the link is really open.
class CommLink : public QObject
{
    Q_OBJECT
public:
    explicit CommLink(QObject* parent = nullptr);
    ~CommLink() override;

    void OpenCommLink();
    // release: shut the TCP link object down for good (plug-in shutdown);
    // otherwise just close it (hand-off to the programming tool).
    void CloseCommLink(bool release);

    int ReadByte();          // callers check BytesWaiting first
    int PeekByte();          // -1 when nothing waits
    QByteArray Peek(int n);  // up to n waiting bytes, left waiting
    int BytesWaiting();
    void WriteBytes(const QByteArray& bytes);

    // Bytes read since the link object was made.
    quint64 readCount() const { return m_readCount; }

    SerialComm* serialCommLink() const { return m_tcp; }
    SerialPortLink* serialPort() const { return m_serial; }

signals:
    void dataArrived();      // the onComm of either link
    void portOpenChanged(bool open);
    // The link came back by itself (a reconnect), not through OpenCommLink.
    void linkRestored();

private:
    void ensureTcp();
    void onUp();
    void onDown();
    QPointer<SerialComm> m_tcp;
    SerialPortLink* m_serial;
    bool m_opening = false;
    quint64 m_readCount = 0;
};
