#include "PluginTestSupport.h"

#include "controller/IRFiles.h"
#include "controller/PointMap.h"
#include "controller/SystemMap.h"
#include "controller/UnitMappings.h"
#include "host/Application.h"
#include "host/HostGlobals.h"

#include "controller/link/CommsLog.h"
#include "controller/link/LinkState.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/SavedFiles.h"
#include "host/IniCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <random>
#include <string_view>
#include <thread>

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Every writer of the program, driven through its real code, against what can stop a write
// half-way: the file afterwards is the old one or the new one, whole; its backup is a whole
// earlier version; and the log names the file. The program folder sits on a small tmpfs of
// its own so that the disk can be filled and made read-only.
class SavedFilesTest : public PointMapTest
{
protected:
    static constexpr const char* kMountOptions = "size=4m,mode=0755";

    void SetUp() override
    {
        PointMapTest::SetUp();
        // Mounts end with the process, also when a test dies half-way.
        static const bool ownMounts = ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        mnt = appDir.filePath("mnt");
        QDir().mkpath(mnt);
        if (!ownMounts || ::mount("tmpfs", QFile::encodeName(mnt).constData(), "tmpfs", 0, kMountOptions) != 0)
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root and a mount namespace)";
        mounted = true;
        for (const char* dir : {"Config", "Data", "Scripts"})
            QDir(mnt).mkpath(dir);
        for (const QString& name : QDir(appDir.filePath("Config")).entryList(QDir::Files))
            QFile::copy(appDir.filePath("Config/" + name), mnt + "/Config/" + name);
        gAppPath = mnt;
        HostIniCache().reset();
        projects[0] = mnt + "/house.prj";
        projects[1] = mnt + "/house2.prj";
        QFile::copy(path, projects[0]);
        QByteArray second = readFile(path);
        second.replace("TV Power", "TV Power with a much longer label than before");
        second.replace("IR Zone Lounge", "IR Zone Lounge and the long room beyond the kitchen");
        writeFile(projects[1], second);
        path = projects[0];
        writeFile(mnt + "/Config/irZones.cfg", "\"\"\r\n");
        linkState().LogComms = 1;
    }
    void TearDown() override
    {
        if (mounted) {
            ::umount2(QFile::encodeName(mnt).constData(), MNT_DETACH);
            gAppPath = appDir.path();
        }
        linkState().LogComms = 0;
        PointMapTest::TearDown();
    }

    static QByteArray readFile(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void writeFile(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    void remount(bool readOnly)
    {
        ASSERT_EQ(::mount("tmpfs", QFile::encodeName(mnt).constData(), "tmpfs", MS_REMOUNT | (readOnly ? MS_RDONLY : 0),
                          kMountOptions),
                  0);
    }
    // Fills the disk to its last byte; the caller removes the filler.
    void fillDisk()
    {
        QFile filler(mnt + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        const QByteArray byte(1, 'f');
        while (filler.write(byte) == 1 && filler.flush()) {
        }
    }
    // A log entry after the first `skip` that says the file could not be written.
    static bool logNames(const QString& file, int skip)
    {
        const QString name = QFileInfo(file).fileName();
        for (const QString& body : PendingXapBodies().mid(skip))
            if (body.contains(name) && (body.contains("annot write") || body.contains("IniTool Save") || body.contains("Path/File access error")))
                return true;
        return false;
    }

    QString mnt;
    bool mounted = false;
    QString projects[2];
};

namespace {
struct WriterRow {
    SavedFiles::Writer writer;
    QString file;                           // under the program folder
    QString backup;                         // empty: none
    std::function<void(int version)> write; // the real writer, content 1 (short) or 2 (longer)
};

// A log line: "entry <n> <padding> END"; the longer one does not fit in what is left of a
// filled disk's last page.
QString logLine(int n, int version)
{
    // Both lengths stay below the log's cut of a long text, so every line keeps its END.
    return QString("entry %1 %2 END").arg(n).arg(QString(version == 1 ? 10 : 900, 'x'));
}

// Appends a line that ends the file on a block boundary: a full disk leaves no room in the
// file's last block that a short line could still take.
void fillLastBlock(const QString& file)
{
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(QFileInfo(file).absolutePath().toLocal8Bit().constData(), &fs), 0);
    const qint64 block = qint64(fs.f_bsize);
    const qint64 size = QFileInfo(file).size();
    qint64 slack = (block - size % block) % block;
    const QByteArray head = "entry pad ", tail = " END\n";
    if (slack == 0)
        return;
    if (slack < head.size() + tail.size())
        slack += block;
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(head + QByteArray(slack - head.size() - tail.size(), 'x') + tail), slack);
}
} // namespace

