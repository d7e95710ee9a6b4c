// The JSON line of a hit: its exact shape, what the statistics make of the hit compared with
// what they count from its combined line, and hostile texts read back by jq and Python's json;
// through the server, the daily JSON file and the records the store is given.
#include "tracking/THitRecord.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>

#include <gtest/gtest.h>

#include "logging/sk_WebLogging.h"
#include "stats/CombinedLineReader.h"
#include "stats/HitRules.h"
#include "stats/TDayStats.h"
#include "support/LoopbackClient.h"
#include "support/TempDir.h"
#include "tracking/IHitStore.h"
#include "tracking/TrackingFixture.h"

namespace {

THitRecord TypicalHit() {
    THitRecord hit;
    hit.TimeMs = 1796648587045; // 2026-12-07 13:03:07.045 UTC
    hit.UtcOffsetMinutes = 60;
    hit.Instance = "edge-1";
    hit.Address = "10.0.0.7";
    hit.Port = 1077;
    hit.NickName = "Anna";
    hit.Method = "GET";
    hit.Document = "/t.gif";
    hit.Query = "page=%2Fabout&ref=https%3A%2F%2FNews.example%2Fx&page=2";
    hit.Params = DecodedParamsOf(hit.Query);
    hit.Status = 200;
    hit.Size = 43;
    hit.Referer = "https://www.example.org/about?x=1";
    hit.UserAgent = "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0";
    FillDerivedFields(hit);
    return hit;
}

// The combined line the overview file holds for the same hit.
std::string CombinedLineOf(const THitRecord& AHit) {
    TDateTime time = EncodeDateTime(2026, 12, 7, 14, 3, 7, 45);
    return CombinedLogLine(AHit.Host.value_or(AHit.Address.value_or("")), "", "", time,
                           {AHit.Method, " ", AHit.Document, " ", AHit.Query, " HTTP/1.1"},
                           AHit.Status, static_cast<int>(AHit.Size), AHit.UserAgent, AHit.Referer);
}

// Runs a shell command, returning what it printed; the exit status goes to AStatus.
std::string Run(const std::string& ACommand, int& AStatus) {
    std::string out;
    FILE* pipe = ::popen(ACommand.c_str(), "r");
    if (!pipe) {
        AStatus = -1;
        return out;
    }
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    AStatus = ::pclose(pipe);
    return out;
}

// What a reader of the JSON line gets for bytes of a client: UTF-8 as it is, any other byte as
// its Latin-1 character. Written apart from the record's own code, on purpose.
std::string Latin1Repaired(const std::string& ABytes) {
    std::string text;
    for (std::size_t i = 0; i < ABytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(ABytes[i]);
        std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool valid = length > 0 && length <= 4 && c <= 0xF4 && i + length <= ABytes.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(ABytes[i + k]) & 0xC0) == 0x80;
        if (valid && length >= 3) {
            const auto second = static_cast<unsigned char>(ABytes[i + 1]);
            valid = !(c == 0xE0 && second < 0xA0) && !(c == 0xED && second >= 0xA0) &&
                    !(c == 0xF0 && second < 0x90) && !(c == 0xF4 && second >= 0x90);
        }
        if (valid) {
            text.append(ABytes, i, length);
            i += length - 1;
        } else {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string Hex(const std::string& AText) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (char c : AText) {
        hex += kHex[static_cast<unsigned char>(c) >> 4];
        hex += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
    return hex;
}

TEST(HitJsonLineTest, TheLineOfATypicalHit) {
    THitRecord hit = TypicalHit();
    EXPECT_EQ(JsonLineOf(hit),
              "{\"time\":\"2026-12-07T14:03:07.045+01:00\",\"instance\":\"edge-1\","
              "\"address\":\"10.0.0.7\",\"port\":1077,\"nickname\":\"Anna\",\"method\":\"GET\","
              "\"document\":\"/t.gif\",\"query\":\"page=%2Fabout&ref=https%3A%2F%2FNews.example"
              "%2Fx&page=2\",\"params\":{\"page\":\"/about\",\"ref\":\"https://News.example/x\"},"
              "\"status\":200,\"size\":43,\"referer\":\"https://www.example.org/about?x=1\","
              "\"user_agent\":\"Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 "
              "Firefox/120.0\",\"proxy\":\"\",\"pageview\":true,\"bot\":false,\"page\":\"/about\","
              "\"source\":\"news.example\",\"browser\":\"Firefox\"}");

    // The optional fields, where they are; zones west of UTC and at half hours.
    hit.Address.reset();
    hit.Visitor = "v1";
    hit.Host = "host.example";
    hit.TLS = "TLSv1.3";
    hit.Proxy = "10.0.0.1";
    hit.UtcOffsetMinutes = -(3 * 60 + 30);
    const std::string line = JsonLineOf(hit);
    EXPECT_EQ(line.find("\"address\""), std::string::npos);
    EXPECT_NE(line.find("\"time\":\"2026-12-07T09:33:07.045-03:30\""), std::string::npos);
    EXPECT_NE(line.find("\"visitor\":\"v1\",\"port\":1077,\"host\":\"host.example\""),
              std::string::npos);
    EXPECT_NE(line.find("\"tls\":\"TLSv1.3\",\"proxy\":\"10.0.0.1\""), std::string::npos);

    // Before 1970 and across the year's end in local time.
    EXPECT_EQ(HitTimeText(-1, 0), "1969-12-31T23:59:59.999+00:00");
    // 2026-12-31 23:59:59.500 UTC
    EXPECT_EQ(HitTimeText(1798761599500, 14 * 60), "2027-01-01T13:59:59.500+14:00");
}

TEST(HitJsonLineTest, DerivedFieldsAreWhatTheStatisticsCountOfTheCombinedLine) {
    const struct {
        const char* Document;
        int Status;
        const char* Query;
        const char* Referer;
        const char* Agent;
    } cases[] = {
        {"/t.gif", 200, "page=%2Fa&ref=http%3A%2F%2FS.example%2F", "", "Firefox/1"},
        {"/T.GIF", 304, "", "https://x.example/r?q#f", "Chrome/1 Safari/1"},
        {"/t.gif", 200, "page=", "", "Mozilla/5.0 (compatible; Googlebot/2.1)"},
        {"/t.gif", 404, "page=x", "", "Firefox/1"},
        {"/index.htm", 200, "", "", "Edg/1"},
        {"/t.gif", 200, "body=1\r\npage=%E2%82%AC", "", "Opera"},
        {"/t.gif", 200, "page=%FF%00x", "", "u"},
    };
    for (const auto& c : cases) {
        THitRecord hit = TypicalHit();
        hit.Document = c.Document;
        hit.Status = c.Status;
        hit.Query = c.Query;
        hit.Referer = c.Referer;
        hit.UserAgent = c.Agent;
        FillDerivedFields(hit);
        TDayStats stats;
        stats.AddLine(CombinedLineOf(hit));
        const TStatsSummary counted = stats.Summary();
        SCOPED_TRACE(c.Query);
        ASSERT_EQ(counted.Hits, 1u);
        EXPECT_EQ(counted.PageViews == 1, hit.PageView);
        EXPECT_EQ(counted.Bots == 1, hit.Bot);
        if (hit.PageView) {
            EXPECT_EQ(counted.Pages.at(0).Name, DisplayName(hit.Page));
            EXPECT_EQ(counted.Sources.at(0).Name, DisplayName(hit.Source));
            EXPECT_EQ(counted.Browsers.at(0).Name, hit.Browser);
        }
    }
    THitRecord hit = TypicalHit();
    hit.Query = "page=" + std::string(300, 'p');
    FillDerivedFields(hit);
    EXPECT_EQ(hit.Page, std::string(197, 'p') + "...");
}

// Writes AHits as JSON lines, lets jq and Python's json read them all, and returns, for each
// line, the hex of the UTF-8 of the texts Python read back, tab-separated, in the order of
// kTexts.
constexpr const char* kTexts[] = {"document", "query",    "referer", "user_agent",
                                  "nickname", "instance", "page",    "source"};

std::vector<std::string> ReadBackByPython(const std::vector<THitRecord>& AHits) {
    TempDir dir;
    std::string lines;
    for (const THitRecord& hit : AHits)
        lines += JsonLineOf(hit) + "\r\n";
    dir.WriteFile("hits.jsonl", lines);
    int status = 0;
    const std::string count = Run("jq -s length " + dir.Path() + "hits.jsonl", status);
    EXPECT_EQ(status, 0) << "jq could not read the lines";
    EXPECT_EQ(count, std::to_string(AHits.size()) + "\n");
    dir.WriteFile("read.py", R"(import json, sys
names = sys.argv[2].split(",")
with open(sys.argv[1], encoding="utf-8", errors="strict", newline="") as f:
    for line in f:
        hit = json.loads(line)
        assert isinstance(hit["params"], dict) and isinstance(hit["pageview"], bool)
        print("\t".join(hit[n].encode("utf-8", "surrogatepass").hex() for n in names))
)");
    std::string names;
    for (const char* name : kTexts)
        names += (names.empty() ? "" : ",") + std::string(name);
    const std::string out =
        Run("python3 " + dir.Path() + "read.py " + dir.Path() + "hits.jsonl " + names, status);
    EXPECT_EQ(status, 0) << "Python could not read the lines";
    std::vector<std::string> result;
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1)
        result.push_back(out.substr(start, end - start));
    return result;
}

std::string HostileText(std::mt19937& ARandom) {
    static const std::string pieces[] = {"\"",
                                         "\\",
                                         "\\u0000",
                                         std::string("\0", 1),
                                         "\r\n",
                                         "\x1B[2J",
                                         "\x7F",
                                         "\xC2\x85",
                                         "\xE2\x80\xA8",
                                         "\xE2\x80\xA9",
                                         "\xC3\xBC",
                                         "\xFF",
                                         "\xC0\xAF",
                                         "\xED\xA0\x80",
                                         "\xF0\x9F\x98",
                                         "\xF0\x9F\x98\x80",
                                         "'; drop table x;--",
                                         "%00%FF%22",
                                         "\t",
                                         "plain text ",
                                         "&a=1",
                                         "=",
                                         "}{]["};
    std::string text;
    const int count = std::uniform_int_distribution<int>(0, 12)(ARandom);
    for (int i = 0; i < count; ++i)
        text +=
            pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(ARandom)];
    if (std::uniform_int_distribution<int>(0, 9)(ARandom) == 0)
        text += std::string(3000, '\x01') + "\xE2\x82\xAC"; // far past every limit
    return text;
}

std::string WithoutBlanks(std::string AText) {
    std::replace(AText.begin(), AText.end(), ' ', '_');
    return AText;
}

TEST(HitJsonLineTest, HostileTextsGiveLinesThatJqAndPythonReadBackAsTheCombinedLineHasThem) {
    std::mt19937 random(29);
    std::vector<THitRecord> hits;
    for (int i = 0; i < 10000; ++i) {
        THitRecord hit = TypicalHit();
        // The combined line's request field separates document and query by blanks.
        hit.Document = "/" + WithoutBlanks(HostileText(random));
        hit.Query = WithoutBlanks(HostileText(random));
        hit.Params = DecodedParamsOf(hit.Query);
        hit.Referer = HostileText(random);
        hit.UserAgent = HostileText(random);
        hit.NickName = HostileText(random);
        hit.Instance = HostileText(random);
        FillDerivedFields(hit);
        hits.push_back(std::move(hit));
    }
    const std::vector<std::string> read = ReadBackByPython(hits);
    ASSERT_EQ(read.size(), hits.size());

    for (std::size_t i = 0; i < hits.size(); ++i) {
        const THitRecord& hit = hits[i];
        // The combined line's fields of the same hit, with its escapes undone.
        const std::string line = CombinedLineOf(hit);
        THitLine combined;
        ASSERT_TRUE(ReadCombinedLine(line, combined));
        const std::string sent[] = {combined.Document,  combined.Params, combined.Referer,
                                    combined.UserAgent, hit.NickName,    hit.Instance,
                                    hit.Page,           hit.Source};
        const std::string bytes[] = {hit.Document, hit.Query,    hit.Referer, hit.UserAgent,
                                     hit.NickName, hit.Instance, hit.Page,    hit.Source};
        const bool requestCut = line.find(std::string(LogCutMark) + "\" 200 ") != line.npos;
        std::size_t at = 0;
        for (std::size_t k = 0; k < std::size(kTexts); ++k) {
            const std::size_t end = std::min(read[i].find('\t', at), read[i].size());
            const std::string got = read[i].substr(at, end - at);
            at = end + 1;
            const std::string whole = Latin1Repaired(bytes[k]);
            SCOPED_TRACE(std::string(kTexts[k]) + " of line " + std::to_string(i));
            // The combined line holds the same text, unless it had to cut it (document and
            // query share one field, so a long document leaves no room for the query).
            if (sent[k] != bytes[k]) {
                EXPECT_TRUE(sent[k].ends_with(LogCutMark) || (k < 2 && requestCut));
            }
            if (Hex(whole) == got)
                continue;
            // Cut: a start of the text, then the mark; far shorter than the text.
            const std::string mark = Hex(std::string(LogCutMark));
            ASSERT_GT(got.size(), mark.size());
            EXPECT_EQ(got.substr(got.size() - mark.size()), mark);
            EXPECT_EQ(Hex(whole).rfind(got.substr(0, got.size() - mark.size()), 0), 0u);
            EXPECT_LE(got.size() / 2, HitQueryLimit + mark.size() / 2);
        }
    }
}

} // namespace

