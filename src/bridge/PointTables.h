#pragma once

#include "controller/PluginState.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <optional>

// The controller side's tables of points, as the bridge reads them: which
// variables, X10 units and I/O points exist as host devices, the unit map,
// the point labels of the project file, the learned IR codes and the SIO16IR
// units. Read only; the plug-in owns the tables.
class PointTables
{
public:
    virtual ~PointTables();

    // Character code of the house character of variables 0..63; the next code
    // is that of variables 64..127.
    virtual int VarsHouseCode() const = 0;
    // Nonzero when controller variable i (0..127) is in use.
    virtual int VarUsed(int i) const = 0;
    // Nonzero when X10 flag `index` ((house - 'A') * 16 + unit - 1, 0..255) is set.
    virtual int X10Used(int index) const = 0;
    // Nonzero when point `point` + 1 of controller module `unit` is in use.
    virtual int PointUsed(int unit, int point) const = 0;
    // One entry per controller module, in the order found.
    virtual const QList<umap> &UnitMaps() const = 0;
    // Controller commands waiting in the plug-in's command ring.
    virtual int QueuedCommands() const = 0;
    // X10 commands of the ring sent so far (a count that only grows).
    virtual quint64 X10CommandsSent() const = 0;
    // X10 commands of the ring that left it, sent or not (a count that only grows).
    virtual quint64 X10CommandsEnded() const = 0;
    // The project file's label of a point key ("R12", "V4"...); empty when none.
    virtual QString PointName(const QString &key) const = 0;
    // The controller IR location of a learned IR code name (lower case, blanks as "-").
    virtual std::optional<QString> LearnedIR(const QString &key) const = 0;
    // Addresses of the SIO16IR units in the order found.
    virtual QVector<int> IRZoneModules() const = 0;
    // The controller's unit table: the type code of unit n at n - 1 (0: none).
    virtual std::array<quint8, 129> UnitTypes() const = 0;

    // The I/O units the status page lists: UnitMaps, then the units found on
    // the controller that have no device yet (with an empty house code).
    QList<umap> ListedModules() const;

    // The unit map in controller module order (unit number, then type). The
    // plug-in finds its units in the order of the host's device store, which a
    // user may reorder; endpoint names and UIDs are counted in this order so
    // that they stay the same from one start to the next.
    QList<umap> ModulesInUnitOrder() const;
    // The house characters of ModulesInUnitOrder, each once (position -> key).
    QStringList ModuleKeys() const;
};

// Tables held as plain data: the state before the plug-in has found its
// controller, and the fixture of tests.
class PointTableData : public PointTables
{
public:
    int VarsHouseCode() const override { return varsHouseCode; }
    int VarUsed(int i) const override;
    int X10Used(int index) const override;
    int PointUsed(int unit, int point) const override;
    const QList<umap> &UnitMaps() const override { return unitMaps; }
    int QueuedCommands() const override { return queuedCommands; }
    quint64 X10CommandsSent() const override { return x10CommandsSent; }
    quint64 X10CommandsEnded() const override { return x10CommandsEnded; }
    QString PointName(const QString &key) const override;
    std::optional<QString> LearnedIR(const QString &key) const override;
    QVector<int> IRZoneModules() const override { return irZoneModules; }
    std::array<quint8, 129> UnitTypes() const override { return unitTypes; }

    // Appends a unit-map entry and returns its position.
    int addUnit(int unit, int utype, const QString &hc);

    int varsHouseCode = 'Q';
    std::array<int, 128> varUsed{};
    std::array<int, 256> x10Used{};
    std::array<std::array<int, 16>, 128> pointUsed{};
    QList<umap> unitMaps;
    QHash<QString, QString> pointNames;   // keys upper case
    QHash<QString, QString> learnedIR;    // keys as stored
    QVector<int> irZoneModules;
    std::array<quint8, 129> unitTypes{};
    int queuedCommands = 0;
    quint64 x10CommandsSent = 0;
    quint64 x10CommandsEnded = 0;
};

// The tables the bridge reads; an empty set until the plug-in provides its own.
const PointTables &Points();
// Installs the tables the bridge reads (not owned); null restores the empty set.
void SetPointTables(const PointTables *tables);
