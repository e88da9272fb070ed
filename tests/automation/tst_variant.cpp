#include "Object.h"
#include "VbError.h"
#include "Variant.h"

#include <gtest/gtest.h>

namespace {
qint32 errorOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const VbError &e) {
        return e.number;
    }
    return 0;
}
} // namespace

TEST(Variant, CStrOfNumbersFollowsVb)
{
    EXPECT_EQ(Variant(1.5).toString(), "1.5");
    EXPECT_EQ(Variant(1e15).toString(), "1E+15");
    EXPECT_EQ(Variant(123456789012345.0).toString(), "123456789012345");
    EXPECT_EQ(Variant(0.0001).toString(), "0.0001");
    EXPECT_EQ(Variant(0.00001).toString(), "1E-05");
    EXPECT_EQ(Variant(-0.0).toString(), "0");
    EXPECT_EQ(Variant(1.0 / 3).toString(), "0.333333333333333");
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant::fromInteger(-7).toString(), "-7");
    EXPECT_EQ(Variant::fromCurrency(12345).toString(), "1.2345");
    EXPECT_EQ(Variant::fromCurrency(-5000).toString(), "-0.5");
    EXPECT_EQ(Variant::fromCurrency(20000).toString(), "2");
    EXPECT_EQ(Variant().toString(), "");
    EXPECT_EQ(errorOf([] { Variant::null().toString(); }), 94);
}

TEST(Variant, IntegerConversionsRoundHalvesToEvenAndOverflow)
{
    EXPECT_EQ(Variant(2.5).toLong(), 2);
    EXPECT_EQ(Variant(3.5).toLong(), 4);
    EXPECT_EQ(Variant(-2.5).toLong(), -2);
    EXPECT_EQ(Variant(0.5).toInteger(), 0);
    EXPECT_EQ(Variant(1.5).toInteger(), 2);
    EXPECT_EQ(Variant("  42  ").toLong(), 42);
    EXPECT_EQ(Variant("&HFF").toLong(), 255);
    EXPECT_EQ(Variant("1,000").toLong(), 1000);
    EXPECT_EQ(Variant(true).toLong(), -1);
    EXPECT_EQ(Variant(2147483647.0).toLong(), 2147483647);
    EXPECT_EQ(errorOf([] { Variant(2147483647.5).toLong(); }), 6);
    EXPECT_EQ(errorOf([] { Variant(32767.5).toInteger(); }), 6);
    EXPECT_EQ(errorOf([] { Variant(-32768.6).toInteger(); }), 6);
    EXPECT_EQ(errorOf([] { Variant("abc").toLong(); }), 13);
    EXPECT_EQ(errorOf([] { Variant("").toDouble(); }), 13);
    EXPECT_EQ(errorOf([] { Variant::null().toLong(); }), 94);
    EXPECT_EQ(errorOf([] { Variant(256.0).toByte(); }), 6);
}

TEST(Variant, BooleanConversions)
{
    EXPECT_TRUE(Variant("TRUE").toBool());
    EXPECT_FALSE(Variant("false").toBool());
    EXPECT_TRUE(Variant("2").toBool());
    EXPECT_FALSE(Variant("0").toBool());
    EXPECT_FALSE(Variant().toBool());
    EXPECT_EQ(errorOf([] { Variant("yes").toBool(); }), 13);
}

TEST(Variant, TypeNamesAndVarTypes)
{
    EXPECT_EQ(Variant().typeName(), "Empty");
    EXPECT_EQ(Variant::null().typeName(), "Null");
    EXPECT_EQ(Variant(1).typeName(), "Long");
    EXPECT_EQ(Variant::nothing().typeName(), "Nothing");
    EXPECT_EQ(Variant(QStringList{"a"}).varType(), 8204);
    EXPECT_EQ(Variant::fromDate(1).varType(), 7);
}

TEST(Variant, ArraysAreValuesCopiedOnChange)
{
    Variant a(QStringList{"x", "y"});
    Variant b = a;
    b.arrayMut().at({1}) = Variant("changed");
    EXPECT_EQ(a.array().at({1}).toString(), "y");
    EXPECT_EQ(b.array().at({1}).toString(), "changed");
    EXPECT_EQ(errorOf([&] { a.array().at({2}); }), 9);
}

TEST(VbArray, MultiDimensionalBoundsAndPreserve)
{
    VbArray arr({{1, 3}, {0, 2}}); // (1 To 3, 0 To 1)
    EXPECT_EQ(arr.lbound(1), 1);
    EXPECT_EQ(arr.ubound(1), 3);
    EXPECT_EQ(arr.ubound(2), 1);
    arr.at({3, 1}) = Variant(7);
    arr.resizePreserve({{1, 3}, {0, 4}});
    EXPECT_EQ(arr.at({3, 1}).toLong(), 7);
    EXPECT_EQ(arr.ubound(2), 3);
    EXPECT_EQ(errorOf([&] { arr.resizePreserve({{1, 4}, {0, 4}}); }), 9);
    EXPECT_EQ(errorOf([&] { arr.lbound(3); }), 9);
    arr.fixed = true;
    EXPECT_EQ(errorOf([&] { arr.resizePreserve({{1, 3}, {0, 5}}); }), 10);
}
