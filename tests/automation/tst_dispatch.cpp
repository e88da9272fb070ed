#include "Dispatch.h"
#include "PendingError.h"

#include <gtest/gtest.h>

namespace {
class Sample : public DispatchObject<Sample>
{
public:
    static void describe(DispatchTable<Sample> &t)
    {
        t.name("Sample");
        t.method("Concat", &Sample::Concat);
        t.method("Bump", &Sample::Bump);
        t.method("Swap", &Sample::Swap);
        t.property("Caption", &Sample::caption, &Sample::setCaption);
        t.get("Twice", &Sample::Twice);
    }

    QString Concat(const QString &a, const QString &b) { return a + b; }
    void Bump(int &value) { ++value; }
    void Swap(QString &a, Variant &b)
    {
        QString old = a;
        a = b.toString();
        b = Variant(old);
    }
    QString caption() const { return m_caption; }
    void setCaption(const QString &c) { m_caption = c; }
    double Twice(double x) const { return x * 2; }

private:
    QString m_caption = "start";
};
} // namespace

TEST(Dispatch, MembersByNameWithoutCase)
{
    Sample s;
    EXPECT_EQ(s.call("concat", {Variant("a"), Variant(1)}).toString(), "a1");
    EXPECT_EQ(s.get("CAPTION").toString(), "start");
    s.let("caption", Variant("new"));
    EXPECT_EQ(s.get("Caption").toString(), "new");
    EXPECT_EQ(s.call("twice", {Variant("2.5")}).toDouble(), 5.0);
    EXPECT_TRUE(s.hasMember("BUMP"));
    EXPECT_FALSE(s.hasMember("Other"));
    EXPECT_EQ(s.typeName(), "Sample");
}

TEST(Dispatch, ByRefArgumentsAreWrittenBack)
{
    Sample s;
    std::vector<Variant> args{Variant(41)};
    s.invoke("Bump", CallKind::Method, args);
    EXPECT_EQ(args[0].toLong(), 42);
    std::vector<Variant> pair{Variant("left"), Variant("right")};
    s.invoke("Swap", CallKind::Method, pair);
    EXPECT_EQ(pair[0].toString(), "right");
    EXPECT_EQ(pair[1].toString(), "left");
}

TEST(Dispatch, ErrorsForUnknownMembersAndArgumentCounts)
{
    Sample s;
    try {
        s.call("Missing");
        FAIL();
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 438);
        EXPECT_EQ(e.description, "Object doesn't support this property or method");
    }
    try {
        s.call("Concat", {Variant(1), Variant(2), Variant(3)});
        FAIL();
    } catch (const VbError &e) {
        EXPECT_EQ(e.number, 450);
    }
    // A missing optional argument arrives as Empty.
    EXPECT_EQ(s.call("Concat", {Variant("only")}).toString(), "only");
    // A read-only property refuses a let.
    EXPECT_THROW(s.let("Twice", Variant(1)), VbError);
}

TEST(PendingError, CapturesAndClears)
{
    try {
        throw VbError(13);
    } catch (...) {
        PendingError::capture();
    }
    ASSERT_TRUE(PendingError::isPending());
    EXPECT_EQ(PendingError::current().description, "Type mismatch");
    PendingError::clear();
    EXPECT_FALSE(PendingError::isPending());
    try {
        throw std::runtime_error("boom");
    } catch (...) {
        PendingError::capture();
    }
    EXPECT_EQ(PendingError::current().number, 51);
    PendingError::clear();
}
