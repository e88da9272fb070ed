#include "VbDate.h"
#include "Variant.h"

#include <gtest/gtest.h>

using namespace VbDate;

TEST(VbDate, GeneralDateText)
{
    double d = fromDateTime(QDateTime(QDate(2026, 12, 6), QTime(21, 5, 9)));
    EXPECT_EQ(formatGeneralDate(d), "12/6/2026 9:05:09 PM");
    EXPECT_EQ(formatGeneralDate(fromDate(QDate(2026, 1, 2))), "1/2/2026");
    EXPECT_EQ(formatGeneralDate(0.5), "12:00:00 PM");
    EXPECT_EQ(formatGeneralDate(0), "12:00:00 AM");
    EXPECT_EQ(formatGeneralDate(fromDateTime(QDateTime(QDate(2026, 3, 1), QTime(0, 0, 1)))), "3/1/2026 12:00:01 AM");
    EXPECT_EQ(Variant::fromDate(d).toString(), "12/6/2026 9:05:09 PM");
}

// Texts VB gives for these day numbers.
TEST(VbDate, GeneralDateTextOfKnownDayNumbers)
{
    EXPECT_EQ(formatGeneralDate(3.34), "1/2/1900 8:09:36 AM");
    EXPECT_EQ(formatGeneralDate(365.0), "12/30/1900");
    EXPECT_EQ(formatGeneralDate(1461.5), "12/31/1903 12:00:00 PM");
    EXPECT_EQ(formatGeneralDate(-49192.24), "4/24/1765 5:45:36 AM");
    EXPECT_EQ(formatGeneralDate(-657434.0), "1/1/100");
    EXPECT_EQ(formatGeneralDate(2958465.0), "12/31/9999");
    EXPECT_EQ(Variant::fromDate(0).toString(), "12:00:00 AM");
    EXPECT_EQ(*parseGeneralDate("1/1/100"), -657434.0);
    EXPECT_EQ(*parseGeneralDate("12:00:00 AM"), 0.0);
}

TEST(VbDate, GeneralDateRoundTrips)
{
    for (double d : {46000.75, 46000.0, 0.0, 0.25, -657434.0, 36526.999988425925, -1.5, 2.0 / 86400}) {
        auto back = parseGeneralDate(formatGeneralDate(d));
        ASSERT_TRUE(back.has_value()) << formatGeneralDate(d).toStdString();
        EXPECT_NEAR(*back, d, 1.0 / 86400 / 2) << formatGeneralDate(d).toStdString();
    }
}

TEST(VbDate, ParsesOtherForms)
{
    auto iso = parseGeneralDate("2026-12-06 21:05:09");
    ASSERT_TRUE(iso);
    EXPECT_EQ(formatGeneralDate(*iso), "12/6/2026 9:05:09 PM");
    EXPECT_EQ(formatGeneralDate(*parseGeneralDate("12:00 AM")), "12:00:00 AM");
    EXPECT_EQ(formatGeneralDate(*parseGeneralDate("13:30")), "1:30:00 PM");
    EXPECT_FALSE(parseGeneralDate("2/30/2026"));
    EXPECT_FALSE(parseGeneralDate("13:00 PM"));
    EXPECT_FALSE(parseGeneralDate("hello"));
    EXPECT_FALSE(parseGeneralDate(""));
}

TEST(VbDate, NegativeDatesCountTimeForward)
{
    // -1.25 is 29 December 1899, 6 AM: the fraction is not subtracted.
    QDateTime dt = toDateTime(-1.25);
    EXPECT_EQ(dt.date(), QDate(1899, 12, 29));
    EXPECT_EQ(dt.time(), QTime(6, 0));
    EXPECT_DOUBLE_EQ(fromDateTime(dt), -1.25);
}

TEST(VbDate, SerialArithmeticRollsOver)
{
    EXPECT_EQ(formatGeneralDate(dateSerial(2026, 13, 1)), "1/1/2027");
    EXPECT_EQ(formatGeneralDate(dateSerial(2026, 3, 0)), "2/28/2026");
    EXPECT_EQ(formatGeneralDate(dateSerial(2026, 0, 15)), "12/15/2025");
    EXPECT_EQ(formatGeneralDate(dateSerial(99, 1, 1)), "1/1/1999");
    EXPECT_EQ(formatGeneralDate(timeSerial(25, 0, 0)), "12/31/1899 1:00:00 AM");
    EXPECT_EQ(formatGeneralDate(timeSerial(0, 90, 0)), "1:30:00 AM");
}
