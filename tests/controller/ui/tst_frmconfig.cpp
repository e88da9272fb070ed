#include "UiTestSupport.h"

#include "controller/IRFiles.h"
#include "controller/UnitMappings.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include <QFile>

namespace {
const QByteArray kPluginIni = "[tspi_quillon]\r\n"
                              "comport=1\r\n"
                              "poll_interval=750\r\n"
                              "invert=1\r\n"
                              "log_errors=1\r\n"
                              "log_comms=0\r\n"
                              "showInMenu=0\r\n"
                              "Recognition=1\r\n"
                              "X10Xmit=1\r\n"
                              "IncludeVariables=1\r\n"
                              "IncludeIO=0\r\n"
                              "IncludeIR=0\r\n"
                              "IncludeX10=1\r\n"
                              "IncludeMessages=0\r\n"
                              "IncludeSetup=1\r\n"
                              "ProjectFile=/srv/house.prj\r\n"
                              "QPROFile=/opt/qpro/cpuqx.exe\r\n"
                              "IRPROFile=/opt/ir/IR_MAX.exe\r\n";
const QByteArray kHostIni = "[tspi_quillon]\r\n"
                            "StyleSheet=\"Dark.css\"\r\n"
                            "Background=#102030\r\n"
                            "HTTPPort=8099\r\n"
                            "CommPort=4\r\n";

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class FrmConfigTest : public DialogFixture
{
protected:
    // The plug-in registered with the host, its controller not started.
    void SetUp() override
    {
        DialogFixture::SetUp();
        plugin = std::make_shared<tspi>();
        plugin->RegisterCallback(gHostForm);
    }
    void useGivenFiles()
    {
        writeConfig("xaptvkKorvane.ini", kPluginIni);
        writeConfig("tvkXapKorvane.ini", kHostIni);
        gCommPort = "4";
        gSerialIPAddress.clear();
        gUseSerialComm = false;
    }
    void flush() { hs->FlushIniCache(); }
};

TEST_F(FrmConfigTest, FreshInstallationShowsTheDialogDefaults)
{
    FrmConfig& f = FrmConfig::Load();
    EXPECT_TRUE(gPlugin.ConfigDialogOpen);
    EXPECT_EQ(f.aStyleSheet, "StyleNoBody.css");
    EXPECT_EQ(f.abca, "#000000");
    EXPECT_EQ(f.aServerPort, "8010");
    EXPECT_EQ(f.aCommPort, "1");
    EXPECT_EQ(f.aSerialIP, "");
    EXPECT_EQ(f.TxtPoll, "2000");
    EXPECT_EQ(f.showInMenu, 1);
    EXPECT_EQ(f.aIncludeVariables + f.aIncludeX10 + f.aIncludeIO + f.aIncludeIR + f.aIncludeMessages, 0);
    EXPECT_EQ(f.aX10Xmit, 1);
    EXPECT_EQ(f.lblver, "Version 1.0.0");
    EXPECT_EQ(f.DisconnectCaption, "Disconnect from Quillon");
    EXPECT_TRUE(f.DisconnectEnabled);
    EXPECT_EQ(f.List1, QStringList{"Unit 0 Quillon/CPU-QX/Kestrel"});
    EXPECT_EQ(f.aVariableHouseCode1, "No House Code");
    EXPECT_EQ(f.aVariableHouseCode2, "No House Code");
    EXPECT_FALSE(f.MatrixHeadingsVisible);
    EXPECT_TRUE(f.ready());
    EXPECT_FALSE(f.updating());
    EXPECT_EQ(f.aIRDevice.size(), 32);
    EXPECT_EQ(f.aIRLabel[5], "5 : ");
    FrmConfig::Unload();
    EXPECT_FALSE(gPlugin.ConfigDialogOpen);
    EXPECT_EQ(FrmConfig::instance(), nullptr);
}

TEST_F(FrmConfigTest, LoadsTheGivenFilesWithQuotesRemoved)
{
    useGivenFiles();
    gPlugin.LogErrors = 0;
    gPlugin.LogComms = 1;
    FrmConfig& f = FrmConfig::Load();
    EXPECT_EQ(f.aStyleSheet, "Dark.css");
    EXPECT_EQ(f.abca, "#102030");
    EXPECT_EQ(f.aServerPort, "8099");
    EXPECT_EQ(f.aCommPort, "4");
    EXPECT_EQ(f.TxtPoll, "750");
    EXPECT_EQ(f.ChkInvert, 1);
    EXPECT_EQ(f.ChkLogErrors, 0); // from the running flags, not the file
    EXPECT_EQ(f.ChkLogComms, 1);
    EXPECT_EQ(f.showInMenu, 0);
    EXPECT_EQ(f.aIRRecognitionForward, 1);
    EXPECT_EQ(f.aIncludeVariables, 1);
    EXPECT_EQ(f.aIncludeX10, 1);
    EXPECT_EQ(f.aIncludeIO, 0);
    EXPECT_EQ(f.aProjectFile, "/srv/house.prj");
    EXPECT_EQ(f.aQPROexe, "/opt/qpro/cpuqx.exe");
    EXPECT_EQ(f.aIRProExe, "/opt/ir/IR_MAX.exe");
}

TEST_F(FrmConfigTest, OkWritesExactlyTheChangedKeys)
{
    useGivenFiles();
    const QMap<QString, QString> pluginBefore = section("xaptvkKorvane.ini");
    const QMap<QString, QString> hostBefore = section("tvkXapKorvane.ini");
    FrmConfig& f = FrmConfig::Load();
    f.TxtPoll = " 1500 ";
    f.ChkLogComms = 1;
    f.aIncludeIO = 1;
    f.abca = "#FFFFFF";
    f.aIncludeMessages = 1; // its own key; the setup-block flag stays as stored
    f.OKButton_Click();
    EXPECT_EQ(FrmConfig::instance(), nullptr);
    flush();

    QMap<QString, QString> pluginWanted = pluginBefore;
    pluginWanted["poll_interval"] = "1500";
    pluginWanted["log_comms"] = "1";
    pluginWanted["includeio"] = "1";
    pluginWanted["includemessages"] = "1";
    EXPECT_EQ(section("xaptvkKorvane.ini"), pluginWanted);
    QMap<QString, QString> hostWanted = hostBefore;
    hostWanted["background"] = "#FFFFFF";
    EXPECT_EQ(section("tvkXapKorvane.ini"), hostWanted); // the quoted style sheet kept as stored

    EXPECT_EQ(gPlugin.PollInterval, "1500");
    EXPECT_EQ(gPlugin.LogComms, 1);
    EXPECT_TRUE(gPlugin.IncludeIO);
    EXPECT_FALSE(gPlugin.IncludeSetup);
    EXPECT_EQ(gBackground, "#FFFFFF");
    EXPECT_EQ(gHTTPPort, "8010") << "a port its user left alone is not put to use from the file";
}

TEST_F(FrmConfigTest, CancelWritesNothing)
{
    useGivenFiles();
    const QByteArray pluginBytes = readConfig("xaptvkKorvane.ini");
    const QByteArray hostBytes = readConfig("tvkXapKorvane.ini");
    FrmConfig& f = FrmConfig::Load();
    f.TxtPoll = "100";
    f.aStyleSheet = "Other.css";
    f.aCommPort = "7";
    f.aIncludeIR = 1;
    f.CancelButton_Click();
    EXPECT_EQ(FrmConfig::instance(), nullptr);
    EXPECT_FALSE(HostIniCache().isDirty("xaptvkKorvane.ini"));
    EXPECT_FALSE(HostIniCache().isDirty("tvkXapKorvane.ini"));
    flush();
    EXPECT_EQ(readConfig("xaptvkKorvane.ini"), pluginBytes);
    EXPECT_EQ(readConfig("tvkXapKorvane.ini"), hostBytes);
    EXPECT_EQ(gCommPort, "4");
    EXPECT_EQ(gPlugin.PollInterval, "500");
}

// A changed interval the timer cannot run at keeps the old one; the rest of
// OK is saved, and the dialog stays to say so.
TEST_F(FrmConfigTest, PollIntervalOutsideItsRangeKeepsTheOldValue)
{
    useGivenFiles();
    gPlugin.PollInterval = "750";
    for (const QString bad : {"65536", "-5", "abc", "12.5", "", "1e3"}) {
        FrmConfig& f = FrmConfig::Load();
        f.TxtPoll = bad;
        f.abca = "#FFFFF" + QString::number(bad.size());
        f.OKButton_Click();
        ASSERT_EQ(FrmConfig::instance(), &f) << bad.toStdString() << ": the dialog stays to say so";
        EXPECT_EQ(f.TxtPoll, "750") << bad.toStdString();
        EXPECT_TRUE(f.Note.contains("1 to 65535")) << f.Note.toStdString();
        EXPECT_EQ(section("xaptvkKorvane.ini").value("poll_interval"), "750");
        EXPECT_EQ(section("tvkXapKorvane.ini").value("background"), f.abca) << "the rest was saved";
        EXPECT_EQ(gPlugin.PollInterval, "750");
        FrmConfig::Unload();
    }
    for (const QString good : {"65535", "0"}) {
        FrmConfig& f = FrmConfig::Load();
        f.TxtPoll = good;
        f.OKButton_Click();
        EXPECT_EQ(FrmConfig::instance(), nullptr) << good.toStdString();
        EXPECT_EQ(section("xaptvkKorvane.ini").value("poll_interval"), good) << "0 is no polling";
    }
}

// A style sheet from another host or a background that is more than a
// colour is refused: the one in use stays, in memory, in the file and on the dialog.
TEST_F(FrmConfigTest, StyleSheetAndBackgroundMustStayLocal)
{
    useGivenFiles();
    const QMap<QString, QString> hostBefore = section("tvkXapKorvane.ini");
    FrmConfig& f = FrmConfig::Load();
    const QString sheet = f.aStyleSheet; // as stored
    const QString colour = f.abca;
    const QString sheetInUse = gStyleSheet;
    const QString colourInUse = gBackground;
    f.aStyleSheet = "//evil.example/x.css";
    f.abca = "red;background-image:url(//evil.example/y.png)";
    f.OKButton_Click();
    EXPECT_TRUE(f.Note.contains("relative path under the HTML folder")) << f.Note.toStdString();
    EXPECT_TRUE(f.Note.contains("must be a colour")) << f.Note.toStdString();
    EXPECT_EQ(f.aStyleSheet, sheet);
    EXPECT_EQ(f.abca, colour);
    EXPECT_EQ(gStyleSheet, sheetInUse);
    EXPECT_EQ(gBackground, colourInUse);
    EXPECT_EQ(section("tvkXapKorvane.ini").value("stylesheet").remove('"'), hostBefore.value("stylesheet").remove('"'));
    EXPECT_EQ(section("tvkXapKorvane.ini").value("background"), hostBefore.value("background"));
    if (FrmConfig::instance())
        FrmConfig::Unload();
}

// OK leaves a link its user did not touch as it is, in the file and in use.
TEST_F(FrmConfigTest, UnchangedLinkOpensNothingAndKeepsItsText)
{
    useGivenFiles();
    writeConfig("tvkXapKorvane.ini", "[tspi_quillon]\r\nCommPort=004\r\n");
    gCommPort = "004";
    FrmConfig& f = FrmConfig::Load();
    f.OKButton_Click();
    EXPECT_EQ(gCommPort, "004");
    flush();
    EXPECT_EQ(section("tvkXapKorvane.ini").value("commport"), "004");
    EXPECT_FALSE(logged("Initializing X10 Interface"));
}

// Only the messages box's own click is refused: it cannot be ticked.
TEST_F(FrmConfigTest, MessagesIncludeBoxLogsItsNoticeAndStaysClear)
{
    FrmConfig& f = FrmConfig::Load();
    f.aIncludeMessages = 1;
    f.aIncludeMessages_Click();
    EXPECT_EQ(f.aIncludeMessages, 0);
    EXPECT_TRUE(logged("xaptvkKorvane|QPRO Messages Not Implemented"));
}

TEST_F(FrmConfigTest, IrRemapPagingKeepsEditsAcrossPages)
{
    QByteArray labels;
    for (int g = 0; g < 32; ++g)
        labels += "\"Device " + QByteArray::number(g) + "\"\r\n";
    for (int i = 0; i < 1008; ++i)
        labels += "\"Key " + QByteArray::number(i) + " of a long name\"\r\n";
    writeConfig("irlbl.cfg", labels);
    gPlugin.IRMapEntries = QStringList(1008);
    gPlugin.IRMapEntries[40] = "12";
    FrmConfig& f = FrmConfig::Load();
    ASSERT_TRUE(f.ready());
    EXPECT_EQ(f.aIRDevice.value(27), "Device 27");
    EXPECT_EQ(f.aIRLabel[3], "3 : Key 3 of a long"); // 19 characters

    f.aRemap_Change(3, "500");
    EXPECT_TRUE(f.irLabelsChanged());
    f.aIRDevice_Click(1);
    EXPECT_EQ(f.irPageOffset(), 36);
    EXPECT_EQ(f.aRemap[4], "12");
    f.aRemap_Change(4, "13");
    f.aIRDevice_Click(27); // the last page
    EXPECT_EQ(f.aIRLabel[0], "972 : Key 972 of a ");
    EXPECT_EQ(f.aIRLabel[35], "1007 : Key 1007 of ");
    f.aRemap_Change(35, "1");
    f.aIRDevice_Click(28); // listed, but the table has no page for it
    EXPECT_EQ(f.aIRDeviceIndex, 27);
    EXPECT_EQ(f.aRemap[35], "1");
    f.aIRDevice_Click(0);
    EXPECT_EQ(f.aRemap[3], "500");
    f.aIRDevice_Click(1);
    EXPECT_EQ(f.aRemap[4], "13");

    f.OKButton_Click();
    const QList<QByteArray> lines = readConfig("irmap.cfg").split('\n');
    ASSERT_GE(lines.size(), 1008);
    EXPECT_EQ(lines[3].trimmed(), "\"500\"");
    EXPECT_EQ(lines[40].trimmed(), "\"13\"");
    EXPECT_EQ(lines[1007].trimmed(), "\"1\"");
    EXPECT_EQ(gPlugin.IRKeyLocations[3], 500);
    EXPECT_EQ(gPlugin.IRKeyLocations[1007], 1);
}

TEST_F(FrmConfigTest, RemapEditsWithoutAChangeAreNotSaved)
{
    FrmConfig& f = FrmConfig::Load();
    f.aIRDevice_Click(2);
    f.OKButton_Click();
    EXPECT_FALSE(QFile::exists(appDir.filePath("Config/irmap.cfg")));
}

class FrmConfigSimTest : public DialogFixture
{
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        startPlugin();
        ASSERT_FALSE(HasFatalFailure());
    }
    QStringList storeLines()
    {
        gHostForm->SaveDevices();
        hs->FlushIniCache();
        QStringList out;
        bool in = false;
        for (const QByteArray& raw : readConfig("tvkXapKorvane.ini").split('\n')) {
            const QString line = QString::fromLatin1(raw).trimmed();
            // "[" is also a house code: a section line has no "=".
            if (line.startsWith('[') && line.endsWith(']') && !line.contains('='))
                in = line.compare("[PLUGINDEVICES]", Qt::CaseInsensitive) == 0;
            else if (in && !line.isEmpty())
                out << line;
        }
        return out;
    }
    // The device line of a code: its fields after "code=".
    QStringList fieldsOf(const QStringList& lines, const QString& code)
    {
        for (const QString& l : lines)
            if (l.startsWith(code + "="))
                return l.mid(code.size() + 1).split(';');
        return {};
    }
};

