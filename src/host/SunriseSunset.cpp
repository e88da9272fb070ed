#include "host/SunriseSunset.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"
#include "automation/VbString.h"

#include <algorithm>
#include <cmath>

namespace SunriseSunset {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kMinutesPerDay = 1440.0;

double rawHourAngleCosine(double lat, double solarDec)
{
    const double latRad = DegToRad(lat);
    const double sdRad = DegToRad(solarDec);
    return std::cos(DegToRad(90.833)) / (std::cos(latRad) * std::cos(sdRad)) - std::tan(latRad) * std::tan(sdRad);
}

// The hour angle's cosine; outside -1..1 the sun stays up or down all day.
double hourAngleCosine(const char *label, double lat, double solarDec)
{
    const double c = rawHourAngleCosine(lat, solarDec);
    if (c >= -1.0 && c <= 1.0)
        return c;
    PendingError::set(VbError(VbErr::InvalidProcedureCall));
    LogTrapped(kProgramName,
               QString::fromLatin1(label) + QStringLiteral(" Lat=") + VbString::formatDouble(lat)
                   + QStringLiteral(",SolarDec=") + VbString::formatDouble(solarDec),
               QString::fromLatin1(label));
    return std::clamp(c, -1.0, 1.0);
}

double wrapMinutes(double minutes)
{
    double m = std::fmod(minutes, kMinutesPerDay);
    if (m < 0)
        m += kMinutesPerDay;
    return m;
}

double clampLatitude(double latitude)
{
    return std::clamp(latitude, -89.8, 89.8);
}

// One pass: the UTC minutes of the event for the time t (Julian centuries).
double eventUTC(double t, double latitude, double longitude, bool sunrise)
{
    const double eqTime = CalcEquationOfTime(t);
    const double solarDec = CalcSunDeclination(t);
    const double hourAngle =
        sunrise ? CalcHourAngleSunrise(latitude, solarDec) : CalcHourAngleSunset(latitude, solarDec);
    const double delta = longitude - RadToDeg(hourAngle);
    return 720 + 4 * delta - eqTime;
}

double calcEventUTC(double jd, double latitude, double longitude, bool sunrise)
{
    const double t = CalcTimeJulianCent(jd);
    const double first = eventUTC(t, latitude, longitude, sunrise);
    const double t2 = CalcTimeJulianCent(CalcJDFromJulianCent(t) + first / kMinutesPerDay);
    return eventUTC(t2, latitude, longitude, sunrise);
}

double localMinutes(bool sunrise, double latitude, double longitude, int year, int month, int day, int timeZone,
                    bool dst)
{
    const double jd = CalcJD(year, month, day);
    const double lat = clampLatitude(latitude);
    double minutes = sunrise ? CalcSunriseUTC(jd, lat, longitude) : CalcSunsetUTC(jd, lat, longitude);
    minutes += 60.0 * timeZone;
    if (dst)
        minutes += 60.0;
    return wrapMinutes(minutes);
}

} // namespace

double RadToDeg(double angleRad)
{
    return 180.0 * angleRad / kPi;
}

double DegToRad(double angleDeg)
{
    return kPi * angleDeg / 180.0;
}

double ArcSin(double x)
{
    return std::asin(std::clamp(x, -1.0, 1.0));
}

double ArcCos(double x)
{
    return std::acos(std::clamp(x, -1.0, 1.0));
}

double CalcJD(int year, int month, int day)
{
    if (month <= 2) {
        year -= 1;
        month += 12;
    }
    const double a = std::floor(year / 100.0);
    const double b = 2 - a + std::floor(a / 4);
    return std::floor(365.25 * (year + 4716)) + std::floor(30.6001 * (month + 1)) + day + b - 1524.5;
}

double CalcTimeJulianCent(double jd)
{
    return (jd - 2451545.0) / 36525.0;
}

double CalcJDFromJulianCent(double t)
{
    return t * 36525.0 + 2451545.0;
}

double CalcGeomMeanLongSun(double t)
{
    // A remainder, not a loop: a far-off time (from a huge longitude) must not take forever.
    double l0 = 280.46646 + t * (36000.76983 + 0.0003032 * t);
    if (l0 > 360.0 || l0 < 0.0)
        l0 = std::fmod(l0, 360.0);
    if (l0 < 0.0)
        l0 += 360.0;
    return l0;
}

double CalcGeomMeanAnomalySun(double t)
{
    return 357.52911 + t * (35999.05029 - 0.0001537 * t);
}

