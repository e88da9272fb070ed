#pragma once

#include "VbError.h"

// The "pending error" of VB's trap-and-log model: an error handler records the
// error it caught, LogError reads and clears it. One per process, as the
// program has one thread.
namespace PendingError {
// Records the exception being handled (call only inside a catch block).
// A std::exception that is not a VbError becomes error 51 "Internal error"
// with its text; anything else becomes 51 with no further text.
void capture();
void set(const VbError &error);
bool isPending();
const VbError &current();
void clear();
} // namespace PendingError
