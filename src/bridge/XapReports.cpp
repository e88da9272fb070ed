#include "bridge/XapReports.h"

#include "bridge/CommAndTimer.h"
#include "bridge/HostAccess.h"
#include "bridge/PointTables.h"
#include "bridge/ReceivedNumber.h"

#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IR.h"

#include "core/Globals.h"
#include "core/Logging.h"

#include "automation/Latin1Case.h"
#include "automation/PendingError.h"
#include "automation/VbDate.h"
#include "automation/VbString.h"

#include <limits>

void SendXapX10Event(const QString &unitsArg, const QString &house, int command)
{
    try {
        const QString h = Latin1Case::upper(house);
        if (h < QLatin1String("A") || h > QLatin1String("P"))
            return;
        QString units = unitsArg;
        if (!units.isEmpty() && !VbString::IsNumeric(units.left(1)))
            units = units.mid(1);
        units.replace(QLatin1Char('+'), QLatin1Char(','));
        const int base = (h.at(0).unicode() - 'A') * 16;
        const PointTables &tables = Points();
        for (const QString &element : VbString::Split(units, QStringLiteral(","))) {
            const int unit = ReceivedCInt(element);
            if (unit <= 0)
                continue;
            // Units past 16 belong to no flag of this house.
            const bool exists = unit <= 16 && tables.X10Used(base + unit - 1) != 0;
            const QString code = house + element;
            if (!HostAccess::UpdateStatus(code, command) || !exists
                || CommAndTimer::instance().X10Requests.carrying(h, unit, command))
                continue;
            const QString event = gX10FunctionNames.value(command & 15);
            SendXap(QString(), QStringLiteral("xAP-X10.event"), QStringLiteral("xAP-X10.event"),
                    XapBody({{QStringLiteral("Device"), code}, {QStringLiteral("Event"), event}}), QString(), QString());
        }
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("X10EventNoReport House=") + house + QStringLiteral(", Devices=") + unitsArg
                                   + QStringLiteral(", command=") + QString::number(command));
    }
}

void xAPIR(qint32 code, int zone, const QString &cls)
{
    try {
        QString name = Points().PointName(QStringLiteral("R") + QString::number(code));
        if (name.isEmpty())
            name = QStringLiteral("Quillon Location") + QString::number(code);
        const qsizetype blank = name.indexOf(QLatin1Char(' '));
        const QString device = blank < 0 ? QStringLiteral("Unknown") : name.left(blank);
        const QString signal = blank < 0 ? name : name.mid(blank + 1);
        QString body;
        if (zone != 0)
            body = XapBody({{QStringLiteral("Zone"), QString::number(zone)}}) + QChar(0);
        body += XapBody({{QStringLiteral("Device"), device},
                         {QStringLiteral("Location"), QString::number(code)},
                         {QStringLiteral("Signal"), signal}});
        SendXap(QString(), cls, QStringLiteral("IR.Signal"), body, QString(), QString());

        if (!gIRSlots)
            throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
        // No Long follows the largest one: its slot number overflows.
        if (code == std::numeric_limits<qint32>::max())
            throw VbError(VbErr::Overflow);
        const ObjectPtr slot = gIRSlots->item(Variant::fromLong(code + 1)).toObject();
        if (!slot)
            throw VbError(VbErr::ObjectVariableNotSet, VbError::standardDescription(VbErr::ObjectVariableNotSet));
        slot->let(QStringLiteral("LastChange"), Variant::fromDate(VbDate::oleNow()));
    } catch (...) {
        PendingError::capture();
        LogError(kProgramName, QStringLiteral("xAPIR"));
    }
}
