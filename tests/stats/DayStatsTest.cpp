// Counting a day: which lines count as what, the bounds on names, distinct visitors, and the
// streaming reader fed in pieces of every size.
#include "stats/TDayStats.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <string_view>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "stats/StatsFile.h"
#include "support/TempDir.h"

namespace {

std::string Line(const std::string& AHost, const std::string& AParams, int AStatus = 200,
                 const std::string& AAgent = "Firefox/1", const std::string& ADocument = "/t.gif",
                 const std::string& AReferer = "") {
    return AHost + " - - [08/Dec/2026:10:00:00 +0100] \"GET " + ADocument + " " + AParams +
           " HTTP/1.1\" " + std::to_string(AStatus) + " 43 \"" + AReferer + "\" \"" + AAgent + "\"";
}

TStatsSummary SummaryOf(const std::vector<std::string>& ALines,
                        const std::vector<std::string>& ANickNames = {}) {
    TDayStats stats(ANickNames);
    for (const std::string& line : ALines)
        stats.AddLine(line);
    return stats.Summary();
}

TEST(DayStatsTest, WhatCountsAsWhat) {
    // A masked address with a visitor id in the identity field.
    auto withId = [](const std::string& AId, const std::string& AAgent) {
        return "203.0.0.0 " + AId + " - [08/Dec/2026:10:00:00 +0100] \"GET /t.gif HTTP/1.1\" 200 " +
               "43 \"\" \"" + AAgent + "\"";
    };
    TStatsSummary s = SummaryOf({
        Line("a", "", 200),                      // page view
        Line("a", "", 304),                      // page view, same visitor
        Line("a", "", 200, "Firefox/2"),         // another agent: another visitor
        Line("b", "", 404),                      // hit only
        Line("b", "", 200, "x", "/index.htm"),   // hit only
        Line("b", "", 200, "SomeBot/1"),         // bot
        Line("b", "", 500, "SomeBot/1"),         // hit only, even from a bot
        Line("-", "", 200),                      // page view under Do-Not-Track: nobody
        Line("-", "", 200, "Firefox/2"),         // again nobody
        withId("0123456789abcdef", "Firefox/1"), // one visitor by id
        withId("0123456789abcdef", "Firefox/2"), // the id holds, whatever the agent
        withId("fedcba9876543210", "Firefox/1"), // same address and agent, another id
        withId("0123456789ABCDEF", "Firefox/1"), // no id of ours: by address and agent
        "",                                      // nothing
        "not a line",                            // unreadable
    });
    EXPECT_EQ(s.Hits, 13u);
    EXPECT_EQ(s.PageViews, 9u);
    EXPECT_EQ(s.OptedOut, 2u);
    EXPECT_EQ(s.Bots, 1u);
    EXPECT_EQ(s.Visitors, 5u);
    EXPECT_EQ(s.Unreadable, 1u);
    EXPECT_EQ(s.Hours[10], 9u);
    EXPECT_EQ(s.Pages, (std::vector<TNameCount>{{"(unknown)", 9}}));
    EXPECT_EQ(s.Sources, (std::vector<TNameCount>{{"(direct)", 9}}));
    EXPECT_EQ(s.VisitorNames,
              (std::vector<TNameCount>{{"203.0.0.0", 4}, {"a", 3}})); // "-" is nobody's name
}

TEST(DayStatsTest, PagesSourcesAndNamesByTheirRules) {
    TStatsSummary s = SummaryOf(
        {
            Line("10.0.0.7", "page=%2Fa&ref=", 200, "u", "/t.gif", "http://x/r?q"),
            Line("10.0.0.7", "page=&ref=http%3A%2F%2FS.example%2F", 200, "u", "/t.gif",
                 "http://x/r#f"),
            Line("10.0.0.8", "", 200, "u", "/t.gif", "?only"),
            Line("10.0.0.9", "page=+b+", 200),
            Line("10.0.0.9", "page=+b+", 200),
        },
        {"10.0.0.7=Anna", "10.0.0.8 =NotMe"});
    EXPECT_EQ(s.Pages, (std::vector<TNameCount>{
                           {" b ", 2}, {"(unknown)", 1}, {"/a", 1}, {"http://x/r", 1}}));
    EXPECT_EQ(s.Sources, (std::vector<TNameCount>{{"(direct)", 4}, {"s.example", 1}}));
    EXPECT_EQ(s.VisitorNames,
              (std::vector<TNameCount>{{"10.0.0.9", 2}, {"Anna", 2}, {"10.0.0.8", 1}}));
    EXPECT_EQ(s.Browsers, (std::vector<TNameCount>{{"other", 3}, {"Firefox", 2}}));
}

TEST(DayStatsTest, GroupingsStayBounded) {
    TNameCounter counter;
    for (std::size_t i = 0; i < TNameCounter::MaxNames + 5; ++i)
        counter.Add("/page" + std::to_string(i));
    counter.Add("/page0");  // a known name still counts as itself
    counter.Add("(other)"); // a client's own "(other)" joins ours
    std::vector<TNameCount> top = counter.Top(3);
    EXPECT_EQ(top, (std::vector<TNameCount>{{"(other)", 6}, {"/page0", 2}, {"/page1", 1}}));

    // Long names are cut before the limit, never inside a UTF-8 character.
    TNameCounter names;
    const std::string umlauts = [] {
        std::string text;
        for (int i = 0; i < 150; ++i)
            text += "\xC3\xBC";
        return text;
    }();
    names.Add(umlauts);
    names.Add(umlauts + "more");
    std::vector<TNameCount> cut = names.Top(1);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].Views, 2u);
    EXPECT_EQ(cut[0].Name, umlauts.substr(0, 196) + "...");
}

