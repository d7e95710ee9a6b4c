// What each privacy setting makes of a hit's records on loopback: masked addresses, visitor
// ids across a restart and a day, Do-Not-Track, redacted credentials, refusal lines.
#include "tracking/HitPrivacy.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "http/TNetHeaderList.h"
#include "support/LoopbackClient.h"
#include "support/TempDir.h"
#include "tracking/TVisitorKeys.h"
#include "tracking/TrackingFixture.h"

namespace {

using PrivacyTest = TrackingFixture;

// 2026-12-07 13:03:07.045 UTC: 14:03:07.045 in the zone the records below are written for.
constexpr long long HitTimeMs = 1796648587045LL;
const bool gZoneSet = (SetZone("Europe/Berlin"), true);

// Every text of one hit's records, the stamps fixed by the clock.
struct THitRecords {
    std::string Overview;   // the overview screen line, "{port}" for the proxy's port
    std::string DetailFile; // the block as the file holds it
    std::string FileLine;   // the combined line without its line end
    std::vector<std::string> DetailScreen;
};

std::string Replaced(std::string AText, const std::string& AFrom, const std::string& ATo) {
    for (std::size_t at = AText.find(AFrom); at != std::string::npos;
         at = AText.find(AFrom, at + ATo.size()))
        AText.replace(at, AFrom.size(), ATo);
    return AText;
}

// Runs a shell command, returning what it printed; the exit status goes to AStatus.
std::string RunCommand(const std::string& ACommand, int& AStatus) {
    std::string out;
    FILE* pipe = ::popen(ACommand.c_str(), "r");
    if (!pipe) {
        AStatus = -1;
        return out;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    AStatus = ::pclose(pipe);
    return out;
}

} // namespace

// Through a trusted proxy, so that the client may have any address; names are looked up (every
// address has one), nicknames on. The same request under each setting.
TEST_F(PrivacyTest, EachSettingShapesEveryRecordOfAHit) {
    ASSERT_TRUE(gZoneSet);
    Configure([](TKAV_GeneralConfig& C) {
        C.TrustedProxies = "127.0.0.1";
        C.UseNickNames = true;
        C.NickNames = {"203.0.113.7=Anna", "2001:db8:1:2::7=Ben"};
        C.ResolveHostNames = true;
    });
    FService = std::make_unique<TTrackingService>(FScreen);
    FService->SetHostNameLookupForTesting([](const std::string&) { return "visitor.example"; },
                                          THostNameCache::TLimits());
    Start();
    SetTestClockUtcMs(HitTimeMs);

    auto hit = [&](const std::string& AHeaders) {
        const std::size_t detailSize = DetailFile().size(), lineSize = OverviewFile().size();
        const std::size_t screenSize = Lines(TScreenLog::Detail).size();
        LoopbackClient proxy;
        EXPECT_TRUE(proxy.Connect(FPort));
        EXPECT_TRUE(proxy.Send("GET /t.gif?id=5 HTTP/1.1\r\nHost: stats.example\r\n" + AHeaders +
                               "User-Agent: UA\r\n\r\n"));
        EXPECT_EQ(StatusOf(proxy.ReadUntilClose()), 200);
        THitRecords records;
        records.Overview = Replaced(Lines(TScreenLog::Overview).back(),
                                    std::to_string(proxy.LocalPort()), "{port}");
        records.DetailFile = DetailFile().substr(detailSize);
        const std::string line = OverviewFile().substr(lineSize);
        records.FileLine = line.substr(0, line.size() - 2);
        const std::vector<std::string> screen = Lines(TScreenLog::Detail);
        records.DetailScreen.assign(screen.begin() + static_cast<std::ptrdiff_t>(screenSize),
                                    screen.end());
        return records;
    };
    const std::string stamp = "14:03:07:045 GET /t.gif from ";
    const std::string date = " [07/Dec/2026:14:03:07 +0100] \"GET /t.gif id=5 HTTP/1.1\" 200 43 ";
    const std::string blockStart = "\r\n2026/12/07 14:03:07:045 -------------- \r\n";
    const std::string request = "Command: GET\r\nDocument: /t.gif\r\n--- URI PARAMS START:\r\n"
                                "id=5\r\n--- URI PARAMS END\r\n--- HTTP HEADERS START:\r\n";
    const struct {
        const char* Name;
        std::function<void(TKAV_GeneralConfig&)> Settings;
        std::string Headers;
        std::string Overview, FileLine, DetailFile;
    } cases[] = {
        {"no mask: the name is looked up", [](TKAV_GeneralConfig&) {},
         "X-Forwarded-For: 203.0.113.7\r\n",
         stamp + "(Anna) 203.0.113.7:{port} - [visitor.example] Ref.:  UA: UA",
         "visitor.example - -" + date + "\"\" \"UA\"",
         blockStart +
             "NICKNAME: Anna\r\nFrom: visitor.example [203.0.113.7]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: 203.0.113.7\r\nUser-Agent: UA\r\n"
             "--- HTTP HEADERS END\r\n"},
        {"IPv4 masked to 16 bits, the nickname of the full address, no name",
         [](TKAV_GeneralConfig& C) { C.MaskAddresses = true; }, "X-Forwarded-For: 203.0.113.7\r\n",
         stamp + "(Anna) 203.0.0.0:{port} - [203.0.0.0] Ref.:  UA: UA",
         "203.0.0.0 - -" + date + "\"\" \"UA\"",
         blockStart + "NICKNAME: Anna\r\nFrom: 203.0.0.0 [203.0.0.0]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: [redacted, 11 bytes]\r\nUser-Agent: UA\r\n"
             "--- HTTP HEADERS END\r\n"},
        {"IPv4 masked to 24 bits", [](TKAV_GeneralConfig& C) { C.KeepIPv4Bits = 24; },
         "X-Forwarded-For: 203.0.113.7\r\n",
         stamp + "(Anna) 203.0.113.0:{port} - [203.0.113.0] Ref.:  UA: UA",
         "203.0.113.0 - -" + date + "\"\" \"UA\"",
         blockStart + "NICKNAME: Anna\r\nFrom: 203.0.113.0 [203.0.113.0]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: [redacted, 11 bytes]\r\nUser-Agent: UA\r\n"
             "--- HTTP HEADERS END\r\n"},
        {"IPv6 masked to 32 bits", [](TKAV_GeneralConfig&) {},
         "X-Forwarded-For: 2001:db8:1:2::7\r\n",
         stamp + "(Ben) [2001:db8::]:{port} - [2001:db8::] Ref.:  UA: UA",
         "2001:db8:: - -" + date + "\"\" \"UA\"",
         blockStart + "NICKNAME: Ben\r\nFrom: 2001:db8:: [2001:db8::]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: [redacted, 15 bytes]\r\nUser-Agent: UA\r\n"
             "--- HTTP HEADERS END\r\n"},
        {"IPv6 masked to 64 bits, credentials redacted, folded cookie",
         [](TKAV_GeneralConfig& C) { C.KeepIPv6Bits = 64; },
         "X-Forwarded-For: 2001:db8:1:2::7\r\nAuthorization: Basic Ym9iOnNlY3JldA==\r\n"
         "Cookie: sid=42;\r\n\tuser=bob\r\nProxy-Authorization : x\r\n",
         stamp + "(Ben) [2001:db8:1:2::]:{port} - [2001:db8:1:2::] Ref.:  UA: UA",
         "2001:db8:1:2:: - bob" + date + "\"\" \"UA\"",
         blockStart +
             "NICKNAME: Ben\r\nFrom: 2001:db8:1:2:: [2001:db8:1:2::]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: [redacted, 15 bytes]\r\n"
             "Authorization: [redacted, 22 bytes]\r\nCookie: [redacted, 16 bytes]\r\n"
             "Proxy-Authorization : [redacted, 1 bytes]\r\nUser-Agent: UA\r\n"
             "--- HTTP HEADERS END\r\n"},
        {"credentials as sent when asked for",
         [](TKAV_GeneralConfig& C) {
             C.MaskAddresses = false;
             C.RedactCredentials = false;
         },
         "X-Forwarded-For: 203.0.113.7\r\nCookie: sid=42\r\n",
         stamp + "(Anna) 203.0.113.7:{port} - [visitor.example] Ref.:  UA: UA",
         "visitor.example - -" + date + "\"\" \"UA\"",
         blockStart +
             "NICKNAME: Anna\r\nFrom: visitor.example [203.0.113.7]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: 203.0.113.7\r\nCookie: sid=42\r\n"
             "User-Agent: UA\r\n--- HTTP HEADERS END\r\n"},
        {"Do-Not-Track not honoured", [](TKAV_GeneralConfig&) {},
         "X-Forwarded-For: 203.0.113.7\r\nSec-GPC: 1\r\n",
         stamp + "(Anna) 203.0.113.7:{port} - [visitor.example] Ref.:  UA: UA",
         "visitor.example - -" + date + "\"\" \"UA\"",
         blockStart +
             "NICKNAME: Anna\r\nFrom: visitor.example [203.0.113.7]\r\nProxy: 127.0.0.1\r\n" +
             request +
             "Host: stats.example\r\nX-Forwarded-For: 203.0.113.7\r\nSec-GPC: 1\r\n"
             "User-Agent: UA\r\n--- HTTP HEADERS END\r\n"},
        {"Sec-GPC honoured: nobody, only the request, Referer and User-Agent",
         [](TKAV_GeneralConfig& C) {
             C.HonourDoNotTrack = true;
             C.VisitorIds = true;
         },
         "X-Forwarded-For: 203.0.113.7\r\nSec-GPC: 1\r\nReferer: https://shop.example/\r\n"
         "Authorization: Basic Ym9iOnNlY3JldA==\r\n",
         stamp + "- (Do-Not-Track) Ref.: https://shop.example/ UA: UA",
         "- - -" + date + "\"https://shop.example/\" \"UA\"",
         blockStart + request +
             "Referer: https://shop.example/\r\nUser-Agent: UA\r\n--- HTTP HEADERS END\r\n"},
        {"DNT: 1 honoured", [](TKAV_GeneralConfig&) {},
         "X-Forwarded-For: 203.0.113.7\r\nDNT:  1 \r\n", stamp + "- (Do-Not-Track) Ref.:  UA: UA",
         "- - -" + date + "\"\" \"UA\"",
         blockStart + request + "User-Agent: UA\r\n--- HTTP HEADERS END\r\n"},
    };
    for (const auto& c : cases) {
        Configure(c.Settings);
        const THitRecords records = hit(c.Headers);
        EXPECT_EQ(records.Overview, c.Overview) << c.Name;
        EXPECT_EQ(records.FileLine, c.FileLine) << c.Name;
        EXPECT_EQ(records.DetailFile, c.DetailFile) << c.Name;
        // The detail screen log shows the same block, then the answer's lines.
        std::string shown;
        for (const std::string& line : records.DetailScreen) {
            if (line == "--- RESPONSE HEADER START:")
                break;
            shown += line + "\r\n";
        }
        EXPECT_EQ(shown, c.DetailFile) << c.Name;
    }
    // "DNT: 0" and "Sec-GPC: 2" ask nothing.
    TNetHeaderList headers;
    for (const char* line : {"DNT: 0", "Sec-GPC: 2", "X-DNT: 1", "Sec-GPC:"})
        headers.Add(line);
    EXPECT_FALSE(AsksNotToBeTracked(headers));
}

// A visitor keeps the id all day, across a restart, and gets another one the next day; the key
// file is the program directory's, readable by its owner alone, and holds only today's key.
TEST_F(PrivacyTest, VisitorIdsHoldForOneDayAcrossARestart) {
    Configure([](TKAV_GeneralConfig& C) {
        C.MaskAddresses = true;
        C.VisitorIds = true;
    });
    Start();
    SetTestClockUtcMs(HitTimeMs);
    // The id from the combined line's identity field, checked against the detail block's line.
    auto idOf = [&](const std::string& AAgent, const std::string& AHost = "stats.example") {
        const std::size_t detailSize = DetailFile().size(), lineSize = OverviewFile().size();
        EXPECT_EQ(StatusOf(Request("GET /t.gif HTTP/1.1\r\nHost: " + AHost +
                                   "\r\nUser-Agent: " + AAgent + "\r\n\r\n")),
                  200);
        const std::string line = OverviewFile().substr(lineSize);
        std::smatch match;
        if (!std::regex_search(line, match, std::regex("^127\\.0\\.0\\.0 ([0-9a-f]{16}) - \\[")))
            return "no id in: " + line;
        EXPECT_NE(DetailFile().find(
                      "\r\nFrom: 127.0.0.0 [127.0.0.0]\r\nVisitor: " + match[1].str() + "\r\n",
                      detailSize),
                  std::string::npos);
        return match[1].str();
    };
    const std::string first = idOf("UA");
    EXPECT_EQ(first.size(), 16u) << first;
    EXPECT_EQ(idOf("UA"), first);
    EXPECT_NE(idOf("UA2"), first);
    EXPECT_NE(idOf("UA", "other.example"), first);
    // Length-prefixed fields: moving a byte from one field to the next is another visitor.
    EXPECT_NE(idOf("UA", "stats.exampl"), idOf("UAe", "stats.exampl"));

    struct stat info {};
    ASSERT_EQ(::stat(VisitorKeyFilePath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const std::string todaysKey = FDir.ReadFile("sk_KAV.visitorkey");
    EXPECT_EQ(todaysKey.rfind("20261207 ", 0), 0u) << todaysKey;

    FService.reset(); // a restart on the same day
    Start();
    EXPECT_EQ(idOf("UA"), first);

    // At midnight the tick replaces the key in the same file, before any hit of the new day.
    SetTestClockUtcMs(HitTimeMs + 11 * 3600 * 1000LL); // 01:03 local on the 8th
    FService->Tick();
    const std::string newKey = FDir.ReadFile("sk_KAV.visitorkey");
    EXPECT_EQ(newKey.rfind("20261208 ", 0), 0u) << newKey;
    EXPECT_EQ(newKey.size(), todaysKey.size());
    EXPECT_EQ(newKey.find(todaysKey.substr(9, 64)), std::string::npos);
    struct stat after {};
    ASSERT_EQ(::stat(VisitorKeyFilePath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, info.st_ino); // overwritten where it was, not replaced
    const std::string nextDay = idOf("UA");
    EXPECT_EQ(nextDay.size(), 16u);
    EXPECT_NE(nextDay, first);
}

// Without a key file that can be written, ids still come, for this run; the Messages list
// says why they will change at the next start.
TEST(VisitorKeysTest, AKeyFileThatCannotBeWrittenIsToldOnce) {
    TempDir dir;
    std::vector<std::string> told;
    TVisitorKeys keys(dir.Path() + "missing/sk_KAV.visitorkey",
                      [&](const std::string& AText) { told.push_back(AText); });
    EXPECT_EQ(keys.KeyDay(), -1);
    const std::string id = keys.VisitorId(46000, "10.0.0.7", "UA", "h");
    EXPECT_EQ(id.size(), 16u);
    EXPECT_EQ(keys.VisitorId(46000, "10.0.0.7", "UA", "h"), id);
    EXPECT_EQ(keys.VisitorId(45999, "10.0.0.7", "UA", "h"), id); // the day before: today's key
    EXPECT_NE(keys.VisitorId(46001, "10.0.0.7", "UA", "h"), id);
    EXPECT_EQ(keys.KeyDay(), 46001);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("cannot be written: the ids change at the next start"),
              std::string::npos);
    keys.Renew(46000); // an older day changes nothing
    EXPECT_EQ(keys.KeyDay(), 46001);

    // A damaged file is no key: a new one is made and written over it.
    dir.WriteFile("damaged", "20261207 xyz\n");
    TVisitorKeys fromDamaged(dir.Path() + "damaged", nullptr);
    EXPECT_EQ(fromDamaged.KeyDay(), -1);
    fromDamaged.Renew(46001); // none held: none made
    EXPECT_EQ(fromDamaged.KeyDay(), -1);
    EXPECT_EQ(fromDamaged.VisitorId(46001, "10.0.0.7", "UA", "h").size(), 16u);
    EXPECT_EQ(dir.ReadFile("damaged").size(), 74u);
}

// Old day files go at the first tick and at the day change, of every kind the program writes;
// names that only look like them stay. One Messages line each time, none on other ticks.
TEST_F(PrivacyTest, KeepLogDaysRemovesOldDayFilesAtStartAndEachDayChange) {
    SetTestClockUtcMs(HitTimeMs); // 2026-12-07
    const std::vector<std::string> others = {"20261101.log.bak", "notes.log", "2026110.log2",
                                             "x20261101.jsonl"};
    for (const std::string& name : others)
        FDir.WriteFile(name, "x");
    for (const char* name : {"20261204.log", "20261204.log2", "20261205.jsonl", "20261206.log"})
        FDir.WriteFile(name, "x");
    Configure([](TKAV_GeneralConfig& C) { C.KeepLogDays = 2; });
    Start();
    const std::string line = "Log files older than 2 days removed from \"" + FDir.Path() + "\": ";
    FService->Tick();
    EXPECT_NE(Messages().find(line + "2\n"), std::string::npos) << Messages();
    EXPECT_FALSE(FDir.Exists("20261204.log") || FDir.Exists("20261204.log2"));
    EXPECT_TRUE(FDir.Exists("20261205.jsonl") && FDir.Exists("20261206.log"));
    FService->Tick();
    SetTestClockUtcMs(HitTimeMs + 11 * 3600 * 1000LL); // the 8th
    FService->Tick();
    EXPECT_NE(Messages().find(line + "1\n"), std::string::npos) << Messages();
    EXPECT_FALSE(FDir.Exists("20261205.jsonl"));
    EXPECT_TRUE(FDir.Exists("20261206.log"));
    for (const std::string& name : others)
        EXPECT_TRUE(FDir.Exists(name)) << name;
    const std::string messages = Messages();
    std::size_t told = 0;
    for (std::size_t at = messages.find(line); at != std::string::npos;
         at = messages.find(line, at + 1))
        ++told;
    EXPECT_EQ(told, 2u);
}

// A log analyser reads the masked file as it reads any combined file: the visitor id in the
// identity field, masked IPv4 and IPv6 hosts, escaped client texts. The lines of Do-Not-Track
// hits ("-" for the host) need its address check off, as the README says.
TEST_F(PrivacyTest, GoAccessReadsTheMaskedFileWithoutAFailedLine) {
    if (::access("/usr/bin/goaccess", X_OK) != 0)
        GTEST_SKIP() << "goaccess is not installed (tools/deps.sh test installs it)";
    Configure([](TKAV_GeneralConfig& C) {
        C.TrustedProxies = "127.0.0.1";
        C.MaskAddresses = true;
        C.VisitorIds = true;
        C.HonourDoNotTrack = true;
    });
    Start();
    const std::vector<std::string> clients = {"203.0.113.7", "2001:db8:1:2::7", "::ffff:10.0.0.7"};
    for (const std::string& client : clients)
        for (const char* extra : {"", "Authorization: Basic Ym9iOnNlY3JldA==\r\n",
                                  "Referer: https://shop.example/a \"b\"\r\n"})
            EXPECT_EQ(StatusOf(Request("GET /t.gif?page=%2F&ref= HTTP/1.1\r\nHost: s.example\r\n"
                                       "X-Forwarded-For: " +
                                       client + "\r\n" + extra +
                                       "User-Agent: Mozilla/5.0 (X11) \x01\r\n\r\n")),
                      200);
    const std::string masked = OverviewFile();
    EXPECT_EQ(Request("GET /t.gif HTTP/1.1\r\nSec-GPC: 1\r\nUser-Agent: UA\r\n\r\n").empty(),
              false);
    FDir.WriteFile("masked.log", masked);
    auto failedLines = [&](const std::string& AFile, const std::string& AOptions) {
        int status = -1;
        const std::string out =
            RunCommand("timeout 60 goaccess '" + FDir.Path() + AFile +
                           "' --log-format=COMBINED --no-global-config " + AOptions + " -o '" +
                           FDir.Path() + "report.json' 2>&1",
                       status);
        EXPECT_EQ(status, 0) << out;
        const std::string report = FDir.ReadFile("report.json");
        std::smatch valid, failed;
        EXPECT_TRUE(std::regex_search(report, valid, std::regex("\"valid_requests\": ?([0-9]+)")));
        EXPECT_TRUE(
            std::regex_search(report, failed, std::regex("\"failed_requests\": ?([0-9]+)")));
        return std::to_string(valid.size() > 1 ? std::stoi(valid[1]) : -1) + " valid, " +
               std::to_string(failed.size() > 1 ? std::stoi(failed[1]) : -1) + " failed";
    };
    EXPECT_EQ(failedLines("masked.log", ""), "9 valid, 0 failed");
    EXPECT_EQ(failedLines(DailyFileName(".log"), "--no-ip-validation"), "10 valid, 0 failed");
}
