#include "ClassRegistry.h"
#include "Collection.h"
#include "Dictionary.h"

#include <gtest/gtest.h>

TEST(Dictionary, KeepsInsertionOrderAndIgnoresCaseInTextMode)
{
    Dictionary d(Dictionary::TextCompare);
    d.add(Variant("Beta"), Variant(2));
    d.add(Variant("alpha"), Variant(1));
    d.add(Variant("Gamma"), Variant(3));
    EXPECT_TRUE(d.exists(Variant("BETA")));
    EXPECT_THROW(d.add(Variant("ALPHA"), Variant(9)), VbError);
    d.remove(Variant("beta"));
    ASSERT_EQ(d.count(), 2);
    EXPECT_EQ(d.keyList()[0].toString(), "alpha");
    EXPECT_EQ(d.keyList()[1].toString(), "Gamma");
    EXPECT_EQ(d.item(Variant("gamma")).toLong(), 3);
    d.setItem(Variant("delta"), Variant(4));
    EXPECT_EQ(d.keyList().back().toString(), "delta");
    EXPECT_EQ(d.item(Variant("DELTA")).toLong(), 4);
}

TEST(Dictionary, BinaryModeAndKeyTypes)
{
    Dictionary d;
    d.add(Variant("a"), Variant(1));
    d.add(Variant("A"), Variant(2));
    d.add(Variant(1), Variant("one"));
    d.add(Variant("1"), Variant("text one"));
    EXPECT_EQ(d.count(), 4);
    EXPECT_EQ(d.item(Variant(1.0)).toString(), "one");
    EXPECT_THROW(d.setCompareMode(Dictionary::TextCompare), VbError);
}

TEST(Dictionary, CompareModeReadsBackAsSet)
{
    for (qint32 mode : {0, 1, 2, 1033}) {
        auto obj = ClassRegistry::instance().create("Scripting.Dictionary");
        std::vector<Variant> value{Variant::fromLong(mode)};
        obj->invoke("CompareMode", CallKind::PropertyLet, value);
        EXPECT_EQ(obj->get("CompareMode").toLong(), mode);
        obj->call("Add", {Variant("Key"), Variant(1)});
        EXPECT_EQ(obj->call("Exists", {Variant("KEY")}).toBool(), mode != 0) << mode;
    }
    Dictionary d;
    EXPECT_THROW(d.setCompareMode(-1), VbError);
    EXPECT_EQ(d.compareMode(), Dictionary::BinaryCompare);
    d.setCompareMode(2);
    EXPECT_EQ(d.compareMode(), Dictionary::TextCompare);
}

TEST(Dictionary, TextModeMatchesTheCodePagesCasePairs)
{
    Dictionary d(Dictionary::TextCompare);
    d.add(Variant(QString(QChar(0x178)) + "es"), Variant(1)); // capital Y with diaeresis
    EXPECT_TRUE(d.exists(Variant(QString(QChar(0xFF)) + "ES")));
    d.add(Variant(QString(QChar(0x152))), Variant(2)); // capital OE
    EXPECT_THROW(d.add(Variant(QString(QChar(0x153))), Variant(3)), VbError);
}

TEST(Dictionary, ScriptMembersByName)
{
    auto obj = ClassRegistry::instance().create("scripting.dictionary");
    obj->call("Add", {Variant("k"), Variant("v")});
    EXPECT_EQ(obj->call("Item", {Variant("k")}).toString(), "v");
    // Reading a missing key adds it, as the scripting dictionary does.
    EXPECT_TRUE(obj->call("Item", {Variant("new")}).isEmpty());
    EXPECT_EQ(obj->get("Count").toLong(), 2);
    std::vector<Variant> args{Variant("k"), Variant("w")};
    obj->invoke(QString(), CallKind::PropertyLet, args);
    EXPECT_EQ(obj->call("Items").array().at({0}).toString(), "w");
    try {
        obj->call("Remove", {Variant("missing")});
        FAIL();
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 32811);
    }
    EXPECT_THROW(obj->call("NoSuchMember"), VbError);
}

TEST(Collection, OneBasedKeyedAndErrors)
{
    Collection c;
    c.add(Variant("first"), "One");
    c.add(Variant("second"));
    c.add(Variant("zero"), "Zero", Variant(1), Variant());
    ASSERT_EQ(c.count(), 3);
    EXPECT_EQ(c.item(Variant(1)).toString(), "zero");
    EXPECT_EQ(c.item(Variant("one")).toString(), "first");
    try {
        c.add(Variant("again"), "ONE");
        FAIL();
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 457);
    }
    c.remove(Variant("zero"));
    EXPECT_EQ(c.item(Variant(1)).toString(), "first");
    EXPECT_EQ(c.item(Variant("One")).toString(), "first");
    EXPECT_THROW(c.item(Variant(3)), VbError);
    EXPECT_THROW(c.item(Variant("nope")), VbError);
}

TEST(ClassRegistry, UnknownProgIdIs429)
{
    try {
        ClassRegistry::instance().create("No.Such");
        FAIL();
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 429);
    }
}
