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

// An empty xAP log file; an entry of its own first closes any count of repeats that earlier
// tests left open, so it does not land in the new file.
void freshLogFile()
{
    static int n = 0;
    WriteLogFile(QStringLiteral("test"), QStringLiteral("separator ") + QString::number(++n));
    QDir(gAppPath + QStringLiteral("/Data")).removeRecursively();
}

}  // namespace

TEST(WriteLogFile, CreatesItsFolderAndAppendsThePendingError)
{
    freshLogFile();
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
    gXapReady = true;
    gXap = nullptr;
    // Entries that earlier tests left waiting for the endpoint go out (and fail) first.
    SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("s"), QString(), QString(), QString());
    freshLogFile();
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

// A queued message that cannot be sent (too large for one datagram) is written to the xAP
// log file (its first thousand characters) and dropped; the messages queued after it and the one being sent still go out.
TEST(SendXap, AMessageThatCannotBeSentCostsOnlyItself)
{
    freshLogFile();
    XapListener listener;
    ASSERT_TRUE(listener.bound);
    gXapReady = false;
    const QString big = QStringLiteral("k") + QChar(1) + QString(70000, QLatin1Char('x'));
    SendXap(QString(), QStringLiteral("c.one"), QStringLiteral("s"), QString(), QString(), QString());
    SendXap(QString(), QStringLiteral("c.big"), QStringLiteral("s"), big, QString(), QString());
    SendXap(QString(), QStringLiteral("c.three"), QStringLiteral("s"), QString(), QString(), QString());

    xap endpoint;
    gXap = &endpoint;
    endpoint.setXapSource(QStringLiteral("tvk.Korvane.test"));
    endpoint.setXapUID(QStringLiteral("FF.00C7:00"));
    endpoint.setBroadcastAddress(QStringLiteral("127.0.0.1"));
    endpoint.setInterfaceAddress(QStringLiteral("127.0.0.1"));
    ASSERT_GT(endpoint.Init(), 0);
    gXapReady = true;
    SendXap(QString(), QStringLiteral("c.four"), QStringLiteral("s"), QString(), QString(), QString());
    SendXap(QString(), QStringLiteral("c.big2"), QStringLiteral("s"), QStringLiteral("j") + big.mid(1), QString(), QString());
    SendXap(QString(), QStringLiteral("c.five"), QStringLiteral("s"), QString(), QString(), QString());
    EXPECT_EQ(PendingXapMessageCount(), 0);
    ASSERT_TRUE(waitUntil([&] { return !listener.received.isEmpty() && listener.received.last().contains("class=c.five"); }));
    QStringList classes;
    for (const QByteArray& text : listener.received) {
        XapMessage m;
        m.FromXap(QString::fromLatin1(text));
        if (m.MsgClass().startsWith(QStringLiteral("c.")))
            classes.append(m.MsgClass());
    }
    EXPECT_EQ(classes, QStringList({QStringLiteral("c.one"), QStringLiteral("c.three"), QStringLiteral("c.four"), QStringLiteral("c.five")}));
    const QList<QByteArray> lines = readAll(logFile()).split('\n');
    ASSERT_EQ(lines.size(), 3);  // two entries and the empty text after the last LF
    for (int i = 0; i < 2; ++i) {
        const QByteArray body = (i == 0 ? "k" : "j") + QByteArray("\x01") + QByteArray(989, 'x');
        EXPECT_TRUE(lines.at(i).startsWith("xaptvkKorvane SendXap  " + body + " ...(69011 more characters) 0 "))
            << lines.at(i).left(40).toStdString();
    }
    EXPECT_FALSE(PendingError::isPending());
    gXapReady = false;
    gXap = nullptr;
}

