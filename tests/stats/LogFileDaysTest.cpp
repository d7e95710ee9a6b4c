// Days from the overview files: a closed day's summary used while its file and the nickname
// list stay as they were, made again when either changes or the summary is damaged, removed
// with its day; today and a reading given up never summarised; a summary cut anywhere never
// read.
#include "stats/TLogFileDays.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include <gtest/gtest.h>

#include "stats/DaySummaryFile.h"
#include "support/TempDir.h"

namespace {

std::string Fixture(const std::string& AName) {
    std::ifstream in(std::string(SKAV_STATS_FIXTURES) + AName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const TLogDay Day{2026, 12, 8};
const TLogDay Today{2026, 12, 10};

class LogFileDaysTest : public ::testing::Test {
protected:
    void SetUp() override { FDir.WriteFile("20261208.log", Fixture("20261208.log")); }

    TDayFigures Read(const std::vector<std::string>& ANickNames = {}) {
        return TLogFileDays(FDir.Path(), ANickNames, Today).Day(Day);
    }

    TempDir FDir;
};

TEST_F(LogFileDaysTest, AClosedDaysSummaryServesWhileItsSourceStaysAsItWas) {
    const TDayFigures first = Read();
    ASSERT_EQ(first.Status, TReadStatus::Read) << first.Error;
    EXPECT_EQ(first.Summary.PageViews, 7u);
    ASSERT_TRUE(FDir.Exists("20261208.stats"));

    // A summary of the same source with other figures is what the next read gives.
    TDaySource source;
    std::string error;
    ASSERT_EQ(DaySourceOf(FDir.Path() + "20261208.log", {}, source, error), TReadStatus::Read);
    TStatsSummary planted = first.Summary;
    planted.PageViews = 99;
    FDir.WriteFile("20261208.stats", DaySummaryText(source, planted));
    EXPECT_EQ(Read().Summary.PageViews, 99u);

    // Another nickname list names the visitors otherwise: read anew.
    const TDayFigures named = Read({"10.0.0.7=Anna"});
    EXPECT_EQ(named.Summary.PageViews, 7u);
    EXPECT_EQ(named.Summary.VisitorNames.front().Name, "Anna");

    // A damaged summary is read anew and replaced.
    EXPECT_EQ(Read().Summary.PageViews, 7u);
    std::string damaged = FDir.ReadFile("20261208.stats");
    damaged.replace(damaged.find("totals 12 7 "), 12, "totals 12 8 ");
    FDir.WriteFile("20261208.stats", damaged);
    EXPECT_EQ(Read().Summary.PageViews, 7u);
    EXPECT_NE(FDir.ReadFile("20261208.stats"), damaged);

    // A grown file is read anew.
    FDir.WriteFile("20261208.log", Fixture("20261208.log") + "\r\n" + Fixture("20261207.log"));
    EXPECT_EQ(Read().Summary.PageViews, 11u);

    // The summary names visitors: it goes with its day's file.
    ASSERT_EQ(::unlink((FDir.Path() + "20261208.log").c_str()), 0);
    EXPECT_EQ(Read().Status, TReadStatus::Missing);
    EXPECT_FALSE(FDir.Exists("20261208.stats"));
}

TEST_F(LogFileDaysTest, NeitherTodayNorAnAbandonedReadingIsSummarised) {
    const std::vector<TDayFigures> days =
        TLogFileDays(FDir.Path(), {}, Day).Days(AddDays(Day, -1), AddDays(Day, 1));
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0].Status, TReadStatus::Missing);
    EXPECT_EQ(days[1].Summary.PageViews, 7u);
    EXPECT_EQ(days[2].Status, TReadStatus::Missing);
    EXPECT_FALSE(FDir.Exists("20261208.stats"));
    const std::atomic<bool> stopping{true}; // the server stops meanwhile
    EXPECT_EQ(TLogFileDays(FDir.Path(), {}, Today, &stopping).Day(Day).Status,
              TReadStatus::Cancelled);
    EXPECT_FALSE(FDir.Exists("20261208.stats"));
}

TEST_F(LogFileDaysTest, ASummaryCutAnywhereOrOfAnotherSourceIsNotRead) {
    TDaySource source{1, 2, 3, 4, 5};
    TStatsSummary summary = Read().Summary;
    const std::string text = DaySummaryText(source, summary);
    TStatsSummary back;
    ASSERT_TRUE(ReadDaySummaryText(text, source, back));
    EXPECT_EQ(back.Pages, summary.Pages);
    EXPECT_EQ(back.Hours, summary.Hours);
    EXPECT_EQ(back.Visitors, summary.Visitors);
    for (std::size_t cut = 0; cut < text.size(); ++cut)
        EXPECT_FALSE(ReadDaySummaryText(text.substr(0, cut), source, back)) << cut;
    for (TDaySource other :
         {TDaySource{9, 2, 3, 4, 5}, TDaySource{1, 9, 3, 4, 5}, TDaySource{1, 2, 9, 4, 5},
          TDaySource{1, 2, 3, 9, 5}, TDaySource{1, 2, 3, 4, 9}})
        EXPECT_FALSE(ReadDaySummaryText(text, other, back));
}

} // namespace
