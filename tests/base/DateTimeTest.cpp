#include "base/DateTime.h"

#include <gtest/gtest.h>

#include <ctime>

#include "support/ZoneAndClock.h"

TEST(DateTimeTest, EncodeDecodeRoundTripAcrossCalendar) {
    struct Case {
        int y, mo, d, h, mi, s, ms;
    };
    const Case cases[] = {{1899, 12, 30, 0, 0, 0, 0}, {1899, 12, 29, 6, 0, 0, 0},
                          {1, 1, 1, 0, 0, 0, 0},       {9999, 12, 31, 23, 59, 59, 999},
                          {2000, 2, 29, 12, 0, 0, 1},  {2026, 12, 7, 14, 3, 7, 45},
                          {1994, 11, 6, 8, 49, 37, 0}, {1900, 3, 1, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        TDateTime value = 0;
        ASSERT_TRUE(TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms, value)) << c.y;
        TDateTimeParts p = DecodeDateTime(value);
        EXPECT_EQ(p.Year, c.y);
        EXPECT_EQ(p.Month, c.mo);
        EXPECT_EQ(p.Day, c.d);
        EXPECT_EQ(p.Hour, c.h);
        EXPECT_EQ(p.Minute, c.mi);
        EXPECT_EQ(p.Second, c.s);
        EXPECT_EQ(p.MSec, c.ms) << c.y << "-" << c.mo << "-" << c.d;
    }
}

// Day after day through a whole 400-year cycle of leap rules and a little beyond, each
// decoded day one after the one before, from the last of a month to the first of the next.
TEST(DateTimeTest, DecodesEveryDayOfAGregorianCycle) {
    int year = 1999, month = 12, day = 31;
    const TDateTime first = EncodeDateTime(year, month, day, 13, 14, 15, 16);
    for (int n = 0; n <= 146097 + 366; ++n) {
        const TDateTimeParts p = DecodeDateTime(first + n);
        ASSERT_EQ(p.Year, year) << n;
        ASSERT_EQ(p.Month, month) << n;
        ASSERT_EQ(p.Day, day) << n;
        ASSERT_EQ(p.Hour * 10000 + p.Minute * 100 + p.Second, 131415) << n;
        if (++day > DaysInMonth(year, month)) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
}

// The log's zone offset is looked up by the wall clock read as UTC: the same second as the
// library's timegm, on every day of a leap cycle and at the ends of the calendar.
TEST(DateTimeTest, SecondsSince1970AgreeWithTheLibrary) {
    auto libraryOf = [](const TDateTimeParts& AParts) {
        std::tm tm{};
        tm.tm_year = AParts.Year - 1900;
        tm.tm_mon = AParts.Month - 1;
        tm.tm_mday = AParts.Day;
        tm.tm_hour = AParts.Hour;
        tm.tm_min = AParts.Minute;
        tm.tm_sec = AParts.Second;
        return static_cast<std::int64_t>(timegm(&tm));
    };
    const TDateTime first = EncodeDateTime(1899, 12, 31, 23, 59, 58);
    for (int n = 0; n <= 146097 + 366; ++n) { // each day at another second
        const TDateTimeParts p = DecodeDateTime(first + n + n % 86400 / 86400.0);
        ASSERT_EQ(SecondsSince1970(p), libraryOf(p)) << n;
    }
    for (TDateTime edge : {EncodeDateTime(1, 1, 1), EncodeDateTime(9999, 12, 31, 23, 59, 59),
                           EncodeDateTime(1970, 1, 1), EncodeDateTime(1969, 12, 31, 23, 59, 59)})
        EXPECT_EQ(SecondsSince1970(DecodeDateTime(edge)), libraryOf(DecodeDateTime(edge)));
    TDateTimeParts invalid = DecodeDateTime(EncodeDateTime(2026, 2, 28));
    invalid.Day = 29;
    EXPECT_FALSE(SecondsSince1970(invalid));
    invalid.Year = 0;
    EXPECT_FALSE(SecondsSince1970(invalid));
}

TEST(DateTimeTest, KnownDayNumbersAndWeekdays) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29), -1.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1), 36526.0);
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(1994, 11, 6)).DayOfWeek, 0);  // Sunday
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(2026, 12, 7)).DayOfWeek, 1);  // Monday
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(2027, 1, 1)).DayOfWeek, 5);   // Friday
    EXPECT_DOUBLE_EQ(DateOf(EncodeDateTime(2026, 12, 7, 23, 59)), EncodeDateTime(2026, 12, 7));
}

