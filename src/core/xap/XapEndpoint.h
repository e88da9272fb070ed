#pragma once

#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QString>

#include "automation/VbTimer.h"

#include <functional>

class QUdpSocket;

// The program's one xAP endpoint: the UDP sockets bound to one local port, the heartbeat
// announcing that port, broadcast sending, and the queue of received texts handed to the
// registered callback a moment after they arrive.
class xap : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kXapPort = 3639;
    static constexpr int kFirstPort = 32768;
    static constexpr int kPortTries = 200;
    // A flood cannot grow the received queue past these (by more than one datagram): beyond
    // them reading waits until half is taken, and the socket's buffer holds or drops the rest.
    static constexpr int kMaxQueuedTexts = 20000;
    static constexpr qsizetype kMaxQueuedBytes = 8 * 1024 * 1024;
    // Sections the parser finds in the largest message a peer has reason to send: a command
    // with one block for every endpoint a two-digit ID can name (255), and the empty one the
    // final "}" line opens. A message of more is refused when it arrives, before it is queued
    // or parsed.
    static constexpr int kMostBlocks = 256;
    // The sections the parser would find in a message's text, counted no further than past `most`.
    static int blockCount(const QByteArray& text, int most = kMostBlocks);
    // Datagrams read per wake-up, so that a flood leaves the event loop turning.
    static constexpr int kDatagramsPerRead = 64;

    explicit xap(QObject* parent = nullptr);
    ~xap() override;

    // High and low byte of a 16-bit value: (value div 256) and 255, value and 255.
    static int hibyte(int value);
    static int lobyte(int value);
    // The socket layer's start at load and its release at unload.
    void SocketsInitialize();
    void SocketsCleanup();

    // Called (by the receive timer) when texts are waiting; the callee drains with GetMessage.
    void RegisterNewMessageCallback(std::function<void()> callback);
    // Removes and returns the oldest received text; empty when none is waiting.
    QString GetMessage();

    bool FilterHeartbeats() const { return m_filterHeartbeats; }
    void setFilterHeartbeats(bool v) { m_filterHeartbeats = v; }
    QString XapClass() const { return m_class; }
    void setXapClass(const QString& v) { m_class = v; }
    QString BroadcastAddress() const { return m_broadcast; }
    void setBroadcastAddress(const QString& v) { m_broadcast = v; }
    QString InterfaceAddress() const { return m_interface; }
    void setInterfaceAddress(const QString& v) { m_interface = v; }
    QString XapSource() const { return m_source; }
    void setXapSource(const QString& v);
    QString XapTarget() const { return m_target; }
    void setXapTarget(const QString& v);
    QString XapUID() const { return m_uid; }
    void setXapUID(const QString& v);

    // Binds the first free port from 32768: returns it, -1 when none of the 200 was free or
    // the broadcast address (a dotted address or a host name) gives no IPv4 address, or the
    // negated socket error when the local address could not be bound.
    int Init();
    // Sends a heartbeat now and beats every 10 periods of `seconds` (clamped to 0, 5..60).
    void SendHeartbeat(int seconds);
    // Builds one single-section message and broadcasts it; throws VbError when it cannot.
    QString SendXap(const QString& target, const QString& cls, const QString& section, const QString& body,
                    const QString& subAddress, const QString& uid);

    // Matches when every bit of each of the address's 4 numbers is also set in the pattern's.
    static bool IpMatches(const QString& pattern, const QString& address);

    int localPort() const { return m_port; }
    QHostAddress remoteHost() const { return m_remoteHost; }
    QString localIp() const { return m_localIp; }
    int heartbeatIntervalMs() const { return m_hbeatTimer.isRunning() ? m_hbeatTimer.interval() : 0; }
    int queuedCount() const { return int(m_queue.size()); }
    // At a stop: the texts queued and those waiting in the sockets when it is first called
    // (bounded like the queue), in the order received; the queue is left empty. From then on
    // nothing more is read: what peers go on sending cannot lengthen the stop.
    QList<QByteArray> takeReceived();
    bool intakeClosed() const { return m_intakeClosed; }
    qsizetype queuedBytes() const { return m_queuedBytes; }
    bool readingPaused() const { return m_readingPaused; }
    qint64 datagramsRead() const { return m_datagramsRead; }

private:
    QString GetIP() const;
    QHostAddress resolveBroadcast() const;
    void rebuildHeartbeatPrefix();
    void readPending(QUdpSocket* socket);
    void scheduleRead(QUdpSocket* socket);
    bool queueFull() const;
    void ProcessReceivedMessage(const QByteArray& text);
    void sendDatagram(const QString& text);
    void onHeartbeatTick();
    void onReceiveTick();

    QUdpSocket* m_loopback = nullptr;  // Winsock1: listens on 127.0.0.1
    QUdpSocket* m_network = nullptr;   // Winsock2: listens on the local address, sends; null when that is loopback
    VbTimer m_hbeatTimer;
    VbTimer m_receiveTimer;
    QHostAddress m_remoteHost;
    QString m_broadcast = QStringLiteral("Default");
    QString m_interface = QStringLiteral("Default");
    QString m_source;
    QString m_target;
    QString m_uid;
    QString m_class;
    QString m_hbeatPrefix;
    QString m_hbeatSuffix;
    QString m_localIp;
    int m_port = 0;
    int m_tick = 0;
    bool m_beatFailed = false;  // the last heartbeat could not be sent
    qint64 m_datagramsRead = 0;
    bool m_filterHeartbeats = true;
    QQueue<QByteArray> m_queue;  // as received (Latin-1), half the size of the texts
    qsizetype m_queuedBytes = 0;
    bool m_readingPaused = false;    // the queue is full; the sockets are read again once it drains
    bool m_floodLogged = false;      // the queue filled since it was last empty; logged once
    bool m_intakeClosed = false;     // the stop took what had come: nothing more is read
    bool m_readScheduled[2] = {};    // a further read of the loopback / network socket is queued
    std::function<void()> m_callback;
};
