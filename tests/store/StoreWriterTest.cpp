// Delivery to a real PostgreSQL server of the test's own: the schema made once and found
// again, batches read back as the statistics their combined lines give, a database paused and
// stopped under load, a writer process killed mid-batch, hostile texts, and what becomes of
// hits that cannot be kept.
#include "store/TStoreWriter.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "logging/sk_WebLogging.h"
#include "stats/HitRules.h"
#include "store/StoreSchema.h"
#include "store/StoreStats.h"
#include "store/StoreTestHits.h"
#include "store/TStoreSpool.h"
#include "support/TempDir.h"
#include "support/TestPostgres.h"
#include "support/WaitUntil.h"

using namespace std::chrono_literals;

namespace {

// One server for the program, made when a test first needs it.
TTestPostgres* Server() {
    return SharedTestPostgres();
}

// A writer's Messages lines; any thread.
class TMessages {
public:
    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& ALine) {
            std::lock_guard<std::mutex> guard(FLock);
            FLines.push_back(ALine);
        };
    }
    int Count(const std::string& APart) const {
        std::lock_guard<std::mutex> guard(FLock);
        return static_cast<int>(std::count_if(FLines.begin(), FLines.end(), [&](auto& ALine) {
            return ALine.find(APart) != std::string::npos;
        }));
    }
    std::string All() const {
        std::lock_guard<std::mutex> guard(FLock);
        std::string all;
        for (const std::string& line : FLines)
            all += line + "\n";
        return all;
    }

private:
    mutable std::mutex FLock; // guards FLines
    std::vector<std::string> FLines;
};

TStoreWriterOptions FastOptions(const std::string& AConnection, const TempDir& ASpool,
                                TMessages& AMessages) {
    TStoreWriterOptions options;
    options.Connection = AConnection;
    options.SpoolDir = ASpool.Path() + "spool";
    options.BatchDelay = 20ms;
    options.DatabaseTimeout = 600ms;
    options.FirstRetryDelay = 50ms;
    options.LastRetryDelay = 200ms;
    options.ReportInterval = 200ms;
    options.OnMessage = AMessages.Sink();
    return options;
}

std::uint64_t RowCount(const std::string& ADatabase, const std::string& AWhere = "true") {
    try {
        return std::stoull(
            Server()->Value(ADatabase, "SELECT count(*) FROM skav_hits WHERE " + AWhere));
    } catch (const std::exception&) {
        return 0; // no table yet
    }
}

bool WaitForRows(const std::string& ADatabase, std::uint64_t ARows,
                 std::chrono::milliseconds ATimeout = 30s) {
    return WaitUntil([&] { return RowCount(ADatabase) >= ARows; }, ATimeout);
}

TStoreDeadline Soon() {
    return std::chrono::steady_clock::now() + 30s;
}

// The combined line the overview file holds for the hit, at its own local time.
std::string CombinedLineOf(const THitRecord& AHit) {
    const TDateTime local = (AHit.TimeMs + AHit.UtcOffsetMinutes * 60000.0) / MSecsPerDay + 25569.0;
    return CombinedLogLine(*AHit.Address, "", "", local,
                           {AHit.Method, " ", AHit.Document, " ", AHit.Query, " HTTP/1.1"},
                           AHit.Status, static_cast<int>(AHit.Size), AHit.UserAgent, AHit.Referer);
}

TLogDay LocalDayOf(const THitRecord& AHit) {
    using namespace std::chrono;
    const sys_days day = floor<days>(sys_time<milliseconds>(
        milliseconds(AHit.TimeMs + std::int64_t{AHit.UtcOffsetMinutes} * 60000)));
    const year_month_day date(day);
    return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day()))};
}

void ExpectSameStatistics(const TStatsSummary& AStore, const TStatsSummary& AFiles) {
    EXPECT_EQ(AStore.Hits, AFiles.Hits);
    EXPECT_EQ(AStore.PageViews, AFiles.PageViews);
    EXPECT_EQ(AStore.Visitors, AFiles.Visitors);
    EXPECT_EQ(AStore.Bots, AFiles.Bots);
    EXPECT_EQ(AStore.Hours, AFiles.Hours);
    EXPECT_EQ(AStore.Pages, AFiles.Pages);
    EXPECT_EQ(AStore.Sources, AFiles.Sources);
    EXPECT_EQ(AStore.VisitorNames, AFiles.VisitorNames);
    EXPECT_EQ(AStore.Browsers, AFiles.Browsers);
}

