// A command's acknowledgement is taken whatever its first byte, at once, with
// reports just ahead of it or right behind it in the same burst.
#include "ProtocolFixture.h"

#include <QElapsedTimer>

class Acknowledgements : public ProtocolTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(Acknowledgements, EveryFirstByteEndsTheWaitAtOnce)
{
    sim->ackFirstByte = quint8(GetParam());
    // Plain; an X10 pair right behind the acknowledgement; one right ahead of it.
    QuillonSim::ReplyFault behind, ahead;
    behind.on = ahead.on = QuillonSim::FrameKind::Command;
    behind.after = hex("FE0104" "FE0112");
    ahead.before = hex("FE0207" "FE0213");
    const QList<QuillonSim::ReplyFault> faults{{}, behind, ahead};
    for (qsizetype i = 0; i < faults.size(); ++i) {
        SCOPED_TRACE(i);
        sim->replyFaults = {faults[i]};
        sim->replyFaults.first().on = QuillonSim::FrameKind::Command;
        QElapsedTimer t;
        t.start();
        EXPECT_TRUE(sendAndWait(Frames::Command(0x29, quint8(10 + i), quint8(i + 1)), 3, 0));
        EXPECT_LT(t.elapsed(), 1000) << "waited for an acknowledgement that had come";
        EXPECT_EQ(gPlugin.ReplyBuffer[0], quint8(GetParam()));
        EXPECT_EQ(sim->vars[10 + int(i)], i + 1);
    }
    // What followed the acknowledgement is read as the reports it is.
    waitFor([&] {
        protocol->ReadReports();
        return host.calls.size() >= 2;
    }, 3000);
    EXPECT_EQ(host.calls, (QStringList{"X10Event B5 B 2 [] []", "X10Event C8 C 3 [] []"}));
    EXPECT_EQ(link->BytesWaiting(), 0);
}

// 06 is the usual one; 2A also begins a block reply; the rest are any other bytes.
INSTANTIATE_TEST_SUITE_P(FirstByte, Acknowledgements, ::testing::Values(0x06, 0x2A, 0x00, 0x15, 0x7F, 0xC8, 0xF1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "x" + QString::number(info.param, 16).rightJustified(2, '0').toStdString();
                         });

TEST_F(ProtocolTest, AcknowledgementBeginningWith2AThatComesLateIsNoBlockReply)
{
    // Its wait gave up; it comes outside any wait, with a report right behind it.
    sim->ackFirstByte = 0x2A;
    QuillonSim::ReplyFault late;
    late.on = QuillonSim::FrameKind::Command;
    late.delayMs = 2600; // the wait gives up at 2 s
    late.after = hex("FE0300" "FE0312");
    sim->replyFaults = {late};
    EXPECT_FALSE(command());
    waitFor([&] {
        protocol->ReadReports();
        return !host.calls.isEmpty();
    }, 4000);
    EXPECT_EQ(host.calls, QStringList{"X10Event D1 D 2 [] []"});
    EXPECT_TRUE(command());
    EXPECT_EQ(link->BytesWaiting(), 0);
}
