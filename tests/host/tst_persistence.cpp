#include "HostTestSupport.h"
#include "LiveXap.h"

#include "host/DeviceStore.h"
#include "host/HostGlobals.h"
#include "host/IR.h"
#include "host/IniCache.h"
#include "host/Setup.h"
#include "host/StateTables.h"

#include "core/Globals.h"

#include "automation/ClassRegistry.h"
#include "automation/VbDate.h"

namespace {

class PersistenceTest : public HostTest
{
protected:
    // What a restart leaves: nothing in memory, the files on disk.
    void restart()
    {
        ReleaseHostCollections();
        gIRSlots.reset();
        States().reset();
        HostIniCache().reset();
        ReferenceCounter() = 0;
        gDeviceDictionary = std::make_shared<Dictionary>(Dictionary::TextCompare);
    }

    void writeStore(const QByteArray &lines)
    {
        writeFile(configPath("tvkXapKorvane.ini"), "[PluginDevices]\r\n" + lines);
    }

    DeviceClassPtr device(const char *code) { return m_hs->deviceByCode(QString::fromLatin1(code)); }
};

// Stands in for the bridge's tagged record, which the store creates by ProgID.
class TaggedRecord : public DispatchObject<TaggedRecord>
{
public:
    static void describe(DispatchTable<TaggedRecord> &t)
    {
        t.name("DeviceMessageClass");
        t.property("DC", &TaggedRecord::dc, &TaggedRecord::setDc);
        t.property("LastChange", &TaggedRecord::lastChange, &TaggedRecord::setLastChange);
        t.property("Value", &TaggedRecord::value, &TaggedRecord::setValue);
    }
    QString dc() const { return m_dc; }
    void setDc(const QString &v) { m_dc = v; }
    Variant lastChange() const { return m_last; }
    void setLastChange(const Variant &v) { m_last = v; }
    QString value() const { return m_value; }
    void setValue(const QString &v) { m_value = v; }

private:
    QString m_dc, m_value;
    Variant m_last;
};

class Plugin : public DispatchObject<Plugin>
{
public:
    static void describe(DispatchTable<Plugin> &t)
    {
        t.name("Plugin");
        t.get("Capabilities", &Plugin::Capabilities);
        t.method("ShutDownX10", &Plugin::ShutDownX10);
        t.method("ShutDownIR", &Plugin::ShutDownIR);
        t.method("ShutdownIO", &Plugin::ShutdownIO);
    }
    int Capabilities() const { return 7; }
    void ShutDownX10() { calls << "X10"; }
    void ShutDownIR() { calls << "IR"; }
    void ShutdownIO() { calls << "IO"; }
    QStringList calls;
};

} // namespace