TEST(StoreWriterTest, SchemaIsMadeOnceAndFoundAgainAndANewerOneIsLeftAlone) {
    SKIP_WITHOUT_POSTGRES();
    const std::string database = "schema";
    const std::string connection = Server()->MakeDatabase(database);
    TMessages messages;
    {
        // Three instances that start at the same moment on an empty database.
        TempDir spools[3];
        std::vector<std::unique_ptr<TStoreWriter>> writers;
        for (int i = 0; i < 3; ++i) {
            writers.push_back(
                std::make_unique<TStoreWriter>(FastOptions(connection, spools[i], messages)));
            writers.back()->Enqueue(StoreTestHit(i, "instance-" + std::to_string(i)));
        }
        ASSERT_TRUE(WaitForRows(database, 3)) << messages.All();
    }
    EXPECT_EQ(messages.Count("Store: connected, schema version 1 made"), 1) << messages.All();
    EXPECT_EQ(messages.Count("Store: connected, schema version 1 found"), 2) << messages.All();

    TStoreConnection store;
    ASSERT_TRUE(store.Open(connection, Soon())) << store.Error();
    TSchemaCheck check = EnsureStoreSchema(store, Soon());
    EXPECT_TRUE(check.Usable);
    EXPECT_EQ(check.Text, "schema version 1 found");

    Server()->Query(database, "INSERT INTO skav_schema (version) VALUES (2)");
    check = EnsureStoreSchema(store, Soon());
    EXPECT_FALSE(check.Usable);
    EXPECT_EQ(check.Text, "schema version 2 is newer than this program's (1)");
    TMessages later;
    TempDir spool;
    TStoreWriter writer(FastOptions(connection, spool, later));
    writer.Enqueue(StoreTestHit(3, "instance-3"));
    EXPECT_TRUE(WaitUntil([&] { return later.Count("is newer than this program's") == 1; }));
    writer.Stop();
    EXPECT_EQ(writer.Status().Spooled, 1u); // kept for a program that knows the schema
    EXPECT_EQ(RowCount(database), 3u);
}

