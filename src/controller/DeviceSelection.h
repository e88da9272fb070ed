#pragma once
#include <QList>
#include <array>

// The configuration dialog's device matrices without the widgets: one box per
// controller variable (Check1), 16 point boxes per I/O unit row (IOPoint) and
// one invert box per row (aInvert). A row is an I/O unit of the controller
// (SIO16, SIO16I, RELAY08) in address order; IR zone units get none.
struct DeviceSelection
{
    std::array<int, 128> Check1{};
    std::array<int, 256> IOPoint{};
    std::array<int, 16> aInvert{};
    QList<int> rows;   // controller unit number of each row

    // The rows of the controller's unit table, every box clear.
    static DeviceSelection forController();
    // As the dialog loads: boxes ticked for points whose host devices exist,
    // invert boxes from the unit mappings.
    static DeviceSelection fromHost();

    int rowOf(int unit) const { return int(rows.indexOf(unit)); }
    void setVariable(int n, bool ticked);
    void setPoint(int unit, int point, bool ticked);
    void setInvert(int unit, bool inverted);
};
