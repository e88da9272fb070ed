#pragma once

#include <QString>

// Local sunrise and sunset by the NOAA solar calculation (after Meeus):
// angles in degrees unless named radians, times in minutes, latitude positive
// to the north and longitude positive to the WEST.
namespace SunriseSunset {

double RadToDeg(double angleRad);
double DegToRad(double angleDeg);
double ArcSin(double x);
double ArcCos(double x);

// Julian day at 0 h UT.
double CalcJD(int year, int month, int day);
double CalcTimeJulianCent(double jd);
double CalcJDFromJulianCent(double t);

double CalcGeomMeanLongSun(double t);
double CalcGeomMeanAnomalySun(double t);
double CalcEccentricityEarthOrbit(double t);
double CalcSunEqOfCenter(double t);
double CalcSunTrueLong(double t);
double CalcSunApparentLong(double t);
double CalcMeanObliquityOfEcliptic(double t);
double CaclObliquityCorrrection(double t);
double CalcSunDeclination(double t);
double CalcEquationOfTime(double t);

// Hour angle in radians of the sun's centre 0.833 degrees below the horizon.
// Where the sun does not rise or set that day the cosine is held to -1..1
// (logged): a polar night gives 0, a polar day pi.
double CalcHourAngleSunrise(double lat, double solarDec);
double CalcHourAngleSunset(double lat, double solarDec);

// Minutes after 0 h UT, after a second pass at the first estimate.
double CalcSunriseUTC(double jd, double latitude, double longitude);
double CalcSunsetUTC(double jd, double latitude, double longitude);

// Local minutes after midnight, brought into 0 to 1440.
double SunriseMinutes(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst);
double SunsetMinutes(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst);

// The same as a time of day (a Date value, fraction of a day).
double SunriseDay(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst);
double SunsetDay(double latitude, double longitude, int year, int month, int day, int timeZone, bool dst);

// Whether the sun stays above the horizon all that day (midnight sun).
bool SunUpAllDay(double latitude, double longitude, int year, int month, int day);

// "h:nn AMPM": 6:05 AM, 12:30 PM.
QString FormatTimeOfDay(double date);

} // namespace SunriseSunset
