#include "HostScriptSupport.h"
#include "HostTestSupport.h"

#include "host/HostClock.h"
#include "host/HostGlobals.h"

#include "core/Globals.h"

#include "automation/VbDate.h"

namespace {

using XapRequestTest = HostScriptTest;

QByteArray x10Request(const QList<QPair<QString, QString>> &items)
{
    return HostScriptTest::xapText(QStringLiteral("xap-x10.request"), QStringLiteral("xap-x10.request"), items);
}

QByteArray speech(const QList<QPair<QString, QString>> &items)
{
    return HostScriptTest::xapText(QStringLiteral("xap-tts.speak"), QStringLiteral("tts.speak"), items);
}

QByteArray irTransmit(const QList<QPair<QString, QString>> &items)
{
    return HostScriptTest::xapText(QStringLiteral("Tessera.IR"), QStringLiteral("IR.Transmit"), items);
}

std::shared_ptr<Recorder> registerRecorder(Application &hs, int mask)
{
    auto recorder = std::make_shared<Recorder>();
    std::vector<Variant> args{Variant(mask), Variant(ObjectPtr(recorder))};
    hs.invoke(QStringLiteral("RegisterEventCB"), CallKind::Method, args);
    return recorder;
}

} // namespace

TEST_F(XapRequestTest, ExecX10SendsTheCodeAndCommandUnchanged)
{
    exec("r = xap.ExecX10(\"a5\", \"on\")");
    EXPECT_EQ(eval("r").toLong(), 1);
    EXPECT_EQ(eval("TypeName(r)").toString(), "Integer");
    exec("xap.ExecX10 \"B2\", \"dim\", 30");
    exec("xap.ExecX10 \"P16\", \"Off\", 30, 7, True");
    exec("xap.ExecX10 \"c1\", \"all units off\"");
    expectSent({
        x10Request({{"Device", "a5"}, {"Command", "on"}}),
        x10Request({{"Device", "B2"}, {"Count", "30"}, {"Command", "dim"}}),
        x10Request({{"Device", "P16"}, {"Command", "Off"}}),
        x10Request({{"Device", "c1"}, {"Count", "0"}, {"Command", "all_units_off"}}),
    });
    EXPECT_EQ(m_hs->deviceStatus("a5"), 0) << "ExecX10 leaves the status alone";
}

TEST_F(XapRequestTest, ExecX10OfANonX10CodeSetsTheValueAndSendsNothing)
{
    exec("r = xap.ExecX10(\"Q5\", \"on\", 40)");
    exec("xap.ExecX10 \"[3\", \"x\", -2");
    exec("r2 = xap.ExecX10(\"\", \"on\", 9)");
    EXPECT_EQ(eval("r").toLong(), 1);
    EXPECT_EQ(eval("r2").toLong(), 1);
    EXPECT_EQ(m_hs->deviceValue("Q5"), 40);
    EXPECT_EQ(m_hs->deviceValue("[3"), -2);
    // The empty code goes to SetDeviceValue as it is, which has no slot for it.
    expectSent({logText(kProgramName, "SetDeviceValue Line 0 Subscript out of range")});
}

TEST_F(XapRequestTest, ExecIOSendsOnlyWhileTheMainFormIsReadyAndXapIsNotSuppressed)
{
    exec("xap.ExecIO \"B2\", \"dim\", 30, 5");
    exec("xap.ExecIO \"B2\", \"OFF\", 30, 5");
    expectSent({
        x10Request({{"Device", "B2"}, {"Count", "30"}, {"Command", "dim"}}),
        x10Request({{"Device", "B2"}, {"Command", "OFF"}}),
    });
    gSuppressXAP = true;
    exec("xap.ExecIO \"B2\", \"on\", 0, 0 : xap.ExecX10 \"B3\", \"on\"");
    gSuppressXAP = false;
    gMainFormReady = false;
    exec("xap.ExecIO \"B2\", \"on\", 0, 0");
    // The other requests go out at any time.
    exec("xap.X10 \"A1\", \"on\", 0 : xap.SendIR \"4\" : xap.Speak \"hi\", False : xap.WriteLog \"t\", \"m\"");
    expectSent({
        x10Request({{"device", "A1"}, {"command", "on"}, {"count", "0"}}),
        irTransmit({{"Location", "4"}}),
        speech({{"Say", "hi"}, {"Device", "0"}}),
        logText("t", "m"),
    });
}