TEST_F(PersistenceTest, DevicesStateAndIRSlotsSurviveARestart)
{
    QString name = "Lamp";
    auto lamp = m_hs->NewDeviceEx(name);
    lamp->set(DeviceClass::F_hc, Variant("a"));
    lamp->set(DeviceClass::F_DC, Variant("12"));
    lamp->set(DeviceClass::F_location, Variant("Kitchen"));
    lamp->set(DeviceClass::F_interface, Variant("Veltro Quillon"));
    lamp->set(DeviceClass::F_iotype, Variant(1));
    lamp->set(DeviceClass::F_iomisc, Variant("3 relay"));
    lamp->set(DeviceClass::F_misc, Variant(70000));
    lamp->set(DeviceClass::F_dev_type_string, Variant("Relay"));
    lamp->set(DeviceClass::F_ScriptTag, Variant("kitchen"));
    lamp->set(DeviceClass::F_TriggerEvent, Variant(true));
    QString code = "A12", text = "on, \"bright\"";
    qint16 status = 2;
    int value = -5;
    Variant when = Variant::fromDate(VbDate::dateSerial(2024, 2, 29) + VbDate::timeSerial(13, 5, 7));
    Variant reset;
    m_hs->SetDeviceStatus(code, status);
    m_hs->SetDeviceValue(code, value);
    m_hs->SetDeviceString(code, text, reset);
    m_hs->SetDeviceLastChange(code, when);

    DeviceStore::ReadIRDevices();
    ASSERT_EQ(gIRSlots->count(), 1024);
    auto slot5 = std::static_pointer_cast<IR>(gIRSlots->item(Variant(6)).toObject());
    slot5->storeField(IR::F_TriggerEvent, Variant(true));
    auto slot9 = std::static_pointer_cast<IR>(gIRSlots->item(Variant(10)).toObject());
    slot9->storeField(IR::F_ScriptTag, Variant("remote"));
    slot9->storeField(IR::F_LastChange, when);

    DeviceStore::SaveDevices();
    m_hs->FlushIniCache();
    const QByteArray file = readFile(configPath("tvkXapKorvane.ini"));
    EXPECT_TRUE(file.contains("A12=Kitchen;Lamp;Veltro Quillon;1;3 relay;70000;Relay;2;-5;2/29/2024 1:05:07 PM;on, "
                              "\"bright\";kitchen;True\r\n"))
        << file.constData();
    EXPECT_TRUE(file.contains("[IRDEVICES]\r\nR5=1/1/2000;;True\r\nR9=2/29/2024 1:05:07 PM;remote;False\r\n"))
        << file.constData();

    restart();
    ClassRegistry::instance().add("xaptvkKorvane.DeviceMessageClass", [] { return std::make_shared<TaggedRecord>(); });
    EXPECT_TRUE(DeviceStore::InitDevices());
    ASSERT_EQ(m_hs->DeviceCount(), 1);
    auto back = device("A12");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->hc(), "A");
    EXPECT_EQ(back->DC(), "12");
    EXPECT_EQ(back->location(), "Kitchen");
    EXPECT_EQ(back->name(), "Lamp");
    EXPECT_EQ(back->interfaceName(), "Veltro Quillon");
    EXPECT_EQ(back->iotype(), 1);
    EXPECT_EQ(back->iomisc(), "3 relay");
    EXPECT_EQ(back->misc(), 70000);
    EXPECT_EQ(back->devTypeString(), "Relay");
    EXPECT_EQ(back->scriptTag(), "kitchen");
    EXPECT_TRUE(back->triggerEvent());
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
    EXPECT_EQ(m_hs->DeviceValue(code), -5);
    EXPECT_EQ(m_hs->DeviceString(code), "on, bright") << "the store drops double quotes";
    EXPECT_EQ(m_hs->DeviceLastChange(code).toDate(), when.toDate());

    ASSERT_TRUE(gDeviceDictionary->exists(Variant("KITCHEN")));
    ObjectPtr tagged = gDeviceDictionary->item(Variant("kitchen")).toObject();
    EXPECT_EQ(tagged->get("DC").toString(), "A12");
    EXPECT_EQ(tagged->get("Value").toString(), "-5");
    EXPECT_EQ(tagged->get("LastChange").toDate(), when.toDate());

    ASSERT_EQ(gIRSlots->count(), 1024);
    auto r5 = std::static_pointer_cast<IR>(gIRSlots->item(Variant(6)).toObject());
    EXPECT_TRUE(r5->triggerEvent());
    EXPECT_EQ(r5->lastChange(), IR::neverChanged());
    EXPECT_EQ(r5->dc(), "R5");
    auto r9 = std::static_pointer_cast<IR>(gIRSlots->item(Variant(10)).toObject());
    EXPECT_EQ(r9->scriptTag(), "remote");
    EXPECT_EQ(r9->lastChange(), when.toDate());
    auto r0 = std::static_pointer_cast<IR>(gIRSlots->item(Variant(1)).toObject());
    EXPECT_EQ(r0->scriptTag(), QString());
    EXPECT_FALSE(r0->triggerEvent());
}

TEST_F(PersistenceTest, DeletedLastDeviceStaysDeleted)
{
    QString name = "Only";
    auto only = m_hs->NewDeviceEx(name);
    DeviceStore::SaveDevices();
    m_hs->FlushIniCache();
    restart();
    ASSERT_TRUE(DeviceStore::InitDevices());
    int ref = m_hs->deviceAt(1)->ref();
    m_hs->DeleteDevice(ref);
    DeviceStore::SaveDevices();
    m_hs->FlushIniCache();
    restart();
    EXPECT_FALSE(DeviceStore::InitDevices());
    EXPECT_EQ(m_hs->DeviceCount(), 0);
    EXPECT_TRUE(QFile::exists(configPath("tvkXapKorvane.ini_bck")));
}

