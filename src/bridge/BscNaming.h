#pragma once

#include <QString>

class PointTables;

// How controller points are named and numbered as xAP BSC endpoints.
namespace BscNaming {

// The program's own UID; endpoints replace its last two digits.
inline const QString kOwnUid = QStringLiteral("FF.00C7:00");
// The interface name of the controller's host devices.
inline const QString kInterfaceName = QStringLiteral("Veltro Quillon");

// Two upper-case hex digits; numbers above 255 are written "FF".
QString ToHex(int n);
// The value of one or two hex characters; -1 for any other length and for a
// character that is neither a digit nor a letter (letters past "F" count on).
int FromHexPair(const QString &text);
// The endpoint UID with the given two hex digits.
QString BscUid(const QString &hex);

// The system-map name of a host device code: "V" & i for variable i, the X10
// code itself, "X" & k for I/O point k; empty when the point is not in use.
QString DefinedDevice(const QString &code, const PointTables &tables);
// The endpoint name of an upper-case system-map name.
QString EncodeDevice(const QString &name, const PointTables &tables);
// Location and name joined by "_", with blanks, "=" and ":" made safe for an address.
QString LocationPart(const QString &location, const QString &name);
// "SIO16IR", "SIO16", "SIO16I", "RELAY08" or "SIO".
QString ModuleTypeName(int utype);
// The sub-UID number of a system-map name: i + 1 for a variable, k + 129 for an
// I/O point, 0 for anything else (X10 units, which decode to no point).
int SubUidNumber(const QString &mapName);
// The hex digits of an endpoint's UID after the ":". Variables and I/O points
// carry two digits of their sub-UID number; an X10 unit carries four, "01" and
// two digits of (house - "A") x 16 + unit - 1, so every unit is told apart by
// its UID, none reads as the program itself ("00"), and the two-digit decoder
// of commands never takes one for a variable or I/O point.
QString SubUidHex(const QString &mapName);
// Whether a house character is one of the two variable banks.
bool IsVariableHouse(const QString &house, const PointTables &tables);

} // namespace BscNaming
