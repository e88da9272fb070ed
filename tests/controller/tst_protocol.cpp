// The report parser, and the reply wait handing it reports, against the simulator over TCP.
#include "ProtocolFixture.h"

#include <QDir>
#include <QFile>

TEST_F(ProtocolTest, X10ReportsBeforeAndBetweenAcknowledgements)
{
    sim->sendX10(0, 0);
    sim->sendX10(0, 1);
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() >= 6; }));
    sim->reportBeforeAnswer = hex("FE0012");
    EXPECT_TRUE(command());
    EXPECT_EQ(host.calls, QStringList{"X10Event A1+2 A 2 [] []"});
    EXPECT_TRUE(gPlugin.PendingX10Units.isEmpty());
    EXPECT_EQ(sim->vars[1], 7);
}

TEST_F(ProtocolTest, PresetDimReportsGiveLevelsOfBothBanks)
{
    sim->sendX10(2, 4);
    sim->sendX10(0, 0x1A);
    sim->sendX10(2, 4);
    sim->sendX10(0, 0x1F);
    EXPECT_TRUE(command());
    EXPECT_EQ(host.calls, (QStringList{"X10Event C5 C 10 [6] []", "X10Event C5 C 11 [22] []"}));
}

TEST_F(ProtocolTest, TransmitEchoAndIRMatchFollowTheirFlags)
{
    gPlugin.X10XmitFlag = 0;
    gPlugin.IREnabled = false;
    sim->sendX10(1, 3, true);
    sim->sendIRMatch(9, 42);
    EXPECT_TRUE(command());
    EXPECT_TRUE(host.calls.isEmpty());
    gPlugin.X10XmitFlag = 1;
    gPlugin.IREnabled = true;
    sim->sendX10(1, 3, true);
    sim->sendX10(1, 0x13, true);
    sim->sendIRMatch(9, 42); // inside a reply wait the location is the report's last byte
    EXPECT_TRUE(command());
    EXPECT_EQ(host.calls, (QStringList{"X10Event B4 B 3 [] []", "IREvent 42"}));
}

TEST_F(ProtocolTest, IOChangeEndsAnAckWaitEarlyButNotABlockRead)
{
    gPlugin.UnitMaps = {umap{5, 12, "#", 0}};
    sim->reportBeforeAnswer = hex("F0050200");
    EXPECT_TRUE(command());
    // The wait ended on the report: the acknowledgement stays for the report loop.
    EXPECT_TRUE(waitFor([&] { return link->BytesWaiting() == 3; }));
    EXPECT_EQ(host.calls, (QStringList{"SetDeviceStatus #3 2", "ValueChangeEvent #3 1"}));
    protocol->ReadReports(); // the stale acknowledgement is not a report: dropped
    EXPECT_EQ(link->BytesWaiting(), 0);

    host.calls.clear();
    sim->reportBeforeAnswer = hex("F0050201");
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A));
    EXPECT_EQ(gPlugin.ReplyBuffer[0], 0x2A);
    EXPECT_EQ(host.calls, (QStringList{"SetDeviceStatus #3 3", "ValueChangeEvent #3 0"}));
    EXPECT_EQ(link->BytesWaiting(), 0);
}

TEST_F(ProtocolTest, ReportLoopTakesAnythingButAReportThreeBytesAtATime)
{
    gPlugin.X10Started = true;
    // Two commands whose acknowledgements did not come in time.
    sim->dropAnswers = 2;
    EXPECT_FALSE(protocol->WaitReply(1, 3, 0));
    EXPECT_FALSE(protocol->WaitReply(1, 3, 0));
    // A late acknowledgement whose later bytes look like a report start, then
    // a real address and preset-dim pair, then the start of the other one.
    sim->sendRaw(hex("06FE05") + hex("FE0305") + hex("FE031A") + hex("0607"));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 11; }));
    protocol->ReadReports();
    EXPECT_EQ(host.calls, QStringList{"X10Event D6 D 10 [5] []"});
    EXPECT_EQ(link->BytesWaiting(), 2); // fewer than three: left for the next pass
    sim->sendRaw(hex("08"));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 3; }));
    protocol->ReadReports();
    EXPECT_EQ(link->BytesWaiting(), 0);
    // No acknowledgement is owed now: stray bytes go one at a time and the
    // report behind them is whole.
    host.calls.clear();
    sim->sendRaw(hex("0607") + hex("FE0305") + hex("FE0312"));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 8; }));
    protocol->ReadReports();
    EXPECT_EQ(host.calls, QStringList{"X10Event D6 D 2 [] []"});
}

