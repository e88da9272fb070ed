// Receive filters and tagged records: which messages a filter stores, what a
// record holds, how records survive a restart in the settings file.
#include "ScriptTestSupport.h"

#include "bridge/DeviceMessageClass.h"
#include "bridge/ReceiveMessages.h"
#include "bridge/ScriptQueue.h"
#include "bridge/TagTables.h"

#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include "automation/VbDate.h"

namespace {

class ReceiveMessagesTest : public ScriptTest
{
protected:
    DeviceMessageClassPtr record(const QString &tag) const
    {
        if (!gDeviceDictionary->exists(Variant(tag)))
            return nullptr;
        return std::dynamic_pointer_cast<DeviceMessageClass>(gDeviceDictionary->item(Variant(tag)).toObject());
    }
    static QStringList keysOf(const DeviceMessageClass &r)
    {
        QStringList out;
        for (const Variant &k : r.MessageKeyList->items())
            out.append(k.toString());
        return out;
    }
    static QStringList valuesOf(const DeviceMessageClass &r)
    {
        QStringList out;
        for (const Variant &v : r.MessageList->items())
            out.append(v.toString());
        return out;
    }
    // Filters and records from the settings file, as the start-up loads them.
    void start(const QByteArray &ini)
    {
        writeIni(ini);
        InitFilterDictionary();
        InitIRMacroDictionary();
        InitDeviceDictionary();
        AddXapTags();
    }
    QByteArray weather(const QString &source, const QStringList &items, const QString &cls = QStringLiteral("Weather.Report"))
    {
        return message(cls, QString(), {{QStringLiteral("weather.report"), items}}, source);
    }
};

TEST_F(ReceiveMessagesTest, AMatchingMessageIsStoredWholeUnderItsTag)
{
    start("[Received]\r\nacme.wx.pc:roof~Weather.Report=roof;1\r\n");
    receive(message("weather.report", QString(),
                    {{"Weather.Report", {"TempC=21.5", "Note=a=b", "Empty="}}, {"Wind", {"Speed=12", "No equals"}}},
                    "ACME.WX.PC:ROOF"));
    const DeviceMessageClassPtr r = record("roof");
    ASSERT_TRUE(r);
    EXPECT_EQ(keysOf(*r), QStringList({"weather.report.TempC", "weather.report.Note", "weather.report.Empty", "wind.Speed"}));
    EXPECT_EQ(valuesOf(*r), QStringList({"21.5", "a=b", "", "12"}));
    EXPECT_EQ(r->MessageList->item(Variant("WEATHER.REPORT.tempc")).toString(), "21.5");
    EXPECT_EQ(r->Sequence, 1);
    EXPECT_NEAR(r->LastChange, VbDate::oleNow(), 1.0 / 1440);
    EXPECT_EQ(PendingScriptEvents(), 1);

    // Without the sub-address the source is another one.
    receive(weather("acme.wx.pc", {"TempC=3"}));
    EXPECT_EQ(valuesOf(*record("roof")).first(), "21.5");
    EXPECT_EQ(PendingScriptEvents(), 1);
}

TEST_F(ReceiveMessagesTest, ALaterMessageReplacesTheListsAndCountsOn)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=roof;\r\nacme.wx.pc~Weather.Alert=alert;1\r\n");
    receive(weather("acme.wx.pc", {"TempC=21", "Hum=40"}));
    const CollectionPtr firstList = record("roof")->MessageList;
    receive(weather("acme.wx.pc", {"Alarm=frost"}, "Weather.Alert"));
    receive(weather("acme.wx.pc", {"TempC=22"}));
    EXPECT_EQ(keysOf(*record("roof")), QStringList({"weather.report.TempC"}));
    EXPECT_EQ(valuesOf(*record("roof")), QStringList({"22"}));
    // A script holding the old list keeps it unchanged.
    EXPECT_EQ(firstList->count(), 2);
    EXPECT_EQ(record("alert")->Sequence, 2);
    EXPECT_EQ(record("roof")->Sequence, 3);
    // The event flag "" stores without queueing; only the alert queued.
    EXPECT_EQ(PendingScriptEvents(), 1);
}

TEST_F(ReceiveMessagesTest, AFilterWhoseTagHasNoRecordStoresNothing)
{
    writeIni("[Received]\r\nacme.wx.pc~Weather.Report=roof;1\r\n");
    InitFilterDictionary();
    InitDeviceDictionary();
    receive(weather("acme.wx.pc", {"TempC=21"}));
    EXPECT_FALSE(gDeviceDictionary->exists(Variant("roof")));
    EXPECT_EQ(PendingScriptEvents(), 0);
    EXPECT_EQ(MessageSequence(), 0);
}