TEST_F(FrmConfigSimTest, UnitsAreListedByAddressAndRowsShareOneTable)
{
    FrmConfig& f = FrmConfig::Load();
    EXPECT_EQ(f.List1, (QStringList{"Unit 0 Quillon/CPU-QX/Kestrel", "Unit 1 SIO16", "Unit 3 SIO16IR", "Unit 5 SIO16I",
                                    "Unit 9 SIO16IR", "Unit 10 RLY-8"}));
    EXPECT_EQ(f.matrix.rows, (QList<int>{1, 5, 10}));
    EXPECT_TRUE(f.MatrixHeadingsVisible);
    EXPECT_TRUE(f.RowVisible[2]);
    EXPECT_FALSE(f.RowVisible[3]);
    EXPECT_EQ(f.aIOUnit[32] + f.aIOUnit[16] + f.aIOUnit[0], " 16");
    EXPECT_EQ(f.aIOUnit[33] + f.aIOUnit[17] + f.aIOUnit[1], "16I");
    EXPECT_EQ(f.aIOUnit[34] + f.aIOUnit[18] + f.aIOUnit[2], "RLY");
    EXPECT_TRUE(f.IOPointVisible[2 * 16 + 7]);
    EXPECT_FALSE(f.IOPointVisible[2 * 16 + 8]); // a relay unit has 8 points
    EXPECT_EQ(f.aVariableHouseCode1, "No House Code");
    for (int v = 0; v < 128; ++v)
        ASSERT_EQ(f.matrix.Check1[size_t(v)], 0);
    EXPECT_EQ(f.PortOpen, 1);
}