// Names picked so that a fixed hash (std::hash, which the table once used) puts them all in one
// run of the table, as a script finds them in a second: under the process's key they spread.
TEST(DayStatsTest, NamesChosenToShareATableRunSpreadOut) {
    std::vector<std::string> crafted;
    for (std::uint64_t i = 0; crafted.size() < 200; ++i) {
        std::string name = "/p" + std::to_string(i);
        if ((std::hash<std::string_view>()(name) >> 32 & 1023) == 0)
            crafted.push_back(std::move(name));
    }
    TNameCounter counter;
    for (const std::string& name : crafted)
        counter.Add(name);
    // 200 names in 512 slots: runs of ten are common, one of fifty all but impossible.
    EXPECT_LT(counter.LongestRun(), 50u);
    EXPECT_EQ(counter.Top(300).size(), crafted.size());
}

TEST(DayStatsTest, VisitorsAreDistinctPairs) {
    TVisitorSet visitors;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 50000; ++i)
            visitors.Add("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                         i % 2 ? 1 : 2);
    EXPECT_EQ(visitors.Count(), 50000u);
    visitors.Add("a", 1);
    visitors.Add("a", 2);
    EXPECT_EQ(visitors.Count(), 50002u);
}

TEST(DayStatsTest, ReadsTheSameInPiecesOfAnySize) {
    TempDir dir;
    std::ifstream in(std::string(SKAV_STATS_FIXTURES) + "20261208.log", std::ios::binary);
    dir.WriteFile("day.log", std::string(std::istreambuf_iterator<char>(in), {}));
    std::string error;
    TDayStats whole;
    ASSERT_EQ(ReadOverviewFile(dir.Path() + "day.log", whole, error), TReadStatus::Read);
    const TStatsSummary expected = whole.Summary();
    EXPECT_EQ(expected.Hits, 12u);
    for (std::size_t piece = 1; piece <= 300; ++piece) {
        TDayStats stats;
        ASSERT_EQ(ReadOverviewFile(dir.Path() + "day.log", stats, error, nullptr, piece),
                  TReadStatus::Read);
        const TStatsSummary s = stats.Summary();
        ASSERT_EQ(s.Hits, expected.Hits) << piece;
        ASSERT_EQ(s.Unreadable, expected.Unreadable) << piece;
        ASSERT_EQ(s.Pages, expected.Pages) << piece;
    }
}

TEST(DayStatsTest, OverlongLinesMissingFilesAndCancelling) {
    TempDir dir;
    const std::string good = Line("a", "");
    dir.WriteFile("long.log", good + "\r\n" + std::string(MaxLogLineBytes + 10, 'x') + "\r\n" +
                                  good + "\n" + std::string(MaxLogLineBytes + 1, 'y'));
    std::string error;
    TDayStats stats;
    ASSERT_EQ(ReadOverviewFile(dir.Path() + "long.log", stats, error, nullptr, 4096),
              TReadStatus::Read);
    EXPECT_EQ(stats.Summary().Hits, 2u);
    EXPECT_EQ(stats.Summary().Unreadable, 2u);

    EXPECT_EQ(ReadOverviewFile(dir.Path() + "none.log", stats, error), TReadStatus::Missing);
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(ReadOverviewFile(dir.Path(), stats, error), TReadStatus::Failed);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(ReadOverviewFile(dir.Path() + "long.log", stats, error, &cancel),
              TReadStatus::Cancelled);

    // A file still written: its last line without a break is left to the hand-over, and the
    // reader says how far it read which file.
    dir.WriteFile("live.log", good + "\r\n" + good + "\r\n" + good.substr(0, 20));
    TDayStats live;
    TFilePlace readTo;
    ASSERT_EQ(ReadOverviewFileTo(dir.Path() + "live.log", live, error, readTo), TReadStatus::Read);
    EXPECT_EQ(live.Summary().Hits, 2u);
    EXPECT_EQ(live.Summary().Unreadable, 0u);
    struct stat file {};
    ASSERT_EQ(::stat((dir.Path() + "live.log").c_str(), &file), 0);
    EXPECT_EQ(readTo.Inode, static_cast<std::uint64_t>(file.st_ino));
    EXPECT_EQ(readTo.End, static_cast<std::int64_t>(2 * (good.size() + 2)));
    EXPECT_TRUE(TFilePlace({readTo.Device, readTo.Inode, readTo.End}).Within(readTo));
    EXPECT_FALSE(TFilePlace({readTo.Device, readTo.Inode, readTo.End + 1}).Within(readTo));
    EXPECT_FALSE(TFilePlace({readTo.Device, readTo.Inode + 1, 1}).Within(readTo));
    EXPECT_EQ(ReadOverviewFileTo(dir.Path() + "none.log", live, error, readTo),
              TReadStatus::Missing);
    EXPECT_FALSE(readTo.Known());
}

TEST(DayStatsTest, DaysAndTheirFiles) {
    TempDir dir;
    for (const char* name : {"20261208.log", "20261207.log", "20260229.log", "20261208.log2",
                             "2026120.log", "x0261208.log", "20261301.log"})
        dir.WriteFile(name, "");
    std::vector<TLogDay> days = ListLogDays(dir.Path());
    EXPECT_EQ(days, (std::vector<TLogDay>{{2026, 12, 8}, {2026, 12, 7}}));
    EXPECT_EQ(DayBefore({2027, 1, 1}), (TLogDay{2026, 12, 31}));
    EXPECT_EQ(DayBefore({2024, 3, 1}), (TLogDay{2024, 2, 29}));
}

} // namespace
