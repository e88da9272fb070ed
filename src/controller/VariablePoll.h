#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

#include "ControllerParts.h"

// Reads the controller's variable and I/O state blocks and mirrors changed
// variables into host devices; single analog readings.
class VariablePoll : public QObject
{
    Q_OBJECT
public:
    explicit VariablePoll(const ControllerParts& parts);

    bool PollIO();
    bool PollVars();
    void Timer2_Timer();
    int StartGetAnalog(int unit, int point);
    int GetAnalogInputValue(int unit, int point);
    int GetAnalogInput(int unit, int point);
    int GetPoint(int unit, int point, bool digital);

    long ClockSynced = 0;
    std::function<int()> currentHour; // the hour of the present time

    static QByteArray VarsRequest();

    // Timer2 at the poll interval setting (0: it never ticks), or stopped.
    void EnablePollTimer(bool enable);
    static int pollIntervalMs();

private:
    enum class Read { Timeout, CheckError, WrongBuffer, Good };
    struct Texts
    {
        QString waiting, timeout, check, wrongBuffer;
        bool io;
    };
    Read blockRead(const QByteArray& request, const Texts& texts);
    int analogValue(int unit);
    ControllerParts m_parts;
    bool m_varsRead = false; // the variables block has been read whole at least once
};
