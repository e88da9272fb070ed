#include "DeviceCreation.h"
#include "link/CommsLog.h"
#include "DeviceSelection.h"
#include "PluginHost.h"
#include "PluginSettings.h"
#include "UnitMappings.h"

#include "automation/VbString.h"
#include "automation/Latin1Case.h"
#include "core/Globals.h"
#include "core/StartupStop.h"

#include <QCursor>
#include <QGuiApplication>

namespace {
using PluginHost::get;
using PluginHost::let;

const QString kNoCodes = QStringLiteral("TSPI_Quillon ERROR. All device codes used");

// The busy cursor while devices are made, where there is a screen to show it.
struct BusyCursor
{
    bool shown = false;
    BusyCursor()
    {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            shown = true;
        }
    }
    ~BusyCursor()
    {
        if (shown)
            QGuiApplication::restoreOverrideCursor();
    }
};

int nextFreeIOCode()
{
    return PluginHost::callback("GetNextFreeIOCode").toLong();
}

bool houseCodeFree(int code)
{
    const QString hc(QChar{char16_t(code)});
    const int count = PluginHost::DeviceCount();
    for (int i = 1; i <= count; ++i)
        if (get(PluginHost::GetDevice(i), "hc").toString() == hc)
            return false;
    return true;
}

bool exists(const QString& code)
{
    return PluginHost::DeviceExists(code) > -1;
}

struct PointKind
{
    QString name;       // followed by the point number
    int nameOffset;     // subtracted from the point number in the name
    QString location;   // followed by the unit
    int iotype;
    int misc;
    QString typeString;
    int utype;
};

const PointKind kInput16{"Input ", 0, "Sio16 Unit ", 0, 16, "Interface I/O", 11};
const PointKind kOutput16{"Relay Output ", 8, "Sio16 Unit ", 1, 0, "Interface Output", 11};
const PointKind kInput16i{"Input ", 0, "Sio16i Unit ", 0, 16, "Interface I/O", 12};
const PointKind kOutputRly{"Relay Output ", 0, "Rly08 Unit ", 1, 0, "Interface Output", 13};

// The properties every device made here carries besides its name and code.
void describeDevice(const ObjectPtr& dev, const QString& location, int iotype, int misc, const QString& typeString)
{
    let(dev, "location", location);
    let(dev, "iotype", Variant::fromInteger(qint16(iotype)));
    let(dev, "Status", Variant::fromInteger(17));
    let(dev, "misc", Variant(misc));
    let(dev, "dev_type_string", typeString);
}

void markDevice(const ObjectPtr& dev, const QString& code)
{
    let(dev, "hc", code.left(1));
    let(dev, "DC", code.mid(1));
    let(dev, "interface", gPlugin.InterfaceName);
}

int createPoint(const PointKind& kind, const QString& label, const QString& code, int unit, int invert)
{
    int ref = 0;
    PluginHost::trapped(label, [&] {
        const int p = int(VbString::Val(code.mid(1)));
        const QString unitText = QString::number(unit);
        const QString iomisc = unitText + "!" + QString::number(kind.utype) + "!" + QString::number(p - 1) + "!"
            + QString::number(invert);
        ref = PluginHost::DeviceExists(code);
        if (ref > -1) {
            let(PluginHost::GetDevice(ref), "iomisc", iomisc);
            return;
        }
        ref = PluginHost::hs("NewDevice", {Variant(kind.name + QString::number(p - kind.nameOffset))}).toLong();
        ObjectPtr dev = PluginHost::GetDevice(ref);
        describeDevice(dev, kind.location + unitText, kind.iotype, kind.misc, kind.typeString);
        let(dev, "iomisc", iomisc);
        markDevice(dev, code);
    });
    return ref;
}

void markPoint(int unit, int p, bool used)
{
    if (unit >= 0 && unit < int(gPlugin.PointUsed.size()) && p >= 0 && p < 16)
        gPlugin.PointUsed[size_t(unit)][size_t(p)] = used;
}

bool isKestrel(const ObjectPtr& dev)
{
    const QString misc = Latin1Case::lower(get(dev, "iomisc").toString());
    return (misc == "kestrel" || misc == "127")
        && Latin1Case::lower(get(dev, "interface").toString()) == Latin1Case::lower(gPlugin.InterfaceName);
}
} // namespace

