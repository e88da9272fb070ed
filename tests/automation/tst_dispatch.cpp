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

namespace {
class Strict : public DispatchObject<Strict>
{
public:
    static void describe(DispatchTable<Strict> &t)
    {
        t.name("Strict");
        t.argumentsRequired();
        t.method("Join", &Strict::Join, Optional{1});
        t.method("Both", &Strict::Both);
        t.get("Item", &Strict::Item);
        t.property("Caption", &Strict::caption, &Strict::setCaption);
    }
    QString Join(const QString &a, const QString &b, const Variant &sep)
    {
        return a + (sep.isEmpty() ? QStringLiteral("-") : sep.toString()) + b;
    }
    int Both(int a, int b) { return a + b; }
    QString Item(int index) const { return QString::number(index); }
    QString caption() const { return m_caption; }
    void setCaption(const QString &c) { m_caption = c; }

private:
    QString m_caption;
};

qint32 errorOf(Object &o, const char *member, std::vector<Variant> args, CallKind kind = CallKind::Method)
{
    try {
        o.invoke(QString::fromLatin1(member), kind, args);
    } catch (const VbError &e) {
        return e.number;
    }
    return 0;
}
} // namespace

// A table that requires its arguments raises 449 for a left-out parameter that is not
// optional; too many arguments stay 450; a table that does not ask keeps VB's Empty.
TEST(Dispatch, ArgumentNotOptional)
{
    Strict s;
    EXPECT_EQ(s.call("Join", {Variant("a"), Variant("b")}).toString(), "a-b");
    EXPECT_EQ(s.call("Join", {Variant("a"), Variant("b"), Variant("+")}).toString(), "a+b");
    EXPECT_EQ(errorOf(s, "Join", {Variant("a")}), 449);
    EXPECT_EQ(errorOf(s, "Join", {}), 449);
    EXPECT_EQ(errorOf(s, "Join", {Variant("a"), Variant("b"), Variant("c"), Variant("d")}), 450);
    EXPECT_EQ(errorOf(s, "Both", {Variant(1)}), 449);
    EXPECT_EQ(s.call("Both", {Variant(1), Variant(2)}).toLong(), 3);
    EXPECT_EQ(errorOf(s, "Item", {}, CallKind::PropertyGet), 449);
    EXPECT_EQ(s.get("Caption").toString(), "");
    s.let("Caption", Variant("x"));
    EXPECT_EQ(s.get("caption").toString(), "x");

    Sample lenient;
    EXPECT_EQ(lenient.call("Concat", {Variant("a")}).toString(), "a");
}
