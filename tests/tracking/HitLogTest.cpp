#include "tracking/THitLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>

#include "logging/LogText.h"
#include "logging/TSKX_Logger.h"
#include "support/FailingWrite.h"
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

    const std::vector<std::string> detailBlock = {"",
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

// No byte below 0x20 or 0x7F, nor a byte of invalid UTF-8, leaves as it came: a decoded
// %0D%0A cannot start a forged record, escape sequences never reach a terminal, and a user name
// with blanks and brackets cannot shift the fields of the combined line.
TEST_F(HitRecordTest, HostileTextsAreEscapedInEveryRecord) {
    Start();
    std::string answer =
        Request("GET /a\x1B[2Jb.gif?x=%0D%0AFrom:%206.6.6.6&y=%1B%5D0%3Bpwn%07 HTTP/1.1\r\n"
                "User-Agent: UA\x1B]0;t\x07 \xC3\xA9 \xFF\r\nReferer: r\x7F\r\n"
                "Authorization: Basic YSBiIFtjXSBkOnB3\r\n\r\n");
    ASSERT_EQ(StatusOf(answer), 200);

    auto clean = [](const std::string& AText) {
        for (std::size_t i = 0; i < AText.size(); ++i) {
            const auto c = static_cast<unsigned char>(AText[i]);
            bool lineEnd = c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n';
            lineEnd = lineEnd || (c == '\n' && i > 0 && AText[i - 1] == '\r');
            if (((c < 0x20 || c == 0x7F) && !lineEnd) || c == 0xFF)
                return false;
        }
        return true;
    };
    const std::vector<std::string> overview = Lines(TScreenLog::Overview);
    ASSERT_EQ(overview.size(), 1u);
    EXPECT_TRUE(clean(overview[0])) << overview[0];
    EXPECT_NE(overview[0].find(" GET /a\\x1B[2Jb.gif from "), std::string::npos) << overview[0];
    EXPECT_NE(overview[0].find("Ref.: r\\x7F UA: UA\\x1B]0;t\\x07 \xC3\xA9 \\xFF"),
              std::string::npos)
        << overview[0];

    const std::vector<std::string> detail = Lines(TScreenLog::Detail);
    EXPECT_NE(std::find(detail.begin(), detail.end(), "x=\\x0D\\x0AFrom: 6.6.6.6"), detail.end());
    EXPECT_NE(std::find(detail.begin(), detail.end(), "y=\\x1B]0;pwn\\x07"), detail.end());
    const std::string file = DetailFile();
    EXPECT_TRUE(clean(file));
    std::size_t froms = 0;
    for (std::size_t at = 0; (at = file.find("\r\nFrom: ", at)) != std::string::npos; ++at)
        ++froms;
    EXPECT_EQ(froms, 1u) << file;

    const std::string log = OverviewFile();
    EXPECT_TRUE(clean(log));
    EXPECT_EQ(log.rfind("127.0.0.1 - a\\x20b\\x20\\x5Bc\\x5D\\x20d [", 0), 0u) << log;
    EXPECT_NE(log.find("\"GET /a\\x1B[2Jb.gif x=%0D%0AFrom:%206.6.6.6&y=%1B%5D0%3Bpwn%07 "
                       "HTTP/1.1\" 200 43 \"r\\x7F\" \"UA\\x1B]0;t\\x07 \\xC3\\xA9 \\xFF\""),
              std::string::npos)
        << log;
}

// However much a client sends, a hit writes a few KiB: every value is cut at 2048 bytes (the
// request field at 4096), the parameters and the header lines of the detail block as a whole.
TEST_F(HitRecordTest, ARecordIsBoundedWhateverTheClientSends) {
    Start();
    std::string body;
    while (body.size() < 60000)
        body += "a=" + std::to_string(body.size()) + "&";
    std::string headers = "User-Agent: " + std::string(3000, 'u') + "\r\n";
    for (int i = 0; i < 20; ++i)
        headers += "X-Long-" + std::to_string(i) + ": " + std::string(1000, 'h') + "\r\n";
    std::string request = "POST /robots.txt HTTP/1.1\r\n" + headers +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ASSERT_EQ(StatusOf(Request(request)), 405);

    const std::string log = OverviewFile();
    EXPECT_LT(log.size(), 3 * LogFieldLimit + LogRequestLimit + 200);
    EXPECT_NE(log.find("\"POST /robots.txt a=0&a=4&"), std::string::npos);
    EXPECT_NE(log.find("...\" 405 0 \"\" \"" + std::string(LogFieldLimit, 'u') + "...\"\r\n"),
              std::string::npos);

    const std::string block = DetailFile();
    EXPECT_LT(block.size(), DetailParamsLimit + DetailHeadersLimit + 4 * LogFieldLimit);
    EXPECT_NE(block.find("...\r\n--- URI PARAMS END\r\n"), std::string::npos);
    EXPECT_NE(block.find("User-Agent: " + std::string(LogFieldLimit - 12, 'u') + "...\r\n"),
              std::string::npos);
    EXPECT_NE(block.find("...\r\n--- HTTP HEADERS END\r\n"), std::string::npos);
    EXPECT_EQ(block.find("Content-Length"), std::string::npos); // cut before it
}

// The log writers fail at every point of two hits in turn: the record being written is lost
// whole, every other one is there whole, the failure is told once, and the next hit is logged.
TEST_F(HitRecordTest, AFailedWriteAtAnyPointLeavesOnlyWholeRecords) {
    Start();
    FScreen->Clear(TScreenLog::Messages);
    for (TWriteFault fault : {TWriteFault::Fail, TWriteFault::Short}) {
        // Two hits make four records (detail file first); a short write takes a second call.
        for (int failAt = 1; failAt <= 4; ++failAt) {
            SCOPED_TRACE(std::to_string(failAt) + (fault == TWriteFault::Short ? " short" : ""));
            for (const char* name : {".log", ".log2"})
                std::remove((FDir.Path() + DailyFileName(name)).c_str());
            FService->SetLogFileWriteForTesting(FailingWrite(failAt, fault));
            Get("/one.gif");
            Get("/two.gif");
            FService->SetLogFileWriteForTesting(nullptr);
            Get("/three.gif");

            const std::string log = OverviewFile(), detail = DetailFile();
            const int lostLine = failAt == 2 ? 1 : failAt == 4 ? 2 : 0;
            const int lostBlock = failAt == 1 ? 1 : failAt == 3 ? 2 : 0;
            for (int hit = 1; hit <= 3; ++hit) {
                const std::string doc = hit == 1   ? "/one.gif"
                                        : hit == 2 ? "/two.gif"
                                                   : "/three.gif";
                EXPECT_EQ(log.find("\"GET " + doc) != std::string::npos, hit != lostLine) << doc;
                EXPECT_EQ(detail.find("Document: " + doc) != std::string::npos, hit != lostBlock)
                    << doc;
            }
            // Every line and every block is whole: a record starts where a record starts.
            static const std::regex lines("(127\\.0\\.0\\.1 - - \\[[^\\]]+\\] \"GET /[a-z]+\\.gif  "
                                          "HTTP/1\\.1\" 200 43 \"\" \"\"\r\n)+");
            static const std::regex blocks("(\r\n[0-9/]{10} [0-9:]{12} -------------- \r\n"
                                           "From: 127\\.0\\.0\\.1 \\[127\\.0\\.0\\.1\\]\r\n"
                                           "Command: GET\r\nDocument: /[a-z]+\\.gif\r\n"
                                           "--- HTTP HEADERS START:\r\nHost: 127\\.0\\.0\\.1\r\n"
                                           "--- HTTP HEADERS END\r\n)+");
            EXPECT_TRUE(std::regex_match(log, lines)) << log;
            EXPECT_TRUE(std::regex_match(detail, blocks)) << detail;
        }
    }
    // Eight failed writes: the first is told, the seven repeats within the minute counted.
    FService->StartStopServer(false);
    const std::string messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 4) << messages;
    EXPECT_NE(messages.find("Error writing Logfile: 7 more lines of this kind left out\n"),
              std::string::npos)
        << messages;
}

} // namespace
