#include "bridge/BscEndpoint.h"

#include "bridge/BscNaming.h"
#include "bridge/PointTables.h"
#include "bridge/TargetPattern.h"

#include "automation/Latin1Case.h"

using namespace BscNaming;

QString BscEndpoint::uid() const
{
    return BscUid(SubUidHex(mapName));
}

QString BscEndpoint::eventSubAddress() const
{
    return locationPart + QLatin1Char('.') + endpointName + QLatin1Char('.') + kind;
}

QString BscEndpoint::infoSubAddress() const
{
    return infoLocation() + QLatin1Char('.') + infoName() + QLatin1Char('.') + infoKind();
}

bool BscEndpoint::matches(const TargetPattern &pattern) const
{
    return pattern.matches(infoLocation(), infoName(), infoKind());
}

std::optional<BscEndpoint> BscEndpoint::derive(const DeviceClass &device, const QString &code,
                                               const PointTables &tables)
{
    BscEndpoint e;
    e.code = code;
    e.mapName = DefinedDevice(code, tables);
    if (e.mapName.isEmpty())
        return std::nullopt;
    e.locationPart = LocationPart(device.location(), device.name());
    e.endpointName = EncodeDevice(Latin1Case::upper(e.mapName), tables);
    if (IsVariableHouse(code.left(1), tables)) {
        e.section = QStringLiteral("output.state");
        e.kind = QStringLiteral("Index");
    } else if (device.iotype() == 1) {
        e.section = QStringLiteral("output.state");
        e.kind = QStringLiteral("Relay");
    } else {
        e.section = QStringLiteral("input.state");
        e.kind = QStringLiteral("Switch");
    }
    e.number = SubUidNumber(e.mapName);
    return e;
}

std::optional<BscEndpoint> BscEndpoint::ofDevice(const DeviceClass &device, const PointTables &tables)
{
    if (Latin1Case::lower(device.interfaceName()) != Latin1Case::lower(kInterfaceName))
        return std::nullopt;
    return derive(device, Latin1Case::upper(device.hc()) + device.DC(), tables);
}
