// Values OK cannot store as given, the dialog's busy handlers and what
// reaches the disk without waiting for Exit.
#include "UiTestSupport.h"

#include "controller/IRFiles.h"
#include "controller/SystemMap.h"
#include "controller/UnitMappings.h"
#include "host/Application.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include <QFile>
#include <QTcpServer>

#include <sched.h>
#include <sys/mount.h>

namespace {
// The Config file as it is on disk now (nothing flushed by the test).
QString onDisk(const QTemporaryDir& dir, const QString& file, const QString& key)
{
    IniTool ini;
    ini.Load(dir.filePath("Config/" + file));
    return ini.Read("tspi_quillon", key, "<none>");
}

// Asks through a handler of its own: a question during which something else
// asks the dialog to unload.
struct UnloadingPrompts : ScriptedPrompts
{
    bool stillLoaded = false;
    bool askYesNo(const QString& text) override
    {
        FrmConfig::Unload();
        stillLoaded = FrmConfig::instance() != nullptr;
        return ScriptedPrompts::askYesNo(text);
    }
};
} // namespace

// Makes `dir` read-only also for root: a read-only bind mount, in a mount namespace of the
// test process's own so that it ends with the process. False where that is not allowed.
bool mountReadOnly(const QString& dir)
{
    static const bool ownMounts = ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const QByteArray path = QFile::encodeName(dir);
    return ownMounts && ::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0
        && ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

class FrmConfigInputs : public DialogFixture
{
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        plugin = std::make_shared<tspi>();
        plugin->RegisterCallback(gHostForm);
        writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\npoll_interval=750\r\ncomport=4\r\n");
        writeConfig("tvkXapKorvane.ini", "[tspi_quillon]\r\nHTTPPort=8099\r\nCommPort=4\r\nStyleSheet=Dark.css\r\n");
        gCommPort = "4";
        gSerialIPAddress.clear();
        gUseSerialComm = false;
    }
    QString host(const QString& key) { return onDisk(appDir, "tvkXapKorvane.ini", key); }
    QString plug(const QString& key) { return onDisk(appDir, "xaptvkKorvane.ini", key); }
};

TEST_F(FrmConfigInputs, PortsOutOfRangeKeepTheirOldValues)
{
    for (const QString bad : {"0", "65536", "91458", "1e30", "abc", "-1", "8 010"}) {
        FrmConfig& f = FrmConfig::Load();
        f.aServerPort = bad;
        f.aCommPort = bad;
        f.abca = "#0000" + QString::number(bad.size()).rightJustified(2, '0'); // taken: the rest of OK is saved
        f.OKButton_Click();
        ASSERT_EQ(FrmConfig::instance(), &f) << bad.toStdString() << ": the dialog stays to say why";
        EXPECT_EQ(f.aServerPort, "8099") << bad.toStdString();
        EXPECT_EQ(f.aCommPort, "4") << bad.toStdString();
        EXPECT_TRUE(f.Note.contains("1 to 65535")) << f.Note.toStdString();
        EXPECT_EQ(host("HTTPPort"), "8099");
        EXPECT_EQ(host("CommPort"), "4");
        EXPECT_EQ(host("Background"), f.abca) << "saved at once, not at Exit";
        EXPECT_EQ(gCommPort, "4");
        FrmConfig::Unload();
    }
    EXPECT_FALSE(logged("Initializing X10 Interface"));

    // A serial server's port is a port too; a device path is not.
    writeConfig("tvkXapKorvane.ini", "[tspi_quillon]\r\nSerialIP=127.0.0.1\r\nCommPort=4002\r\n");
    hs->FlushIniCache();
    HostIniCache().reset();
    gSerialIPAddress = "127.0.0.1";
    gUseSerialComm = true;
    gCommPort = "4002";
    FrmConfig& f = FrmConfig::Load();
    ASSERT_EQ(f.aCommPort, "4002");
    f.aCommPort = "/dev/ttyS0";
    f.OKButton_Click();
    EXPECT_EQ(f.aCommPort, "4002");
    f.aCommPort = "91458";
    f.OKButton_Click();
    EXPECT_EQ(f.aCommPort, "4002");
    EXPECT_EQ(gCommPort, "4002");
    EXPECT_FALSE(logged("Initializing X10 Interface")) << "no link to a truncated port";
    FrmConfig::Unload();

    // Valid ones are taken, a serial line by its device path as well.
    gSerialIPAddress.clear();
    gUseSerialComm = false;
    FrmConfig& g = FrmConfig::Load();
    g.aSerialIP.clear();
    g.aCommPort = "/dev/ttyUSB1";
    g.aServerPort = " 65535 ";
    g.OKButton_Click();
    EXPECT_EQ(FrmConfig::instance(), nullptr) << g.Note.toStdString();
    EXPECT_EQ(host("HTTPPort"), "65535");
    EXPECT_EQ(host("CommPort"), "/dev/ttyUSB1");
}