// A peer that sends the same malformed datagram over and over adds one line and then, once a
// minute or before the next different entry, one line with the count; a text that lacks
// only its final LF is no error at all.
TEST(WriteLogFile, RepeatsOfOneEntryAreCounted)
{
    freshLogFile();
    const QString repeatedKey = QStringLiteral("xap-header\n{\nclass=a.b\n}\nsec\n{\nk=1\nk=2\n}\n");
    for (int i = 0; i < 2000; ++i) {
        XapMessage m;
        m.FromXap(repeatedKey);
    }
    XapMessage noFinalLf;
    noFinalLf.FromXap(QStringLiteral("xap-header\n{\nclass=a.b\n}\nsec\n{\nk=1\n}"));
    EXPECT_EQ(noFinalLf.GetItem(QStringLiteral("sec"), QStringLiteral("k")), QStringLiteral("1"));
    const QByteArray entry = "From XAP  0 This key is already associated with an element of this collection";
    EXPECT_EQ(readAll(logFile()), entry + "\n");

    WriteLogFile(QStringLiteral("xaptvkKorvane"), QStringLiteral("something else"));
    EXPECT_EQ(readAll(logFile()), entry + "\n" + entry + " (repeated 1999 more times)\nxaptvkKorvane something else 0 \n");
    EXPECT_FALSE(PendingError::isPending());
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
    // Entries that earlier tests left waiting go out before this one.
    const int earlier = PendingXapMessageCount();
    // A logged text may carry what a peer sent.
    LogError(QStringLiteral("xaptvkKorvane") + QChar(0) + QStringLiteral("Extra") + QChar(1) + QStringLiteral("x"),
             QStringLiteral("House=a") + QChar(0) + QStringLiteral("Evil") + QChar(1) + QStringLiteral("1\nnext=2\r\t."));
    ASSERT_TRUE(listener.waitForCount(earlier + 1));
    const QByteArray sent = listener.received.at(earlier);
    EXPECT_TRUE(sent.endsWith("\nType=xaptvkKorvaneExtrax\nData=House=aEvil1next=2.\n}\n")) << sent.toStdString();
    EXPECT_EQ(XapItemValue(QString::fromLatin1("a\x01\x1f\x7f\xff b", 7)), QString::fromLatin1("a\x7f\xff b"));
    gXapReady = false;
    gXap = nullptr;
}

// Every way a script's text reaches the log: what is sent or written stays a few thousand
// bytes however long the text, and says how much was cut.
struct LongTextRow {
    const char *name;
    bool toFile; // false: the entry sent on xAP (held here, the endpoint not being up)
    void (*log)(const QString &text);
};

void withPendingError(const QString &description)
{
    try {
        throw VbError(5, description, QString(), 7);
    } catch (...) {
        PendingError::capture();
    }
}

const LongTextRow kLongTextRows[] = {
    {"LogErrorData", false, [](const QString &t) { LogError(QStringLiteral("xaptvkKorvane"), t); }},
    {"LogErrorType", false, [](const QString &t) { LogError(t, QStringLiteral("data")); }},
    {"LogErrorDescription", false,
     [](const QString &t) {
         withPendingError(t);
         LogError(QStringLiteral("xaptvkKorvane"), QStringLiteral("Script Run Error"));
     }},
    {"LogTrappedLabel", false, [](const QString &t) { LogTrapped(QStringLiteral("xaptvkKorvane"), t); }},
    {"LogMemberErrorText", false,
     [](const QString &t) { LogMemberError(QStringLiteral("xaptvkKorvane"), t, QStringLiteral("Spawn"), t); }},
    {"WriteLogFileText", true, [](const QString &t) { WriteLogFile(QStringLiteral("xaptvkKorvane"), t); }},
    {"WriteLogFileDescription", true,
     [](const QString &t) {
         withPendingError(t);
         WriteLogFile(QStringLiteral("From XAP"), QString());
     }},
    {"WriteLogFileSameTextThrice", true,
     [](const QString &t) {
         for (int i = 0; i < 3; ++i)
             WriteLogFile(QStringLiteral("xaptvkKorvane"), t);
     }},
    {"SendXapThatFails", true,
     [](const QString &t) {
         gXapReady = true;
         SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("s"), t, QString(), QString());
         gXapReady = false;
     }},
};

