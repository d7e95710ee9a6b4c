#include "base/DateTime.h"

#include <array>
#include <atomic>
#include <cmath>

namespace {

std::atomic<TClockFn> gClock{nullptr};

// Days from 0001-01-01 (proleptic Gregorian) to 1899-12-30.
constexpr std::int64_t DaysTo1899 = 693593;
// Days from 1899-12-30 to 1970-01-01.
constexpr std::time_t DaysTo1970 = 25569;

std::int64_t DaysFromCivil(int AYear, int AMonth, int ADay) {
    // Days since 0001-01-01 for a valid Gregorian date.
    std::int64_t y = AYear - 1;
    std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    static constexpr int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    days += kBefore[AMonth - 1] + ADay - 1;
    if (AMonth > 2 && IsLeapYear(AYear))
        ++days;
    return days;
}

TDateTime FromTm(const std::tm& ATm, int AMSec) {
    TDateTime result = 0.0;
    if (!TryEncodeDateTime(ATm.tm_year + 1900, ATm.tm_mon + 1, ATm.tm_mday, ATm.tm_hour,
                           ATm.tm_min, ATm.tm_sec > 59 ? 59 : ATm.tm_sec, AMSec, result))
        return 0.0;
    return result;
}

// The zone's offset for the seconds converted last. Every conversion of the C library queues on
// one process-wide lock, and each hit converts several times on its own thread. A slot holds a
// second and its offset in one word, read and written whole, so no reader sees half of one;
// zero is an empty slot (its offset would be far outside any zone's).
constexpr int OffsetBits = 20;
constexpr long OffsetBias = 1L << (OffsetBits - 1);
constexpr std::uint64_t OffsetMask = (std::uint64_t{1} << OffsetBits) - 1;
constexpr std::time_t LastKeptSecond = (std::time_t{1} << (63 - OffsetBits)) - 1;
std::array<std::atomic<std::uint64_t>, 4> gOffsets{};

std::time_t WholeSecondOf(std::chrono::system_clock::time_point ATime) {
    std::time_t t = std::chrono::system_clock::to_time_t(ATime);
    if (std::chrono::system_clock::from_time_t(t) > ATime)
        --t; // to_time_t may round; keep the whole second below the instant
    return t;
}

int MSecOf(std::chrono::system_clock::time_point ATime) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(ATime.time_since_epoch());
    return static_cast<int>(((ms.count() % 1000) + 1000) % 1000);
}

} // namespace

void SetClockForTesting(TClockFn AClock) { gClock.store(AClock); }

std::chrono::system_clock::time_point ClockNow() {
    TClockFn clock = gClock.load();
    return clock ? clock() : std::chrono::system_clock::now();
}

TDateTime Now() { return LocalDateTimeOf(ClockNow()); }

TDateTime NowUtc() { return UtcDateTimeOf(ClockNow()); }

std::optional<long> UtcOffsetAt(std::time_t ASecond) {
    const bool kept = ASecond >= 0 && ASecond <= LastKeptSecond;
    std::atomic<std::uint64_t>& slot = gOffsets[static_cast<std::size_t>(ASecond & 3)];
    if (kept) {
        const std::uint64_t word = slot.load(std::memory_order_relaxed);
        if (word != 0 && (word >> OffsetBits) == static_cast<std::uint64_t>(ASecond))
            return static_cast<long>(word & OffsetMask) - OffsetBias;
    }
    std::tm tm{};
    if (!localtime_r(&ASecond, &tm))
        return std::nullopt;
    const long offset = tm.tm_gmtoff;
    if (kept && offset > -OffsetBias && offset < OffsetBias)
        slot.store(static_cast<std::uint64_t>(ASecond) << OffsetBits |
                       static_cast<std::uint64_t>(offset + OffsetBias),
                   std::memory_order_relaxed);
    return offset;
}

void ReloadTimeZone() {
    tzset();
    for (std::atomic<std::uint64_t>& slot : gOffsets)
        slot.store(0, std::memory_order_relaxed);
}

TDateTime LocalDateTimeOf(std::chrono::system_clock::time_point ATime) {
    const std::time_t t = WholeSecondOf(ATime);
    const std::optional<long> offset = UtcOffsetAt(t);
    if (!offset)
        return 0.0;
    const std::time_t local = t + *offset;
    if (local < 0) { // before 1970 the library's calendar is kept
        std::tm tm{};
        localtime_r(&t, &tm);
        return FromTm(tm, MSecOf(ATime));
    }
    // The wall clock's fields without the library: the same sums as TryEncodeDateTime's.
    const std::time_t days = local / 86400, second = local % 86400;
    const double date = static_cast<double>(days + DaysTo1970);
    const double time = (((second / 3600 * 60.0 + second / 60 % 60) * 60.0 + second % 60) * 1000.0 +
                         MSecOf(ATime)) /
                        MSecsPerDay;
    return date + time;
}

