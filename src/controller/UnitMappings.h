#pragma once
#include <QList>
#include <QString>

#include "PluginState.h"

// How controller points are tied to host devices: the interface name that
// marks the controller's devices, the variables' house code and one umap per
// I/O unit, all derived from the host's device store at every start.
namespace UnitMappings {
QString FindInterface();
// The lower of the first two distinct house codes of the variable devices; "" when none.
QString FindVarsHouseCode();
// One entry per unit, first device of a unit decides; in store order.
QList<umap> FindUnitMapEntries();
// The informational mapping text: "unit!utype!hc!invert," per entry.
QString MappingText(const QList<umap>& entries);
QString FindUnitMappings();
void ReadUnitMappings();

// The I/O units the status page lists: the mapped ones in mapping order, then
// every SIO16, SIO16I and RLY-8 among the first 16 of the controller's unit
// table that has no device yet (empty house code), in address order, so that a
// user without the configuration dialog can tick their points and have their
// devices made.
QList<umap> ListedUnits(const QList<umap>& maps, const std::array<quint8, 129>& unitTypes);

// The unit's record by house code (null when unmapped).
const umap* byHouseCode(const QString& hc);
// Device code of controller variable n (0 to 127), "" while no house code is known.
QString variableCode(int n);
} // namespace UnitMappings
