#pragma once

#include <QDateTime>

#include <functional>

// The web side's one source of "now": reply dates, the logo bar's clock and
// the security log. Tests set a fixed clock to compare replies byte for byte.
namespace WebClock {

QDateTime now();
// An empty function restores the system clock.
void set(std::function<QDateTime()> clock);

// "05-Dec-26": the date of a reply's Date header.
QString mediumDate(const QDateTime &when);
// M/d/yyyy h:mm:ss AM/PM, the program's general date text (time left out at midnight).
QString generalDate(const QDateTime &when);
// M/d/yyyy alone.
QString shortDate(const QDateTime &when);

} // namespace WebClock