namespace {

// Keeps the records the service hands to a store; any thread.
class TKeptRecords : public IHitStore {
public:
    void Enqueue(THitRecord AHit) override {
        std::lock_guard<std::mutex> guard(FLock);
        FHits.push_back(std::move(AHit));
    }
    std::vector<THitRecord> Hits() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FHits;
    }

private:
    mutable std::mutex FLock; // guards FHits
    std::vector<THitRecord> FHits;
};

// The service's own store for one test: each start makes one that hands its records on.
class TStoreForTest {
public:
    explicit TStoreForTest(std::shared_ptr<TKeptRecords> AKept) {
        SetHitStoreFactory([AKept](THitStoreSettings ASettings) -> std::unique_ptr<IHitStore> {
            struct TForward : IHitStore {
                std::shared_ptr<TKeptRecords> Kept;
                void Enqueue(THitRecord AHit) override { Kept->Enqueue(std::move(AHit)); }
            };
            EXPECT_EQ(ASettings.Connection, "host=/nowhere");
            auto store = std::make_unique<TForward>();
            store->Kept = AKept;
            return store;
        });
    }
    ~TStoreForTest() { SetHitStoreFactory(nullptr); }
};

// Bytes a request line or a header line carries as they are: no blank, line break or NUL.
std::string HostileWord(std::mt19937& ARandom, bool AInHeader) {
    static const std::string pieces[] = {
        "\"",           "'",        "%22", "\xFF", "\xC0\xAF", "\xE2\x80\xA8", "\xC3", "<",  "%00",
        "\xED\xA0\x80", "\xC2\x85", "{",   "}",    "a=b&c=",   "\x1B[2J",      "\x7F", "\t", "\\"};
    // The request line keeps its control bytes and backslashes out: the target ends at them.
    const std::size_t usable = AInHeader ? std::size(pieces) : std::size(pieces) - 4;
    std::string text;
    for (int n = static_cast<int>(ARandom() % 6); n >= 0; --n)
        text += pieces[ARandom() % usable];
    return text;
}

