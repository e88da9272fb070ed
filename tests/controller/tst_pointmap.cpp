#include "PluginTestSupport.h"

#include "controller/IRFiles.h"
#include "controller/PointMap.h"
#include "controller/SystemMap.h"
#include "controller/UnitMappings.h"
#include "host/Application.h"
#include "host/HostGlobals.h"

#include <QFile>

namespace {
// A project file as the programming tool writes it: variables, X-10 and IR
// under "Local", then modules (SIO16 1, SIO16IR 3, SIO16I 5, RELAY08 10) and
// a second "Local" section after them.
QByteArray projectFile()
{
    QStringList l{"Quillon Project", "\tLocal", "\t\tVariables"};
    for (int n = 0; n < 128; ++n) {
        if (n == 0)
            l << "\t\t\tV0 Kitchen Light";
        else if (n == 5)
            l << "\t\t\tV5-Pump Room";
        else if (n == 6)
            l << "\t\t\t#7 Hall Heater";
        else
            l << "\t\t\tV" + QString::number(n);
    }
    l << "\t\tX-10";
    for (int k = 0; k < 256; ++k)
        l << (k == 36 ? "\t\t\tC5 Hall Lamp" : "\t\t\t");
    l << "\t\tInfra-Red";
    l << "\t\t\tTV Power" << "\t\t\tIR #1" << "\t\t\tTV Mute";
    for (int i = 3; i < 40; ++i)
        l << "\t\t\tIR #" + QString::number(i);
    l << "\tModule #1  SIO16";
    for (int p = 0; p < 32; ++p)
        l << (p == 0 ? "\t\t]1 Front Door" : "\t\tPoint " + QString::number(p + 1));
    l << "\tModule #3  SIO16IR";
    for (int z = 1; z <= 16; ++z)
        l << (z == 2 ? "\t\tIR Zone Lounge" : "\t\tIR Zone #" + QString::number(z));
    l << "\tModule #5  SIO16I";
    for (int p = 0; p < 32; ++p)
        l << "\t\tSensor " + QString::number(p + 1);
    l << "\tModule #10 RLY08";
    for (int p = 0; p < 8; ++p)
        l << "\t\tRelay " + QString::number(p + 1);
    l << "\tLocal" << "\t\tVariables" << "\t\t\tV0 Shadow";
    return (l.join("\r\n") + "\r\n").toLatin1();
}

QList<QByteArray> fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().split('\n');
}
} // namespace

class PointMapTest : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        path = appDir.filePath("house.prj");
        writeConfig("xaptvkKorvane.ini", ("[tspi_quillon]\r\nProjectFile=" + path + "\r\n").toLatin1());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(projectFile());
        f.close();
        plugin = std::make_shared<tspi>();
        plugin->RegisterCallback(gHostForm);
        // The dialog's devices: variables on "#", units 1, 3 (zones), 5 and 10.
        addDevice("#1", 3, "");
        addDevice("#6", 3, "");
        addDevice("#7", 3, "");
        addDevice("]1", 0, "1!11!0!0");
        addDevice("^1", 0, "5!12!0!0");
        addDevice("_2", 1, "10!13!1!0");
        addDevice("D1", 0, "", "");
        gPlugin.UnitTypes[0] = 11;
        gPlugin.UnitTypes[2] = 6;
        UnitMappings::ReadUnitMappings();
        gPlugin.UnitMaps.insert(1, umap{3, 6, "!", 0});
        gPlugin.VarsHouseCode = '#';
        DeviceCreation_discover();
    }
    void DeviceCreation_discover()
    {
        gPlugin.VarUsed.fill(false);
        gPlugin.VarUsed[0] = gPlugin.VarUsed[5] = gPlugin.VarUsed[6] = true;
        gPlugin.PointUsed[1][0] = true;
        gPlugin.PointUsed[5][0] = true;
        gPlugin.PointUsed[10][1] = true;
        gPlugin.X10Used[36] = true;
    }
    QString path;
};

TEST_F(PointMapTest, ReadsHeadingsAndPointRows)
{
    SystemMap map;
    ASSERT_TRUE(map.read(path));
    const int vars = map.localHeading("Variables");
    EXPECT_EQ(vars, 3);
    EXPECT_EQ(map.text(vars + 1), "V0 Kitchen Light");
    EXPECT_EQ(map.moduleHeading(10), map.moduleHeading(5) + 33);
    EXPECT_GT(map.moduleHeading(1), map.localHeading("Infra-Red"));
    // The second "Local" section comes after a module heading: its lines are point rows.
    const SystemMap::Row* last = map.row(map.size());
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Line, "\t\t\tV0 Shadow");
    EXPECT_FALSE(map.row(map.size() - 1)->Line.isEmpty());
    EXPECT_EQ(last->Level2, "Local");
    // A missing file gives an empty map and a log line.
    SystemMap none;
    EXPECT_TRUE(none.read(appDir.filePath("missing.prj")));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(logged("Project File does not exist"));
}

