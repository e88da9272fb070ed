#pragma once

#include <QString>

#include <csignal>

class xap;

// Process-wide state shared by the start-up, the transport and the later subsystems.
// Everything runs on the one GUI thread, so plain variables are enough.

extern QString gAppPath;        // program folder, no trailing separator
extern QString gExePath;        // the program file's path
extern QString gComputerName;   // host name up to its first "."
extern QString gInterfaceName;  // last name given through Yonder.interface

extern QString gXapInterfaceSetting;  // [Interface] InterfaceAddress, "Default" when missing
extern QString gXapBroadcastSetting;  // [Interface] BroadcastAddress, "Default" when missing

extern volatile std::sig_atomic_t gStopSignalled;  // a stop signal arrived; Exit follows from the event loop
extern bool gShuttingDown;   // Exit has begun: the endpoint drops every datagram
extern bool gMainFormReady;  // the main form's start-up completed
extern bool gHostStarted;    // the main form's start-up has begun (never cleared)
extern bool gXapReady;       // the endpoint has a port: SendXap stops queueing
extern bool gPluginHostRegistered;  // the plug-in registered with the host callback object

extern xap* gXap;  // the loaded xAP endpoint, null before start-up and after unload

// True for "true" in any letter case and for texts whose leading number is 1.
bool IsTrue(const QString& text);

// The program's name: xAP log type, log-file name and ProgID prefix.
inline const QString kProgramName = QStringLiteral("xaptvkKorvane");