using HitJsonFileTest = TrackingFixture;

// Through the server: every hit the overview file takes is one line of the JSON file, which jq
// and Python read whatever the client sent, and the same record goes to the store; hits of
// the no-log list go to neither.
TEST_F(HitJsonFileTest, EachRecordedHitIsOneJsonLineAndTheSameRecordReachesTheStore) {
    auto kept = std::make_shared<TKeptRecords>();
    TStoreForTest store(kept);
    Configure([](TKAV_GeneralConfig& AConfig) {
        AConfig.OverviewLogToScreen = AConfig.DetailLogToScreen = AConfig.DetailLogToFile = false;
        AConfig.ExportJsonFile = true;
        AConfig.ExportInstance = "edge-1";
        AConfig.StoreConnection = "host=/nowhere";
        AConfig.NoLogs = {"127.0.0.2"};
    });
    Start();
    std::mt19937 random(2029);
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i) {
        const std::string target = "/" + HostileWord(random, false) + ".gif?" +
                                   HostileWord(random, false) + "=" + HostileWord(random, false);
        const std::string answer =
            Request("GET " + target + " HTTP/1.1\r\nUser-Agent: " + HostileWord(random, true) +
                    "\r\nReferer: " + HostileWord(random, true) + "\r\n\r\n");
        ASSERT_EQ(StatusOf(answer), 200) << i << ": " << target;
    }
    LoopbackClient unlisted;
    ASSERT_TRUE(unlisted.Connect(FPort, "127.0.0.2"));
    ASSERT_TRUE(unlisted.Send("GET /t.gif HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(StatusOf(unlisted.ReadUntilClose()), 200);
    FService->StartStopServer(false);

    const std::string json = DailyFile(".jsonl");
    const std::vector<THitRecord> records = kept->Hits();
    ASSERT_EQ(records.size(), std::size_t(Count));
    const std::string combined = OverviewFile();
    std::size_t at = 0, combinedAt = 0;
    for (const THitRecord& record : records) {
        const std::size_t end = json.find('\n', at), combinedEnd = combined.find('\n', combinedAt);
        ASSERT_NE(end, std::string::npos);
        ASSERT_NE(combinedEnd, std::string::npos);
        EXPECT_EQ(json.substr(at, end - at), JsonLineOf(record));
        THitLine line;
        ASSERT_TRUE(ReadCombinedLine(combined.substr(combinedAt, combinedEnd - combinedAt), line));
        at = end + 1;
        combinedAt = combinedEnd + 1;
        EXPECT_EQ(line.Document, record.Document);
        EXPECT_EQ(line.Params, record.Query);
        EXPECT_EQ(line.Referer, record.Referer);
        EXPECT_EQ(line.UserAgent, record.UserAgent);
        EXPECT_EQ(line.Status, record.Status);
        EXPECT_EQ(record.Instance, "edge-1");
        EXPECT_EQ(record.Address, "127.0.0.1");
    }
    EXPECT_EQ(combinedAt, combined.size());
    EXPECT_EQ(at, json.size());
    int status = 0;
    EXPECT_EQ(
        ::Run("jq -c .instance " + FDir.Path() + DailyFileName(".jsonl") + " | sort | uniq -c",
              status),
        "   " + std::to_string(Count) + " \"edge-1\"\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(::Run("python3 -c 'import json,sys; print(sum(1 for l in open(sys.argv[1], "
                    "encoding=\"utf-8\", errors=\"strict\") if json.loads(l)))' " +
                        FDir.Path() + DailyFileName(".jsonl"),
                    status),
              std::to_string(Count) + "\n");
}

} // namespace
