// Benchmarks of the command road, run by hand:
//   e2e_tst_bridge_bench --gtest_also_run_disabled_tests
// Latency: from an "xAPBSC.cmd" datagram leaving here to its frame reaching the
// simulator, less the program's fixed 50 ms receive delay. Throughput: the
// highest command rate at which every command still reaches the controller.
#include "BridgeRig.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray frameFor(int level)
{
    return QByteArray::fromHex("c82904") + char(level & 0xFF) + char(level >> 8);
}

class BridgeBench : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.start());
        QObject::connect(&rig.sim, &QuillonSim::frameReceived, [this](const QByteArray &bytes) {
            if (bytes.startsWith(QByteArray::fromHex("c82904")))
                frames.append({bytes.left(5), rig.elapsedMs()});
        });
    }
    void command(int level)
    {
        rig.send(rig.message("xAPBSC.cmd", rig.source + ":>",
                             {{"output.state.1", {"ID=05", "State=on", "Level=" + QString::number(level)}}}));
    }
    qint64 frameTime(int level) const
    {
        const QByteArray want = frameFor(level);
        for (const auto &[bytes, at] : frames) {
            if (bytes == want)
                return at;
        }
        return -1;
    }

    BridgeRig rig;
    QList<QPair<QByteArray, qint64>> frames;
};

TEST_F(BridgeBench, DISABLED_CommandToFrameLatency)
{
    QList<qint64> latencies;
    for (int i = 1; i <= 300; ++i) {
        const qint64 sentAt = rig.elapsedMs();
        command(i);
        ASSERT_TRUE(waitUntil([&] { return frameTime(i) >= 0; }, 10000)) << i;
        latencies.append(frameTime(i) - sentAt - 50);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("latency over %lld commands, less 50 ms: median %lld ms, 95%% %lld ms, worst %lld ms\n",
                qlonglong(latencies.size()), latencies.at(latencies.size() / 2),
                latencies.at(latencies.size() * 95 / 100), latencies.last());
}

TEST_F(BridgeBench, DISABLED_SustainedCommandRate)
{
    int level = 1000;
    for (int rate : {20, 50, 100, 200, 400, 800, 1600}) {
        frames.clear();
        const int count = std::max(100, rate * 2);
        QElapsedTimer pace;
        pace.start();
        for (int i = 0; i < count; ++i) {
            while (pace.elapsed() < qint64(i) * 1000 / rate)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            command(level++);
        }
        waitUntil([&] { return frames.size() >= count; }, 5000 + count * 20);
        const qsizetype lost = count - frames.size();
        std::printf("%4d commands/s: %d sent, %lld reached the controller, %lld dropped\n", rate, count,
                    qlonglong(frames.size()), qlonglong(lost));
        if (lost > 0)
            break;
    }
}

} // namespace
