#include "XapListener.h"

#include "core/ConfigPath.h"
#include "core/CWaitNDispatch.h"
#include "core/FastString.h"
#include "core/FrmDebug.h"
#include "core/Globals.h"
#include "core/Logging.h"
#include "core/PageStyle.h"
#include "core/StopWatch.h"

#include "automation/VbError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

TEST(IsTrue, TrueTextsAndLeadingOne)
{
    for (const char* yes : {"true", "TRUE", "True", "1", "1.0", "1abc", " 1"})
        EXPECT_TRUE(IsTrue(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"yes", "", "2", "0", "false", "0.5"})
        EXPECT_FALSE(IsTrue(QString::fromLatin1(no))) << no;
}

TEST(FastString, JoinsPiecesInOrderAcrossGrowth)
{
    FastString s;
    QString expected;
    for (int i = 0; i < 250; ++i) {
        s.Add(i % 2 ? QString::number(i) : QStringLiteral("p"));
        expected += i % 2 ? QString::number(i) : QStringLiteral("p");
    }
    s.Add(qint64(-7));
    EXPECT_EQ(s.Value(), expected + QStringLiteral("-7"));
    s.Reset();
    EXPECT_EQ(s.Value(), QString());
}

TEST(ConfigFile, FindsNamesIgnoringCase)
{
    QTemporaryDir dir;
    const QString saved = gAppPath;
    gAppPath = dir.path();
    EXPECT_EQ(ConfigFile(QStringLiteral("tvkXap.ini")), dir.path() + QStringLiteral("/Config/tvkXap.ini"));
    QDir(dir.path()).mkpath(QStringLiteral("config"));
    QFile f(dir.path() + QStringLiteral("/config/TVKXAP.INI"));
    f.open(QIODevice::WriteOnly);
    f.close();
    EXPECT_EQ(ConfigFile(QStringLiteral("tvkXap.ini")), dir.path() + QStringLiteral("/config/TVKXAP.INI"));
    EXPECT_EQ(ConfigFile(QStringLiteral("New.ini")), dir.path() + QStringLiteral("/config/New.ini"));
    gAppPath = saved;
}

TEST(StopWatch, CountsIntervals)
{
    qint64 now = 1000;
    StopWatch watch([&] { return now; });
    EXPECT_EQ(watch.Report(), QStringLiteral("Count=0, Last=0, Avg=0, Max=0, Min=0"));
    for (qint64 interval : {10, 30, 20}) {
        watch.StartTime();
        now += interval;
        watch.StopTime();
    }
    EXPECT_EQ(watch.Report(), QStringLiteral("Count=3, Last=20, Avg=20, Max=30, Min=10"));
    // 1 and 2 average to 1.5, rounded to even.
    StopWatch halves([&] { return now; });
    for (qint64 interval : {1, 2}) {
        halves.StartTime();
        now += interval;
        halves.StopTime();
    }
    EXPECT_EQ(halves.Average(), 2);
    now -= 100;  // a clock going back never gives a negative interval
    halves.StartTime();
    now -= 5;
    halves.StopTime();
    EXPECT_EQ(halves.Last(), 0);
}

TEST(FrmDebug, FreezeDropsText)
{
    FrmDebug form;
    form.log(QStringLiteral("a"));
    form.log(QStringLiteral("b\n"));
    form.Command1_Click();
    EXPECT_TRUE(FrmDebug::frozen());
    form.log(QStringLiteral("lost"));
    form.Command1_Click();
    form.log(QStringLiteral("c"));
    EXPECT_EQ(form.text(), QStringLiteral("ab\nc"));
}

TEST(CWaitNDispatch, ZeroReturnsAtOnceWithoutEvent)
{
    CWaitNDispatch wait;
    int events = 0;
    QObject::connect(&wait, &CWaitNDispatch::OnTimer, [&] { ++events; });
    wait.Wait(0);
    EXPECT_EQ(events, 0);
    EXPECT_FALSE(wait.IsWaiting());
}

