#pragma once

class CommLink;
class Protocol;
class ControllerStart;
class X10Exec;
class HostCommands;
class IrTransmit;
class VbTimer;

// The objects that talk over the link and the timers that drive the polls, as
// the poll and the report loop reach them. The timer form owns them all.
struct ControllerParts
{
    CommLink& link;
    Protocol& protocol;
    ControllerStart& start;
    X10Exec& x10;
    HostCommands& cmds;
    IrTransmit& ir;
    VbTimer& Timer2; // the variable poll
    VbTimer& Timer3; // the report loop
};
