// The device store across real restarts: what the program loads at start it writes back at
// Exit, and a kill during that write leaves the old or the new store whole.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

const QString kStore = QStringLiteral("Config/tvkXapKorvane.ini");

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray storeWithDevices(int count)
{
    QByteArray text = "[PluginDevices]\r\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray unit = QByteArray::number(i % 100);
        const char house = char('A' + (i / 100) % 26);
        text += house + unit + "=Room " + QByteArray::number(i) + ";Lamp;Veltro Quillon;1;"
            + QByteArray::number(i) + " relay;0;Relay;" + (i % 2 ? "2" : "3") + ";" + QByteArray::number(i * 7)
            + ";3/4/2024 5:06:07 PM;text " + QByteArray::number(i) + ";" + (i % 5 ? "" : "tag" + QByteArray::number(i))
            + ";" + (i % 3 ? "False" : "True") + "\r\n";
    }
    text += "[IRDevices]\r\nR0=1/1/2000;;True\r\nR1023=2/29/2024 1:05:07 PM;remote;False\r\n";
    return text;
}

// Whether the process holds open a file of `folder` that is being written: a temporary file
// beside a settings file (named, or unnamed and shown as deleted).
bool writingInto(pid_t pid, const QString& folder)
{
    std::error_code error;
    const std::string prefix = folder.toStdString() + '/';
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (error || target.rfind(prefix, 0) != 0)
            continue;
        const QString name = QString::fromStdString(target.substr(prefix.size()));
        if (!name.endsWith(QStringLiteral(".ini")) && !name.endsWith(QStringLiteral(".ini_bck")))
            return true;
    }
    return false;
}

// An XML configuration of device rows as the host's export writes it, around `rows`.
QByteArray deviceXml(const QByteArray& rows)
{
    return R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
 xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
 xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
 <s:ElementType name='row' content='eltOnly'>
  <s:AttributeType name='record_type'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='can_dim'><s:datatype dt:type='boolean'/></s:AttributeType>
  <s:AttributeType name='hc'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='dc'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='name'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='location'><s:datatype dt:type='string'/></s:AttributeType>
  <s:AttributeType name='ref'><s:datatype dt:type='int'/></s:AttributeType>
  <s:AttributeType name='CS_Status'><s:datatype dt:type='int'/></s:AttributeType>
 </s:ElementType>
</s:Schema>
<rs:data>
)" + rows + "</rs:data>\n</xml>\n";
}

// Drops what earlier runs sent, so that only the next start's heartbeat counts.
void drain(XapListener& listener)
{
    waitUntil([] { return false; }, 100);
    listener.received.clear();
}

bool heartbeatSeen(XapListener& listener)
{
    return waitUntil([&] {
        for (const QByteArray& text : listener.received) {
            if (text.contains("class=xap-hbeat.alive"))
                return true;
        }
        return false;
    });
}

// The plug-in registers once the host form has loaded the devices (and made its import): a
// stop before that would end the import and leave the store as it was.
bool loadedSeen(XapListener& listener)
{
    return waitUntil(
        [&] {
            for (const QByteArray& text : listener.received) {
                if (text.contains("Registered with Setup"))
                    return true;
            }
            return false;
        },
        60000);
}

// Starts the program, waits until it is up, then stops it with SIGTERM.
int runOnce(const ProgramFolder& folder, XapListener& listener)
{
    drain(listener);
    KorvaneProcess program(folder);
    if (!heartbeatSeen(listener) || !loadedSeen(listener))
        return -2;
    return program.terminate();
}

}  // namespace

TEST(DeviceStore, WhatIsLoadedAtStartIsWrittenBackAtExitAndSurvivesTheNextStart)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    folder.writeFile(kStore, storeWithDevices(3));
    ASSERT_EQ(runOnce(folder, listener), 0);
    const QByteArray first = readAll(folder.path() + "/" + kStore);
    // The backup is the file as it was before the last save: the loaded file itself, or the
    // start-up's own save of it when SIGTERM came while the start-up was still running.
    const QByteArray backup = readAll(folder.path() + "/" + kStore + "_bck");
    EXPECT_TRUE(backup == storeWithDevices(3)
                || (backup.contains("A2=Room 2;Lamp;Veltro Quillon;1;2 relay;0;Relay;3;14;3/4/2024 5:06:07 PM;text 2;;False\r\n")
                    && backup.contains("R1023=2/29/2024 1:05:07 PM;remote;False\r\n")))
        << "the previous file is kept: " << backup.constData();
    // Sorted, with each device's fields and state as loaded.
    EXPECT_TRUE(first.contains("[IRDEVICES]\r\nR0=1/1/2000;;True\r\nR1023=2/29/2024 1:05:07 PM;remote;False\r\n"))
        << first.constData();
    EXPECT_TRUE(first.contains("[PLUGINDEVICES]\r\nA0=Room 0;Lamp;Veltro Quillon;1;0 relay;0;Relay;3;0;3/4/2024 5:06:07 PM;"
                               "text 0;tag0;True\r\nA1=Room 1;Lamp;Veltro Quillon;1;1 relay;0;Relay;2;7;"
                               "3/4/2024 5:06:07 PM;text 1;;False\r\n"))
        << first.constData();

    ASSERT_EQ(runOnce(folder, listener), 0);
    EXPECT_EQ(readAll(folder.path() + "/" + kStore), first) << "a second start and stop changes nothing";
}