// Timers and datagrams that fall due during the wait run only after it.
TEST(CWaitNDispatch, BlocksTimersAndSocketsUntilItEnds)
{
    XapListener receiver(0);
    ASSERT_TRUE(receiver.bound);
    QUdpSocket sender;
    bool timerRan = false;
    QTimer::singleShot(10, [&] { timerRan = true; });
    sender.writeDatagram("during", QHostAddress(QHostAddress::LocalHost), receiver.socket.localPort());

    CWaitNDispatch wait;
    int events = 0;
    QObject::connect(&wait, &CWaitNDispatch::OnTimer, [&] { ++events; });
    QElapsedTimer clock;
    clock.start();
    wait.Wait(300);
    EXPECT_GE(clock.elapsed(), 299);
    EXPECT_FALSE(timerRan);
    EXPECT_TRUE(receiver.received.isEmpty());
    EXPECT_EQ(events, 1);
    ASSERT_TRUE(waitUntil([&] { return timerRan && receiver.received.size() == 1; }));
}

TEST(CWaitNDispatch, SecondWaitOnTheSameObjectRaises)
{
    CWaitNDispatch wait;
    qint32 number = 0;
    QString description;
    QObject::connect(&wait, &CWaitNDispatch::OnTimer, [&] {
        try {
            wait.Wait(10);
        } catch (const VbError& e) {
            number = e.number;
            description = e.description;
        }
    });
    wait.Wait(20);
    EXPECT_EQ(number, qint32(0x800403E9u));
    EXPECT_EQ(description, QStringLiteral("This function is not reentrant. If you want to wait for a second period use a new object"));
    EXPECT_FALSE(wait.IsWaiting());

    // A second object may wait inside the first one's event.
    CWaitNDispatch outer;
    CWaitNDispatch inner;
    bool innerDone = false;
    QObject::connect(&inner, &CWaitNDispatch::OnTimer, [&] { innerDone = true; });
    QObject::connect(&outer, &CWaitNDispatch::OnTimer, [&] { inner.Wait(5); });
    outer.Wait(5);
    EXPECT_TRUE(innerDone);
}

TEST(PageStyle, OnlyLocalStyleSheetsAndPlainColours)
{
    for (const char* ok : {"", "StyleNoBody.css", "site/my-2.css", "a.b_c/d.css", "Caf\xe9 2.css"})
        EXPECT_TRUE(PageStyle::IsSafeStyleSheet(QString::fromLatin1(ok))) << ok;
    for (const char* bad : {"//evil.example/x.css", "/evil.example/x.css", "http://e/x.css", "c:x.css", "../x.css",
                            "a/../../x.css", "a\\b.css", "x.css\"><script>", "x'.css", "x.css\n"})
        EXPECT_FALSE(PageStyle::IsSafeStyleSheet(QString::fromLatin1(bad))) << bad;
    for (const char* ok : {"", "#abc", "#A0B1C2", "black", "LightGoldenRodYellow"})
        EXPECT_TRUE(PageStyle::IsSafeBackground(QString::fromLatin1(ok))) << ok;
    for (const char* bad : {"url(http://evil.example/x.png)", "#abcd", "#12345", "red;x", "red blue", "#ggg", "0"})
        EXPECT_FALSE(PageStyle::IsSafeBackground(QString::fromLatin1(bad))) << bad;
}

TEST(PageStyle, RefusedValueKeepsTheOldOneAndIsLogged)
{
    QString sheet = QStringLiteral("old.css");
    const int before = PendingXapMessageCount();
    EXPECT_FALSE(PageStyle::TakeStyleSheet(sheet, QStringLiteral("//evil.example/x.css"), QStringLiteral("Here")));
    EXPECT_EQ(sheet, QStringLiteral("old.css"));
    ASSERT_EQ(PendingXapMessageCount(), before + 1);
    EXPECT_TRUE(PendingXapBodies().last().contains(
        QStringLiteral("Here: StyleSheet \"//evil.example/x.css\" refused, \"old.css\" kept")));
    EXPECT_TRUE(PageStyle::TakeStyleSheet(sheet, QStringLiteral("new.css"), QStringLiteral("Here")));
    EXPECT_EQ(sheet, QStringLiteral("new.css"));
    QString colour = QStringLiteral("#000000");
    EXPECT_FALSE(PageStyle::TakeBackground(colour, QStringLiteral("red;background:url(x)"), QStringLiteral("Here")));
    EXPECT_EQ(colour, QStringLiteral("#000000"));
    EXPECT_TRUE(PageStyle::TakeBackground(colour, QStringLiteral("#fff"), QStringLiteral("Here")));
    EXPECT_EQ(colour, QStringLiteral("#fff"));
}
