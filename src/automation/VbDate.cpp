#include "VbDate.h"

#include "automation/Latin1Case.h"

#include <cmath>
#include <vector>

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

namespace {

struct DateToken {
    enum Kind { Number, Word, Separator } kind;
    QString text;
    int value = 0;
};

// Splits a date text into numbers, words and separators; white space only
// separates. Nothing else may appear.
bool tokenize(const QString &text, std::vector<DateToken> &tokens)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            qsizetype j = i;
            while (j < n && text.at(j) >= QLatin1Char('0') && text.at(j) <= QLatin1Char('9'))
                ++j;
            if (j - i > 4)
                return false;
            tokens.push_back({DateToken::Number, text.mid(i, j - i), text.mid(i, j - i).toInt()});
            i = j;
        } else if (c.isLetter() && c.unicode() < 128) {
            qsizetype j = i;
            while (j < n && text.at(j).isLetter() && text.at(j).unicode() < 128)
                ++j;
            tokens.push_back({DateToken::Word, Latin1Case::lower(text.mid(i, j - i)), 0});
            i = j;
        } else if (c == QLatin1Char('/') || c == QLatin1Char('-') || c == QLatin1Char(',') || c == QLatin1Char(':')
                   || c == QLatin1Char('.')) {
            tokens.push_back({DateToken::Separator, QString(c), 0});
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int monthOf(const QString &word)
{
    static const char *names[] = {"january", "february", "march", "april", "may", "june", "july",
                                  "august", "september", "october", "november", "december"};
    for (int m = 0; m < 12; ++m) {
        const QLatin1String name(names[m]);
        if (word == name || (word.size() == 3 && name.startsWith(word)))
            return m + 1;
    }
    return word == QLatin1String("sept") ? 9 : 0;
}

bool isWeekday(const QString &word)
{
    static const char *names[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    for (const char *name : names) {
        const QLatin1String full(name);
        if (word == full || (word.size() == 3 && full.startsWith(word)))
            return true;
    }
    return false;
}

// 'a'/'am' gives 1, 'p'/'pm' 2, anything else 0.
int meridiem(const QString &word)
{
    if (word == QLatin1String("am") || word == QLatin1String("a"))
        return 1;
    if (word == QLatin1String("pm") || word == QLatin1String("p"))
        return 2;
    return 0;
}

// Two-digit years: 00-29 are 2000-2029, 30-99 are 1930-1999.
int fullYear(const DateToken &t)
{
    if (t.text.size() <= 2)
        return t.value < 30 ? 2000 + t.value : 1900 + t.value;
    return t.value;
}

bool isYear(const DateToken &t)
{
    return t.text.size() >= 3 || t.value > 31;
}

} // namespace

std::optional<double> parseGeneralDate(const QString &input)
{
    std::vector<DateToken> tokens;
    if (!tokenize(input, tokens) || tokens.empty())
        return std::nullopt;

    // The time: h:mm[:ss] or h alone, with AM/PM after it; the rest is the date.
    std::optional<double> timePart;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != DateToken::Number)
            continue;
        size_t j = i + 1;
        int parts[3] = {tokens[i].value, 0, 0};
        int count = 1;
        while (count < 3 && j + 1 < tokens.size() && tokens[j].kind == DateToken::Separator
               && tokens[j].text == QLatin1String(":") && tokens[j + 1].kind == DateToken::Number
               && tokens[j + 1].text.size() <= 2) {
            parts[count++] = tokens[j + 1].value;
            j += 2;
        }
        int ampm = 0;
        if (j < tokens.size() && tokens[j].kind == DateToken::Word)
            ampm = meridiem(tokens[j].text);
        if (count == 1 && !ampm)
            continue;
        if (timePart || tokens[i].text.size() > 2)
            return std::nullopt;
        int h = parts[0];
        if (ampm) {
            if (h > 12)
                return std::nullopt;
            h = h % 12 + (ampm == 2 ? 12 : 0);
            ++j;
        }
        if (h > 23 || parts[1] > 59 || parts[2] > 59)
            return std::nullopt;
        timePart = double(h * 3600 + parts[1] * 60 + parts[2]) / 86400.0;
        tokens.erase(tokens.begin() + qsizetype(i), tokens.begin() + qsizetype(j));
        // A 'T' between an ISO date and its time.
        if (i > 0 && tokens[i - 1].kind == DateToken::Word && tokens[i - 1].text == QLatin1String("t"))
            tokens.erase(tokens.begin() + qsizetype(i - 1));
        break;
    }

    // The date: numbers and at most one month name, a weekday name in front.
    std::vector<DateToken> items;
    QString separators;
    int monthAt = -1;
    for (const DateToken &t : tokens) {
        if (t.kind == DateToken::Separator) {
            if (t.text == QLatin1String(":"))
                return std::nullopt;
            if (t.text != QLatin1String(","))
                separators += t.text;
            continue;
        }
        if (t.kind == DateToken::Word) {
            if (items.empty() && monthAt < 0 && isWeekday(t.text) && monthOf(t.text) == 0)
                continue;
            const int m = monthOf(t.text);
            if (!m || monthAt >= 0)
                return std::nullopt;
            monthAt = int(items.size());
            items.push_back({DateToken::Word, t.text, m});
            continue;
        }
        items.push_back(t);
    }
    if (items.empty()) {
        if (!timePart)
            return std::nullopt;
        return *timePart;
    }

    int year = 0, month = 0, day = 0;
    const int thisYear = QDate::currentDate().year();
    if (monthAt < 0) {
        // Numbers only: M/D/Y, Y/M/D with a four-digit year first, or M/D.
        for (QChar sep : separators)
            if (sep != QLatin1Char('/') && sep != QLatin1Char('-'))
                return std::nullopt;
        if (int(separators.size()) != int(items.size()) - 1)
            return std::nullopt;
        if (items.size() == 3) {
            if (items[0].text.size() >= 3) {
                year = items[0].value;
                month = items[1].value;
                day = items[2].value;
            } else {
                month = items[0].value;
                day = items[1].value;
                year = fullYear(items[2]);
            }
        } else if (items.size() == 2) {
            month = items[0].value;
            if (isYear(items[1])) {
                year = fullYear(items[1]);
                day = 1;
            } else {
                day = items[1].value;
                year = thisYear;
            }
        } else {
            return std::nullopt;
        }
    } else {
        // With a month name: month-day-year, day-month-year, or year-month-day;
        // a missing year is this year, a missing day the first.
        for (QChar sep : separators)
            if (sep != QLatin1Char('/') && sep != QLatin1Char('-') && sep != QLatin1Char('.'))
                return std::nullopt;
        month = items[size_t(monthAt)].value;
        std::vector<DateToken> numbers;
        for (size_t k = 0; k < items.size(); ++k)
            if (int(k) != monthAt)
                numbers.push_back(items[k]);
        if (numbers.size() > 2 || numbers.empty() || monthAt > 1)
            return std::nullopt;
        if (numbers.size() == 2) {
            if (monthAt == 1 && isYear(numbers[0])) {
                year = numbers[0].value;
                day = numbers[1].value;
            } else {
                day = numbers[0].value;
                year = fullYear(numbers[1]);
            }
        } else if (isYear(numbers[0])) {
            year = fullYear(numbers[0]);
            day = 1;
        } else {
            day = numbers[0].value;
            year = thisYear;
        }
    }
    if (year < 100 || year > 9999)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    const double base = fromDate(date);
    const double t = timePart.value_or(0);
    return base < 0 ? base - t : base + t;
}

} // namespace VbDate
