// The program's date-time value: days since 30 December 1899 with the time of day as fraction.
// Free functions; any thread. The clock can be replaced by tests (SetClockForTesting).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>

// Local time unless a caller says otherwise. 1.0 is one day, 0.5 is noon.
using TDateTime = double;

constexpr double SecsPerDay = 86400.0;
constexpr double MSecsPerDay = 86400000.0;

// Calendar fields of a date-time value. DayOfWeek: Sunday is 0.
struct TDateTimeParts {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int MSec = 0;
    int DayOfWeek = 6;
};

using TClockFn = std::chrono::system_clock::time_point (*)();

// Replaces the wall clock for every caller of Now/NowUtc; nullptr restores the real clock.
void SetClockForTesting(TClockFn AClock);
std::chrono::system_clock::time_point ClockNow();

// Current local time and current UTC time as date-time values.
TDateTime Now();
TDateTime NowUtc();

// Conversions of an instant (local uses the zone rules in force at that instant).
TDateTime LocalDateTimeOf(std::chrono::system_clock::time_point ATime);
TDateTime UtcDateTimeOf(std::chrono::system_clock::time_point ATime);
// Seconds east of UTC of the local zone at that second (none when the library cannot convert
// it). The offsets of recent seconds are kept, so callers need not cache them.
std::optional<long> UtcOffsetAt(std::time_t ASecond);
// Reads the zone anew (TZ, else the system's) and forgets the kept offsets. Call it while no
// other thread converts times, as after changing TZ.
void ReloadTimeZone();

// Builds a value from calendar fields; false when they do not form a valid date and time
// (year 1 to 9999, Gregorian leap years, hour 0-23, minute and second 0-59, msec 0-999).
[[nodiscard]] bool TryEncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute,
                                     int ASecond, int AMSec, TDateTime& AResult);
// Same, for tests and literals; invalid fields give 0.0.
TDateTime EncodeDateTime(int AYear, int AMonth, int ADay, int AHour = 0, int AMinute = 0,
                         int ASecond = 0, int AMSec = 0);

// Calendar fields; the time of day is rounded to the nearest millisecond first.
TDateTimeParts DecodeDateTime(TDateTime AValue);

// Whole-day part (local midnight of that day), also for values before 1899-12-30.
TDateTime DateOf(TDateTime AValue);

// The fields read as UTC, in seconds since 1970 (negative before); what timegm gives, without
// its work. None outside the years 1 to 9999 or for fields that are not a valid date and time.
std::optional<std::int64_t> SecondsSince1970(const TDateTimeParts& AParts);

bool IsLeapYear(int AYear);
int DaysInMonth(int AYear, int AMonth);