TEST_F(FrmConfigSimTest, MatricesCreateAndDeleteExactlyTheTickedDevices)
{
    FrmConfig& f = FrmConfig::Load();
    f.Check1_Click(3, 1);
    f.Check1_Click(70, 1);
    EXPECT_TRUE(f.matrixChanged());
    f.aCreateVariables_Click();
    EXPECT_FALSE(f.matrixChanged());
    EXPECT_EQ(f.aVariableHouseCode1, "House Code = [");
    EXPECT_EQ(f.aVariableHouseCode2, "House Code = \\");
    // Row 0 is unit 1 (SIO16), row 1 unit 5 (SIO16I), row 2 unit 10 (RELAY08).
    f.IOPoint_Click(0, 1);
    f.IOPoint_Click(9, 1);
    f.IOPoint_Click(16 + 2, 1);
    f.aInvert_Click(1, 1);
    f.IOPoint_Click(32 + 0, 1);
    f.ButCreate_Click();
    // The captions name the devices made.
    EXPECT_EQ(f.Check1Caption[3], "Variable 3:[4 Quillon Variable 3");
    EXPECT_EQ(f.Check1Caption[70], "Variable 70:\\7 Quillon Variable 70");
    EXPECT_EQ(f.IOPointCaption[9], "IO Point 9:]10 Sio16 Unit 1 Relay Output 2");
    EXPECT_EQ(f.aIOHouse[1], "^");
    FrmConfig::Unload();

    QStringList lines = storeLines();
    QStringList codes;
    for (const QString& l : lines)
        codes << l.section('=', 0, 0);
    codes.sort();
    EXPECT_EQ(codes, (QStringList{"[4", "\\7", "]1", "]10", "^3", "_1"}));
    EXPECT_EQ(fieldsOf(lines, "[4").mid(0, 4), (QStringList{"Quillon", "Variable 3", "Veltro Quillon", "3"}));
    EXPECT_EQ(fieldsOf(lines, "]1").mid(0, 5), (QStringList{"Sio16 Unit 1", "Input 1", "Veltro Quillon", "0", "1!11!0!0"}));
    EXPECT_EQ(fieldsOf(lines, "]10").mid(0, 5),
              (QStringList{"Sio16 Unit 1", "Relay Output 2", "Veltro Quillon", "1", "1!11!9!0"}));
    EXPECT_EQ(fieldsOf(lines, "^3").mid(0, 5),
              (QStringList{"Sio16i Unit 5", "Input 3", "Veltro Quillon", "0", "5!12!2!1"}));
    EXPECT_EQ(fieldsOf(lines, "_1").mid(0, 5),
              (QStringList{"Rly08 Unit 10", "Relay Output 1", "Veltro Quillon", "1", "10!13!0!0"}));

    // A second opening shows them ticked; clearing boxes deletes exactly those.
    FrmConfig& g = FrmConfig::Load();
    EXPECT_EQ(g.matrix.Check1[3], 1);
    EXPECT_EQ(g.matrix.IOPoint[9], 1);
    EXPECT_EQ(g.matrix.aInvert[1], 1);
    g.Check1_Click(70, 0);
    g.Check1_Click(71, 1);
    g.IOPoint_Click(9, 0);
    g.CreateVariablesAndIO(3);
    FrmConfig::Unload();
    lines = storeLines();
    codes.clear();
    for (const QString& l : lines)
        codes << l.section('=', 0, 0);
    codes.sort();
    EXPECT_EQ(codes, (QStringList{"[4", "\\8", "]1", "^3", "_1"}));
}

