// The whole program against a controller whose variable-block replies stop short,
// come late or carry header bytes the program does not expect: none of their bytes
// may turn into reports of points the controller never changed.
#include "BridgeRig.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString kHallTemp = QStringLiteral("Hall_Temp.Quillon_Var__V004.Index");

class BlockReplies : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rig.pluginSettings = "poll_interval=200\r\nlog_comms=1\r\n";
        ASSERT_TRUE(rig.start()) << "the program did not come up";
        // Variables whose bytes read as I/O change reports of the door contact
        // (module 3, point 0), on and off by turns, wherever a reader falls into step.
        for (int i = 0; i < 128; ++i)
            rig.sim.vars[i] = quint16(i % 2 == 0 ? 0x03F0 : ((i / 2) % 2 ? 0x0100 : 0x0000));
        rig.sim.faultBlock = 0x4A00;
    }

    // xAP events of the controller's I/O endpoints: the door contact and the porch light.
    qsizetype pointEvents() const
    {
        qsizetype n = 0;
        for (const QByteArray &e : rig.of(QStringLiteral("xapBSC.Event"))) {
            const QString source = BridgeRig::item(e, QStringLiteral("source"));
            n += source.contains(QLatin1String("Door_Contact")) || source.contains(QLatin1String("Porch_Light"));
        }
        return n;
    }
    int ioChangeLines() const
    {
        QFile f(rig.folder.path() + QStringLiteral("/Data/quillon.log"));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("IO point change")) : -1;
    }
    // Waits until the variables' new values went out, then a little longer for late bytes.
    void expectNoPhantoms(int settleMs)
    {
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const QByteArray &e : rig.of(QStringLiteral("xapBSC.Event")))
                    if (BridgeRig::item(e, QStringLiteral("source")).endsWith(QLatin1Char(':') + kHallTemp)
                        && BridgeRig::item(e, QStringLiteral("Level")) == QLatin1String("1008/32767"))
                        return true;
                return false;
            },
            40000))
            << "the variables were never read";
        waitUntil([] { return false; }, settleMs);
        EXPECT_EQ(pointEvents(), 0) << "events of points the controller never changed";
        EXPECT_EQ(ioChangeLines(), 0) << "I/O change reports read out of reply bytes";
    }

    BridgeRig rig;
};

TEST_F(BlockReplies, ReplyStoppingShortThenRetryAnsweredInFullGivesNoReports)
{
    rig.sim.truncateBlockAt = 150;
    expectNoPhantoms(3000);
    EXPECT_EQ(rig.sim.truncateBlockAt, 0) << "the stopped reply was never sent";
}

TEST_F(BlockReplies, RestOfAStoppedReplyArrivingAfterTheWaitGaveUpGivesNoReports)
{
    // The rest comes after the first attempt's wait has given up, ahead of the
    // answer to the second.
    rig.sim.truncateBlockAt = 150;
    rig.sim.remainderAfterMs = 6000;
    expectNoPhantoms(4000);
}

TEST_F(BlockReplies, RepliesWithNonZeroHeaderBytesAreReadAsReplies)
{
    rig.sim.oddHeaderCount = 6;
    expectNoPhantoms(2000);
    EXPECT_EQ(rig.sim.oddHeaderCount, 0);
}

} // namespace
