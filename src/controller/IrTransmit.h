#pragma once
#include <QObject>
#include <QString>
#include <functional>

class Protocol;

// Plays stored IR codes on the controller or through an IR zone module, and
// learns new codes into a location.
class IrTransmit : public QObject
{
    Q_OBJECT
public:
    explicit IrTransmit(Protocol& protocol, QObject* parent = nullptr);

    // Key numbers are 0 to 1023; a key outside that is refused (false) and
    // logged. False too when the command ring did not take the play.
    bool PlayIR(long loc);
    bool PlayRemoteIR(int addr, int zone, long loc);
    int PlayIREx(const QString& loc);
    void PlayIRLocation(long location);
    void PlayIRZone(int address, int port, long location);
    bool LearnIRStart(long loc);
    void LearnIREnd();

    // The command ring's queue entry point, supplied by the plug-in; false when not queued.
    std::function<bool(const QString& housecode, const QString& DeviceCode, int command, long brightness,
                       int data1, int data2)> QExec;

private:
    bool keyOk(long loc, const char* who);
    Protocol& m_protocol;
};