TEST_F(ReceiveMessagesTest, FilterTableLoadsFirstOfTwoKeysQuotesRemovedAndEmptySourceMatchesNothing)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=\"first\";1\r\nACME.WX.PC~weather.report=second;1\r\n"
          "~Weather.Report=nosource;1\r\n[IRMacro]\r\nTV On=3,4,5\r\ntv on=9\r\n");
    EXPECT_EQ(gFilterDictionary->count(), 2);
    EXPECT_EQ(gFilterDictionary->item(Variant("acme.wx.pc~weather.report")).toString(), "first;1");
    EXPECT_EQ(gIRMacroDictionary->item(Variant("tv on")).toString(), "3,4,5");
    EXPECT_TRUE(record("first"));
    EXPECT_TRUE(record("nosource"));
    // A message without a source line reads "Unknown" and matches no filter.
    receive("xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=Weather.Report\n}\nweather.report\n{\nA=1\n}\n");
    EXPECT_EQ(MessageSequence(), 0);
    EXPECT_TRUE(logData().filter("CheckReceivedMessage").isEmpty());

    writeIni("");
    InitFilterDictionary();
    EXPECT_EQ(gFilterDictionary->count(), 0);
    receive(weather("acme.wx.pc", {"TempC=21"}));
    EXPECT_EQ(MessageSequence(), 0);
}

TEST_F(ReceiveMessagesTest, RecordsSurviveASaveAndALoad)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;1\r\n");
    auto quiet = std::make_shared<DeviceMessageClass>();
    quiet->Tag = "Quiet";
    quiet->LastChange = VbDate::dateSerial(2000, 1, 1);
    gDeviceDictionary->add(Variant("Quiet"), Variant(ObjectPtr(quiet)));
    receive(weather("acme.wx.pc", {"TempC=21.5", "Wind Dir=NE"}));
    const double stored = record("Roof")->LastChange;
    SaveDeviceDictionary();

    const QByteArray ini = readIni();
    EXPECT_TRUE(ini.contains("[DEVICES]\r\nQuiet=1/1/2000\r\nRoof=" + VbDate::formatGeneralDate(stored).toLatin1()
                             + ";weather.report.TempC;weather.report.Wind Dir\r\n"))
        << ini.constData();
    EXPECT_TRUE(ini.contains("[DEVICE MESSAGES]\r\nRoof.weather.report.TempC=21.5\r\nRoof.weather.report.Wind Dir=NE\r\n"))
        << ini.constData();

    HostIniCache().reset();
    InitDeviceDictionary();
    const DeviceMessageClassPtr roof = record("roof");
    ASSERT_TRUE(roof);
    EXPECT_EQ(roof->Tag, "Roof");
    EXPECT_EQ(keysOf(*roof), QStringList({"weather.report.tempc", "weather.report.wind dir"}));
    EXPECT_EQ(valuesOf(*roof), QStringList({"21.5", "NE"}));
    EXPECT_NEAR(roof->LastChange, stored, 1.5 / 86400);
    EXPECT_EQ(roof->Sequence, 0);
    EXPECT_EQ(record("quiet")->MessageList->count(), 0);
}

TEST_F(ReceiveMessagesTest, LoadingTakesABadDateAsNeverAndSkipsRepeatedTags)
{
    writeIni("[Devices]\r\nA=not a date;x.y\r\na=1/2/2020;z.z\r\nB=2020-03-04 05:06:07\r\n=orphan\r\n"
             "[Device Messages]\r\na.x.y=one\r\n");
    InitDeviceDictionary();
    EXPECT_EQ(gDeviceDictionary->count(), 2);
    EXPECT_EQ(record("A")->LastChange, VbDate::dateSerial(2000, 1, 1));
    EXPECT_EQ(valuesOf(*record("A")), QStringList({"one"}));
    EXPECT_EQ(record("B")->LastChange, VbDate::dateSerial(2020, 3, 4) + VbDate::timeSerial(5, 6, 7));
}