TEST_F(PersistenceTest, LinesOfTheStoreAreReadLeniently)
{
    writeStore("a1=Hall;Light;;2.5;io;3.5;;3;7;;;;1\r\n"
               "B=Short;Key\r\n"
               "C1=\r\n"
               "no equals sign\r\n"
               "D1=L;N;I;0;;0;;2;4;1/2/2020;s;tag;False;extra;more\r\n"
               "E1=L;N;I\r\n"
               "F1=L;N;I;0;;0;;2;4;1/2/2020;a;b;c;True\r\n"
               "G1=L;N;I;0;;0;;2;4;not a date;;;\r\n"
               "H1=L;N;I;99999999999;;0;;2;4;;;;\r\n");
    QString g1 = "G1";
    Variant earlier = Variant::fromDate(1234.0);
    m_hs->SetDeviceLastChange(g1, earlier);
    const int before = sent();
    EXPECT_TRUE(DeviceStore::InitDevices());
    EXPECT_EQ(m_hs->DeviceCount(), 6);

    auto a1 = device("A1");
    ASSERT_TRUE(a1);
    EXPECT_EQ(a1->hc(), "A") << "keys load in upper case";
    EXPECT_EQ(a1->iotype(), 2) << "2.5 rounds to even";
    EXPECT_EQ(a1->misc(), 4);
    EXPECT_TRUE(a1->triggerEvent()) << "1 counts as true";
    EXPECT_FALSE(device("B")) << "a one-character key is skipped";
    EXPECT_FALSE(device("C1")) << "an empty value is skipped";

    auto d1 = device("D1");
    ASSERT_TRUE(d1);
    EXPECT_EQ(d1->scriptTag(), "tag");
    EXPECT_FALSE(d1->triggerEvent());

    auto e1 = device("E1");
    ASSERT_TRUE(e1);
    QString e = "E1";
    EXPECT_EQ(e1->devTypeString(), QString());
    EXPECT_EQ(m_hs->DeviceStatus(e), 0);
    EXPECT_EQ(m_hs->DeviceLastChange(e).toDate(), 0.0);

    auto f1 = device("F1");
    ASSERT_TRUE(f1);
    QString f = "F1";
    EXPECT_EQ(m_hs->DeviceString(f), "a") << "a ';' in the string shifts the later fields";
    EXPECT_EQ(f1->scriptTag(), "b");
    EXPECT_FALSE(f1->triggerEvent());

    EXPECT_EQ(m_hs->DeviceLastChange(g1).toDate(), 1234.0) << "an unreadable date keeps the old time";
    EXPECT_EQ(m_hs->DeviceStatus(g1), 2) << "and the rest of the line still loads";
    EXPECT_TRUE(device("H1")) << "an overflowing number is logged, the device kept";
    EXPECT_GE(sent() - before, 2) << "the bad date and the overflow are logged";
}

TEST_F(PersistenceTest, DamagedStoreLinesAreLoggedAndTheRestLoads)
{
    const struct {
        const char *what;
        QByteArray lines;
        int devices;
        int logged;
    } cases[] = {
        {"a whole line", "A1=L;N;I;0;;0;;2;4;1/2/2020;s;t;False\r\n", 1, 0},
        {"more than 13 fields", "A1=L;N;I;0;;0;;2;4;1/2/2020;s;t;False;x;y\r\n", 1, 0},
        {"a one-character key", "B=Short;Key\r\n", 0, 1},
        {"two short keys, one entry", "B=x\r\nC=y\r\nA1=L;N\r\n", 1, 1},
        {"an overflowing number", "A1=L;N;I;99999999999;;0;;2;4;;;;\r\n", 1, 1},
        {"an overflowing status", "A1=L;N;I;0;;0;;70000;4;;;;\r\n", 1, 1},
        {"an impossible date", "A1=L;N;I;0;;0;;2;4;31/31/2020;;;\r\n", 1, 1},
        // A NUL inside a value splits the section text: its tail is a line of its own.
        {"binary bytes", QByteArray("\x01\xff=\xfe;\x00;\x7f\r\nA1=L\r\n", 17), 2, 1},
    };
    for (const auto &c : cases) {
        restart();
        writeStore(c.lines);
        const int before = sent();
        EXPECT_TRUE(DeviceStore::InitDevices()) << c.what;
        EXPECT_EQ(m_hs->DeviceCount(), c.devices) << c.what;
        EXPECT_EQ(sent() - before, c.logged) << c.what;
        EXPECT_EQ(gIRSlots->count(), 1024) << c.what;
    }
}

