#pragma once
#include <QByteArray>
#include <QObject>
#include <memory>
#include <vector>

#include "LinkOutage.h"
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

    // Lets events run for ms milliseconds; nothing is waited for once the
    // program is exiting.
    static void Delay(int ms);

    // Bytes read since the link object was made.
    quint64 readCount() const { return m_readCount; }

    SerialComm* serialCommLink() const { return m_tcp.get(); }
    // The link's outage: every failure of the link or of the controller's
    // answers is reported to it, and every answer.
    LinkOutage& outage() { return m_outage; }
    bool outageLogged() const { return m_outage.logged(); }
    // Whether the link went down at or after the given time (msecsSinceReference
    // of a QElapsedTimer): nothing asked for before then will be answered.
    bool downSince(qint64 sinceMs) const { return m_downAtMs >= 0 && m_downAtMs >= sinceMs; }
    SerialPortLink* serialPort() const { return m_serial; }

signals:
    void dataArrived();      // the onComm of either link
    void portOpenChanged(bool open);
    // The link came back by itself (a reconnect), not through OpenCommLink.
    void linkRestored();

private:
    // Takes the host's serial-server link object (made when there is none) as the TCP path.
    void ensureTcp();
    void release(const std::shared_ptr<SerialComm>& tcp);
    void onUp();
    void onDown();
    std::shared_ptr<SerialComm> m_tcp;
    // Link objects let go of. A connect wait of one may still be on the stack
    // below whatever let it go: they go with this object.
    std::vector<std::shared_ptr<SerialComm>> m_released;
    SerialPortLink* m_serial;
    bool m_opening = false;
    LinkOutage m_outage;
    qint64 m_downAtMs = -1;
    quint64 m_readCount = 0;
};
