// A tracking service on a temporary program directory and an OS-chosen loopback port, with
// in-memory screen lists and a clock and zone the test can fix. One test thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config.h"
#include "support/TempDir.h"
#include "tracking/TMemoryScreenLists.h"
#include "tracking/TTrackingService.h"

class TrackingFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Changes the live settings (defaults otherwise; both files and both screens on).
    void Configure(const std::function<void(TKAV_GeneralConfig&)>& AChange);
    void Start();
    // Sends the raw request and reads the answer until the server closes.
    std::string Request(const std::string& ARaw);
    std::string Get(const std::string& ATarget, const std::string& AExtraHeaders = "");

    std::vector<std::string> Lines(TScreenLog ALog) { return FScreen->Lines(ALog); }
    std::string Messages();     // the Messages list joined with "\n"
    std::string OverviewFile(); // today's .log, or empty
    std::string DetailFile();
    std::string DailyFile(const std::string& AExtension);
    std::string DailyFileName(const std::string& AExtension); // today's, "yyyymmdd.log"
    // Ticks the service (as the front end's timer does) until the Messages list holds AText,
    // at most 10 s; whether it came.
    bool TickUntilMessage(const std::string& AText);

    TempDir FDir;
    std::shared_ptr<TMemoryScreenLists> FScreen;
    std::unique_ptr<TTrackingService> FService;
    int FPort = 0;
};

// Fixes the clock at a UTC instant (milliseconds since 1970) until ResetTestClock.
void SetTestClockUtcMs(long long AMilliseconds);
void ResetTestClock();
// Sets TZ for this process (and tzset).
void SetZone(const char* AZone);
// The status code of a raw HTTP answer, or 0.
int StatusOf(const std::string& AAnswer);
// The value of a header line of a raw answer, or empty.
std::string HeaderOf(const std::string& AAnswer, const std::string& AName);
bool HasHeader(const std::string& AAnswer, const std::string& AName);
std::string BodyOf(const std::string& AAnswer);
std::string ReadContentFile(const std::string& AName);
