#include "http/TNetHTTPSessionList.h"

#include "http/NetHTTPText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace {

std::atomic<long long> GFakeMs{0};

std::chrono::system_clock::time_point FakeClock() {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(GFakeMs.load()));
}

class TNetHTTPSessionListTest : public ::testing::Test {
protected:
    void SetUp() override {
        GFakeMs = 1'700'000'000'000LL;
        SetClockForTesting(&FakeClock);
        List.SetIdleTime(1000);
    }
    void TearDown() override { SetClockForTesting(nullptr); }
    TNetHTTPSessionList List;
};

} // namespace

TEST_F(TNetHTTPSessionListTest, DistinctIdsMatchedCaseInsensitiveWithTheAddress) {
    std::set<std::string> ids; // all within one clock tick
    for (int i = 0; i < 200; ++i)
        ids.insert(List.StartSession("1.2.3.4")->Id());
    EXPECT_EQ(ids.size(), 200u);
    const auto session = List.StartSession("10.0.0.1");
    EXPECT_EQ(List.FindSession(session->Id(), "10.0.0.2"), nullptr);
    EXPECT_EQ(List.FindSession(UpperCaseAscii(session->Id()), "10.0.0.1"), session);
    EXPECT_EQ(List.FindSession(session->Id(), ""), session);
    for (int i = 0; i < 2; ++i) { // each lookup renews LastAccess
        GFakeMs += 900;
        EXPECT_EQ(List.FindSession(session->Id(), "10.0.0.1"), session);
    }
}

TEST_F(TNetHTTPSessionListTest, ExpiredSessionsEndOnceAndTheWalkGoesOn) {
    std::vector<std::string> ended;
    List.OnSessionEnd = [&](TNetHTTPSession* s) { ended.push_back(s->Id()); };
    const auto first = List.StartSession("a");
    const auto second = List.StartSession("a");
    GFakeMs += 800;
    List.StartSession("a");
    GFakeMs += 201; // first two are 1001 ms idle, the third 201 ms
    EXPECT_EQ(List.FindSession("nope", "a"), nullptr);
    EXPECT_EQ(ended, (std::vector<std::string>{first->Id(), second->Id()}));
    EXPECT_EQ(List.Count(), 1);
    EXPECT_EQ(first->Owner(), nullptr);
    List.EndExpired(false);
    EXPECT_EQ(ended.size(), 2u);
    List.ClearSessions();
    EXPECT_EQ(ended.size(), 3u);
    EXPECT_EQ(List.Count(), 0);
}

TEST_F(TNetHTTPSessionListTest, CleanerEndsIdleSessionsAndTheRestWhenStopped) {
    std::atomic<int> ended{0};
    List.OnSessionEnd = [&](TNetHTTPSession*) { ++ended; };
    List.StartSession("a");
    List.StartSession("b");
    {
        TNetHTTPSessionCleanerThread cleaner(List);
        GFakeMs += 1001;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (List.Count() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(List.Count(), 0);
        List.StartSession("c");
    }
    EXPECT_EQ(ended.load(), 3);
    EXPECT_EQ(List.Count(), 0);
}