TEST(DateTimeTest, RejectsImpossibleFields) {
    TDateTime v = 0;
    EXPECT_FALSE(TryEncodeDateTime(1995, 2, 29, 0, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29, 0, 0, 0, 0, v));
    EXPECT_TRUE(TryEncodeDateTime(2000, 2, 29, 0, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeDateTime(1994, 11, 6, 8, 49, 60, 0, v));
    EXPECT_FALSE(TryEncodeDateTime(1994, 13, 6, 0, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeDateTime(0, 1, 1, 0, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeDateTime(10000, 1, 1, 0, 0, 0, 0, v));
}

TEST(DateTimeTest, RoundsToNearestMillisecond) {
    TDateTime v = EncodeDateTime(2026, 12, 31, 23, 59, 59, 999) + 0.6 / MSecsPerDay;
    TDateTimeParts p = DecodeDateTime(v);
    EXPECT_EQ(p.Year, 2027);
    EXPECT_EQ(p.Month, 1);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 0);
    EXPECT_EQ(p.MSec, 0);
}

namespace {

// The local time of an instant as the C library gives it.
TDateTime LibraryLocalTime(std::time_t ASecond, int AMSec) {
    std::tm tm{};
    localtime_r(&ASecond, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec, AMSec);
}

std::chrono::system_clock::time_point At(std::time_t ASecond, int AMSec = 0) {
    return std::chrono::system_clock::from_time_t(ASecond) + std::chrono::milliseconds(AMSec);
}

} // namespace

TEST(DateTimeTest, LocalTimesAgreeWithTheLibraryAcrossZonesAndTheirChanges) {
    const std::time_t change = 1774746000; // 2026-03-29 01:00:00 UTC, Berlin to summer time
    // The offsets of recent seconds are kept: each zone first converts the second that the
    // zone before converted last, which must not come with that zone's offset.
    for (const char* zone : {ZoneBerlin, ZoneStJohns, ZoneKolkata, ZoneUtc}) {
        ScopedTimeZone scoped(zone);
        ASSERT_EQ(LocalDateTimeOf(At(change)), LibraryLocalTime(change, 0)) << zone;
        for (std::time_t second = 0; second < 4102444800; second += 7776013) // to 2100
            for (std::time_t step : {0, 1, 3600})
                ASSERT_EQ(LocalDateTimeOf(At(second + step, 999)),
                          LibraryLocalTime(second + step, 999))
                    << zone << " " << second + step;
        (void)LocalDateTimeOf(At(change));
    }
    // Both sides of the change to summer time, each second asked twice.
    ScopedTimeZone berlin(ZoneBerlin);
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(LocalDateTimeOf(At(change - 1, 500)),
                  EncodeDateTime(2026, 3, 29, 1, 59, 59, 500));
        EXPECT_EQ(LocalDateTimeOf(At(change)), EncodeDateTime(2026, 3, 29, 3, 0, 0));
        EXPECT_EQ(UtcOffsetAt(change - 1), 3600);
        EXPECT_EQ(UtcOffsetAt(change), 7200);
    }
    // Before 1970 the library is asked directly.
    EXPECT_EQ(LocalDateTimeOf(At(-86400 * 365)), LibraryLocalTime(-86400 * 365, 0));
}
