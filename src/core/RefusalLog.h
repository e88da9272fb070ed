#pragma once

#include <QString>

// Log entries for refusals (of web requests, of received messages). A peer that
// repeats a refused request thousands of times would otherwise turn each one
// into a log broadcast: the first refusal of a kind is logged at once, its
// repeats within the next minute are counted and logged as one entry with the
// count when the minute is over (and so on, once a minute, while they go on).
namespace RefusalLog {

// `key` names the kind of refusal (what two refusals must share to count as
// repeats); "" means the text itself. A key made by Kind() belongs to its
// label: one label holds a few kinds at most, and its further kinds share
// one count, so that refusals of one source, however varied, never crowd
// out the kinds of another.
void Log(const QString &type, const QString &text, const QString &key = QString());
// The same for refusals that share a budget of log entries (all of one kind
// of client's requests, whatever their kinds): at most a few entries of the
// budget are logged per window, first entries and counted repeats alike, and
// what goes beyond is counted in one entry at the window's end. `budget`
// names the budget and begins that entry.
void Log(const QString &type, const QString &text, const QString &key, const QString &budget);
// The key of a kind of refusal: the label (a fixed text of the code, the
// field or check that refused) and the detail (the fault, never the
// refused value itself).
QString Kind(const QString &label, const QString &detail);
// Logs the counted repeats now (shutdown and tests).
void Flush();
// Forgets every kind and count (tests).
void Reset();
// The length of the counting window; shortened only by tests.
void SetWindowMs(int ms);
// The entries one budget may log per window, besides its count.
inline constexpr int kEntriesPerBudget = 12;

} // namespace RefusalLog
