// The date and time functions. Dates are OLE day numbers; text forms follow
// the program's one general date form (US order, 12-hour clock).
#include "Builtins.h"

#include "Operators.h"
#include "VbDate.h"
#include "VbError.h"

#include "automation/Latin1Case.h"

#include <QDateTime>
#include <cmath>

namespace {

using Args = std::vector<Variant>;

const char *kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char *kMonths[] = {"January", "February", "March", "April", "May", "June",
                         "July", "August", "September", "October", "November", "December"};

double dateOf(const Variant &v)
{
    Variant x = Operators::operand(v);
    if (x.isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    return x.toDate();
}

struct Parts {
    QDate date;
    int hour = 0, minute = 0, second = 0;
    qint64 days = 0;   // whole days from the epoch
    qint64 seconds = 0; // seconds since midnight
};

Parts partsOf(double ole)
{
    double whole = std::trunc(ole);
    double frac = std::fabs(ole - whole);
    Parts p;
    p.days = qint64(whole);
    p.seconds = qint64(std::llround(frac * 86400.0));
    if (p.seconds >= 86400) {
        p.seconds -= 86400;
        p.days += ole < 0 ? -1 : 1;
    }
    p.date = QDate(1899, 12, 30).addDays(p.days);
    p.hour = int(p.seconds / 3600);
    p.minute = int(p.seconds / 60 % 60);
    p.second = int(p.seconds % 60);
    return p;
}

double compose(qint64 days, qint64 seconds)
{
    double frac = double(seconds) / 86400.0;
    return days < 0 ? double(days) - frac : double(days) + frac;
}

Variant checkedDate(double ole)
{
    if (!(ole >= -657434.0 && ole < 2958466.0))
        throw VbError(VbErr::InvalidProcedureCall);
    return Variant::fromDate(ole);
}

// 1 (Sunday) to 7, as VBScript counts with Sunday first.
int vbWeekday(const QDate &d)
{
    return d.dayOfWeek() % 7 + 1;
}

int firstDay(const Args &a, size_t i)
{
    if (Builtins::missing(a, i))
        return 1;
    int fd = Operators::operand(a[i]).toLong();
    if (fd < 0 || fd > 7)
        throw VbError(VbErr::InvalidProcedureCall);
    return fd == 0 ? 1 : fd;
}

// 0-based position of a date in its week starting on firstDay.
int weekIndex(const QDate &d, int fd)
{
    return (vbWeekday(d) - fd + 7) % 7;
}

int weekOfYear(const QDate &d, int fd, int firstWeek)
{
    auto week1Start = [&](int year) {
        QDate jan1(year, 1, 1);
        int wd = weekIndex(jan1, fd);
        if (firstWeek == 2)
            return wd <= 3 ? jan1.addDays(-wd) : jan1.addDays(7 - wd);
        if (firstWeek == 3)
            return wd == 0 ? jan1 : jan1.addDays(7 - wd);
        return jan1.addDays(-wd);
    };
    QDate start = week1Start(d.year());
    if (d < start)
        start = week1Start(d.year() - 1);
    return int(start.daysTo(d) / 7) + 1;
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalOf(const Variant &v)
{
    QString s = Latin1Case::lower(Operators::operand(v).toString());
    if (s == QLatin1String("yyyy")) return Interval::Year;
    if (s == QLatin1String("q")) return Interval::Quarter;
    if (s == QLatin1String("m")) return Interval::Month;
    if (s == QLatin1String("y")) return Interval::DayOfYear;
    if (s == QLatin1String("d")) return Interval::Day;
    if (s == QLatin1String("w")) return Interval::Weekday;
    if (s == QLatin1String("ww")) return Interval::Week;
    if (s == QLatin1String("h")) return Interval::Hour;
    if (s == QLatin1String("n")) return Interval::Minute;
    if (s == QLatin1String("s")) return Interval::Second;
    throw VbError(VbErr::InvalidProcedureCall);
}

Variant fnNow(Interpreter &, Frame &, Args &)
{
    Parts p = partsOf(VbDate::oleNow());
    return Variant::fromDate(compose(p.days, p.seconds));
}

Variant fnDate(Interpreter &, Frame &, Args &)
{
    return Variant::fromDate(std::floor(VbDate::oleNow()));
}

Variant fnTime(Interpreter &, Frame &, Args &)
{
    Parts p = partsOf(VbDate::oleNow());
    return Variant::fromDate(compose(0, p.seconds));
}

Variant fnTimer(Interpreter &, Frame &, Args &)
{
    QTime t = QTime::currentTime();
    return Variant::fromSingle(float(t.msecsSinceStartOfDay() / 10) / 100.0f);
}

Variant fnDateSerial(Interpreter &, Frame &, Args &a)
{
    if (Builtins::anyNull(a, 3))
        throw VbError(VbErr::InvalidUseOfNull);
    int y = Operators::operand(a[0]).toInteger();
    int m = Operators::operand(a[1]).toInteger();
    int d = Operators::operand(a[2]).toInteger();
    return checkedDate(VbDate::dateSerial(y, m, d));
}

Variant fnTimeSerial(Interpreter &, Frame &, Args &a)
{
    if (Builtins::anyNull(a, 3))
        throw VbError(VbErr::InvalidUseOfNull);
    return checkedDate(VbDate::timeSerial(Operators::operand(a[0]).toInteger(), Operators::operand(a[1]).toInteger(),
                                          Operators::operand(a[2]).toInteger()));
}

Variant fnDateValue(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    return Variant::fromDate(double(partsOf(dateOf(a[0])).days));
}

Variant fnTimeValue(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    return Variant::fromDate(compose(0, partsOf(dateOf(a[0])).seconds));
}

template<int Which>
Variant part(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    Parts p = partsOf(dateOf(a[0]));
    int v = 0;
    switch (Which) {
    case 0: v = p.date.year(); break;
    case 1: v = p.date.month(); break;
    case 2: v = p.date.day(); break;
    case 3: v = p.hour; break;
    case 4: v = p.minute; break;
    case 5: v = p.second; break;
    }
    return Variant::fromInteger(qint16(v));
}

Variant fnWeekday(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        return Variant::null();
    int fd = firstDay(a, 1);
    return Variant::fromInteger(qint16(weekIndex(partsOf(dateOf(a[0])).date, fd) + 1));
}

Variant fnWeekdayName(Interpreter &, Frame &, Args &a)
{
    int n = Operators::operand(a[0]).toLong();
    if (n < 1 || n > 7)
        throw VbError(VbErr::InvalidProcedureCall);
    bool abbreviate = !Builtins::missing(a, 1) && Operators::operand(a[1]).toBool();
    int fd = firstDay(a, 2);
    QString name = QString::fromLatin1(kDays[(n - 1 + fd - 1) % 7]);
    return Variant(abbreviate ? name.left(3) : name);
}

Variant fnMonthName(Interpreter &, Frame &, Args &a)
{
    int n = Operators::operand(a[0]).toLong();
    if (n < 1 || n > 12)
        throw VbError(VbErr::InvalidProcedureCall);
    bool abbreviate = !Builtins::missing(a, 1) && Operators::operand(a[1]).toBool();
    QString name = QString::fromLatin1(kMonths[n - 1]);
    return Variant(abbreviate ? name.left(3) : name);
}

QDate addMonths(const QDate &d, qint64 months)
{
    qint64 index = qint64(d.year()) * 12 + (d.month() - 1) + months;
    int year = int(std::floor(double(index) / 12.0));
    int month = int(index - qint64(year) * 12) + 1;
    if (year < 100 || year > 9999)
        throw VbError(VbErr::InvalidProcedureCall);
    QDate first(year, month, 1);
    return QDate(year, month, std::min(d.day(), first.daysInMonth()));
}

Variant fnDateAdd(Interpreter &, Frame &, Args &a)
{
    Interval iv = intervalOf(a[0]);
    if (a[2].isNull())
        return Variant::null();
    if (a[1].isNull())
        throw VbError(VbErr::InvalidUseOfNull);
    // The count of intervals is a whole number, rounded as CLng rounds.
    qint64 n = Operators::operand(a[1]).toLong();
    Parts p = partsOf(dateOf(a[2]));
    qint64 days = p.days, secs = p.seconds;
    switch (iv) {
    case Interval::Year:
    case Interval::Quarter:
    case Interval::Month: {
        qint64 months = iv == Interval::Year ? n * 12 : iv == Interval::Quarter ? n * 3 : n;
        QDate d = addMonths(p.date, months);
        days = QDate(1899, 12, 30).daysTo(d);
        break;
    }
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday:
        days += n;
        break;
    case Interval::Week:
        days += n * 7;
        break;
    case Interval::Hour:
    case Interval::Minute:
    case Interval::Second: {
        qint64 unit = iv == Interval::Hour ? 3600 : iv == Interval::Minute ? 60 : 1;
        qint64 total = days * 86400 + (days < 0 ? -secs : secs) + n * unit;
        // Back to days and a forward time of day.
        qint64 d = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
        qint64 s = total - d * 86400;
        days = d;
        secs = s;
        if (days < 0 && secs) {
            days += 1;
            secs = 86400 - secs;
        }
        break;
    }
    }
    return checkedDate(compose(days, secs));
}

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

Variant fnDateDiff(Interpreter &, Frame &, Args &a)
{
    Interval iv = intervalOf(a[0]);
    if (a[1].isNull() || a[2].isNull())
        return Variant::null();
    Parts p1 = partsOf(dateOf(a[1])), p2 = partsOf(dateOf(a[2]));
    int fd = firstDay(a, 3);
    auto abs = [](const Parts &p) { return p.days * 86400 + (p.days < 0 ? -p.seconds : p.seconds); };
    qint64 r = 0;
    switch (iv) {
    case Interval::Year: r = p2.date.year() - p1.date.year(); break;
    case Interval::Quarter:
        r = (p2.date.year() * 4 + (p2.date.month() - 1) / 3) - (p1.date.year() * 4 + (p1.date.month() - 1) / 3);
        break;
    case Interval::Month: r = (p2.date.year() * 12 + p2.date.month()) - (p1.date.year() * 12 + p1.date.month()); break;
    case Interval::DayOfYear:
    case Interval::Day: r = p2.days - p1.days; break;
    case Interval::Weekday: r = (p2.days - p1.days) / 7; break;
    case Interval::Week: {
        qint64 s1 = p1.days - weekIndex(p1.date, fd), s2 = p2.days - weekIndex(p2.date, fd);
        r = (s2 - s1) / 7;
        break;
    }
    case Interval::Hour: r = floorDiv(abs(p2), 3600) - floorDiv(abs(p1), 3600); break;
    case Interval::Minute: r = floorDiv(abs(p2), 60) - floorDiv(abs(p1), 60); break;
    case Interval::Second: r = abs(p2) - abs(p1); break;
    }
    if (r < -2147483648LL || r > 2147483647LL)
        throw VbError(VbErr::Overflow);
    return Variant::fromLong(qint32(r));
}

Variant fnDatePart(Interpreter &, Frame &, Args &a)
{
    Interval iv = intervalOf(a[0]);
    if (a[1].isNull())
        return Variant::null();
    Parts p = partsOf(dateOf(a[1]));
    int fd = firstDay(a, 2);
    int firstWeek = Builtins::missing(a, 3) ? 1 : Operators::operand(a[3]).toLong();
    if (firstWeek == 0)
        firstWeek = 1;
    if (firstWeek < 1 || firstWeek > 3)
        throw VbError(VbErr::InvalidProcedureCall);
    int v = 0;
    switch (iv) {
    case Interval::Year: v = p.date.year(); break;
    case Interval::Quarter: v = (p.date.month() - 1) / 3 + 1; break;
    case Interval::Month: v = p.date.month(); break;
    case Interval::DayOfYear: v = p.date.dayOfYear(); break;
    case Interval::Day: v = p.date.day(); break;
    case Interval::Weekday: v = weekIndex(p.date, fd) + 1; break;
    case Interval::Week: v = weekOfYear(p.date, fd, firstWeek); break;
    case Interval::Hour: v = p.hour; break;
    case Interval::Minute: v = p.minute; break;
    case Interval::Second: v = p.second; break;
    }
    return Variant::fromInteger(qint16(v));
}

QString twelveHour(const Parts &p, bool seconds)
{
    int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    QString t = QStringLiteral("%1:%2").arg(h12).arg(p.minute, 2, 10, QLatin1Char('0'));
    if (seconds)
        t += QStringLiteral(":%1").arg(p.second, 2, 10, QLatin1Char('0'));
    return t + (p.hour < 12 ? QStringLiteral(" AM") : QStringLiteral(" PM"));
}

Variant fnFormatDateTime(Interpreter &, Frame &, Args &a)
{
    if (a[0].isNull())
        throw VbError(VbErr::TypeMismatch);
    double ole = dateOf(a[0]);
    int format = Builtins::missing(a, 1) ? 0 : Operators::operand(a[1]).toLong();
    Parts p = partsOf(ole);
    switch (format) {
    case 0:
        return Variant(VbDate::formatGeneralDate(ole));
    case 1:
        return Variant(QStringLiteral("%1, %2 %3, %4")
                           .arg(QString::fromLatin1(kDays[vbWeekday(p.date) - 1]),
                                QString::fromLatin1(kMonths[p.date.month() - 1]))
                           .arg(p.date.day())
                           .arg(p.date.year()));
    case 2:
        return Variant(QStringLiteral("%1/%2/%3").arg(p.date.month()).arg(p.date.day()).arg(p.date.year()));
    case 3:
        return Variant(twelveHour(p, true));
    case 4:
        return Variant(QStringLiteral("%1:%2").arg(p.hour, 2, 10, QLatin1Char('0')).arg(p.minute, 2, 10, QLatin1Char('0')));
    default:
        throw VbError(VbErr::InvalidProcedureCall);
    }
}

Variant fnIsDate(Interpreter &, Frame &, Args &a)
{
    Variant v = a[0].isObject() ? Variant() : a[0];
    if (v.type() == Variant::Date)
        return Variant(true);
    if (v.isString())
        return Variant(VbDate::parseGeneralDate(v.rawString()).has_value());
    return Variant(false);
}

} // namespace

void Builtins::addDates(BuiltinTable &t)
{
    auto add = [&](const char *name, Builtin::Fn fn, int minArgs, int maxArgs) {
        t.insert(QString::fromLatin1(name), Builtin{fn, minArgs, maxArgs, {}});
    };
    add("now", fnNow, 0, 0);
    add("date", fnDate, 0, 0);
    add("time", fnTime, 0, 0);
    add("timer", fnTimer, 0, 0);
    add("dateserial", fnDateSerial, 3, 3);
    add("timeserial", fnTimeSerial, 3, 3);
    add("datevalue", fnDateValue, 1, 1);
    add("timevalue", fnTimeValue, 1, 1);
    add("year", part<0>, 1, 1);
    add("month", part<1>, 1, 1);
    add("day", part<2>, 1, 1);
    add("hour", part<3>, 1, 1);
    add("minute", part<4>, 1, 1);
    add("second", part<5>, 1, 1);
    add("weekday", fnWeekday, 1, 2);
    add("weekdayname", fnWeekdayName, 1, 3);
    add("monthname", fnMonthName, 1, 2);
    add("dateadd", fnDateAdd, 3, 3);
    add("datediff", fnDateDiff, 3, 5);
    add("datepart", fnDatePart, 2, 4);
    add("formatdatetime", fnFormatDateTime, 1, 2);
    add("isdate", fnIsDate, 1, 1);
}