void DeviceCreation::DiscoverDevices()
{
    PluginHost::trapped("DiscoverDevices", [] {
        if (gPlugin.DevicesDiscovered)
            return;
        // Each look is a search of every device: with a large collection this takes seconds,
        // before the event loop could deliver a stop. A stopped pass leaves the flags undone.
        // Point and X10 flags do not depend on the variables' house code.
        for (const umap& m : gPlugin.UnitMaps) {
            if (StartupStopping())
                return;
            if (m.unit < 0 || m.unit >= int(gPlugin.PointUsed.size())) {
                LogControllerError(kProgramName, "DiscoverDevices unit " + QString::number(m.unit) + " out of range");
                continue;
            }
            gPlugin.PointUsed[size_t(m.unit)].fill(false);
            if (m.hc.isEmpty())
                continue;
            for (int p = 0; p < 16; ++p)
                gPlugin.PointUsed[size_t(m.unit)][size_t(p)] = exists(m.hc + QString::number(p + 1));
        }
        for (int h = 0; h < 16; ++h) {
            if (StartupStopping())
                return;
            for (int u = 0; u < 16; ++u)
                gPlugin.X10Used[size_t(h * 16 + u)] = exists(QString(QChar('A' + h)) + QString::number(u + 1));
        }
        if (gPlugin.VarsHouseCode == 0)
            return; // tried again at the next call
        gPlugin.DevicesDiscovered = true;
        for (int n = 0; n < 128; ++n) {
            if (StartupStopping()) {
                gPlugin.DevicesDiscovered = false;
                return;
            }
            gPlugin.VarUsed[size_t(n)] = exists(UnitMappings::variableCode(n));
        }
    });
}

void DeviceCreation::CreateVarDevices(DeviceSelection& selection)
{
    BusyCursor busy;
    PluginHost::ignoring([&] {
        const QString found = UnitMappings::FindVarsHouseCode();
        bool allocated = false;
        if (found.isEmpty()) {
            int code = nextFreeIOCode();
            if (code == -1) {
                LogControllerError(kProgramName, kNoCodes);
                return;
            }
            // The second house code is the first one's successor: it must be a
            // free punctuation character below 127.
            const int next = code + 1;
            const bool successorOk = code != 96 && next < 127 && !QChar(next).isLetter() && houseCodeFree(next);
            if (!successorOk) {
                if (code != 96)
                    LogControllerError(kProgramName, "CreateVarDevices: house code " + QString(QChar(next))
                                                         + " not usable for variables, using #");
                code = '#';
            }
            gPlugin.VarsHouseCode = code;
            PluginSettings::save("base_var", QString::number(code));
            allocated = true;
        } else {
            gPlugin.VarsHouseCode = found.at(0).unicode();
        }
        auto half = [&](int first) {
            bool any = false;
            for (int n = first; n < first + 64; ++n) {
                const QString code = UnitMappings::variableCode(n);
                if (selection.Check1[size_t(n)] == 1) {
                    PluginHost::ignoring([&] { CreateDevice(code, n); });
                    gPlugin.VarUsed[size_t(n)] = true;
                    any = true;
                } else {
                    PluginHost::ignoring([&] { RemoveDevice(code); });
                    gPlugin.VarUsed[size_t(n)] = false;
                }
            }
            if (!any) {
                const int n = first == 0 ? 0 : 127;
                PluginHost::ignoring([&] { CreateDevice(UnitMappings::variableCode(n), n); });
                gPlugin.VarUsed[size_t(n)] = true;
            }
        };
        half(0);
        if (allocated && nextFreeIOCode() == -1) {
            LogControllerError(kProgramName, kNoCodes);
            return;
        }
        half(64);
    });
}

void DeviceCreation::CreateIODevices(int unit, int k, DeviceSelection& selection)
{
    BusyCursor busy;
    PluginHost::ignoring([&] {
        if (unit < 1 || unit > 128 || k < 0 || k >= int(selection.aInvert.size()))
            return;
        const int type = gPlugin.UnitTypes[size_t(unit - 1)];
        if (type != 11 && type != 12 && type != 13)
            return;
        QString hc;
        const int count = PluginHost::DeviceCount();
        for (int i = 1; i <= count && hc.isEmpty(); ++i) {
            ObjectPtr dev = PluginHost::GetDevice(i);
            if (Latin1Case::lower(get(dev, "interface").toString()) != Latin1Case::lower(gPlugin.InterfaceName))
                continue;
            const QStringList f = get(dev, "iomisc").toString().split('!');
            if (f.size() >= 2 && int(VbString::Val(f[0])) == unit && int(VbString::Val(f[1])) == type)
                hc = get(dev, "hc").toString();
        }
        if (hc.isEmpty()) {
            const int code = nextFreeIOCode();
            if (code == -1) {
                LogControllerError(kProgramName, kNoCodes);
                return;
            }
            hc = QString(QChar{char16_t(code)});
        }
        const int invert = selection.aInvert[size_t(k)];
        auto box = [&](int p) -> int& { return selection.IOPoint[size_t(k * 16 + p)]; };
        if (type == 13)
            for (int p = 8; p < 16; ++p)
                box(p) = 0;
        auto creator = [&](int p) {
            if (type == 11)
                return p < 8 ? &CreateInput16 : &CreateOutput16;
            return type == 12 ? &CreateInput16i : &CreateOutputRly;
        };
        bool any = false;
        for (int p = 0; p < 16; ++p) {
            const QString code = hc + QString::number(p + 1);
            if (box(p) == 1) {
                PluginHost::ignoring([&] { creator(p)(code, unit, invert); });
                markPoint(unit, p, true);
                any = true;
            } else {
                PluginHost::ignoring([&] { RemoveDevice(code); });
                markPoint(unit, p, false);
            }
        }
        if (!any) {
            PluginHost::ignoring([&] { creator(0)(hc + "1", unit, invert); });
            markPoint(unit, 0, true);
        }
    });
}

