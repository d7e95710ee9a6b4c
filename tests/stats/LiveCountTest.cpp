// Live counting through the tracking service on loopback: many clients at once, the lines
// handed over against the overview file, and a queue that is off or full never holding a hit.
#include "stats/TLiveHitQueue.h"

#include <algorithm>
#include <sys/stat.h>
#include <thread>

#include "stats/StatsFile.h"
#include "stats/StatsReport.h"
#include "stats/TLiveDay.h"
#include "support/LoopbackClient.h"
#include "tracking/TrackingFixture.h"

namespace {

std::vector<std::string> SplitLines(const std::string& AText) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < AText.size();) {
        std::size_t end = AText.find("\r\n", start);
        lines.push_back(AText.substr(start, end - start));
        start = end == std::string::npos ? AText.size() : end + 2;
    }
    return lines;
}

class LiveCountTest : public TrackingFixture {
protected:
    void StartWithQueue(const std::shared_ptr<TLiveHitQueue>& AQueue) {
        StartWithSink(TLiveHitQueue::SinkOf(AQueue));
    }
    void StartWithSink(std::function<void(const std::string&, const TFilePlace&)> ASink) {
        Configure([](TKAV_GeneralConfig& AConfig) {
            AConfig.OverviewLogToScreen = AConfig.DetailLogToScreen = false;
            AConfig.DetailLogToFile = false;
        });
        FService = std::make_unique<TTrackingService>(FScreen);
        FService->AddOnOverviewLine(std::move(ASink));
        Start();
    }

    // AClients threads at once, each sending the same mix of requests ARounds times.
    void Load(int AClients, int ARounds) {
        const std::string requests[] = {
            "GET /t.gif?page=%2Fhome&ref=https%3A%2F%2FSearch.example%2F HTTP/1.1\r\n"
            "User-Agent: Mozilla/5.0 Firefox/120.0\r\n\r\n",
            "GET /t.gif?page=%2Fcart HTTP/1.1\r\nReferer: http://shop.example/cart?x=1\r\n"
            "User-Agent: Mozilla/5.0 Chrome/120.0 Safari/537.36\r\n\r\n",
            "GET /t.gif HTTP/1.1\r\nUser-Agent: ExampleBot/2.1\r\n\r\n",
            "GET /robots.txt HTTP/1.1\r\n\r\n",
            "GET /missing HTTP/1.1\r\n\r\n",
            "POST /t.gif HTTP/1.1\r\nContent-Length: 7\r\n\r\npage=x\x01",
        };
        std::vector<std::thread> clients;
        for (int c = 0; c < AClients; ++c)
            clients.emplace_back([&] {
                for (int round = 0; round < ARounds; ++round)
                    for (const std::string& request : requests)
                        Exchange(FPort, request);
            });
        for (std::thread& client : clients)
            client.join();
    }
};

