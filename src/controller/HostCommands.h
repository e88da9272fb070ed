#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

class Protocol;

// Single controller commands the host and scripts call directly: variables,
// output points, parameters, the touch screen, raw frames and the reply time-out.
class HostCommands : public QObject
{
    Q_OBJECT
public:
    explicit HostCommands(Protocol& protocol, QObject* parent = nullptr);

    int SetVar(int vnum, long Data);
    void SetModulePoint(int module, int point, int value);
    long GetParameter(int unit, int pnum);
    void EnableTouch(int mode);
    int WriteScreen(int x, int y, const QString& txt, bool backlight, int font, bool Clear, bool beep);
    int xasend(const QByteArray& buf);
    bool SetTimeOut(int Timeout);

    static QByteArray SetVarFrame(int vnum, long Data);
    static QByteArray ScreenFrame(int x, int y, const QString& txt, bool backlight, int font, bool Clear,
                                  bool beep);

private:
    // True when the controller acknowledged the frame.
    bool exchange(const QByteArray& frame);
    Protocol& m_protocol;
};
