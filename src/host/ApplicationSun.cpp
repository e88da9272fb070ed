// Sunrise and sunset: computed for today, or taken from the texts of the last
// "Time.Today" message, and whether it is night now.

#include "host/Application.h"
#include "host/HostClock.h"
#include "host/HostGlobals.h"
#include "host/SunriseSunset.h"
#include "host/Trap.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"

#include <cmath>
#include <optional>

namespace {

// A kept text read as a date (a time of day reads as day 0); 13 when it is none.
double textAsDate(const QString &text)
{
    const std::optional<double> date = VbDate::parseGeneralDate(text.trimmed());
    if (!date)
        throw VbError(VbErr::TypeMismatch);
    return *date;
}

// Seconds after midnight of a date value's time.
qint64 secondOfDay(double date)
{
    const double fraction = std::fabs(date - std::trunc(date));
    return qint64(std::llround(fraction * 86400.0)) % 86400;
}

} // namespace

void Application::describeSun(DispatchTable<Application> &t)
{
    t.method("ComputeSunriseAndSunset", &Application::ComputeSunriseAndSunset);
    t.get("SunriseDt", &Application::SunriseDt);
    t.get("SunsetDt", &Application::SunsetDt);
    t.method("NightTime", &Application::NightTime);
}

void Application::ComputeSunriseAndSunset(double &Latitude, double &Longitude, qint16 &iGMTOffset, bool &bDST)
{
    trappedVoid(QStringLiteral("ComputeSunriseAndSunset"), [&] {
        // A position from a peer or a script may be anything; outside the globe the times
        // would be meaningless, so the stored ones stay.
        if (!std::isfinite(Latitude) || !std::isfinite(Longitude) || std::abs(Latitude) > 90.0
            || std::abs(Longitude) > 180.0)
            throw VbError(VbErr::InvalidProcedureCall, VbError::standardDescription(VbErr::InvalidProcedureCall));
        const QDate today = VbDate::toDateTime(HostClock::now()).date();
        const int zone = -iGMTOffset;
        const double sunrise =
            SunriseSunset::SunriseDay(Latitude, Longitude, today.year(), today.month(), today.day(), zone, bDST);
        const double sunset =
            SunriseSunset::SunsetDay(Latitude, Longitude, today.year(), today.month(), today.day(), zone, bDST);
        // The computed times are what Sunrise, Sunset and NightTime read
        // until a "Time.Today" message brings others. Under the midnight sun
        // rise and set fall together: the day is shown as running round the
        // clock instead, so that it does not read as a day of no length.
        if (SunriseSunset::SunUpAllDay(Latitude, Longitude, today.year(), today.month(), today.day())) {
            gSunriseText = SunriseSunset::FormatTimeOfDay(0.0);
            gSunsetText = SunriseSunset::FormatTimeOfDay(1439.0 / 1440.0);
            return;
        }
        gSunriseText = SunriseSunset::FormatTimeOfDay(sunrise);
        gSunsetText = SunriseSunset::FormatTimeOfDay(sunset);
    });
}

Variant Application::SunriseDt()
{
    return trapped<Variant>(QStringLiteral("SunriseDt"), Variant::fromDate(0),
                            [] { return Variant::fromDate(textAsDate(gSunriseText)); });
}

Variant Application::SunsetDt()
{
    return trapped<Variant>(QStringLiteral("SunsetDt"), Variant::fromDate(0),
                            [] { return Variant::fromDate(textAsDate(gSunsetText)); });
}

Variant Application::NightTime(Variant &iMinutesOffset)
{
    qint64 sunrise = 0;
    qint64 sunset = 0;
    try {
        sunrise = secondOfDay(textAsDate(gSunriseText));
        sunset = secondOfDay(textAsDate(gSunsetText));
    } catch (...) {
        LogTrapped(kProgramName,
                   QStringLiteral("NightTime: the sunrise \"") + gSunriseText + QStringLiteral("\" or sunset \"")
                       + gSunsetText + QStringLiteral("\" is not a time"),
                   QStringLiteral("NightTime"));
        PendingError::clear();
        return Variant(false);
    }
    double offsetMinutes = 0;
    try {
        offsetMinutes = iMinutesOffset.isNumber() ? iMinutesOffset.toDouble() : VbString::Val(iMinutesOffset.toText());
    } catch (...) {
        PendingError::clear();
    }
    // The day runs from sunrise to sunset, across midnight when sunset comes
    // first; the offsets lengthen or shorten it at both ends, and its start
    // wraps into the 24 hours.
    constexpr double kDay = 86400.0;
    const double now = double(secondOfDay(HostClock::now()));
    const double length = std::fmod(double(sunset - sunrise) + kDay, kDay) + 2 * offsetMinutes * 60.0;
    if (length >= kDay)
        return Variant(false); // no night left
    if (length <= 0)
        return Variant(true); // no day left
    const double start = std::fmod(std::fmod(double(sunrise) - offsetMinutes * 60.0, kDay) + kDay, kDay);
    const double end = std::fmod(start + length, kDay);
    const bool day = start < end ? (now > start && now < end) : (now > start || now < end);
    return Variant(!day);
}
