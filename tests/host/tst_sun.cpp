#include "HostTestSupport.h"

#include "host/HostClock.h"
#include "host/HostGlobals.h"
#include "host/SunriseSunset.h"
#include "core/Logging.h"

#include "automation/VbDate.h"

#include <cmath>
#include <limits>

using namespace SunriseSunset;

namespace {

// Local clock times as the NOAA solar calculator publishes them (to the minute).
struct Published {
    const char *place;
    double latitude;  // north positive
    double longitude; // WEST positive
    int year, month, day;
    int timeZone; // hours east of UTC
    bool dst;
    int sunriseHour, sunriseMinute, sunsetHour, sunsetMinute;
};

const Published kPublished[] = {
    {"London", 51.5074, 0.1278, 2024, 6, 21, 0, true, 4, 43, 21, 21},
    {"London", 51.5074, 0.1278, 2024, 12, 21, 0, false, 8, 4, 15, 53},
    {"New York", 40.7128, 74.0060, 2024, 6, 21, -5, true, 5, 25, 20, 31},
    {"New York", 40.7128, 74.0060, 2024, 12, 21, -5, false, 7, 17, 16, 32},
    {"Sydney", -33.8688, -151.2093, 2024, 12, 21, 10, true, 5, 41, 20, 5},
    {"Sydney", -33.8688, -151.2093, 2024, 6, 21, 10, false, 7, 0, 16, 54},
};

double minutesOf(int hour, int minute)
{
    return hour * 60.0 + minute;
}

double at(int year, int month, int day, int hour, int minute)
{
    return VbDate::dateSerial(year, month, day) + VbDate::timeSerial(hour, minute, 0);
}

class SunTest : public HostTest
{
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        gSunriseText.clear();
        gSunsetText.clear();
        m_before = sent();
    }
    // Log entries made since the test began.
    int logged() const { return sent() - m_before; }
    void TearDown() override
    {
        HostClock::setSource({});
        gSunriseText.clear();
        gSunsetText.clear();
        HostTest::TearDown();
    }
    void pinClock(double date) { HostClock::setSource([date] { return date; }); }
    bool night(const Variant &offset)
    {
        Variant o = offset;
        return m_hs->NightTime(o).toBool();
    }
    int m_before = 0;
};

} // namespace

TEST_F(SunTest, JulianDayOfCalendarDates)
{
    EXPECT_DOUBLE_EQ(CalcJD(2000, 1, 1), 2451544.5);
    EXPECT_DOUBLE_EQ(CalcJD(2026, 12, 5), 2461379.5);
    // January and February count as months 13 and 14 of the year before.
    EXPECT_DOUBLE_EQ(CalcJD(2024, 2, 29) + 1, CalcJD(2024, 3, 1));
    EXPECT_DOUBLE_EQ(CalcJD(2023, 12, 31) + 1, CalcJD(2024, 1, 1));
    EXPECT_DOUBLE_EQ(CalcJD(2100, 2, 28) + 1, CalcJD(2100, 3, 1)) << "2100 is no leap year";
}

TEST_F(SunTest, TimesMatchThePublishedCalculatorWithinAMinute)
{
    for (const Published &p : kPublished) {
        const double rise = SunriseMinutes(p.latitude, p.longitude, p.year, p.month, p.day, p.timeZone, p.dst);
        const double set = SunsetMinutes(p.latitude, p.longitude, p.year, p.month, p.day, p.timeZone, p.dst);
        EXPECT_NEAR(rise, minutesOf(p.sunriseHour, p.sunriseMinute), 1.0) << p.place << " " << p.month;
        EXPECT_NEAR(set, minutesOf(p.sunsetHour, p.sunsetMinute), 1.0) << p.place << " " << p.month;
        EXPECT_DOUBLE_EQ(SunriseDay(p.latitude, p.longitude, p.year, p.month, p.day, p.timeZone, p.dst), rise / 1440);
        EXPECT_DOUBLE_EQ(SunsetDay(p.latitude, p.longitude, p.year, p.month, p.day, p.timeZone, p.dst), set / 1440);
    }
    EXPECT_EQ(logged(), 0) << "nothing logged where the sun rises and sets";
}

