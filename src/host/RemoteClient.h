#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

// The host's outgoing TCP client for scripts (SendTCP): one connection kept
// open between calls; a call for another host or port closes it first. Text
// given before the connection is up is held and written once it is.
class RemoteClient : public QObject
{
    Q_OBJECT
public:
    // While this much is held before the connection, or waits to be written on it, a
    // further text is dropped, with one log entry per burst of dropped calls.
    static constexpr qsizetype kMaxPendingBytes = 1 << 20;

    static RemoteClient &instance();
    // Closes and releases the client (end of process, tests).
    static void release();

    void RemoteConnect(const QString &host, qint32 port);
    // True when written at once; false when held for the connection.
    bool RemoteSend(const QString &text);
    void RemoteClose();

    QString remoteHost() const { return m_host; }
    qint32 remotePort() const { return m_port; }
    QByteArray pendingText() const { return m_pending; }
    bool isConnected() const;
    // Bytes written on the connection that the peer has not taken yet.
    qint64 bytesWaiting() const;

private:
    RemoteClient();
    void onConnected();
    void drop(qsizetype bytes, const QString &why);

    QTcpSocket *m_socket = nullptr;
    QString m_host;
    qint32 m_port = 0;
    QByteArray m_pending;
    bool m_dropping = false; // a burst of dropped calls is under way; logged when it began
};
