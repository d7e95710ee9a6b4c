#include "base/DateTime.h"

#include <gtest/gtest.h>

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
