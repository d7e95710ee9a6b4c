// Test helpers: a replaced wall clock and a replaced local time zone, restored on scope exit.
// Set them on the test's thread; the clock may then be read on any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "base/DateTime.h"

// Zones as POSIX rules, so the tests need no zone database on the machine.
constexpr const char* ZoneBerlin = "CET-1CEST,M3.5.0,M10.5.0/3"; // Europe/Berlin
constexpr const char* ZoneNewYork = "EST5EDT,M3.2.0,M11.1.0";    // America/New_York
constexpr const char* ZoneKolkata = "IST-5:30";                  // Asia/Kolkata
constexpr const char* ZoneStJohns = "NST3:30NDT,M3.2.0,M11.1.0"; // America/St_Johns
constexpr const char* ZoneKiritimati = "LINT-14";                // Pacific/Kiritimati
constexpr const char* ZoneUtc = "UTC0";

inline std::chrono::system_clock::time_point UtcInstant(int AYear, unsigned AMonth, unsigned ADay,
                                                        int AHour = 0, int AMinute = 0,
                                                        int ASecond = 0, int AMSec = 0) {
    using namespace std::chrono;
    return sys_days(year(AYear) / AMonth / ADay) + hours(AHour) + minutes(AMinute) +
           seconds(ASecond) + milliseconds(AMSec);
}

// Makes Now() and the UTC offset read an instant that the test moves by hand.
class ScopedClock {
public:
    explicit ScopedClock(std::chrono::system_clock::time_point ATime) {
        Set(ATime);
        SetClockForTesting([] { return FTime.load(); });
    }
    ~ScopedClock() { SetClockForTesting(nullptr); }
    static void Set(std::chrono::system_clock::time_point ATime) { FTime = ATime; }

private:
    static inline std::atomic<std::chrono::system_clock::time_point> FTime{};
};

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* AZone) {
        if (const char* old = std::getenv("TZ"))
            FOld = old;
        setenv("TZ", AZone, 1);
        ReloadTimeZone();
    }
    ~ScopedTimeZone() {
        FOld ? setenv("TZ", FOld->c_str(), 1) : unsetenv("TZ");
        ReloadTimeZone();
    }

private:
    std::optional<std::string> FOld;
};