// A server address with a port below 101 is a pair the link never opens:
// whichever half was changed to make it is refused, and the file keeps the
// pair it had; a serial line takes any port.
TEST_F(FrmConfigInputs, AServerAddressIsNeverStoredWithAPortBelow101)
{
    const struct
    {
        const char *storedIP, *storedPort, *typedIP, *typedPort;
        const char *keptIP, *keptPort;
        bool refused;
    } rows[] = {
        {"", "4", "10.0.0.9", "4", "", "4", true},                   // an address to a small port
        {"10.0.0.9", "4001", "10.0.0.9", "80", "10.0.0.9", "4001", true}, // a small port to an address
        {"", "4", "10.0.0.9", "100", "", "4", true},                 // both halves changed
        {"", "4", "10.0.0.9", "101", "10.0.0.9", "101", false},
        {"10.0.0.9", "4001", "", "80", "", "80", false},             // a serial line
        {"10.0.0.9", "4001", "10.0.0.8", "4001", "10.0.0.8", "4001", false},
    };
    for (const auto &row : rows) {
        const std::string what = std::string(row.typedIP) + ":" + row.typedPort;
        writeConfig("tvkXapKorvane.ini", QByteArray("[tspi_quillon]\r\nSerialIP=") + row.storedIP + "\r\nCommPort="
                                             + row.storedPort + "\r\n");
        HostIniCache().reset();
        gSerialIPAddress = QString::fromLatin1(row.storedIP);
        gUseSerialComm = gSerialIPAddress.contains('.');
        gCommPort = QString::fromLatin1(row.storedPort);
        FrmConfig &f = FrmConfig::Load();
        f.aSerialIP = QString::fromLatin1(row.typedIP);
        f.aCommPort = QString::fromLatin1(row.typedPort);
        f.OKButton_Click();
        EXPECT_EQ(f.Note.contains("101 to 65535"), row.refused) << what << ": " << f.Note.toStdString();
        hs->FlushIniCache();
        EXPECT_EQ(host("SerialIP"), QString::fromLatin1(*row.keptIP ? row.keptIP : "<none>")) << what;
        EXPECT_EQ(host("CommPort"), QString::fromLatin1(row.keptPort)) << what;
        if (FrmConfig::instance())
            FrmConfig::Unload();
    }
}

// An unchanged stored value is taken whatever it is, so the rest can be saved.
TEST_F(FrmConfigInputs, StoredPollIntervalOutOfRangeDoesNotBlockOk)
{
    for (const QByteArray stored : {"0", "100000"}) {
        writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\npoll_interval=" + stored + "\r\n");
        HostIniCache().reset();
        FrmConfig& f = FrmConfig::Load();
        ASSERT_EQ(f.TxtPoll, QString(stored));
        f.ChkLogComms = 1;
        f.OKButton_Click();
        EXPECT_EQ(FrmConfig::instance(), nullptr) << stored.constData() << ": " << f.Note.toStdString();
        EXPECT_EQ(plug("log_comms"), "1") << stored.constData();
        EXPECT_EQ(plug("poll_interval"), QString(stored));
        gPlugin.LogComms = 0;
    }
}

// Text the settings files' code page cannot hold is refused, text it can
// hold reads back unchanged.
TEST_F(FrmConfigInputs, TextOutsideTheCodePageIsRefusedAndTheRestReadsBack)
{
    FrmConfig& f = FrmConfig::Load();
    f.aStyleSheet = QString::fromUtf8("Ночь.css");
    f.aProjectFile = QString::fromUtf8("/srv/家.prj");
    f.aQPROexe = "/opt/q\npro";
    f.OKButton_Click();
    ASSERT_EQ(FrmConfig::instance(), &f);
    EXPECT_EQ(f.aStyleSheet, "Dark.css");
    EXPECT_EQ(f.aProjectFile, "");
    EXPECT_EQ(f.aQPROexe, "");
    EXPECT_TRUE(f.Note.contains("Windows-1252"));
    EXPECT_EQ(host("StyleSheet"), "Dark.css");
    EXPECT_EQ(plug("ProjectFile"), "<none>");
    EXPECT_EQ(gStyleSheet == QString::fromUtf8("Ночь.css"), false) << "memory and file never differ";

    // A C1 control shares its byte with a code page character: it would read back as that one.
    f.aStyleSheet = QString::fromUtf8("Caf\u0080.css");
    f.OKButton_Click();
    ASSERT_EQ(FrmConfig::instance(), &f);
    EXPECT_EQ(f.aStyleSheet, "Dark.css");

    f.aStyleSheet = QString::fromUtf8("Café – €.css");
    f.aProjectFile = QString::fromUtf8("/srv/Maison été.prj");
    f.OKButton_Click();
    EXPECT_EQ(FrmConfig::instance(), nullptr) << f.Note.toStdString();
    HostIniCache().reset();
    FrmConfig& g = FrmConfig::Load();
    EXPECT_EQ(g.aStyleSheet, QString::fromUtf8("Café – €.css"));
    EXPECT_EQ(g.aProjectFile, QString::fromUtf8("/srv/Maison été.prj"));
    EXPECT_EQ(gStyleSheet, g.aStyleSheet);

    // A chosen path goes to the file at once: it is refused the same way.
    ScriptedPrompts prompts;
    prompts.file = QString::fromUtf8("/srv/Дом.prj");
    g.setPrompts(&prompts);
    g.BrowseProjectFile();
    EXPECT_EQ(g.aProjectFile, QString::fromUtf8("/srv/Maison été.prj"));
    EXPECT_TRUE(g.Note.contains("Windows-1252"));
}