TEST_F(FrmConfigSimTest, UnloadAsksBeforeActingOnMatrixChanges)
{
    ScriptedPrompts prompts;
    prompts.answer = false;
    FrmConfig& f = FrmConfig::Load();
    f.setPrompts(&prompts);
    f.Check1_Click(5, 1);
    f.CancelButton_Click();
    ASSERT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(prompts.questions[0],
              "Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?");
    EXPECT_EQ(hs->DeviceCount(), 0);

    prompts.answer = true;
    FrmConfig& g = FrmConfig::Load();
    g.setPrompts(&prompts);
    g.Check1_Click(5, 1);
    g.CancelButton_Click();
    EXPECT_TRUE(deviceExists("[6"));
}

// The status page's sequence: loaded hidden, boxes set, devices made, flags
// reset, unloaded; no question and no reminder.
TEST_F(FrmConfigSimTest, StatusPageSequenceAsksNothing)
{
    gPlugin.DisconnectRequested = true;
    gPlugin.IRZonesWritten = true;
    FrmConfig& f = FrmConfig::Load();
    f.matrix.setVariable(0, true);
    f.matrix.setPoint(5, 15, true);
    f.Check1_Click(1, 1);
    f.CreateVariablesAndIO(3);
    f.ResetLoadFlags();
    EXPECT_FALSE(f.matrixChanged());
    EXPECT_FALSE(gPlugin.IRZonesWritten);
    FrmConfig::Unload();
    EXPECT_TRUE(deviceExists("[1"));
    EXPECT_TRUE(deviceExists("[2"));
    EXPECT_TRUE(deviceExists("]1")); // unit 1 had no box: its first point
    EXPECT_TRUE(deviceExists("^16"));
    EXPECT_FALSE(gPlugin.ConfigDialogOpen);
}