class LongTexts : public ::testing::TestWithParam<LongTextRow>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, LongTexts, ::testing::ValuesIn(kLongTextRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(LongTexts, AreCutWithAMark)
{
    gXap = nullptr;
    gXapReady = true;
    SendXap(QString(), QStringLiteral("c.d"), QStringLiteral("s"), QString(), QString(), QString()); // earlier ones
    gXapReady = false;
    freshLogFile();
    const int heldBefore = PendingXapMessageCount();
    GetParam().log(QString(5000000, QLatin1Char('L')));
    EXPECT_FALSE(PendingError::isPending());
    QByteArray logged;
    if (GetParam().toFile) {
        logged = readAll(logFile());
        EXPECT_EQ(PendingXapMessageCount(), heldBefore);
    } else {
        ASSERT_EQ(PendingXapMessageCount(), heldBefore + 1);
        logged = PendingXapBodies().last().toUtf8();
    }
    EXPECT_LT(logged.size(), 4000);
    EXPECT_TRUE(logged.contains(" more characters)")) << logged.left(200).toStdString();
}

// However long the text and the error's description, the entry keeps the
// error's line, and each cut part says how much of it was left out.
TEST(LongTexts, KeepTheErrorsLineAndCountWhatWasLeftOut)
{
    const struct
    {
        const char *name;
        qsizetype data, description;
    } rows[] = {{"long data", 3000000, 10}, {"long description", 10, 3000000}, {"both long", 5000, 7000},
                {"both at the cut", 1000, 1000}};
    const struct
    {
        const char *name;
        void (*log)(const QString &data);
    } entries[] = {
        {"LogError", [](const QString &d) { LogError(QStringLiteral("xaptvkKorvane"), d); }},
        {"LogTrapped", [](const QString &d) { LogTrapped(QStringLiteral("xaptvkKorvane"), d); }},
        {"LogTrapped with a label", [](const QString &d) { LogTrapped(QStringLiteral("xaptvkKorvane"), d, QStringLiteral("M")); }},
    };
    gXap = nullptr;
    gXapReady = false;
    for (const auto &entry : entries) {
        for (const auto &row : rows) {
            const std::string what = std::string(entry.name) + ", " + row.name;
            withPendingError(QString(row.description, QLatin1Char('D')));
            const int before = PendingXapMessageCount();
            entry.log(QString(row.data, QLatin1Char('T')));
            ASSERT_EQ(PendingXapMessageCount(), before + 1) << what;
            const QString body = PendingXapBodies().last();
            EXPECT_TRUE(body.contains(QStringLiteral(" Line 7 "))) << what << ": " << body.left(120).toStdString();
            if (row.data > kPartKept) {
                EXPECT_TRUE(body.contains(QStringLiteral("(") + QString::number(row.data - kPartKept) + " more characters)"))
                    << what;
            }
            if (row.description > kPartKept) {
                EXPECT_TRUE(body.contains(QStringLiteral("(") + QString::number(row.description - kPartKept)
                                          + " more characters)"))
                    << what;
            }
        }
    }
}

TEST(CutLogText, KeepsShortTextsAndWholeCharacters)
{
    EXPECT_EQ(CutLogText(QString(1000, QLatin1Char('a'))), QString(1000, QLatin1Char('a')));
    EXPECT_EQ(CutLogText(QString(1001, QLatin1Char('a'))), QString(1000, QLatin1Char('a')) + " ...(1 more characters)");
    // A character outside the basic plane straddling the cut is kept out whole.
    const QString pair = QString::fromUcs4(U"\U0001F600");
    const QString cut = CutLogText(QString(999, QLatin1Char('a')) + pair + QString(5, QLatin1Char('b')));
    EXPECT_EQ(cut, QString(999, QLatin1Char('a')) + " ...(7 more characters)");
}
