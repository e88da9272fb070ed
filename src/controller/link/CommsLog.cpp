#include "CommsLog.h"
#include "LinkState.h"

#include "automation/AnsiCodePage.h"
#include "automation/VbDate.h"
#include "core/ConfigPath.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/SavedFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

void LogControllerError(const QString& type, const QString& data)
{
    if (auto& observer = ControllerLogObserver())
        observer(type, data);
    LogError(type, data);
}

std::function<void(const QString&, const QString&)>& ControllerLogObserver()
{
    static std::function<void(const QString&, const QString&)> observer;
    return observer;
}

void WriteCommsLog(const QString& text)
{
    if (linkState().LogComms != 1)
        return;
    const QString when = VbDate::formatGeneralDate(VbDate::oleNow());
    // On a full disk every line of the traffic fails: one entry for the streak, not hundreds a
    // second on the network.
    static bool failing = false;
    const bool written = SavedFiles::append(SavedFiles::Writer::CommsLog, ResolvePathNoCase(gAppPath, "Data/quillon.log"),
                                            AnsiCodePage::encode(when + " " + text + "\n"));
    if (!written && !failing)
        LogControllerError("xaptvkKorvane", "Unable to write to ocelog.log file (maybe no disk space)");
    failing = !written;
}
