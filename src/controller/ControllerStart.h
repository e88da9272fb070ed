#pragma once
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class CommLink;
class Protocol;

// Brings the controller link up, learns what is attached, switches the
// controller's sides and sets its clock.
class ControllerStart : public QObject
{
    Q_OBJECT
public:
    ControllerStart(CommLink& link, Protocol& protocol, QObject* parent = nullptr);

    QString InitCPUQX();
    QString FindCPUQX();
    QString StartX10(const QString& port);
    QString StartIO(const QString& port);
    QString StartIR(const QString& port);
    void StartCommunications();

    void SendIOCommand(bool enable);
    void SendX10Command(bool enable);
    void SendIRCommands(bool enable);
    void SendCommand07();

    // Discovery again, with the side commands of every side started, when the
    // last one did not complete; waits for the link to be free.
    void Rediscover();
    // From the variable poll while discovery is incomplete: one look for the
    // controller now and then, and the whole discovery once it answers.
    void ProbeController();

    void SyncClock();
    void SetClock();
    static QByteArray ClockFrame(const QDateTime& now);
    QTimer& clockSyncTimer() { return m_clockSync; }

    // Supplied by the plug-in: settings, mappings, timers and IR files.
    std::function<void()> InitPlugin;
    std::function<void()> ReadIRFiles;
    std::function<void(bool)> EnablePollTimer;
    std::function<QString(const QString& key, const QString& def)> GetPluginSetting;

private:
    void rediscoverNow();
    bool recognitionOn() const;
    bool sideCommand(const QByteArray& frame, int timeoutSeconds, bool needsComms);
    CommLink& m_link;
    Protocol& m_protocol;
    QTimer m_clockSync;
    QTimer m_rediscoverRetry;
    QElapsedTimer m_lastProbe;
    bool m_rediscovering = false;
    bool m_oneStart = false;      // StartCommunications is running
    bool m_openRefused = false;   // and its link did not open
};
