#include "HostTestSupport.h"

#include "host/HostGlobals.h"
#include "host/IniCache.h"

#include "automation/MemoryBudget.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
using IniCacheTest = HostTest;

void touchLater(const QString &path, int seconds)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(seconds), QFileDevice::FileModificationTime));
}
} // namespace

TEST_F(IniCacheTest, MissingFileIsCreatedAndGivesTheDefault)
{
    QString section = "tspi_quillon", key = "poll_interval", def = "500", file = "xaptvkKorvane.ini";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "500");
    EXPECT_TRUE(QFileInfo::exists(configPath("xaptvkKorvane.ini")));
}

TEST_F(IniCacheTest, WritesStayInMemoryUntilFlushed)
{
    QString section = "General", key = "Colour", value = "red", def = "none", file = "test.ini";
    m_hs->SaveIniSetting(section, key, value, file);
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "red");
    EXPECT_TRUE(readFile(configPath("test.ini")).isEmpty());

    // A restart without a flush finds the old contents.
    HostIniCache().reset();
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "none");

    m_hs->SaveIniSetting(section, key, value, file);
    m_hs->FlushIniCache();
    EXPECT_EQ(readFile(configPath("test.ini")), "[GENERAL]\r\nColour=red\r\n");
    EXPECT_FALSE(QFileInfo::exists(configPath("test.ini.new")));
}

TEST_F(IniCacheTest, NamesInAnyCaseShareOneFileAndOneSlot)
{
    writeFile(configPath("Settings.ini"), "[Settings]\r\nconfigfile=/x/house.xml\r\n");
    QString section = "settings", key = "CONFIGFILE", def, upper = "SETTINGS.INI", none;
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, upper), "/x/house.xml");
    const int slotsBefore = HostIniCache().slotCount();
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, none), "/x/house.xml") << "no file name means settings.ini";
    EXPECT_EQ(HostIniCache().slotCount(), slotsBefore);
    EXPECT_FALSE(QFileInfo::exists(configPath("settings.ini")));
}

TEST_F(IniCacheTest, OutsideEditIsReadAgainAndDropsUnflushedWrites)
{
    writeFile(configPath("a.ini"), "[S]\r\nk=1\r\n");
    QString section = "S", key = "k", other = "w", def, file = "a.ini", value = "2";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "1");
    m_hs->SaveIniSetting(section, other, value, file);
    writeFile(configPath("a.ini"), "[S]\r\nk=9\r\n");
    touchLater(configPath("a.ini"), 5);
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "9");
    EXPECT_EQ(m_hs->GetIniSetting(section, other, def, file), QString());
}

TEST_F(IniCacheTest, SaveDoesNotReloadANewerFile)
{
    writeFile(configPath("b.ini"), "[S]\r\nk=1\r\n");
    QString section = "S", key = "k", def, file = "b.ini", value = "mine";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "1");
    writeFile(configPath("b.ini"), "[S]\r\nk=outside\r\n");
    touchLater(configPath("b.ini"), 5);
    m_hs->SaveIniSetting(section, key, value, file);
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "mine");
}

TEST_F(IniCacheTest, SectionJoinsKeysAndClearingReachesTheDisk)
{
    writeFile(configPath("c.ini"), "[Dev]\r\nA1=\"x;y\"\r\nB2=z\r\n[Other]\r\nq=1\r\n");
    QString dev = "Dev", file = "c.ini", missing = "Nope";
    EXPECT_EQ(m_hs->GetINISection(dev, file), QString("A1=\"x;y\"") + QChar(0) + "B2=z");
    EXPECT_EQ(m_hs->GetINISection(missing, file), QString());

    m_hs->ClearINISection(dev, file);
    EXPECT_EQ(m_hs->GetINISection(dev, file), QString());
    EXPECT_TRUE(HostIniCache().isDirty("C.INI"));
    m_hs->FlushIniCache();
    EXPECT_EQ(readFile(configPath("c.ini")), "[OTHER]\r\nq=1\r\n");
    EXPECT_EQ(readFile(configPath("c.ini_bck")), "[Dev]\r\nA1=\"x;y\"\r\nB2=z\r\n[Other]\r\nq=1\r\n");

    m_hs->ClearINISection(missing, file);
    EXPECT_FALSE(HostIniCache().isDirty("c.ini")) << "nothing removed, nothing to save";
}

TEST_F(IniCacheTest, FlushWithNothingWrittenSavesNothing)
{
    writeFile(configPath("d.ini"), "; comment kept\r\n[S]\r\nk=1\r\n");
    QString section = "S", key = "k", def, file = "d.ini";
    m_hs->GetIniSetting(section, key, def, file);
    m_hs->FlushIniCache();
    EXPECT_EQ(readFile(configPath("d.ini")), "; comment kept\r\n[S]\r\nk=1\r\n");
    EXPECT_FALSE(QFileInfo::exists(configPath("d.ini_bck")));
}

