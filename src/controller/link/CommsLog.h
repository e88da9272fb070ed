#pragma once
#include <QString>
#include <functional>

// Logs through the program-wide logger; an observer, when set, sees every entry
// of the controller side too (diagnostics and tests).
void LogControllerError(const QString& type, const QString& data);
std::function<void(const QString& type, const QString& data)>& ControllerLogObserver();

// Appends one line to Data/quillon.log when comms logging is on.
void WriteCommsLog(const QString& text);
