#pragma once

#include "host/Application.h"

#include <QString>

// The bridge's ways into the host object.
namespace HostAccess {

// The host object; error 91 when the host form has not made it.
Application &Host();
// The host device whose code is `code` (any case); null when there is none.
DeviceClassPtr DeviceOfCode(const QString &code);
// Stores a new status with the present time as last change; a status the host
// already keeps is left alone (and its last change too). True when stored.
bool UpdateStatus(const QString &code, int status);
// Sets the code's last change to the present time.
void TouchLastChange(const QString &code);

} // namespace HostAccess
