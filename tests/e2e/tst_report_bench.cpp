// Report latency, run by hand:
//   e2e_tst_report_bench --gtest_also_run_disabled_tests
// The controller (paced like a 9600-baud line) sends an I/O change or an X10
// report at a random moment while the program polls every 500 ms; the time from
// the report leaving the controller to its xAP event arriving here is measured.
#include "BridgeRig.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kReports = 100;

class ReportBench : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rig.sim.paced = true;
        rig.pluginSettings = "poll_interval=500\r\n";
        ASSERT_TRUE(rig.start());
    }

    // Waits a random part of two poll periods, so reports land anywhere in the poll cycle.
    void randomPause()
    {
        const int ms = int(QRandomGenerator::global()->bounded(1000));
        waitUntil([] { return false; }, ms);
    }

    qsizetype countOf(const QString &cls, const QString &sourceEnd, const QString &key, const QString &value) const
    {
        qsizetype n = 0;
        for (const QByteArray &d : rig.of(cls)) {
            if (BridgeRig::item(d, "source").endsWith(sourceEnd, Qt::CaseInsensitive)
                && BridgeRig::item(d, key).compare(value, Qt::CaseInsensitive) == 0)
                ++n;
        }
        return n;
    }

    static void print(const char *what, QList<qint64> ms)
    {
        std::sort(ms.begin(), ms.end());
        std::printf("%s latency over %lld reports: median %lld ms, worst %lld ms\n", what, qlonglong(ms.size()),
                    ms.at(ms.size() / 2), ms.last());
    }

    BridgeRig rig;
};

TEST_F(ReportBench, DISABLED_IOChangeAndX10ReportToEvent)
{
    const QString door = QStringLiteral("Door_Contact.SIO16_X0____Pt_1.Switch");
    QList<qint64> io, x10;
    for (int i = 0; i < kReports; ++i) {
        // An input going active is ON, going idle is OFF.
        const bool on = i % 2 == 0;
        const QString state = on ? QStringLiteral("ON") : QStringLiteral("OFF");
        const qsizetype before = countOf("xapBSC.Event", door, "State", state);
        randomPause();
        const qint64 sentAt = rig.elapsedMs();
        rig.sim.sendIOChange(3, 0, on ? 0 : 1);
        ASSERT_TRUE(waitUntil([&] { return countOf("xapBSC.Event", door, "State", state) > before; }, 30000)) << i;
        io.append(rig.elapsedMs() - sentAt);

        const QString event = on ? QStringLiteral("on") : QStringLiteral("off");
        const qsizetype x10Before = rig.of("xAP-X10.event").size();
        randomPause();
        const qint64 x10SentAt = rig.elapsedMs();
        // A5 addressed, then the function.
        rig.sim.sendReport(QByteArray::fromHex(on ? "FE0004FE0012" : "FE0004FE0013"));
        ASSERT_TRUE(waitUntil([&] { return rig.of("xAP-X10.event").size() > x10Before; }, 30000)) << i;
        EXPECT_EQ(BridgeRig::item(rig.of("xAP-X10.event").last(), "Event"), event);
        x10.append(rig.elapsedMs() - x10SentAt);
    }
    print("I/O change", io);
    print("X10 report", x10);
}

} // namespace