double CalcEccentricityEarthOrbit(double t)
{
    return 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
}

double CalcSunEqOfCenter(double t)
{
    const double m = DegToRad(CalcGeomMeanAnomalySun(t));
    return std::sin(m) * (1.914602 - t * (0.004817 + 0.000014 * t)) + std::sin(2 * m) * (0.019993 - 0.000101 * t)
        + std::sin(3 * m) * 0.000289;
}

double CalcSunTrueLong(double t)
{
    return CalcGeomMeanLongSun(t) + CalcSunEqOfCenter(t);
}

double CalcSunApparentLong(double t)
{
    const double omega = 125.04 - 1934.136 * t;
    return CalcSunTrueLong(t) - 0.00569 - 0.00478 * std::sin(DegToRad(omega));
}

double CalcMeanObliquityOfEcliptic(double t)
{
    const double seconds = 21.448 - t * (46.815 + t * (0.00059 - t * 0.001813));
    return 23.0 + (26.0 + seconds / 60.0) / 60.0;
}

double CaclObliquityCorrrection(double t)
{
    const double omega = 125.04 - 1934.136 * t;
    return CalcMeanObliquityOfEcliptic(t) + 0.00256 * std::cos(DegToRad(omega));
}

double CalcSunDeclination(double t)
{
    const double e = CaclObliquityCorrrection(t);
    const double lambda = CalcSunApparentLong(t);
    return RadToDeg(ArcSin(std::sin(DegToRad(e)) * std::sin(DegToRad(lambda))));
}

double CalcEquationOfTime(double t)
{
    const double epsilon = CaclObliquityCorrrection(t);
    const double l0 = DegToRad(CalcGeomMeanLongSun(t));
    const double e = CalcEccentricityEarthOrbit(t);
    const double m = DegToRad(CalcGeomMeanAnomalySun(t));
    double y = std::tan(DegToRad(epsilon) / 2.0);
    y *= y;
    const double etime = y * std::sin(2.0 * l0) - 2.0 * e * std::sin(m) + 4.0 * e * y * std::sin(m) * std::cos(2.0 * l0)
        - 0.5 * y * y * std::sin(4.0 * l0) - 1.25 * e * e * std::sin(2.0 * m);
    return RadToDeg(etime) * 4.0;
}

double CalcHourAngleSunrise(double lat, double solarDec)
{
    return std::acos(hourAngleCosine("CalcHourAngleSunrise", lat, solarDec));
}

double CalcHourAngleSunset(double lat, double solarDec)
{
    return -std::acos(hourAngleCosine("CalcHourAngleSunset", lat, solarDec));
}

double CalcSunriseUTC(double jd, double latitude, double longitude)
{
    return calcEventUTC(jd, latitude, longitude, true);
}

double CalcSunsetUTC(double jd, double latitude, double longitude)
{
    return calcEventUTC(jd, latitude, longitude, false);
}

double SunriseMinutes(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst)
{
    return localMinutes(true, latitude, longitude, year, month, day, timeZone, dst);
}

double SunsetMinutes(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst)
{
    return localMinutes(false, latitude, longitude, year, month, day, timeZone, dst);
}

double SunriseDay(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst)
{
    return SunriseMinutes(latitude, longitude, year, month, day, timeZone, dst) / kMinutesPerDay;
}

double SunsetDay(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst)
{
    return SunsetMinutes(latitude, longitude, year, month, day, timeZone, dst) / kMinutesPerDay;
}

bool SunUpAllDay(double latitude, double longitude, int year, int month, int day)
{
    // The sun's declination at local noon of that day.
    const double t = CalcTimeJulianCent(CalcJD(year, month, day) + 0.5 + longitude / 360.0);
    return rawHourAngleCosine(clampLatitude(latitude), CalcSunDeclination(t)) < -1.0;
}

QString FormatTimeOfDay(double date)
{
    // A date's time shows to the second it rounds to; the minutes are then cut, not rounded.
    double fraction = std::fabs(date - std::trunc(date));
    qint64 seconds = qint64(std::llround(fraction * 86400.0)) % 86400;
    const int hour = int(seconds / 3600);
    const int minute = int((seconds / 60) % 60);
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    return QString::number(hour12) + QLatin1Char(':') + QStringLiteral("%1").arg(minute, 2, 10, QLatin1Char('0'))
        + (hour < 12 ? QStringLiteral(" AM") : QStringLiteral(" PM"));
}

} // namespace SunriseSunset
