#pragma once

#include "bridge/BscEndpoint.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

class PointTables;
class TargetPattern;

// The controller's endpoints among the host devices, in host device order,
// derived once and again only when the device store or the point tables
// change: every query and every "*" command reads this list instead of
// walking the host's devices. The endpoints a target selects are kept too, so
// a target asked again costs no matching; matching a new target is bounded
// per burst (kMatchBudget endpoint tests a second), so a flood of distinct
// targets cannot hold the event loop.
class BscEndpoints
{
public:
    static constexpr int kMatchBudget = 100000;
    static constexpr int kBurstMs = 1000;

    static BscEndpoints &instance();

    const std::vector<BscEndpoint> &all();
    // Positions in all() of the endpoints the pattern selects; nothing when
    // the burst's matching budget is spent (the caller refuses the request).
    std::optional<std::vector<int>> matching(const TargetPattern &pattern);
    // The point code that SetBSCPoint writes for the endpoint at `position`
    // of all() (derived with the list); empty when its number names no point
    // in use (X10 units among them).
    const QString &writeCode(int position) const { return m_writeCodes[size_t(position)]; }
    // The device code a sub-UID number stands for; empty when none.
    static QString codeOfNumber(int number, const PointTables &tables);
    // Forgets the list, and the budget is kMatchBudget again (tests).
    void reset();
    // The endpoint tests allowed per burst; changed only by tests.
    void setMatchBudget(int endpointTests) { m_budget = endpointTests; }

private:
    struct Lowered
    {
        QString location;
        QString name;
        QString kind;
    };
    void forget();
    void rebuild();
    // The inputs the list was derived from.
    struct Inputs
    {
        quint64 deviceRevision = 0;
        qsizetype deviceCount = -1;
        const void *collection = nullptr;
        const void *tables = nullptr;
        size_t tablesHash = 0;
        bool operator==(const Inputs &) const = default;
    };
    Inputs current() const;

    Inputs m_inputs;
    bool m_built = false;
    std::vector<BscEndpoint> m_all;
    std::vector<Lowered> m_lowered;
    std::vector<QString> m_writeCodes;
    QHash<QString, std::vector<int>> m_selected;
    QElapsedTimer m_burst;
    qint64 m_burstWork = 0;
    int m_budget = kMatchBudget;
};
