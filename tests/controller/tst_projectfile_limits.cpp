// Project files that are not what they claim: huge, endless or blocking, or
// with control characters in their names.
#include "PluginTestSupport.h"

#include "controller/PluginSettings.h"
#include "controller/PointMap.h"
#include "controller/SystemMap.h"
#include "controller/UnitMappings.h"
#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include <QElapsedTimer>
#include <QFile>

#include <sys/stat.h>

namespace {
// Peak resident memory of this process in kB.
long peakResidentKb()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int countLogged(const QString& part)
{
    int n = 0;
    for (const QString& e : loggedEntries())
        n += e.contains(part) ? 1 : 0;
    return n;
}
} // namespace

class ProjectFileLimits : public PluginFixture
{
protected:
    void useProjectFile(const QString& path)
    {
        if (!plugin) {
            plugin = std::make_shared<tspi>();
            plugin->RegisterCallback(gHostForm);
        }
        writeConfig("xaptvkKorvane.ini", "[tspi_quillon]\r\nProjectFile=" + path.toLatin1() + "\r\n");
        HostIniCache().reset();
    }
};

TEST_F(ProjectFileLimits, FileOfLineEndsIsRefusedWithoutItsRows)
{
    const QString path = appDir.filePath("ends.prj");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray mib(1024 * 1024, '\n');
        for (int i = 0; i < 15; ++i)
            ASSERT_EQ(f.write(mib), mib.size());
    }
    const long before = peakResidentKb();
    SystemMap map;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(map.read(path));
    EXPECT_TRUE(map.isEmpty());
    EXPECT_TRUE(map.error().contains("15728640 lines")) << map.error().toStdString();
    EXPECT_TRUE(logged("more than a project file has"));
    useProjectFile(path);
    PointMap::BuildSystemMapDictionary();
    EXPECT_LT(t.elapsed(), 20000);
    const long after = peakResidentKb();
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 200 * 1024) << "peak grew by " << (after - before) / 1024 << " MB";

    // A file just under the bound is still a project file.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(int(SystemMap::kMaxLines), '\n'));
    f.close();
    EXPECT_TRUE(map.read(path));
    EXPECT_EQ(map.size(), SystemMap::kMaxLines);
}

TEST_F(ProjectFileLimits, PipeAndDeviceAreRefusedAtOnce)
{
    const QString fifo = appDir.filePath("pipe.prj");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
        loggedEntries().clear();
        QElapsedTimer t;
        t.start();
        SystemMap map;
        EXPECT_FALSE(map.read(path)) << path.toStdString();
        useProjectFile(path);
        PointMap::BuildSystemMapDictionary();
        EXPECT_TRUE(logged("is not a regular file; not read")) << path.toStdString();
        loggedEntries().clear();
        PointMap::Synchronize(1, path, PointMap::Includes{true, true, true, true});
        EXPECT_LT(t.elapsed(), 3000) << path.toStdString();
        EXPECT_TRUE(logged("is not a regular file; not read")) << path.toStdString();
        EXPECT_FALSE(PointMap::ReadError().isEmpty());
    }
}

TEST_F(ProjectFileLimits, ControlCharactersNeverReachANameOrTheDictionary)
{
    startPlugin();
    ASSERT_FALSE(HasFatalFailure());
    selectAndCreate({0, 1}, {});
    const QString path = appDir.filePath("house.prj");
    QByteArray text = "Quillon Project\r\n\tLocal\r\n\t\tVariables\r\n";
    text += "\t\t\tV0 Hall\x01Temp\r\n";
    text += "\t\t\tV1 Lounge\x1b[2J\x7fLamp\r\n";
    for (int n = 2; n < 128; ++n)
        text += "\t\t\tV" + QByteArray::number(n) + "\r\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    useProjectFile(path);
    PointMap::BuildSystemMapDictionary();
    ASSERT_TRUE(gPlugin.PointNameDictionary);
    EXPECT_EQ(gPlugin.PointNameDictionary->item(Variant("V0")).toString(), "HallTemp");
    EXPECT_EQ(gPlugin.PointNameDictionary->item(Variant("V1")).toString(), "Lounge[2J\x7f" "Lamp");

    PointMap::Synchronize(1, path, PointMap::Includes{true, false, false, false});
    const QString v0 = UnitMappings::variableCode(0);
    EXPECT_EQ(deviceProperty(v0, "location"), "V0");
    EXPECT_EQ(deviceProperty(v0, "name"), "HallTemp");
    for (const QChar c : deviceProperty(UnitMappings::variableCode(1), "name"))
        EXPECT_GE(c.unicode(), 0x20);
}

// The X10, IR and I/O sides of one start share one read of the project file.
TEST_F(ProjectFileLimits, PluginStartReadsTheProjectFileOnce)
{
    useProjectFile(appDir.filePath("gone.prj"));
    startPlugin();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(countLogged("Project File does not exist"), 1);
    // A new start of communications reads it again, once.
    loggedEntries().clear();
    form().link.CloseCommLink(false);
    form().start.StartCommunications();
    EXPECT_EQ(countLogged("Project File does not exist"), 1);
}
