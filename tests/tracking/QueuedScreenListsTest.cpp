// Screen entries posted from any thread and shown by the front end: order, bounds, the text
// model of the in-memory lists.
#include "tracking/TMemoryScreenLists.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Threads post while the front end shows what has come: every entry is shown once, and each
// thread's entries in the order it posted them.
TEST(QueuedScreenListsTest, EntriesFromManyThreadsComeInTheOrderEachPostedThem) {
    constexpr int Threads = 4, PerThread = 500;
    TMemoryScreenLists lists;
    std::atomic<int> done{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i)
                lists.Post(TScreenLog::Overview, std::to_string(t * 1000 + i), 0);
            ++done;
        });
    while (done.load() < Threads)
        lists.LineCount(TScreenLog::Overview); // the front end's turns, between the posts
    for (auto& writer : writers)
        writer.join();
    const std::vector<std::string> lines = lists.Lines(TScreenLog::Overview);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(Threads * PerThread));
    int next[Threads] = {};
    for (const std::string& line : lines) {
        const int value = std::stoi(line);
        EXPECT_EQ(value % 1000, next[value / 1000]++) << line;
    }
}

// Entries shown in a burst end as they would have, shown one by one: the trimming rule runs
// on each entry in turn, whatever the front end's pace.
TEST(QueuedScreenListsTest, ABurstEndsAsTheSameEntriesShownOneByOne) {
    TMemoryScreenLists oneByOne, burst;
    auto post = [&](TScreenLog ALog, const std::string& AText, int ALimit) {
        oneByOne.Post(ALog, AText, ALimit);
        oneByOne.LineCount(ALog);
        burst.Post(ALog, AText, ALimit);
    };
    for (int i = 0; i < 3000; ++i) {
        const std::string n = std::to_string(i);
        post(TScreenLog::Overview, "hit " + n + std::string(i % 7, 'x'), i < 2000 ? 100 : 40);
        post(TScreenLog::Detail, "\r\nblock " + n + "\r\nline\r\n" + std::string(i % 50, 'y'),
             i % 500 < 400 ? 200 : 0);
        post(TScreenLog::Messages, "m" + n, 0);
        post(TScreenLog::Messages, "n" + n, 0);
        if (i % 97 == 96) { // bursts of many sizes, onto what the earlier ones left
            for (TScreenLog log : {TScreenLog::Overview, TScreenLog::Detail})
                EXPECT_EQ(burst.Lines(log), oneByOne.Lines(log)) << static_cast<int>(log) << i;
        }
    }
    for (TScreenLog log : {TScreenLog::Overview, TScreenLog::Detail, TScreenLog::Messages})
        EXPECT_EQ(burst.Lines(log), oneByOne.Lines(log)) << static_cast<int>(log);
    EXPECT_EQ(burst.LineCount(TScreenLog::Messages), MaxSysMessages + 1);
}

// A front end that does not take its entries keeps memory bounded: beyond MaxQueuedBytes a
// limited list drops what it could not show anyway, and nothing is told of it; an unlimited
// list drops its oldest entries, and a Messages line counts them.
TEST(QueuedScreenListsTest, AFrontEndThatDoesNotTakeItsEntriesKeepsMemoryBounded) {
    TMemoryScreenLists lists;
    const std::string mib(1024 * 1024 - 1, 'd');
    const int count = static_cast<int>(TQueuedScreenLists::MaxQueuedBytes / mib.size()) + 3;
    for (int i = 0; i < count; ++i) {
        lists.Post(TScreenLog::Overview, std::to_string(i) + mib, 5);
        lists.Post(TScreenLog::Detail, std::to_string(i) + mib, 0);
    }
    const std::vector<std::string> overview = lists.Lines(TScreenLog::Overview);
    ASSERT_FALSE(overview.empty());
    EXPECT_LE(overview.size(), 7u);
    EXPECT_EQ(std::stoi(overview.back()), count - 1);
    const std::vector<std::string> detail = lists.Lines(TScreenLog::Detail);
    ASSERT_FALSE(detail.empty());
    EXPECT_LE(detail.size() * mib.size(), TQueuedScreenLists::MaxQueuedBytes);
    EXPECT_EQ(std::stoi(detail.back()), count - 1);
    const std::size_t leftOut = count - detail.size();
    EXPECT_EQ(std::stoul(detail.front()), leftOut);
    const std::vector<std::string> messages = lists.Lines(TScreenLog::Messages);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.back().substr(23), ": " + std::to_string(leftOut) +
                                              " screen log entries left out: the window did not "
                                              "take them in time");
}

TEST(QueuedScreenListsTest, ClosedListsTakeNoMoreEntries) {
    TMemoryScreenLists lists;
    lists.Post(TScreenLog::Messages, "before", 0);
    lists.Close();
    std::thread late([&] { lists.Post(TScreenLog::Messages, "late", 0); });
    late.join();
    EXPECT_EQ(lists.LineCount(TScreenLog::Messages), 0);
}

TEST(QueuedScreenListsTest, EntriesSplitIntoLinesAndShowFromAnyOfThem) {
    TMemoryScreenLists lists;
    IScreenView& view = lists.View();
    view.AppendEntry(TScreenLog::Detail, "\r\nfirst\r\nsecond");
    view.AppendEntry(TScreenLog::Detail, "third\nfourth\r");
    view.AppendEntry(TScreenLog::Detail, "a\r\nb\r\nfifth", 2);
    EXPECT_EQ(lists.Lines(TScreenLog::Detail),
              (std::vector<std::string>{"", "first", "second", "third", "fourth", "fifth"}));
    EXPECT_EQ(lists.Text(TScreenLog::Detail),
              "\r\nfirst\r\nsecond\r\nthird\r\nfourth\r\nfifth\r\n");
    std::vector<std::size_t> sizes;
    view.LineSizes(TScreenLog::Detail, sizes);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{0, 5, 6, 5, 6, 5}));
    sizes.clear();
    view.EntryLineSizes("\r\nfirst\r\nsecond", sizes);
    view.EntryLineSizes("", sizes);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{0, 5, 6, 0}));
    view.RemoveFirstLines(TScreenLog::Detail, 2);
    EXPECT_EQ(lists.Lines(TScreenLog::Detail).front(), "second");
    view.RemoveFirstLines(TScreenLog::Detail, 100);
    EXPECT_EQ(lists.LineCount(TScreenLog::Detail), 0);
}

// The trimming cuts bytes of the whole text, each line followed by CR LF: whole lines, and of
// the line a cut goes into, its start; a cut between CR and LF leaves that line empty.
TEST(QueuedScreenListsTest, ACutRemovesWholeLinesAndTheStartOfTheNext) {
    struct {
        std::size_t Cut;
        int Lines;
        std::size_t Text;
        std::size_t Removed;
    } rows[] = {{0, 3, 12, 0}, {1, 3, 11, 0}, {2, 3, 10, 0}, {3, 3, 10, 0},
                {4, 2, 8, 1},  {5, 2, 7, 1},  {12, 0, 0, 3}, {100, 0, 0, 3}};
    for (const auto& row : rows) {
        TScreenLogModel model({2, 2, 2}); // "ab", "cd", "ef"
        model.RemoveLeadingChars(row.Cut);
        EXPECT_EQ(model.LineCount(), row.Lines) << row.Cut;
        EXPECT_EQ(model.TextSize(), row.Text) << row.Cut;
        EXPECT_EQ(model.Removed(), row.Removed) << row.Cut;
    }
}

} // namespace