TEST_F(ProtocolTest, TouchReportIsFiveBytesAndFFIsOne)
{
    gPlugin.KestrelVar = "~";
    sim->sendFF();
    sim->sendTouch(77);
    sim->sendFF();
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() >= 7; }));
    EXPECT_TRUE(command()); // ends early on the touch report
    EXPECT_EQ(host.calls, QStringList{"SetDeviceValue ~1 77"});
    host.calls.clear();
    // The stream is still in step: FF, then the acknowledgement.
    EXPECT_TRUE(protocol->WaitReply(2, 3, 0));
    EXPECT_EQ(gPlugin.ReplyBuffer[0], 0x06);

    gPlugin.KestrelVar = "-1";
    sim->reportBeforeAnswer = hex("F300110000");
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x8D, 0xB5), 264, 0x2A));
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_EQ(link->BytesWaiting(), 0);
}

TEST_F(ProtocolTest, ReportsSplitAcrossReadsAreParsedOnce)
{
    gPlugin.UnitMaps = {umap{1, 11, "!", 0}};
    gPlugin.KestrelVar = "~";
    sim->splitWrites = true;
    for (int i = 0; i < 5; ++i) {
        sim->reportBeforeAnswer = hex("FC0102") + hex("F3000900" "00") + hex("FE0305") + hex("FE031A");
        ASSERT_TRUE(sendAndWait(Frames::BlockRequest(0x8F, 0xB7), 264, 0x2A)) << i;
        EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    }
    EXPECT_EQ(host.calls.count("SetDeviceValue ~1 9"), 5);
    EXPECT_EQ(host.calls.count("X10Event D6 D 10 [5] []"), 5);
    EXPECT_EQ(host.calls.size(), 10);
}

TEST_F(ProtocolTest, PartialReportWaitsForItsBytes)
{
    gPlugin.UnitMaps = {umap{1, 11, "!", 0}};
    sim->sendRaw(hex("F001"));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 2; }));
    protocol->ReadReports();
    EXPECT_EQ(link->BytesWaiting(), 2); // not parsed yet
    QTimer::singleShot(300, sim.get(), [&] { sim->sendRaw(hex("0300") + hex("060000")); });
    EXPECT_TRUE(protocol->WaitReply(2, 3, 0));
    EXPECT_EQ(host.calls.value(0), "SetDeviceStatus !4 2");
    EXPECT_EQ(link->BytesWaiting(), 3);
}

TEST_F(ProtocolTest, IOChangeUsesOneRuleForInputsAndOutputs)
{
    gPlugin.UnitMaps = {umap{1, 11, "!", 0}, umap{5, 12, "#", 1}, umap{10, 13, "$", 0}, umap{7, 11, "", 0}};
    protocol->HandleIOPointChange(1, 9, 1);  // SIO16 output driven on
    protocol->HandleIOPointChange(1, 2, 0);  // SIO16 input active (low level)
    protocol->HandleIOPointChange(5, 0, 0);  // inverted SIO16I input: active reads as off
    protocol->HandleIOPointChange(10, 3, 1); // relay driven on
    protocol->HandleIOPointChange(7, 1, 1);  // unmapped: state kept, host untouched
    protocol->HandleIOPointChange(200, 1, 1);
    // An output's value is 1 when it is on, as a command stores it.
    EXPECT_EQ(host.calls, (QStringList{"SetDeviceStatus !10 2", "ValueChangeEvent !10 1",
                                       "SetDeviceStatus !3 2", "ValueChangeEvent !3 1",
                                       "SetDeviceStatus #1 3", "ValueChangeEvent #1 0",
                                       "SetDeviceStatus $4 2", "ValueChangeEvent $4 1"}));
    EXPECT_EQ(Protocol::GetIOPointState(7, 1), 0);
    EXPECT_EQ(Protocol::GetIOPointState(129, 0), 0);
}

TEST_F(ProtocolTest, ReportLoopParserReadsEveryKindAfterTheAcknowledgement)
{
    gPlugin.KestrelVar = "~";
    gPlugin.UnitMaps = {umap{5, 12, "#", 0}};
    EXPECT_TRUE(command());
    sim->sendIRMatch(9, 42);
    sim->sendFF();
    sim->sendTouch(5, true);
    sim->sendFC();
    sim->sendIOChange(5, 15, 0);
    sim->sendX10(15, 15);
    sim->sendX10(15, 0x1B); // extended data: code 12
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 3 + 1 + 5 + 3 + 4 + 3 + 3; }));
    protocol->ReadReports();
    EXPECT_EQ(link->BytesWaiting(), 0);
    // FD 09 2A read by the report loop: the location is the report's middle byte.
    EXPECT_EQ(host.calls, (QStringList{"IREvent 9", "SetDeviceValue ~1 5", "SetDeviceStatus #16 2",
                                       "ValueChangeEvent #16 1", "X10Event P16 P 12 [] []"}));
}