TEST(DeviceStore, KillDuringTheSaveLeavesTheOldOrTheNewStore)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    const QByteArray old = storeWithDevices(2000);
    folder.writeFile(kStore, old);
    ASSERT_EQ(runOnce(folder, listener), 0);
    const QByteArray saved = readAll(folder.path() + "/" + kStore);
    ASSERT_NE(saved, old);

    // The save starts seconds after SIGTERM (the plug-in stops first): the kill waits until
    // the program holds a file of the Config folder open for writing that is not one of
    // the settings files themselves, the new store or its backup being written.
    const QString config = QDir(folder.path() + QStringLiteral("/Config")).canonicalPath();
    int killedInSave = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        folder.writeFile(kStore, old);
        QFile::remove(folder.path() + "/" + kStore + "_bck");
        drain(listener);
        QProcess program;
        program.start(QStringLiteral(KORVANE_EXE), {QStringLiteral("--app-path"), folder.path()});
        ASSERT_TRUE(program.waitForStarted(10000));
        ASSERT_TRUE(heartbeatSeen(listener));
        const pid_t pid = pid_t(program.processId());
        ::kill(pid, SIGTERM);
        QElapsedTimer waiting;
        waiting.start();
        bool inSave = false;
        while (!inSave && waiting.elapsed() < 30000 && !program.waitForFinished(0))
            inSave = writingInto(pid, config);
        ::kill(pid, SIGKILL);
        program.waitForFinished(10000);
        killedInSave += inSave ? 1 : 0;
        std::printf("attempt %d: %s after %lld ms\n", attempt, inSave ? "killed in the save" : "no save seen", waiting.elapsed());
        const QByteArray now = readAll(folder.path() + "/" + kStore);
        EXPECT_TRUE(now == old || now == saved) << "attempt " << attempt << ": " << now.size() << " bytes";
    }
    EXPECT_GE(killedInSave, 1) << "no kill landed inside a save";
}

// An imported device whose name carries line breaks (written as character references in the
// XML configuration) and ";" is stored as one device: no line of its own, no settings of its
// own, no fields shifted, across two restarts.
TEST(DeviceStore, ImportedTextsCannotAddDevicesOrSettings)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    folder.writeFile(QStringLiteral("Config/Settings.ini"), "[Settings]\r\nconfigfile=" + folder.path().toLatin1() + "/house.xml\r\n");
    folder.writeFile(kStore, "[tspi_quillon]\r\nHTTPPort=0\r\n");
    folder.writeFile(QStringLiteral("house.xml"), deviceXml(R"(<z:row record_type='1' can_dim='0' hc='A' dc='1' name='Lamp; hall&#13;&#10;Z9=Ghost;Device&#13;&#10;[TSPI_QUILLON]&#13;&#10;HTTPPort=6666'
 location='Hall' ref='40000' CS_Status='0'/>
)"));
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(runOnce(folder, listener), 0) << "run " << run;
        const QByteArray store = readAll(folder.path() + "/" + kStore);
        EXPECT_TRUE(store.startsWith("[PLUGINDEVICES]\r\nA1=Hall;Lamp, hall  Z9=Ghost,Device  [TSPI_QUILLON]  HTTPPort=6666;;0;;"))
            << store.constData();
        EXPECT_EQ(store.count("\r\n"), 4) << store.constData();
        EXPECT_TRUE(store.endsWith("[TSPI_QUILLON]\r\nHTTPPort=0\r\n")) << store.constData();
    }
}

