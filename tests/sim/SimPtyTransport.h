#pragma once
#include "SimTransport.h"

#include <QSocketNotifier>
#include <QTimer>
#include <memory>

// The controller end of a pseudo-terminal pair; the program opens slavePath() as its serial port.
class SimPtyTransport : public SimTransport
{
    Q_OBJECT
public:
    explicit SimPtyTransport(QObject* parent = nullptr);
    ~SimPtyTransport() override;
    bool open();
    // Closes the controller end, as a serial adapter pulled out of its socket:
    // the program's side of the line fails.
    void close();
    QString slavePath() const { return m_slavePath; }
    void write(const QByteArray& bytes) override;
    void disconnectClient() override {}
    bool isConnected() const override { return m_master >= 0; }
    qint64 pendingBytes() const override;

private:
    void onReadable();
    void flushPending();
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_slavePath;
    QByteArray m_pending;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_retry;
};
