#pragma once

#include <QString>

// Reports of what the controller saw or did: X10 events and IR codes.

// Stores the new status of each unit of an X10 event and reports the units
// that changed and exist as host devices.
void SendXapX10Event(const QString &units, const QString &house, int command);
// Broadcasts an IR code (a controller IR location) under the given class and
// marks its IR slot changed.
void xAPIR(qint32 code, int zone, const QString &cls);
