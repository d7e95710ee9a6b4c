#include "tracking/TMessageThrottle.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "logging/LogText.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// A throttle on a clock the test moves, collecting what it writes.
class MessageThrottleTest : public ::testing::Test {
protected:
    void Advance(std::chrono::milliseconds AStep) { FNow += AStep; }
    Lines Take() { return std::exchange(FLines, {}); }

    std::chrono::steady_clock::time_point FNow{std::chrono::hours(1)};
    Lines FLines;
    TMessageThrottle FThrottle{[this](const std::string& AText) { FLines.push_back(AText); },
                               [this] { return FNow; }};
};

TEST_F(MessageThrottleTest, TenLinesASecondPerKindThenOneCountAMinute) {
    for (int i = 0; i < 25; ++i)
        FThrottle.Report(CommandOtherKind, "Command other: X" + std::to_string(i));
    FThrottle.Report(ServerErrorKind, "Server: other kind"); // a kind has its own allowance
    Lines lines = Take();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[9], "Command other: X9");
    EXPECT_EQ(lines[10], "Server: other kind");

    Advance(1s); // a new second: ten more, the rest counted on
    for (int i = 0; i < 12; ++i)
        FThrottle.Report(CommandOtherKind, "Command other: Y");
    FThrottle.Tick();
    EXPECT_EQ(Take().size(), 10u); // no count before a minute has passed

    Advance(59s);
    FThrottle.Tick();
    EXPECT_EQ(Take(), Lines{"Command other: 17 more lines of this kind left out"});
    FThrottle.Tick();
    EXPECT_TRUE(Take().empty());

    // Counts of one kind stay a minute apart, and come before the next line of any kind.
    FThrottle.Report(CommandOtherKind, "Command other: Z");
    for (int i = 0; i < 10; ++i)
        FThrottle.Report(CommandOtherKind, "Command other: Z");
    Advance(30s);
    FThrottle.Tick();
    EXPECT_EQ(Take().size(), 10u);
    Advance(30s);
    FThrottle.Report(ServerErrorKind, "Server: later");
    EXPECT_EQ(Take(), (Lines{"Command other: 1 more line of this kind left out", "Server: later"}));
}

// A failing log directory fails every hit: its line once a minute, then how many were left out.
TEST_F(MessageThrottleTest, LogWriteErrorsOnceAMinute) {
    const std::string error = "Error writing Logfile in Directory \"/full/\"";
    for (int i = 0; i < 200; ++i) {
        FThrottle.Report(LogWriteKind, error);
        Advance(100ms);
    }
    Advance(40s);
    FThrottle.Report(LogWriteKind, error);
    EXPECT_EQ(Take(),
              (Lines{error, "Error writing Logfile: 199 more lines of this kind left out", error}));
    FThrottle.Flush(); // nothing pending
    EXPECT_TRUE(Take().empty());
}

TEST_F(MessageThrottleTest, RefusalsAreSummedPerAddressAndReason) {
    const std::string perAddress = "too many connections from one address";
    for (int i = 0; i < 40; ++i)
        FThrottle.ReportRefusal(perAddress, "10.0.0.5", 16);
    FThrottle.ReportRefusal("head timed out under load", "10.0.0.5", 2000);
    FThrottle.ReportRefusal(perAddress, "10.0.0.6", 16);
    EXPECT_TRUE(Take().empty()); // the reporting thread never writes: the tick does
    FThrottle.Tick();
    EXPECT_EQ(Take(), (Lines{"Refused 1 connection from 10.0.0.5: head timed out under load "
                             "(limit 2000)",
                             "Refused 40 connections from 10.0.0.5: " + perAddress + " (limit 16)",
                             "Refused 1 connection from 10.0.0.6: " + perAddress + " (limit 16)"}));
    Advance(30s);
    FThrottle.ReportRefusal(perAddress, "10.0.0.5", 16);
    FThrottle.Tick();
    EXPECT_TRUE(Take().empty()); // a minute per address and reason
    Advance(30s);
    FThrottle.Tick();
    EXPECT_EQ(Take(), Lines{"Refused 1 connection from 10.0.0.5: " + perAddress + " (limit 16)"});
    Advance(61s);
    FThrottle.Tick(); // quiet pairs are forgotten: the next refusal is told at the next tick
    FThrottle.ReportRefusal(perAddress, "10.0.0.5", -1);
    FThrottle.Tick();
    EXPECT_EQ(Take(), Lines{"Refused 1 connection from 10.0.0.5: " + perAddress});
}

// Many addresses: the lines keep their pace of ten a second and none is lost; memory stays
// bounded, the addresses beyond the table are summed per reason.
TEST_F(MessageThrottleTest, ManyAddressesArePacedAndBounded) {
    const std::size_t addresses = TMessageThrottle::MaxTrackedAddresses + 50;
    for (std::size_t i = 0; i < addresses; ++i)
        FThrottle.ReportRefusal(
            "r", "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), 1);
    FThrottle.Tick();
    Lines lines = Take();
    EXPECT_EQ(lines.size(), 10u);
    Advance(1s);
    FThrottle.Tick();
    Lines second = Take();
    EXPECT_EQ(second.size(), 10u);
    FThrottle.Flush();
    for (const Lines& more : {second, Take()})
        lines.insert(lines.end(), more.begin(), more.end());
    // One line for every address in the table and one for those beyond it.
    EXPECT_EQ(lines.size(), TMessageThrottle::MaxTrackedAddresses + 1);
    std::size_t refused = 0;
    for (const std::string& line : lines)
        refused += std::stoul(line.substr(8));
    EXPECT_EQ(refused, addresses);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Refused 50 connections from other addresses: r (limit 1)"),
              1);

    // A client's address inside a line is escaped and cut.
    FThrottle.ReportRefusal("r", std::string(1000, '\x1B'), 1);
    Advance(1s);
    FThrottle.Flush();
    lines = Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find('\x1B'), std::string::npos);
    EXPECT_LT(lines[0].size(), MessageTextLimit + 64);
}

// The sink runs outside the throttle's lock: a line that makes another one (the window's
// hand-off, a nested report) cannot deadlock, and threads reporting at once lose no count.
TEST(MessageThrottleThreadsTest, ConcurrentReportsAreCountedExactly) {
    std::mutex lock; // guards lines
    Lines lines;
    TMessageThrottle* self = nullptr;
    TMessageThrottle throttle([&](const std::string& AText) {
        {
            std::lock_guard<std::mutex> guard(lock);
            lines.push_back(AText);
        }
        if (AText == "Command other: nested")
            self->Report(ServerErrorKind, "Server: from the sink");
    });
    self = &throttle;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                throttle.Report(CommandOtherKind, "Command other: nested");
                throttle.ReportRefusal("r", "10.0.0.1", 1);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    throttle.Flush();
    long commands = 0, refused = 0;
    for (const std::string& line : lines) {
        if (line == "Command other: nested")
            ++commands;
        else if (line.starts_with("Command other: "))
            commands += std::stol(line.substr(15));
        else if (line.starts_with("Refused "))
            refused += std::stol(line.substr(8));
    }
    EXPECT_EQ(commands, 2000);
    EXPECT_EQ(refused, 2000);
}

} // namespace
