// The device store across real restarts: what the program loads at start it writes back at
// Exit, and a kill during that write leaves the old or the new store whole.
#include "KorvaneProcess.h"
#include "XapListener.h"

#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

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

// Starts the program, waits until it is up, then stops it with SIGTERM.
int runOnce(const ProgramFolder& folder, XapListener& listener)
{
    drain(listener);
    KorvaneProcess program(folder);
    if (!heartbeatSeen(listener))
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
    EXPECT_EQ(readAll(folder.path() + "/" + kStore + "_bck"), storeWithDevices(3)) << "the previous file is kept";
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

    for (int delayMs : {0, 1, 3, 10, 30, 60, 120}) {
        folder.writeFile(kStore, old);
        QFile::remove(folder.path() + "/" + kStore + "_bck");
        drain(listener);
        QProcess program;
        program.start(QStringLiteral(KORVANE_EXE), {QStringLiteral("--app-path"), folder.path()});
        ASSERT_TRUE(program.waitForStarted(10000));
        ASSERT_TRUE(heartbeatSeen(listener));
        ::kill(pid_t(program.processId()), SIGTERM);
        QThread::msleep(ulong(delayMs));
        ::kill(pid_t(program.processId()), SIGKILL);
        program.waitForFinished(10000);
        const QByteArray now = readAll(folder.path() + "/" + kStore);
        EXPECT_TRUE(now == old || now == saved) << "killed after " << delayMs << " ms: " << now.size() << " bytes";
    }
}
