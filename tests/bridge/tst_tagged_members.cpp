// The host's members for scripts, called by name from a script through the
// engine the bridge prepares ("xap", and the same members as bare names).
#include "ScriptTestSupport.h"

#include "bridge/CommAndTimer.h"
#include "bridge/DeviceMessageClass.h"
#include "bridge/ScriptQueue.h"

#include "host/HostGlobals.h"
#include "host/IR.h"
#include "host/RemoteClient.h"
#include "host/TaggedMembers.h"

#include "automation/VbDate.h"
#include "core/RefusalLog.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

class TaggedMembersTest : public ScriptTest
{
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        InitScriptControl();
    }
    void TearDown() override
    {
        RemoteClient::release();
        ScriptTest::TearDown();
    }
    DeviceMessageClassPtr addRecord(const QString &tag, const QString &dc = QString())
    {
        auto r = std::make_shared<DeviceMessageClass>();
        r->Tag = tag;
        r->DC = dc;
        r->LastChange = VbDate::dateSerial(2021, 6, 7);
        gDeviceDictionary->add(Variant(tag), Variant(ObjectPtr(r)));
        return r;
    }
    QString eval(const QString &expression) { return runSnippet(QString(), expression).toText(); }
    QStringList pluginCalls() const
    {
        QStringList out;
        for (const PluginCall &c : plugin->calls)
            out.append(c.member + "(" + c.args.join(",") + ")");
        return out;
    }
    // "h:mm AM" of now plus some minutes.
    static QString clockText(int minutesFromNow)
    {
        return QDateTime::currentDateTime().addSecs(minutesFromNow * 60).toString("h:mm AP");
    }
};

TEST_F(TaggedMembersTest, RequestReadsRecordsDevicesAndTheCurrentRecord)
{
    const DeviceMessageClassPtr roof = addRecord("Roof");
    roof->addItem("weather.report.tempc", "21.5");
    roof->addItem("weather.report.wind", "NE");
    addRecord("Silent");
    addRecord("Porch", "B9");
    QString code = "B9";
    int level = 42;
    m_hs->SetDeviceValue(code, level);
    Variant when = Variant::fromDate(VbDate::dateSerial(2022, 2, 3) + VbDate::timeSerial(4, 5, 6));
    m_hs->SetDeviceLastChange(code, when);
    const int position = addDevice("[", "3", "Hall", "Lamp");
    device(position)->set(DeviceClass::F_ScriptTag, Variant("hall lamp"));
    QString lampCode = "[3";
    int lampLevel = 7;
    m_hs->SetDeviceValue(lampCode, lampLevel);

    EXPECT_EQ(eval("xap.Request(\"roof\")(\"Weather.Report.TempC\")"), "21.5");
    EXPECT_EQ(eval("xap.Request(\"roof\").Count"), "2");
    EXPECT_EQ(eval("TypeName(Request(\"Silent\"))"), "Nothing");
    EXPECT_EQ(eval("Request(\"PORCH\")(\"value\") & \"|\" & Request(\"porch\")(\"lastchange\")"), "42|2/3/2022 4:05:06 AM");
    EXPECT_EQ(eval("Request(\"Hall Lamp\")(\"value\")"), "7");
    EXPECT_EQ(eval("TypeName(Request(\"nobody\"))"), "Nothing");
    EXPECT_EQ(eval("TypeName(Request(\"LastEvent\"))"), "Nothing");
    gCurrentScriptRecord = roof;
    EXPECT_EQ(eval("xap.Request(\"LASTEVENT\").Tag"), "Roof");

    EXPECT_EQ(eval("Join(Array(TagList(\"roof\")(1), TagList(\"roof\")(2)), \",\")"), "weather.report.tempc,weather.report.wind");
    EXPECT_EQ(eval("TypeName(TagList(\"nobody\"))"), "Nothing");
}

TEST_F(TaggedMembersTest, LastChangeAndSequenceOfRecordsDevicesAndUnknownTags)
{
    const DeviceMessageClassPtr roof = addRecord("Roof");
    roof->Sequence = 17;
    const DeviceMessageClassPtr porch = addRecord("Porch", "B9");
    QString code = "B9";
    Variant when = Variant::fromDate(VbDate::dateSerial(2022, 2, 3));
    m_hs->SetDeviceLastChange(code, when);
    auto link = std::make_shared<DeviceMessageClass>();
    link->Sequence = 99;
    addRecord("Unlinked", "B10");

    EXPECT_EQ(eval("xap.LastChange(\"roof\")"), "6/7/2021");
    EXPECT_EQ(eval("LastChange(\"porch\")"), "2/3/2022");
    EXPECT_LT(std::abs(runSnippet(QString(), "CDbl(LastChange(\"nobody\"))").toDouble() - VbDate::oleNow()), 1.0 / 1440);
    EXPECT_EQ(eval("Sequence(\"ROOF\")"), "17");
    EXPECT_EQ(eval("Sequence(\"nobody\")"), "-1");
    EXPECT_EQ(eval("Sequence(\"unlinked\")"), "-1");
    porch->Link = link;
    EXPECT_EQ(eval("xap.Sequence(\"porch\")"), "99");
}