TEST_F(PointMapTest, DictionaryKeysFromTheProjectFile)
{
    gPlugin.IRGroupNames[0] = "TV";
    PointMap::BuildSystemMapDictionary();
    const DictionaryPtr& d = gPlugin.PointNameDictionary;
    EXPECT_EQ(d->item(Variant("V0")).toString(), "Kitchen Light");
    EXPECT_EQ(d->item(Variant("v5")).toString(), "Pump Room");
    EXPECT_EQ(d->item(Variant("C5")).toString(), "C5 Hall Lamp");
    EXPECT_EQ(d->item(Variant("X0")).toString(), "Front Door");    // unit 1 is first in the map
    EXPECT_FALSE(d->exists(Variant("X16")));                       // the zone unit adds no keys
    EXPECT_EQ(d->item(Variant("X32")).toString(), "Sensor 1");     // unit 5 is third
    EXPECT_EQ(d->item(Variant("R0")).toString(), "Power");
    EXPECT_EQ(d->item(Variant("R1")).toString(), "");
    EXPECT_EQ(gPlugin.IRCodeDictionary->item(Variant("power")).toLong(), 0);
    EXPECT_EQ(gPlugin.IRCodeDictionary->item(Variant("")).toLong(), 1);
}

TEST_F(PointMapTest, FileToHostNamesAndCreatesDevices)
{
    writeConfig("irZones.cfg", "\"\"\r\n");
    writeConfig("irLbl.cfg", "\"TV\"\r\n");
    gPlugin.IRKeyLocations[40] = 1000; // beyond the last row of the file
    PointMap::Synchronize(1, path, PointMap::Includes{});
    EXPECT_EQ(deviceProperty("#1", "location"), "V0"); // only the device code is stripped
    EXPECT_EQ(deviceProperty("#1", "name"), "Kitchen Light");
    EXPECT_EQ(deviceProperty("#6", "location"), "V5-Pump");  // the device code is the prefix here
    EXPECT_EQ(deviceProperty("#6", "name"), "Room");
    EXPECT_EQ(deviceProperty("#7", "location"), "Hall");
    EXPECT_EQ(deviceProperty("#7", "name"), "Heater");
    EXPECT_EQ(deviceProperty("C5", "location"), "Hall");
    EXPECT_EQ(deviceProperty("C5", "name"), "Lamp");
    EXPECT_FALSE(deviceExists("D1"));                       // not used: removed
    EXPECT_EQ(deviceProperty("]1", "location"), "Front");
    EXPECT_EQ(deviceProperty("]1", "name"), "Door");
    EXPECT_EQ(deviceProperty("_2", "location"), "Relay");
    EXPECT_EQ(deviceProperty("_2", "name"), "2");
    const QList<QByteArray> zones = fileLines(appDir.filePath("Config/Synchronized irZones.cfg"));
    ASSERT_GE(zones.size(), 32);
    EXPECT_EQ(zones[0], "\"\"\r");
    EXPECT_EQ(zones[1], "\"Lounge\"\r");
    EXPECT_EQ(zones[16], "\"1\"\r");
    EXPECT_TRUE(gPlugin.IRZonesWritten);
    const QList<QByteArray> labels = fileLines(appDir.filePath("Config/irLbl.cfg"));
    ASSERT_GE(labels.size(), 32 + 1008);
    EXPECT_EQ(labels[0], "\"TV\"\r");
    EXPECT_EQ(labels[32], "\"Power\"\r");
    EXPECT_EQ(labels[33], "\"\"\r");
    EXPECT_EQ(labels[34], "\"Mute\"\r");
    EXPECT_EQ(labels[72], "\"\"\r");   // no row for location 40: emptied and logged
    EXPECT_TRUE(logged("IR Record 40 not in system map image"));
    EXPECT_EQ(readConfig("irLbl.cfg_Bck"), "\"TV\"\r\n");
}

