#pragma once
#include "automation/Dispatch.h"
#include "LinkOutage.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// TCP client to a serial-device server, offering the serial port's calling
// sequence (PortOpen, InputData, Output, InBufferCount...). While the link is
// wanted and down it retries every reconnect period, one attempt at a time.
// An outage (the link lost, or no connection that lasts) has one log entry,
// whatever fails first; it ends only with a connection that stays up about a
// minute (for the controller's link, with the controller answering on it), so
// a server that keeps each connection a few seconds and drops it is one
// outage, not one entry per connection.
// At most kMaxBuffered received bytes wait unread; beyond that the socket is
// not read, so a flooding server is held back by TCP itself.
// Scripts create it by name and drive it through the same members; its
// callback object's onComm is called on received data.
class SerialComm : public QObject, public DispatchObject<SerialComm>
{
    Q_OBJECT
public:
    static constexpr int kMaxBuffered = 4096;

    explicit SerialComm(QObject* parent = nullptr);
    ~SerialComm() override;
    static void describe(DispatchTable<SerialComm>& t);

    // The members scripts reach by name.
    void RegisterCallback(const ObjectPtr& o) { m_callback = o; }
    void oWinsock_Connect() { m_connectTimer.stop(); }
    void oWinsock_Close();
    Variant InputDataVariant();
    void OutputVariant(const Variant& value);
    void setTimeoutLong(qint32 ms) { setTimeout(ms); }
    void setRThresholdInteger(qint16 n) { setRThreshold(n); }
    void setSThresholdInteger(qint16) {}
    void setHandshakingInteger(qint16) {}
    qint32 CommPortLong() const { return qint32(m_commPort); }
    void setCommPortLong(qint32 port) { setCommPort(port); }
    void setIPText(const QString& ip) { setIP(ip); }
    void setInputLenInteger(qint16 n) { setInputLen(n); }
    void setInputModeInteger(qint16 m) { setInputMode(m); }
    qint16 ComEventInteger() const { return qint16(ComEvent()); }
    qint16 InBufferCountInteger() const { return qint16(qMin(buffered(), 32767)); }

    void setTimeout(int ms) { m_readTimeoutMs = ms; }
    void setSettings(const QString&) {}
    void setRThreshold(int n) { m_rThreshold = n; }
    void setSThreshold(int) {}
    void setHandshaking(int) {}
    void setCommPort(long port) { m_commPort = port; }
    long CommPort() const { return m_commPort; }
    void setIP(const QString& ip) { m_ip = ip; }
    QString IP() const { return m_ip; }
    void setInputLen(int n) { m_inputLen = n; }
    void setInputMode(int m) { m_inputMode = m; }

    // True connects (waiting up to six reconnect periods); false closes without reconnecting.
    void setPortOpen(bool open);
    bool PortOpen() const { return m_portOpen; }
    // This outage (since a connection last lasted) has its entry in the log.
    bool outageLogged() const { return m_outage->logged(); }
    // The outage its failures are reported to: the controller link's shared
    // one, or (nullptr) its own.
    void setOutage(LinkOutage* outage) { m_outage = outage ? outage : &m_ownOutage; }
    void Shutdown() { m_shuttingDown = true; }

    QByteArray InputData();
    int PeekByte() const { return buffered() == 0 ? -1 : quint8(m_buffer[m_head]); }
    QByteArray Peek(int n) const { return m_buffer.mid(m_head, n); }
    void Output(const QByteArray& bytes);
    int ComEvent() const;
    int InBufferCount() const { return buffered(); }
    // Takes what the socket holds into the receive buffer (up to the bound).
    // Needed inside a wait that runs within the socket's own data signal, which
    // the socket does not raise again until that signal has returned.
    void Refill() { pull(); }

    // The errno value a socket error stands for (0 when there is none).
    static int SystemErrorNumber(QAbstractSocket::SocketError e);

signals:
    void onComm();      // bytes arrived and at least RThreshold are buffered
    void linkUp();
    void linkDown();

private:
    bool openProcedure();
    void attempt();
    void onConnectTick();
    void onConnected();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError e);
    void onReadyRead();
    void pull();
    int buffered() const { return int(m_buffer.size() - m_head); }
    QByteArray takeFront(qsizetype n);
    void clearBuffer();
    QString label() const;

    QTcpSocket m_socket;
    QTimer m_connectTimer;
    bool m_portOpen = false;
    bool m_wanted = false;       // the link should be up
    bool m_shuttingDown = false;
    bool m_inOpenWait = false;
    // An outage's first close is followed by one connect at once.
    bool m_closeLogged = false;
    LinkOutage m_ownOutage{false};
    LinkOutage* m_outage = &m_ownOutage;
    void logOutage(const QString& text);
    QTimer m_lastingTimer;       // a connection up this long ends the outage
    int m_inputLen = 0;
    int m_inputMode = 0;
    int m_rThreshold = 0;
    int m_ticks = 0;
    int m_readTimeoutMs = 1000;
    long m_commPort = 0;
    QString m_ip;
    ObjectPtr m_callback;
    QByteArray m_buffer;  // received bytes; those before m_head are read already
    qsizetype m_head = 0;
};