TEST_F(TaggedMembersTest, ResponseSetsThePointItsTagNames)
{
    addRecord("News");
    addRecord("Telly", "R5");
    addRecord("Heater", "B9");
    addDevice("A", "5", "Garden", "Lamp");
    device(1)->set(DeviceClass::F_ScriptTag, Variant("lamp"));
    addDevice("[", "2", "Hall", "Fan");
    device(2)->set(DeviceClass::F_ScriptTag, Variant("fan"));
    const double before = VbDate::oleNow();

    runSnippet("Response \"news\", 3\r\n"
               "xap.Response \"telly\", 1\r\n"
               "Response \"heater\", \"40.5\"\r\n"
               "Response \"LAMP\", \"On\"\r\n"
               "Response \"lamp\", 30\r\n"
               "Response \"fan\", 12\r\n"
               "Response \"ghost\", 1\r\n",
               "0");
    EXPECT_EQ(pluginCalls(), QStringList({"PlayIR(5)", "Exec(Nothing,A,5,2,0,0,0)", "Exec(Nothing,A,5,3,30,0,0)",
                                          "SetIO(Nothing,[,2,19,12,0,0)"}));
    const auto slot = std::dynamic_pointer_cast<IR>(gIRSlots->item(Variant(6)).toObject());
    EXPECT_GE(slot->lastChange(), before - 1.0 / 86400);
    EXPECT_EQ(m_hs->deviceValue("B9"), 40);
    ASSERT_TRUE(logData().size() >= 2);
    EXPECT_EQ(logData(), QStringList({"Tag news is a receive message tag and cannot control internal points",
                                      "Tag ghost not recognized in Response"}));
}

TEST_F(TaggedMembersTest, GlobalVariablesLiveByNameWithoutRegardToCase)
{
    EXPECT_EQ(eval("GetVar(\"Counter\")"), "0");
    EXPECT_EQ(eval("TypeName(GetVar(\"Counter\"))"), "Integer");
    runSnippet("SaveVar \"COUNTER\", 5\r\nSet d = CreateObject(\"Scripting.Dictionary\")\r\nd(\"k\") = \"v\"\r\n"
               "xap.SaveVar \"obj\", d\r\n",
               "0");
    EXPECT_EQ(eval("GetVar(\"counter\")"), "5");
    EXPECT_EQ(eval("GetVar(\"OBJ\")(\"k\")"), "v");
    EXPECT_EQ(eval("TypeName(CreateObject(\"xaptvkKorvane.GlobalVar\"))"), "GlobalVar");
    EXPECT_EQ(runSnippet("Set g = CreateObject(\"xaptvkKorvane.GlobalVar\")\r\ng.Data = 12\r\n", "g.Data * 2").toText(), "24");
}

// An object of a script class saved by name works from any later run; it is released with
// the engine, not left holding the compiled script when the program ends.
TEST_F(TaggedMembersTest, AScriptObjectSavedByNameWorksInLaterRuns)
{
    // Plain, and holding itself through a field: the module that made it is replaced by
    // the next run's.
    const char *const fields[] = {"", "  Dim self\r\n", "  Public self\r\n"};
    for (const char *field : fields) {
        const QString cycle = *field ? QStringLiteral("Set k.self = k\r\n") : QString();
        runSnippet(QStringLiteral("Class Kept\r\n  Public v\r\n%1End Class\r\n"
                                  "Set k = New Kept: k.v = 3\r\n%2xap.SaveVar \"kept\", k\r\n")
                       .arg(QLatin1String(field), cycle),
                   "0");
        EXPECT_EQ(eval("GetVar(\"kept\").v + 1"), "4") << field;
        EXPECT_EQ(eval("TypeName(GetVar(\"kept\"))"), "Kept") << field;
    }
}

