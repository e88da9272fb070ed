#pragma once

#include "automation/Dispatch.h"

#include <QString>

class Application;

// The host's members for scripts that read the bridge's tagged records
// (Request, TagList, LastChange, Sequence), set points by tag (Response),
// keep global variables (SaveVar, GetVar, Derivative, ControlTemperature),
// give the kept sunrise and sunset texts and send TCP text.
void describeTaggedMembers(DispatchTable<Application> &t);

// The record the user script runs for: the bridge sets it before every run;
// Nothing for a periodic run and before the first one.
extern ObjectPtr gCurrentScriptRecord;

// Sets to Nothing every object and procedure reference of an ended script that the host
// still keeps (saved variables, tagged records, device and event lists, event callbacks,
// the utility dictionaries); returns how many.
int DropEndedScriptObjectsKept();

