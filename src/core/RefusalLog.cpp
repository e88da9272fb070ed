#include "core/RefusalLog.h"

#include "core/Logging.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTimer>

namespace RefusalLog {

namespace {

// Distinct kinds tracked at once; kinds beyond it share one count, so an
// attack that varies its requests cannot grow the table either.
constexpr int kMaxKinds = 1024;
constexpr int kMaxKindsPerLabel = 32;
constexpr QChar kLabelEnd = QChar(0x1f);
const QString kOtherKinds = QStringLiteral("\x01other");
// Texts used as their own key all share one label.
const QString kTextLabel = QStringLiteral("\x02text");

struct Held
{
    QString type;
    QString text;
    QString label;
    QString budget;
    qint64 loggedAt = 0;
    int repeats = 0;
};

// The entries a budget logged in its window and the refusals it held back.
struct Budget
{
    QString type;
    QString first; // the first refusal held back
    qint64 openedAt = 0;
    int logged = 0;
    int withheld = 0;
};

struct State
{
    QHash<QString, Held> kinds;
    QHash<QString, int> perLabel; // kinds held under each label
    QHash<QString, Budget> budgets;
    int windowMs = 60000;
    QPointer<QTimer> flushTimer;
};

State &state()
{
    static State s;
    return s;
}

qint64 now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// Logs the count of what a budget held back, and opens its next window.
void closeBudget(const QString &name, Budget &b, qint64 t)
{
    if (b.withheld > 0)
        LogError(b.type, name + QStringLiteral(": ") + QString::number(b.withheld)
                             + QStringLiteral(" further refusals within a minute, not logged one by one; the first: ") + b.first);
    b.first.clear();
    b.withheld = 0;
    b.logged = 0;
    b.openedAt = t;
}

// Whether the budget may log one more entry now; its window rolls on first.
bool budgetOpen(const QString &name, qint64 t)
{
    if (name.isEmpty())
        return true;
    State &s = state();
    auto it = s.budgets.find(name);
    if (it == s.budgets.end())
        it = s.budgets.insert(name, Budget{QString(), QString(), t, 0, 0});
    if (t - it->openedAt >= s.windowMs)
        closeBudget(name, *it, t);
    return it->logged < kEntriesPerBudget;
}

// Logs an entry of the budget (none: always), or counts its refusals as held back.
void spend(const QString &budget, const QString &type, const QString &text, int refusals)
{
    if (budgetOpen(budget, now())) {
        if (!budget.isEmpty())
            ++state().budgets[budget].logged;
        LogError(type, text);
        return;
    }
    Budget &b = state().budgets[budget];
    if (b.withheld == 0) {
        b.type = type;
        b.first = text;
    }
    b.withheld += refusals;
}

void logRepeats(Held &kind)
{
    if (kind.repeats == 0)
        return;
    spend(kind.budget, kind.type,
          kind.text + QStringLiteral(" (repeated ") + QString::number(kind.repeats) + QStringLiteral(" more times)"),
          kind.repeats);
    kind.repeats = 0;
    kind.loggedAt = now();
}

void armFlush();

// Logs the counts of the kinds whose minute is over; forgets quiet kinds.
void flushDue()
{
    State &s = state();
    const qint64 t = now();
    for (auto it = s.kinds.begin(); it != s.kinds.end();) {
        if (t - it->loggedAt >= s.windowMs) {
            if (it->repeats == 0) {
                if (auto label = s.perLabel.find(it->label); label != s.perLabel.end() && --*label <= 0)
                    s.perLabel.erase(label);
                it = s.kinds.erase(it);
                continue;
            }
            logRepeats(*it);
        }
        ++it;
    }
    for (auto it = s.budgets.begin(); it != s.budgets.end(); ++it)
        if (it->withheld > 0 && t - it->openedAt >= s.windowMs)
            closeBudget(it.key(), *it, t);
    armFlush();
}

void armFlush()
{
    State &s = state();
    if (!QCoreApplication::instance())
        return;
    qint64 next = -1;
    for (const Held &kind : std::as_const(s.kinds))
        if (kind.repeats > 0 && (next < 0 || kind.loggedAt < next))
            next = kind.loggedAt;
    for (const Budget &b : std::as_const(s.budgets))
        if (b.withheld > 0 && (next < 0 || b.openedAt < next))
            next = b.openedAt;
    if (next < 0)
        return;
    if (!s.flushTimer) {
        s.flushTimer = new QTimer(QCoreApplication::instance());
        s.flushTimer->setSingleShot(true);
        QObject::connect(s.flushTimer, &QTimer::timeout, [] { flushDue(); });
    }
    if (s.flushTimer->isActive())
        return;
    s.flushTimer->start(int(qMax<qint64>(0, next + s.windowMs - now())));
}

} // namespace

void Log(const QString &type, const QString &text, const QString &key)
{
    Log(type, text, key, QString());
}

void Log(const QString &type, const QString &text, const QString &key, const QString &budget)
{
    State &s = state();
    const qsizetype end = key.indexOf(kLabelEnd);
    const QString label = type + QLatin1Char('\x01') + (key.isEmpty() ? kTextLabel : end < 0 ? key : key.left(end));
    QString id = type + QLatin1Char('\x01') + (key.isEmpty() ? text : key);
    bool labelFull = false;
    if (!s.kinds.contains(id) && s.perLabel.value(label) >= kMaxKindsPerLabel) {
        id = label + QStringLiteral("\x01other");
        labelFull = true;
    }
    if (!s.kinds.contains(id) && s.kinds.size() >= kMaxKinds)
        id = kOtherKinds;
    const qint64 t = now();
    auto it = s.kinds.find(id);
    if (it != s.kinds.end() && t - it->loggedAt < s.windowMs) {
        ++it->repeats;
        armFlush();
        return;
    }
    if (it != s.kinds.end())
        logRepeats(*it);
    if (!budgetOpen(budget, t)) {
        spend(budget, type, text, 1);
        armFlush();
        return;
    }
    if (it == s.kinds.end() && id != kOtherKinds)
        ++s.perLabel[label];
    Held &kind = s.kinds[id];
    kind.type = type;
    kind.label = label;
    kind.text = id == kOtherKinds || labelFull ? QStringLiteral("further refusals of other kinds, the first: ") + text : text;
    kind.budget = budget;
    kind.loggedAt = t;
    kind.repeats = 0;
    spend(budget, type, kind.text, 1);
}

QString Kind(const QString &label, const QString &detail)
{
    return label + kLabelEnd + detail;
}

void Flush()
{
    for (Held &kind : state().kinds)
        logRepeats(kind);
    const qint64 t = now();
    for (auto it = state().budgets.begin(); it != state().budgets.end(); ++it)
        if (it->withheld > 0)
            closeBudget(it.key(), *it, t);
}

void Reset()
{
    State &s = state();
    s.kinds.clear();
    s.perLabel.clear();
    s.budgets.clear();
    s.windowMs = 60000;
    if (s.flushTimer)
        s.flushTimer->stop();
}

void SetWindowMs(int ms)
{
    state().windowMs = ms;
}

} // namespace RefusalLog
