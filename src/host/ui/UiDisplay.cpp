#include "UiDisplay.h"

#include <QApplication>
#include <QGuiApplication>

namespace {
bool sOffscreenAllowed = false;
}

bool UiDisplay::available()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("minimal"))
        return false;
    return platform != QLatin1String("offscreen") || sOffscreenAllowed;
}

void UiDisplay::allowOffscreen(bool allow)
{
    sOffscreenAllowed = allow;
}
