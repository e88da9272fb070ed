#include "web/WebClock.h"

#include "automation/VbDate.h"

#include <QLocale>

namespace {
std::function<QDateTime()> &clockFunction()
{
    static std::function<QDateTime()> clock;
    return clock;
}
} // namespace

namespace WebClock {

QDateTime now()
{
    return clockFunction() ? clockFunction()() : QDateTime::currentDateTime();
}

void set(std::function<QDateTime()> clock)
{
    clockFunction() = std::move(clock);
}

QString mediumDate(const QDateTime &when)
{
    return QLocale::c().toString(when.date(), QStringLiteral("dd-MMM-yy"));
}

QString generalDate(const QDateTime &when)
{
    return VbDate::formatGeneralDate(VbDate::fromDateTime(when));
}

QString shortDate(const QDateTime &when)
{
    return VbDate::formatGeneralDate(VbDate::fromDate(when.date()));
}

} // namespace WebClock
