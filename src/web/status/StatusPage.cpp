#include "web/status/StatusPage.h"

#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPageHook.h"
#include "web/PageWait.h"
#include "web/WebClock.h"
#include "web/chrome/Headers.h"
#include "web/status/ReceiveFragments.h"
#include "web/status/StatusScreen.h"

#include "controller/PluginHooks.h"

#include "host/Application.h"
#include "host/HostGlobals.h"

#include "core/FastString.h"
#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"

#include <QLocale>

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<FastString> sPageBuffer;
QString sSortKey;
QString sSortDirection;
double sTodayMark = 0;
double sYesterdayMark = -1;

QString statusSetting(const QString &key, const QString &def)
{
    if (!hs)
        return def;
    return hs->getIniSetting(QStringLiteral("tspi_quillon"), key, def, QStringLiteral("tvkXapKorvane.ini"))
        .remove(QLatin1Char('"'));
}

} // namespace

StatusPageParts &StatusPagePartsInstance()
{
    static StatusPageParts parts;
    return parts;
}

void registerStatusPage()
{
    SetStatusPageBuilder([](Request &request, Response &response) { return BuildStatusPage(request, response); });
    PluginHooksInstance().loadDisplaySettings = [] { LoadDisplaySettings(); };
}

QString BuildStatusPage(Request &request, Response &response)
{
    try {
        Headers::RunPageSetup(request, response);
        // The gate runs before a posted form can change anything.
        if (!Headers::CheckAccess(StatusHeaderParameters()))
            return QString();
        return Status_ASP();
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("StatusPage: "));
        return QString();
    }
}

QString Status_ASP()
{
    try {
        const Request *request = Headers::PageRequest();
        if (request && !request->Form(QStringLiteral("clientinput")).isEmpty()) {
            if (StatusPagePartsInstance().ClientRequest)
                StatusPagePartsInstance().ClientRequest();
            // A refused post has had its 403: the page would not be sent.
            if (const Response *response = Headers::PageResponse(); response && response->answered())
                return QString();
            // A row button's page is built once the controller has had its poll.
            if (PageWait::Requested())
                return QString();
            // Exit ran while the form waited for the controller: nothing left to show.
            if (gShuttingDown)
                return QString();
        }
        sPageBuffer = std::make_unique<FastString>();
        sSortDirection = statusSetting(QStringLiteral("StatusSortDirection"), QString());
        sSortKey = statusSetting(QStringLiteral("StatusSortKey"), QStringLiteral("DCSort"));
        SetDayMarks();
        FormatScreen();
        const QString text = sPageBuffer->Value();
        sPageBuffer.reset();
        return text;
    } catch (...) {
        sPageBuffer.reset();
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("Status_ASP: "));
        return QString();
    }
}

FastString *PageBuffer()
{
    return sPageBuffer.get();
}

QString &StatusSortKey()
{
    return sSortKey;
}

QString &StatusSortDirection()
{
    return sSortDirection;
}

void SetDayMarks()
{
    sTodayMark = VbDate::fromDate(WebClock::now().date());
    sYesterdayMark = sTodayMark - 1;
}

QString TimeOfDayText(double oleDate)
{
    return QLocale::c().toString(VbDate::toDateTime(oleDate).time(), QStringLiteral("h:mm:ss AP"));
}

QString FormatChangeDate(double d)
{
    if (d >= sTodayMark)
        return QStringLiteral("Today ") + TimeOfDayText(d);
    if (d >= sYesterdayMark)
        return QStringLiteral("Yesterday ") + TimeOfDayText(d);
    return VbDate::formatGeneralDate(d);
}

int CommandCode(const QString &s)
{
    if (s == QLatin1String("ON"))
        return 2;
    if (s == QLatin1String("OFF"))
        return 3;
    return 4;
}

QString BoolToFlag(bool b)
{
    return b ? QStringLiteral("1") : QStringLiteral("0");
}

QString CheckedText(bool b)
{
    return b ? QStringLiteral(" checked ") : QStringLiteral(" ");
}