TEST(StoreWriterTest, DeliveredHitsCountAsTheirCombinedLinesDoForAnyDaysAndInstance) {
    SKIP_WITHOUT_POSTGRES();
    const std::string database = "delivered";
    const std::string connection = Server()->MakeDatabase(database);
    const char* const instances[] = {"north", "south"};
    std::vector<THitRecord> hits;
    {
        TMessages messages;
        TempDir spools[2];
        TStoreWriter north(FastOptions(connection, spools[0], messages));
        TStoreWriter south(FastOptions(connection, spools[1], messages));
        for (int i = 0; i < 3000; ++i) {
            hits.push_back(StoreTestHit(i, instances[i % 2]));
            (i % 2 == 0 ? north : south).Enqueue(hits.back());
        }
        ASSERT_TRUE(WaitForRows(database, hits.size())) << messages.All();
        EXPECT_EQ(north.Status().NotDelivered + south.Status().NotDelivered, 0u);
    }
    EXPECT_EQ(RowCount(database, "NOT pageview AND NOT bot"),
              static_cast<std::uint64_t>(std::count_if(hits.begin(), hits.end(), [](auto& AHit) {
                  return !AHit.PageView && !AHit.Bot;
              })));

    TStoreConnection store;
    ASSERT_TRUE(store.Open(connection, Soon())) << store.Error();
    std::vector<std::string> found;
    ASSERT_TRUE(ReadStoreInstances(store, Soon(), found)) << store.Error();
    EXPECT_EQ(found, (std::vector<std::string>{"north", "south"}));

    const TLogDay days[] = {
        {2026, 12, 6}, {2026, 12, 7}, {2026, 12, 8}, {2026, 12, 9}, {2026, 12, 10}};
    const std::pair<TLogDay, TLogDay> ranges[] = {
        {days[0], days[0]}, {days[1], days[1]},
        {days[2], days[2]}, {days[3], days[3]},
        {days[4], days[4]}, {days[1], days[3]},
        {days[0], days[4]}, {{2026, 12, 11}, {2026, 12, 12}}};
    for (const auto& [first, last] : ranges)
        for (const std::string instance : {"", "north", "south"}) {
            TDayStats files({"10.0.0.0=Anna"});
            for (const THitRecord& hit : hits)
                if (LocalDayOf(hit) >= first && LocalDayOf(hit) <= last &&
                    (instance.empty() || hit.Instance == instance))
                    files.AddLine(CombinedLineOf(hit));
            TStatsSummary stored;
            ASSERT_TRUE(ReadStoreStats(store, {first, last, instance}, Soon(), stored))
                << store.Error();
            SCOPED_TRACE(IsoDayText(first) + " to " + IsoDayText(last) + " of " + instance);
            ExpectSameStatistics(stored, files.Summary());

            // The range as the files' range report adds it up: each day on its own.
            TRangeFigures range;
            ASSERT_TRUE(ReadStoreRange(store, {first, last, instance, 3}, Soon(), range))
                << store.Error();
            ASSERT_EQ(range.Days.size(), static_cast<std::size_t>(DayCount(first, last)));
            std::uint64_t visitors = 0;
            for (const TDayLine& line : range.Days) {
                TDayStats day({"10.0.0.0=Anna"});
                for (const THitRecord& hit : hits)
                    if (LocalDayOf(hit) == line.Day &&
                        (instance.empty() || hit.Instance == instance))
                        day.AddLine(CombinedLineOf(hit));
                const TStatsSummary expected = day.Summary();
                EXPECT_EQ(line.Status, TReadStatus::Read);
                EXPECT_EQ(line.PageViews, expected.PageViews) << IsoDayText(line.Day);
                EXPECT_EQ(line.Visitors, expected.Visitors) << IsoDayText(line.Day);
                visitors += expected.Visitors;
            }
            EXPECT_EQ(range.Summary.Visitors, visitors);
            EXPECT_EQ(range.Summary.PageViews, stored.PageViews);
            EXPECT_EQ(range.Summary.Hours, stored.Hours);
            EXPECT_EQ(range.Summary.Pages,
                      std::vector<TNameCount>(stored.Pages.begin(),
                                              stored.Pages.begin() +
                                                  std::min<std::size_t>(3, stored.Pages.size())));
        }
}

// Queues numbered hits at a steady pace on a thread of its own until told to stop.
class TSteadyLoad {
public:
    explicit TSteadyLoad(TStoreWriter& AWriter)
        : FThread([this, &AWriter] {
              while (!FStop) {
                  AWriter.Enqueue(StoreTestHit(static_cast<int>(FQueued), "steady"));
                  if (++FQueued % 4 == 0)
                      std::this_thread::sleep_for(2ms);
              }
          }) {}
    ~TSteadyLoad() { Stop(); }
    std::uint64_t Stop() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        return FQueued;
    }

private:
    std::atomic<bool> FStop{false};
    std::atomic<std::uint64_t> FQueued{0};
    std::thread FThread;
};

