#pragma once
#include <QDateTime>
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
    bool sideCommand(const QByteArray& frame, int timeoutSeconds, bool needsComms);
    CommLink& m_link;
    Protocol& m_protocol;
    QTimer m_clockSync;
};
