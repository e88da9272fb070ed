#pragma once
#include <QString>

// What the controller side calls outside itself: the host object, the host's
// callback object and the xAP bridge. The plug-in sets one at start-up.
class ControllerHost
{
public:
    virtual ~ControllerHost();
    // host object
    virtual void SetDeviceStatus(const QString& code, int status) = 0;
    virtual void SetDeviceValue(const QString& code, long value) = 0;
    // callback object
    virtual void X10Event(const QString& units, const QString& house, int command,
                          const QString& level, const QString& data) = 0;
    virtual void IREvent(int location) = 0;
    virtual void ValueChangeEvent(const QString& code, long value) = 0;
    // bridge
    virtual void xAPIR(long code, int zone, const QString& cls) = 0;
};

void SetControllerHost(ControllerHost* host);
ControllerHost* controllerHost();
