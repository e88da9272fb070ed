#include "VbTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {
void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct App {
    App()
    {
        if (!QCoreApplication::instance())
            app = new QCoreApplication(argc, argv);
    }
    int argc = 1;
    char name[8] = "tst";
    char *argv[2] = {name, nullptr};
    QCoreApplication *app = nullptr;
};
App &app()
{
    static App a;
    return a;
}
} // namespace

TEST(VbTimer, ZeroIntervalNeverTicks)
{
    app();
    VbTimer t;
    int ticks = 0;
    QObject::connect(&t, &VbTimer::timer, [&] { ++ticks; });
    t.setEnabled(true);
    EXPECT_FALSE(t.isRunning());
    pump(60);
    EXPECT_EQ(ticks, 0);
    t.setInterval(10);
    EXPECT_TRUE(t.isRunning());
    pump(200);
    EXPECT_GT(ticks, 0);
    t.setEnabled(false);
    int seen = ticks;
    pump(60);
    EXPECT_EQ(ticks, seen);
}

TEST(VbTimer, SettingIntervalRestartsTheCount)
{
    app();
    VbTimer t;
    int ticks = 0;
    QObject::connect(&t, &VbTimer::timer, [&] { ++ticks; });
    t.setInterval(150);
    t.setEnabled(true);
    // Re-arming every 50 ms keeps a 150 ms timer from ever firing.
    for (int i = 0; i < 6; ++i) {
        pump(50);
        t.setInterval(150);
    }
    EXPECT_EQ(ticks, 0);
}