TEST_F(SavedFilesTest, EveryWriterKeepsItsFileWholeThroughFullDiskSizeLimitReadOnlyFolderAndKill)
{
    int entry = 0;
    const std::vector<WriterRow> rows{
        {SavedFiles::Writer::Settings, "Config/settings.ini", "Config/settings.ini_bck",
         [](int v) {
             HostIniCache().write("settings.ini", "Test", "Key", QString(v == 1 ? 10 : 3000, v == 1 ? 'a' : 'b'));
             try {
                 HostIniCache().flush();
             } catch (const VbError&) {
             }
         }},
        {SavedFiles::Writer::IrMap, "Config/irmap.cfg", "",
         [](int v) {
             gPlugin.IRMapEntries = QStringList(1008);
             if (v == 2)
                 for (int i = 0; i < 1008; i += 2)
                     gPlugin.IRMapEntries[i] = QString::number(1007 - i);
             IRFiles::SaveIRMap();
         }},
        {SavedFiles::Writer::IrLabels, "Config/irLbl.cfg", "Config/irLbl.cfg_Bck",
         [this](int v) { PointMap::Synchronize(1, projects[v - 1], PointMap::Includes{false, false, false, true}); }},
        {SavedFiles::Writer::IrZones, "Config/Synchronized irZones.cfg", "",
         [this](int v) { PointMap::Synchronize(1, projects[v - 1], PointMap::Includes{false, false, true, false}); }},
        {SavedFiles::Writer::ProjectFile, "house.prj", "Copy of house.prj",
         [this](int v) {
             hs->deviceByCode("#1")->let("name", Variant(v == 1 ? "Freezer" : "Freezer that stands in the cellar below"));
             PointMap::Synchronize(0, projects[0], PointMap::Includes{true, false, false, false});
         }},
        {SavedFiles::Writer::ScriptJob, "Scripts/~job.wsf", "",
         [](int v) {
             QString name = "job.txt", proc = "main", param = QString(v == 1 ? 1 : 600, 'p');
             hs->Spawn(name, proc, param);
         }},
        {SavedFiles::Writer::ProgramLog, "Data/xaptvkKorvane/xaptvkKorvane.txt", "",
         [&entry](int v) { WriteLogFile("test", logLine(++entry, v)); }},
        {SavedFiles::Writer::CommsLog, "Data/quillon.log", "", [&entry](int v) { WriteCommsLog(logLine(++entry, v)); }},
    };
    // A writer added to the program joins this table.
    ASSERT_EQ(rows.size(), SavedFiles::writers().size());
    for (const SavedFiles::WriterInfo& w : SavedFiles::writers())
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const WriterRow& r) { return r.writer == w.writer; }))
            << w.name << " has no row";

    ::signal(SIGXFSZ, SIG_IGN);
    std::mt19937 random(44);
    for (const WriterRow& row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        const bool appends = SavedFiles::info(row.writer).appends;
        ASSERT_FALSE(QFile::exists(mnt + "/filler"));
        const QString file = mnt + "/" + row.file;
        const QString backup = row.backup.isEmpty() ? QString() : mnt + "/" + row.backup;
        // The two whole versions, and the file left at the first with the second as its backup.
        row.write(1);
        const QByteArray first = readFile(file);
        row.write(2);
        const QByteArray second = readFile(file);
        row.write(1);
        ASSERT_FALSE(first.isEmpty());
        if (!appends) {
            ASSERT_NE(first, second);
            ASSERT_EQ(readFile(file), first);
            if (!backup.isEmpty())
                ASSERT_EQ(readFile(backup), second);
        }
        const QByteArray backupBefore = backup.isEmpty() ? QByteArray() : readFile(backup);

        struct Condition {
            const char* what;
            std::function<void()> apply, undo;
        };
        const std::vector<Condition> conditions{
            {"full disk", [&] { fillDisk(); }, [&] { QFile::remove(mnt + "/filler"); }},
            {"file-size limit below the file",
             [&] {
                 const qint64 size = readFile(file).size();
                 // Whole files: below the longer version; logs: half-way into the next line.
                 const rlimit limit{rlim_t(appends ? size + 100 : second.size() - 1), RLIM_INFINITY};
                 ::setrlimit(RLIMIT_FSIZE, &limit);
             },
             [] {
                 const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
                 ::setrlimit(RLIMIT_FSIZE, &none);
             }},
            {"read-only folder", [&] { remount(true); }, [&] { remount(false); }},
        };
        for (const Condition& c : conditions) {
            SCOPED_TRACE(c.what);
            if (appends && std::string_view(c.what) == "full disk")
                fillLastBlock(file);
            const QByteArray before = readFile(file);
            const int pendingBefore = PendingXapMessageCount();
            c.apply();
            row.write(2);
            c.undo();
            EXPECT_EQ(readFile(file), before) << "the old file, whole";
            if (!backup.isEmpty())
                EXPECT_EQ(readFile(backup), backupBefore) << "the backup, as it was";
            EXPECT_GT(PendingXapMessageCount(), pendingBefore);
            EXPECT_TRUE(logNames(file, pendingBefore)) << PendingXapBodies().mid(pendingBefore).join("\n").toStdString();
            // Space back: the next write goes in whole, and starts on a line of its own.
            row.write(appends ? 2 : 1);
            if (appends)
                EXPECT_TRUE(readFile(file).startsWith(before)) << "nothing of the cut line left";
        }

        // Killed at any moment of the write: the old or the new file, whole.
        for (int round = 0; round < 12; ++round) {
            // A log the loop grew would fill the small disk before the next row.
            if (appends)
                QFile::remove(file);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                for (int v = 0;; ++v)
                    row.write(v % 2 + 1);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            const QByteArray now = readFile(file);
            if (appends) {
                // A line the kill cut goes before the next one is added.
                row.write(1);
                const QByteArray now = readFile(file);
                ASSERT_TRUE(now.endsWith('\n')) << "round " << round;
                for (const QByteArray& line : now.trimmed().split('\n'))
                    EXPECT_TRUE(line.contains("entry ") && line.contains(" END")) << line.toStdString();
            } else {
                EXPECT_TRUE(now == first || now == second) << "round " << round << ": " << now.size() << " bytes";
                if (!backup.isEmpty()) {
                    const QByteArray b = readFile(backup);
                    EXPECT_TRUE(b == first || b == second) << "round " << round << ": backup " << b.size() << " bytes";
                }
            }
        }
    }
}

