#pragma once

#include "ChromeFixture.h"

#include "bridge/PointTables.h"

#include "host/DeviceClass.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The status page over a small controller: variables V1 and V2, one SIO16
// module (house "Y", points 1 and 9 in use), X10 units A1, A2 and B16, IR
// labels for R0 and R5, one macro "Movie", and the web clock at
// 5 December 2026 15:04:05.
class StatusTest : public ChromeTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a controller device; returns it.
    DeviceClassPtr addDevice(const QString &hc, const QString &dc, const QString &location, const QString &name,
                             const QString &tag = QString(), bool event = false);
    void plugin(const QString &key, const QString &value);
    // Stored include settings and the in-memory flags together.
    void includes(bool variables, bool x10, bool io, bool ir, bool onlyUsed, bool setup = false);

    // The page for a GET of /status from loopback.
    QString page(const QByteArray &headers = QByteArray());
    // The page as the builder would write it, with the given rows in order
    // (ids of rowHtml) and the filter table text (or none).
    QString expectedPage(const QStringList &ids, const QString &filterTable = QString(),
                         const QString &options = QString());
    // One row of the small controller, in the row class `cls`.
    QString rowHtml(const QString &id, const QString &cls) const;
    // A table cell as the chrome writes it on this page.
    QString td(const QString &text, const QString &cls, const QString &span = QStringLiteral("1"),
               const QString &align = QStringLiteral("Left")) const;
    QString defaultOptions() const;

    static double ole(int y, int mo, int d, int h, int mi, int s);

    PointTableData tables;
    bool touch = false;
    // The default order of the small controller with ShowOnlyUsed on.
    const QStringList kDefaultOrder{"A1", "A2", "B16", "IR0", "IR5", "MAC0", "MAC1", "V0:01", "V1:02", "X0:81", "X8:89"};
};
