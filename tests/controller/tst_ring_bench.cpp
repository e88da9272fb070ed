// Command ring throughput, run by hand on a release build:
//   controller_tests --gtest_also_run_disabled_tests --gtest_filter='RingBench.*'
// The ring is kept full of variable writes against a controller paced like a
// 9600-baud line; each command is 8 bytes out and 3 back, so the line itself
// allows 9600 / 10 / 11 = 87.3 exchanges a second.
#include "PluginTestSupport.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using RingBench = PluginFixture;

TEST_F(RingBench, DISABLED_CommandsPerSecondAtSaturationAgainstAPacedLine)
{
    startPlugin();
    sim->paced = true;
    gPlugin.ReplyTimeout = 4;
    constexpr int kCommands = 500;
    constexpr double kCeiling = 9600.0 / 10 / 11;
    QList<double> rates;
    for (int run = 0; run < 5; ++run) {
        int queued = 0;
        QList<qint64> at;
        QElapsedTimer clock;
        clock.start();
        auto queue = [&] {
            form().loop.QExec("", QString::number(queued % 100), 19, queued & 0x7FFF, 0, 0);
            ++queued;
        };
        // Every command that reaches the controller makes room for one more.
        auto c = QObject::connect(sim.get(), &QuillonSim::frameReceived, sim.get(), [&](const QByteArray& f) {
            if (quint8(f[0]) != 0xC8)
                return;
            at << clock.elapsed();
            if (queued < kCommands)
                queue();
        });
        gPlugin.TimerRunning = true; // fill the ring before the loop starts on it
        for (int i = 0; i < 50; ++i)
            queue();
        gPlugin.TimerRunning = false;
        form().loop.Timer3_Timer();
        ASSERT_TRUE(waitFor([&] { return at.size() >= kCommands && gPlugin.Ring.isEmpty(); }, 60000));
        QObject::disconnect(c);
        const double rate = (at.size() - 1) * 1000.0 / double(at.last() - at.first());
        rates << rate;
        std::printf("run %d: %lld commands, %.1f commands/s, %.0f%% of the line's %.1f\n", run, qlonglong(at.size()),
                    rate, 100 * rate / kCeiling, kCeiling);
        waitFor([] { return false; }, 300);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("median %.1f commands/s, %.0f%% of the line's %.1f\n", rates[rates.size() / 2],
                100 * rates[rates.size() / 2] / kCeiling, kCeiling);
}
