#pragma once

#include "bridge/PointTables.h"

// The plug-in's own tables, read live.
class PluginPointTables : public PointTables
{
public:
    int VarsHouseCode() const override;
    int VarUsed(int i) const override;
    int X10Used(int index) const override;
    int PointUsed(int unit, int point) const override;
    const QList<umap> &UnitMaps() const override;
    int QueuedCommands() const override;
    quint64 X10CommandsSent() const override;
    quint64 X10CommandsEnded() const override;
    QString PointName(const QString &key) const override;
    std::optional<QString> LearnedIR(const QString &key) const override;
    QVector<int> IRZoneModules() const override;
    std::array<quint8, 129> UnitTypes() const override;
};
