// The whole program against a serial-device server that comes up late and a
// controller that floods the line.
#include "BridgeRig.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

const QString kHallTemp = QStringLiteral("Hall_Temp.Quillon_Var__V004.Index");

QStringList blockReads(const QuillonSim &sim)
{
    QStringList out;
    for (const QByteArray &f : sim.framesOf(QuillonSim::FrameKind::BlockRead))
        out.append(QString::fromLatin1(f.mid(3, 2).toHex().toUpper()));
    return out;
}

// The stored line of a device: location;name;interface;iotype;iomisc;misc;type;status;value;...
QStringList stored(const ProgramFolder &folder, const QByteArray &code)
{
    QFile f(folder.path() + QStringLiteral("/Config/tvkXapKorvane.ini"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(code + "="))
            return QString::fromLatin1(line.mid(code.size() + 1).trimmed()).split(QLatin1Char(';'));
    }
    return {};
}

TEST(ControllerLink, ServerComingUpAfterNinetySecondsIsReachedAndDiscoveredAgain)
{
    BridgeRig rig;
    rig.serverAtStart = false;
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    rig.sim.vars[4] = 30; // the store says 21
    waitUntil([] { return false; }, 90000 - int(rig.elapsedMs()));
    EXPECT_TRUE(rig.eventsFrom(kHallTemp, Qt::CaseInsensitive).isEmpty()) << "an event without a controller";

    ASSERT_TRUE(rig.transport.listen(rig.transport.port()));
    QElapsedTimer back;
    back.start();
    // One reconnect period is 2 s: allow a loaded machine plenty more.
    ASSERT_TRUE(waitUntil([&] { return rig.transport.isConnected(); }, 15000));
    std::printf("link back %lld ms after the server came up\n", qlonglong(back.elapsed()));
    ASSERT_TRUE(waitUntil([&] { return blockReads(rig.sim).contains(QStringLiteral("01B0")); }, 30000))
        << blockReads(rig.sim).join(QLatin1Char(' ')).toStdString();
    const QStringList reads = blockReads(rig.sim);
    EXPECT_TRUE(!reads.contains(QStringLiteral("4A00")) || reads.indexOf(QStringLiteral("8FB7")) < reads.indexOf(QStringLiteral("4A00")))
        << reads.join(QLatin1Char(' ')).toStdString();
    ASSERT_TRUE(waitUntil([&] { return !rig.eventsFrom(kHallTemp, Qt::CaseInsensitive).isEmpty(); }, 30000));
    EXPECT_EQ(BridgeRig::item(rig.eventsFrom(kHallTemp, Qt::CaseInsensitive).first(), QStringLiteral("Level")),
              QStringLiteral("30/32767"));
    waitUntil([] { return false; }, 2000); // a few more polls
    for (const QString &b : blockReads(rig.sim))
        EXPECT_NE(b, QStringLiteral("0000")) << "variables read before their block was known";
    EXPECT_TRUE(blockReads(rig.sim).contains(QStringLiteral("4A00")));
    for (const QByteArray &e : rig.eventsFrom(kHallTemp, Qt::CaseInsensitive))
        EXPECT_EQ(BridgeRig::item(e, QStringLiteral("Level")), QStringLiteral("30/32767"));
    EXPECT_EQ(rig.sim.ioSide, 2);
    EXPECT_EQ(rig.sim.x10Side, 1);
}

TEST(ControllerLink, SixtySecondFloodLeavesTheProgramAnsweringAndStoppingWithItsStoreSaved)
{
    // A sanitizer build keeps freed memory for a while; keep that small, so what
    // is measured is what the program holds.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":quarantine_size_mb=16");
    BridgeRig rig;
    ASSERT_TRUE(rig.start());
    // A value the store must keep: set through xAP before the flood.
    rig.send(rig.message(QStringLiteral("xAPBSC.cmd"), rig.source + QStringLiteral(":>"),
                         {{QStringLiteral("output.state.1"), {"ID=05", "State=on", "Level=55"}}}));
    ASSERT_TRUE(waitUntil([&] { return rig.sim.vars[4] == 55; }, 20000));
    const qint64 residentBefore = rig.program->residentKb();

    // The flood makes the program broadcast a report for every match it reads:
    // look at each datagram once.
    rig.listener.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16 * 1024 * 1024);
    qsizetype scanned = 0;
    QList<QByteArray> echoes;
    auto collect = [&] {
        for (; scanned < rig.listener.received.size(); ++scanned) {
            const QByteArray &d = rig.listener.received.at(scanned);
            if (d.toLower().contains("\nclass=wdt.echo\n"))
                echoes.append(d);
        }
        return echoes.size();
    };

    rig.sim.startFlood();
    QElapsedTimer flood;
    flood.start();
    QList<qint64> answers;
    qint64 residentMax = residentBefore;
    int asked = 0;
    while (flood.elapsed() < 60000) {
        const QString query = QStringLiteral("ping%1").arg(++asked);
        const qsizetype before = collect();
        QElapsedTimer t;
        t.start();
        rig.send(rig.message(QStringLiteral("WDT.Echo"), rig.source, {{QStringLiteral("Echo.Query"), {"Query=" + query}}},
                             QStringLiteral("acme.pinger.pc")));
        ASSERT_TRUE(waitUntil([&] { return collect() > before; }, 10000)) << "echo " << asked << " unanswered during the flood";
        answers.append(t.elapsed());
        EXPECT_EQ(BridgeRig::item(echoes.last(), QStringLiteral("Response")), query);
        residentMax = std::max(residentMax, rig.program->residentKb());
        waitUntil([&] {
            collect();
            return false;
        }, 2000);
    }
    EXPECT_GT(rig.sim.flooded(), 20 * 64 * 1024) << "the flood did not reach the program";
    std::sort(answers.begin(), answers.end());
    std::printf("%lld echoes during the flood: median %lld ms, worst %lld ms; %lld bytes flooded; "
                "resident %lld kB before, at most %lld kB\n",
                qlonglong(answers.size()), answers.at(answers.size() / 2), answers.last(),
                qlonglong(rig.sim.flooded()), residentBefore, residentMax);
    EXPECT_LT(answers.at(answers.size() / 2), 1000);
    EXPECT_LT(answers.last(), 3000);
    EXPECT_LT(residentMax - residentBefore, 200 * 1024) << "memory grew with the flood";

    // Stopped while the flood goes on.
    QElapsedTimer exit;
    exit.start();
    EXPECT_EQ(rig.program->terminate(), 0);
    EXPECT_LT(exit.elapsed(), 5000);
    rig.sim.stopFlood();
    EXPECT_EQ(stored(rig.folder, "Q5").value(8), QStringLiteral("55"));
}

} // namespace