TEST_F(SunTest, PolarDayAndNightGiveTimesAndOneLogPerPass)
{
    // Tromso: the sun stays up at midsummer and down at midwinter.
    const double dayRise = SunriseMinutes(69.6492, -18.9553, 2024, 6, 21, 1, true);
    const double daySet = SunsetMinutes(69.6492, -18.9553, 2024, 6, 21, 1, true);
    const double nightRise = SunriseMinutes(69.6492, -18.9553, 2024, 12, 21, 1, false);
    const double nightSet = SunsetMinutes(69.6492, -18.9553, 2024, 12, 21, 1, false);
    for (double m : {dayRise, daySet, nightRise, nightSet}) {
        ASSERT_TRUE(std::isfinite(m));
        EXPECT_GE(m, 0.0);
        EXPECT_LT(m, 1440.0);
    }
    // Polar night: rise and set meet at solar noon (about 11:42 local there);
    // polar day: at solar midnight (about 00:46 local summer time).
    EXPECT_NEAR(nightRise, nightSet, 2.0);
    EXPECT_NEAR(nightRise, 11 * 60 + 42, 3.0);
    EXPECT_NEAR(dayRise, daySet, 2.0);
    EXPECT_NEAR(dayRise, 46, 3.0);
    EXPECT_EQ(logged(), 8) << "each of the two passes of the four computations logs its hour angle";
}

TEST_F(SunTest, MidnightSunKeepsADayRoundTheClockAndPolarNightADayOfNoLength)
{
    EXPECT_TRUE(SunUpAllDay(69.6492, -18.9553, 2024, 6, 21));
    EXPECT_FALSE(SunUpAllDay(69.6492, -18.9553, 2024, 12, 21));
    EXPECT_FALSE(SunUpAllDay(51.5074, 0.1278, 2024, 6, 21));
    EXPECT_TRUE(SunUpAllDay(-77.85, -166.67, 2024, 12, 21)) << "the southern summer";

    double lat = 69.6492, lon = -18.9553;
    qint16 offset = -1;
    bool dst = true;
    pinClock(at(2024, 6, 21, 12, 0));
    m_hs->ComputeSunriseAndSunset(lat, lon, offset, dst);
    EXPECT_EQ(gSunriseText, "12:00 AM");
    EXPECT_EQ(gSunsetText, "11:59 PM");
    EXPECT_FALSE(night(Variant(0))) << "midday under the midnight sun";
    pinClock(at(2024, 6, 21, 23, 30));
    EXPECT_FALSE(night(Variant(0))) << "and half an hour before midnight";
    dst = false;
    pinClock(at(2024, 12, 21, 12, 0));
    m_hs->ComputeSunriseAndSunset(lat, lon, offset, dst);
    EXPECT_EQ(gSunriseText, gSunsetText);
    EXPECT_EQ(gSunriseText, "11:42 AM");
}

TEST_F(SunTest, LatitudeIsHeldInsideThePolarCircleLimit)
{
    EXPECT_DOUBLE_EQ(SunriseMinutes(90, 0, 2024, 3, 1, 0, false), SunriseMinutes(89.8, 0, 2024, 3, 1, 0, false));
    EXPECT_DOUBLE_EQ(SunsetMinutes(-95, 0, 2024, 3, 1, 0, false), SunsetMinutes(-89.8, 0, 2024, 3, 1, 0, false));
}

TEST_F(SunTest, TimesWrapIntoOneDay)
{
    // Sunrise in Sydney is 19:xx UTC the day before: shifted by -10 h it
    // would fall below 0 without wrapping.
    const double utcRise = SunriseMinutes(-33.8688, -151.2093, 2024, 6, 21, 0, false);
    EXPECT_NEAR(utcRise, 21 * 60, 30.0);
    const double early = SunriseMinutes(-33.8688, -151.2093, 2024, 6, 21, -22, false);
    EXPECT_NEAR(early, utcRise - 22 * 60 + 1440, 1e-6);
}