TEST(StoreWriterTest, ADatabasePausedThenStoppedUnderLoadGetsEveryHitOnce) {
    SKIP_WITHOUT_POSTGRES();
    const std::string database = "outage";
    const std::string connection = Server()->MakeDatabase(database);
    TMessages messages;
    TempDir spool;
    TStoreWriter writer(FastOptions(connection, spool, messages));
    TSteadyLoad load(writer);
    ASSERT_TRUE(WaitForRows(database, 200)) << messages.All();

    auto back = [&] { return messages.Count("takes rows again"); };
    Server()->Pause(); // slow: keeps the connection, answers nothing
    std::this_thread::sleep_for(1500ms);
    Server()->Resume();
    ASSERT_TRUE(WaitUntil([&] { return back() >= 1; }, 30s)) << messages.All();
    const int returns = back();
    Server()->Stop(); // unreachable
    std::this_thread::sleep_for(1000ms);
    Server()->Start();
    ASSERT_TRUE(WaitUntil([&] { return back() > returns; }, 30s)) << messages.All();
    const std::uint64_t queued = load.Stop();

    ASSERT_TRUE(WaitForRows(database, queued)) << messages.All();
    writer.Stop();
    EXPECT_EQ(Server()->Value(database, "SELECT count(*) || ' ' || count(DISTINCT seq) || ' ' || "
                                        "min(seq) || ' ' || max(seq) FROM skav_hits"),
              std::to_string(queued) + " " + std::to_string(queued) + " 1 " +
                  std::to_string(queued));
    const TStoreStatus status = writer.Status();
    EXPECT_GT(status.Spooled, 0u);
    EXPECT_EQ(status.NotDelivered, 0u);
    EXPECT_EQ(status.SpoolBytes, 0u);
    EXPECT_GE(messages.Count("cannot take rows"), 2) << messages.All();
    EXPECT_GE(messages.Count("the spool is replayed"), 1) << messages.All();
}

// Runs the writer process; its pid.
pid_t StartChild(const std::vector<std::string>& AArguments) {
    std::vector<std::string> arguments = AArguments;
    arguments.insert(arguments.begin(), SKAV_STORE_CHILD);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    EXPECT_EQ(::posix_spawn(&child, SKAV_STORE_CHILD, nullptr, nullptr, argv.data(), environ), 0);
    return child;
}

// The exit status of the child, waiting at most ATimeout; -1 when it did not end.
int WaitChild(pid_t AChild, std::chrono::milliseconds ATimeout) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(AChild, &status, WNOHANG) == AChild; }, ATimeout)) {
        ::kill(AChild, SIGKILL);
        ::waitpid(AChild, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::uint64_t SpooledLines(const std::string& ADir) {
    std::uint64_t lines = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ADir, error))
        if (entry.path().extension() == ".rows") {
            std::ifstream in(entry.path(), std::ios::binary);
            lines += static_cast<std::uint64_t>(std::count(std::istreambuf_iterator<char>(in),
                                                           std::istreambuf_iterator<char>(), '\n'));
        }
    return lines;
}

// The sequence numbers of the spool's rows, oldest file first.
std::vector<std::int64_t> SpooledSequences(const std::string& ADir) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(ADir))
        if (entry.path().extension() == ".rows")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::int64_t> sequences;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            std::size_t at = 0;
            for (int field = 0; field < 4 && at != std::string::npos; ++field)
                at = line.find('\t', at + (field > 0));
            sequences.push_back(at == std::string::npos ? -1 : std::stoll(line.substr(at + 1)));
        }
    }
    return sequences;
}

TEST(StoreWriterTest, HitsTakenWhileTheDatabaseKeepsTheWriterWaitingAreSpooledInOrder) {
    SKIP_WITHOUT_POSTGRES();
    const std::string database = "waiting";
    const std::string connection = Server()->MakeDatabase(database);
    TMessages messages;
    TempDir dir;
    std::uint64_t queued = 0;
    {
        TStoreWriter writer(FastOptions(connection, dir, messages));
        TSteadyLoad load(writer);
        ASSERT_TRUE(WaitForRows(database, 200)) << messages.All();
        // A batch waits for its answer up to 600 ms; the hits meanwhile are made into rows
        // behind it, and the stop spools them all, the batch first.
        Server()->Pause();
        std::this_thread::sleep_for(400ms);
        queued = load.Stop();
        writer.Stop();
        Server()->Resume();
        EXPECT_EQ(writer.Status().NotDelivered, 0u);
    }
    const std::vector<std::int64_t> spooled = SpooledSequences(dir.Path() + "spool");
    ASSERT_FALSE(spooled.empty());
    EXPECT_TRUE(std::is_sorted(spooled.begin(), spooled.end()));
    EXPECT_EQ(spooled.back(), static_cast<std::int64_t>(queued));

    TStoreWriter again(FastOptions(connection, dir, messages));
    EXPECT_TRUE(WaitForRows(database, queued)) << messages.All();
    again.Stop();
    EXPECT_EQ(Server()->Value(database, "SELECT count(*) || ' ' || count(DISTINCT seq) || ' ' || "
                                        "max(seq) FROM skav_hits"),
              std::to_string(queued) + " " + std::to_string(queued) + " " + std::to_string(queued));
}

