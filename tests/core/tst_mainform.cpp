// The main form's start-up, watchdog, receive drain and Exit, driven in-process with the
// later subsystems replaced by recording hooks. Each test starts the program and ends it.
#include "XapListener.h"

#include "core/CoreHooks.h"
#include "core/Globals.h"
#include "core/Shutdown.h"
#include "core/Yonder.h"
#include "core/xapQuillonForm.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

#include "automation/VbTimer.h"

#include "ScriptControl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

// What the later subsystems were asked to do, in order.
struct Calls {
    QStringList steps;
    QStringList dispatched;
    int restarts = 0;
    bool pluginMissing = false;
    std::function<void()> duringShutdown;
};

Calls& calls()
{
    static Calls c;
    return c;
}

void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class MainFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.bound);
        calls() = Calls();
        CoreHooks& h = Hooks();
        h.loadHostForm = [] { calls().steps << QStringLiteral("loadHostForm"); };
        h.unloadHostForm = [] { calls().steps << QStringLiteral("unloadHostForm"); };
        h.initReceiveMessages = [] { calls().steps << QStringLiteral("initReceiveMessages"); };
        h.restartPlugin = [] {
            ++calls().restarts;
            calls().pluginMissing = false;
        };
        h.pluginNameFails = [] { return calls().pluginMissing; };
        h.readMessage = [](const QString& text) { calls().dispatched << text; };
        h.shutdownIO = [] {
            calls().steps << QStringLiteral("shutdownIO");
            if (calls().duringShutdown)
                calls().duringShutdown();
        };
        Main();
        ASSERT_TRUE(xapQuillonForm::instance());
        ASSERT_TRUE(gMainFormReady);
        ASSERT_EQ(calls().restarts, 1);
    }

    // The next test starts the program anew in this process.
    void TearDown() override
    {
        gYonderObject.reset();
        xapQuillonForm::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Hooks() = CoreHooks();
        ResetProcessEnd();
    }

    // The "Data" items of the log entries received so far.
    QStringList logged()
    {
        QCoreApplication::processEvents();
        QStringList data;
        for (const QByteArray& text : listener.received) {
            XapMessage m;
            m.FromXap(QString::fromLatin1(text));
            if (m.MsgSection().contains(QStringLiteral("event.log")))
                data << m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Data"));
        }
        return data;
    }

    XapListener listener;
};

}  // namespace

// The watchdog's minute can end while Exit waits for the plug-in: the tick must not take the
// plug-in that is being shut down for a lost one and start a new one.
TEST_F(MainFormTest, WatchdogTickDuringExitRestartsNothing)
{
    xapQuillonForm* form = xapQuillonForm::instance();
    VbTimer* watchdog = form->findChild<VbTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(watchdog, nullptr);
    EXPECT_TRUE(watchdog->isRunning());
    EXPECT_EQ(watchdog->interval(), 60000);
    bool runningAtShutdown = true;
    calls().duringShutdown = [&] {
        runningAtShutdown = watchdog->isRunning();
        calls().pluginMissing = true;  // what reading the name of a plug-in on its way out gives
        emit watchdog->timer();
        pump(200);
    };
    form->MenuArray_Click(xapQuillonForm::ExitItem);
    EXPECT_FALSE(runningAtShutdown);
    EXPECT_EQ(calls().restarts, 1);
    EXPECT_EQ(calls().steps, QStringList({"loadHostForm", "initReceiveMessages", "shutdownIO", "unloadHostForm"}));
    EXPECT_FALSE(logged().join('|').contains(QStringLiteral("Restarted")));
    EXPECT_TRUE(ProcessEnded());
}

// Exit asked for inside a wait that lets events through ends that wait and runs only once the
// handler that waited is back in the event loop; asked for again during its own steps, it does
// not run twice.
TEST_F(MainFormTest, ExitInsideAWaitRunsAfterTheHandlerAndOnlyOnce)
{
    xapQuillonForm* form = xapQuillonForm::instance();
    // A second stop arrives while one of Exit's own steps waits, and the plug-in's shutdown
    // pause lets events through afterwards.
    calls().duringShutdown = [form] {
        {
            QEventLoop own;
            QTimer::singleShot(0, form, [form] { form->MenuArray_Click(xapQuillonForm::ExitItem); });
            QTimer::singleShot(50, &own, &QEventLoop::quit);
            Shutdown::WaitScope waiting(Shutdown::Wait::LinkDelay, own);
            own.exec();
        }
        pump(50);
    };
    QEventLoop loop;
    QTimer::singleShot(0, form, [form] { form->MenuArray_Click(xapQuillonForm::ExitItem); });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QElapsedTimer waited;
    waited.start();
    {
        Shutdown::WaitScope waiting(Shutdown::Wait::ControllerReply, loop);
        loop.exec();
    }
    EXPECT_LT(waited.elapsed(), 5000) << "the wait did not end when Exit was asked for";
    EXPECT_TRUE(gShuttingDown);
    EXPECT_FALSE(ProcessEnded()) << "Exit ran inside the wait";
    EXPECT_EQ(calls().steps, QStringList({"loadHostForm", "initReceiveMessages"}));
    pump(200);
    EXPECT_TRUE(ProcessEnded());
    EXPECT_EQ(calls().steps, QStringList({"loadHostForm", "initReceiveMessages", "shutdownIO", "unloadHostForm"}));
}