TDateTime UtcDateTimeOf(std::chrono::system_clock::time_point ATime) {
    std::time_t t = WholeSecondOf(ATime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return FromTm(tm, MSecOf(ATime));
}

bool IsLeapYear(int AYear) {
    return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0;
}

int DaysInMonth(int AYear, int AMonth) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (AMonth < 1 || AMonth > 12)
        return 0;
    return kDays[AMonth - 1] + (AMonth == 2 && IsLeapYear(AYear) ? 1 : 0);
}

bool TryEncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond,
                       int AMSec, TDateTime& AResult) {
    if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1 ||
        ADay > DaysInMonth(AYear, AMonth) || AHour < 0 || AHour > 23 || AMinute < 0 ||
        AMinute > 59 || ASecond < 0 || ASecond > 59 || AMSec < 0 || AMSec > 999)
        return false;
    double date = static_cast<double>(DaysFromCivil(AYear, AMonth, ADay) - DaysTo1899);
    double time = (((AHour * 60.0 + AMinute) * 60.0 + ASecond) * 1000.0 + AMSec) / MSecsPerDay;
    // Before 1899-12-30 the fraction counts forward from the (negative) day, as the
    // day count with fraction convention has it: -1.25 is 29 Dec 1899 06:00.
    AResult = date >= 0 ? date + time : date - time;
    return true;
}

TDateTime EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond,
                         int AMSec) {
    TDateTime result = 0.0;
    return TryEncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, ASecond, AMSec, result) ? result
                                                                                          : 0.0;
}

TDateTime DateOf(TDateTime AValue) { return std::trunc(AValue); }

std::optional<std::int64_t> SecondsSince1970(const TDateTimeParts& AParts) {
    TDateTime valid = 0.0;
    if (!TryEncodeDateTime(AParts.Year, AParts.Month, AParts.Day, AParts.Hour, AParts.Minute,
                           AParts.Second, 0, valid))
        return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(AParts.Year, AParts.Month, AParts.Day) - (DaysTo1899 + DaysTo1970);
    return days * 86400 + AParts.Hour * 3600 + AParts.Minute * 60 + AParts.Second;
}

TDateTimeParts DecodeDateTime(TDateTime AValue) {
    // Work in whole milliseconds since 1899-12-30 00:00, sign-aware as in TryEncodeDateTime.
    double days = std::trunc(AValue);
    double fraction = std::fabs(AValue - days);
    std::int64_t msOfDay = std::llround(fraction * MSecsPerDay);
    std::int64_t dayNumber = static_cast<std::int64_t>(days);
    if (msOfDay >= static_cast<std::int64_t>(MSecsPerDay)) {
        msOfDay -= static_cast<std::int64_t>(MSecsPerDay);
        dayNumber += AValue >= 0 ? 1 : -1;
    }
    TDateTimeParts parts;
    std::int64_t n = dayNumber + DaysTo1899; // days since 0001-01-01
    parts.DayOfWeek = static_cast<int>(((n + 1) % 7 + 7) % 7); // 0001-01-01 was a Monday
    // Civil from days (proleptic Gregorian), 400-year cycles of 146097 days.
    std::int64_t y400 = n / 146097, d = n % 146097;
    std::int64_t y100 = d / 36524;
    if (y100 == 4)
        y100 = 3;
    d -= y100 * 36524;
    std::int64_t y4 = d / 1461;
    d -= y4 * 1461;
    std::int64_t y1 = d / 365;
    if (y1 == 4)
        y1 = 3;
    d -= y1 * 365;
    parts.Year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    // Days before each month; no month is longer than 31 days, so d / 31 is never past the
    // month that holds day d and the search below takes a step at most. (Before the year 1,
    // d is negative and stays in January, as it always did.)
    static constexpr int kDaysBefore[2][13] = {
        {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
        {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};
    const int* before = kDaysBefore[IsLeapYear(parts.Year) ? 1 : 0];
    int month = d > 0 ? static_cast<int>(d / 31) : 0;
    while (month < 11 && d >= before[month + 1])
        ++month;
    parts.Month = month + 1;
    parts.Day = static_cast<int>(d - before[month]) + 1;
    parts.Hour = static_cast<int>(msOfDay / 3600000);
    parts.Minute = static_cast<int>(msOfDay / 60000 % 60);
    parts.Second = static_cast<int>(msOfDay / 1000 % 60);
    parts.MSec = static_cast<int>(msOfDay % 1000);
    return parts;
}
