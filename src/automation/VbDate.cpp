#include "VbDate.h"

#include "automation/Latin1Case.h"

#include <QRegularExpression>
#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;

// Splits an OLE date into whole days and milliseconds since midnight.
void split(double ole, qint64 &days, qint64 &ms)
{
    double whole = std::trunc(ole);
    double frac = std::fabs(ole - whole);
    days = qint64(whole);
    ms = qint64(std::llround(frac * kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += ole < 0 ? -1 : 1;
    }
}

double join(qint64 days, qint64 ms)
{
    double frac = double(ms) / kMsPerDay;
    return days < 0 ? double(days) - frac : double(days) + frac;
}
} // namespace

namespace VbDate {

double fromDate(const QDate &date)
{
    return double(kEpoch.daysTo(date));
}

double fromDateTime(const QDateTime &dateTime)
{
    return join(kEpoch.daysTo(dateTime.date()), dateTime.time().msecsSinceStartOfDay());
}

QDateTime toDateTime(double oleDate)
{
    qint64 days, ms;
    split(oleDate, days, ms);
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double oleNow()
{
    return fromDateTime(QDateTime::currentDateTime());
}

QString formatGeneralDate(double oleDate)
{
    qint64 days, ms;
    split(oleDate, days, ms);
    qint64 secs = (ms + 500) / 1000;
    if (secs >= 86400) {
        secs -= 86400;
        days += oleDate < 0 ? -1 : 1;
    }
    QString out;
    // Day 0 is no date at all: its midnight reads "12:00:00 AM", not "12/30/1899".
    if (days != 0) {
        QDate d = kEpoch.addDays(days);
        out = QStringLiteral("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year());
    }
    if (secs != 0 || days == 0) {
        int h = int(secs / 3600), m = int(secs / 60 % 60), s = int(secs % 60);
        int h12 = h % 12 == 0 ? 12 : h % 12;
        QString t = QStringLiteral("%1:%2:%3 %4")
                        .arg(h12)
                        .arg(m, 2, 10, QLatin1Char('0'))
                        .arg(s, 2, 10, QLatin1Char('0'))
                        .arg(h < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
        out = out.isEmpty() ? t : out + QLatin1Char(' ') + t;
    }
    return out;
}

double dateSerial(int year, int month, int day)
{
    if (year >= 0 && year < 30)
        year += 2000;
    else if (year >= 30 && year < 100)
        year += 1900;
    // Months roll into years first, then days roll from the month's first day.
    int m0 = month - 1;
    year += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
    m0 = ((m0 % 12) + 12) % 12;
    QDate first(year, m0 + 1, 1);
    return double(kEpoch.daysTo(first) + (day - 1));
}

double timeSerial(int hours, int minutes, int seconds)
{
    qint64 total = qint64(hours) * 3600 + qint64(minutes) * 60 + seconds;
    qint64 days = total >= 0 ? total / 86400 : -((86399 - total) / 86400);
    qint64 rest = total - days * 86400;
    if (days < 0 && rest != 0) // VB keeps the time as a forward fraction of a negative day
        return double(days + 1) - double(86400 - rest) / 86400.0;
    return join(days, rest * 1000);
}

std::optional<double> parseGeneralDate(const QString &input)
{
    const QString text = input.trimmed();
    if (text.isEmpty())
        return std::nullopt;

    static const QRegularExpression slashDate(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{1,4})(?:\\s+(.*))?$"));
    static const QRegularExpression isoDate(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})(?:[ T](.*))?$"));
    static const QRegularExpression timeRe(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?\\s*([AaPp][Mm]?)?$"));

    std::optional<double> datePart;
    QString rest = text;
    auto m = slashDate.match(text);
    int y = 0, mo = 0, d = 0;
    if (m.hasMatch()) {
        mo = m.captured(1).toInt();
        d = m.captured(2).toInt();
        y = m.captured(3).toInt();
        if (m.captured(3).size() <= 2)
            y += y < 30 ? 2000 : 1900;
        rest = m.captured(4);
    } else if ((m = isoDate.match(text)).hasMatch()) {
        y = m.captured(1).toInt();
        mo = m.captured(2).toInt();
        d = m.captured(3).toInt();
        rest = m.captured(4);
    }
    if (m.hasMatch()) {
        QDate date(y, mo, d);
        if (!date.isValid())
            return std::nullopt;
        datePart = fromDate(date);
    }

    double timePart = 0;
    rest = rest.trimmed();
    if (!rest.isEmpty()) {
        auto t = timeRe.match(rest);
        if (!t.hasMatch())
            return std::nullopt;
        int h = t.captured(1).toInt(), mi = t.captured(2).toInt(), s = t.captured(3).toInt();
        const QString ap = Latin1Case::upper(t.captured(4));
        if (!ap.isEmpty()) {
            if (h < 1 || h > 12)
                return std::nullopt;
            if (ap.startsWith(QLatin1Char('A')))
                h = h == 12 ? 0 : h;
            else
                h = h == 12 ? 12 : h + 12;
        }
        if (h > 23 || mi > 59 || s > 59)
            return std::nullopt;
        timePart = double(h * 3600 + mi * 60 + s) / 86400.0;
    } else if (!datePart) {
        return std::nullopt;
    }
    double base = datePart.value_or(0);
    return base < 0 ? base - timePart : base + timePart;
}

} // namespace VbDate