TEST_F(FrmConfigSimTest, RemindersAndTheZonesQuestionWhenShown)
{
    ScriptedPrompts prompts;
    prompts.answer = false;
    gPlugin.DisconnectRequested = true;
    gPlugin.IRZonesWritten = true;
    FrmConfig& f = FrmConfig::Load();
    EXPECT_EQ(f.DisconnectCaption, "Reconnect to Quillon");
    f.setPrompts(&prompts);
    f.CancelButton_Click();
    EXPECT_EQ(prompts.reminders, QStringList{"Reminder...comm port to quillon was disconnected"});
    ASSERT_EQ(prompts.questions.size(), 1);
    EXPECT_TRUE(prompts.questions[0].startsWith("IR Label Files have been created from QPRO System Map."));
    EXPECT_FALSE(gPlugin.IRZonesWritten);
}

TEST_F(FrmConfigSimTest, DisconnectTwiceClosesAndRestoresTheLink)
{
    FrmConfig& f = FrmConfig::Load();
    f.Disconnect_Click();
    EXPECT_EQ(f.DisconnectCaption, "Reconnect to Quillon");
    form().loop.Timer3_Timer();
    EXPECT_FALSE(gPlugin.PortOpenFlag);
    EXPECT_EQ(f.PortOpen, 0);
    sim->clearRecord();
    f.Disconnect_Click();
    EXPECT_EQ(f.DisconnectCaption, "Disconnect from Quillon");
    EXPECT_TRUE(gPlugin.CommsStarted);
    EXPECT_TRUE(gPlugin.PortOpenFlag);
    EXPECT_EQ(f.PortOpen, 1);
    EXPECT_GT(sim->count(QuillonSim::FrameKind::BlockRead), 0) << "the controller is looked for again";
}

