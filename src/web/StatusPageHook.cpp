#include "web/StatusPageHook.h"

#include "web/HTMLIncludes.h"
#include "web/chrome/Headers.h"

#include "host/HostGlobals.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

namespace {
StatusPageBuilder &builder()
{
    static StatusPageBuilder b;
    return b;
}
} // namespace

void SetStatusPageBuilder(StatusPageBuilder b)
{
    builder() = std::move(b);
}

QString EmptyStatusPage(Request &request, Response &response)
{
    Headers::RunPageSetup(request, response);
    const HeaderParameters parameters{QStringLiteral("Korvane Status"), QString(), gBackground, QString(), gStyleSheet};
    if (!Headers::CheckAccess(parameters))
        return QString();
    return CustomHeader(parameters) + QStringLiteral("\r\n</body></html>");
}

QString StatusPage(Request &request, Response &response)
{
    try {
        if (builder())
            return builder()(request, response);
        return EmptyStatusPage(request, response);
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("StatusPage: "));
        return QString();
    }
}