TEST_F(SunTest, TimeOfDayText)
{
    EXPECT_EQ(FormatTimeOfDay(0.0), "12:00 AM");
    EXPECT_EQ(FormatTimeOfDay(0.5), "12:00 PM");
    EXPECT_EQ(FormatTimeOfDay(VbDate::timeSerial(6, 5, 59)), "6:05 AM") << "minutes are cut, not rounded";
    EXPECT_EQ(FormatTimeOfDay(VbDate::timeSerial(23, 59, 59) + 0.9 / 86400), "12:00 AM");
    EXPECT_EQ(FormatTimeOfDay(45000.75), "6:00 PM") << "a whole date shows its time";
}

TEST_F(SunTest, ComputeSunriseAndSunsetKeepsTodaysTextsForScripts)
{
    pinClock(at(2024, 6, 21, 15, 0));
    double lat = 40.7128, lon = 74.0060;
    qint16 offset = 5;
    bool dst = true;
    m_hs->ComputeSunriseAndSunset(lat, lon, offset, dst);
    EXPECT_EQ(gSunriseText, "5:25 AM");
    EXPECT_EQ(gSunsetText, "8:30 PM");
    EXPECT_NEAR(m_hs->SunriseDt().toDate(), VbDate::timeSerial(5, 25, 0), 1.0 / 1440);
    EXPECT_EQ(m_hs->SunsetDt().type(), Variant::Date);
    EXPECT_NEAR(m_hs->SunsetDt().toDate(), VbDate::timeSerial(20, 30, 0), 1.0 / 1440);
    EXPECT_FALSE(night(Variant(0))) << "15:00 is day";

    std::vector<Variant> args{Variant(51.5074), Variant(0.1278), Variant(0), Variant(false)};
    pinClock(at(2024, 12, 21, 9, 0));
    m_hs->invoke("ComputeSunriseAndSunset", CallKind::Method, args);
    EXPECT_EQ(gSunriseText, "8:04 AM");
    EXPECT_EQ(gSunsetText, "3:53 PM");
    EXPECT_EQ(logged(), 0);
}

TEST_F(SunTest, SunriseDtOfATextThatIsNoTimeIsTheZeroDateAndLogged)
{
    gSunriseText = QStringLiteral("6:45 AM");
    EXPECT_DOUBLE_EQ(m_hs->SunriseDt().toDate(),
                     VbDate::timeSerial(6, 45, 0));
    gSunsetText = QStringLiteral("Unknown");
    const Variant set = m_hs->SunsetDt();
    EXPECT_EQ(set.type(), Variant::Date);
    EXPECT_DOUBLE_EQ(set.toDate(), 0.0);
    EXPECT_EQ(logged(), 1);
}

TEST_F(SunTest, NightTimeAroundTheKeptTimes)
{
    gSunriseText = QStringLiteral("6:00 AM");
    gSunsetText = QStringLiteral("6:00 PM");
    pinClock(at(2026, 12, 7, 12, 0));
    EXPECT_FALSE(night(Variant(30)));
    pinClock(at(2026, 12, 7, 0, 0));
    EXPECT_TRUE(night(Variant(30)));
    // A positive offset lengthens the day at both ends, a negative one shortens it.
    pinClock(at(2026, 12, 7, 5, 45));
    EXPECT_FALSE(night(Variant(30)));
    EXPECT_TRUE(night(Variant(0)));
    pinClock(at(2026, 12, 7, 18, 29));
    EXPECT_FALSE(night(Variant("30")));
    EXPECT_TRUE(night(Variant(-30)));
    // The exact edges of the day count as night.
    pinClock(at(2026, 12, 7, 5, 30));
    EXPECT_TRUE(night(Variant(30)));
    pinClock(at(2026, 12, 7, 18, 30));
    EXPECT_TRUE(night(Variant(30)));
    pinClock(at(2026, 12, 7, 6, 0));
    EXPECT_TRUE(night(Variant()));
    EXPECT_EQ(logged(), 0);
}