TEST_F(PersistenceTest, DamagedDeviceStateFilesAreLoggedAndNeverCrash)
{
    const struct {
        const char *what;
        QByteArray text;
        qint16 status; // of B3 afterwards (it starts at 1)
        int value;     // of B3 afterwards (it starts at 0)
        int logged;
    } cases[] = {
        {"a whole line", "B3,2,15,1/2/2020,EF\r\n", 2, 15, 0},
        {"an empty file", "", 1, 0, 0},
        {"blank lines only", "\r\n\n\r\n", 1, 0, 0},
        {"three fields", "B3,3,16\r\n", 1, 0, 1},
        {"six fields", "B3,3,16,1/1/2020,EF,x\r\n", 1, 0, 1},
        {"bad lines around a good one", "x,y\nB3,2,1,1/1/2020,\nq\n", 2, 1, 1},
        {"a code no device has", "Z9,2,1,1/1/2020,EF\r\n", 1, 0, 0},
        {"an overflowing status", "B3,99999,1,1/1/2020,EF\r\nB3,2,7,1/1/2020,EF\r\n", 1, 0, 1},
        {"an unreadable date ends the reading", "B3,2,15,not a date,EF\r\nB3,3,9,1/1/2020,EF\r\n", 2, 15, 1},
        {"a string of odd length", "B3,2,15,1/1/2020,ABC\r\n", 2, 15, 1},
        {"binary garbage", QByteArray("\x00\xff\xfe,\x01\r\n\x80\x81\x82", 11), 1, 0, 1},
        {"no line end at the end", "B3,2,15,1/2/2020,EF", 2, 15, 0},
    };
    for (const auto &c : cases) {
        restart();
        QString name = "Lamp";
        auto d = m_hs->NewDeviceEx(name);
        d->set(DeviceClass::F_hc, Variant("B"));
        d->set(DeviceClass::F_DC, Variant("3"));
        QString code = "B3";
        qint16 one = 1;
        m_hs->SetDeviceStatus(code, one);
        writeFile(m_dir.path() + "/device_state.txt", c.text);
        const int before = sent();
        DeviceStore::ReadDeviceState();
        EXPECT_EQ(sent() - before, c.logged) << c.what;
        EXPECT_EQ(m_hs->DeviceStatus(code), c.status) << c.what;
        EXPECT_EQ(m_hs->DeviceValue(code), c.value) << c.what;
    }
}

TEST_F(PersistenceTest, DeviceStateFileAppliesToExistingDevices)
{
    QString name = "Lamp";
    auto d = m_hs->NewDeviceEx(name);
    d->set(DeviceClass::F_hc, Variant("B"));
    d->set(DeviceClass::F_DC, Variant("3"));
    writeFile(m_dir.path() + "/Device_State.txt",
              "b3,2,15,1/2/2020 3:04:05 AM,EFEF12\r\n"
              "B3,3,16\r\n"
              "Z9,2,1,1/1/2020,EF\r\n");
    DeviceStore::ReadDeviceState();
    QString code = "B3", z = "Z9";
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
    EXPECT_EQ(m_hs->DeviceValue(code), 15);
    EXPECT_EQ(m_hs->DeviceString(code), "EE18");
    EXPECT_EQ(VbDate::formatGeneralDate(m_hs->DeviceLastChange(code).toDate()), "1/2/2020 3:04:05 AM");
    EXPECT_EQ(m_hs->DeviceStatus(z), 0);

    // A string that does not decode ends the reading, logged.
    writeFile(m_dir.path() + "/device_state.txt", "B3,3,1,1/1/2020,ABC\r\nB3,2,99,1/1/2020,EF\r\n");
    const int before = sent();
    DeviceStore::ReadDeviceState();
    EXPECT_EQ(sent(), before + 1);
    EXPECT_EQ(m_hs->DeviceValue(code), 1);
}