// A remap is an IR location: a line break would shift every later entry of
// irmap.cfg and a quote would be lost.
TEST_F(FrmConfigInputs, RemapTextThatIsNoLocationIsRefused)
{
    gPlugin.IRMapEntries = QStringList(1008);
    gPlugin.IRMapEntries[3] = "40";
    FrmConfig& f = FrmConfig::Load();
    f.aRemap_Change(2, "12\n34");
    f.aRemap_Change(3, "5\"6");
    f.aRemap_Change(4, " 17 ");
    f.aRemap_Change(5, "1024");
    f.OKButton_Click();
    ASSERT_EQ(FrmConfig::instance(), &f);
    EXPECT_EQ(f.aRemap[2], "");
    EXPECT_EQ(f.aRemap[3], "40");
    EXPECT_EQ(f.aRemap[4], "17");
    EXPECT_EQ(f.aRemap[5], "");
    EXPECT_EQ(f.Note, "3 remaps were not taken: locations 2-3, 5 (a remap is an IR location from 0 to 1023 or empty; "
                      "the stored ones are kept).");
    const QList<QByteArray> lines = readConfig("irmap.cfg").split('\n');
    ASSERT_EQ(lines.size(), 1009) << "1008 lines and the last line end";
    EXPECT_EQ(lines[2].trimmed(), "\"\"");
    EXPECT_EQ(lines[3].trimmed(), "\"40\"");
    EXPECT_EQ(lines[4].trimmed(), "\"17\"");
    EXPECT_EQ(gPlugin.IRKeyLocations[4], 17);
}

// An unload asked for while a handler waits or asks happens when it returns.
TEST_F(FrmConfigInputs, UnloadDuringAQuestionWaitsForTheHandler)
{
    const QString path = appDir.filePath("house.prj");
    QFile(path).open(QIODevice::WriteOnly);
    UnloadingPrompts prompts;
    prompts.answer = false;
    FrmConfig& f = FrmConfig::Load();
    QPointer<FrmConfig> guard(&f);
    f.setPrompts(&prompts);
    f.aProjectFile = path;
    int unloaded = 0;
    QObject::connect(&f, &FrmConfig::unloaded, [&] { ++unloaded; });
    bool idleRan = false;
    f.aSynchronize_Click();
    EXPECT_TRUE(prompts.stillLoaded) << "the form outlives the question";
    EXPECT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(FrmConfig::instance(), nullptr) << "then it unloads";
    EXPECT_EQ(unloaded, 1);
    EXPECT_FALSE(gPlugin.ConfigDialogOpen);

    // Work for an idle dialog is held while a handler runs.
    FrmConfig& g = FrmConfig::Load();
    struct Deferring : ScriptedPrompts
    {
        FrmConfig* form = nullptr;
        bool* ran = nullptr;
        bool ranInside = true;
        bool askYesNo(const QString& text) override
        {
            form->whenIdle([this] { *ran = true; });
            ranInside = *ran;
            return false;
        }
    } deferring;
    deferring.form = &g;
    deferring.ran = &idleRan;
    g.setPrompts(&deferring);
    g.aProjectFile = path;
    EXPECT_FALSE(g.busy());
    g.aSynchronize_Click();
    EXPECT_FALSE(deferring.ranInside);
    EXPECT_TRUE(idleRan);
    EXPECT_FALSE(g.busy());
    EXPECT_EQ(FrmConfig::instance(), &g);
}

