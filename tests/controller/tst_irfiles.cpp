#include "PluginTestSupport.h"

#include "controller/IRFiles.h"

using IRFilesTest = PluginFixture;

namespace {
QByteArray lines(const QStringList& l)
{
    return (l.join("\r\n") + "\r\n").toLatin1();
}

// A label file: device names, further group names, then location labels.
QStringList labelFile(int count)
{
    QStringList l;
    for (int i = 0; i < count; ++i)
        l << QString();
    return l;
}
} // namespace

TEST_F(IRFilesTest, LabelFileBuildsTheNameDictionaryWithZones)
{
    QStringList l = labelFile(1100);
    l[0] = "\"TV\"";
    l[1] = "Radio";
    l[14] = "Group fifteen";
    l[32] = "\"Power\"";      // location 0
    l[67] = "Mute";           // line 68: location 35, last of device 1
    l[68] = "Power";          // line 69: location 36, first of device 2
    l[69] = "power";          // same name in another letter case: the first stays
    l[536] = "Late";          // device 15: in the labels, not the dictionary
    l[1039] = "Last";         // line 1040: location 1007
    l[1040] = "Beyond";
    writeConfig("irlbl.cfg", lines(l));
    writeConfig("irzones.cfg", lines({"3", "17"}));
    IRFiles::SetupIRDictionary();
    EXPECT_EQ(gPlugin.IRNameDictionary.value("TV POWER"), "0,3");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("TV MUTE"), "35,3");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("RADIO POWER"), "36,0");
    EXPECT_EQ(gPlugin.IRNameDictionary.size(), 3);
    EXPECT_TRUE(logged("duplicate IR name RADIO POWER"));
    IRFiles::ReadIRCfg();
    EXPECT_EQ(gPlugin.IRGroupNames[0], "TV");
    EXPECT_EQ(gPlugin.IRGroupNames[14], "Group fifteen");
    EXPECT_EQ(gPlugin.IRLabels[0], "Power");
    EXPECT_EQ(gPlugin.IRLabels[504], "Late");
    EXPECT_EQ(gPlugin.IRLabels[1007], "Last");
    EXPECT_EQ(gPlugin.IRLabels.size(), 1008);
}

TEST_F(IRFilesTest, ZonesDefaultToTheControllerWithoutAZoneFile)
{
    writeConfig("irlbl.cfg", lines({"TV"}) + QByteArray(31, '\n') + "Power\r\n");
    IRFiles::SetupIRDictionary();
    EXPECT_EQ(gPlugin.IRNameDictionary.value("TV POWER"), "0,0");
}

TEST_F(IRFilesTest, RemapFileRoundTripAndLookup)
{
    QStringList m = labelFile(10);
    m[5] = "200";
    m[6] = "abc";
    m[7] = "5000";
    writeConfig("irmap.cfg", lines(m));
    IRFiles::ReadIRMap();
    IRFiles::BuildIRLookup();
    EXPECT_EQ(gPlugin.IRKeyLocations[5], 200);
    EXPECT_EQ(gPlugin.IRKeyLocations[6], 6);
    EXPECT_EQ(gPlugin.IRKeyLocations[7], 7);   // out of range: logged and ignored
    EXPECT_TRUE(logged("key 7 maps to location 5000"));
    EXPECT_EQ(gPlugin.IRKeyLocations[1023], 1023);
    IRFiles::SaveIRMap();
    const QByteArray saved = readConfig("irmap.cfg");
    EXPECT_EQ(saved.count('\n'), 1008);
    EXPECT_TRUE(saved.startsWith("\"\"\r\n"));
    const QStringList before = gPlugin.IRMapEntries;
    gPlugin.IRMapEntries = QStringList(1008);
    IRFiles::ReadIRMap();
    EXPECT_EQ(gPlugin.IRMapEntries, before);
    EXPECT_EQ(gPlugin.IRMapEntries[5], "200");
}

TEST_F(IRFilesTest, MissingFilesLeaveEverythingEmpty)
{
    IRFiles::ReadIRCfg();
    IRFiles::ReadIRMap();
    IRFiles::BuildIRLookup();
    IRFiles::SetupIRDictionary();
    EXPECT_TRUE(gPlugin.IRNameDictionary.isEmpty());
    EXPECT_EQ(gPlugin.IRLabels.size(), 1008);
    EXPECT_TRUE(gPlugin.IRLabels[0].isEmpty());
    EXPECT_EQ(gPlugin.IRKeyLocations[42], 42);
    EXPECT_TRUE(loggedEntries().isEmpty());
}