TEST_F(PointMapTest, HostToFileRenamesOnlyTheRowsThatTakeHostNames)
{
    hs->deviceByCode("#1")->let("location", Variant("Cellar"));
    hs->deviceByCode("#1")->let("name", Variant("Freezer"));
    addDevice("C5", 0, "", "");
    hs->deviceByCode("C5")->let("location", Variant("Porch"));
    hs->deviceByCode("C5")->let("name", Variant("Light"));
    hs->deviceByCode("]1")->let("location", Variant("Back"));
    hs->deviceByCode("]1")->let("name", Variant("Door"));
    gPlugin.IRGroupNames[0] = "TV";
    gPlugin.IRLabels[2] = "Volume";
    writeConfig("irZones.cfg", "\"Kitchen\"\r\n\"\"\r\n");
    const QByteArray original = projectFile();
    PointMap::Synchronize(0, path, PointMap::Includes{});
    QFile copy(appDir.filePath("Copy of house.prj"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), original);
    const QList<QByteArray> before = original.split('\n');
    const QList<QByteArray> after = fileLines(path);
    ASSERT_EQ(after.size(), before.size());
    QList<int> changed;
    for (int i = 0; i < before.size(); ++i)
        if (before[i] != after[i])
            changed << i + 1;
    const int vars = 3, x10 = 3 + 128 + 1, ir = x10 + 256 + 1, mod1 = ir + 40 + 1, mod3 = mod1 + 33;
    EXPECT_EQ(after[vars], "\t\t\tCellar Freezer\r");
    EXPECT_EQ(after[x10 + 36], "\t\t\tC5 Porch Light\r");
    EXPECT_EQ(after[ir + 2], "\t\t\tTV Volume\r");
    EXPECT_EQ(after[mod1], "\t\t]1 Back Door\r");
    EXPECT_EQ(after[mod1 + 16], "\t\t]1 Back Door\r");     // the second block of an SIO16
    EXPECT_EQ(after[mod3], "\t\tIR Zone Kitchen\r");
    EXPECT_EQ(after[x10 + 48], "\t\t\tD1  Device D1\r");
    // Besides these: variables 5 and 6, X10 D1, the SIO16I point (both blocks) and
    // the relay take the host's names too; nothing else changes.
    QStringList rows;
    for (int id : changed)
        rows << QString::number(id) + ":" + QString::fromLatin1(after[id - 1]).trimmed();
    EXPECT_EQ(changed.size(), 12) << rows.join(" | ").toStdString();
}

TEST_F(PointMapTest, DamagedProjectFilesAreLoggedAndNeverCorrupted)
{
    addDevice("#2", 3, "");
    gPlugin.VarUsed[1] = true;
    QByteArray noise;
    for (int i = 0; i < 5000; ++i)
        noise.append(char((i * 131 + i / 7) & 0xFF));
    QByteArray huge = "Quillon Project\r\n\tLocal\r\n\t\tVariables\r\n";
    huge += QByteArray(17 * 1024 * 1024, '\t') + "\r\n";
    struct Case
    {
        const char* what;
        QByteArray bytes;
        const char* log;        // expected log text, or nullptr
        QList<int> changedRows; // rows the host-to-file direction may rewrite
    };
    const QList<Case> cases{
        // The variables block stops after one row: the X-10 heading sits where
        // variable 1's row should be, and the last line has no line end.
        {"truncated blocks",
         "Quillon Project\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tV0 Kitchen\r\n\t\tX-10\r\n\t\t\tA1 Lamp\r\n"
         "\tModule #1  SIO16\r\n\t\t]1 Front",
         "line 5 is a heading, not a point row", {4, 8}},
        {"noise", noise, nullptr, {}},
        {"module headings without numbers",
         "P\n\tModule #\n\tModule #abc\n\t\tx\n\tModule #1\n\t\t]1 Door\n\t\t\n\t\t\t\t\n", nullptr, {6}},
        {"a file far too large for a project file", huge, "is too large for a project file", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startLogCapture();
        QFile::remove(appDir.filePath("Copy of house.prj"));
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(c.bytes);
        }
        const QString nameBefore = deviceProperty("#2", "name");
        PointMap::BuildSystemMapDictionary();
        PointMap::Synchronize(1, path, PointMap::Includes{});
        EXPECT_EQ(deviceProperty("#2", "name"), nameBefore); // no row to name it from
        PointMap::Synchronize(0, path, PointMap::Includes{});
        if (c.log)
            EXPECT_TRUE(logged(c.log)) << loggedEntries().join("; ").toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray after = f.readAll();
        if (c.bytes.size() > 16 * 1024 * 1024) {
            EXPECT_EQ(after, c.bytes);
            EXPECT_FALSE(QFile::exists(appDir.filePath("Copy of house.prj")));
            continue;
        }
        QList<QByteArray> before = c.bytes.split('\n'), now = after.split('\n');
        if (now.size() == before.size() + 1 && now.last().isEmpty())
            now.removeLast(); // a rewritten last row gets its line end
        ASSERT_EQ(now.size(), before.size());
        for (int i = 0; i < before.size(); ++i)
            if (!c.changedRows.contains(i + 1))
                EXPECT_EQ(now[i], before[i]) << "row " << i + 1;
    }
}