TEST_F(IniCacheTest, BinaryGarbageLoadsWhatItCan)
{
    const char raw[] = "\x00\xff\xfe\r\n[S]\r\nk=v\r\n\x01\x02=\x03\r\n[";
    const QByteArray garbage(raw, sizeof(raw) - 1);
    writeFile(configPath("g.ini"), garbage);
    QString section = "S", key = "k", def = "d", file = "g.ini";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, file), "v");
}

// A file that cannot be written (here a folder stands where the file was) does not keep
// the files after it from being saved; it stays dirty and is saved by the next flush.
TEST_F(IniCacheTest, OneUnwritableFileDoesNotStopTheFlush)
{
    QString section = "S", key = "k", value = "1";
    for (const char *name : {"a.ini", "b.ini", "c.ini"}) {
        QString file = QString::fromLatin1(name);
        m_hs->SaveIniSetting(section, key, value, file);
    }
    ASSERT_TRUE(QFile::remove(configPath("b.ini")));
    ASSERT_TRUE(QDir().mkpath(configPath("b.ini")));

    try {
        HostIniCache().flush();
        ADD_FAILURE() << "the failed save is raised";
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 75) << "the save's own error: nothing can be written in the folder's place";
    }
    EXPECT_EQ(readFile(configPath("a.ini")), "[S]\r\nk=1\r\n");
    EXPECT_EQ(readFile(configPath("c.ini")), "[S]\r\nk=1\r\n");
    EXPECT_FALSE(HostIniCache().isDirty("a.ini"));
    EXPECT_TRUE(HostIniCache().isDirty("B.INI"));
    EXPECT_FALSE(HostIniCache().isDirty("c.ini"));

    ASSERT_TRUE(QDir(configPath("b.ini")).removeRecursively());
    HostIniCache().flush();
    EXPECT_EQ(readFile(configPath("b.ini")), "[S]\r\nk=1\r\n");
    EXPECT_FALSE(HostIniCache().isDirty("b.ini"));
}

TEST_F(IniCacheTest, EverySpellingOfAFileSharesOneSlot)
{
    QDir(configPath(QString())).mkpath("sub");
    writeFile(configPath("a.ini"), "[S]\r\nk=one\r\n");
    QString section = "S", key = "k", def;
    QString first = "a.ini";
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, first), "one");
    const int slotsBefore = HostIniCache().slotCount();
    for (const char *name : {"./a.ini", "././A.INI", "sub/../a.ini", "sub/./../A.ini", "../Config/a.ini", ".\\a.ini"}) {
        QString spelling = QString::fromLatin1(name);
        EXPECT_EQ(m_hs->GetIniSetting(section, key, def, spelling), "one") << spelling.toStdString();
        EXPECT_EQ(HostIniCache().slotCount(), slotsBefore) << spelling.toStdString();
    }
    // A write under one spelling is what every other reads.
    QString spelt = "sub/../A.INI", value = "two";
    m_hs->SaveIniSetting(section, key, value, spelt);
    EXPECT_EQ(m_hs->GetIniSetting(section, key, def, first), "two");
    EXPECT_TRUE(HostIniCache().isDirty("./a.ini"));
}

TEST_F(IniCacheTest, WhatTheCacheHoldsIsCountedAndGoesWithIt)
{
    struct Row {
        const char *what;
        int section, key, value; // lengths
    };
    const Row rows[] = {{"a long value", 1, 1, 1000000}, {"a long key", 1, 1000000, 1}, {"a long section name", 1000000, 1, 1}};
    for (const Row &row : rows) {
        HostIniCache().reset();
        const qint64 before = MemoryBudget::used();
        QString section(row.section, 'g'), key(row.key, 'k'), value(row.value, 'v'), file = "count.ini";
        m_hs->SaveIniSetting(section, key, value, file);
        EXPECT_GE(MemoryBudget::used() - before, 2 * qint64(row.section + row.key + row.value)) << row.what;
        EXPECT_LT(MemoryBudget::used() - before, 12 * qint64(row.section + row.key + row.value) + 4096) << row.what;
        m_hs->ClearINISection(section, file);
        // The section's own entry stays (an empty section is still listed).
        EXPECT_LT(MemoryBudget::used() - before, 8 * qint64(row.section) + 4096) << row.what;
        HostIniCache().reset();
        EXPECT_EQ(MemoryBudget::used(), before) << row.what;
    }
}
