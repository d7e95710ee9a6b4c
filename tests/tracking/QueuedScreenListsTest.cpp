#include "tracking/TQueuedScreenLists.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(QueuedScreenListsTest, ChangesFromOtherThreadsRunOnTheFrontEndThread) {
    TQueuedScreenLists lists;
    const std::thread::id frontEnd = std::this_thread::get_id();
    std::atomic<int> done{0};
    std::atomic<bool> allOnFrontEnd{true};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                lists.RunOnFrontEnd([&] {
                    if (std::this_thread::get_id() != frontEnd)
                        allOnFrontEnd = false;
                    lists.AppendEntry(TScreenLog::Overview, std::to_string(t));
                });
            ++done;
            lists.Wake();
        });
    lists.ServeUntil([&] { return done.load() == 4; });
    for (auto& writer : writers)
        writer.join();
    EXPECT_TRUE(allOnFrontEnd);
    EXPECT_EQ(lists.LineCount(TScreenLog::Overview), 200);
}

TEST(QueuedScreenListsTest, WorkThatWaitsForChangesFinishesWhileServing) {
    // A stop that waits for a peer thread which itself waits for the front end's thread.
    TQueuedScreenLists lists;
    lists.RunServingChanges([&] {
        std::thread peer(
            [&] { lists.RunOnFrontEnd([&] { lists.AppendEntry(TScreenLog::Detail, "x"); }); });
        peer.join();
    });
    EXPECT_EQ(lists.Lines(TScreenLog::Detail), std::vector<std::string>{"x"});
}

TEST(QueuedScreenListsTest, CloseReleasesWaitersAndDropsLaterChanges) {
    auto lists = std::make_unique<TQueuedScreenLists>();
    std::thread waiter(
        [&] { lists->RunOnFrontEnd([&] { lists->AppendEntry(TScreenLog::Messages, "never"); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lists->Close();
    waiter.join();               // returns although nobody served the change
    lists->RunOnFrontEnd([] {}); // on the front-end thread it still runs in place
    std::thread late(
        [&] { lists->RunOnFrontEnd([&] { lists->AppendEntry(TScreenLog::Messages, "late"); }); });
    late.join();
    EXPECT_EQ(lists->LineCount(TScreenLog::Messages), 0);
}

TEST(QueuedScreenListsTest, EntriesSplitIntoLinesAndCutsKeepWholeLines) {
    TQueuedScreenLists lists;
    lists.AppendEntry(TScreenLog::Detail, "\r\nfirst\r\nsecond");
    lists.AppendEntry(TScreenLog::Detail, "third\nfourth\r");
    EXPECT_EQ(lists.Lines(TScreenLog::Detail),
              (std::vector<std::string>{"", "first", "second", "third", "fourth"}));
    EXPECT_EQ(lists.Text(TScreenLog::Detail), "\r\nfirst\r\nsecond\r\nthird\r\nfourth\r\n");
    lists.RemoveLeadingChars(TScreenLog::Detail, 2 + 3); // the empty line and "fir"
    EXPECT_EQ(lists.Lines(TScreenLog::Detail).front(), "st");
    lists.RemoveLeadingChars(TScreenLog::Detail, 3); // "st" and the CR: the line stays, empty
    EXPECT_EQ(lists.Lines(TScreenLog::Detail).front(), "");
    lists.RemoveFirstLine(TScreenLog::Detail);
    EXPECT_EQ(lists.Lines(TScreenLog::Detail).front(), "second");
}

// The headless front end serves with a deadline, so its periodic work runs when nothing comes.
TEST(QueuedScreenListsTest, ServingWithADeadlineReturnsWhenItPasses) {
    TQueuedScreenLists lists;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    lists.ServeUntil([] { return false; }, deadline);
    EXPECT_GE(std::chrono::steady_clock::now(), deadline);
}

} // namespace
