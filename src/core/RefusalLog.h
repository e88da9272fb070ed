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

} // namespace RefusalLog