TEST_F(LiveCountTest, HandsOverExactlyWhatTheFileGets) {
    auto queue = std::make_shared<TLiveHitQueue>();
    queue->SetEnabled(true);
    StartWithQueue(queue);
    Load(6, 5);

    // Every answer came after its line was written and handed over.
    std::vector<std::string> handed;
    TDayStats live;
    for (const TLiveHitQueue::TItem& item : queue->TakeAll()) {
        handed.push_back(item.Line);
        live.AddLine(item.Line);
    }
    std::vector<std::string> written = SplitLines(OverviewFile());
    std::sort(handed.begin(), handed.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(handed, written);

    TDayStats fromFile;
    std::string error;
    const TLogDay today = LogDayOf(Now());
    ASSERT_EQ(ReadOverviewFile(OverviewFilePath(FDir.Path(), today), fromFile, error),
              TReadStatus::Read);
    const TStatsSummary s = live.Summary();
    EXPECT_EQ(JsonReport(today, s), JsonReport(today, fromFile.Summary()));
    EXPECT_EQ(s.Hits, 6u * 5 * 6);
    EXPECT_EQ(s.PageViews, 6u * 5 * 2);
    EXPECT_EQ(s.Bots, 6u * 5);
    EXPECT_EQ(s.Visitors, 2u);
    EXPECT_EQ(s.Unreadable, 0u);
    EXPECT_EQ(s.Pages, (std::vector<TNameCount>{{"/cart", 30}, {"/home", 30}}));
    EXPECT_EQ(s.Sources, (std::vector<TNameCount>{{"(direct)", 30}, {"search.example", 30}}));
    EXPECT_EQ(s.Browsers, (std::vector<TNameCount>{{"Chrome", 30}, {"Firefox", 30}}));
    EXPECT_EQ(queue->Dropped(), 0u);
}

TEST_F(LiveCountTest, OffOrFullKeepsNothingAndNeverHoldsAHit) {
    auto queue = std::make_shared<TLiveHitQueue>(2 * 1024);
    StartWithQueue(queue);
    Load(2, 2); // switched off: nothing kept
    EXPECT_TRUE(queue->TakeAll().empty());
    EXPECT_EQ(queue->NextSeq(), 0u);

    queue->SetEnabled(true);
    Load(4, 3); // far more than 2 KiB of lines: the rest is dropped, every hit still answered
    const std::size_t kept = queue->TakeAll().size();
    EXPECT_GT(kept, 0u);
    EXPECT_EQ(kept + queue->Dropped(), 4u * 3 * 6);
    EXPECT_EQ(SplitLines(OverviewFile()).size(), 2u * 2 * 6 + 4u * 3 * 6);

    Load(1, 1); // room again once taken
    EXPECT_EQ(queue->TakeAll().size(), 6u);
}

// Today's count in memory while hits arrive and the day's file is read anew twice in between
// (the nickname list changes): the same figures as the file at the end, no hit twice or lost.
TEST_F(LiveCountTest, TheLiveDayCountsWhatTheFileHolds) {
    TLiveDay day;
    StartWithSink(day.Sink());
    const TLogDay today = LogDayOf(Now());
    Load(1, 1); // lines in the file before the first reading
    std::atomic<bool> loading{true};
    std::thread follower([&] {
        for (int round = 0; loading.load(); ++round)
            day.Update(FDir.Path(), {round / 50 % 2 == 0 ? "" : "10.9.9.9=Nobody"}, today);
    });
    Load(4, 4);
    loading = false;
    follower.join();
    day.Update(FDir.Path(), {}, today);
    const std::optional<TDayFigures> live = day.Figures(today, std::chrono::seconds(10));
    ASSERT_TRUE(live);
    TDayStats fromFile;
    std::string error;
    ASSERT_EQ(ReadOverviewFile(OverviewFilePath(FDir.Path(), today), fromFile, error),
              TReadStatus::Read);
    EXPECT_EQ(JsonReport(today, live->Summary), JsonReport(today, fromFile.Summary(KeptNames)));
    EXPECT_EQ(live->Summary.Hits, 17u * 6);
    EXPECT_FALSE(day.Figures(AddDays(today, 1), std::chrono::seconds(0)));
    day.Stop();
    EXPECT_FALSE(day.Figures(today, std::chrono::seconds(0)));
}

// A line's write and its hand-over are two steps apart. The worst moments, made on purpose: a
// hit written and handed over after the file was read but before the reading is taken in, and
// a hit written before the reading whose hand-over comes only after it. Each counts once.
TEST_F(LiveCountTest, AHitBetweenItsWriteAndItsHandOverCountsOnce) {
    TLiveDay day;
    const auto sink = day.Sink();
    StartWithSink(sink);
    const TLogDay today = LogDayOf(Now());
    const std::string agent = "User-Agent: Mozilla/5.0 Firefox/120.0\r\n";
    Get("/t.gif?page=%2Fbefore", agent);
    struct stat written {};
    ASSERT_EQ(::stat(OverviewFilePath(FDir.Path(), today).c_str(), &written), 0);
    const std::string before = SplitLines(OverviewFile()).at(0);

    day.SetAfterReadingForTesting([&] { Get("/t.gif?page=%2Fduring", agent); });
    day.Update(FDir.Path(), {}, today);
    day.SetAfterReadingForTesting({});
    sink(before, {static_cast<std::uint64_t>(written.st_dev),
                  static_cast<std::uint64_t>(written.st_ino), written.st_size});
    Get("/t.gif?page=%2Fafter", agent);

    const std::optional<TDayFigures> live = day.Figures(today, std::chrono::seconds(10));
    ASSERT_TRUE(live);
    EXPECT_EQ(live->Summary.Hits, 3u);
    EXPECT_EQ(live->Summary.Pages,
              (std::vector<TNameCount>{{"/after", 1}, {"/before", 1}, {"/during", 1}}));
}

} // namespace
