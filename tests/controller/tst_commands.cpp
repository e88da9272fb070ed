// Discovery, side switching and every command kind against the simulator.
#include "TestSupport.h"
#include "controller/link/Frames.h"

namespace {
QByteArray hex(const char* s) { return QByteArray::fromHex(s); }
QByteArray cmd(const char* first7)
{
    QByteArray f = QByteArray::fromHex(first7);
    f.append(char(Frames::FrameChecksum(f)));
    return f;
}
} // namespace

class CommandsTest : public LinkFixture, public ::testing::WithParamInterface<int>
{
protected:
    Path path() const { return GetParam() == 0 ? Path::Tcp : Path::Pty; }
};

TEST_P(CommandsTest, DiscoveryByteForByteThenSidesOn)
{
    sim->varBlockHigh = 0x4C;
    sim->varBlockLow = 0x21;
    sim->irLocationCount = 0x1F0;
    attachSim(path());
    int initPlugin = 0;
    start->InitPlugin = [&] { ++initPlugin; };
    start->GetPluginSetting = [](const QString& key, const QString& def) {
        return key == "Recognition" ? QString("1") : def;
    };
    EXPECT_EQ(start->StartX10(gPlugin.CommPort), "");
    EXPECT_EQ(start->StartIR(gPlugin.CommPort), "");
    QList<QByteArray> expected{
        hex("2A00008FB7002DEB"), hex("2A0000007F00A57D"), hex("2A000001B0009427"),
        cmd("C8281000000000"), cmd("C8280F00000000"), cmd("C8281100000000"), cmd("C8281200000000"),
        cmd("C8280700000000"),
        cmd("C8280F00010000"),                          // X10 side on
        cmd("C8281100000000"), cmd("C8281200000000")};  // IR side with recognition on: P = 0
    QList<QByteArray> got;
    for (const auto& f : sim->received)
        got << f.bytes;
    EXPECT_EQ(got, expected);
    EXPECT_EQ(gPlugin.VarBlockHigh, 0x4C);
    EXPECT_EQ(gPlugin.VarBlockLow, 0x21);
    EXPECT_EQ(gPlugin.IRLocationCount, 0x1F0);
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 0);
    EXPECT_EQ(gPlugin.IRZoneModules, (QVector<int>{3, 9}));
    EXPECT_EQ(gPlugin.IRZoneModuleCount, 2);
    EXPECT_TRUE(gPlugin.HasIRZoneModules);
    EXPECT_EQ(gPlugin.UnitTypes[0], 11);
    EXPECT_EQ(gPlugin.UnitTypes[9], 13);
    EXPECT_TRUE(gPlugin.LinkStartPoll);
    EXPECT_TRUE(gPlugin.X10Started);
    EXPECT_FALSE(gPlugin.TransferBusy);
    EXPECT_EQ(initPlugin, 2);
    EXPECT_EQ(sim->x10Side, 1);
    EXPECT_EQ(sim->irSide, 0);
    EXPECT_TRUE(logged("Found CPU-QX/Quillon"));
    EXPECT_TRUE(logged("Quillon IR size: 496"));
    EXPECT_TRUE(logged("Unit found: SIO16IR Addr: 9"));
    EXPECT_TRUE(logged("Unit found: RLY-8 Addr: 10"));
    EXPECT_TRUE(logged("Unit found: SIO16I Addr: 5"));

    // I/O start: the link stays as it is; only its side goes on.
    sim->clearRecord();
    bool pollEnabled = false;
    start->EnablePollTimer = [&](bool on) { pollEnabled = on; };
    EXPECT_EQ(start->StartIO(gPlugin.CommPort), "");
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::Command), QList<QByteArray>{cmd("C8281000020000")});
    EXPECT_TRUE(pollEnabled);
    EXPECT_EQ(sim->ioSide, 2);
}