TEST_F(TaggedMembersTest, DerivativeSmoothsTheRateAndControlTemperatureDecides)
{
    EXPECT_EQ(eval("Derivative(\"t\", 10)"), "0");
    EXPECT_EQ(eval("TypeName(Derivative(\"t\", 20))"), "Single");
    // 0.8 * 2 + 0.2 * (25 - 20)
    EXPECT_EQ(eval("Derivative(\"T\", 25)"), "2.6");
    EXPECT_EQ(eval("GetVar(\"t_Derivative\")"), "25");

    EXPECT_EQ(eval("ControlTemperature(20, 22, 23, 0)"), "-1");
    EXPECT_EQ(eval("ControlTemperature(20, 22, 21, 0)"), "0");
    EXPECT_EQ(eval("ControlTemperature(20, 22, 20, 0)"), "0");
    EXPECT_EQ(eval("ControlTemperature(20, 22, 19, 0)"), "1");
    // A rising trend pushes a reading inside the band above it: the last
    // error was 0 and the rate 0.5, so the rate becomes 0.5 and the control
    // value 10 * 0.5 + 0.5 + 21.
    runSnippet("SaveVar \"MasterBedroomTemperatureError\", 0.5\r\nSaveVar \"MasterBedroomTemperatureError_Derivative\", 0\r\n", "0");
    EXPECT_EQ(eval("ControlTemperature(20, 22, 21.5, 10)"), "-1");
    EXPECT_EQ(eval("GetVar(\"MasterBedroomTemperatureError\")"), "0.5");
    runSnippet("SaveVar \"MasterBedroomTemperatureError\", 0.5\r\nSaveVar \"MasterBedroomTemperatureError_Derivative\", 0\r\n", "0");
    EXPECT_EQ(eval("ControlTemperature(20, 22, 21.5, 0)"), "0");
}

TEST_F(TaggedMembersTest, NightTimeFollowsTheReceivedSunTimesWithItsOffset)
{
    receive(message("Time.Today", QString(), {{"Time.Today", {"Sunrise=" + clockText(-120), "Sunset=" + clockText(120)}}}));
    EXPECT_EQ(eval("Sunrise") + "|" + eval("xap.Sunset"), clockText(-120) + "|" + clockText(120));
    EXPECT_EQ(eval("NightTime(0)"), "False");
    EXPECT_EQ(eval("NightTime(-150)"), "True"); // the shortened day has no length left
    gSunriseText = clockText(60);
    gSunsetText = clockText(180);
    EXPECT_EQ(eval("NightTime(0)"), "True");
    EXPECT_EQ(eval("NightTime(90)"), "False"); // the day begins 90 minutes earlier
    gSunriseText = clockText(60);
    gSunsetText = clockText(-60); // a day that runs over midnight
    EXPECT_EQ(eval("NightTime(0)"), "True");
    EXPECT_EQ(eval("NightTime(900)"), "False");
    // Polar day: a day longer than a whole turn.
    gSunriseText = clockText(-300);
    gSunsetText = clockText(300);
    EXPECT_EQ(eval("NightTime(800)"), "False");

    gSunriseText = "soon";
    EXPECT_EQ(eval("NightTime(0)"), "False");
    ASSERT_TRUE(!logData().filter("NightTime").isEmpty());
    EXPECT_EQ(logData().filter("NightTime").size(), 1);
}

TEST_F(TaggedMembersTest, SendTCPHoldsTextUntilTheConnectionIsUp)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost));
    const QString port = QString::number(server.serverPort());

    runSnippet("SendTCP \"127.0.0.1\", " + port + ", \"first \"\r\nxap.SendTCP \"127.0.0.1\", " + port + ", \"second\"\r\n", "0");
    EXPECT_EQ(RemoteClient::instance().pendingText(), "first second");
    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket *peer = server.nextPendingConnection();
    QByteArray got;
    ASSERT_TRUE(waitUntil([&] {
        got += peer->readAll();
        return got == "first second";
    })) << got.constData();
    EXPECT_TRUE(RemoteClient::instance().isConnected());
    // The code page's characters go out as their bytes.
    runSnippet("SendTCP \"127.0.0.1\", " + port + ", \"third\" & Chr(128) & Chr(150)\r\n", "0");
    ASSERT_TRUE(waitUntil([&] {
        got += peer->readAll();
        return got.size() >= 19;
    }));
    EXPECT_EQ(got, QByteArray("first secondthird\x80\x96"));
    EXPECT_FALSE(server.hasPendingConnections()) << "the open connection was not reused";

    // Another port closes the first connection and holds its own text.
    runSnippet("SendTCP \"127.0.0.1\", " + QString::number(other.serverPort()) + ", \"elsewhere\"\r\n", "0");
    ASSERT_TRUE(waitUntil([&] { return peer->state() != QAbstractSocket::ConnectedState || peer->atEnd() && !peer->isOpen(); }));
    ASSERT_TRUE(waitUntil([&] { return other.hasPendingConnections(); }));
    QTcpSocket *second = other.nextPendingConnection();
    QByteArray elsewhere;
    ASSERT_TRUE(waitUntil([&] {
        elsewhere += second->readAll();
        return elsewhere == "elsewhere";
    }));
}

