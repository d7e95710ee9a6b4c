// Headless instances of the real program on one PostgreSQL server of the test's own: the
// shared store's report adds up the instances' own reports, and a database that goes away
// under load or a program killed while its spool is replayed leave every hit in once.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/ProgramRun.h"
#include "support/LoopbackClient.h"
#include "support/TempDir.h"
#include "support/TestPostgres.h"
#include "support/WaitUntil.h"

using namespace std::chrono_literals;

namespace {

// One server for the program, made when a test first needs it.
TTestPostgres* Server() {
    return SharedTestPostgres();
}

// A program directory whose settings send hits to AConnection as the instance AName, with
// the overview file on.
void MakeInstanceDir(const TempDir& ADir, const std::string& AConnection, const std::string& AName,
                     const std::string& AMore = "") {
    PutContentFiles(ADir);
    ADir.WriteFile("sk_KAV.ini",
                   "[General]\r\nLogDir=" + ADir.Path() +
                       "\r\n[OverviewLog]\r\nLogToFile=1\r\n[Store]\r\nConnection=" + AConnection +
                       "\r\n[Export]\r\nInstance=" + AName + "\r\n" + AMore);
}

// A headless run of the instance in ADir on a port the system picks.
std::unique_ptr<ProgramRun> StartInstance(const TempDir& ADir, int& APort) {
    auto run = std::make_unique<ProgramRun>(
        std::vector<std::string>{"--headless", "--dir", ADir.Path(), "--port", "0"});
    EXPECT_TRUE(run->WaitForErr("listening on")) << run->Err();
    APort = ListeningPortOf(run->Err());
    return run;
}

bool Hit(int APort, const std::string& ATarget, const std::string& AUserAgent,
         const std::string& AReferer = "") {
    const std::string answer =
        Exchange(APort, "GET " + ATarget + " HTTP/1.1\r\nUser-Agent: " + AUserAgent +
                            (AReferer.empty() ? "" : "\r\nReferer: " + AReferer) + "\r\n\r\n");
    return answer.starts_with("HTTP/1.1 200");
}

void StopInstance(ProgramRun& ARun) {
    ARun.Signal(SIGTERM);
    EXPECT_EQ(ARun.WaitForExit(20s), 0) << ARun.Err();
}

std::string Today() {
    char day[16];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    return day;
}

// The day before a "yyyymmdd" day, in the same form.
std::string DayBefore(const std::string& ADay) {
    std::tm day{};
    day.tm_year = std::stoi(ADay.substr(0, 4)) - 1900;
    day.tm_mon = std::stoi(ADay.substr(4, 2)) - 1;
    day.tm_mday = std::stoi(ADay.substr(6, 2)) - 1;
    day.tm_hour = 12;
    std::mktime(&day);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &day);
    return text;
}

std::string Report(const std::vector<std::string>& AArgs) {
    ProgramRun run(AArgs);
    EXPECT_EQ(run.WaitForExit(30s), 0) << run.Err();
    return run.Out();
}

// Runs python3 on AScript with the files as arguments; its output.
std::string Python(const TempDir& ADir, const std::string& AScript,
                   const std::vector<std::string>& AFiles) {
    ADir.WriteFile("check.py", AScript);
    std::string command = "python3 " + ADir.Path() + "check.py";
    for (const std::string& file : AFiles)
        command += " " + ADir.Path() + file;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (pipe)
        ::pclose(pipe);
    return out;
}

// The instances' JSON reports of a day or a range added up, field by field (each day of a
// range too), against the store's report.
constexpr const char* SumCheck = R"(import json, sys
reports = [json.load(open(f)) for f in sys.argv[1:-1]]
store = json.load(open(sys.argv[-1]))
total = {k: reports[0][k] for k in ('date', 'from', 'to') if k in reports[0]}
total['hours'] = [0] * 24
if 'days' in reports[0]:
    total['days'] = [dict(d, pageviews=sum(r['days'][i]['pageviews'] for r in reports),
                          visitors=sum(r['days'][i]['visitors'] for r in reports))
                     for i, d in enumerate(reports[0]['days'])]