TEST_P(CommandsTest, VariablesPointsTouchAndScreen)
{
    open(path());
    EXPECT_EQ(cmds->SetVar(5, 1000), 0);
    EXPECT_EQ(sim->vars[5], 1000);
    cmds->SetVar(6, -1);
    EXPECT_EQ(sim->vars[6], 65535);
    cmds->SetVar(300, 1);
    EXPECT_TRUE(logged("SetVar variable 300"));
    cmds->SetModulePoint(10, 2, 1);
    EXPECT_EQ(sim->pointLevel(10, 2), 1);
    cmds->SetModulePoint(10, 2, 0);
    EXPECT_EQ(sim->pointLevel(10, 2), 0);
    cmds->EnableTouch(3);
    EXPECT_EQ(sim->touchMode, 3);
    cmds->WriteScreen(12, 300, "Hello", true, 0, true, false);
    EXPECT_EQ(sim->screenText, "Hello");
    EXPECT_EQ(sim->screenFlags, 5);
    EXPECT_EQ(sim->screenX, 12);
    EXPECT_EQ(sim->screenY, 300);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::BadCheck), 0);
    EXPECT_FALSE(gPlugin.TransferBusy);
}

TEST_P(CommandsTest, ParameterReadRetriesThenGivesUp)
{
    open(path());
    sim->parameterSets[0] = QVector<quint16>(128, 0);
    sim->parameterSets[0][1] = 0x0302;
    EXPECT_EQ(cmds->GetParameter(2, 1), 0x0302);
    QList<QByteArray> seen = sim->framesOf(QuillonSim::FrameKind::Command);
    EXPECT_EQ(seen.value(0), hex("C81F0000000000E7"));
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::BlockRead).value(0), hex("2A00008BB400A478"));

    // The first block read goes unanswered: one retry.
    sim->clearRecord();
    sim->parameterSets[4] = QVector<quint16>(128, 7);
    sim->dropAnswers = 2; // the parameter command and its block read
    EXPECT_EQ(cmds->GetParameter(1, 5), 7);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::BlockRead), 2);
    EXPECT_TRUE(logged("Timeout getting parameter, retrying"));
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 0);

    sim->silent = true;
    EXPECT_EQ(cmds->GetParameter(1, 5), 0);
    EXPECT_TRUE(logged("Timeout getting parameter, retried 3 times"));
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 1);
    EXPECT_FALSE(gPlugin.TransferBusy);
}

TEST_P(CommandsTest, X10ExecutionReachesTheController)
{
    open(path());
    x10->ExecX10("B", "3+4", 2, 0, 0, 0);
    x10->ExecX10("a", "5", 4, 50, 0, 0);
    x10->ExecX10("C", "2", 10, 20, 0, 0);
    x10->ExecX10("A", "1", 15, 0, 0, 0);
    x10->ExecX10("A", "1+2", 7, 0, 0x31, 0x02);
    EXPECT_EQ(sim->x10Log, (QStringList{"address B3", "address B4", "on B",       // units 3 and 4 on
                                        "address A5", "dim A 11",                 // 50 % is 11 steps
                                        "address C2", "preset 20",                // high bank, level 20
                                        "address A1", "function A 30",            // status request
                                        "extended A1 31 02", "extended A2 31 02"}));
    EXPECT_EQ(sim->x10Units.value("B3"), "on");
    EXPECT_EQ(sim->x10Units.value("B4"), "on");
    EXPECT_EQ(sim->x10Units.value("C2"), "preset 20");
    EXPECT_FALSE(gPlugin.X10Sending);

    // Units with an empty place between them, house Q, and the codes past the table.
    sim->x10Log.clear();
    x10->ExecX10("D", "1++3", 2, 0, 0, 0);
    x10->ExecX10("Q", "2", 3, 0, 0, 0);
    x10->ExecX10("A", "6", 11, 0, 0, 0);
    x10->ExecX10("E", "7", 16, 0, 0, 0);
    x10->ExecX10("E", "7", 18, 0, 0, 0);
    EXPECT_EQ(sim->x10Log, (QStringList{"address D1", "address D3", "on D", "address Q2", "off Q",
                                        "address A6", "preset 6",     // 26 with house A: level 6
                                        "address E7", "preset 24",    // 31 with house E (entry 8): level 8 + 16
                                        "address E7", "function E 33"}));
    EXPECT_EQ(sim->x10Units.value("D1"), "on");
    EXPECT_FALSE(sim->x10Units.contains("D2"));
    EXPECT_EQ(sim->x10Units.value("D3"), "on");

    // A missing acknowledgement costs its time-out and the rest still goes out.
    sim->x10Log.clear();
    sim->dropAnswers = 1;
    x10->ExecX10("D", "1+2", 3, 0, 0, 0);
    EXPECT_EQ(sim->x10Log, (QStringList{"address D2", "off D"})); // the unheard frame is not applied
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::Command).mid(sim->count(QuillonSim::FrameKind::Command) - 3),
              (QList<QByteArray>{cmd("C8370300010000"), cmd("C8370301010000"), cmd("C8370313010000")}));
}

