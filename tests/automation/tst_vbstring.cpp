#include "VbError.h"
#include "VbString.h"
#include "Variant.h"

#include <gtest/gtest.h>

using namespace VbString;

TEST(VbString, ValReadsTheLeadingNumber)
{
    EXPECT_DOUBLE_EQ(Val("  1 2 3abc"), 123);
    EXPECT_DOUBLE_EQ(Val("12.5.6"), 12.5);
    EXPECT_DOUBLE_EQ(Val("-3e2x"), -300);
    EXPECT_DOUBLE_EQ(Val("1e"), 1);
    EXPECT_DOUBLE_EQ(Val("abc"), 0);
    EXPECT_DOUBLE_EQ(Val(""), 0);
    EXPECT_DOUBLE_EQ(Val("&HFF"), 255);
    EXPECT_DOUBLE_EQ(Val("&HFFFF"), -1); // a 16-bit value reads as Integer
    EXPECT_DOUBLE_EQ(Val("&H10000"), 65536);
    EXPECT_DOUBLE_EQ(Val("&O17"), 15);
    EXPECT_DOUBLE_EQ(Val("1.0"), 1);
}

TEST(VbString, IsNumericAcceptsWhatCDblAccepts)
{
    EXPECT_TRUE(IsNumeric(" 12 "));
    EXPECT_TRUE(IsNumeric("-1.5e3"));
    EXPECT_TRUE(IsNumeric("&H1F"));
    EXPECT_TRUE(IsNumeric("1,000.25"));
    EXPECT_FALSE(IsNumeric(""));
    EXPECT_FALSE(IsNumeric("1a"));
    EXPECT_FALSE(IsNumeric("e5"));
    EXPECT_FALSE(IsNumeric("."));
}

TEST(VbString, RadixTextIsALongsBitsExceptForCInt)
{
    EXPECT_EQ(parseNumber("&HFFFF"), 65535.0);
    EXPECT_EQ(parseNumber(" &H8000 "), 32768.0);
    EXPECT_EQ(parseNumber("&HFFFFFFFF"), -1.0);
    EXPECT_EQ(parseNumber("&O177777"), 65535.0);
    EXPECT_EQ(parseIntegerBits("&HFFFF"), qint16(-1));
    EXPECT_EQ(parseIntegerBits("&h8000"), qint16(-32768));
    EXPECT_EQ(parseIntegerBits("&H7F"), qint16(127));
    EXPECT_FALSE(parseIntegerBits("&H10000").has_value()); // too wide: CInt overflows
    EXPECT_FALSE(parseIntegerBits("65535").has_value());   // decimal text is no bit pattern
}

TEST(VbString, ANumberTooLargeForADoubleIsAnOverflowNotAMismatch)
{
    bool overflow = false;
    EXPECT_FALSE(parseNumber("1E309", &overflow).has_value());
    EXPECT_TRUE(overflow);
    EXPECT_FALSE(parseNumber("-1e400", &overflow).has_value());
    EXPECT_TRUE(overflow);
    EXPECT_FALSE(parseNumber("1E30x", &overflow).has_value());
    EXPECT_FALSE(overflow);
    EXPECT_EQ(parseNumber("1E308", &overflow), 1e308);
    EXPECT_FALSE(overflow);
    try {
        Variant("1E309").toDouble();
        ADD_FAILURE() << "no error";
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 6);
    }
}

TEST(VbString, TrimRemovesSpacesOnly)
{
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(Trim("\ta\t"), "\ta\t");
    EXPECT_EQ(LTrim("  x "), "x ");
    EXPECT_EQ(RTrim("  x "), "  x");
}

TEST(VbString, SplitEdgeCases)
{
    EXPECT_TRUE(Split("", ",").isEmpty());
    EXPECT_EQ(Split("a,,b", ","), (QStringList{"a", "", "b"}));
    EXPECT_EQ(Split("a,b,c", ",", 2), (QStringList{"a", "b,c"}));
    EXPECT_EQ(Split("aXbxc", "x", -1, true), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(Split("abc", ""), (QStringList{"abc"}));
    EXPECT_EQ(Split("a b"), (QStringList{"a", "b"}));
}

TEST(VbString, MidLeftRightInStr)
{
    EXPECT_EQ(Mid("hello", 2, 3), "ell");
    EXPECT_EQ(Mid("hello", 4), "lo");
    EXPECT_EQ(Mid("hello", 9), "");
    EXPECT_EQ(Mid("hello", 5, 100), "o");
    EXPECT_THROW(Mid("hello", 0), VbError);
    EXPECT_EQ(Left("abc", 10), "abc");
    EXPECT_EQ(Right("abc", 2), "bc");
    EXPECT_THROW(Left("abc", -1), VbError);
    EXPECT_EQ(InStr("abcabc", "c"), 3);
    EXPECT_EQ(InStr(4, "abcabc", "c"), 6);
    EXPECT_EQ(InStr(1, "ABC", "b", true), 2);
    EXPECT_EQ(InStr(1, "ABC", "b", false), 0);
    EXPECT_EQ(InStr(2, "abc", ""), 2);
    EXPECT_EQ(InStr("", "a"), 0);
    EXPECT_EQ(InStrRev("abcabc", "b"), 5);
    EXPECT_EQ(InStrRev("abcabc", "b", 4), 2);
}

TEST(VbString, NumberText)
{
    EXPECT_EQ(formatDouble(100), "100");
    EXPECT_EQ(formatDouble(-2.25), "-2.25");
    EXPECT_EQ(formatDouble(1.5e-7), "1.5E-07");
    EXPECT_EQ(formatDouble(1e100), "1E+100");
    EXPECT_EQ(formatSingle(0.1f), "0.1");
    EXPECT_DOUBLE_EQ(roundHalfEven(4.5), 4);
    EXPECT_DOUBLE_EQ(roundHalfEven(5.5), 6);
}
