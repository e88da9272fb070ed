// The whole program under floods of xAP traffic: one command naming every
// endpoint a thousand times, and tens of thousands of queries. It keeps
// answering, stops on SIGTERM with its store saved, and its memory stays bounded.
#include "BridgeRig.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

namespace {

class BridgeFlood : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The sanitizer keeps freed memory for a while; a small quarantine lets
        // resident memory show what the program really holds.
        rig.programEnvironment = {{QStringLiteral("ASAN_OPTIONS"),
                                   qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":quarantine_size_mb=16")}};
        ASSERT_TRUE(rig.start()) << "the program did not come up against the simulator";
        quietMs = echoAnswerMs(QStringLiteral("quiet"), 20000);
        ASSERT_GE(quietMs, 0) << "no echo answer in the quiet";
    }

    // Sends an echo query and returns the ms until its answer that were the
    // program's own (OwnClock), -1 when none came in `timeoutMs`.
    qint64 echoAnswerMs(const QString &word, int timeoutMs)
    {
        const qsizetype before = rig.of("WDT.Echo").size();
        const OwnClock clock(*rig.program);
        rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=" + word}}}, "acme.pinger.pc"));
        if (!waitUntil([&] { return rig.of("WDT.Echo").size() > before; }, timeoutMs))
            return -1;
        return clock.ownMs();
    }

    // Stops the program and checks that it ended in time and wrote its store.
    void expectCleanStop()
    {
        const QString store = rig.folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini");
        QFile::remove(store + QStringLiteral("_bck"));
        QElapsedTimer stopping;
        stopping.start();
        EXPECT_EQ(rig.program->terminate(), 0);
        EXPECT_LT(stopping.elapsed(), 5000) << "SIGTERM took too long";
        EXPECT_TRUE(QFileInfo::exists(store + QStringLiteral("_bck"))) << "the store was not saved at exit";
        EXPECT_TRUE(QFileInfo::exists(store));
    }

    BridgeRig rig;
    qint64 quietMs = 0;
};

TEST_F(BridgeFlood, TheLargestCommandLeavesTheProgramAnswering)
{
    // One block for every endpoint a two-digit ID can name: the most a peer has reason to send.
    QList<QPair<QString, QStringList>> blocks;
    for (int n = 1; n <= 255; ++n)
        blocks.append({QStringLiteral("output.state.%1").arg(n), {"ID=*", "State=on", "Level=1/32767"}});
    const QByteArray command = rig.message("xAPBSC.cmd", rig.source + ":>", blocks);
    ASSERT_GT(command.size(), 10000);
    rig.send(command);
    // Let the command be taken up, then ask.
    waitUntil([] { return false; }, 100);
    const qint64 answer = echoAnswerMs(QStringLiteral("busy"), 60000);
    ASSERT_GE(answer, 0) << "no echo answer";
    EXPECT_LT(answer, quietMs + BridgeRig::kEchoRoomMs) << "echo answered " << answer << " ms after it was sent";

    // The command did reach the points: the relay and the variables are set.
    EXPECT_TRUE(waitUntil([&] { return rig.sim.pointLevel(3, 8) == 1 && rig.sim.vars[4] == 1 && rig.sim.vars[64] == 1; }));
    expectCleanStop();
}

