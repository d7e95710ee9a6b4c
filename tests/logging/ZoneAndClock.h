// Test helpers: a replaced wall clock and a replaced local time zone, both restored on scope exit.
// Test thread only (the zone is set through the environment); the clock may be read anywhere.
#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>

#include "base/DateTime.h"

// The instant of a UTC calendar time.
inline std::chrono::system_clock::time_point UtcInstant(int AYear, int AMonth, int ADay,
                                                        int AHour = 0, int AMinute = 0,
                                                        int ASecond = 0, int AMSec = 0) {
    constexpr double kUnixEpoch = 25569.0; // 1 January 1970 as a day count
    TDateTime value = EncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, ASecond, AMSec);
    auto ms = std::llround((value - kUnixEpoch) * MSecsPerDay);
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

// Makes Now() and the UTC offset read a fixed instant that the test moves by hand.
class ScopedClock {
public:
    explicit ScopedClock(std::chrono::system_clock::time_point ATime) {
        Set(ATime);
        SetClockForTesting(&Read);
    }
    ~ScopedClock() { SetClockForTesting(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

    static void Set(std::chrono::system_clock::time_point ATime) {
        FMSecs = std::chrono::duration_cast<std::chrono::milliseconds>(ATime.time_since_epoch())
                     .count();
    }

private:
    static std::chrono::system_clock::time_point Read() {
        return std::chrono::system_clock::time_point(std::chrono::milliseconds(FMSecs.load()));
    }
    static inline std::atomic<std::int64_t> FMSecs{0};
};

// A zone by its database name and the equivalent POSIX rule.
struct TTestZone {
    const char* Name;
    const char* PosixRule;
};
inline constexpr TTestZone ZoneBerlin{"Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3"};
inline constexpr TTestZone ZoneNewYork{"America/New_York", "EST5EDT,M3.2.0,M11.1.0"};
inline constexpr TTestZone ZoneKolkata{"Asia/Kolkata", "IST-5:30"};
inline constexpr TTestZone ZoneStJohns{"America/St_Johns", "NST3:30NDT,M3.2.0,M11.1.0"};
inline constexpr TTestZone ZoneKiritimati{"Pacific/Kiritimati", "LINT-14"};
inline constexpr TTestZone ZoneUtc{"UTC", "UTC0"};

// Sets TZ for this process. Uses the named zone when the zone database has it, otherwise the
// equivalent POSIX rule, so the tests also run where the database is not installed.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const TTestZone& AZone) {
        const char* old = std::getenv("TZ");
        FHadOld = old != nullptr;
        if (old)
            FOld = old;
        struct stat info {};
        std::string file = std::string("/usr/share/zoneinfo/") + AZone.Name;
        setenv("TZ", stat(file.c_str(), &info) == 0 ? AZone.Name : AZone.PosixRule, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (FHadOld)
            setenv("TZ", FOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool FHadOld = false;
    std::string FOld;
};