int DeviceCreation::CreateDevice(const QString& code, int n)
{
    int ref = 0;
    PluginHost::trapped("CreateDevice", [&] {
        ref = PluginHost::DeviceExists(code);
        if (ref != -1)
            return;
        ref = PluginHost::hs("NewDevice", {Variant("Variable " + QString::number(n))}).toLong();
        ObjectPtr dev = PluginHost::GetDevice(ref);
        describeDevice(dev, QStringLiteral("Quillon"), 3, 0, QStringLiteral("Interface Variable"));
        markDevice(dev, code);
    });
    return ref;
}

int DeviceCreation::CreateInput16(const QString& code, int unit, int invert)
{
    return createPoint(kInput16, "CreateInput16", code, unit, invert);
}

int DeviceCreation::CreateOutput16(const QString& code, int unit, int invert)
{
    return createPoint(kOutput16, "CreateOutput16", code, unit, invert);
}

int DeviceCreation::CreateInput16i(const QString& code, int unit, int invert)
{
    return createPoint(kInput16i, "CreateInput16i", code, unit, invert);
}

int DeviceCreation::CreateOutputRly(const QString& code, int unit, int invert)
{
    return createPoint(kOutputRly, "CreateOutputRly", code, unit, invert);
}

void DeviceCreation::CreateKestrelDevice()
{
    BusyCursor busy;
    PluginHost::ignoring([] {
        const int count = PluginHost::DeviceCount();
        for (int i = 1; i <= count; ++i) {
            if (isKestrel(PluginHost::GetDevice(i))) {
                LogControllerError(kProgramName, QStringLiteral("Kestrel device is already created"));
                return;
            }
        }
        const int code = nextFreeIOCode();
        if (code == -1) {
            LogControllerError(kProgramName, kNoCodes);
            return;
        }
        gPlugin.KestrelVar = QString(QChar{char16_t(code)});
        PluginSettings::save("kestrel_var", gPlugin.KestrelVar);
        const int ref = PluginHost::hs("NewDevice", {Variant("Kestrel Screen")}).toLong();
        ObjectPtr dev = PluginHost::GetDevice(ref);
        describeDevice(dev, QStringLiteral("Kestrel"), 3, 16, QStringLiteral("Interface Variable"));
        let(dev, "iomisc", QStringLiteral("127"));
        markDevice(dev, gPlugin.KestrelVar + "1");
    });
}

void DeviceCreation::RemoveDevice(const QString& code)
{
    PluginHost::DeleteDeviceCode(code);
}

void CreateVariablesAndIO(DeviceSelection& selection, int flags)
{
    // The dialog's unit list: row 0 is the controller itself (its variables),
    // then one row per unit of the unit table in address order. A failure is
    // logged with the row reached (the row count once the walk is done).
    int listRow = 0;
    try {
        if (flags & 1)
            DeviceCreation::CreateVarDevices(selection);
        for (int u = 0; u < 128; ++u) {
            const int type = gPlugin.UnitTypes[size_t(u)];
            if (type != 6 && type != 11 && type != 12 && type != 13)
                continue;
            ++listRow;
            const int k = selection.rowOf(u + 1);
            if ((flags & 2) && type != 6 && k >= 0)
                DeviceCreation::CreateIODevices(u + 1, k, selection);
        }
        ++listRow;
        UnitMappings::ReadUnitMappings();
        if (!gPlugin.IOInitialised)
            LogControllerError(kProgramName, "To use variables and I/O inputs/outputs, make sure the Quillon is "
                                             "added as an I/O device in the Tessera options");
    } catch (...) {
        PluginHost::logTrapped("CreateVariablesAndIO List=" + QString::number(listRow));
    }
}