TEST_F(XapRequestTest, X10SendsLowerCaseItemsAndAZeroCountWhenLeftOut)
{
    exec("xap.X10 \"A1\", \"bright\", 3");
    exec("xap.X10 \"a2\", \"On\"");
    exec("xap.X10 12, 3.5, \"x\"");
    expectSent({
        x10Request({{"device", "A1"}, {"command", "bright"}, {"count", "3"}}),
        x10Request({{"device", "a2"}, {"command", "On"}, {"count", "0"}}),
        x10Request({{"device", "12"}, {"command", "3.5"}, {"count", "x"}}),
    });
    // X10 has no trap of its own: a value with no text reaches the script.
    exec("On Error Resume Next : xap.X10 Array(1), \"on\" : n = Err.Number : On Error GoTo 0");
    EXPECT_EQ(eval("n").toLong(), 13);
    expectSent({});
}

TEST_F(XapRequestTest, HsSetIOSendsOnlyBeforeTheMainFormStarted)
{
    exec("xap.hsSetIO Nothing, \"A\", \"1\", 19, 55, 1, 2");
    expectSent({});
    gHostStarted = false;
    exec("xap.hsSetIO Nothing, \"A\", \"1\", 19, 55, 1, 2");
    gMainFormReady = false;
    exec("xap.hsSetIO Nothing, \"A\", \"1\", 19, 55, 1, 2");
    expectSent({HostScriptTest::xapText("Tessera.IO", "Setio.Transmit",
                                        {{"Device", "A1"}, {"Value", "55"}, {"Command", "19"}, {"Data1", "1"},
                                         {"Data2", "2"}})});
}

TEST_F(XapRequestTest, SetX10StatusTellsTheX10CallbacksAndSetsTheStatus)
{
    auto recorder = registerRecorder(*m_hs, 16);
    exec("xap.SetX10Status \"C3\", \"dim\", 40, 2");
    exec("xap.SetX10Status \"C3\", \"DIM\", 41, 0");
    exec("xap.SetX10Status \"C3\", \"preset\", 0, 0");
    EXPECT_EQ(m_hs->deviceStatus("C3"), 17);
    ASSERT_EQ(recorder->calls.size(), 3u);
    EXPECT_EQ(recorder->calls[0], QStringList({"20", "3", "C", "dim", "40", "2"}));
    EXPECT_EQ(recorder->calls[1], QStringList({"16", "3", "C", "DIM", "41", "0"}));
    EXPECT_EQ(recorder->calls[2], QStringList({"20", "3", "C", "preset", "0", "0"}));
    gLoading = true;
    exec("xap.SetX10Status \"C4\", \"on\", 0, 0");
    gLoading = false;
    EXPECT_EQ(recorder->calls.size(), 3u) << "no callbacks while the host form loads";
    EXPECT_EQ(m_hs->deviceStatus("C4"), 2);
    expectSent({});
}

TEST_F(XapRequestTest, ExecX10ByNameAndNoLogAlsoSetTheStatus)
{
    QString name = QStringLiteral("Lamp");
    DeviceClassPtr lamp = m_hs->NewDeviceEx(name);
    lamp->set(DeviceClass::F_hc, Variant("D"));
    lamp->set(DeviceClass::F_DC, Variant("4"));
    lamp->set(DeviceClass::F_location, Variant("Den"));
    auto recorder = registerRecorder(*m_hs, 16);
    exec("r = xap.ExecX10ByName(\"den lamp\", \"on\")");
    EXPECT_EQ(eval("r").toLong(), 1);
    EXPECT_EQ(m_hs->deviceStatus("D4"), 2);
    exec("r = xap.ExecX10NoLog(\"E1\", \"bright\", 3)");
    EXPECT_EQ(eval("r").toLong(), 1);
    EXPECT_EQ(m_hs->deviceStatus("E1"), 5);
    exec("r = xap.ExecX10ByName(\"nobody\", \"off\", 12)");
    EXPECT_EQ(eval("r").toLong(), 1);
    expectSent({
        x10Request({{"Device", "D4"}, {"Command", "on"}}),
        x10Request({{"Device", "E1"}, {"Count", "3"}, {"Command", "bright"}}),
        logText(kProgramName, "SetDeviceValue Line 0 Subscript out of range"),
        logText(kProgramName, " DeviceStatus Line 0 Subscript out of range"),
        logText(kProgramName, "SetDeviceStatusNoReport Line 0 Subscript out of range"),
    });
    ASSERT_EQ(recorder->calls.size(), 3u);
    EXPECT_EQ(recorder->calls[0], QStringList({"20", "4", "D", "on", "0", "0"}));
    EXPECT_EQ(recorder->calls[2], QStringList({"20", "", "", "off", "12", "0"})) << "no device: the empty code";
}

