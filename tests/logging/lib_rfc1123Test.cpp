#include "logging/lib_rfc1123.h"

#include <gtest/gtest.h>

#include "support/ZoneAndClock.h"

namespace {

const auto kWinter = UtcInstant(2026, 12, 7, 12);
const auto kSummer = UtcInstant(2026, 7, 1, 12);
constexpr double kOneMSec = 1.0 / MSecsPerDay;
constexpr double kHour = 1.0 / 24;

TDateTime At(int AYear, int AMonth, int ADay, int AHour = 0, int AMin = 0, int ASec = 0,
             int AMSec = 0) {
    return EncodeDateTime(AYear, AMonth, ADay, AHour, AMin, ASec, AMSec);
}

} // namespace

// Formatting uses the offset in force now, even for a date in the other season; parsing the
// text back gives the same text.
TEST(lib_rfc1123Test, FormatsAndParsesAroundZoneAndDayBoundaries) {
    struct Case {
        const char* Zone;
        std::chrono::system_clock::time_point Now;
        TDateTime Local;
        const char* Expected;
    };
    const Case cases[] = {
        {ZoneBerlin, kWinter, At(1994, 11, 6, 9, 49, 37), "Sun, 06 Nov 1994 08:49:37 GMT"},
        {ZoneBerlin, kWinter, At(2026, 12, 7, 0, 30), "Sun, 06 Dec 2026 23:30:00 GMT"},
        {ZoneNewYork, kWinter, At(2026, 12, 31, 20), "Fri, 01 Jan 2027 01:00:00 GMT"},
        {ZoneKolkata, kWinter, At(2026, 12, 7, 5), "Sun, 06 Dec 2026 23:30:00 GMT"},
        {ZoneUtc, kWinter, At(2000, 2, 29), "Tue, 29 Feb 2000 00:00:00 GMT"},
        {ZoneBerlin, kSummer, At(2026, 12, 7, 12), "Mon, 07 Dec 2026 10:00:00 GMT"},
        {ZoneNewYork, kSummer, At(2026, 12, 7, 12), "Mon, 07 Dec 2026 16:00:00 GMT"},
        // Milliseconds are rounded, then dropped.
        {ZoneUtc, kWinter, At(2026, 12, 7, 8, 49, 37, 999), "Mon, 07 Dec 2026 08:49:37 GMT"},
        {ZoneUtc, kWinter, At(2026, 12, 31, 23, 59, 59, 999) + 0.6 * kOneMSec,
         "Fri, 01 Jan 2027 00:00:00 GMT"},
        // A year of fewer than four digits is written as it stands.
        {ZoneUtc, kWinter, At(999, 1, 2), "Wed, 02 Jan 999 00:00:00 GMT"},
    };
    for (const Case& c : cases) {
        ScopedTimeZone zone(c.Zone);
        ScopedClock clock(c.Now);
        EXPECT_EQ(FormatHttpDate(c.Local), c.Expected) << c.Zone;
        EXPECT_EQ(FormatHttpDate(ParseHttpDate(c.Expected)), c.Expected) << c.Zone;
    }
}

TEST(lib_rfc1123Test, ParsesRfc1123AndRfc850AsGmt) {
    ScopedTimeZone zone(ZoneBerlin);
    ScopedClock clock(kWinter);
    const TDateTime nov6 = At(1994, 11, 6, 8, 49, 37) + kHour;
    const std::pair<const char*, TDateTime> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov6},
        {"Sunday, 06-Nov-94 08:49:37 GMT", nov6},
        {" \tSun, 06 Nov 1994 08:49:37 +0200\t ", nov6}, // the zone is not read
        {"Sun, 06 Nov 1994 08:49:37; length=43", nov6},
        {"Sun, 6 nov 1994 8:9:7 GMT", At(1994, 11, 6, 8, 9, 7) + kHour},
        {"Thu, 31 Dec 2026 23:30:00 GMT", At(2027, 1, 1, 0, 30)},
        {"Sat, 01 Jan 00 00:00:00 GMT", At(2000, 1, 1) + kHour},
        {"Sat, 01 Jan 49 00:00:00 GMT", At(2049, 1, 1) + kHour},
        {"Sat, 01 Jan 50 00:00:00 GMT", At(1950, 1, 1) + kHour},
        {"Sat, 01 Jan 150 00:00:00 GMT", At(2050, 1, 1) + kHour},
        {"Sat, 01 Jan 200 00:00:00 GMT", At(200, 1, 1) + kHour},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_NEAR(ParseHttpDate(text), expected, kOneMSec / 100) << text;
}

TEST(lib_rfc1123Test, UnreadableOrImpossibleDatesAreInvalid) {
    ScopedTimeZone zone(ZoneBerlin);
    ScopedClock clock(kWinter);
    // The asctime form has no month after the first number; without a weekday word "Nov" is
    // taken for it; month names are exactly three letters; the "N" right after the day is
    // dropped; 4294967302 is above 32 bits, though 6 modulo 2^32.
    // clang-format off
    const char* texts[] = {
        "", " \t ", "Sun,", "Sun Nov  6 08:49:37 1994", "06 Nov 1994 08:49:37 GMT",
        "Sun, 06 November 1994 08:49:37 GMT", "Sun, 06Nov1994 08:49:37 GMT",
        "Sun, 29 Feb 1995 00:00:00 GMT", "Sun, 31 Apr 1995 00:00:00 GMT",
        "Sun, 00 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:60 GMT",
        "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 06 Nov 10000 08:49:37 GMT",
        "Sun, 06 Nov 1994 08:49 GMT", "Sun, 4294967302 Nov 1994 08:49:37 GMT"};
    // clang-format on
    for (const char* text : texts)
        EXPECT_EQ(ParseHttpDate(text), HttpDateInvalid) << '"' << text << '"';
}
