// The whole program losing its controller: a serial adapter pulled out and
// plugged in again, and a serial-device server that accepts and closes at once.
// Each outage costs one log entry and a connection attempt now and then, and the
// controller is used again once it is back.
#include "BridgeRig.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const QString kHallTemp = QStringLiteral("Hall_Temp.Quillon_Var__V004.Index");

// The program's log entries (xAP "Tessera.Event" messages) from `from` on whose Data contains `text`.
int logEntries(const BridgeRig &rig, qsizetype from, const QString &text)
{
    int n = 0;
    const QList<QByteArray> all = rig.listener.received;
    for (qsizetype i = from; i < all.size(); ++i) {
        if (BridgeRig::item(all.at(i), QStringLiteral("class")).compare(QLatin1String("Tessera.Event"), Qt::CaseInsensitive) == 0
            && BridgeRig::item(all.at(i), QStringLiteral("Data")).contains(text))
            ++n;
    }
    return n;
}

QString logTexts(const BridgeRig &rig, qsizetype from)
{
    QStringList out;
    for (qsizetype i = from; i < rig.listener.received.size(); ++i) {
        const QByteArray &d = rig.listener.received.at(i);
        if (BridgeRig::item(d, QStringLiteral("class")).compare(QLatin1String("Tessera.Event"), Qt::CaseInsensitive) == 0)
            out << BridgeRig::item(d, QStringLiteral("Data"));
    }
    return out.join(QStringLiteral(" | "));
}

// Class and Data (or Level) of each datagram from `from` on, one a line.
QString received(const BridgeRig &rig, qsizetype from)
{
    QString out;
    for (qsizetype i = from; i < rig.listener.received.size(); ++i) {
        const QByteArray &d = rig.listener.received.at(i);
        out += QString::number(rig.arrivals.value(i)) + QStringLiteral(" ms ") + BridgeRig::item(d, QStringLiteral("class"))
            + QLatin1Char(' ') + BridgeRig::item(d, QStringLiteral("source")) + QLatin1Char(' ')
            + BridgeRig::item(d, QStringLiteral("Data")) + BridgeRig::item(d, QStringLiteral("Level")) + QLatin1Char('\n');
    }
    return out;
}

bool levelReported(const BridgeRig &rig, const QString &level)
{
    for (const QByteArray &e : rig.of(QStringLiteral("xapBSC.Event"))) {
        if (BridgeRig::item(e, QStringLiteral("source")).endsWith(QLatin1Char(':') + kHallTemp)
            && BridgeRig::item(e, QStringLiteral("Level")) == level)
            return true;
    }
    return false;
}

// The rig is ready once the program answers queries, which it does from inside its start-up's
// waits; the start-up is over, as far as the link goes, once the I/O side has sent the controller
// its enabling command. (The I/O side's start takes the plug-in's own comm-port setting while
// the link is down: an outage before it would be a failed start, not the outage tested.)
bool startUpOver(const BridgeRig &rig)
{
    return waitUntil([&] {
        for (const QByteArray &f : rig.sim.framesOf(QuillonSim::FrameKind::Command))
            if (f.startsWith(QByteArray::fromHex("c828100002")))
                return true;
        return false;
    }, 60000);
}

void idle(int ms)
{
    waitUntil([] { return false; }, ms);
}

TEST(LinkOutage, SerialAdapterPulledOutCostsOneEntryAndIsUsedAgainWhenPluggedIn)
{
    BridgeRig rig;
    rig.overSerialLine = true;
    ASSERT_TRUE(rig.start()) << "the program did not come up on the serial line";
    ASSERT_TRUE(startUpOver(rig)) << "the I/O side never started";

    for (int outage = 1; outage <= 2; ++outage) {
        const qsizetype from = rig.listener.received.size();
        const qint64 unplugged = rig.elapsedMs();
        rig.unplugSerialLine();
        idle(10000);
        const qsizetype datagrams = rig.listener.received.size() - from;
        std::printf("outage %d: %lld datagrams in 10 s\n", outage, qlonglong(datagrams));
        EXPECT_EQ(logEntries(rig, from, QStringLiteral("Serial port")), 1)
            << "outage " << outage << ": " << logTexts(rig, from).toStdString();
        EXPECT_EQ(logEntries(rig, from, QStringLiteral("Open Comm Port")), 0) << "each reopen attempt logged";
        EXPECT_LT(datagrams, 40) << "the outage floods the network";

        const QString level = QStringLiteral("%1/32767").arg(40 + outage);
        rig.sim.vars[4] = quint16(40 + outage);
        const qint64 plugged = rig.elapsedMs();
        ASSERT_TRUE(rig.plugSerialLine());
        QElapsedTimer back;
        back.start();
        ASSERT_TRUE(waitUntil([&] { return levelReported(rig, level); }, 30000))
            << "the controller is not read again after outage " << outage << " (out at " << unplugged
            << " ms, back at " << plugged << " ms); since it began:\n"
            << received(rig, from).toStdString();
        std::printf("outage %d: variable read again %lld ms after the adapter came back\n", outage,
                    qlonglong(back.elapsed()));
        EXPECT_EQ(logEntries(rig, from, QStringLiteral("Serial port")), 1) << logTexts(rig, from).toStdString();
    }
}