TEST_F(XapRequestTest, SendIRByCodeOrByNameWithItsZone)
{
    gIRNameDictionary->add(Variant("TV,ON"), Variant("12,3"));
    gIRNameDictionary->add(Variant("AMP,ON"), Variant("7,0"));
    gIRNameDictionary->add(Variant("BAD,ONE"), Variant("x,1"));
    gIRNameDictionary->add(Variant("THREE,PARTS"), Variant("1,2,3"));
    exec("xap.SendIR \"12\"");
    exec("xap.SendIR \" 0012 \"");
    exec("xap.SendIR \"kitchen\"");
    exec("xap.SendIR \"tv,on\"");
    exec("xap.SendIR \"Amp,On\"");
    exec("xap.SendIR \"bad,one\" : xap.SendIR \"three,parts\" : xap.SendIR \"radio,on\"");
    expectSent({
        irTransmit({{"Location", "12"}}),
        irTransmit({{"Location", " 0012 "}}),
        irTransmit({{"Zone", "3"}, {"Location", "12"}}),
        irTransmit({{"Location", "7"}}),
    });
}

TEST_F(XapRequestTest, SpeechMembers)
{
    auto recorder = registerRecorder(*m_hs, 8);
    exec("xap.Speak \"Good morning\", True");
    ASSERT_EQ(recorder->calls.size(), 2u);
    EXPECT_EQ(recorder->calls[0], QStringList({"8", "1", "0"}));
    EXPECT_EQ(recorder->calls[1], QStringList({"8", "0", "0"}));
    exec("xap.SpeakEx 3, \"hello\"");
    exec("xap.SpeakToFile \"words\", \"Anna\", \"/tmp/out.wav\"");
    exec("xap.SpeakProxy 2, \"nothing\", False");
    gLoading = true;
    exec("xap.Speak \"loading\", False");
    gLoading = false;
    EXPECT_EQ(recorder->calls.size(), 2u) << "no speech callbacks while the host form loads";
    expectSent({
        speech({{"Say", "Good morning"}, {"Device", "0"}}),
        speech({{"Say", "hello"}, {"Device", "3"}}),
        speech({{"Say", "words"}, {"Device", "/tmp/out.wav"}, {"Voice", "Anna"}}),
        speech({{"Say", "loading"}, {"Device", "0"}}),
    });
}

TEST_F(XapRequestTest, SpeakSendsOnceWhenACallbackFails)
{
    auto recorder = registerRecorder(*m_hs, 8);
    recorder->during = [] { throw VbError(5); };
    exec("xap.Speak \"still\", False");
    EXPECT_EQ(recorder->calls.size(), 2u);
    expectSent({speech({{"Say", "still"}, {"Device", "0"}})});
}

TEST_F(XapRequestTest, WriteLogTellsTheLogCallbacksAndSendsALogEntry)
{
    const double moment = VbDate::dateSerial(2026, 12, 7) + VbDate::timeSerial(14, 5, 9);
    HostClock::setSource([moment] { return moment; });
    auto recorder = registerRecorder(*m_hs, 2);
    exec("xap.WriteLog \"Alarm\", \"door open\"");
    ASSERT_EQ(recorder->calls.size(), 1u);
    EXPECT_EQ(recorder->calls[0], QStringList({"2", "12/7/2026 2:05:09 PM", "Alarm", "door open"}));
    expectSent({HostScriptTest::xapText("Tessera.Event", "Event.Log",
                                        {{"Time", "12/7/2026 2:05:09 PM"}, {"Type", "Alarm"}, {"Data", "door open"}})});
}