for r in reports:
    for k in ('hits', 'pageviews', 'visitors', 'optedout', 'bots', 'unreadable'):
        total[k] = total.get(k, 0) + r[k]
    total['hours'] = [a + b for a, b in zip(total['hours'], r['hours'])]
    for k in ('pages', 'sources', 'visitors_top', 'browsers'):
        merged = total.setdefault(k, {})
        for e in r[k]:
            merged[e['name']] = merged.get(e['name'], 0) + e['views']
for k in ('pages', 'sources', 'visitors_top', 'browsers'):
    store[k] = {e['name']: e['views'] for e in store[k]}
print('same' if total == store else 'sum %s\nstore %s' % (total, store))
)";

// 0 while the program has not made the table yet (a busy machine may ask before it has).
int Rows(const std::string& ADatabase, const std::string& AWhere = "true") {
    if (Server()->Value(ADatabase, "SELECT to_regclass('skav_hits') IS NOT NULL") != "t")
        return 0;
    return std::stoi(Server()->Value(ADatabase, "SELECT count(*) FROM skav_hits WHERE " + AWhere));
}

// A wait that looks every 100 ms: each look at the table is a connection of its own.
bool WaitSlowly(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
    return WaitUntil(
        [&] {
            std::this_thread::sleep_for(100ms);
            return APredicate();
        },
        ATimeout);
}

int DistinctQueries(const std::string& ADatabase) {
    return std::stoi(Server()->Value(ADatabase, "SELECT count(DISTINCT query) FROM skav_hits"));
}