TEST_P(CommandsTest, IRPlayLearnAndQueue)
{
    open(path());
    ir->PlayIRLocation(300);
    EXPECT_EQ(sim->irPlayed, QList<int>{300});
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::Command).last(), cmd("C85A2C01000000"));
    ir->PlayIRZone(3, 4, 5);
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::Command).last(), cmd("C85C0304050000"));
    EXPECT_EQ(host.calls, (QStringList{"xAPIR 300 0 IR.Info", "xAPIR 5 5 IR.Info"}));

    // Learning: the controller's match report ends the learn wait, not an IR event.
    gPlugin.IREnabled = true;
    sim->learnMatchByte = 17;
    EXPECT_TRUE(ir->LearnIRStart(12));
    EXPECT_EQ(sim->irLearned, QList<int>{12});
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::Command).last(), cmd("C85B0C00780000"));
    QElapsedTimer t;
    t.start();
    ir->LearnIREnd();
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_FALSE(gPlugin.LearnInProgress);
    EXPECT_FALSE(host.calls.contains("IREvent 17"));
    EXPECT_FALSE(ir->LearnIRStart(1024));

    // Playing by key or by name goes through the command ring.
    QStringList queued;
    ir->QExec = [&](const QString&, const QString&, int c, long b, int d1, int d2) {
        queued << QString("%1 %2 %3 %4").arg(c).arg(b).arg(d1).arg(d2);
        return true;
    };
    gPlugin.HasIRZoneModules = true;
    gPlugin.IRZoneModules = {3, 9};
    gPlugin.IRZoneModuleCount = 2;
    gPlugin.IRNameDictionary["TV POWER"] = "12,0";
    gPlugin.IRNameDictionary["AMP MUTE"] = "12,20";
    gPlugin.IRNameDictionary["AMP BAD"] = "x,1";
    EXPECT_EQ(ir->PlayIREx("tv power"), 1);
    EXPECT_EQ(ir->PlayIREx("Amp Mute"), 1);
    EXPECT_EQ(ir->PlayIREx("7"), 1);
    EXPECT_EQ(ir->PlayIREx("no such"), 0);
    EXPECT_EQ(ir->PlayIREx("amp bad"), 0);
    EXPECT_EQ(ir->PlayIREx("abc"), 0);
    EXPECT_EQ(queued, (QStringList{"100 12 0 0", "102 9 20 12", "100 7 0 0"}));
}

TEST_P(CommandsTest, ClockIsSetAndWaitsForABusyLine)
{
    open(path());
    gPlugin.X10Sending = true;
    start->SyncClock();
    waitFor([] { return false; }, 300);
    EXPECT_EQ(sim->count(QuillonSim::FrameKind::LongFrame), 0); // deferred while X10 is sent
    gPlugin.X10Sending = false;
    ASSERT_TRUE(waitFor([&] { return sim->count(QuillonSim::FrameKind::LongFrame) == 1; }));
    ASSERT_TRUE(waitFor([&] { return !gPlugin.TransferBusy; }));
    EXPECT_LE(qAbs(sim->clock.secsTo(QDateTime::currentDateTime())), 5);
    EXPECT_EQ(sim->clockWeekday, QDate::currentDate().dayOfWeek() % 7);
}

