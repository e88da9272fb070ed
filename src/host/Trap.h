#pragma once

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

#include <QString>

// VB's trap-and-log: a failing body is logged with the program's name and
// `label` (with the error's line and text), and the caller goes on.
template<class R, class F>
R trapped(const QString &label, R fallback, F &&body)
{
    try {
        return body();
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, label);
        return fallback;
    }
}

template<class F>
void trappedVoid(const QString &label, F &&body)
{
    try {
        body();
    } catch (...) {
        PendingError::capture();
        LogTrapped(kProgramName, label);
    }
}
