#include "tcp/TNetThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "NetTestHelpers.h"
#include "tcp/NetExceptions.h"

namespace {

// Counts its steps; cycles wait until halted, or raise when told to.
class TCountingThread : public TNetThread {
public:
    std::atomic<int> Prepares{0}, Cycles{0}, Finishes{0};
    std::atomic<bool> RaiseInCycle{false};

protected:
    void Prepare() override { ++Prepares; }
    void Cycle() override {
        ++Cycles;
        if (RaiseInCycle)
            throw ENetNoExecuteSpecified();
        SleepUnlessTerminated(10s); // a halt must cut the wait short
    }
    void Finish() override { ++Finishes; }
};

} // namespace

TEST(TNetThreadTest, ASuspendedThreadRunsOnlyOnceLaunchedAndHaltsOnce) {
    auto thread = std::make_shared<TCountingThread>();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(thread->Prepares, 0);
    thread->Launch();
    thread->Launch(); // running: nothing
    ASSERT_TRUE(WaitUntil([&] { return thread->Cycles >= 1; }));
    auto started = std::chrono::steady_clock::now();
    thread->HaltThread();
    thread->HaltThread(); // halted: nothing
    thread->WaitFor();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(thread->Prepares, 1);
    EXPECT_EQ(thread->Cycles, 1);
    EXPECT_EQ(thread->Finishes, 1);
    EXPECT_TRUE(thread->Finished());
    EXPECT_EQ(thread->FailureText(), "");
}

TEST(TNetThreadTest, AnExceptionEndsTheThreadAfterFinishWithItsMessage) {
    auto thread = std::make_shared<TCountingThread>();
    thread->RaiseInCycle = true;
    std::string reported;
    thread->OnFailure = [&](TNetThread&, const std::exception& AException) {
        reported = AException.what();
    };
    thread->Launch();
    thread->WaitFor();
    EXPECT_EQ(thread->Finishes, 1);
    EXPECT_EQ(thread->FailureText(), "No execute handler found.");
    EXPECT_EQ(reported, "No execute handler found.");
    EXPECT_TRUE(thread->Terminated());
}

TEST(TNetThreadTest, AThreadThatFreesItselfNeedsNoOwner) {
    std::weak_ptr<TCountingThread> watch;
    {
        auto thread = std::make_shared<TCountingThread>();
        thread->SetFreeOnTerminate(true);
        thread->RaiseInCycle = true;
        watch = thread;
        thread->Launch();
    }
    EXPECT_TRUE(WaitUntil([&] { return watch.expired(); }));
}