TEST_F(SunTest, NightTimeOfADayAcrossMidnightOrOfNoLength)
{
    // Times of another zone can put sunset before sunrise on the clock.
    gSunriseText = QStringLiteral("8:00 PM");
    gSunsetText = QStringLiteral("4:00 AM");
    pinClock(at(2026, 12, 7, 23, 0));
    EXPECT_FALSE(night(Variant(0)));
    pinClock(at(2026, 12, 7, 3, 0));
    EXPECT_FALSE(night(Variant(0)));
    pinClock(at(2026, 12, 7, 12, 0));
    EXPECT_TRUE(night(Variant(0)));
    EXPECT_FALSE(night(Variant(500))) << "an offset past the whole night leaves none";
    gSunriseText = QStringLiteral("6:00 AM");
    gSunsetText = QStringLiteral("6:00 PM");
    EXPECT_TRUE(night(Variant(-400))) << "an offset past the whole day leaves none";
    EXPECT_EQ(logged(), 0);
}

TEST_F(SunTest, NightTimeOfTextsThatAreNoTimesIsFalseWithOneLogEntry)
{
    pinClock(at(2026, 12, 7, 0, 0));
    EXPECT_FALSE(night(Variant(0))) << "nothing received yet";
    EXPECT_EQ(logged(), 1);
    gSunriseText = QStringLiteral("6:00 AM");
    gSunsetText = QStringLiteral("dusk");
    EXPECT_FALSE(night(Variant(0)));
    EXPECT_EQ(logged(), 2);
}

// A position from outside the globe (or no number at all) is refused with one log entry under
// the member's name, and the kept texts stay; a far-off time still returns at once.
TEST_F(SunTest, PositionOffTheGlobeIsLoggedAndKeepsTheTexts)
{
    pinClock(at(2024, 6, 21, 15, 0));
    gSunriseText = QStringLiteral("6:00 AM");
    gSunsetText = QStringLiteral("6:00 PM");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double latitude, longitude;
    } bad[] = {{51.5, 1e15}, {51.5, -1e300}, {51.5, 180.01}, {90.5, 0.0}, {-91.0, 0.0}, {51.5, inf}, {nan, 0.0}, {51.5, nan}};
    int expectedLogs = 0;
    for (const auto &b : bad) {
        std::vector<Variant> args{Variant(b.latitude), Variant(b.longitude), Variant(0), Variant(false)};
        m_hs->invoke("ComputeSunriseAndSunset", CallKind::Method, args);
        ++expectedLogs;
        EXPECT_EQ(gSunriseText, "6:00 AM") << b.latitude << " " << b.longitude;
        EXPECT_EQ(gSunsetText, "6:00 PM");
        EXPECT_EQ(logged(), expectedLogs);
    }
    EXPECT_TRUE(PendingXapBodies().last().contains(QStringLiteral("ComputeSunriseAndSunset")));

    // The edges of the globe are positions like any other.
    for (double edge : {180.0, -180.0}) {
        double lat = 51.5, lon = edge;
        qint16 offset = 0;
        bool dst = false;
        m_hs->ComputeSunriseAndSunset(lat, lon, offset, dst);
        EXPECT_EQ(logged(), expectedLogs);
        EXPECT_NE(gSunriseText, "6:00 AM");
    }

    // The mean longitude of a time millions of years away is reduced at once, and still
    // lies in 0..360.
    const double l0 = CalcGeomMeanLongSun(1e12);
    EXPECT_GE(l0, 0.0);
    EXPECT_LT(l0, 360.0);
    EXPECT_NEAR(CalcGeomMeanLongSun(0.5), std::fmod(280.46646 + 0.5 * (36000.76983 + 0.0003032 * 0.5), 360.0), 1e-9);
    EXPECT_NEAR(CalcGeomMeanLongSun(-0.01), 360.0 + 280.46646 - 0.01 * (36000.76983 - 0.0003032 * 0.01), 1e-9);
}
