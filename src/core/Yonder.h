#pragma once

#include "automation/Dispatch.h"

#include <QString>

#include <memory>

// Creating a Yonder loads the main form (whose start-up runs once per process); releasing
// one ends the process through the tray menu's Exit (queued to the event loop).
class Yonder : public DispatchObject<Yonder>
{
public:
    static void describe(DispatchTable<Yonder>& t);

    Yonder();
    ~Yonder();

    QString getInterface() const;
    void setInterface(QString& name);
    void Menu(QString& sMenu);
};

extern std::shared_ptr<Yonder> gYonderObject;

// Makes the program's public classes creatable by ProgID.
void RegisterCoreClasses();

// Process start: loads the main form through a Yonder and shows the tray icon.
void Main();

// Ends the process: leaves the event loop with `code` (or keeps the code for main() when the
// loop has not started yet).
void EndProcess(int code);
bool ProcessEnded();
// Forgets an ended run, so that Main can start the program again in the same process (the
// tests that run a start and an Exit each): also lets event loops run again, which the end's
// exit request stops at once while no main loop has taken it.
void ResetProcessEnd();
int ProcessExitCode();