int LinesOf(const TempDir& ADir, const std::string& AFile) {
    const std::string text = ADir.ReadFile(AFile);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(StoreEndToEndTest, TheStoresReportIsTheSumOfTheInstancesReports) {
    SKIP_WITHOUT_POSTGRES();
    const std::string connection = Server()->MakeDatabase("three");
    const std::string day = Today();
    TempDir dirs[3];
    std::vector<std::unique_ptr<ProgramRun>> runs;
    int ports[3] = {};
    for (int i = 0; i < 3; ++i) {
        // The third masks addresses, counts visitors by their ids and honours Do-Not-Track.
        MakeInstanceDir(dirs[i], connection, "site-" + std::to_string(i),
                        i == 2 ? "[Privacy]\r\nMaskAddresses=1\r\nHonourDoNotTrack=1\r\n" : "");
        runs.push_back(StartInstance(dirs[i], ports[i]));
        ASSERT_GT(ports[i], 0);
    }
    // Pages, sources and browsers that two instances share, visitors of one instance each
    // (the same browser on the same address would be one visitor of the store), and bots.
    for (int i = 0; i < 3; ++i) {
        const std::string agent = "Mozilla/5.0 Firefox/12" + std::to_string(i);
        for (int n = 0; n <= i * 3; ++n)
            ASSERT_TRUE(Hit(ports[i], "/t.gif?p=/shop/" + std::to_string(n % 2), agent,
                            "https://search.example/?q=" + std::to_string(n)));
        ASSERT_TRUE(Hit(ports[i], "/robots.txt", "Googlebot/2.1"));
        ASSERT_TRUE(Hit(ports[i], "/t.gif?p=/", "curl/8." + std::to_string(i)));
    }
    ASSERT_TRUE(Exchange(ports[2], "GET /t.gif?p=/dnt HTTP/1.1\r\nDNT: 1\r\n\r\n")
                    .starts_with("HTTP/1.1 200"));
    for (auto& run : runs)
        StopInstance(*run);
    EXPECT_NE(runs[0]->Err().find("Store: connected, schema version 1"), std::string::npos)
        << runs[0]->Err();

    TempDir work;
    for (int i = 0; i < 3; ++i)
        work.WriteFile("site" + std::to_string(i) + ".json",
                       Report({"--report", day, "--dir", dirs[i].Path(), "--json"}));
    work.WriteFile("store.json",
                   Report({"--report", day, "--dir", dirs[0].Path(), "--json", "--store"}));
    EXPECT_EQ(Python(work, SumCheck, {"site0.json", "site1.json", "site2.json", "store.json"}),
              "same\n");
    // A range with a day before the hits: the files have none for it, the store no rows.
    const std::string dayBefore = DayBefore(day);
    for (int i = 0; i < 3; ++i)
        work.WriteFile("range" + std::to_string(i) + ".json",
                       Report({"--report", "--from", dayBefore, "--to", day, "--dir",
                               dirs[i].Path(), "--json"}));
    work.WriteFile("range-store.json", Report({"--report", "--from", dayBefore, "--dir",
                                               dirs[0].Path(), "--json", "--store"}));
    EXPECT_EQ(
        Python(work, SumCheck, {"range0.json", "range1.json", "range2.json", "range-store.json"}),
        "same\n");
    const std::string one =
        Report({"--report", day, "--dir", dirs[0].Path(), "--store", "--instance", "site-1"});
    EXPECT_NE(one.find("(shared store, instance site-1)"), std::string::npos) << one;
    EXPECT_EQ(Rows("three", "instance = 'site-1'"), LinesOf(dirs[1], day + ".log"));
}

// The database goes away while hits come and is back later: the spool holds them meanwhile,
// and every hit of the overview file is in the table exactly once.
TEST(StoreEndToEndTest, ADatabaseThatGoesAwayUnderLoadGetsEveryHitOnce) {
    SKIP_WITHOUT_POSTGRES();
    const std::string connection = Server()->MakeDatabase("outage");
    TempDir dir;
    MakeInstanceDir(dir, connection, "outage");
    int port = 0;
    auto run = StartInstance(dir, port);
    ASSERT_TRUE(run->WaitForErr("Store: connected"));
    int sent = 0;
    auto send = [&](int ACount) {
        for (int i = 0; i < ACount; ++i, ++sent)
            ASSERT_TRUE(Hit(port, "/t.gif?n=" + std::to_string(sent), "UA/1"));
    };
    send(300);
    Server()->Stop();
    send(300);
    ASSERT_TRUE(run->WaitForErr("hits wait in the spool", 15s)) << run->Err();
    send(300);
    Server()->Start();
    send(100);
    ASSERT_TRUE(WaitSlowly([&] { return Rows("outage") >= sent; }, 40s))
        << Rows("outage") << " of " << sent << "\n"
        << run->Err();
    StopInstance(*run);
    EXPECT_EQ(Rows("outage"), sent);
    EXPECT_EQ(DistinctQueries("outage"), sent);
    EXPECT_EQ(LinesOf(dir, Today() + ".log"), sent);
}

// Killed with hits in its spool and started again: they are delivered once. A run killed
// before it could note what the database took sends it all again (its spool as it was
// before the replay): still once each.
TEST(StoreEndToEndTest, AProgramKilledAndStartedAgainWritesNoRowTwice) {
    SKIP_WITHOUT_POSTGRES();
    const std::string connection = Server()->MakeDatabase("killed");
    TempDir dir;
    MakeInstanceDir(dir, connection, "killed");
    Server()->Stop();
    int port = 0;
    auto run = StartInstance(dir, port);
    constexpr int Count = 2500;
    for (int n = 0; n < Count; ++n)
        ASSERT_TRUE(Hit(port, "/t.gif?n=" + std::to_string(n), "UA/1"));
    const std::filesystem::path spool = dir.Path() + "sk_KAV.spool";
    auto spooled = [&] {
        int lines = 0;
        for (const auto& entry : std::filesystem::directory_iterator(spool))
            if (entry.path().extension() == ".rows")
                lines += LinesOf(dir, "sk_KAV.spool/" + entry.path().filename().string());
        return lines;
    };
    ASSERT_TRUE(WaitSlowly([&] { return spooled() >= Count; }, 20s)) << spooled();
    run->Signal(SIGKILL);
    run->WaitForExit();
    const std::filesystem::path before = dir.Path() + "spool-before";
    std::filesystem::copy(spool, before);
    Server()->Start();

    for (int round = 0; round < 2; ++round) {
        run = StartInstance(dir, port);
        ASSERT_TRUE(WaitSlowly([&] { return Rows("killed") >= Count; }, 30s))
            << Rows("killed") << "\n"
            << run->Err();
        ASSERT_TRUE(WaitSlowly([&] { return spooled() == 0; }, 10s)) << run->Err();
        run->Signal(SIGKILL);
        run->WaitForExit();
        std::filesystem::remove_all(spool);
        std::filesystem::copy(before, spool);
    }
    EXPECT_EQ(Rows("killed"), Count);
    EXPECT_EQ(DistinctQueries("killed"), Count);
}

} // namespace