TEST_F(PersistenceTest, HostFormLoadReadsTheStoreAndNotTheXml)
{
    writeStore("A1=Room;Lamp;;0;;0;;2;0;;;;False\r\n");
    writeFile(configPath("tvkXapKorvane.ini"), readFile(configPath("tvkXapKorvane.ini"))
                                                   + "[tspi_quillon]\r\nSerialIP=\"192.168.1.5\"\r\nHTTPPort=8123\r\n");
    writeFile(m_dir.path() + "/device_state.txt", "A1,3,9,1/1/2020,\r\n");
    writeFile(configPath("settings.ini"), "[Settings]\r\nconfigfile=" + m_dir.path().toUtf8() + "/house.xml\r\n");
    writeFile(m_dir.path() + "/house.xml", "<xml/>");
    hs.reset();
    ::Setup form;
    form.Form_Load();
    EXPECT_FALSE(gLoading);
    ASSERT_TRUE(hs);
    EXPECT_EQ(hs->DeviceCount(), 1);
    QString code = "A1";
    EXPECT_EQ(hs->DeviceStatus(code), 2) << "device_state.txt is not read with a store";
    EXPECT_EQ(gConfigFilePath, m_dir.path() + "/house.xml");
    EXPECT_EQ(gSerialIPAddress, "192.168.1.5");
    EXPECT_TRUE(gUseSerialComm);
    EXPECT_EQ(gHTTPPort, "8123");
    EXPECT_EQ(gStyleSheet, "StyleNoBody.css");
    EXPECT_EQ(gX10CommandTable->item(Variant("on")).toLong(), 2);
    EXPECT_EQ(gX10CommandTable->item(Variant("Bright")).toLong(), 5);
    gIRNameDictionary->add(Variant("TV ON"), Variant("1,0"));
    EXPECT_FALSE(gIRNameDictionary->exists(Variant("tv on")));
    EXPECT_EQ(gX10FunctionNames.size(), 16);
    EXPECT_EQ(gIOHouseChars.size(), 31);
    EXPECT_TRUE(QDir(m_dir.path() + "/Data/xaptvkKorvane").exists());
    ASSERT_TRUE(gIRSlots);
    EXPECT_EQ(gIRSlots->count(), 1024);

    // Exit: the store is saved and flushed, the plug-in's X10 and IR sides shut down.
    int status = 3;
    qint16 s3 = qint16(status);
    hs->SetDeviceStatus(code, s3);
    auto plugin = std::make_shared<Plugin>();
    gPluginCollection = std::make_shared<Collection>();
    gPluginCollection->add(Variant::nothing(), "released"); // skipped, the walk goes on
    gPluginCollection->add(Variant(ObjectPtr(plugin)), "Veltro Quillon");
    form.Form_Unload();
    EXPECT_EQ(plugin->calls, (QStringList{"X10", "IR"}));
    EXPECT_FALSE(hs);
    EXPECT_TRUE(readFile(configPath("tvkXapKorvane.ini")).contains("A1=Room;Lamp;;0;;0;;3;0;"));
    EXPECT_TRUE(readFile(configPath("tvkXapKorvane.ini")).contains("HTTPPort=8123"));
}

TEST_F(PersistenceTest, EmptyStoreImportsTheXmlAndThenTheStateFile)
{
    writeFile(configPath("Settings.INI"), "[Settings]\r\nconfigfile=" + m_dir.path().toUtf8() + "/missing.xml\r\n");
    writeFile(m_dir.path() + "/device_state.txt", "A1,3,9,1/1/2020,\r\n");
    writeFile(configPath("tvkXapKorvane.ini"), "[tspi_quillon]\r\nSerialIP=COM3\r\n");
    ::Setup form;
    form.Form_Load();
    EXPECT_FALSE(gLoading);
    EXPECT_EQ(hs->DeviceCount(), 0);
    EXPECT_FALSE(gUseSerialComm);
    EXPECT_EQ(gConfigFilePath, m_dir.path() + "/missing.xml") << "Settings.INI found without regard to case";
    QString name = "New";
    EXPECT_EQ(hs->NewDeviceEx(name)->ref(), 0) << "the import restarts the numbering";
    form.Form_Unload();
}

