// The inline path for whole-number operands gives what the general operator rules give:
// the same type (widening Integer to Long to Double at the same edges) and the same value,
// and it leaves to them whatever it does not take (Mod by zero, other operators).
#include "Operators.h"
#include "VbError.h"

#include <gtest/gtest.h>

namespace {

std::vector<Variant> wholeOperands()
{
    std::vector<Variant> out;
    for (qint16 v : {qint16(-32768), qint16(-7), qint16(-1), qint16(0), qint16(1), qint16(3), qint16(32767)})
        out.push_back(Variant::fromInteger(v));
    for (qint32 v : {qint32(-2147483647 - 1), qint32(-65536), qint32(-1), qint32(0), qint32(2), qint32(32768),
                     qint32(2147483647)})
        out.push_back(Variant::fromLong(v));
    return out;
}

TEST(WholeOperators, AgreeWithTheGeneralRules)
{
    const Op ops[] = {Op::Add, Op::Sub, Op::Mul, Op::Mod, Op::Eq, Op::Ne, Op::Lt, Op::Gt, Op::Le, Op::Ge};
    const std::vector<Variant> values = wholeOperands();
    int taken = 0;
    for (Op op : ops) {
        for (const Variant &a : values) {
            for (const Variant &b : values) {
                SCOPED_TRACE(testing::Message() << "op " << int(op) << ": " << a.typeName().toStdString() << " "
                                                << a.toText().toStdString() << ", " << b.typeName().toStdString()
                                                << " " << b.toText().toStdString());
                qint64 n = 0;
                const Operators::Whole w = Operators::whole(op, a, b, n);
                if (op == Op::Mod && b.toDouble() == 0) {
                    EXPECT_EQ(w, Operators::Whole::None);
                    EXPECT_THROW(Operators::binary(op, a, b), VbError);
                    continue;
                }
                ASSERT_NE(w, Operators::Whole::None);
                ++taken;
                const Variant fast = Operators::wholeValue(w, n);
                const Variant general = Operators::binary(op, a, b);
                EXPECT_EQ(fast.type(), general.type());
                EXPECT_EQ(fast.toText(), general.toText());
            }
        }
    }
    EXPECT_EQ(taken, 10 * 14 * 14 - 14 * 2); // every pair but Mod by the two zeros
}

TEST(WholeOperators, LeaveOtherOperandsAndOperatorsToTheGeneralRules)
{
    const struct {
        Op op;
        Variant a, b;
    } rows[] = {
        {Op::Add, Variant::fromByte(1), Variant::fromInteger(1)},
        {Op::Add, Variant(1.5), Variant::fromInteger(1)},
        {Op::Add, Variant(QStringLiteral("1")), Variant::fromLong(1)},
        {Op::Add, Variant(true), Variant::fromInteger(1)},
        {Op::Add, Variant(), Variant::fromInteger(1)},
        {Op::Add, Variant::null(), Variant::fromLong(1)},
        {Op::Add, Variant::fromCurrency(10000), Variant::fromLong(1)},
        {Op::Div, Variant::fromInteger(6), Variant::fromInteger(3)},
        {Op::IntDiv, Variant::fromInteger(6), Variant::fromInteger(3)},
        {Op::Pow, Variant::fromInteger(2), Variant::fromInteger(3)},
        {Op::Concat, Variant::fromInteger(2), Variant::fromInteger(3)},
        {Op::And, Variant::fromInteger(2), Variant::fromInteger(3)},
    };
    for (const auto &row : rows) {
        qint64 n = 0;
        EXPECT_EQ(Operators::whole(row.op, row.a, row.b, n), Operators::Whole::None) << int(row.op);
    }
}

} // namespace
