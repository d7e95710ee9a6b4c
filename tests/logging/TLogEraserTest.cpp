// Erasing a visitor's records: which records of each kind of day file go, what stays byte for
// byte, and that hits written by the log writers while an erasure runs are all kept.
#include "logging/TLogEraser.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "logging/TSKX_Logger.h"
#include "support/TempDir.h"
#include "support/ZoneAndClock.h"

namespace {

// One record of a file and whose it is.
struct TRecord {
    const char* File;
    const char* Who; // "" for a record of nobody in particular
    std::string Text;
};

std::string Block(const std::string& AStamp, const std::string& AWho, const std::string& AParams) {
    return "\r\n2026/12/07 " + AStamp + " -------------- \r\n" + AWho +
           "Command: GET\r\nDocument: /t.gif\r\n" + AParams +
           "--- HTTP HEADERS START:\r\nUser-Agent: UA\r\n--- HTTP HEADERS END\r\n";
}

std::string Line(const std::string& AHost, const std::string& AId = "-") {
    return AHost + " " + AId +
           " - [07/Dec/2026:14:03:07 +0100] \"GET /t.gif HTTP/1.1\" 200 43 \"\" \"UA\"\r\n";
}

// Records of four visitors over two days, in every file kind.
const std::vector<TRecord>& Records() {
    static const std::vector<TRecord> records = {
        {"20261206.log2", "", "sk_KAV detail log\r\n"}, // text before the first block stays
        {"20261206.log2", "anna",
         Block("10:00:00:000", "NICKNAME: Anna\r\nFrom: anna.example [203.0.113.7]\r\n", "")},
        {"20261206.log2", "ben",
         Block("10:00:01:000", "From: 203.0.0.0 [203.0.0.0]\r\nVisitor: 0123456789abcdef\r\n",
               // An empty parameter, and one naming anna, belong to ben's block.
               "--- URI PARAMS START:\r\n\r\nFrom: x [203.0.113.7]\r\n--- URI PARAMS END\r\n")},
        {"20261206.log2", "", Block("10:00:02:000", "", "")}, // Do-Not-Track: nobody's
        {"20261206.log2", "carl", Block("10:00:03:000", "From: 2001:db8::7 [2001:db8::7]\r\n", "")},
        {"20261206.log", "anna", Line("anna.example")},
        {"20261206.log", "anna", Line("203.0.113.7")},
        {"20261206.log", "ben", Line("203.0.0.0", "0123456789abcdef")},
        {"20261206.log", "", Line("-")},
        {"20261206.log", "carl", Line("2001:db8::7")},
        {"20261206.log", "", Line("203.0.113.70")},
        {"20261206.jsonl", "anna",
         "{\"time\":\"t\",\"address\":\"203.0.113.7\",\"host\":\"anna.example\"}\n"},
        {"20261206.jsonl", "ben",
         "{\"time\":\"t\",\"address\":\"203.0.0.0\",\"visitor\":\"0123456789abcdef\"}\n"},
        {"20261206.jsonl", "",
         "{\"time\":\"t\",\"document\":\"\\\"address\\\":\\\"203.0.113.7\\\"\"}\n"},
        // The next day anna's address has no name: another's line under that name stays.
        {"20261207.log2", "anna", Block("09:00:00:000", "From: 203.0.113.7 [203.0.113.7]\r\n", "")},
        {"20261207.log", "", Line("anna.example")},
        {"20261207.log", "anna", Line("203.0.113.7")},
        {"20261207.log", "", "cut off line without its end"},
    };
    return records;
}

void WriteRecords(const TempDir& ADir) {
    std::map<std::string, std::string> files;
    for (const TRecord& record : Records())
        files[record.File] += record.Text;
    for (const auto& [name, text] : files)
        ADir.WriteFile(name, text);
}

// The files as they should be after erasing AErased's records (nobody's: as written).
std::map<std::string, std::string> Kept(const std::string& AErased = "") {
    std::map<std::string, std::string> files;
    for (const TRecord& record : Records())
        files[record.File] += !AErased.empty() && AErased == record.Who ? "" : record.Text;
    return files;
}

} // namespace

