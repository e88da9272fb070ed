#include "WriteMirror.h"
#include "PluginHost.h"
#include "PluginState.h"
#include "UnitMappings.h"

#include "automation/VbDate.h"
#include "automation/Variant.h"
#include "host/HostHooks.h"

namespace WriteMirror {

Mark mark()
{
    return {gPlugin.VarWrites, gPlugin.IOPointSets};
}

void announceVariable(const QString& code, long value, bool changed)
{
    using PluginHost::ignoring;
    if (changed)
        ignoring([&] { PluginHost::hs("SetDeviceLastChange", {Variant(code), Variant::fromDate(VbDate::oleNow())}); });
    // The State goes with the value, as the poll stores it, so the event of the change carries both new.
    ignoring([&] {
        PluginHost::hs("SetDeviceStatusNoReport",
                       {Variant(code), Variant::fromInteger(value != 0 ? 2 : 3), Variant::fromInteger(0)});
    });
    ignoring([&] { PluginHost::callback("ValueChangeEvent", {Variant(code), Variant(int(value))}); });
}

void variableTaken(int vnum, long value, const Mark& before)
{
    if (vnum < 0 || vnum > 127)
        return;
    const size_t n = size_t(vnum);
    // A write queued or made while this one waited for its acknowledgement was
    // announced already and is what the controller holds last.
    if (gPlugin.VarWrittenAt[n] > before.vars)
        return;
    gPlugin.VarWrittenAt[n] = ++gPlugin.VarWrites;
    const QString code = UnitMappings::variableCode(vnum);
    if (code.isEmpty() || !gPlugin.VarUsed[n])
        return;
    long& cached = gPlugin.HostVarValues[n + 1];
    long current = cached;
    if (!gPlugin.VarCacheFilled) {
        try {
            current = PluginHost::DeviceValue(code);
        } catch (...) {
            PluginHost::clearPending();
            return;
        }
    }
    cached = value;
    if (current != value)
        announceVariable(code, value, true);
}

void rememberOutput(int module, int point, int level)
{
    if (module < 1 || module > 128 || point < 0 || point > 15)
        return;
    gPlugin.SetIOPointBit(2 * module - 2 + (point >= 8 ? 1 : 0), point % 8, level != 0);
}

void announceOutput(const QString& code, int level)
{
    const int value = level != 0 ? 1 : 0;
    const int status = value == 1 ? 2 : 3;
    const bool statusChanged = PluginHost::DeviceStatus(code) != status;
    PluginHost::SetDeviceStatus(code, status);
    if (statusChanged || PluginHost::DeviceValue(code) != value) {
        PluginHost::SetDeviceValue(code, value);
        HostHooksInstance().sendXapBSC.call(code);
    }
}

void outputTaken(int module, int point, int level, const Mark& before)
{
    if (module < 1 || module > 128 || point < 0 || point > 15)
        return;
    if (gPlugin.IOPointSetAt[size_t((2 * module - 2 + (point >= 8 ? 1 : 0)) * 8 + point % 8)] > before.points)
        return;
    rememberOutput(module, point, level);
    if (!gPlugin.PointUsed[size_t(module)][size_t(point)])
        return;
    for (const umap& m : gPlugin.UnitMaps) {
        if (m.unit != module || m.hc.isEmpty())
            continue;
        // Only outputs are written: the relays of an RLY-8, the upper half of an SIO16.
        const bool output = (m.utype == 13 && point < 8) || (m.utype == 11 && point >= 8);
        if (output)
            PluginHost::ignoring([&] { announceOutput(m.hc + QString::number(point + 1), level); });
        return;
    }
}

} // namespace WriteMirror