namespace {
// The pair encoding of device_state.txt for any Latin-1 text: each character as two letters.
QByteArray pairEncoded(const QByteArray &text)
{
    QByteArray encoded;
    for (const char c : text) {
        const int code = static_cast<unsigned char>(c);
        encoded += char('A' + code / 16);
        encoded += char('A' + code % 16);
    }
    return encoded;
}
} // namespace

// Texts from the XML configuration or device_state.txt that hold line breaks or ";" survive
// a save and a restart as the same devices: no line of their own, no shifted fields.
TEST_F(PersistenceTest, TextsCannotAddLinesOrShiftFieldsOfTheStore)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    writeFile(configPath("tvkXapKorvane.ini"), "[tspi_quillon]\r\nCommPort=4\r\n");
    QString name = "Lamp; hall";
    auto lamp = m_hs->NewDeviceEx(name);
    lamp->set(DeviceClass::F_hc, Variant("A"));
    lamp->set(DeviceClass::F_DC, Variant("1"));
    lamp->set(DeviceClass::F_location, Variant("Hall\r\nZ9=Ghost;Device\r\n"));
    lamp->set(DeviceClass::F_ScriptTag, Variant("tag"));
    lamp->set(DeviceClass::F_TriggerEvent, Variant(true));
    writeFile(m_dir.path() + "/device_state.txt",
              "A1,2,5,1/2/2020," + pairEncoded("x\r\n[TSPI_QUILLON]\r\nCommPort=/dev/evil") + "\r\n");
    DeviceStore::ReadDeviceState();
    QString code = "A1";
    ASSERT_EQ(m_hs->DeviceString(code), "x\r\n[TSPI_QUILLON]\r\nCommPort=/dev/evil");

    DeviceStore::SaveDevices();
    m_hs->FlushIniCache();
    const QByteArray text = readFile(configPath("tvkXapKorvane.ini"));
    EXPECT_EQ(text.count("\r\n"), 4) << text.toStdString();
    EXPECT_EQ(xapOut.logData(), QStringList({"SaveDevices stored 2 text(s) with \";\" written as \",\""}));

    restart();
    EXPECT_TRUE(DeviceStore::InitDevices());
    EXPECT_EQ(m_hs->DeviceCount(), 1);
    ASSERT_TRUE(device("A1"));
    EXPECT_FALSE(device("Z9"));
    EXPECT_EQ(device("A1")->name(), "Lamp, hall");
    EXPECT_EQ(device("A1")->location(), "Hall  Z9=Ghost,Device  ");
    EXPECT_EQ(device("A1")->scriptTag(), "tag");
    EXPECT_TRUE(device("A1")->triggerEvent());
    EXPECT_EQ(m_hs->DeviceStatus(code), 2);
    EXPECT_EQ(m_hs->DeviceString(code), "x  [TSPI_QUILLON]  CommPort=/dev/evil");
    QString section = "tspi_quillon", key = "CommPort", def = "1", file = "tvkXapKorvane.ini";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "4");
}

// The log entries about damaged files go out on the network: they name the file, the count
// and the first bad line's number, never the bytes of a line.
TEST_F(PersistenceTest, DamagedLinesAreLoggedByPlaceNotByText)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    writeStore("A1=L;N\r\nB=secret one\r\nC=secret two\r\n");
    EXPECT_TRUE(DeviceStore::InitDevices());
    writeFile(m_dir.path() + "/device_state.txt", "\r\nA1,2,1,1/1/2020,EF\r\nsecret,three\r\nsecret four\r\n");
    DeviceStore::ReadDeviceState();
    const QStringList logged = xapOut.logData();
    EXPECT_EQ(logged, QStringList({
                          "InitDevices skipped 2 malformed line(s) of tvkXapKorvane.ini [PluginDevices], the first is line 2",
                          "ReadDeviceState skipped 2 malformed line(s) of device_state.txt, the first is line 3",
                      }));
}

