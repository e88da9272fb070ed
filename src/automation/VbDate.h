#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Dates as VB keeps them: OLE day numbers, day 0 = 30 December 1899, the
// fraction the time of day (for negative numbers the fraction still counts
// forward from midnight).
namespace VbDate {

double fromDateTime(const QDateTime &dateTime);
QDateTime toDateTime(double oleDate);
double fromDate(const QDate &date);
double oleNow();

// The one "general date" text of the program: M/d/yyyy h:mm:ss AM/PM; the
// time is left out at midnight, the date for a pure time (day 0, whose
// midnight is "12:00:00 AM"); years are not padded ("1/1/100").
QString formatGeneralDate(double oleDate);

// Reads a date and time as VBScript does in an English (United States)
// locale: M/D/Y and M-D-Y, Y/M/D with the year first, month names and their
// three-letter abbreviations in month-day-year or day-month-year order (a
// weekday name in front is passed over), M/D and "March 4" in the current
// year, two-digit years 00-29 as 2000-2029 and 30-99 as 1930-1999; a time
// h:mm[:ss] or "h AM" with or without AM/PM, before or after the date, or alone.
std::optional<double> parseGeneralDate(const QString &text);

// DateSerial's arithmetic: months and days outside their range roll over.
double dateSerial(int year, int month, int day);
double timeSerial(int hours, int minutes, int seconds);

} // namespace VbDate
