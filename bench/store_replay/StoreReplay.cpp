// The probe of bench/store_replay.sh:
//   fill SPOOL ROWS        writes ROWS rows of varied hits into a spool, as a writer would
//   anchor CONNECTION SPOOL copies the spool's files with one COPY each into a table like the
//                           hits table but without keys or indexes: what COPY alone costs
//   replay CONNECTION SPOOL a writer replays the spool into the hits table
//   live CONNECTION SPOOL ROWS a writer takes ROWS hits as fast as it delivers them
//   read CONNECTION         the statistics of every day in the table, as the report reads them,
//                           and the table's bytes a row with its indexes
// Each prints "<rows> <seconds>" first.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "stats/HitRules.h"
#include "store/StoreSchema.h"
#include "store/StoreStats.h"
#include "store/TStoreSpool.h"
#include "store/TStoreWriter.h"

namespace {

using TClock = std::chrono::steady_clock;

THitRecord BenchHit(long AIndex, std::int64_t ANowMs) {
    static const char* const agents[] = {
        "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0",
        "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/120.0.0.0 Safari/537.36",
        "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, "
        "like Gecko) Version/17.0 Mobile/15E148 Safari/604.1",
        "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)"};
    THitRecord hit;
    hit.TimeMs = ANowMs - 3600000 + AIndex;
    hit.UtcOffsetMinutes = 60;
    hit.Instance = "bench";
    const long v = (AIndex * 7919) % 300000;
    hit.Address = "10." + std::to_string(v / 65536) + "." + std::to_string(v / 256 % 256) + "." +
                  std::to_string(v % 256);
    hit.Port = 1024 + static_cast<int>(AIndex % 60000);
    hit.Method = "GET";
    hit.Document = AIndex % 20 == 0 ? "/missing" : "/t.gif";
    hit.Query = "page=%2Fpage" + std::to_string(AIndex * 31 % 50000);
    if (AIndex % 3 == 0)
        hit.Query +=
            "&ref=https%3A%2F%2Fsite" + std::to_string(AIndex * 13 % 20000) + ".example%2Fq%3D1";
    hit.Params = DecodedParamsOf(hit.Query);
    hit.Status = AIndex % 20 == 0 ? 404 : 200;
    hit.Size = hit.Status == 200 ? 43 : 0;
    hit.Referer = "https://www.example.org/blog/post-" + std::to_string(AIndex % 500) + "?utm=x";
    hit.UserAgent = agents[AIndex % 4];
    FillDerivedFields(hit);
    return hit;
}

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

double SecondsSince(TClock::time_point AStart) {
    return std::chrono::duration<double>(TClock::now() - AStart).count();
}

int Fill(const std::string& ASpool, long ARows) {
    TStoreSpool spool(ASpool, ~0ull);
    std::string error;
    if (!spool.Open(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const TClock::time_point start = TClock::now();
    const std::int64_t now = NowMs();
    std::string batch;
    for (long i = 0; i < ARows; ++i) {
        AppendStoreRow(batch, BenchHit(i, now), 1, i + 1);
        if ((i + 1) % 1000 == 0 || i + 1 == ARows) {
            if (spool.Append(batch) != TStoreSpool::TAppend::Written)
                return 1;
            batch.clear();
        }
    }
    std::printf("%ld %.3f %llu\n", ARows, SecondsSince(start),
                static_cast<unsigned long long>(spool.Bytes()));
    return 0;
}

int Anchor(const std::string& AConnection, const std::string& ASpool) {
    TStoreConnection connection;
    const TStoreDeadline deadline = TClock::now() + std::chrono::minutes(10);
    if (!connection.Open(AConnection, deadline) ||
        !EnsureStoreSchema(connection, deadline).Usable ||
        !connection.Exec("CREATE TABLE bench_anchor (LIKE skav_hits)", deadline)) {
        std::fprintf(stderr, "%s\n", connection.Error().c_str());
        return 1;
    }
    long rows = 0;
    const TClock::time_point start = TClock::now();
    for (const auto& entry : std::filesystem::directory_iterator(ASpool)) {
        if (entry.path().extension() != ".rows")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        rows += static_cast<long>(std::count(data.begin(), data.end(), '\n'));
        if (!connection.CopyIn("COPY bench_anchor FROM STDIN", data, deadline)) {
            std::fprintf(stderr, "%s\n", connection.Error().c_str());
            return 1;
        }
    }
    std::printf("%ld %.3f\n", rows, SecondsSince(start));
    return 0;
}

// Runs a writer until ADone says so; prints the rows delivered and the seconds it took.
template <class TDone> int RunWriter(const TStoreWriterOptions& AOptions, long AHits, TDone ADone) {
    const TClock::time_point start = TClock::now();
    TStoreWriter writer(AOptions);
    const std::int64_t now = NowMs();
    for (long i = 0; i < AHits; ++i) {
        writer.Enqueue(BenchHit(i, now));
        // As fast as the writer takes them, never more than 50,000 ahead (memory).
        while (i % 1000 == 0 && static_cast<long>(writer.Status().Delivered) < i - 50000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    while (!ADone(writer.Status())) {
        if (SecondsSince(start) > 1800)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = SecondsSince(start);
    const TStoreStatus status = writer.Status();
    writer.Stop();
    // Rows delivered, seconds, and rows that had to wait in the spool or were lost.
    std::printf("%llu %.3f %llu %llu\n", static_cast<unsigned long long>(status.Delivered), seconds,
                static_cast<unsigned long long>(status.Spooled),
                static_cast<unsigned long long>(status.NotDelivered));
    return 0;
}

int Read(const std::string& AConnection) {
    TStoreConnection connection;
    const TStoreDeadline deadline = TClock::now() + std::chrono::minutes(10);
    TStoreRows rows;
    if (!connection.Open(AConnection, deadline) ||
        !connection.Exec("SELECT count(*), sum(pg_total_relation_size(c.oid)) FROM pg_inherits i "
                         "JOIN pg_class c ON c.oid = i.inhrelid WHERE i.inhparent = "
                         "'skav_hits'::regclass",
                         deadline, &rows)) {
        std::fprintf(stderr, "%s\n", connection.Error().c_str());
        return 1;
    }
    const double bytes = std::stod(rows.at(0).at(1).value_or("0"));
    TStatsSummary summary;
    const TClock::time_point start = TClock::now();
    if (!ReadStoreStats(connection, {{2000, 1, 1}, {2100, 1, 1}, ""}, deadline, summary)) {
        std::fprintf(stderr, "%s\n", connection.Error().c_str());
        return 1;
    }
    const double seconds = SecondsSince(start);
    std::printf("%llu %.3f %.0f\n", static_cast<unsigned long long>(summary.Hits), seconds,
                bytes / static_cast<double>(std::max<std::uint64_t>(summary.Hits, 1)));
    return 0;
}

TStoreWriterOptions Options(const std::string& AConnection, const std::string& ASpool) {
    TStoreWriterOptions options;
    options.Connection = AConnection;
    options.SpoolDir = ASpool;
    options.MaxSpoolBytes = ~0ull;
    options.MaxQueueBytes = std::size_t{4} << 30;
    options.OnMessage = [](const std::string& ALine) {
        std::fprintf(stderr, "%s\n", ALine.c_str());
    };
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "fill" && argc == 4)
        return Fill(argv[2], std::stol(argv[3]));
    if (mode == "anchor" && argc == 4)
        return Anchor(argv[2], argv[3]);
    if (mode == "replay" && argc == 4)
        return RunWriter(Options(argv[2], argv[3]), 0, [](const TStoreStatus& AStatus) {
            return AStatus.Connected && AStatus.SpoolBytes == 0;
        });
    if (mode == "live" && argc == 5) {
        const long hits = std::stol(argv[4]);
        return RunWriter(Options(argv[2], argv[3]), hits, [hits](const TStoreStatus& AStatus) {
            return AStatus.Delivered + AStatus.NotDelivered >= static_cast<std::uint64_t>(hits) &&
                   AStatus.SpoolBytes == 0;
        });
    }
    if (mode == "read" && argc == 3)
        return Read(argv[2]);
    std::fputs("usage: store_replay fill SPOOL ROWS | anchor CONNECTION SPOOL | replay "
               "CONNECTION SPOOL | live CONNECTION SPOOL HITS | read CONNECTION\n",
               stderr);
    return 2;
}