TEST(TLogEraserTest, EachKindOfFileLosesExactlyTheTargetsRecords) {
    const struct {
        const char* Argument;
        const char* Who;
        std::map<std::string, std::size_t> Erased;
    } cases[] = {
        {"203.0.113.7",
         "anna",
         {{"20261206.log2", 1},
          {"20261206.log", 2},
          {"20261206.jsonl", 1},
          {"20261207.log2", 1},
          {"20261207.log", 1}}},
        {"203.0.0.0", "ben", {{"20261206.log2", 1}, {"20261206.log", 1}, {"20261206.jsonl", 1}}},
        {"0123456789ABCDEF",
         "ben",
         {{"20261206.log2", 1}, {"20261206.log", 1}, {"20261206.jsonl", 1}}},
        {"2001:DB8:0::7", "carl", {{"20261206.log2", 1}, {"20261206.log", 1}}},
        {"198.51.100.1", "nobody", {}},
    };
    for (const auto& c : cases) {
        const std::optional<TEraseTarget> target = ParseEraseTarget(c.Argument);
        ASSERT_TRUE(target) << c.Argument;
        for (bool dryRun : {true, false}) {
            TempDir dir;
            WriteRecords(dir);
            ASSERT_EQ(::chmod((dir.Path() + "20261206.log").c_str(), 0604), 0);
            std::map<std::string, std::size_t> erased;
            std::string error;
            TLogEraser eraser(dir.Path(), *target, dryRun);
            ASSERT_TRUE(eraser.Run(
                [&](const TErasedFile& AFile) {
                    if (AFile.Erased > 0)
                        erased[AFile.Name] = AFile.Erased;
                },
                error))
                << error;
            EXPECT_EQ(erased, c.Erased) << c.Argument;
            for (const auto& [name, text] : dryRun ? Kept() : Kept(c.Who))
                EXPECT_EQ(dir.ReadFile(name), text) << c.Argument << " " << name;
            struct stat info {};
            ASSERT_EQ(::stat((dir.Path() + "20261206.log").c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0604u) << c.Argument; // kept through the rename
        }
    }
    for (const char* neither : {"203.0.113", "0123456789abcdeg", "0123456789abcde", "", "-"})
        EXPECT_FALSE(ParseEraseTarget(neither)) << neither;
}

// A file that cannot be rewritten whole stops the run with that file untouched; a second
// eraser on the same directory is refused.
TEST(TLogEraserTest, RefusesWhatItCannotRewriteWhole) {
    TempDir dir;
    WriteRecords(dir);
    ASSERT_EQ(::link((dir.Path() + "20261207.log").c_str(), (dir.Path() + "copy.log").c_str()), 0);
    std::vector<std::string> done;
    std::string error;
    TLogEraser eraser(dir.Path(), *ParseEraseTarget("203.0.113.7"), false);
    EXPECT_FALSE(eraser.Run([&](const TErasedFile& AFile) { done.push_back(AFile.Name); }, error));
    EXPECT_NE(error.find("20261207.log: the file has other names"), std::string::npos) << error;
    EXPECT_EQ(done, (std::vector<std::string>{"20261206.log2", "20261206.log", "20261206.jsonl",
                                              "20261207.log2"}));
    EXPECT_EQ(dir.ReadFile("20261207.log"), Kept()["20261207.log"]);

    // A pipe or a directory of a day's name holds no records and is passed over without a
    // wait; a link is refused, as its records would stay in the file it names.
    ::unlink((dir.Path() + "copy.log").c_str());
    ASSERT_EQ(::mkfifo((dir.Path() + "20261201.log").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir.Path() + "20261202.log").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("20261207.log", (dir.Path() + "20261208.log").c_str()), 0);
    done.clear();
    EXPECT_FALSE(eraser.Run([&](const TErasedFile& AFile) { done.push_back(AFile.Name); }, error));
    EXPECT_NE(error.find("20261208.log: a symbolic link"), std::string::npos) << error;
    EXPECT_EQ(done.size(), 5u);
    EXPECT_EQ(done.back(), "20261207.log");
    EXPECT_EQ(dir.ReadFile("20261207.log"), Kept("anna")["20261207.log"]);

    EXPECT_FALSE(TLogEraser(dir.Path() + "missing", *ParseEraseTarget("203.0.113.7"), false)
                     .Run(nullptr, error));
    EXPECT_NE(error.find("cannot open the log directory"), std::string::npos) << error;
}

// The server's two writers (locked, and one that opens the file per write) go on appending
// while the eraser rewrites their files again and again: every hit written is there once,
// whole, and none of the erased visitor's records is left.
TEST(TLogEraserTest, HitsWrittenDuringAnErasureAreAllKept) {
    ScopedTimeZone zone{ZoneUtc};
    ScopedClock clock{UtcInstant(2026, 12, 7, 8, 0, 0)};
    TempDir dir;
    TSKX_Logger overview(dir.Path(), ""), detail(dir.Path(), "log2"), unlocked(dir.Path(), "");
    overview.SetUseLock(true);
    detail.SetUseLock(true);
    std::string seeded, seededDetail;
    for (int i = 0; i < 20000; ++i) {
        seeded += Line(i % 2 ? "203.0.113.7" : "198.51.100." + std::to_string(i % 200));
        seededDetail +=
            Block("07:00:00:000",
                  "From: x [" + std::string(i % 2 ? "203.0.113.7" : "10.0.0.1") + "]\r\n", "");
    }
    dir.WriteFile("20261207.log", seeded);
    dir.WriteFile("20261207.log2", seededDetail);

    constexpr int Writers = 3, HitsEach = 3000;
    std::atomic<int> running{Writers};
    std::vector<std::thread> threads;
    for (int t = 0; t < Writers; ++t)
        threads.emplace_back([&, t] { // the third writes as an unlocked writer does
            for (int i = 0; i < HitsEach; ++i) {
                const std::string who = "10.1." + std::to_string(t) + "." + std::to_string(i);
                EXPECT_TRUE((t == 2 ? unlocked : overview).WriteLog(who + " - -"));
                const std::string block = Block("08:00:00:000", "From: x [" + who + "]\r\n", "");
                EXPECT_TRUE(detail.WriteLog(block.substr(0, block.size() - 2)));
            }
            --running;
        });
    TLogEraser eraser(dir.Path(), *ParseEraseTarget("203.0.113.7"), false);
    std::string error;
    int runs = 0;
    do {
        ASSERT_TRUE(eraser.Run(nullptr, error)) << error;
        ++runs;
    } while (running > 0 && runs < 1000);
    for (std::thread& thread : threads)
        thread.join();

    const std::string lines = dir.ReadFile("20261207.log");
    const std::string blocks = dir.ReadFile("20261207.log2");
    EXPECT_EQ(lines.find("203.0.113.7"), std::string::npos);
    EXPECT_EQ(blocks.find("203.0.113.7"), std::string::npos);
    // Each file is split once: searching the whole text for every hit took most of a minute
    // under the thread checker, close to the test's time limit.
    std::multiset<std::string_view> lineSet, fromLines;
    std::size_t recordLines = 0, blockStarts = 0;
    std::string_view previous;
    for (std::size_t at = 0, end; (end = lines.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        lineSet.insert(std::string_view(lines).substr(at, end - at));
        ++recordLines;
    }
    for (std::size_t at = 0, end; (end = blocks.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        const std::string_view line = std::string_view(blocks).substr(at, end - at);
        if (line.starts_with("Command") && previous.starts_with("From: x ["))
            fromLines.insert(previous);
        blockStarts += line.ends_with(" -------------- ");
        previous = line;
    }
    std::size_t found = 0;
    for (int t = 0; t < Writers; ++t)
        for (int i = 0; i < HitsEach; ++i) {
            const std::string who = "10.1." + std::to_string(t) + "." + std::to_string(i);
            found += lineSet.count(who + " - -") == 1;
            found += fromLines.count("From: x [" + who + "]") == 1;
        }
    EXPECT_EQ(found, 2u * Writers * HitsEach) << "after " << runs << " erasures";
    // The other visitors' seeded records stay too, and nothing else is there.
    EXPECT_EQ(recordLines, 10000u + Writers * HitsEach);
    EXPECT_EQ(blockStarts, 10000u + Writers * HitsEach);
}
