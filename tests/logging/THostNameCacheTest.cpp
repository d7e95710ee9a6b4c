#include "logging/THostNameCache.h"

#include <thread>

#include <gtest/gtest.h>

#include "support/FakeNameServer.h"
#include "support/WaitUntil.h"

namespace {

using namespace std::chrono_literals;

// A name server that answers at once: the callers may wait as long as a loaded machine needs.
THostNameCache::TLimits Patient() {
    THostNameCache::TLimits limits;
    limits.Deadline = 10s;
    return limits;
}

// Names and no-names are looked up once and kept, a failing look-up finds no name, and the
// oldest answer makes room for a new one.
TEST(THostNameCacheTest, AnswersAreKeptForTheirAgeAndTheOldestMakeRoom) {
    auto server = std::make_shared<FakeNameServer>(
        std::map<std::string, std::string>{{"10.0.0.1", "one.example"}, {"::1", "six.example"}});
    THostNameCache::TLimits limits = Patient();
    limits.MaxEntries = 3;
    THostNameCache cache(server->Lookup(), limits);
    struct {
        const char* Address;
        const char* Name;
        int Calls; // look-ups so far
    } steps[] = {
        {"10.0.0.1", "one.example", 1},
        {"10.0.0.1", "one.example", 1}, // a name is kept
        {"10.0.0.9", "", 2},
        {"10.0.0.9", "", 2}, // so is no name
        {"throw", "", 3},
        {"throw", "", 3},          // a failure finds none
        {"::1", "six.example", 4}, // the fourth address pushes out the first
        {"10.0.0.9", "", 4},
        {"10.0.0.1", "one.example", 5},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(cache.NameOf(step.Address), step.Name) << step.Address;
        EXPECT_EQ(server->Calls(), step.Calls) << step.Address;
    }

    limits.NoNameAge = 50ms;
    THostNameCache aging(server->Lookup(), limits);
    EXPECT_EQ(aging.NameOf("10.0.0.9"), "");
    EXPECT_EQ(aging.NameOf("10.0.0.1"), "one.example");
    const int calls = server->Calls();
    std::this_thread::sleep_for(100ms); // past the age of a no-name, not of a name
    EXPECT_EQ(aging.NameOf("10.0.0.9"), "");
    EXPECT_EQ(aging.NameOf("10.0.0.1"), "one.example");
    EXPECT_EQ(server->Calls(), calls + 1);
}

// A name server that does not answer: the caller goes on without a name after the deadline,
// no more look-ups run than the cache has threads, no more wait than it queues, and callers
// beyond those do not wait at all. Once the server answers, the names are there.
TEST(THostNameCacheTest, ASilentNameServerHoldsNoCallerPastTheDeadline) {
    auto server = std::make_shared<FakeNameServer>(std::map<std::string, std::string>{}, true);
    THostNameCache::TLimits limits;
    limits.Deadline = 50ms;
    limits.Threads = 2;
    limits.MaxQueued = 3;
    THostNameCache cache(server->Lookup(), limits);
    EXPECT_EQ(cache.NameOf("10.0.1.0"), ""); // returns while the look-up is held
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(cache.NameOf("10.0.1." + std::to_string(i), false), "");
    EXPECT_TRUE(WaitUntil([&] { return server->Running() == 2; }));
    EXPECT_EQ(cache.NameOf("10.0.1.0"), ""); // its deadline has passed: no wait, no new look-up

    std::map<std::string, std::string> names;
    for (int i = 0; i < 10; ++i)
        names["10.0.1." + std::to_string(i)] = "host" + std::to_string(i) + ".example";
    server->Speak(names);
    EXPECT_TRUE(WaitUntil([&] { return cache.NameOf("10.0.1.0", false) == "host0.example"; }));
    EXPECT_TRUE(WaitUntil([&] { return server->Running() == 0; }));
    EXPECT_LE(server->Calls(), limits.Threads + static_cast<int>(limits.MaxQueued));
    EXPECT_EQ(server->MostRunning(), 2);
    // An address that found no room is looked up when it comes again.
    EXPECT_TRUE(WaitUntil([&] { return cache.NameOf("10.0.1.9", false) == "host9.example"; }));
}

} // namespace