// SIGTERM in the middle of the start-up's import of a large XML configuration ends the program
// within seconds, and what the import had made by then is not stored as the devices: the next
// start imports the whole file again.
TEST(DeviceStore, AStopDuringTheImportEndsSoonAndTheNextStartImportsAgain)
{
    constexpr int kRows = 100000;
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    ProgramFolder folder;
    folder.writeFile(QStringLiteral("Config/Settings.ini"), "[Settings]\r\nconfigfile=" + folder.path().toLatin1() + "/house.xml\r\n");
    folder.writeFile(kStore, "[tspi_quillon]\r\nHTTPPort=0\r\n");
    QByteArray rows;
    rows.reserve(kRows * 110);
    for (int i = 0; i < kRows; ++i)
        rows += "<z:row record_type='1' can_dim='0' hc='" + QByteArray(1, char('A' + i % 16)) + "' dc='" + QByteArray::number(i / 16 % 99 + 1)
            + "' name='Lamp " + QByteArray::number(i) + "' location='Room' ref='" + QByteArray::number(40000 + i) + "' CS_Status='0'/>\n";
    folder.writeFile(QStringLiteral("house.xml"), deviceXml(rows));

    {
        KorvaneProcess program(folder);
        QThread::msleep(500);
        QElapsedTimer stopping;
        stopping.start();
        ASSERT_EQ(::kill(pid_t(program.pid()), SIGTERM), 0);
        EXPECT_EQ(program.waitForExit(), 0);
        EXPECT_LT(stopping.elapsed(), 5000) << "the import went on after the stop";
    }
    EXPECT_FALSE(readAll(folder.path() + "/" + kStore).contains("[PLUGINDEVICES]")) << "a part of the import was stored";

    ASSERT_EQ(runOnce(folder, listener), 0);
    // 16 house codes by 99 units: every code the file names is stored.
    const QByteArray store = readAll(folder.path() + "/" + kStore);
    EXPECT_TRUE(store.contains("[PLUGINDEVICES]\r\nA1=Room;Lamp ")) << "the next start imported: " << store.left(300).constData();
    EXPECT_GE(store.count("=Room;Lamp "), 16 * 99);
}

// SIGTERM at any moment of a start-up that imports a large XML configuration ends the program
// within seconds: the import itself, and each long step after it (registration, the link,
// the look for every controller point over the imported devices) sees the stop. Each row a
// configuration and a moment; a step that joins the start-up gets a row here.
TEST(DeviceStore, AStopAnywhereInTheStartUpEndsItWithinSeconds)
{
    // Rows of `units` unit codes per house code: with as many as rows, every row its own device,
    // and the look for the controller's points searches them all.
    auto deviceRows = [](int count, int units) {
        QByteArray rows;
        rows.reserve(count * 110);
        for (int i = 0; i < count; ++i)
            rows += "<z:row record_type='1' can_dim='0' hc='" + QByteArray(1, char('A' + i % 16)) + "' dc='"
                + QByteArray::number(i / 16 % units + 1) + "' name='Lamp " + QByteArray::number(i) + "' location='Room' ref='"
                + QByteArray::number(40000 + i) + "' CS_Status='0'/>\n";
        return deviceXml(rows);
    };
    // A few elements, the rest comments: the reader works as long as for many rows.
    auto comments = [](int count) {
        QByteArray rows;
        rows.reserve(count * 32);
        for (int i = 0; i < count; ++i)
            rows += "<!-- filler comment " + QByteArray::number(i) + " -->\n";
        return deviceXml(rows);
    };
    enum Moment { AfterMs, AtRegistration };
    struct Row {
        const char* what;
        std::function<QByteArray()> xml;
        Moment moment;
        int ms;
        bool importStopped;  // the stop came inside the import: it says so
    };
    const std::vector<Row> rows{
        {"early in the import", [&] { return deviceRows(100000, 100000); }, AfterMs, 300, true},
        {"late in the import, many devices made", [&] { return deviceRows(100000, 100000); }, AfterMs, 5000, true},
        // Exit then saves every imported device, which takes its own time: few devices here.
        {"after the import, at the plug-in's registration", [&] { return deviceRows(2000, 99); }, AtRegistration, 0, false},
        {"in a file of few elements and many comments", [&] { return comments(1500000); }, AfterMs, 300, true},
    };
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ProgramFolder folder;
        folder.writeFile(QStringLiteral("Config/Settings.ini"), "[Settings]\r\nconfigfile=" + folder.path().toLatin1() + "/house.xml\r\n");
        folder.writeFile(kStore, "[tspi_quillon]\r\nHTTPPort=0\r\n");
        folder.writeFile(QStringLiteral("house.xml"), row.xml());
        drain(listener);
        KorvaneProcess program(folder);
        // The heartbeat goes out just before the import begins (and after the stop handler is
        // in place): the moments count from there, whatever the load on this machine.
        ASSERT_TRUE(heartbeatSeen(listener));
        if (row.moment == AtRegistration)
            ASSERT_TRUE(loadedSeen(listener));
        else
            QThread::msleep(row.ms);
        QElapsedTimer stopping;
        stopping.start();
        ASSERT_EQ(::kill(pid_t(program.pid()), SIGTERM), 0);
        EXPECT_EQ(program.waitForExit(), 0);
        EXPECT_LT(stopping.elapsed(), 5000) << "the start-up went on after the stop";
        if (row.importStopped) {
            EXPECT_TRUE(waitUntil([&] {
                return std::any_of(listener.received.begin(), listener.received.end(),
                                   [](const QByteArray& text) { return text.contains("ReadXML stopped"); });
            }, 2000)) << "the import's stop was not logged";
        }
    }
}

