#pragma once

#include <QtGlobal>

// What one string or array of a script may take. A script doubling a string in a loop
// must get a run error its caller can trap, not take the machine's memory.
namespace MemoryBudget {

constexpr qint64 kDefaultBytes = 256LL * 1024 * 1024;

qint64 bytes();
void setBytes(qint64 bytes);
// Raise 14 "Out of string space" when a string of `chars` characters would not fit.
void checkString(qint64 chars);
// Raise 7 "Out of memory" when an array of `elements` values would not fit.
void checkArray(qint64 elements);

}  // namespace MemoryBudget