TEST(LinkOutage, ServerThatAcceptsAndClosesIsTriedOncePerPeriodWithOneEntry)
{
    BridgeRig rig;
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    ASSERT_TRUE(startUpOver(rig)) << "the I/O side never started";

    const qsizetype from = rig.listener.received.size();
    const int acceptedBefore = rig.transport.accepted();
    rig.transport.closeOnAccept = true;
    rig.transport.disconnectClient();
    idle(10000);
    const int connections = rig.transport.accepted() - acceptedBefore;
    const qsizetype datagrams = rig.listener.received.size() - from;
    std::printf("%d connections and %lld datagrams in 10 s\n", connections, qlonglong(datagrams));
    // One at once, then one per 2 s period: 6 in 10 s; a loaded machine may fit one more.
    EXPECT_GE(connections, 3) << "the server is not tried again";
    EXPECT_LE(connections, 8);
    EXPECT_EQ(logEntries(rig, from, QStringLiteral("IP Connection Closed")), 1);
    EXPECT_LT(datagrams, 40);

    rig.sim.vars[4] = 52;
    rig.transport.closeOnAccept = false;
    ASSERT_TRUE(waitUntil([&] { return levelReported(rig, QStringLiteral("52/32767")); }, 30000))
        << "the controller is not read again once the server lets the program in";

    // A server that lets the program in for a few seconds and drops it again is
    // still the same outage: only a minute of a healthy link ends it.
    const qsizetype second = rig.listener.received.size();
    idle(3000);
    rig.transport.closeOnAccept = true;
    rig.transport.disconnectClient();
    idle(5000);
    EXPECT_EQ(logEntries(rig, second, QStringLiteral("IP Connection Closed")), 0) << logTexts(rig, second).toStdString();
}

// A start-up outage of mixed kinds: the first connection accepted and never
// answered, the next ones accepted and closed, then the controller. One entry on
// xAP, the first failure's, and the controller followed once it answers.
TEST(LinkOutage, StartUpOutageOfSilenceThenClosesIsOneEntry)
{
    BridgeRig rig;
    rig.sim.silent = true;
    // Silent past the start's first look for the controller (after the link's
    // settle time), then each connection closed as it comes, then the controller.
    QTimer::singleShot(7500, &rig.sim, [&] {
        rig.transport.closeOnAccept = true;
        rig.transport.disconnectClient();
        rig.sim.silent = false;
    });
    QTimer::singleShot(10500, &rig.sim, [&] { rig.transport.closeOnAccept = false; });
    ASSERT_TRUE(rig.start()) << "the program did not come up";
    const qint64 began = rig.elapsedMs();
    rig.sim.vars[4] = 61;
    ASSERT_TRUE(waitUntil([&] { return levelReported(rig, QStringLiteral("61/32767")); }, 60000))
        << "the controller is not followed after the outage; began at " << began << " ms:\n"
        << logTexts(rig, 0).toStdString();
    static const QRegularExpression failure(QStringLiteral(
        "did not open|oWinsock_Error|IP Connection Closed|Unable to connect|Timeout looking|Timeout getting|Timeout from"));
    QStringList failures;
    for (const QString &e : logTexts(rig, 0).split(QStringLiteral(" | ")))
        if (e.contains(failure))
            failures << e;
    EXPECT_EQ(failures.size(), 1) << failures.join(QStringLiteral("\n")).toStdString();
    EXPECT_TRUE(failures.value(0).contains(QStringLiteral("Timeout looking for CPU-QX/Quillon")))
        << logTexts(rig, 0).toStdString();
    EXPECT_EQ(logEntries(rig, 0, QStringLiteral("Found CPU-QX/Quillon")), 1) << logTexts(rig, 0).toStdString();
    std::printf("start-up outage: the controller followed again at %lld ms\n", qlonglong(rig.elapsedMs()));
}

} // namespace
