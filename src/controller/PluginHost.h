#pragma once
#include <QString>
#include <vector>

#include "ControllerHost.h"
#include "automation/Variant.h"

// The plug-in reaches the host object and the host's callback object only by
// member name, as any plug-in would. Calls raise VbError 91 while the object
// is missing, and whatever the member raises.
namespace PluginHost {
Variant hs(const QString& member, std::vector<Variant> args = {});
Variant callback(const QString& member, std::vector<Variant> args = {});
bool hasHost();

// A property of a late-bound object (a host device).
Variant get(const ObjectPtr& object, const QString& property);
void let(const ObjectPtr& object, const QString& property, const Variant& value);

// Convenience over hs.
int DeviceExists(const QString& code);
ObjectPtr GetDevice(int index);
int DeviceCount();
int DeviceValue(const QString& code);
int DeviceStatus(const QString& code);
void SetDeviceStatus(const QString& code, int status);
void SetDeviceValue(const QString& code, int value);
void DeleteDeviceCode(const QString& code);

// Runs one statement; an error it raises is dropped (a procedure that ignores
// errors statement by statement).
template <class F>
void ignoring(F&& statement);

// Runs a procedure body; an error is logged through LogError under the
// program's name with `label`, and the procedure ends there.
template <class F>
bool trapped(const QString& label, F&& body);

void clearPending();
void logTrapped(const QString& label);
} // namespace PluginHost

// What the protocol layer hands out, delivered to the host and the callback
// object by member name.
class LateBoundControllerHost : public ControllerHost
{
public:
    void SetDeviceStatus(const QString& code, int status) override;
    void SetDeviceValue(const QString& code, long value) override;
    void X10Event(const QString& units, const QString& house, int command, const QString& level,
                  const QString& data) override;
    void IREvent(int location) override;
    void ValueChangeEvent(const QString& code, long value) override;
    void xAPIR(long code, int zone, const QString& cls) override;
};

template <class F>
void PluginHost::ignoring(F&& statement)
{
    try {
        statement();
    } catch (...) {
    }
    clearPending();
}

template <class F>
bool PluginHost::trapped(const QString& label, F&& body)
{
    try {
        body();
        return true;
    } catch (...) {
        logTrapped(label);
        return false;
    }
}