INSTANTIATE_TEST_SUITE_P(Paths, CommandsTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Tcp" : "Pty"; });

class Discovery : public LinkFixture
{
};

TEST_F(Discovery, SilentControllerTimesOutAndTheProgramGoesOn)
{
    openTcp();
    sim->silent = true;
    EXPECT_EQ(start->FindCPUQX(), "Timeout from CPU-QX/Quillon");
    EXPECT_EQ(gPlugin.InterfaceStatusWord, 1);
    // Both tries and the parameters go unanswered: one outage, one entry.
    EXPECT_EQ(loggedEntries().filter("Timeout looking for CPU-QX/Quillon").size(), 1);
    EXPECT_EQ(loggedEntries().filter("Timeout").size(), 1) << loggedEntries().join("\n").toStdString();
    EXPECT_EQ(sim->framesOf(QuillonSim::FrameKind::BlockRead),
              (QList<QByteArray>{hex("2A00008FB7002DEB"), hex("2A00008FB7002DEB"), hex("2A000001B0009427")}));
    EXPECT_FALSE(gPlugin.TransferBusy);
    sim->silent = false;
    cmds->SetVar(1, 2);
    EXPECT_EQ(sim->vars[1], 2);
}

TEST_F(Discovery, InitDoesNothingOnceStarted)
{
    openTcp();
    sim->clearRecord();
    EXPECT_EQ(start->InitCPUQX(), "");
    EXPECT_TRUE(sim->received.isEmpty());
}

TEST_F(Discovery, PacedLineCarriesCommandsNearItsCeiling)
{
    openTcp();
    sim->paced = true;
    gPlugin.ReplyTimeout = 4;
    QElapsedTimer t;
    t.start();
    const int n = 40;
    for (int i = 0; i < n; ++i)
        cmds->SetVar(i, i + 1);
    double perSecond = n * 1000.0 / qMax<qint64>(1, t.elapsed());
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(sim->vars[i], i + 1);
    // 11 bytes per command at 960 bytes/s is a ceiling of about 87 per second.
    std::cout << "[ bench    ] " << perSecond << " commands/s through a paced line" << std::endl;
    EXPECT_GT(perSecond, 5.0);
    ASSERT_TRUE(start->FindCPUQX().isEmpty());
    EXPECT_EQ(gPlugin.IRLocationCount, 1008);
}

// Each side opens the link on its own start; a link that will not open is one
// outage, whether the server refuses or accepts and closes at once.
// How the server fails through an outage at start-up: refuses every connect,
// accepts and closes at once, or first the one and then the other.
enum class Outage { Refused, AcceptedAndClosed, RefusedThenClosed };

class StartOutage : public LinkFixture, public ::testing::WithParamInterface<Outage>
{
};

TEST_P(StartOutage, EachSidesFailedOpenIsOneEntryPerOutage)
{
    const Outage outage = GetParam();
    gControllerTiming.healthyMs = 300; // a connection up this long ends an outage
    attachSim(Path::Tcp);
    if (outage == Outage::AcceptedAndClosed)
        tcp->closeOnAccept = true;
    else
        tcp->stopListening();
    // Whatever the link or the start says of the outage, in any wording.
    auto entries = [] {
        QStringList l;
        for (const QString& e : loggedEntries())
            if (e.contains("did not open") || e.contains("oWinsock_Error") || e.contains("IP Connection Closed")
                || e.contains("Unable to connect via TCP"))
                l << e;
        return l;
    };
    for (int round = 0; round < 2; ++round) {
        if (round == 1 && outage == Outage::RefusedThenClosed) {
            tcp->closeOnAccept = true;
            ASSERT_TRUE(tcp->listen(tcp->port()));
        }
        start->StartIR(gPlugin.CommPort);
        start->StartIO(gPlugin.CommPort);
        start->StartX10(gPlugin.CommPort);
        EXPECT_EQ(entries().size(), 1) << "round " << round << ": " << entries().join(" | ").toStdString();
    }
    if (outage == Outage::Refused)
        return;
    // The controller answers: the outage is over, and the next one is logged again.
    tcp->closeOnAccept = false;
    start->StartIR(gPlugin.CommPort);
    ASSERT_TRUE(waitFor([] { return gPlugin.DiscoveryComplete; }, 10000));
    waitFor([] { return false; }, 600);
    link->CloseCommLink(false);
    gPlugin.CommsStarted = false;
    tcp->closeOnAccept = true;
    tcp->disconnectClient();
    start->StartIO(gPlugin.CommPort);
    start->StartX10(gPlugin.CommPort);
    EXPECT_EQ(entries().size(), 2) << entries().join(" | ").toStdString();
}

std::string outageName(const ::testing::TestParamInfo<Outage>& i)
{
    static const char* names[] = {"Refused", "AcceptedAndClosed", "RefusedThenClosed"};
    return names[int(i.param)];
}

INSTANTIATE_TEST_SUITE_P(Table, StartOutage,
                         ::testing::Values(Outage::Refused, Outage::AcceptedAndClosed, Outage::RefusedThenClosed),
                         outageName);