TEST(StoreWriterTest, AWriterKilledWhileBatchesAreInFlightDeliversItsSpoolOnceWhenStartedAgain) {
    SKIP_WITHOUT_POSTGRES();
    const std::string database = "killed";
    const std::string connection = Server()->MakeDatabase(database);
    TempDir dir;
    const std::string spool = dir.Path() + "spool";
    constexpr int Hits = 40000;

    // A paused database: every hit goes to the spool.
    Server()->Pause();
    pid_t child = StartChild({connection, spool, "killed", std::to_string(Hits), "300"});
    const bool spooled = WaitUntil([&] { return SpooledLines(spool) >= Hits; }, 60s);
    Server()->Resume();
    ASSERT_TRUE(spooled) << SpooledLines(spool) << " lines spooled";

    // Killed as soon as the replay is under way.
    ASSERT_TRUE(WaitUntil([&] { return RowCount(database) > 0; }, 30s));
    ::kill(child, SIGKILL);
    EXPECT_EQ(WaitChild(child, 10s), 128 + SIGKILL);
    const std::uint64_t before = RowCount(database);
    EXPECT_LT(before, static_cast<std::uint64_t>(Hits)) << "the replay ended before the kill";

    child = StartChild({connection, spool, "killed", "0", "2000"});
    EXPECT_EQ(WaitChild(child, 60s), 0);
    EXPECT_EQ(Server()->Value(database,
                              "SELECT count(*) || ' ' || count(DISTINCT seq) || ' ' || "
                              "count(DISTINCT start_id) || ' ' || max(seq) FROM skav_hits"),
              std::to_string(Hits) + " " + std::to_string(Hits) + " 1 " + std::to_string(Hits));
    EXPECT_EQ(SpooledLines(spool), 0u);
}

TEST(StoreWriterTest, HostileTextsArriveAsTheSameText) {
    SKIP_WITHOUT_POSTGRES();
    const std::string database = "hostile";
    const std::string connection = Server()->MakeDatabase(database);
    const std::string texts[] = {
        "'; DROP TABLE skav_hits; --",
        "\\.\n\\N\t\\\\",
        std::string("a\0b", 3),
        "\r\n\x1B[2J\x7F\xC2\x85\xE2\x80\xA8",
        "\xFF\xFE\xC0\xAF\xED\xA0\x80\xF0\x9F\x98",
        "\xF0\x9F\x98\x80 \xC3\xBC \"quoted\" {\"json\": [1]}",
        std::string(5000, 'x'),
    };
    std::vector<THitRecord> hits;
    {
        TMessages messages;
        TempDir spool;
        TStoreWriter writer(FastOptions(connection, spool, messages));
        for (const std::string& text : texts) {
            THitRecord hit = StoreTestHit(static_cast<int>(hits.size()), text);
            hit.Document = "/" + text;
            hit.Query = "page=" + text + "&" + text + "=" + text;
            hit.Params = {{"page", text}, {text, text}, {"%", "\\u0000"}};
            hit.UserAgent = text;
            hit.Referer = text;
            hit.NickName = text;
            hit.Host = text;
            hit.TLS = text;
            FillDerivedFields(hit);
            hit.Page = text; // as a client could name it through its parameter
            hits.push_back(hit);
            writer.Enqueue(hit);
        }
        ASSERT_TRUE(WaitForRows(database, hits.size())) << messages.All();
    }
    // What a reader of the JSON line gets, but NUL, which no PostgreSQL text holds.
    auto stored = [](const std::string& AText, std::size_t ALimit = LogFieldLimit) {
        std::string text = HitText(AText, ALimit);
        for (std::size_t at; (at = text.find('\0')) != std::string::npos;)
            text.replace(at, 1, "\xEF\xBF\xBD");
        return text;
    };
    TStoreConnection store;
    ASSERT_TRUE(store.Open(connection, Soon())) << store.Error();
    TStoreRows rows;
    ASSERT_TRUE(store.Exec("SELECT instance, document, page, user_agent, referer, nickname, "
                           "host, tls, params::text, query FROM skav_hits ORDER BY seq",
                           Soon(), &rows))
        << store.Error();
    ASSERT_EQ(rows.size(), hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const THitRecord& hit = hits[i];
        SCOPED_TRACE(i);
        const std::string expected[] = {stored(hit.Instance), stored(hit.Document),
                                        stored(hit.Page),     stored(hit.UserAgent),
                                        stored(hit.Referer),  stored(hit.NickName),
                                        stored(*hit.Host),    stored(*hit.TLS),
                                        ParamsJsonOf(hit),    stored(hit.Query, HitQueryLimit)};
        for (std::size_t k = 0; k < std::size(expected); ++k)
            EXPECT_EQ(rows[i].at(k).value_or("(null)"), expected[k]) << "column " << k;
    }
}