TEST_F(ProtocolTest, ReplyTimeoutIsSetBetweenOneAndThirtyTwoSeconds)
{
    EXPECT_FALSE(cmds->SetTimeOut(0));
    EXPECT_FALSE(cmds->SetTimeOut(33));
    EXPECT_EQ(gPlugin.ReplyTimeout, 2);
    EXPECT_TRUE(cmds->SetTimeOut(1));
    sim->lateAnswerMs = 1500;
    cmds->SetVar(9, 1);
    EXPECT_TRUE(link->BytesWaiting() == 0 && gPlugin.TransferBusy == false);
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 3; })); // came after the wait gave up
    protocol->ReadReports();
    EXPECT_TRUE(cmds->SetTimeOut(3));
    QElapsedTimer t;
    t.start();
    cmds->SetVar(9, 2);
    EXPECT_GE(t.elapsed(), 1300);
    EXPECT_EQ(link->BytesWaiting(), 0); // the late answer was taken by this wait
    EXPECT_EQ(sim->vars[9], 2);
}

TEST_F(ProtocolTest, StaleStartOfABlockReplyIsSkippedToTheHeaderOfTheRealOne)
{
    gPlugin.UnitMaps = {umap{1, 12, "#", 0}};
    // Bytes that read as I/O change reports of module 1, and one 2A among them that starts no reply.
    for (int i = 0; i < 128; ++i)
        sim->vars[i] = quint16(i == 10 ? 0x002A : (i % 2 == 0 ? 0x01F0 : 0x0100));
    // What is left of an earlier reply, then the reply to this request.
    QByteArray stale = QByteArray(1, char(0x2A)) + QByteArray(5, '\0') + sim->blockData(0x4A, 0x00);
    sim->sendRaw(stale.left(120));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 120; }));
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(sim->varBlockHigh, sim->varBlockLow), 264, 0x2A));
    EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
    EXPECT_EQ(gPlugin.ReplyBuffer[6], 0xF0);
    EXPECT_EQ(gPlugin.ReplyBuffer[7], 0x01);
    EXPECT_EQ(link->BytesWaiting(), 0);
    EXPECT_TRUE(host.calls.filter("SetDeviceStatus").isEmpty()) << host.calls.join("; ").toStdString();
}

TEST_F(ProtocolTest, BlockReplyStoppingShortIsGivenUpAndItsLateRestIsNoReport)
{
    gPlugin.UnitMaps = {umap{1, 12, "#", 0}};
    for (int i = 0; i < 128; ++i)
        sim->vars[i] = quint16(i % 2 == 0 ? 0x01F0 : 0x0100);
    sim->truncateBlockAt = 100;
    EXPECT_FALSE(sendAndWait(Frames::BlockRequest(sim->varBlockHigh, sim->varBlockLow), 264, 0x2A));
    EXPECT_EQ(link->BytesWaiting(), 0) << "the start of the reply was kept";
    // The line paused long before the wait gave up: nothing is owed unchecked,
    // the rest is known by its check when it comes.
    EXPECT_EQ(protocol->owedRemainder(), 0);
    // The rest arrives with nothing waiting for it: no reports, and the next reply is whole.
    QByteArray reply = QByteArray(1, char(0x2A)) + QByteArray(2, '\0') + "\x4A" + QByteArray(2, '\0')
        + sim->blockData(0x4A, 0x00);
    const quint16 crc = QuillonSim::crc16(reply, 262);
    reply.append(char(crc & 0xFF)).append(char(crc >> 8));
    sim->sendRaw(reply.mid(100));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 164; }));
    protocol->ReadReports();
    EXPECT_EQ(link->BytesWaiting(), 0);
    EXPECT_EQ(protocol->owedRemainder(), 0);
    EXPECT_TRUE(host.calls.filter("SetDeviceStatus").isEmpty()) << host.calls.join("; ").toStdString();
    ASSERT_TRUE(command());
    ASSERT_TRUE(sendAndWait(Frames::BlockRequest(sim->varBlockHigh, sim->varBlockLow), 264, 0x2A));
    EXPECT_TRUE(Frames::ReplyCrcOk(gPlugin.ReplyBuffer.data()));
}

TEST_F(ProtocolTest, X10ReportsNamingNoHouseAreIgnored)
{
    // House bytes 16 and up name no X10 house: noise that reads as reports.
    sim->sendRaw(hex("FE1004") + hex("FE1012") + hex("FEFF00") + hex("FE0012") + hex("FE0104") + hex("FE1113")
                 + hex("FE0112"));
    ASSERT_TRUE(waitFor([&] { return link->BytesWaiting() == 21; }));
    protocol->ReadReports();
    // The one real pair is B5 on; A's function had no address of its own house.
    EXPECT_EQ(host.calls, (QStringList{"X10Event  A 2 [] []", "X10Event B5 B 2 [] []"}));
}
