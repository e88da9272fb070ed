// The reply wait against the simulator over TCP: whole replies, noise, time-outs, the traffic log.
#include "ProtocolFixture.h"

#include <QDir>
#include <QFile>

TEST_F(ProtocolTest, BlockReadDeliversTheWholeReplyWithAGoodCrc)
{
    sim->vars[0] = 0x1234;
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(sim->varBlockHigh, sim->varBlockLow), 264, 0x2A));
    EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    EXPECT_EQ(gPlugin.ReplyBuffer[6], 0x34);
    EXPECT_EQ(gPlugin.ReplyBuffer[7], 0x12);
    EXPECT_EQ(link->BytesWaiting(), 0);
}

TEST_F(ProtocolTest, CorruptCrcIsVisibleToTheCallerAnotherBlocksReplyIsAskedAgain)
{
    sim->corruptCrcCount = 1;
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A));
    EXPECT_FALSE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    sim->wrongEchoCount = 1;
    sim->clearRecord();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A));
    EXPECT_LT(t.elapsed(), 1900) << "the read was asked again only when its wait gave up";
    EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    EXPECT_EQ(gPlugin.ReplyBuffer[3], 0x8D);
    EXPECT_EQ(gPlugin.ReplyBuffer[4], 0xB5);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::BlockRead), 2);
    // The next read is clean again.
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A));
    EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    EXPECT_EQ(gPlugin.ReplyBuffer[4], 0xB5);
}

TEST_F(ProtocolTest, NoiseIsDroppedUntilTheExpectedFirstByte)
{
    sim->reportBeforeAnswer = hex("0102037A");
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x00, 0x7F), 264, 0x2A));
    EXPECT_EQ(gPlugin.ReplyBuffer[6 + 244] + 256 * gPlugin.ReplyBuffer[6 + 245], 1008);
}

TEST_F(ProtocolTest, TimeoutReturnsFalseAndTheLinkStillWorks)
{
    sim->dropAnswers = 1;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(command());
    EXPECT_GE(t.elapsed(), 1900);
    sim->lateAnswerMs = 600;
    EXPECT_TRUE(command());
    sim->lateAnswerMs = 0;
    EXPECT_TRUE(sendAndWait(Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A));
}

TEST_F(ProtocolTest, TrafficLogOnlyWhenEnabled)
{
    const QString path = QDir(appDir.path()).filePath("Data/quillon.log");
    gPlugin.LogComms = 0;
    sim->dropAnswers = 1;
    EXPECT_FALSE(protocol->WaitReply(1, 3, 0));
    EXPECT_FALSE(QFile::exists(path));
    gPlugin.LogComms = 1;
    EXPECT_FALSE(protocol->WaitReply(1, 3, 0));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Quillon Timeout Expected: 3 Got: 0"));
}