TEST_F(FrmConfigInputs, ProjectFileThatIsNoRegularFileIsRefusedWithANote)
{
    FrmConfig& f = FrmConfig::Load();
    ScriptedPrompts prompts;
    f.setPrompts(&prompts);
    f.aProjectFile = "/dev/zero";
    f.aSyncMaster = 1;
    f.aSynchronize_Click();
    EXPECT_TRUE(prompts.questions.isEmpty());
    EXPECT_TRUE(prompts.fileFilters.isEmpty());
    EXPECT_TRUE(f.Note.contains("not a regular file"));
    EXPECT_TRUE(logged("is not a regular file"));
}

class FrmConfigMatrices : public DialogFixture
{
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        startPlugin();
        ASSERT_FALSE(HasFatalFailure());
    }
    // The device store's line for a code as the file on disk holds it now.
    QString storedDevice(const QString& code)
    {
        IniTool ini;
        ini.Load(appDir.filePath("Config/tvkXapKorvane.ini"));
        return ini.Read("PluginDevices", code, "<none>");
    }
};

// Each create button acts on its own matrix: the other's ticks stay, and so
// does its question at unload. What they make is on disk at once.
TEST_F(FrmConfigMatrices, CreateButtonsKeepTheOtherMatrixAndReachTheDisk)
{
    ScriptedPrompts prompts;
    prompts.answer = true;
    FrmConfig& f = FrmConfig::Load();
    f.setPrompts(&prompts);
    f.IOPoint_Click(0, 1);  // unit 1, point 0: not acted on yet
    f.Check1_Click(3, 1);
    f.aCreateVariables_Click();
    const QString v3 = UnitMappings::variableCode(3);
    EXPECT_NE(storedDevice(v3), "<none>") << "on disk before Exit";
    EXPECT_EQ(f.matrix.IOPoint[0], 1) << "the I/O tick survived";
    EXPECT_TRUE(f.matrixChanged());

    f.Check1_Click(4, 1);
    f.ButCreate_Click();
    EXPECT_NE(storedDevice(houseOf(1) + "1"), "<none>");
    EXPECT_EQ(f.matrix.Check1[4], 1) << "the variable tick survived";
    EXPECT_FALSE(deviceExists(UnitMappings::variableCode(4)));
    f.CancelButton_Click();
    ASSERT_EQ(prompts.questions.size(), 1) << "the pending variable still asks";
    EXPECT_NE(storedDevice(UnitMappings::variableCode(4)), "<none>");

    // The Kestrel button's device is stored at once as well.
    auto storedCount = [&] {
        IniTool ini;
        ini.Load(appDir.filePath("Config/tvkXapKorvane.ini"));
        return ini.Keys("PluginDevices").size();
    };
    const auto before = storedCount();
    FrmConfig& g = FrmConfig::Load();
    g.Command1_Click();
    EXPECT_EQ(storedCount(), before + 1);
}

// A project file refused for its size: the note says so, not that it is no project file.
TEST_F(FrmConfigInputs, ProjectFileTooLargeSaysSoInTheNote)
{
    const QString path = appDir.filePath("huge.prj");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(SystemMap::kMaxBytes + 1)); // sparse: no disk used
    }
    FrmConfig& f = FrmConfig::Load();
    ScriptedPrompts prompts;
    f.setPrompts(&prompts);
    f.aProjectFile = path;
    f.aSyncMaster = 1;
    f.aSynchronize_Click();
    EXPECT_TRUE(f.Note.contains("too large")) << f.Note.toStdString();
    EXPECT_FALSE(f.Note.contains("not a project file")) << f.Note.toStdString();
}

// OK whose settings cannot reach the disk says which file, and stays open; once the folder can
// be written again, the same OK stores them and closes.
TEST_F(FrmConfigInputs, OkOnAReadOnlyConfigNamesTheFileAndStaysOpen)
{
    const QString config = appDir.filePath("Config");
    if (!mountReadOnly(config))
        GTEST_SKIP() << "no read-only bind mount can be made here (needs root and a mount namespace)";
    FrmConfig& f = FrmConfig::Load();
    f.abca = "#102030";
    f.OKButton_Click();
    ::umount2(QFile::encodeName(config).constData(), MNT_DETACH);
    ASSERT_EQ(FrmConfig::instance(), &f) << "the dialog stays to say what was not saved";
    EXPECT_TRUE(f.Note.contains("tvkXapKorvane.ini could not be written")) << f.Note.toStdString();
    EXPECT_NE(host("Background"), "#102030");
    f.OKButton_Click();
    EXPECT_EQ(FrmConfig::instance(), nullptr) << f.Note.toStdString();
    EXPECT_EQ(host("Background"), "#102030");
}
