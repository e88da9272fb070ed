#include "core/Hook.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/PendingError.h"

#include <QString>

#include <set>
#include <string>

void ReportUnsetHook(const char* name)
{
    // Once per hook and process: a forgotten hook is often on a road taken for every message.
    static std::set<std::string> reported;
    if (!reported.insert(name).second)
        return;
    // LogError would take the error a handler recorded for its own entry.
    const bool pending = PendingError::isPending();
    const VbError error = pending ? PendingError::current() : VbError();
    PendingError::clear();
    LogError(kProgramName, QStringLiteral("Hook not set: ") + QString::fromLatin1(name));
    if (pending)
        PendingError::set(error);
}
