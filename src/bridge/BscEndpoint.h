#pragma once

#include "host/DeviceClass.h"

#include "automation/Latin1Case.h"

#include <QString>

#include <optional>

class PointTables;
class TargetPattern;

// What one host device shows as an xAP BSC endpoint; derived afresh for
// every event, query and command.
struct BscEndpoint
{
    QString code;         // UCase(hc) & DC
    QString mapName;      // "V4", "A5", "X35"
    QString locationPart; // location & "_" & name, made address-safe
    QString endpointName; // EncodeDevice of the map name
    QString section;      // "output.state" or "input.state"
    QString kind;         // "Index", "Relay" or "Switch"
    int number = 0;       // sub-UID number

    bool isIndex() const { return kind == QLatin1String("Index"); }
    QString uid() const;
    // Sub-address of events: the device's own case and the capitalised kind.
    QString eventSubAddress() const;
    // The three parts of info replies and matching, lower-cased.
    QString infoLocation() const { return Latin1Case::lower(locationPart); }
    QString infoName() const { return Latin1Case::lower(endpointName); }
    QString infoKind() const { return Latin1Case::lower(kind); }
    QString infoSubAddress() const;
    bool matches(const TargetPattern &pattern) const;

    // The endpoint of a host device under the code it is addressed by; nothing
    // when the code names no point in use. The interface is not tested here.
    static std::optional<BscEndpoint> derive(const DeviceClass &device, const QString &code,
                                             const PointTables &tables);
    // The endpoint of a host device of the controller (interface tested),
    // under UCase(hc) & DC.
    static std::optional<BscEndpoint> ofDevice(const DeviceClass &device, const PointTables &tables);
};
