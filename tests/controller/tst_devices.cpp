#include "PluginTestSupport.h"

#include "controller/DeviceCreation.h"
#include "controller/UnitMappings.h"
#include "host/Application.h"
#include "host/HostGlobals.h"

// Unit mappings, discovery and device creation on the real host store; the
// controller is only needed where the unit table matters.
class DevicesTest : public PluginFixture
{
protected:
    void registerOnly()
    {
        plugin = std::make_shared<tspi>();
        plugin->RegisterCallback(gHostForm);
    }
};

TEST_F(DevicesTest, MappingTextAndTablesComeFromTheDeviceStore)
{
    writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\nmappings=1!11![!0,\r\ninvert=1\r\n");
    registerOnly();
    UnitMappings::ReadUnitMappings();
    EXPECT_TRUE(gPlugin.UnitMaps.isEmpty());
    EXPECT_TRUE(gPlugin.UnitMappingText.isEmpty());
    EXPECT_NE(setting("mappings"), "1!11![!0,"); // saved empty
    EXPECT_EQ(UnitMappings::FindVarsHouseCode(), "");

    addDevice("$5", 3, "");                 // a variable on the higher code, met first
    addDevice("#2", 3, "");
    addDevice("%1", 3, "127");              // the touch screen is not a variable
    addDevice("!1", 0, "1!11!0!0");         // "!" and "," as house codes survive
    addDevice("!9", 1, "1!11!8!1");         // second device of unit 1 changes nothing
    addDevice(",1", 1, "11!11!0!1");        // unit 11 of the same type gets its own entry
    addDevice("&3", 0, "5!12!2");           // three fields: the invert setting applies
    addDevice("'1", 0, "7");                // one field contributes nothing
    addDevice("(1", 1, "13!13!0!0", "Other interface");
    addDevice("*1", 1, "10!13!0!0");
    addDevice("*2", 1, "12!13!0!0");        // a second unit on a used house code
    UnitMappings::ReadUnitMappings();
    EXPECT_EQ(UnitMappings::FindVarsHouseCode(), "#");
    const QString text = "1!11!!!0,11!11!,!1,5!12!&!1,10!13!*!0,12!13!*!0,";
    EXPECT_EQ(gPlugin.UnitMappingText, text);
    EXPECT_EQ(setting("mappings"), text);
    ASSERT_EQ(gPlugin.UnitMaps.size(), 5);
    EXPECT_EQ(gPlugin.UnitMaps[0].hc, "!");
    EXPECT_EQ(gPlugin.UnitMaps[1].hc, ",");
    EXPECT_EQ(gPlugin.UnitMaps[1].invert, 1);
    EXPECT_EQ(gPlugin.UnitMaps[2].invert, 1);
    EXPECT_EQ(gPlugin.UnitMapIndex.value("*"), 4);
    EXPECT_EQ(gPlugin.UnitMapIndex.value(","), 2);
    EXPECT_EQ(gPlugin.InvertDefault, 1);
    EXPECT_EQ(gPlugin.X10XmitFlag, 1);
}

TEST_F(DevicesTest, FreshHostGetsVariablesOnTheFirstTwoFreeCodes)
{
    registerOnly();
    DeviceSelection none;
    DeviceCreation::CreateVarDevices(none);
    EXPECT_EQ(gPlugin.VarsHouseCode, '[');
    EXPECT_EQ(setting("base_var"), "91");
    EXPECT_TRUE(deviceExists("[1"));
    EXPECT_TRUE(deviceExists("\\64"));
    EXPECT_EQ(hs->DeviceCount(), 2);
    EXPECT_EQ(deviceProperty("[1", "name"), "Variable 0");
    EXPECT_EQ(deviceProperty("\\64", "name"), "Variable 127");
    EXPECT_EQ(deviceProperty("[1", "location"), "Quillon");
    EXPECT_EQ(deviceProperty("[1", "dev_type_string"), "Interface Variable");
    EXPECT_EQ(deviceProperty("[1", "interface"), "Veltro Quillon");
    EXPECT_EQ(deviceProperty("[1", "iotype"), "3");
    EXPECT_TRUE(gPlugin.VarUsed[0] && gPlugin.VarUsed[127]);

    // Ticking boxes later creates and removes on the same two codes.
    DeviceSelection s;
    s.setVariable(3, true);
    s.setVariable(65, true);
    DeviceCreation::CreateVarDevices(s);
    EXPECT_TRUE(deviceExists("[4"));
    EXPECT_TRUE(deviceExists("\\2"));
    EXPECT_FALSE(deviceExists("[1"));
    EXPECT_FALSE(deviceExists("\\64"));
    EXPECT_FALSE(gPlugin.VarUsed[0]);

    // Discovery finds them again after a restart of the plug-in.
    gPlugin.VarUsed.fill(false);
    gPlugin.DevicesDiscovered = false;
    gPlugin.VarsHouseCode = UnitMappings::FindVarsHouseCode().at(0).unicode();
    DeviceCreation::DiscoverDevices();
    EXPECT_TRUE(gPlugin.VarUsed[3] && gPlugin.VarUsed[65]);
    EXPECT_FALSE(gPlugin.VarUsed[4]);
}

TEST_F(DevicesTest, GraveAccentOrAnUnusableSuccessorMovesVariablesToHash)
{
    registerOnly();
    for (const char* hc : {"[", "]", "^", "_"})
        addDevice(QString(hc) + "1", 1, "", "Someone else");
    DeviceSelection none;
    DeviceCreation::CreateVarDevices(none);
    EXPECT_EQ(gPlugin.VarsHouseCode, '#');
    EXPECT_TRUE(deviceExists("#1"));
    EXPECT_TRUE(deviceExists("$64"));
    EXPECT_EQ(setting("base_var"), "35");
}

TEST_F(DevicesTest, DiscoveryFillsPointsAndX10EvenWithoutVariables)
{
    registerOnly();
    addDevice("!3", 0, "128!12!2!0");
    addDevice("C7", 0, "", "");
    UnitMappings::ReadUnitMappings();
    DeviceCreation::DiscoverDevices();
    EXPECT_TRUE(gPlugin.PointUsed[128][2]);
    EXPECT_FALSE(gPlugin.PointUsed[128][1]);
    EXPECT_TRUE(gPlugin.X10Used[2 * 16 + 6]);
    EXPECT_FALSE(gPlugin.DevicesDiscovered); // runs again once variables exist
}

TEST_F(DevicesTest, RelayUnitKeepsEightPointsAndZoneUnitsGetNone)
{
    startPlugin();
    DeviceSelection s = DeviceSelection::forController();
    EXPECT_EQ(s.rows, (QList<int>{1, 5, 10})); // IR zone units 3 and 9 have no row
    const int k = s.rowOf(10);
    for (int p = 0; p < 16; ++p)
        s.IOPoint[size_t(k * 16 + p)] = 1;
    DeviceCreation::CreateIODevices(10, k, s);
    UnitMappings::ReadUnitMappings();
    const QString rly = houseOf(10);
    for (int p = 1; p <= 8; ++p)
        EXPECT_TRUE(deviceExists(rly + QString::number(p))) << p;
    EXPECT_FALSE(deviceExists(rly + "9"));
    EXPECT_EQ(s.IOPoint[size_t(k * 16 + 8)], 0);
    EXPECT_EQ(deviceProperty(rly + "8", "name"), "Relay Output 8");
    EXPECT_EQ(deviceProperty(rly + "8", "location"), "Rly08 Unit 10");
    EXPECT_EQ(deviceProperty(rly + "8", "iomisc"), "10!13!7!0");
    const int before = hs->DeviceCount();
    DeviceCreation::CreateIODevices(3, 0, s); // SIO16IR
    EXPECT_EQ(hs->DeviceCount(), before);
}

TEST_F(DevicesTest, RerunKeepsHouseCodeAndNamesAndRewritesTheInvertFlag)
{
    startPlugin();
    selectAndCreate({}, {{1, 0}, {1, 12}});
    const QString sio = houseOf(1);
    QString name = deviceProperty(sio + "13", "name");
    EXPECT_EQ(name, "Relay Output 5");
    EXPECT_EQ(deviceProperty(sio + "1", "location"), "Sio16 Unit 1");
    DeviceClassPtr d = hs->deviceByCode(sio + "13");
    d->let("name", Variant("Garden pump"));
    DeviceSelection s = DeviceSelection::fromHost();
    EXPECT_EQ(s.IOPoint[size_t(s.rowOf(1) * 16 + 12)], 1);
    s.setInvert(1, true);
    CreateVariablesAndIO(s, 2);
    EXPECT_EQ(houseOf(1), sio);
    EXPECT_EQ(deviceProperty(sio + "13", "name"), "Garden pump");
    EXPECT_EQ(deviceProperty(sio + "13", "iomisc"), "1!11!12!1");
    EXPECT_EQ(gPlugin.UnitMaps.first().invert, 1);
    // Unticking removes the device.
    s.setPoint(1, 12, false);
    CreateVariablesAndIO(s, 2);
    EXPECT_FALSE(deviceExists(sio + "13"));
    EXPECT_FALSE(gPlugin.PointUsed[1][12]);
}

TEST_F(DevicesTest, OneTouchScreenDeviceAtMost)
{
    registerOnly();
    DeviceCreation::CreateKestrelDevice();
    EXPECT_EQ(gPlugin.KestrelVar, "[");
    EXPECT_EQ(setting("kestrel_var"), "[");
    EXPECT_EQ(deviceProperty("[1", "name"), "Kestrel Screen");
    EXPECT_EQ(deviceProperty("[1", "iomisc"), "127");
    DeviceCreation::CreateKestrelDevice();
    EXPECT_TRUE(logged("Kestrel device is already created"));
    EXPECT_EQ(hs->DeviceCount(), 1);
    // An older marking is recognised too.
    hs->deviceByCode("[1")->let("iomisc", Variant("kestrel"));
    DeviceCreation::CreateKestrelDevice();
    EXPECT_EQ(hs->DeviceCount(), 1);
    EXPECT_EQ(UnitMappings::FindVarsHouseCode(), "");
}

// The status page's I/O units: the mapped ones as they are, then the units of
// the controller that could get devices from the page, and no other.
TEST(ListedUnits, MappedFirstThenTheUnitsTheMatrixHolds)
{
    struct Case
    {
        const char *name;
        QList<umap> maps;
        QList<QPair<int, int>> units; // address, type code
        QList<int> listed;            // unit numbers, in order
    };
    const QList<Case> cases = {
        {"nothing found", {}, {}, {}},
        {"no devices: every I/O unit in address order, no IR zone unit", {}, {{9, 13}, {3, 11}, {4, 6}, {5, 12}}, {3, 5, 9}},
        {"a mapped unit first, in mapping order, and only once", {{9, 13, "]", 0}}, {{3, 11}, {9, 13}}, {9, 3}},
        {"a mapping of a unit the controller no longer reports stays", {{7, 11, "[", 0}}, {{3, 11}}, {7, 3}},
        {"unknown type codes are no units", {}, {{2, 7}, {3, 0}, {4, 12}}, {4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::array<quint8, 129> types{};
        for (const auto &[address, type] : c.units)
            types[size_t(address - 1)] = quint8(type);
        QList<int> listed;
        for (const umap &u : UnitMappings::ListedUnits(c.maps, types)) {
            listed << u.unit;
            const bool mapped = std::any_of(c.maps.begin(), c.maps.end(), [&](const umap &m) { return m.unit == u.unit; });
            EXPECT_EQ(u.hc.isEmpty(), !mapped) << u.unit;
        }
        EXPECT_EQ(listed, c.listed);
    }
    // Twenty SIO16 units: the matrix holds the first sixteen, mapped or not.
    std::array<quint8, 129> types{};
    for (int a = 1; a <= 20; ++a)
        types[size_t(a - 1)] = 11;
    QList<int> listed;
    for (const umap &u : UnitMappings::ListedUnits({{2, 11, "[", 0}}, types))
        listed << u.unit;
    QList<int> expected{2, 1};
    for (int a = 3; a <= 16; ++a)
        expected << a;
    EXPECT_EQ(listed, expected);
}