TEST_F(FrmConfigSimTest, QproWithoutToolAndCancelledChoiceSetsNothing)
{
    ScriptedPrompts prompts;
    FrmConfig& f = FrmConfig::Load();
    f.setPrompts(&prompts);
    f.aQPROexe = appDir.filePath("missing/cpuqx.exe");
    f.aQPRO_Click();
    EXPECT_EQ(prompts.fileFilters, QStringList{"cpuqx.exe|cpuqx.exe"});
    EXPECT_FALSE(gPlugin.ToolRunRequested);
    EXPECT_FALSE(gPlugin.DisconnectRequested);
    EXPECT_TRUE(gPlugin.PortOpenFlag);

    // A chosen tool hands the link over: requests set, button disabled, path kept.
    const QString tool = appDir.filePath("cpuqx.exe");
    QFile(tool).open(QIODevice::WriteOnly);
    prompts.file = tool;
    f.aQPRO_Click();
    EXPECT_TRUE(gPlugin.ToolRunRequested);
    EXPECT_TRUE(gPlugin.DisconnectRequested);
    EXPECT_FALSE(f.DisconnectEnabled);
    EXPECT_EQ(gPlugin.ToolPath, tool);
    EXPECT_EQ(setting("QPROFile"), tool);
    gPlugin.ToolRunRequested = gPlugin.DisconnectRequested = false;
}