// The store is in the scripts' code page: a name with a euro sign or an en dash goes to disk as
// bytes 128 and 150 and comes back the same; device_state.txt's pair codes are bytes of it too.
TEST_F(PersistenceTest, CodePageCharactersOfDevicesSurviveASaveAndARestart)
{
    writeFile(configPath("tvkXapKorvane.ini"), "[tspi_quillon]\r\nCommPort=4\r\n");
    const QString name = QString::fromUtf8("Caf\u00e9 \u20ac \u2013 \u0152uvre");
    QString newName = name;
    auto lamp = m_hs->NewDeviceEx(newName);
    lamp->set(DeviceClass::F_hc, Variant("A"));
    lamp->set(DeviceClass::F_DC, Variant("1"));
    lamp->set(DeviceClass::F_location, Variant(QString(QChar(0x2018)) + "Hall" + QChar(0x2019)));
    writeFile(m_dir.path() + "/device_state.txt", "A1,2,5,1/2/2020," + pairEncoded("\x80\x96\x9f") + "\r\n");
    DeviceStore::ReadDeviceState();
    QString code = "A1";
    EXPECT_EQ(m_hs->DeviceString(code), QString::fromUtf8("\u20ac\u2013\u0178"));

    DeviceStore::SaveDevices();
    m_hs->FlushIniCache();
    const QByteArray text = readFile(configPath("tvkXapKorvane.ini"));
    EXPECT_TRUE(text.contains("\r\nA1=\x91Hall\x92;Caf\xe9 \x80 \x96 \x8cuvre;")) << text.toHex(' ').toStdString();
    EXPECT_TRUE(text.contains(";\x80\x96\x9f;")) << text.toHex(' ').toStdString();

    restart();
    EXPECT_TRUE(DeviceStore::InitDevices());
    ASSERT_TRUE(device("A1"));
    EXPECT_EQ(device("A1")->name(), name);
    EXPECT_EQ(device("A1")->location(), QString(QChar(0x2018)) + "Hall" + QChar(0x2019));
    EXPECT_EQ(m_hs->DeviceString(code), QString::fromUtf8("\u20ac\u2013\u0178"));
}

// The store is rewritten from the host's collections: once one of them is gone (Exit's unload
// released it) a save must leave the file as it is and say so, not write it empty.
TEST_F(PersistenceTest, SavesOfReleasedCollectionsLeaveTheStoreAndAreLogged)
{
    struct Case {
        const char *name;
        std::function<void()> release;
        std::function<void()> save;
        const char *logged;
    };
    const Case cases[] = {
        {"host object", [] { hs.reset(); }, [] { DeviceStore::SaveDevices(); }, "SaveDevices not written"},
        {"device collection", [] { ReleaseHostCollections(); }, [] { DeviceStore::SaveDevices(); }, "SaveDevices not written"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LiveXap xapOut;
        ASSERT_TRUE(xapOut.ready);
        writeStore("A1=Hall;Lamp;Veltro Quillon;0;;0;X10;2;0;;;;False\r\n");
        restart();
        hs = m_hs;
        ASSERT_TRUE(DeviceStore::InitDevices());
        const QByteArray before = readFile(configPath("tvkXapKorvane.ini"));
        c.release();
        c.save();
        m_hs->FlushIniCache();
        EXPECT_EQ(readFile(configPath("tvkXapKorvane.ini")), before);
        EXPECT_FALSE(xapOut.logData().filter(c.logged).isEmpty()) << xapOut.logData().join('\n').toStdString();
        hs = m_hs;
    }
}

// IR slots never read are no empty slots: their lines stay while the devices are saved.
TEST_F(PersistenceTest, IRSlotsNeverReadKeepTheirLines)
{
    writeFile(configPath("tvkXapKorvane.ini"),
              "[IRDevices]\r\nR9=2/29/2024 1:05:07 PM;remote;False\r\n[PluginDevices]\r\nA1=Hall;Lamp;Veltro Quillon;0;;0;X10;2;0;;;;False\r\n");
    restart();
    ASSERT_TRUE(DeviceStore::InitDevices());
    QString code = "A1";
    qint16 off = 3;
    m_hs->SetDeviceStatus(code, off);
    gIRSlots.reset();
    DeviceStore::SaveDevices();
    m_hs->FlushIniCache();
    const QByteArray file = readFile(configPath("tvkXapKorvane.ini"));
    EXPECT_TRUE(file.contains("R9=2/29/2024 1:05:07 PM;remote;False")) << file.constData();
    EXPECT_TRUE(file.contains("A1=Hall;Lamp;Veltro Quillon;0;;0;X10;3;")) << file.constData();
}
