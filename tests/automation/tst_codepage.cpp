// The code page scripts see in Chr and Asc, and the case of its letters.
#include "automation/AnsiCodePage.h"
#include "automation/Latin1Case.h"
#include "automation/ScriptCase.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

QString chars(std::initializer_list<char16_t> codes)
{
    QString s;
    for (char16_t c : codes)
        s.append(QChar(c));
    return s;
}

TEST(AnsiCodePage, BytesOf128To159AreTheWindowsCharacters)
{
    EXPECT_EQ(AnsiCodePage::toUnicode(128).unicode(), 0x20AC); // euro sign
    EXPECT_EQ(AnsiCodePage::toUnicode(146).unicode(), 0x2019); // right single quote
    EXPECT_EQ(AnsiCodePage::toUnicode(150).unicode(), 0x2013); // en dash
    EXPECT_EQ(AnsiCodePage::toUnicode(156).unicode(), 0x0153); // oe
    EXPECT_EQ(AnsiCodePage::toUnicode(159).unicode(), 0x0178); // capital Y with diaeresis
    // The rest is Latin-1, the five undefined bytes their own control characters.
    EXPECT_EQ(AnsiCodePage::toUnicode(65).unicode(), 65);
    EXPECT_EQ(AnsiCodePage::toUnicode(0xE9).unicode(), 0xE9);
    for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(AnsiCodePage::toUnicode(quint8(b)).unicode(), b);
}

TEST(AnsiCodePage, EveryByteRoundTripsAndForeignCharactersAreQuestionMarks)
{
    QSet<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const QChar c = AnsiCodePage::toUnicode(quint8(b));
        EXPECT_EQ(AnsiCodePage::fromUnicode(c), b) << b;
        seen.insert(c.unicode());
    }
    EXPECT_EQ(seen.size(), 256); // no two bytes share a character
    // C1 controls the code page replaced, and characters beyond it.
    for (char16_t c : {char16_t(0x80), char16_t(0x9F), char16_t(0x100), char16_t(0x3A9), char16_t(0x4E00)})
        EXPECT_EQ(AnsiCodePage::fromUnicode(QChar(c)), '?') << int(c);
}

TEST(AnsiCodePage, WholeTextsPassEveryByteThroughUnchanged)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = AnsiCodePage::decode(all);
    ASSERT_EQ(text.size(), 256);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(text.at(b), AnsiCodePage::toUnicode(quint8(b))) << b;
    EXPECT_EQ(AnsiCodePage::encode(text), all);
    EXPECT_EQ(AnsiCodePage::decode(QByteArray()), QString());
    EXPECT_EQ(AnsiCodePage::encode(QString()), QByteArray());
}

TEST(AnsiCodePage, WholeTextsCarryTheCodePageCharactersAsTheirBytes)
{
    // What a script builds with Chr(128) & Chr(150) & Chr(156) goes out as those bytes.
    EXPECT_EQ(AnsiCodePage::encode(chars({0x20AC, 0x2013, 0x0153, 'A', 0xE9})), QByteArray("\x80\x96\x9c" "A\xe9"));
    EXPECT_EQ(AnsiCodePage::decode(QByteArray("\x80\x96" "x")), chars({0x20AC, 0x2013, 'x'}));
    // C1 controls still in memory (read before the code page, or made with ChrW) keep their
    // own byte instead of becoming "?".
    QString controls;
    QByteArray bytes;
    for (int c = 0x80; c <= 0x9F; ++c) {
        controls.append(QChar(char16_t(c)));
        bytes.append(char(c));
    }
    EXPECT_EQ(AnsiCodePage::encode(controls), bytes);
    // Beyond the code page: one "?" per UTF-16 unit, so lengths stay as a reply header counts them.
    EXPECT_EQ(AnsiCodePage::encode(chars({0x4E00, 0x100, 0xD83D, 0xDE00, 0x2015})), QByteArray("?????"));
}

TEST(AnsiCodePage, ALoneCodePageCharacterIsFoundAnywhereInAnyLength)
{
    // The conversions look for such characters a word at a time: every place counts, the
    // ragged end of a text too.
    for (int size = 1; size <= 19; ++size) {
        for (int at = 0; at < size; ++at) {
            QByteArray bytes(size, 'a');
            bytes[at] = char(0x9C);
            QString text(size, QLatin1Char('a'));
            text[at] = QChar(0x0153);
            EXPECT_EQ(AnsiCodePage::decode(bytes), text) << size << " " << at;
            EXPECT_EQ(AnsiCodePage::encode(text), bytes) << size << " " << at;
        }
    }
}

TEST(ScriptCase, LettersOfTheCodePagePairUp)
{
    EXPECT_EQ(ScriptCase::upper(chars({0x161, 0x153, 0x17E, 0xFF})), chars({0x160, 0x152, 0x17D, 0x178}));
    EXPECT_EQ(ScriptCase::lower(chars({0x160, 0x152, 0x17D, 0x178})), chars({0x161, 0x153, 0x17E, 0xFF}));
    EXPECT_EQ(ScriptCase::upper(QStringLiteral("abc\u00e9")), QStringLiteral("ABC\u00c9"));
    // Sharp s has no single capital; signs have no case.
    EXPECT_EQ(ScriptCase::upper(chars({0xDF, 0x20AC, '1'})), chars({0xDF, 0x20AC, '1'}));
}

TEST(ScriptCase, TheProgramsOwnTextKeepsItsLatin1Case)
{
    // The small y with diaeresis has its capital only for scripts.
    EXPECT_EQ(Latin1Case::upper(QChar(0xFF)).unicode(), 0xFF);
    EXPECT_EQ(ScriptCase::upper(QChar(0xFF)).unicode(), 0x178);
    // Every Latin-1 character maps as it does for the program's text except that one.
    for (int c = 0; c < 256; ++c) {
        if (c == 0xFF)
            continue;
        EXPECT_EQ(ScriptCase::upper(QChar(char16_t(c))), Latin1Case::upper(QChar(char16_t(c)))) << c;
        EXPECT_EQ(ScriptCase::lower(QChar(char16_t(c))), Latin1Case::lower(QChar(char16_t(c)))) << c;
    }
}

} // namespace
