#pragma once
#include <QObject>

#include "ControllerParts.h"
#include "ControllerStart.h"
#include "HostCommands.h"
#include "IrTransmit.h"
#include "Protocol.h"
#include "ReportLoop.h"
#include "VariablePoll.h"
#include "X10Exec.h"
#include "link/CommLink.h"
#include "automation/VbTimer.h"

// The plug-in's hidden timer form: the controller link with everything that
// talks over it, and the timers of the variable poll (Timer2) and the report
// loop (Timer3). One per process while a plug-in is alive.
class FrmTimer : public QObject
{
    Q_OBJECT
public:
    static FrmTimer* load();
    static FrmTimer* instance();
    static void unload();

    VbTimer Timer1;
    VbTimer Timer2;
    VbTimer Timer3;
    CommLink link;
    Protocol protocol{link};
    ControllerStart start{link, protocol};
    X10Exec x10{protocol};
    HostCommands cmds{protocol};
    IrTransmit ir{protocol};
    ControllerParts parts{link, protocol, start, x10, cmds, ir, Timer2, Timer3};
    VariablePoll poll{parts};
    ReportLoop loop{parts, poll};

    // Timer2 at the poll interval setting (0: it never ticks), or stopped.
    void EnablePollTimer(bool enable);
    static int pollIntervalMs();

    ~FrmTimer() override;

private:
    FrmTimer();
};