namespace {
// Every writer that appends to a log, each entry through the program's own call.
struct LogRow {
    QString file;
    std::function<void(const QString&)> write;
};
std::vector<LogRow> logWriters()
{
    return {
        {"Data/xaptvkKorvane/xaptvkKorvane.txt", [](const QString& text) { WriteLogFile("test", text); }},
        {"Data/quillon.log", [](const QString& text) { WriteCommsLog(text); }},
    };
}
} // namespace

// A line cut by a kill is taken off before the next entry, however long it was: the program
// log gets its longest lines exactly when an entry did not fit in a datagram. Every log writer
// × the shapes of what a kill leaves behind.
TEST_F(SavedFilesTest, ALogLineCutByAKillGoesBeforeTheNextEntryWhateverItsLength)
{
    const std::vector<LogRow> logs = logWriters();
    struct Leftover {
        const char* what;
        QByteArray whole;   // the whole lines before the cut one
        QByteArray cut;     // no line end: where the kill came
    };
    const std::vector<Leftover> leftovers{
        {"a short cut line", "a whole earlier line\n", "CUT" + QByteArray(200, 'z')},
        {"a cut line longer than a read of the tail", "a whole earlier line\n", "CUT" + QByteArray(69000, 'z')},
        {"a long whole line, then a long cut one", "W" + QByteArray(100000, 'w') + "\n", "CUT" + QByteArray(150000, 'z')},
        {"only a cut line, longer than a read of the tail", "", "CUT" + QByteArray(300000, 'z')},
    };
    int entry = 0;
    for (const LogRow& log : logs) {
        for (const Leftover& l : leftovers) {
            SCOPED_TRACE(log.file.toStdString() + ": " + l.what);
            const QString file = mnt + "/" + log.file;
            QDir().mkpath(QFileInfo(file).absolutePath());
            writeFile(file, l.whole + l.cut);
            // Each entry its own text: a repeated one is only counted.
            log.write(QString("after the kill %1 END").arg(++entry));
            const QByteArray now = readFile(file);
            EXPECT_TRUE(now.startsWith(l.whole)) << "the whole lines kept";
            EXPECT_FALSE(now.contains("CUT")) << "the cut line left in: " << now.size() << " bytes";
            EXPECT_TRUE(now.endsWith('\n') && now.trimmed().split('\n').last().contains(QString("after the kill %1 END").arg(entry).toLatin1()))
                << now.right(80).constData();
            EXPECT_EQ(now.count('\n'), l.whole.count('\n') + 1);
        }
    }
}