TEST_F(BridgeFlood, FiftyThousandQueriesLeaveMemoryBoundedAndTheProgramAnswering)
{
    // Settle first: the start-up's own allocations are not the flood's.
    waitUntil([] { return false; }, 2000);
    const qint64 before = rig.program->residentKb();
    ASSERT_GT(before, 0);

    const QByteArray query = rig.message("xAPBSC.query", ">:>", {{"request", {}}}, "acme.flood.pc");
    constexpr int kQueries = 50000;
    // As fast as the program takes them, never so far ahead that the socket
    // drops them: the dispatch trace grows by one record per query taken.
    const qint64 traceBefore = QFileInfo(rig.folder.tracePath()).size();
    const qint64 perQuery = query.size() + QByteArray::number(query.size()).size() + 1;
    const auto taken = [&] { return (QFileInfo(rig.folder.tracePath()).size() - traceBefore) / perQuery; };
    QElapsedTimer sending;
    sending.start();
    for (int sent = 0; sent < kQueries;) {
        if (sent - taken() < 100) {
            for (int i = 0; i < 20 && sent < kQueries; ++i, ++sent)
                rig.send(query);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(500);
        ASSERT_LT(sending.elapsed(), 240000) << "the program took only " << taken() << " queries";
    }
    waitUntil([&] { return taken() >= kQueries; }, 20000);
    qsizetype dispatched = 0;
    for (const QByteArray &text : rig.folder.dispatched())
        dispatched += text.contains("class=xAPBSC.query") ? 1 : 0;
    EXPECT_GT(dispatched, kQueries * 9 / 10) << "the flood did not reach the program";

    const qint64 after = rig.program->residentKb();
    // Every reply kept (300,000 of them) grows a sanitized build by some 250 MB;
    // with only a few dozen waiting, what grows is the sanitizer's own caches
    // (about 70 MB, levelling off).
    EXPECT_LT(after - before, 128 * 1024) << "resident memory grew from " << before << " kB to " << after << " kB";

    // A query of another peer is still answered.
    const qsizetype infos = rig.of("xAPBSC.info").size();
    rig.send(rig.message("xAPBSC.query", rig.source + ":cellar_level.>", {{"request", {}}}, "acme.other.pc"));
    EXPECT_TRUE(waitUntil(
        [&] {
            const QList<QByteArray> all = rig.of("xAPBSC.info");
            for (qsizetype i = infos; i < all.size(); ++i) {
                if (BridgeRig::item(all.at(i), "source").endsWith(":cellar_level.quillon_var__v064.index"))
                    return true;
            }
            return false;
        },
        20000));
    expectCleanStop();
}

// A local sender pouring out 61 KB texts as fast as it can for ten seconds: the program
// reads them a few at a time, drops what its queue cannot hold, keeps answering, and stops
// on SIGTERM. Resident memory stays within 200 MB of where it began (the queue holds at
// most 4 M characters; the rest is the sanitizer's and the dispatcher's working memory).
TEST(ReceiveFlood, LargeTextsCannotGrowMemoryOrSilenceTheProgram)
{
    BridgeRig rig;
    rig.programEnvironment = {{QStringLiteral("ASAN_OPTIONS"),
                               qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":quarantine_size_mb=16")},
                              {QStringLiteral("KORVANE_TRACE_DISPATCH"), QString()}};
    ASSERT_TRUE(rig.start()) << "the program did not come up against the simulator";
    waitUntil([] { return false; }, 2000);
    const qint64 quietMs = rig.echo().ownMs();
    ASSERT_GE(quietMs, 0) << "no echo answer in the quiet";
    const qint64 before = rig.program->residentKb();
    ASSERT_GT(before, 0);

    QByteArray big = rig.message("acme.flood", QString(), {{"block", {"text=" + QString(61000, QLatin1Char('x'))}}},
                                 "acme.flood.pc");
    QUdpSocket flooder;
    QElapsedTimer flooding;
    flooding.start();
    qint64 highest = before;
    qint64 sent = 0;
    while (flooding.elapsed() < 10000) {
        for (int i = 0; i < 200; ++i)
            sent += flooder.writeDatagram(big, QHostAddress(QHostAddress::LocalHost), rig.port) > 0 ? 1 : 0;
        // The simulator in this process must go on answering the program.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        highest = std::max(highest, rig.program->residentKb());
    }
    const qint64 floodEnd = rig.elapsedMs();
    const OwnClock sinceFloodEnd(*rig.program);
    EXPECT_GT(sent, 1000);
    EXPECT_LT(highest - before, 200 * 1024) << "resident memory grew from " << before << " kB to " << highest << " kB";
    std::printf("flood of %lld texts: resident %lld kB before, at most %lld kB during\n", sent, before, highest);

    // The kernel's buffer is full when the flood stops: a query may be dropped before the
    // program sees it, so one goes out every 100 ms until an answer comes.
    const qsizetype echoes = rig.of("WDT.Echo").size();
    qint64 lastQuery = -1000;
    ASSERT_TRUE(waitUntil([&] {
        if (rig.elapsedMs() - lastQuery >= 100) {
            lastQuery = rig.elapsedMs();
            rig.send(rig.message("WDT.Echo", rig.source, {{"Echo.Query", {"Query=after"}}}, "acme.pinger.pc"));
        }
        return rig.of("WDT.Echo").size() > echoes;
    }, 60000)) << "no echo answer";
    // (What the program waited for a processor is counted up to now, a little past the answer.)
    const qint64 answeredAfter = rig.arrivals.at(rig.listener.received.indexOf(rig.of("WDT.Echo").at(echoes))) - floodEnd
        - sinceFloodEnd.waitedForCpuMs();
    std::printf("first echo answer %lld ms after the flood (of its own)\n", answeredAfter);
    EXPECT_LT(answeredAfter, quietMs + BridgeRig::kEchoRoomMs)
        << "echo answered " << answeredAfter << " ms after the flood ended";

    bool dropLogged = false;
    for (const QByteArray& d : rig.of("Tessera.Event"))
        dropLogged = dropLogged || d.contains("Receive queue full");
    EXPECT_TRUE(dropLogged);

    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(rig.program->terminate(), 0);
    EXPECT_LT(stopping.elapsed(), 5000) << "SIGTERM took too long";
}

} // namespace
