#include "tcp/TNetThreadStacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "NetTestHelpers.h"

namespace {

constexpr size_t StackSize = 256 * 1024;

// A thread whose whole body is one function (a thread started on a set is never launched,
// so it only prepares and finishes).
class TBodyThread : public TNetThread {
public:
    explicit TBodyThread(std::function<void()> ABody) : FBody(std::move(ABody)) {}

protected:
    void Prepare() override { FBody(); }
    void Cycle() override {}

private:
    std::function<void()> FBody;
};

// Fills most of the stack it was given, so that a stack smaller than asked for, or one shared
// with another thread, faults or shows; returns where the fill lay.
uintptr_t UseStack(size_t ABytes) {
    std::vector<char> check(64);
    volatile char* fill = static_cast<char*>(__builtin_alloca(ABytes));
    for (size_t i = 0; i < ABytes; i += 512)
        fill[i] = static_cast<char>(i >> 9);
    for (size_t i = 0; i < ABytes; i += 512)
        if (fill[i] != static_cast<char>(i >> 9))
            return 0;
    return reinterpret_cast<uintptr_t>(fill);
}

} // namespace

TEST(TNetThreadStacksTest, ThreadsOneAfterAnotherRunOnOneStackOfTheFullSize) {
    TNetThreadStacks stacks;
    std::vector<uintptr_t> places;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return stacks.Collect(); })) << "thread " << i - 1;
        std::atomic<uintptr_t> place{1};
        std::shared_ptr<TNetThread> thread =
            std::make_shared<TBodyThread>([&] { place = UseStack(200 * 1024); });
        ASSERT_TRUE(stacks.Start(thread, StackSize));
        EXPECT_EQ(thread, nullptr); // handed over
        ASSERT_TRUE(WaitUntil([&] { return place != 1; }));
        EXPECT_NE(place.load(), 0u) << "thread " << i;
        places.push_back(place);
    }
    ASSERT_TRUE(WaitUntil([&] { return stacks.Collect(); }));
    EXPECT_EQ(stacks.MappedCount(), 1u);
    EXPECT_EQ(std::count(places.begin(), places.end(), places.front()), 20);
}

TEST(TNetThreadStacksTest, ThreadsAtOnceGetStacksOfTheirOwnAndOnlySomeAreKept) {
    TNetThreadStacks stacks;
    const size_t count = TNetThreadStacks::MaxKept + 8;
    std::atomic<bool> release{false};
    std::atomic<size_t> waiting{0};
    std::vector<std::atomic<uintptr_t>> places(count);
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<TNetThread> thread = std::make_shared<TBodyThread>([&, i] {
            places[i] = UseStack(16 * 1024);
            ++waiting;
            WaitUntil([&] { return release.load(); });
        });
        ASSERT_TRUE(stacks.Start(thread, StackSize));
    }
    ASSERT_TRUE(WaitUntil([&] { return waiting == count; }));
    EXPECT_EQ(stacks.MappedCount(), count);
    std::vector<uintptr_t> sorted;
    for (auto& place : places)
        sorted.push_back(place);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_NE(sorted.front(), 0u);
    for (size_t i = 1; i < count; ++i)
        EXPECT_GE(sorted[i] - sorted[i - 1], StackSize) << "stacks overlap";
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return stacks.Collect(); }));
    EXPECT_EQ(stacks.MappedCount(), TNetThreadStacks::MaxKept);
}
