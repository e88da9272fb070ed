#pragma once

#include "automation/MemoryBudget.h"

#include <QString>

#include <functional>

class QEventLoop;

// Stopping the program at any moment without losing anything.
//
// Exit never runs inside a wait that lets events through: asked for there (a stop signal, the
// tray menu, a released Yonder), it only sets the shutting-down flag, which ends every such
// wait at once, and runs when the outermost wait has returned and the handler that made it is
// back in the event loop. After each of these waits the handler checks the flag and returns.
//
// Once Exit has begun, only Exit's own saves reach the disk.
namespace Shutdown {

// Every wait that lets events through while a handler is in the middle of its work. A wait
// added to the program gets an entry here and a row in the whole-program table of
// tests/e2e/tst_stop_in_waits.cpp. Not in the list, because nothing runs inside them:
// CWaitNDispatch (the host's WaitSecs, which lets no event through and ends on a stop signal),
// the status page's hold until the next poll and the binary file sent in pieces (both answered
// later from the event loop, no handler waits), and ShutdownIO's own pause (Exit's own step).
// The start-up's discovery and the configuration dialog's waits for the controller are
// ControllerReply and LinkOpen waits.
enum class Wait {
    ControllerReply,   // an acknowledgement, a reply or a report from the controller
    LinkOpen,          // the serial-server link's connect wait
    LinkDelay,         // the link's settle delays
    ScriptSerialRead,  // a script's SerialComm read with its time-out
    ScriptEvents,      // a script's xap.WaitEvents
    MacroPause,        // the status page's pause between the items of an IR macro
    ToolRun,           // the report loop's wait for the controller's programming tool
    Prompt,            // a message box or a modal dialog waiting for its user
};

// Marks one wait for its whole extent. `end`, when given, ends the wait early; it is called
// when shutdown begins (an event loop's quit, a dialog's reject).
class WaitScope
{
public:
    explicit WaitScope(Wait kind, std::function<void()> end = {});
    WaitScope(Wait kind, QEventLoop& loop);
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

private:
    // What runs inside the wait (a received record, a web request) is the program's own
    // work, even when the wait is a script's.
    MemoryBudget::OwnWork m_ownWork;
    std::function<void()> m_end;
    quint64 m_id = 0;
};

// True while any handler is inside one of the waits above.
bool waiting();
// Ends every wait in progress (shutdown has begun).
void endWaits();
// Runs `action` from the event loop once no wait is in progress: at once when none is.
void whenNoWait(std::function<void()> action);

// A wait its user may give up (the configuration dialog's wait for the controller): while one
// is marked, cancelWaits() ends every wait as a stop does, until the mark is gone.
class CancellableWaits
{
public:
    CancellableWaits();
    ~CancellableWaits();
    CancellableWaits(const CancellableWaits&) = delete;
    CancellableWaits& operator=(const CancellableWaits&) = delete;
};
// Gives up the marked wait; false when none is marked.
bool cancelWaits();
// True when a wait must end now: shutdown has begun, or its user gave it up.
bool waitsEnding();

// True when a settings file or the device store may be written now: always before Exit,
// afterwards only inside Exit's own saves.
bool savesAllowed();
// Marks Exit's own saves for their extent.
class ExitSaves
{
public:
    ExitSaves();
    ~ExitSaves();
    ExitSaves(const ExitSaves&) = delete;
    ExitSaves& operator=(const ExitSaves&) = delete;
};

// The name of a wait, as the wait trace writes it.
QString name(Wait kind);

}  // namespace Shutdown
