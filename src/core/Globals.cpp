#include "core/Globals.h"

#include "automation/VbString.h"

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
xap* gXap = nullptr;

bool IsTrue(const QString& text)
{
    if (text.toUpper() == QLatin1String("TRUE"))
        return true;
    return VbString::Val(text) == 1.0;
}