TEST_F(FrmConfigSimTest, ChangedPortReconnectsToASecondController)
{
    QuillonSim second;
    second.setUnit(2, 12);
    SimTcpTransport secondPort;
    ASSERT_TRUE(secondPort.listen());
    second.attach(&secondPort);
    gSerialIPAddress = "127.0.0.1";
    gUseSerialComm = true;
    gCommPort = QString::number(tcp->port());
    writeConfig("tvkXapKorvane.ini",
                "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort=" + QByteArray::number(tcp->port()) + "\r\n");

    FrmConfig& f = FrmConfig::Load();
    EXPECT_EQ(f.aCommPort, QString::number(tcp->port()));
    f.aCommPort = QString::number(secondPort.port());
    f.OKButton_Click();
    EXPECT_TRUE(gPlugin.CommsStarted);
    EXPECT_EQ(gPlugin.CommPort, QString::number(secondPort.port()));
    EXPECT_GT(second.count(QuillonSim::FrameKind::BlockRead), 0) << "the second controller was looked for";
    EXPECT_EQ(gPlugin.UnitTypes[1], 12) << "its unit table was read";
    EXPECT_EQ(gPlugin.UnitTypes[0], 0);
    EXPECT_TRUE(waitFor([&] { return !tcp->isConnected(); }, 5000)) << "the first link was closed";
    hs->FlushIniCache();
    EXPECT_EQ(section("tvkXapKorvane.ini").value("commport"), QString::number(secondPort.port()));
    EXPECT_EQ(section("xaptvkKorvane.ini").value("comport"), QString::number(secondPort.port()));

    // Commands now reach the second controller.
    second.clearRecord();
    plugin->SetPoint(2, 0, 1);
    EXPECT_TRUE(waitFor([&] { return !second.framesOf(QuillonSim::FrameKind::Command).isEmpty(); }, 5000));
}

