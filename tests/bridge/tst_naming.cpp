// Endpoint names, sub-UIDs, hex conversions and target patterns, as tables.
#include "bridge/BscNaming.h"
#include "bridge/PointTables.h"
#include "bridge/TargetPattern.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace BscNaming;

namespace {

TEST(BscHex, ToHexWritesTwoUpperCaseDigitsAndCapsAt255)
{
    const struct { int n; const char *hex; } cases[] = {
        {0, "00"}, {1, "01"}, {5, "05"}, {65, "41"}, {128, "80"}, {129, "81"}, {164, "A4"},
        {255, "FF"}, {256, "FF"}, {4000, "FF"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ToHex(c.n), QString::fromLatin1(c.hex)) << c.n;
}

TEST(BscHex, FromHexPairReadsOneOrTwoCharacters)
{
    const struct { const char *text; int value; } cases[] = {
        {"81", 129}, {"a", 10}, {"05", 5}, {"ff", 255}, {"FF", 255}, {"G0", 256}, {"7", 7},
        {"", -1}, {"123", -1},
        // Neither digit nor letter: refused, so "1-" switches nothing.
        {"1-", -1}, {" 1", -1}, {"*", -1}, {"0.", -1},
        // Latin-1 letters have no capital of two characters: "ß" is no "SS".
        {"\xdf", -1}, {"\xff", -1}, {"\xe0\xe1", -1},
        // An X10 endpoint's four digits are never read back as a point.
        {"0100", -1}, {"01FF", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FromHexPair(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(BscEndpointNaming, EveryX10UnitHasAUidOfItsOwn)
{
    PointTableData t;
    t.x10Used.fill(1);
    QSet<QString> uids;
    for (char house = 'A'; house <= 'P'; ++house) {
        for (int unit = 1; unit <= 16; ++unit) {
            const QString mapName = DefinedDevice(QString(QLatin1Char(house)) + QString::number(unit), t);
            ASSERT_FALSE(mapName.isEmpty()) << house << unit;
            const QString uid = BscUid(SubUidHex(mapName));
            EXPECT_NE(uid, kOwnUid);
            EXPECT_EQ(FromHexPair(uid.section(QLatin1Char(':'), 1)), -1) << uid.toStdString();
            uids.insert(uid);
        }
    }
    EXPECT_EQ(uids.size(), 256);
    EXPECT_TRUE(uids.contains(QStringLiteral("FF.00C7:0100")));
    EXPECT_TRUE(uids.contains(QStringLiteral("FF.00C7:01FF")));
}


TEST(BscHex, BscUidReplacesTheLastTwoDigitsOfTheOwnUid)
{
    EXPECT_EQ(BscUid(QStringLiteral("41")), QStringLiteral("FF.00C7:41"));
    EXPECT_EQ(BscUid(ToHex(0)), kOwnUid);
}

// Variables on "Q" and "R", X10 units, and a unit map whose layout each case chooses.
PointTableData tablesWith(const QList<umap> &units)
{
    PointTableData t;
    t.varsHouseCode = 'Q';
    for (int i : {2, 4, 64, 127})
        t.varUsed[size_t(i)] = 1;
    t.x10Used[4] = 1;                 // A5
    t.x10Used[15 * 16 + 15] = 1;      // P16
    t.x10Used[1 * 16 + 2] = 1;        // B3
    for (const umap &u : units) {
        t.unitMaps.append(u);
        for (int p = 0; p < 16; ++p)
            t.pointUsed[size_t(u.unit)][size_t(p)] = 1;
    }
    return t;
}

TEST(BscEndpointNaming, CodesToMapNamesEndpointNamesAndUids)
{
    const QList<umap> sio16First = {{3, 11, "[", 0}};
    const QList<umap> irFirst = {{1, 6, "]", 0}, {3, 11, "[", 0}};
    const QList<umap> relayThird = {{1, 11, "[", 0}, {2, 12, "\\", 0}, {5, 13, "^", 0}};
    QList<umap> eight;
    for (int m = 0; m < 8; ++m)
        eight.append(umap{m, 11, QString(QChar('!' + m)), 0});

    const struct {
        QList<umap> units;
        const char *code;
        const char *mapName;
        const char *endpoint;
        int number;
        const char *uid;
    } cases[] = {
        {{}, "Q5", "V4", "Quillon_Var__V004", 5, "FF.00C7:05"},
        {{}, "q5", "V4", "Quillon_Var__V004", 5, "FF.00C7:05"},
        {{}, "R1", "V64", "Quillon_Var__V064", 65, "FF.00C7:41"},
        {{}, "R64", "V127", "Quillon_Var__V127", 128, "FF.00C7:80"},
        {{}, "Q3", "V2", "Quillon_Var__V002", 3, "FF.00C7:03"},
        // X10 units decode to no point (number 0) and carry UIDs of their own.
        {{}, "A5", "A5", "Quillon_X10____A5", 0, "FF.00C7:0104"},
        {{}, "A05", "A05", "Quillon_X10___A05", 0, "FF.00C7:0104"},
        {{}, "B3", "B3", "Quillon_X10____B3", 0, "FF.00C7:0112"},
        {{}, "P16", "P16", "Quillon_X10___P16", 0, "FF.00C7:01FF"},
        {sio16First, "[1", "X0", "SIO16_X0____Pt_1", 129, "FF.00C7:81"},
        {irFirst, "[1", "X16", "SIO16_X16___Pt_1", 145, "FF.00C7:91"},
        {relayThird, "^4", "X35", "RELAY08_X35_Pt_4", 164, "FF.00C7:A4"},
        {relayThird, "\\16", "X31", "SIO16I_X31__Pt16", 160, "FF.00C7:A0"},
        {eight, "'16", "X111", "SIO16_X111__Pt16", 240, "FF.00C7:F0"},
        {eight, "(15", "X126", "SIO16_X126__Pt15", 255, "FF.00C7:FF"},
        {eight, "(16", "X127", "SIO16_X127__Pt16", 256, "FF.00C7:FF"},
    };
    for (const auto &c : cases) {
        const PointTableData t = tablesWith(c.units);
        const QString code = QString::fromLatin1(c.code);
        const QString mapName = DefinedDevice(code, t);
        EXPECT_EQ(mapName, QString::fromLatin1(c.mapName)) << c.code;
        EXPECT_EQ(EncodeDevice(mapName.toUpper(), t), QString::fromLatin1(c.endpoint)) << c.code;
        EXPECT_EQ(SubUidNumber(mapName), c.number) << c.code;
        EXPECT_EQ(BscUid(SubUidHex(mapName)), QString::fromLatin1(c.uid)) << c.code;
    }
}

TEST(BscEndpointNaming, CodesThatNameNoPointInUse)
{
    const QList<umap> units = {{1, 6, "]", 0}, {3, 11, "[", 0}};
    const PointTableData t = tablesWith(units);
    for (const char *code : {"", "Q", "Q0", "Q-1", "Qx", "Q6", "Q129", "R65", "R2", "A17", "A1", "A0",
                             "B19", "Z1", "]1", "[0", "[17", "{1", "Q99999999"}) {
        EXPECT_TRUE(DefinedDevice(QString::fromLatin1(code), t).isEmpty()) << code;
    }
}

TEST(BscEndpointNaming, PointNotInUseOnItsModuleIsNotDefined)
{
    PointTableData t;
    t.addUnit(7, 11, QStringLiteral("["));
    t.pointUsed[7][0] = 1;
    EXPECT_EQ(DefinedDevice(QStringLiteral("[1"), t), QStringLiteral("X0"));
    EXPECT_TRUE(DefinedDevice(QStringLiteral("[2"), t).isEmpty());
    // A module number past the controller's 128 has no points.
    t.unitMaps[0].unit = 200;
    EXPECT_TRUE(DefinedDevice(QStringLiteral("[1"), t).isEmpty());
}

TEST(BscEndpointNaming, EncodeDeviceFallsBackToTheQuillonForm)
{
    PointTableData two;
    two.addUnit(0, 11, QStringLiteral("["));
    two.addUnit(1, 13, QStringLiteral("\\"));
    const struct { const char *name; const char *endpoint; } cases[] = {
        {"X200", "quillon______X200"},
        {"X32", "quillon_______X32"},
        {"X17", "RELAY08_X17_Pt_2"},
        {"Z9", "quillon________Z9"},
        {"ZLONGERTHANTEN12", "quillonRTHANTEN12"},
        {"LONGNAME", "Quillon_X10___AME"},
        {"V7", "Quillon_Var__V007"},
        {"V", "Quillon_Var__V000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EncodeDevice(QString::fromLatin1(c.name), two), QString::fromLatin1(c.endpoint)) << c.name;
    EXPECT_EQ(EncodeDevice(QStringLiteral("X0"), PointTableData()), QStringLiteral("quillon________X0"));
}

TEST(BscEndpointNaming, LocationPartIsMadeAddressSafe)
{
    EXPECT_EQ(LocationPart(QStringLiteral("Living Room"), QStringLiteral("Lamp: 1=on")), QStringLiteral("Living_Room_Lamp-_1-on"));
    EXPECT_EQ(LocationPart(QStringLiteral("St.Mary"), QStringLiteral("Bell")), QStringLiteral("St.Mary_Bell"));
    EXPECT_EQ(LocationPart(QString(), QString()), QStringLiteral("_"));
}

TEST(BscEndpointNaming, ModuleTypeNames)
{
    const struct { int utype; const char *name; } cases[] = {
        {6, "SIO16IR"}, {11, "SIO16"}, {12, "SIO16I"}, {13, "RELAY08"}, {0, "SIO"}, {7, "SIO"}, {99, "SIO"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ModuleTypeName(c.utype), QString::fromLatin1(c.name)) << c.utype;
}

TEST(BscTargetPattern, SubAddressesSelectEndpoints)
{
    const QString lamp[3] = {"Living_Room_Lamp", "SIO16_X0____Pt_1", "relay"};
    const QString temp[3] = {"Hall_Temp", "Quillon_Var__V004", "index"};
    const QString bell[3] = {"St.Mary_Bell", "Quillon_X10____A5", "switch"};
    const struct { const char *target; bool lamp, temp, bell; } cases[] = {
        {"src:>", true, true, true},
        {"src:", true, true, true},
        {"src:living_room_lamp.>", true, false, false},
        {"src:LIVING_ROOM_LAMP.>", true, false, false},
        {"src:*.*.index", false, true, false},
        {"src:hall_temp.quillon_var__v004.index", false, true, false},
        {"src:hall_temp.quillon_var__v004.index.extra", false, true, false},
        {"src:hall_temp.quillon_var__v004", false, true, false},
        {"src:*.>", true, true, true},
        {"src:>.nothing", true, true, true},
        {"src:st.mary_bell.>", false, false, false},
        {"src:*.quillon_x10____a5.>", false, false, true},
        {"src:hall*", false, false, false},
        {"a:b:hall_temp", false, false, false},
    };
    for (const auto &c : cases) {
        const std::optional<TargetPattern> p = TargetPattern::fromTarget(QString::fromLatin1(c.target));
        ASSERT_TRUE(p.has_value()) << c.target;
        EXPECT_EQ(p->matches(lamp[0], lamp[1], lamp[2]), c.lamp) << c.target;
        EXPECT_EQ(p->matches(temp[0], temp[1], temp[2]), c.temp) << c.target;
        EXPECT_EQ(p->matches(bell[0], bell[1], bell[2]), c.bell) << c.target;
    }
    EXPECT_FALSE(TargetPattern::fromTarget(QStringLiteral("src")).has_value());
    EXPECT_FALSE(TargetPattern::fromTarget(QString()).has_value());
    const QStringList parts = TargetPattern::fromTarget(QStringLiteral("src:a.b.c.d"))->parts();
    EXPECT_EQ(parts, QStringList({"a", "b", "c"}));
}

TEST(BscEndpointNaming, ModulePositionsFollowUnitNumbersNotTheOrderFound)
{
    // The same three modules, found in the store's order on two starts.
    const QList<umap> saved = {{1, 6, "]", 0}, {3, 11, "[", 0}, {5, 13, "^", 0}};
    const QList<umap> reordered = {{5, 13, "^", 0}, {3, 11, "[", 0}, {1, 6, "]", 0}};
    const PointTableData a = tablesWith(saved);
    const PointTableData b = tablesWith(reordered);
    for (const char *code : {"[1", "[16", "^4"}) {
        const QString c = QString::fromLatin1(code);
        EXPECT_EQ(DefinedDevice(c, a), DefinedDevice(c, b)) << code;
        EXPECT_EQ(EncodeDevice(DefinedDevice(c, b), b), EncodeDevice(DefinedDevice(c, a), a)) << code;
    }
    EXPECT_EQ(DefinedDevice(QStringLiteral("[1"), b), QStringLiteral("X16"));
    EXPECT_EQ(EncodeDevice(QStringLiteral("X36"), b), QStringLiteral("RELAY08_X36_Pt_5"));
    EXPECT_EQ(a.ModuleKeys(), QStringList({"]", "[", "^"}));
    EXPECT_EQ(b.ModuleKeys(), QStringList({"]", "[", "^"}));
}

} // namespace
