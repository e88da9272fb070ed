#include "LiveXap.h"

#include "core/IniTool.h"

#include <QCoreApplication>

#include <QFile>
#include <QTemporaryDir>

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
