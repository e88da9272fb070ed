#include "bridge/HostAccess.h"

#include "host/HostGlobals.h"

#include "automation/VbDate.h"
#include "automation/VbError.h"

namespace HostAccess {

Application &Host()
{
    if (!hs)
        throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
    return *hs;
}

DeviceClassPtr DeviceOfCode(const QString &code)
{
    QString c = code;
    qint16 ref = Host().DeviceExists(c);
    if (ref < 0)
        return nullptr;
    return Host().GetDevice(ref);
}

bool UpdateStatus(const QString &code, int status)
{
    if (Host().deviceStatus(code) == status)
        return false;
    TouchLastChange(code);
    QString c = code;
    qint16 s = qint16(status);
    qint16 report = 0;
    Host().SetDeviceStatusNoReport(c, s, report);
    return true;
}

void TouchLastChange(const QString &code)
{
    QString c = code;
    Variant now = Variant::fromDate(VbDate::oleNow());
    Host().SetDeviceLastChange(c, now);
}

} // namespace HostAccess