TEST(StoreWriterTest, HitsThatCannotBeKeptAreCountedAndReported) {
    TempDir dir;
    const std::string nowhere = "host=" + dir.Path() + "none port=1 dbname=x";
    {
        // A password in the settings: refused, the hits wait in the spool.
        TMessages messages;
        TStoreWriter writer(FastOptions(nowhere + " password=secret", dir, messages));
        writer.Enqueue(StoreTestHit(0, "a"));
        writer.Stop();
        EXPECT_EQ(messages.Count("names a password"), 1) << messages.All();
        EXPECT_EQ(writer.Status().Spooled, 1u);
    }
    {
        // A spool full after a few hits: the rest are counted and reported, not written.
        TMessages messages;
        TempDir spool;
        TStoreWriterOptions options = FastOptions(nowhere, spool, messages);
        options.MaxSpoolBytes = 4096;
        options.BatchRows = 4;
        TStoreWriter writer(options);
        for (int i = 0; i < 40; ++i)
            writer.Enqueue(StoreTestHit(i, "a"));
        EXPECT_TRUE(WaitUntil([&] { return messages.Count("hits not delivered") > 0; }));
        writer.Stop();
        const TStoreStatus status = writer.Status();
        EXPECT_GT(status.Spooled, 0u);
        EXPECT_GT(status.NotDelivered, 0u);
        EXPECT_EQ(status.Spooled + status.NotDelivered, 40u);
        EXPECT_LE(status.SpoolBytes, 4096u);
        EXPECT_EQ(messages.Count("as the spool is full at"), 1) << messages.All();
    }
    {
        // A queue past its bound (the writer thread takes it only every 20 ms): the hits past
        // it are counted and reported, the others spooled.
        TMessages messages;
        TempDir spool;
        TStoreWriterOptions options = FastOptions(nowhere, spool, messages);
        options.MaxQueueBytes = 2000;
        TStoreWriter writer(options);
        for (int i = 0; i < 200; ++i)
            writer.Enqueue(StoreTestHit(i, "a"));
        writer.Stop();
        const TStoreStatus status = writer.Status();
        EXPECT_GT(status.Spooled, 0u);
        EXPECT_GT(status.NotDelivered, 0u);
        EXPECT_EQ(status.Spooled + status.NotDelivered, 200u);
        EXPECT_EQ(messages.Count("with the queue full"), 1) << messages.All();
    }
    {
        // A spool that another process holds: no spool, so nothing can wait.
        TMessages messages;
        TempDir spool;
        TStoreSpool other(spool.Path() + "spool", 1 << 20);
        std::string error;
        ASSERT_TRUE(other.Open(error)) << error;
        TStoreWriter writer(FastOptions(nowhere, spool, messages));
        writer.Enqueue(StoreTestHit(0, "a"));
        writer.Stop();
        EXPECT_EQ(messages.Count("is in use by another process"), 1) << messages.All();
        EXPECT_EQ(messages.Count("1 hit not delivered (1 as there is no spool)"), 1)
            << messages.All();
    }
}

} // namespace
