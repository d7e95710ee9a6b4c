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
    }
    void TearDown() override { SetClockForTesting(nullptr); }
};

} // namespace

TEST_F(TNetHTTPSessionListTest, IdsAreDistinctFromTheAlphabet) {
    TNetHTTPSessionList list;
    list.SetIdleTime(60000);
    std::set<std::string> ids;
    for (int i = 0; i < 200; ++i) {
        const std::string id = list.StartSession("1.2.3.4")->Id();
        ASSERT_EQ(id.size(), 15u);
        EXPECT_EQ(
            id.find_first_not_of("qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM123456789"),
            std::string::npos);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 200u); // same clock tick, yet no two sessions share an id
}

TEST_F(TNetHTTPSessionListTest, LookupMatchesIdCaseInsensitiveAndAddress) {
    TNetHTTPSessionList list;
    list.SetIdleTime(1000);
    const auto session = list.StartSession("10.0.0.1");
    EXPECT_EQ(list.FindSession(session->Id(), "10.0.0.2"), nullptr);
    EXPECT_EQ(list.FindSession(UpperCaseAscii(session->Id()), "10.0.0.1"), session);
    EXPECT_EQ(list.FindSession(session->Id(), ""), session);
    GFakeMs += 900;
    EXPECT_EQ(list.FindSession(session->Id(), "10.0.0.1"), session); // renews LastAccess
    GFakeMs += 900;
    EXPECT_EQ(list.FindSession(session->Id(), "10.0.0.1"), session);
}

TEST_F(TNetHTTPSessionListTest, ExpiredSessionsEndOnceAndTheWalkGoesOn) {
    TNetHTTPSessionList list;
    list.SetIdleTime(1000);
    std::vector<std::string> started, ended;
    list.OnSessionStart = [&](TNetHTTPSession* s) { started.push_back(s->Id()); };
    list.OnSessionEnd = [&](TNetHTTPSession* s) { ended.push_back(s->Id()); };
    const auto first = list.StartSession("a");
    const auto second = list.StartSession("a");
    GFakeMs += 800;
    const auto third = list.StartSession("a");
    GFakeMs += 201; // first two are 1001 ms idle, the third 201 ms
    EXPECT_EQ(list.FindSession("nope", "a"), nullptr);
    EXPECT_EQ(ended, (std::vector<std::string>{first->Id(), second->Id()}));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(first->Owner(), nullptr);
    list.EndExpired(false);
    EXPECT_EQ(ended.size(), 2u);
    list.ClearSessions();
    EXPECT_EQ(ended.size(), 3u);
    EXPECT_EQ(started.size(), 3u);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(TNetHTTPSessionListTest, CleanerEndsIdleSessionsAndTheRestWhenStopped) {
    TNetHTTPSessionList list;
    list.SetIdleTime(10);
    std::atomic<int> ended{0};
    list.OnSessionEnd = [&](TNetHTTPSession*) { ++ended; };
    list.StartSession("a");
    list.StartSession("b");
    {
        TNetHTTPSessionCleanerThread cleaner(list);
        GFakeMs += 11;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (list.Count() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(list.Count(), 0);
        list.StartSession("c");
    }
    EXPECT_EQ(ended.load(), 3);
    EXPECT_EQ(list.Count(), 0);
}
