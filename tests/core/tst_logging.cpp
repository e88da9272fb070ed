#include "XapListener.h"

#include "core/Globals.h"
#include "core/Logging.h"
#include "core/xap/XapEndpoint.h"
#include "core/xap/XapMessage.h"

#include "automation/PendingError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString logFile()
{
    return gAppPath + QStringLiteral("/Data/xaptvkKorvane/xaptvkKorvane.txt");
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

}  // namespace

TEST(WriteLogFile, CreatesItsFolderAndAppendsThePendingError)
{
    QDir(gAppPath + QStringLiteral("/Data")).removeRecursively();
    WriteLogFile(QStringLiteral("xaptvkKorvane"), QStringLiteral("first"));
    try {
        throw VbError(11, QStringLiteral("Division by zero"), QString(), 42);
    } catch (...) {
        PendingError::capture();
        WriteLogFile(QStringLiteral("From XAP"), QString());
    }
    EXPECT_FALSE(PendingError::isPending());
    EXPECT_EQ(readAll(logFile()), QByteArray("xaptvkKorvane first 0 \nFrom XAP  42 Division by zero\n"));
}

// A send that fails once the endpoint should be up leaves one line with the body in the
// xAP log file and nothing queued.
TEST(SendXap, FailureIsWrittenToTheLogFile)
{
    QDir(gAppPath + QStringLiteral("/Data")).removeRecursively();
    gXapReady = true;
    gXap = nullptr;
    SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("s"), QStringLiteral("k") + QChar(1) + QStringLiteral("v"), QString(), QString());
    gXapReady = false;
    EXPECT_EQ(PendingXapMessageCount(), 0);
    EXPECT_FALSE(PendingError::isPending());
    EXPECT_EQ(readAll(logFile()), QByteArray("xaptvkKorvane SendXap  k\x01v 0 Object variable or With block variable not set\n"));
}

TEST(CreateFolders, MakesEveryFolderButTheLastPart)
{
    QTemporaryDir dir;
    CreateFolders(dir.path() + QStringLiteral("/a/b/file"));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/a/b")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/a/b/file")));
}

// Messages sent before the endpoint is up wait and go out first, oldest first, each with
// the program's source and UID; LogError adds the pending error to Data.
TEST(SendXap, QueuedUntilReadyThenFlushedInOrder)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    gXapReady = false;
    SendXap(QString(), QStringLiteral("c.one"), QStringLiteral("s"), QStringLiteral("n") + QChar(1) + QStringLiteral("1"), QString(), QString());
    SendXap(QStringLiteral("a.b.c"), QStringLiteral("c.two"), QStringLiteral("s"), QString(), QStringLiteral("3"), QString());
    LogError(QStringLiteral("IniTool"), QStringLiteral("queued"));
    EXPECT_EQ(PendingXapMessageCount(), 3);
    EXPECT_TRUE(listener.received.isEmpty());

    xap endpoint;
    gXap = &endpoint;
    endpoint.setXapSource(QStringLiteral("tvk.Korvane.test"));
    endpoint.setXapUID(QStringLiteral("FF.00C7:00"));
    endpoint.setBroadcastAddress(QStringLiteral("127.0.0.1"));
    endpoint.setInterfaceAddress(QStringLiteral("127.0.0.1"));
    ASSERT_GT(endpoint.Init(), 0);
    gXapReady = true;
    try {
        throw VbError(6, QStringLiteral("Overflow"), QString(), 7);
    } catch (...) {
        PendingError::capture();
        LogError(QStringLiteral("xaptvkKorvane"), QStringLiteral("Main Load"));
    }
    ASSERT_TRUE(listener.waitForCount(4));
    EXPECT_EQ(PendingXapMessageCount(), 0);

    EXPECT_EQ(listener.received.at(0),
              QByteArray("xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:00\nclass=c.one\nsource=tvk.Korvane.test\n}\ns\n{\nn=1\n}\n"));
    EXPECT_EQ(listener.received.at(1),
              QByteArray("xap-header\n{\nv=13\nhop=1\nuid=FF.00C7:00\nclass=c.two\nsource=tvk.Korvane.test:3\ntarget=a.b.c\n}\ns\n{\n}\n"));
    XapMessage queued;
    queued.FromXap(QString::fromLatin1(listener.received.at(2)));
    EXPECT_EQ(queued.MsgClass(), QStringLiteral("Tessera.Event"));
    EXPECT_EQ(queued.MsgSection(), QStringList({QStringLiteral("event.log")}));
    EXPECT_EQ(queued.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Type")), QStringLiteral("IniTool"));
    EXPECT_EQ(queued.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Data")), QStringLiteral("queued"));
    EXPECT_FALSE(queued.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Time")).isEmpty());
    XapMessage last;
    last.FromXap(QString::fromLatin1(listener.received.at(3)));
    EXPECT_EQ(last.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Data")), QStringLiteral("Main Load Line 7 Overflow"));
    EXPECT_FALSE(PendingError::isPending());
    gXapReady = false;
    gXap = nullptr;
}

TEST(LogError, ControlCharactersInTheTextAddNoItemOrLine)
{
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    xap endpoint;
    gXap = &endpoint;
    endpoint.setXapSource(QStringLiteral("tvk.Korvane.test"));
    endpoint.setXapUID(QStringLiteral("FF.00C7:00"));
    endpoint.setBroadcastAddress(QStringLiteral("127.0.0.1"));
    endpoint.setInterfaceAddress(QStringLiteral("127.0.0.1"));
    ASSERT_GT(endpoint.Init(), 0);
    gXapReady = true;
    // A logged text may carry what a peer sent.
    LogError(QStringLiteral("xaptvkKorvane") + QChar(0) + QStringLiteral("Extra") + QChar(1) + QStringLiteral("x"),
             QStringLiteral("House=a") + QChar(0) + QStringLiteral("Evil") + QChar(1) + QStringLiteral("1\nnext=2\r\t."));
    ASSERT_TRUE(listener.waitForCount(1));
    const QByteArray sent = listener.received.at(0);
    EXPECT_TRUE(sent.endsWith("\nType=xaptvkKorvaneExtrax\nData=House=aEvil1next=2.\n}\n")) << sent.toStdString();
    EXPECT_EQ(XapItemValue(QString::fromLatin1("a\x01\x1f\x7f\xff b", 7)), QString::fromLatin1("a\x7f\xff b"));
    gXapReady = false;
    gXap = nullptr;
}