TEST_F(ReceiveMessagesTest, AFaultyRecordIsLoggedAndTheOthersAreSaved)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;\r\n");
    auto broken = std::make_shared<DeviceMessageClass>();
    broken->Tag = "Broken";
    broken->MessageList->add(Variant("orphan value"), "k"); // a value without its key
    gDeviceDictionary->add(Variant("Broken"), Variant(ObjectPtr(broken)));
    auto after = std::make_shared<DeviceMessageClass>();
    after->addItem("b.c", "kept");
    gDeviceDictionary->add(Variant("After"), Variant(ObjectPtr(after)));
    SaveDeviceDictionary();
    const QByteArray ini = readIni();
    EXPECT_TRUE(ini.contains("\r\nAfter.b.c=kept\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("\r\nRoof=1/1/2000\r\n")) << ini.constData();
    EXPECT_FALSE(logData().filter("SaveDeviceDictionary").isEmpty());
}

TEST_F(ReceiveMessagesTest, ReceivedLineEndsNeverReachTheSettingsFile)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;\r\n");
    receive(weather("acme.wx.pc", {"Note=one\r[tspi_quillon]\rHTTPPort=1\r", "Key\rInjected=x"}));
    EXPECT_EQ(valuesOf(*record("Roof")).first(), "one\r[tspi_quillon]\rHTTPPort=1\r");
    SaveDeviceDictionary();
    const QByteArray ini = readIni();
    EXPECT_FALSE(ini.contains("[TSPI_QUILLON]")) << ini.constData();
    EXPECT_EQ(ini.count('\r'), ini.count('\n'));

    HostIniCache().reset();
    QString section = "tspi_quillon", key = "HTTPPort", def = "none", file = "tvkXapKorvane.ini";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "none");
    InitDeviceDictionary();
    EXPECT_EQ(record("Roof")->MessageList->count(), 2);
    EXPECT_TRUE(valuesOf(*record("Roof")).first().startsWith("one [tspi_quillon] HTTPPort=1"));
}

TEST_F(ReceiveMessagesTest, OneKeyGivenTwiceByTwoBlocksKeepsTheFirst)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;\r\n");
    receive(message("Weather.Report", QString(), {{"a.b", {"c=first"}}, {"a", {"b.c=second", "d=x"}}}, "acme.wx.pc"));
    EXPECT_EQ(keysOf(*record("Roof")), QStringList({"a.b.c", "a.d"}));
    EXPECT_EQ(valuesOf(*record("Roof")), QStringList({"first", "x"}));
}

} // namespace

// An item name holding ";" would be split in two by the stored key list: it is stored with
// "," in its place (one log entry per save) and its value comes back after a restart.
TEST_F(ReceiveMessagesTest, ASemicolonInAnItemNameKeepsItsValueAcrossARestart)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;\r\n");
    receive(weather("acme.wx.pc", {"a;b=one", "c;d;e=two", "plain=three"}));
    SaveDeviceDictionary();
    EXPECT_EQ(logData().filter("SaveDeviceDictionary").size(), 1);
    EXPECT_TRUE(logData().contains("SaveDeviceDictionary: 2 item name(s) holding \";\" stored with \",\""))
        << logData().join("\n").toStdString();

    HostIniCache().reset();
    InitDeviceDictionary();
    const DeviceMessageClassPtr roof = record("Roof");
    ASSERT_TRUE(roof);
    EXPECT_EQ(keysOf(*roof), QStringList({"weather.report.a,b", "weather.report.c,d,e", "weather.report.plain"}));
    EXPECT_EQ(valuesOf(*roof), QStringList({"one", "two", "three"}));
}

// A script may set either list of a record to Nothing: it reads as an empty list, and the
// save goes on with the other records.
TEST_F(ReceiveMessagesTest, AListSetToNothingReadsAsEmpty)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;\r\n");
    receive(weather("acme.wx.pc", {"TempC=21.5"}));
    const DeviceMessageClassPtr roof = record("Roof");
    ASSERT_TRUE(roof);
    std::vector<Variant> nothing{Variant::nothing()};
    roof->invoke(QStringLiteral("MessageList"), CallKind::PropertySet, nothing);
    EXPECT_EQ(roof->get(QStringLiteral("MessageList")).toObject()->get(QStringLiteral("Count")).toLong(), 0);
    auto other = std::make_shared<DeviceMessageClass>();
    other->addItem("b.c", "kept");
    nothing = {Variant::nothing()};
    other->invoke(QStringLiteral("MessageKeyList"), CallKind::PropertySet, nothing);
    gDeviceDictionary->add(Variant("Other"), Variant(ObjectPtr(other)));
    SaveDeviceDictionary();
    const QByteArray ini = readIni();
    EXPECT_TRUE(ini.contains("\r\nRoof=")) << ini.constData();
    EXPECT_TRUE(ini.contains("\r\nOther=")) << ini.constData();
}

// Released at Exit, the dictionary must not be saved as empty sections over the records.
TEST_F(ReceiveMessagesTest, AReleasedDictionaryLeavesTheStoredRecordsAndIsLogged)
{
    start("[Received]\r\nacme.wx.pc~Weather.Report=Roof;1\r\n");
    receive(weather("acme.wx.pc", {"TempC=21.5"}));
    SaveDeviceDictionary();
    const QByteArray before = readIni();
    ASSERT_TRUE(before.contains("Roof.weather.report.TempC=21.5")) << before.constData();
    gDeviceDictionary.reset();
    SaveDeviceDictionary();
    m_hs->FlushIniCache();
    EXPECT_EQ(readIni(), before);
    EXPECT_FALSE(logData().filter("SaveDeviceDictionary not written").isEmpty());
}