// Text for a peer that is not taking it (the connection not up yet, or a peer that accepts
// and never reads) stops once 1 MiB waits; the rest is dropped with one log entry per burst.
TEST_F(TaggedMembersTest, SendTCPToAPeerThatNeverReadsStopsAtItsBound)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString port = QString::number(server.serverPort());
    const QString burst = "s = String(65536, \"x\")\r\nFor i = 1 To 100\r\n  SendTCP \"127.0.0.1\", " + port
        + ", s\r\nNext\r\n";

    // Before the connection is up: 16 calls are held, 84 dropped, one entry.
    runSnippet(burst, "0");
    EXPECT_EQ(RemoteClient::instance().pendingText().size(), RemoteClient::kMaxPendingBytes);
    EXPECT_EQ(logData().filter("RemoteSend").size(), 1) << logData().join("\n").toStdString();

    // Connected to a peer that never reads: what waits to be written stays within the bound.
    ASSERT_TRUE(waitUntil([&] { return RemoteClient::instance().isConnected(); }));
    for (int round = 0; round < 4; ++round) {
        runSnippet(burst, "0");
        // The last text accepted may take what waits past the bound, by its own size at most.
        EXPECT_LT(RemoteClient::instance().bytesWaiting(), RemoteClient::kMaxPendingBytes + 65536) << "round " << round;
        waitUntil([] { return false; }, 100);
    }
    const int entries = int(logData().filter("RemoteSend").size());
    EXPECT_GE(entries, 2);
    EXPECT_LE(entries, 1 + 4) << "one entry per burst, not per call";
    EXPECT_TRUE(logData().filter("RemoteSend").last().contains("the peer is not taking what was sent"));

    // The peer that reads at last gets whole texts, as many as were not dropped.
    ASSERT_TRUE(server.hasPendingConnections());
    QTcpSocket *peer = server.nextPendingConnection();
    qint64 got = 0;
    qint64 quietSince = -1;
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] {
        const qint64 more = peer->readAll().size();
        got += more;
        if (more > 0 || RemoteClient::instance().bytesWaiting() > 0)
            quietSince = clock.elapsed();
        return got > 0 && clock.elapsed() - quietSince > 500;
    }, 20000);
    EXPECT_EQ(got % 65536, 0);
    EXPECT_GE(got, RemoteClient::kMaxPendingBytes);
}

} // namespace

// A script that varies what it passes (a tag from a peer, a window's title)
// can make a member fail once per call with a different text each time: the
// repeats count under the member, so the log gets a few entries, and a
// refusal of another part of the program made after them is still logged.
TEST_F(TaggedMembersTest, VariedTextsOfOneMembersErrorCountAsOneKind)
{
    const struct
    {
        const char *member;
        const char *call; // i is the loop's counter
        bool records;     // the calls name receive-message records
    } rows[] = {
        {"Response, a tag not recognized", "Response \"nosuch\" & i, 1", false},
        {"Response, a receive-message tag", "xap.Response \"rec\" & i, 1", true},
        {"Keys, a window's title", "xap.Keys \"k\", \"Window \" & i", false},
    };
    constexpr int kCalls = 1500;
    for (const auto &row : rows) {
        RefusalLog::Reset();
        if (row.records) {
            for (int i = 1; i <= kCalls; ++i)
                addRecord(QStringLiteral("rec") + QString::number(i));
        }
        const qsizetype before = logData().size();
        runSnippet(QStringLiteral("Dim i\r\nFor i = 1 To ") + QString::number(kCalls) + QStringLiteral("\r\n")
                       + QString::fromLatin1(row.call) + QStringLiteral("\r\nNext\r\n"),
                   "0");
        const qsizetype entries = logData().size() - before;
        EXPECT_GE(entries, 1) << row.member << ": the first failure was not logged";
        EXPECT_LE(entries, 3) << row.member << ": " << entries << " entries for one member's failures";
        RefusalLog::Log(QStringLiteral("xaptvkKorvane"), QStringLiteral("another part's refusal"),
                        QStringLiteral("another-part"));
        EXPECT_EQ(logData().size() > 0 ? logData().last() : QString(), "another part's refusal") << row.member;
    }
}
