#include "LiveXap.h"

#include "core/IniText.h"
#include "core/IniTool.h"
#include "core/Globals.h"
#include "core/Shutdown.h"

#include "automation/AnsiCodePage.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <optional>

#include <sys/resource.h>

#include <gtest/gtest.h>

namespace {

class IniToolTest : public ::testing::Test
{
protected:
    QString write(const QByteArray& text)
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        return path;
    }
    QByteArray read(const QString& file) const
    {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("test.ini"));
};

}  // namespace

TEST_F(IniToolTest, ReadsIgnoringCaseAndDefaults)
{
    IniTool ini;
    ini.Load(write("[Interface]\r\nInterfaceAddress=192.168.1.10\r\nEmpty=\r\n"));
    EXPECT_EQ(ini.Read(QStringLiteral("INTERFACE"), QStringLiteral("interfaceaddress"), QStringLiteral("Default")),
              QStringLiteral("192.168.1.10"));
    EXPECT_EQ(ini.Read(QStringLiteral("Interface"), QStringLiteral("Empty"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(ini.Read(QStringLiteral("Interface"), QStringLiteral("Missing"), QStringLiteral("d")), QStringLiteral("d"));

    IniTool missing;
    missing.Load(dir.filePath(QStringLiteral("nope.ini")));
    EXPECT_EQ(missing.Read(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_TRUE(missing.Headers().isEmpty());
}

TEST_F(IniToolTest, LineRules)
{
    IniTool ini;
    ini.Load(write("top=before any section\n"
                   "  ; comment=no\n"
                   "\n"
                   "[Settings]\n"
                   "key = spaced value \n"
                   "dup=first\n"
                   "DUP=second\n"
                   "no equal sign here\n"
                   "[ Odd Name ]\n"
                   "a=b=c\n"
                   "[settings]\n"
                   "late=merged\n"
                   "dup=third\n"));
    EXPECT_EQ(ini.Read(QString(), QStringLiteral("top"), QString()), QStringLiteral("before any section"));
    EXPECT_EQ(ini.Read(QStringLiteral("Settings"), QStringLiteral("key "), QString()), QStringLiteral(" spaced value"));
    EXPECT_EQ(ini.Read(QStringLiteral("Settings"), QStringLiteral("dup"), QString()), QStringLiteral("first"));
    EXPECT_EQ(ini.Read(QStringLiteral("Settings"), QStringLiteral("late"), QString()), QStringLiteral("merged"));
    EXPECT_EQ(ini.Read(QStringLiteral(" odd name "), QStringLiteral("a"), QString()), QStringLiteral("b=c"));
    EXPECT_EQ(ini.Read(QStringLiteral("Settings"), QStringLiteral("comment"), QStringLiteral("none")), QStringLiteral("none"));
    EXPECT_EQ(ini.Headers(), QStringList({QStringLiteral("Settings"), QStringLiteral(" Odd Name ")}));
    EXPECT_EQ(ini.Keys(QStringLiteral("SETTINGS")),
              QStringList({QStringLiteral("key"), QStringLiteral("dup"), QStringLiteral("late")}));
}

TEST_F(IniToolTest, KeysMatchTheSectionLiterally)
{
    IniTool ini;
    ini.WriteKey(QStringLiteral("a.b"), QStringLiteral("one"), QStringLiteral("1"));
    ini.WriteKey(QStringLiteral("axb"), QStringLiteral("two"), QStringLiteral("2"));
    ini.WriteKey(QStringLiteral("(x"), QStringLiteral("three"), QStringLiteral("3"));
    EXPECT_EQ(ini.Keys(QStringLiteral("a.b")), QStringList({QStringLiteral("one")}));
    EXPECT_EQ(ini.Keys(QStringLiteral("(x")), QStringList({QStringLiteral("three")}));
    EXPECT_EQ(ini.Keys(QStringLiteral("nothing")), QStringList({QString()}));
}

TEST_F(IniToolTest, SaveSortsUppercasesAndKeepsBackup)
{
    const QByteArray original = "; my settings\n\n[Settings]\nzeta=26\nAlpha=1\ngone=x\n[alpha]\nb=2\nempty=\n[]\nx=y\n";
    IniTool ini;
    ini.Load(write(original));
    ini.WriteKey(QStringLiteral("new"), QStringLiteral("k"), QStringLiteral("v"));
    ini.RemoveKey(QStringLiteral("settings"), QStringLiteral("GONE"));
    ini.WriteKey(QStringLiteral("Settings"), QStringLiteral("zeta"), QStringLiteral("changed"));
    ASSERT_TRUE(ini.Save());
    // Keys before the first section live in the empty-named section, written first.
    EXPECT_EQ(read(path), QByteArray("[]\r\nx=y\r\n[ALPHA]\r\nb=2\r\n[NEW]\r\nk=v\r\n[SETTINGS]\r\nAlpha=1\r\nzeta=changed\r\n"));
    EXPECT_EQ(read(path + QStringLiteral("_bck")), original);

    IniTool again;
    again.Load(path);
    EXPECT_EQ(again.Read(QStringLiteral("settings"), QStringLiteral("ZETA"), QString()), QStringLiteral("changed"));
}

TEST_F(IniToolTest, RemovedSectionDisappearsAndLongNamesSurvive)
{
    IniTool ini;
    ini.Load(path);
    const QString longSection(150, QLatin1Char('s'));
    const QString longKey(300, QLatin1Char('k'));
    ini.WriteKey(longSection, longKey, QStringLiteral("long"));
    ini.WriteKey(QStringLiteral("Drop"), QStringLiteral("a"), QStringLiteral("1"));
    ini.WriteKey(QStringLiteral("Drop"), QStringLiteral("b"), QStringLiteral("2"));
    ini.RemoveSection(QStringLiteral("drop"));
    EXPECT_EQ(ini.Keys(QStringLiteral("Drop")), QStringList({QString()}));
    EXPECT_TRUE(ini.Headers().contains(QStringLiteral("Drop")));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(read(path), QByteArray("[") + longSection.toUpper().toLatin1() + "]\r\n" + longKey.toLatin1() + "=long\r\n");
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("_bck")));
}

// Keys with blanks around them and an empty key are removed with their section too.
TEST_F(IniToolTest, RemoveSectionTakesKeysThatKeysListsTrimmedOrNotAtAll)
{
    IniTool ini;
    ini.Load(write("[Gone]\r\n key = 1\r\n=2\r\nplain=3\r\n[Kept]\r\na=4\r\n"));
    ini.RemoveSection(QStringLiteral("GONE"));
    EXPECT_EQ(ini.Keys(QStringLiteral("gone")), QStringList({QString()}));
    EXPECT_EQ(ini.Read(QStringLiteral("gone"), QStringLiteral(" key "), QStringLiteral("none")), QStringLiteral("none"));
    EXPECT_EQ(ini.Read(QStringLiteral("kept"), QStringLiteral("a"), QString()), QStringLiteral("4"));
    ini.WriteKey(QStringLiteral("kept"), QStringLiteral("b"), QStringLiteral("5"));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(read(path), QByteArray("[KEPT]\r\na=4\r\nb=5\r\n"));
}

TEST_F(IniToolTest, MalformedFileLoadsWhatItCan)
{
    QByteArray junk("[Interface\n=\n[]]\n\x01\x02\xff\xfe=binary\xe9\nBroadcastAddress=10.0.0.255\r\r\n[Interface]\n");
    junk += QByteArray(5000, 'x') + "\n";
    junk += "InterfaceAddress=127.0.0.1\n[unclosed\nlast=1";
    IniTool ini;
    ini.Load(write(junk));
    EXPECT_EQ(ini.Read(QStringLiteral("interface"), QStringLiteral("InterfaceAddress"), QString()), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ini.Read(QStringLiteral("]"), QStringLiteral("\x01\x02\xff\xfe"), QString()).size(), 7);
    EXPECT_EQ(ini.Read(QStringLiteral("]"), QStringLiteral("BroadcastAddress"), QString()), QStringLiteral("10.0.0.255"));
    EXPECT_EQ(ini.Read(QStringLiteral("Interface"), QStringLiteral("last"), QString()), QStringLiteral("1"));
    ASSERT_TRUE(ini.Save());
    IniTool reread;
    reread.Load(path);
    EXPECT_EQ(reread.Read(QStringLiteral("INTERFACE"), QStringLiteral("interfaceaddress"), QString()), QStringLiteral("127.0.0.1"));
}

// Line breaks and NUL in names and values become blanks on saving: a value can never add a
// section or a key of its own to the file.
TEST_F(IniToolTest, LineBreaksInNamesAndValuesCannotInjectLines)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    IniTool ini;
    ini.Load(write("[Interface]\r\nInterfaceAddress=127.0.0.1\r\n"));
    ini.WriteKey(QStringLiteral("Sec"), QStringLiteral("k"), QStringLiteral("line1\r\n[INJECT]\r\nInterfaceAddress=6.6.6.6"));
    ini.WriteKey(QStringLiteral("Sec"), QStringLiteral("cut"), QStringLiteral("before") + QChar(0) + QStringLiteral("after"));
    ini.WriteKey(QStringLiteral("Sec"), QStringLiteral("lf\nkey"), QStringLiteral("v"));
    ini.WriteKey(QStringLiteral("Sec\r\n[Interface]"), QStringLiteral("k2"), QStringLiteral("v2"));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(read(path), QByteArray("[INTERFACE]\r\nInterfaceAddress=127.0.0.1\r\n"
                                     "[SEC]\r\ncut=before after\r\nk=line1  [INJECT]  InterfaceAddress=6.6.6.6\r\nlf key=v\r\n"
                                     "[SEC  [INTERFACE]]\r\nk2=v2\r\n"));

    IniTool reread;
    reread.Load(path);
    EXPECT_EQ(reread.Headers(), QStringList({QStringLiteral("INTERFACE"), QStringLiteral("SEC"), QStringLiteral("SEC  [INTERFACE]")}));
    EXPECT_EQ(reread.Read(QStringLiteral("Interface"), QStringLiteral("InterfaceAddress"), QString()), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(reread.Read(QStringLiteral("Sec"), QStringLiteral("cut"), QString()), QStringLiteral("before after"));
    EXPECT_EQ(reread.Keys(QStringLiteral("INJECT")), QStringList({QString()}));
    // Nothing here was refused, so nothing was logged.
    QCoreApplication::processEvents();
    EXPECT_TRUE(xapOut.logData().isEmpty());
}

// Lines that would read back as something else (a key with "=", a comment, a section, a key
// that loses its leading blank) are left out, with one log entry per save that names the
// file and the count but none of the keys; a key starting with "[" is kept when its line
// does not end in "]".
TEST_F(IniToolTest, KeysThatCannotBeReadBackAreLeftOutAndLoggedOnce)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    IniTool ini;
    ini.Load(path);
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("a=b"), QStringLiteral("1"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral(";note"), QStringLiteral("2"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("[X"), QStringLiteral("3]  "));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("[6"), QStringLiteral("Hall;Lamp;False"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("[Y]"), QStringLiteral("3"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral(" lead"), QStringLiteral("4"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("\nlead"), QStringLiteral("5"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("trail "), QStringLiteral("6"));
    ini.WriteKey(QStringLiteral("S"), QStringLiteral("in;side[ok]"), QStringLiteral("7"));
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(read(path), QByteArray("[S]\r\n[6=Hall;Lamp;False\r\n[Y]=3\r\nin;side[ok]=7\r\ntrail =6\r\n"));
    ASSERT_TRUE(xapOut.listener.waitForCount(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(xapOut.logData(),
              QStringList({QStringLiteral("IniTool Save ") + path + QStringLiteral(" left out 5 key(s) that cannot be read back")}));

    IniTool reread;
    reread.Load(path);
    EXPECT_EQ(reread.Read(QStringLiteral("s"), QStringLiteral("trail "), QString()), QStringLiteral("6"));
    EXPECT_EQ(reread.Read(QStringLiteral("s"), QStringLiteral("[6"), QString()), QStringLiteral("Hall;Lamp;False"));
    EXPECT_EQ(reread.Read(QStringLiteral("s"), QStringLiteral("[Y]"), QString()), QStringLiteral("3"));
    EXPECT_EQ(reread.Read(QStringLiteral("s"), QStringLiteral("in;side[ok]"), QString()), QStringLiteral("7"));
}

// A UTF-8 byte-order mark before the first section must not hide that section.
TEST_F(IniToolTest, LeadingByteOrderMarkIsSkipped)
{
    IniTool ini;
    ini.Load(write("\xEF\xBB\xBF[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n"));
    EXPECT_EQ(ini.Headers(), QStringList({QStringLiteral("Interface")}));
    EXPECT_EQ(ini.Read(QStringLiteral("Interface"), QStringLiteral("BroadcastAddress"), QStringLiteral("Default")),
              QStringLiteral("127.0.0.1"));

    // Only a mark at the very start is one; the same bytes later are ordinary text.
    IniTool later;
    later.Load(write("[A]\r\nk=\xEF\xBB\xBFv\r\n\xEF\xBB\xBF[B]\r\nb=1\r\n"));
    EXPECT_EQ(later.Read(QStringLiteral("A"), QStringLiteral("k"), QString()), QString::fromLatin1("\xEF\xBB\xBFv"));
    EXPECT_EQ(later.Read(QStringLiteral("A"), QStringLiteral("b"), QString()), QStringLiteral("1"));
    EXPECT_EQ(later.Headers(), QStringList({QStringLiteral("A")}));
}

namespace {

// Lets no file of this process grow past `bytes` while it lives: writes beyond fail with
// EFBIG as they would on a full disk, instead of the process being killed.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        ok = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok = false;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

QString filler(char c, int bytes)
{
    return QString(bytes, QLatin1Char(c));
}

}  // namespace

// A save that cannot reach the disk must fail and leave both the file and its backup as they
// were: a short new file (held in a write buffer until the rename) and a long one alike.
TEST_F(IniToolTest, SaveOnAFullDiskKeepsTheFileAndItsBackup)
{
    const QByteArray oldBackup = "[OLD]\r\nbackup=kept\r\n";
    {
        QFile b(path + QStringLiteral("_bck"));
        ASSERT_TRUE(b.open(QIODevice::WriteOnly));
        b.write(oldBackup);
    }
    struct Case {
        const char* name;
        int valueBytes;   // of the text the save would write
        rlim_t limit;     // the largest file the "disk" still takes
    };
    const Case cases[] = {{"under the write buffer", 6000, 3000}, {"over the write buffer", 40000, 20000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray original = "[Devices]\r\nlamp=one\r\n";
        write(original);
        IniTool ini;
        ini.Load(path);
        ini.WriteKey(QStringLiteral("Devices"), QStringLiteral("big"), filler('v', c.valueBytes));
        bool saved = true;
        {
            FileSizeLimit full(c.limit);
            ASSERT_TRUE(full.ok);
            saved = ini.Save();
        }
        EXPECT_FALSE(saved);
        EXPECT_EQ(ini.lastError().number, 61);
        EXPECT_EQ(read(path), original);
        EXPECT_EQ(read(path + QStringLiteral("_bck")), oldBackup);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("test.ini"), QStringLiteral("test.ini_bck")}));
    }
}

// A store larger than the disk can copy: the old backup must not be given up for a copy
// that cannot be finished.
TEST_F(IniToolTest, BackupThatCannotBeCopiedKeepsTheOldOne)
{
    const QByteArray oldBackup = "[OLD]\r\nbackup=kept\r\n";
    {
        QFile b(path + QStringLiteral("_bck"));
        ASSERT_TRUE(b.open(QIODevice::WriteOnly));
        b.write(oldBackup);
    }
    const QByteArray original = "[Devices]\r\nlamp=" + QByteArray(30000, 'x') + "\r\n";
    write(original);
    IniTool ini;
    ini.Load(path);
    ini.WriteKey(QStringLiteral("Devices"), QStringLiteral("lamp"), QStringLiteral("short"));
    bool saved = true;
    {
        FileSizeLimit full(20000);
        ASSERT_TRUE(full.ok);
        saved = ini.Save();
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(read(path), original);
    EXPECT_EQ(read(path + QStringLiteral("_bck")), oldBackup);

    // With room again the same object saves and the backup then holds the text before it.
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(read(path), QByteArray("[DEVICES]\r\nlamp=short\r\n"));
    EXPECT_EQ(read(path + QStringLiteral("_bck")), original);
}

// Once the plug-in has registered, a skipped line and a failed save are logged; the skipped
// line is named by its number and file, never by its text (it may hold a password).
TEST_F(IniToolTest, SkippedLineAndFailedSaveAreLoggedOnceRegistered)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    gPluginHostRegistered = true;
    IniTool ini;
    ini.Load(write("[A]\r\nk=1\r\nsecret words\r\n\r\nalso bad\r\n"));
    ini.WriteKey(QStringLiteral("A"), QStringLiteral("big"), filler('v', 5000));
    {
        FileSizeLimit full(1000);
        ASSERT_TRUE(full.ok);
        EXPECT_FALSE(ini.Save());
    }
    gPluginHostRegistered = false;
    ASSERT_TRUE(xapOut.listener.waitForCount(2));
    const QStringList logged = xapOut.logData();
    ASSERT_EQ(logged.size(), 2);
    // One entry for the load, however many lines were skipped.
    EXPECT_EQ(logged.at(0), QStringLiteral(" Equal sign not found on line 3 of ") + path + QStringLiteral(" (2 lines without one)"));
    EXPECT_TRUE(logged.at(1).startsWith(QStringLiteral("IniTool Save ") + path)) << logged.at(1).toStdString();

    // Before registration (and after shutdown) nothing is logged.
    IniTool quiet;
    quiet.Load(write("[A]\r\nno equals here\r\n"));
    QCoreApplication::processEvents();
    EXPECT_EQ(xapOut.logData().size(), 2);
}

// A failed save is logged with the file and why whenever it comes: once the plug-in is up, at
// Exit, and at the start-up before the plug-in registers (the import's save), where the saves
// repeat and one entry stands for all of them until a save succeeds.
TEST_F(IniToolTest, AFailedSaveIsLoggedWithTheFileAndWhyWheneverItComes)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    struct Moment {
        const char* when;
        bool registered, exiting;
        int entries;   // for three failed saves, one good one and one more failed
    };
    const Moment moments[] = {
        {"the plug-in registered", true, false, 4},
        {"Exit", false, true, 4},
        {"the start-up, before the plug-in registers", false, false, 2},
    };
    qsizetype seen = 0;
    for (const Moment& m : moments) {
        SCOPED_TRACE(m.when);
        gPluginHostRegistered = m.registered;
        gShuttingDown = m.exiting;
        std::optional<Shutdown::ExitSaves> exitSaves;
        if (m.exiting)
            exitSaves.emplace();
        IniTool ini;
        ini.Load(write("[A]\r\nk=1\r\n"));
        ini.WriteKey(QStringLiteral("A"), QStringLiteral("big"), filler('v', 5000));
        auto failingSave = [&] {
            FileSizeLimit full(1000);
            ASSERT_TRUE(full.ok);
            EXPECT_FALSE(ini.Save());
        };
        for (int i = 0; i < 3; ++i)
            failingSave();
        EXPECT_TRUE(ini.Save());
        ini.WriteKey(QStringLiteral("A"), QStringLiteral("big"), filler('w', 5000));
        failingSave();
        exitSaves.reset();
        gPluginHostRegistered = false;
        gShuttingDown = false;

        xapOut.listener.waitForCount(seen + m.entries);
        waitUntil([] { return false; }, 300);
        const QStringList logged = xapOut.logData().mid(seen);
        seen += logged.size();
        EXPECT_EQ(logged.size(), m.entries) << logged.join(QStringLiteral("\n")).toStdString();
        for (const QString& entry : logged)
            EXPECT_TRUE(entry.startsWith(QStringLiteral("IniTool Save ") + path + QStringLiteral(": the disk is full")))
                << entry.toStdString();
    }
}

// The settings files are in the scripts' code page: what a script reads is what Chr gives for
// the byte on disk, and what it stores goes back as that byte.
TEST_F(IniToolTest, CodePageCharactersSurviveASaveAndReloadByteForByte)
{
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high.append(char(b));
    IniTool ini;
    ini.Load(write("[Names]\r\nraw=" + high + "\r\n"));
    const QString raw = ini.Read(QStringLiteral("Names"), QStringLiteral("raw"), QString());
    ASSERT_EQ(raw.size(), 128);
    EXPECT_EQ(raw.at(0).unicode(), 0x20AC) << "byte 128 reads as the euro sign";
    EXPECT_EQ(raw.at(0x96 - 0x80).unicode(), 0x2013) << "byte 150 reads as an en dash";
    EXPECT_EQ(raw.at(0xE9 - 0x80).unicode(), 0xE9);

    const QString price = QString::fromUtf8("5 € – 6 € œuvre");
    ini.WriteKey(QStringLiteral("Names"), QStringLiteral("price"), price);
    ASSERT_TRUE(ini.Save());
    const QByteArray saved = read(path);
    EXPECT_TRUE(saved.contains("\r\nraw=" + high + "\r\n")) << "every byte goes back unchanged";
    EXPECT_TRUE(saved.contains("\r\nprice=5 \x80 \x96 6 \x80 \x9cuvre\r\n")) << saved.toHex(' ').toStdString();

    IniTool again;
    again.Load(path);
    EXPECT_EQ(again.Read(QStringLiteral("Names"), QStringLiteral("price"), QString()), price);
    EXPECT_EQ(again.Read(QStringLiteral("Names"), QStringLiteral("raw"), QString()), raw);
}

// Every byte of the code page in a section name and a key comes back after a save and a
// reload: the upper-cased section line never holds a capital the code page lacks ("ƒ").
TEST_F(IniToolTest, EveryCodePageByteInSectionAndKeyNamesSurvivesASaveAndReload)
{
    QByteArray text;
    // Each byte in names of their own: a letter and its capital would be one name.
    auto named = [](const char* prefix, int b) { return prefix + QByteArray::number(b, 16) + char(b); };
    for (int b = 0x80; b <= 0xFF; ++b)
        text += "[" + named("s", b) + "]\r\n" + named("k", b) + "=" + QByteArray::number(b) + "\r\n";
    IniTool ini;
    ini.Load(write(text));
    ini.WriteKey(QStringLiteral("changed"), QStringLiteral("so"), QStringLiteral("it saves"));
    ASSERT_TRUE(ini.Save());
    const QByteArray saved = read(path);
    EXPECT_FALSE(saved.contains('?')) << "a name left the code page";
    IniTool again;
    again.Load(path);
    for (int b = 0x80; b <= 0xFF; ++b) {
        const QString section = AnsiCodePage::decode(named("s", b));
        const QString key = AnsiCodePage::decode(named("k", b));
        EXPECT_EQ(again.Read(section, key, QStringLiteral("lost")), QString::number(b)) << "byte 0x" << std::hex << b;
    }
}

// A save whose text is the file's writes nothing, so the backup keeps the version before the
// last real change; once Exit has begun only Exit's own saves write.
TEST_F(IniToolTest, SavesThatChangeNothingOrComeAfterExitBeganWriteNothing)
{
    const QByteArray first = "[A]\r\nk=1\r\n";
    const QByteArray second = "[A]\r\nk=2\r\n";
    write(first);
    IniTool ini;
    ini.Load(path);
    ASSERT_TRUE(ini.Save());
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("_bck"))) << "an unchanged save wrote";
    ini.WriteKey(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"));
    ASSERT_TRUE(ini.Save());
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(read(path), second);
    EXPECT_EQ(read(path + QStringLiteral("_bck")), first) << "the second save replaced the backup";

    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    struct Case {
        const char* name;
        bool shuttingDown;
        bool exitSaves;
        bool written;
    };
    const Case cases[] = {
        {"running", false, false, true},
        {"after Exit began, from a handler", true, false, false},
        {"after Exit began, Exit's own save", true, true, true},
    };
    int value = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray before = read(path);
        ini.WriteKey(QStringLiteral("A"), QStringLiteral("k"), QString::number(value++));
        gShuttingDown = c.shuttingDown;
        bool saved = false;
        {
            std::optional<Shutdown::ExitSaves> exitSaves;
            if (c.exitSaves)
                exitSaves.emplace();
            saved = ini.Save();
        }
        gShuttingDown = false;
        EXPECT_EQ(saved, c.written);
        EXPECT_EQ(read(path) != before, c.written);
    }
    EXPECT_TRUE(xapOut.logData().join('\n').contains(QStringLiteral("not written: the program is stopping")))
        << xapOut.logData().join('\n').toStdString();
}

// What the typed-text rules let through comes back from the file unchanged,
// and what the file would change they refuse: a key and a value written,
// saved and loaded again, for a table of texts a user might type.
TEST_F(IniToolTest, TypedTextRulesMatchWhatTheFileKeeps)
{
    // The saves that leave keys out log it: sent at once, not left queued for later tests.
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    const QStringList texts = {QStringLiteral("plain"),       QStringLiteral(";first"),     QStringLiteral(" lead"),
                               QStringLiteral("trail "),      QStringLiteral("x=y"),        QStringLiteral("[bracket"),
                               QStringLiteral("[bracket]"),   QStringLiteral("a&b<c>"),     QStringLiteral("semi;colon"),
                               QStringLiteral("tab\tinside"), QStringLiteral("line\nbreak"), QStringLiteral("\u00e9\u20ac"),
                               QStringLiteral("\u0101"),      QStringLiteral("q\"uote"),    QStringLiteral("'single'")};
    for (const QString& text : texts) {
        const QString value = QStringLiteral("v]"); // a value that ends a section heading
        IniTool out;
        out.Load(path);
        out.Clear();
        out.WriteKey(QStringLiteral("S"), text, value);
        out.WriteKey(QStringLiteral("S"), QStringLiteral("k"), text);
        out.Save();
        IniTool in;
        in.Load(path);
        const bool keyKept = in.Keys(QStringLiteral("S")).contains(text) && in.Read(QStringLiteral("S"), text, "") == value;
        const bool valueKept = in.Read(QStringLiteral("S"), QStringLiteral("k"), "") == text;
        const QString keyFault = IniText::keyFault(text, value);
        const QString valueFault = IniText::valueFault(text);
        if (!keyKept)
            EXPECT_FALSE(keyFault.isEmpty()) << "the key \"" << text.toStdString() << "\" is lost yet allowed";
        if (keyFault.isEmpty())
            EXPECT_TRUE(keyKept) << text.toStdString();
        if (!valueKept)
            EXPECT_FALSE(valueFault.isEmpty()) << "the value \"" << text.toStdString() << "\" is lost yet allowed";
        if (valueFault.isEmpty())
            EXPECT_TRUE(valueKept) << text.toStdString();
    }
    // The readers of the stored sections drop every double quote; a ";" splits a stored record.
    EXPECT_FALSE(IniText::keyFault(QStringLiteral("q\"uote")).isEmpty());
    EXPECT_FALSE(IniText::valueFault(QStringLiteral("q\"uote")).isEmpty());
    EXPECT_FALSE(IniText::fieldFault(QStringLiteral("semi;colon")).isEmpty());
    EXPECT_FALSE(IniText::valueFault(QStringLiteral("x=y"), true).isEmpty());
    EXPECT_TRUE(IniText::fieldFault(QStringLiteral(" spaced = fine ")).isEmpty());
}

// A second block of a section that is already in the file, or a key given twice, is read as
// the first one only: one log entry per load names the file and what was dropped, and a file
// without repeats logs nothing.
TEST_F(IniToolTest, RepeatedSectionsAndKeysAreLoggedOncePerLoad)
{
    LiveXap xapOut;
    ASSERT_TRUE(xapOut.ready);
    struct Case {
        const char* what;
        QByteArray text;
        QStringList named;  // what the one entry names; empty: no entry
    };
    const std::vector<Case> cases{
        {"no repeats", "[Settings]\r\na=1\r\n[Other]\r\na=2\r\n", {}},
        {"an appended block", "[Settings]\r\ngWebPassword=old\r\n[Other]\r\nx=1\r\n[settings]\r\ngWebPassword=new\r\nb=2\r\n",
         {"[settings]", "1 later key(s) dropped: [settings]gWebPassword"}},
        {"a key twice in one block", "[A]\r\nk=1\r\nK=2\r\n", {"[A]K"}},
        {"many repeats are counted", "[A]\r\n" + QByteArray("k=1\r\n").repeated(15), {"14 later key(s) dropped", ", ..."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IniTool ini;
        ini.Load(write(c.text));
        QCoreApplication::processEvents();
        if (c.named.isEmpty()) {
            EXPECT_TRUE(xapOut.logData().isEmpty()) << xapOut.logData().join('\n').toStdString();
            continue;
        }
        ASSERT_TRUE(xapOut.listener.waitForCount(1));
        const QStringList logged = xapOut.logData();
        ASSERT_EQ(logged.size(), 1) << logged.join('\n').toStdString();
        EXPECT_TRUE(logged.at(0).contains(path));
        for (const QString& part : c.named)
            EXPECT_TRUE(logged.at(0).contains(part)) << logged.at(0).toStdString();
        EXPECT_FALSE(logged.at(0).contains("new")) << "no value is logged";
        xapOut.listener.received.clear();
    }
}
