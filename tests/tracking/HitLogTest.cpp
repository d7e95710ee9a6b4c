#include "tracking/THitLog.h"

#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>

#include "logging/TSKX_Logger.h"
#include "support/LoopbackClient.h"
#include "tracking/TrackingFixture.h"

namespace {

// The zone the recorded example is written for; fixed before the zone text is first read.
const bool gZoneSet = (SetZone("Europe/Berlin"), true);

int PeerPortOfClient(const LoopbackClient& AClient) {
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    ::getsockname(AClient.Fd(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

TEST(HitLogLookupTest, NickNameAndNoLogRules) {
    std::vector<std::string> nicks = {"10.0.0.8 =Blank", "10.0.0.7=Anna", "10.0.0.7=Bert",
                                      "no equals", "10.0.0.9= Cleo =x"};
    EXPECT_EQ(LookupNickName(nicks, "10.0.0.7"), "Anna"); // the first line wins
    EXPECT_EQ(LookupNickName(nicks, "10.0.0.8"), "");     // a blank before "=" does not match
    EXPECT_EQ(LookupNickName(nicks, "10.0.0.9"), " Cleo =x");
    EXPECT_EQ(LookupNickName(nicks, "no equals"), "");
    EXPECT_EQ(LookupNickName({"Host.Example=Dora"}, "host.example"), "Dora");
    EXPECT_EQ(LookupNickName({}, "10.0.0.7"), "");

    std::vector<std::string> noLogs = {"10.0.0.1 ", "10.0.0.2", "ABC"};
    EXPECT_FALSE(IsNoLogAddress(noLogs, "10.0.0.1"));
    EXPECT_TRUE(IsNoLogAddress(noLogs, "10.0.0.2"));
    EXPECT_TRUE(IsNoLogAddress(noLogs, "abc"));
    EXPECT_FALSE(IsNoLogAddress(noLogs, "10.0.0.20"));
    EXPECT_FALSE(IsNoLogAddress({}, "10.0.0.2"));
}

class HitLogScreenTest : public ::testing::Test {
protected:
    HitLogScreenTest()
        : FScreen(std::make_shared<TMemoryScreenLists>()),
          FLog(FScreen, std::make_shared<TSKX_Logger>(FDir.Path(), ""),
               std::make_shared<TSKX_Logger>(FDir.Path(), "log2")) {
        FSettings.OverviewLogToScreen = true;
        FSettings.OverviewLimitScreenLog = true;
        FSettings.OverviewScreenLogLines = 100;
    }

    TempDir FDir;
    std::shared_ptr<TMemoryScreenLists> FScreen;
    THitLog FLog;
    TKAV_GeneralConfig FSettings;
};

TEST_F(HitLogScreenTest, OverviewLimitGrowsToATenthMoreThenCutsBack) {
    int most = 0;
    for (int i = 1; i <= 400; ++i) {
        FLog.AddOverviewLine(FSettings, "entry " + std::to_string(i) + " with some text");
        int count = FScreen->LineCount(TScreenLog::Overview);
        most = std::max(most, count);
        if (i <= 111) {
            ASSERT_EQ(count, i);
        }
        if (i == 112) {
            EXPECT_LE(count, 100);
        }
        ASSERT_EQ(FScreen->Lines(TScreenLog::Overview).back(),
                  "entry " + std::to_string(i) + " with some text");
    }
    EXPECT_EQ(most, 111);
    // What stays is whole lines, the newest ones, in order.
    std::vector<std::string> lines = FScreen->Lines(TScreenLog::Overview);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(std::stoi(lines[i].substr(6)), std::stoi(lines[i - 1].substr(6)) + 1);
}

TEST_F(HitLogScreenTest, TinyLimitsAndSwitchedOffLogs) {
    FSettings.OverviewScreenLogLines = 0; // below 1 counts as 1
    for (int i = 0; i < 20; ++i)
        FLog.AddOverviewLine(FSettings, "");
    EXPECT_LE(FScreen->LineCount(TScreenLog::Overview), 2);

    FSettings.DetailLogToScreen = false;
    FLog.AddDetailText(FSettings, "not shown");
    EXPECT_EQ(FScreen->LineCount(TScreenLog::Detail), 0);

    FSettings.OverviewLimitScreenLog = false;
    FSettings.OverviewScreenLogLines = 5;
    for (int i = 0; i < 50; ++i)
        FLog.AddOverviewLine(FSettings, "a\r\nb");
    EXPECT_GE(FScreen->LineCount(TScreenLog::Overview), 100);
}

TEST_F(HitLogScreenTest, MessagesListKeepsAtMost5001Lines) {
    for (int i = 1; i <= 5002; ++i)
        FLog.AddSysMessage("m" + std::to_string(i));
    std::vector<std::string> lines = FScreen->Lines(TScreenLog::Messages);
    ASSERT_EQ(lines.size(), 5001u);
    EXPECT_EQ(lines.front().substr(25), "m2");
    EXPECT_EQ(lines.back().substr(25), "m5002");
    // Long stamp: yyyy/mm/dd hh:nn:ss:zzz, then ": ".
    EXPECT_EQ(lines.back()[4], '/');
    EXPECT_EQ(lines.back()[10], ' ');
    EXPECT_EQ(lines.back()[19], ':');
    EXPECT_EQ(lines.back().substr(23, 2), ": ");
}

using HitRecordTest = TrackingFixture;

// The recorded example: GET /t.gif?id=5 at 14:03:07.045 local time, one hour ahead of GMT,
// from an address nicknamed Anna, with the default header settings.
TEST_F(HitRecordTest, RecordsOfOneHitByteForByte) {
    ASSERT_TRUE(gZoneSet);
    Configure([](TKAV_GeneralConfig& C) {
        C.UseNickNames = true;
        C.NickNames = {"127.0.0.1=Anna"};
    });
    Start();
    SetTestClockUtcMs(1796648587045LL); // 2026-12-07 13:03:07.045 UTC
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(FPort));
    ASSERT_TRUE(client.Send("GET /t.gif?id=5 HTTP/1.1\r\nHost: 10.0.0.1:88\r\nAccept: */*\r\n"
                            "User-Agent: TestAgent/1.0\r\n\r\n"));
    std::string answer = client.ReadUntilClose();
    ASSERT_EQ(StatusOf(answer), 200);

    std::vector<std::string> overview = Lines(TScreenLog::Overview);
    ASSERT_EQ(overview.size(), 1u);
    EXPECT_EQ(overview[0], "14:03:07:045 GET /t.gif from (Anna) 127.0.0.1:" +
                               std::to_string(PeerPortOfClient(client)) +
                               " - [127.0.0.1] Ref.:  UA: TestAgent/1.0");

    const std::vector<std::string> detailBlock = {
        "",
        "2026/12/07 14:03:07:045 -------------- ",
        "NICKNAME: Anna",
        "From: 127.0.0.1 [127.0.0.1]",
        "Command: GET",
        "Document: /t.gif",
        "--- URI PARAMS START:",
        "id=5",
        "--- URI PARAMS END",
        "--- HTTP HEADERS START:",
        "Host: 10.0.0.1:88",
        "Accept: */*",
        "User-Agent: TestAgent/1.0",
        "--- HTTP HEADERS END"};
    std::vector<std::string> expected = detailBlock;
    for (const char* line :
         {"--- RESPONSE HEADER START:", "200 OK", "Date: Mon, 07 Dec 2026 13:03:07 GMT",
          "Connection: close", "Cache-Control: no-cache", "Pragma: no-cache",
          "Expires: Mon, 07 Dec 2026 13:03:10 GMT", "Last-Modified: Sat, 05 Dec 2026 23:00:00 GMT",
          "--- RESPONSE HEADER END"})
        expected.push_back(line);
    EXPECT_EQ(Lines(TScreenLog::Detail), expected);

    std::string block;
    for (std::size_t i = 0; i < detailBlock.size(); ++i)
        block += detailBlock[i] + "\r\n";
    EXPECT_EQ(DailyFile(".log2"), block);
    EXPECT_EQ(DailyFile(".log"), "127.0.0.1 - - [07/Dec/2026:14:03:07 +0100] \"GET /t.gif id=5 "
                                 "HTTP/1.1\" 200 43 \"\" \"TestAgent/1.0\"\r\n");
}

} // namespace
