#pragma once
#include <QString>

// Until the core library lands these are provided by whoever links us.
void LogError(const QString& type, const QString& data);
extern QString gAppPath;

// Appends one line to Data/quillon.log when comms logging is on.
void WriteCommsLog(const QString& text);