// Something other than a file at a log's path (a pipe, a folder) is refused and logged, and the
// program goes on: opening a pipe to append would wait for a reader for good.
TEST_F(SavedFilesTest, ALogPathThatIsNoFileIsRefusedWithoutWaiting)
{
    const std::vector<LogRow> logs = logWriters();
    struct Obstacle {
        const char* what;
        std::function<bool(const QString&)> make;
    };
    const std::vector<Obstacle> obstacles{
        {"a pipe", [](const QString& file) { return ::mkfifo(QFile::encodeName(file).constData(), 0644) == 0; }},
        {"a folder", [](const QString& file) { return QDir().mkpath(file); }},
    };
    int entry = 0;
    for (const LogRow& log : logs) {
        for (const Obstacle& o : obstacles) {
            SCOPED_TRACE(log.file.toStdString() + ": " + o.what);
            const QString file = mnt + "/" + log.file;
            QDir().mkpath(QFileInfo(file).absolutePath());
            // A good line first: the refusal below starts a failing streak, whose first entry is logged.
            log.write(QString("a good line %1 END").arg(++entry));
            QFile::remove(file);
            QDir(file).removeRecursively();
            ASSERT_TRUE(o.make(file));
            const int pendingBefore = PendingXapMessageCount();
            // In a child: a write that waits for good must fail the row, not hang the run.
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                log.write(QString("into no file %1 END").arg(entry));
                ::_exit(0);
            }
            int status = -1;
            for (int i = 0; i < 100 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const bool ended = ::waitpid(child, &status, WNOHANG) != 0 || WIFEXITED(status);
            if (!ended) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
            }
            ASSERT_TRUE(ended) << "the write waited on the path";
            // The same write here, now known not to wait: the refusal is logged with the file.
            log.write(QString("into no file %1 END").arg(++entry));
            EXPECT_TRUE(logNames(file, pendingBefore)) << PendingXapBodies().mid(pendingBefore).join("\n").toStdString();
            QFile::remove(file);
            QDir(file).removeRecursively();
        }
    }
}

// On a full disk every line of the controller traffic fails: its entry goes out once for the
// streak, and again for the next streak once a line went in.
TEST_F(SavedFilesTest, AFullDiskLogsTheControllerLogsFailureOncePerStreak)
{
    auto unableEntries = [](int from) {
        return int(PendingXapBodies().mid(from).filter("Unable to write to ocelog.log").size());
    };
    WriteCommsLog("a good line");
    for (int streak = 0; streak < 2; ++streak) {
        SCOPED_TRACE(streak);
        const int before = PendingXapMessageCount();
        fillDisk();
        for (int i = 0; i < 50; ++i)
            WriteCommsLog(QString("traffic %1 %2").arg(i).arg(QString(200, 'x')));
        QFile::remove(mnt + "/filler");
        EXPECT_EQ(unableEntries(before), 1);
        WriteCommsLog("space again");
        EXPECT_EQ(unableEntries(before), 1);
    }
}