TEST_F(FrmConfigSimTest, SynchronizesNamesInBothDirections)
{
    const QString path = appDir.filePath("house.prj");
    QStringList l{"Quillon Project", "\tLocal", "\t\tVariables"};
    for (int n = 0; n < 128; ++n)
        l << (n == 0 ? QString("\t\t\t[1 Kitchen Light") : n == 5 ? QString("\t\t\tPump") : "\t\t\tV" + QString::number(n));
    l << "\t\tX-10";
    const QByteArray original = (l.join("\r\n") + "\r\n").toLatin1();
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(original);
    }
    ScriptedPrompts prompts;
    FrmConfig& f = FrmConfig::Load();
    f.setPrompts(&prompts);
    f.Check1_Click(0, 1);
    f.Check1_Click(5, 1);
    f.aCreateVariables_Click();
    ASSERT_TRUE(deviceExists("[6"));

    // Project file to host.
    f.aProjectFile = path;
    f.aIncludeVariables = 1;
    f.aIncludeIR = 1;
    f.aSyncMaster = 1;
    f.aSynchronize_Click();
    ASSERT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(prompts.questions[0], "Are you certain you want to overwrite Korvane definitions?  Note that IR Label "
                                    "changes will not take effect until Tessera restart.");
    EXPECT_EQ(deviceProperty("[1", "location"), "Kitchen");
    EXPECT_EQ(deviceProperty("[1", "name"), "Light");
    EXPECT_EQ(deviceProperty("[6", "location"), "Quillon");
    EXPECT_EQ(deviceProperty("[6", "name"), "Pump");
    EXPECT_EQ(setting("IncludeVariables"), "1") << "the include options are saved first";
    EXPECT_EQ(fileBytes(path), original);

    // Host to project file, after a backup copy.
    hs->deviceByCode("[6")->let("location", Variant("Cellar"));
    f.aSyncMaster = 0;
    f.aSynchronize_Click();
    ASSERT_EQ(prompts.questions.size(), 2);
    EXPECT_EQ(prompts.questions[1], "Are you certain you want to overwrite QPRO System Map definitions?");
    EXPECT_EQ(fileBytes(appDir.filePath("Copy of house.prj")), original);
    const QList<QByteArray> lines = fileBytes(path).split('\n');
    ASSERT_GT(lines.size(), 9);
    EXPECT_EQ(lines[3].trimmed(), "Kitchen Light");
    EXPECT_EQ(lines[8], "\t\t\tCellar Pump\r");
    EXPECT_EQ(lines[9], "\t\t\tV6\r");

    // Declined: nothing is written.
    prompts.answer = false;
    hs->deviceByCode("[6")->let("location", Variant("Attic"));
    f.aSynchronize_Click();
    EXPECT_FALSE(fileBytes(path).contains("Attic"));
}

TEST_F(FrmConfigSimTest, ClockAndTouchScreenButtons)
{
    FrmConfig& f = FrmConfig::Load();
    sim->clearRecord();
    f.aClock_Click();
    EXPECT_TRUE(waitFor([&] { return !sim->framesOf(QuillonSim::FrameKind::LongFrame).isEmpty(); }, 5000))
        << "the controller's clock is set";
    f.Command1_Click();
    EXPECT_TRUE(deviceExists("[1"));
    EXPECT_EQ(deviceProperty("[1", "name"), "Kestrel Screen");
    f.Command1_Click();
    EXPECT_TRUE(logged("Kestrel device is already created"));
}

TEST_F(FrmConfigTest, OptionPairShowsAndStoresAFlag)
{
    // Whatever the pair showed before, exactly the member of the flag is ticked.
    FrmConfig::OptionPair pair{1, 1};
    FrmConfig::ShowOption(pair, 1);
    EXPECT_EQ(pair, (FrmConfig::OptionPair{0, 1}));
    FrmConfig::ShowOption(pair, 0);
    EXPECT_EQ(pair, (FrmConfig::OptionPair{1, 0}));
    FrmConfig::ShowOption(pair, -1);
    EXPECT_EQ(pair, (FrmConfig::OptionPair{0, 1}));
    pair = {0, 0};
    FrmConfig::ShowOption(pair, 0);
    EXPECT_EQ(pair, (FrmConfig::OptionPair{1, 0}));

    // Any non-zero value is stored as "1", replacing what the key held.
    useGivenFiles();
    FrmConfig::SaveOption(0, "Recognition");
    FrmConfig::SaveOption(-2, "showInMenu");
    FrmConfig::SaveOption(7, "SyncMaster");
    flush();
    const QMap<QString, QString> stored = section("xaptvkKorvane.ini");
    EXPECT_EQ(stored.value("recognition"), "0");
    EXPECT_EQ(stored.value("showinmenu"), "1");
    EXPECT_EQ(stored.value("syncmaster"), "1");
    EXPECT_FALSE(section("tvkXapKorvane.ini").contains("syncmaster"));
}
