#pragma once

#include "automation/Dispatch.h"

#include <QString>

#include <optional>

class Application;

// The host's members for scripts that read the bridge's tagged records
// (Request, TagList, LastChange, Sequence), set points by tag (Response),
// keep global variables (SaveVar, GetVar, Derivative, ControlTemperature),
// tell day from night and send TCP text.
void describeTaggedMembers(DispatchTable<Application> &t);

// The record the user script runs for: the bridge sets it before every run;
// Nothing for a periodic run and before the first one.
extern ObjectPtr gCurrentScriptRecord;

// The "Sunrise" and "Sunset" texts of the last received "Time.Today"
// message; empty until one arrives.
extern QString gSunriseText;
extern QString gSunsetText;

// Minutes after midnight of a stored time text; nothing when it is no time.
std::optional<double> TimeTextMinutes(const QString &text);
