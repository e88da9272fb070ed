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

// Reads what formatGeneralDate writes, also "yyyy-MM-dd HH:mm:ss", a date or
// a time alone, h:mm without seconds and 24-hour times without AM/PM.
std::optional<double> parseGeneralDate(const QString &text);

// DateSerial's arithmetic: months and days outside their range roll over.
double dateSerial(int year, int month, int day);
double timeSerial(int hours, int minutes, int seconds);

} // namespace VbDate
