#include "core/Globals.h"

#include "automation/VbString.h"
#include "automation/Latin1Case.h"

QString gAppPath;
QString gExePath;
QString gComputerName;
QString gInterfaceName;
QString gXapInterfaceSetting = QStringLiteral("Default");
QString gXapBroadcastSetting = QStringLiteral("Default");
bool gShuttingDown = false;
bool gMainFormReady = false;
bool gHostStarted = false;
bool gXapReady = false;
bool gPluginHostRegistered = false;
volatile std::sig_atomic_t gStopSignalled = 0;
xap* gXap = nullptr;

bool IsTrue(const QString& text)
{
    if (Latin1Case::upper(text) == QLatin1String("TRUE"))
        return true;
    return VbString::Val(text) == 1.0;
}