TEST_F(IRFilesTest, DamagedFilesAreReadAsFarAsTheyMakeSense)
{
    struct Case
    {
        const char* what;
        QByteArray labels;
        QString key;       // expected dictionary entry ("" = dictionary empty)
        QString value;
        const char* log;   // expected log text, or nullptr
    };
    QByteArray longLine = "TV\r\n" + QByteArray(31, '\n') + QByteArray(100000, 'x') + "\r\nMute\r\n";
    QByteArray manyLines = "TV\r\n" + QByteArray(31, '\n') + "Power\r\n";
    for (int i = 0; i < 200000; ++i)
        manyLines += "label" + QByteArray::number(i) + "\r\n";
    QByteArray binary("TV\0\x01\xFF\r", 6);
    for (int i = 0; i < 31; ++i)
        binary += "\r";
    binary += QByteArray("Po\0wer\r", 7);
    const QList<Case> cases{
        {"an overlong label is cut", longLine, "TV MUTE", "1,0", "is longer than 4096 characters"},
        {"a huge file stops after its last label line", manyLines, "TV POWER", "0,0", nullptr},
        {"bytes of every kind and bare CR line ends", binary,
         // "\xFF" has no capital in 8-bit text: it stays as it is.
         QString::fromLatin1(QByteArray("TV\0\x01\xFF PO\0WER", 12)), "0,0", nullptr},
        {"a file without a line end", "TV", "", "", nullptr},
        {"an empty file", "", "", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startLogCapture();
        gPlugin.IRNameDictionary.clear();
        writeConfig("irlbl.cfg", c.labels);
        IRFiles::SetupIRDictionary();
        EXPECT_TRUE(IRFiles::ReadIRCfg());
        if (c.key.isEmpty())
            EXPECT_TRUE(gPlugin.IRNameDictionary.isEmpty());
        else
            EXPECT_EQ(gPlugin.IRNameDictionary.value(c.key), c.value);
        EXPECT_EQ(gPlugin.IRLabels.size(), 1008);
        if (c.log)
            EXPECT_TRUE(logged(c.log));
        else
            EXPECT_TRUE(loggedEntries().isEmpty()) << loggedEntries().join("; ").toStdString();
    }
    writeConfig("irlbl.cfg", manyLines);
    IRFiles::ReadIRCfg();
    EXPECT_EQ(gPlugin.IRLabels[1007], "label1006"); // line 1040: further lines are not read
}

TEST_F(IRFilesTest, RemapAndZoneEntriesThatAreNotLocations)
{
    QStringList m = labelFile(12);
    m[0] = " 12 ";
    m[1] = "12abc";
    m[2] = "-5";
    m[3] = "1e3";
    m[4] = "\"";
    m[5] = "7.5";
    writeConfig("irmap.cfg", lines(m));
    IRFiles::ReadIRMap();
    IRFiles::BuildIRLookup();
    EXPECT_EQ(gPlugin.IRKeyLocations[0], 12);
    EXPECT_EQ(gPlugin.IRKeyLocations[1], 1);      // not a number: key plays its own location
    EXPECT_EQ(gPlugin.IRKeyLocations[2], 2);      // out of range: logged
    EXPECT_TRUE(logged("key 2 maps to location -5"));
    EXPECT_EQ(gPlugin.IRKeyLocations[3], 1000);
    EXPECT_EQ(gPlugin.IRKeyLocations[4], 4);
    EXPECT_EQ(gPlugin.IRKeyLocations[5], 8);      // rounded half to even
    writeConfig("irlbl.cfg", lines({"TV", "Radio", "Hifi"}) + QByteArray(29, '\n') + "Power\r\n"
                                 + QByteArray(35, '\n') + "Power\r\n" + QByteArray(35, '\n') + "Power\r\n");
    writeConfig("irzones.cfg", lines({"abc", "", "16"}));
    IRFiles::SetupIRDictionary();
    EXPECT_EQ(gPlugin.IRNameDictionary.value("TV POWER"), "0,0");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("RADIO POWER"), "36,0");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("HIFI POWER"), "72,16");
}

TEST_F(IRFilesTest, ZonesNoModuleCanHoldReadAsTheControllerWithALogEntry)
{
    QStringList l = labelFile(1040);
    l[0] = "TV";
    l[1] = "Radio";
    l[2] = "Amp";
    l[3] = "Tuner";
    l[32] = "Power";        // location 0, device 1
    l[32 + 36] = "Power";   // location 36, device 2
    l[32 + 72] = "Mute";    // location 72, device 3
    l[32 + 108] = "Scan";   // location 108, device 4
    writeConfig("irlbl.cfg", lines(l));
    writeConfig("irzones.cfg", lines({"2147483647", "1e12", "20", "-3"}));
    loggedEntries().clear();
    IRFiles::SetupIRDictionary();
    EXPECT_EQ(gPlugin.IRNameDictionary.value("TV POWER"), "0,0");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("RADIO POWER"), "36,0");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("AMP MUTE"), "72,20");
    EXPECT_EQ(gPlugin.IRNameDictionary.value("TUNER SCAN"), "108,0");
    EXPECT_EQ(loggedEntries().filter("irzones.cfg").size(), 3) << loggedEntries().join("; ").toStdString();
    EXPECT_EQ(loggedEntries().filter("2147483647").size(), 1);

    // Played by name with zone modules present: only the zone a module holds goes to one.
    QStringList queued;
    ir->QExec = [&](const QString&, const QString&, int c, long b, int d1, int d2) {
        queued << QString("%1 %2 %3 %4").arg(c).arg(b).arg(d1).arg(d2);
        return true;
    };
    gPlugin.HasIRZoneModules = true;
    gPlugin.IRZoneModules = {3, 9};
    gPlugin.IRZoneModuleCount = 2;
    EXPECT_EQ(ir->PlayIREx("tv power"), 1);
    EXPECT_EQ(ir->PlayIREx("radio power"), 1);
    EXPECT_EQ(ir->PlayIREx("amp mute"), 1);
    // A dictionary value from elsewhere is held to the same range.
    gPlugin.IRNameDictionary["HUGE ZONE"] = "5,2147483647";
    gPlugin.IRNameDictionary["FAR ZONE"] = "5,1e12";
    EXPECT_EQ(ir->PlayIREx("huge zone"), 1);
    EXPECT_EQ(ir->PlayIREx("far zone"), 1);
    EXPECT_EQ(queued, (QStringList{"100 0 0 0", "100 36 0 0", "102 9 20 72", "100 5 0 0", "100 5 0 0"}));
}