// Outside Exit the watchdog does its work: a plug-in whose name cannot be read is recreated.
TEST_F(MainFormTest, WatchdogRecreatesALostPlugin)
{
    VbTimer* watchdog = xapQuillonForm::instance()->findChild<VbTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(watchdog, nullptr);
    emit watchdog->timer();
    EXPECT_EQ(calls().restarts, 1);
    calls().pluginMissing = true;
    emit watchdog->timer();
    EXPECT_EQ(calls().restarts, 2);
    ASSERT_TRUE(listener.waitForCount(3));
    EXPECT_EQ(logged().last(), QStringLiteral("Restarted xaptvkKorvane"));
}

// Texts that arrived before Exit but were not yet handed over are dropped, and so is
// everything that arrives during it: none reaches the dispatcher while the link closes.
TEST_F(MainFormTest, TextsWaitingAtExitNeverReachTheDispatcher)
{
    xapQuillonForm* form = xapQuillonForm::instance();
    xap* endpoint = form->endpoint();
    QUdpSocket sender;
    const auto send = [&](const QByteArray& cls) {
        sender.writeDatagram("xap-header\n{\nclass=" + cls + "\n}\ns\n{\n}\n", QHostAddress(QHostAddress::LocalHost),
                             quint16(endpoint->localPort()));
    };
    send("before");
    ASSERT_TRUE(waitUntil([] { return calls().dispatched.size() == 1; }));

    send("one");
    send("two");
    // Read at once into the receive queue, without giving the 50 ms receive timer its turn.
    QUdpSocket* socket = endpoint->findChild<QUdpSocket*>();
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(socket->waitForReadyRead(5000));
    ASSERT_TRUE(waitUntil([&] { return endpoint->queuedCount() == 2 || calls().dispatched.size() > 1; }, 5000));
    ASSERT_EQ(calls().dispatched.size(), 1) << "the receive timer ran before Exit could begin";

    calls().duringShutdown = [&] {
        send("during");
        pump(300);
    };
    form->MenuArray_Click(xapQuillonForm::ExitItem);
    EXPECT_EQ(calls().dispatched.size(), 1) << calls().dispatched.join('|').toStdString();
    EXPECT_EQ(endpoint->queuedCount(), 0);
}

// Texts whose dispatch takes its time: the drain hands over a slice of them a
// turn of the event loop, so a timer waits for one slice, not for the backlog.
TEST_F(MainFormTest, ASlowDispatcherLetsTheEventLoopTurn)
{
    xap* endpoint = xapQuillonForm::instance()->endpoint();
    Hooks().readMessage = [](const QString& text) {
        calls().dispatched << text;
        QThread::msleep(8);
    };
    QUdpSocket sender;
    constexpr int kTexts = 150;
    for (int i = 0; i < kTexts; ++i)
        sender.writeDatagram("xap-header\n{\nclass=slow\n}\ns\n{\n}\n", QHostAddress(QHostAddress::LocalHost),
                             quint16(endpoint->localPort()));
    // All taken into the receive queue before the drain's first turn would be over a second in one go.
    const qint64 longest = longestTurnMs([] { return calls().dispatched.size() == kTexts; });
    ASSERT_GE(longest, 0) << calls().dispatched.size() << " texts dispatched";
    EXPECT_LT(longest, 250) << "the event loop waited " << longest << " ms";
}

// Releasing a Yonder that a script created ends the program through the same Exit as the
// tray menu, so the host side is shut down and saved.
TEST_F(MainFormTest, ReleasingAYonderFromAScriptRunsExit)
{
    ScriptControl script;
    script.AddCode(QStringLiteral("Dim y\nSet y = CreateObject(\"xaptvkKorvane.Yonder\")\ny.interface = \"\"\nSet y = Nothing\n"));
    EXPECT_FALSE(ProcessEnded()) << "Exit runs from the event loop, after the script's statement";
    ASSERT_TRUE(waitUntil([] { return ProcessEnded(); }, 5000));
    EXPECT_EQ(calls().steps, QStringList({"loadHostForm", "initReceiveMessages", "shutdownIO", "unloadHostForm"}));
    EXPECT_EQ(ProcessExitCode(), 0);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir appDir;
    gAppPath = appDir.path();
    QDir(gAppPath).mkpath(QStringLiteral("Config"));
    QFile ini(gAppPath + QStringLiteral("/Config/tvkXap.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    ini.close();
    return RUN_ALL_TESTS();
}
