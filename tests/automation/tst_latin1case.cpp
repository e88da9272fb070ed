// Case of 8-bit text: one for one within Latin-1, never a change of length.
#include "automation/Latin1Case.h"
#include "automation/AnsiCodePage.h"

#include <gtest/gtest.h>

namespace {

QString latin1(const char *bytes)
{
    return QString::fromLatin1(bytes);
}

TEST(Latin1Case, LettersOfLatin1MapOneForOne)
{
    EXPECT_EQ(Latin1Case::upper(latin1("abc xyz \xe0\xe9\xf6\xfe")), latin1("ABC XYZ \xc0\xc9\xd6\xde"));
    EXPECT_EQ(Latin1Case::lower(latin1("ABC XYZ \xc0\xc9\xd6\xde")), latin1("abc xyz \xe0\xe9\xf6\xfe"));
    // Every Latin-1 character keeps its case pair and stays in Latin-1.
    for (int c = 0; c < 256; ++c) {
        const QChar up = Latin1Case::upper(QChar(char16_t(c)));
        const QChar down = Latin1Case::lower(QChar(char16_t(c)));
        EXPECT_LE(up.unicode(), 0xFF) << c;
        EXPECT_LE(down.unicode(), 0xFF) << c;
        EXPECT_EQ(Latin1Case::lower(up), Latin1Case::lower(QChar(char16_t(c)))) << c;
    }
}

TEST(Latin1Case, LettersWithoutACapitalAndSignsStayAsTheyAre)
{
    // Sharp s, y with diaeresis, micro sign, multiplication and division signs.
    for (const char *text : {"\xdf", "\xff", "\xb5", "\xd7", "\xf7", "\xaa\xba", "1-_[]@", ""}) {
        EXPECT_EQ(Latin1Case::upper(latin1(text)), latin1(text)) << text;
        EXPECT_EQ(Latin1Case::lower(latin1(text)), latin1(text)) << text;
    }
    EXPECT_EQ(Latin1Case::upper(latin1("stra\xdf""e")).size(), 6);
}

TEST(Latin1Case, CharactersBeyondLatin1KeepTheirOwnCaseOnly)
{
    // Greek letters change case among themselves.
    EXPECT_EQ(Latin1Case::upper(QString(QChar(0x3b1))), QString(QChar(0x391)));
    EXPECT_EQ(Latin1Case::lower(QString(QChar(0x391))), QString(QChar(0x3b1)));
    // Nothing outside Latin-1 turns into a Latin-1 letter: Kelvin sign, capital Y with diaeresis, long s.
    EXPECT_EQ(Latin1Case::lower(QString(QChar(0x212a))), QString(QChar(0x212a)));
    EXPECT_EQ(Latin1Case::lower(QString(QChar(0x178))), QString(QChar(0x178)));
    EXPECT_EQ(Latin1Case::upper(QString(QChar(0x17f))), QString(QChar(0x17f)));
}

// A character of the code page never changes case into one the code page lacks, which a
// file would hold as "?": "ƒ" (byte 0x83) has a capital outside it and stays as it is.
TEST(Latin1Case, CaseNeverLeavesTheCodePage)
{
    for (int b = 0x80; b <= 0xFF; ++b) {
        const QChar c = AnsiCodePage::toUnicode(quint8(b));
        for (const QChar mapped : {Latin1Case::upper(c), Latin1Case::lower(c)})
            EXPECT_NE(AnsiCodePage::fromUnicode(mapped), '?') << "byte 0x" << std::hex << b;
    }
    EXPECT_EQ(Latin1Case::upper(QString(QChar(0x0192))), QString(QChar(0x0192)));
    EXPECT_EQ(Latin1Case::upper(QString(QChar(0x0161))), QString(QChar(0x0160))) << "the code page's own pairs still map";
    EXPECT_EQ(Latin1Case::lower(QString(QChar(0x0152))), QString(QChar(0x0153)));
}

TEST(Latin1Case, EqualIgnoringCase)
{
    EXPECT_TRUE(Latin1Case::equalIgnoringCase(latin1("Caf\xc9"), latin1("cAF\xe9")));
    EXPECT_FALSE(Latin1Case::equalIgnoringCase(latin1("stra\xdf""e"), latin1("STRASSE")));
    EXPECT_FALSE(Latin1Case::equalIgnoringCase(latin1("ab"), latin1("abc")));
}

} // namespace
