#include "logging/TSKX_Logger.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "support/FailingWrite.h"
#include "support/TempDir.h"
#include "support/ZoneAndClock.h"

namespace fs = std::filesystem;

namespace {

// Every file under ADirectory by its relative path, with its bytes.
std::map<std::string, std::string> FileTree(const TempDir& ADirectory) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(ADirectory.Path()))
        if (entry.is_regular_file()) {
            std::string name = fs::relative(entry.path(), ADirectory.Path()).string();
            tree[name] = ADirectory.ReadFile(name);
        }
    return tree;
}

std::set<std::string> FileNames(const std::string& ADirectory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(ADirectory))
        names.insert(entry.path().filename().string());
    return names;
}

// The writer's clock at 7 December 2026, 08:49:37.125 UTC (the zone is pinned to UTC).
class TSKX_LoggerTest : public ::testing::Test {
protected:
    ScopedTimeZone FZone{ZoneUtc};
    ScopedClock FClock{UtcInstant(2026, 12, 7, 8, 49, 37, 125)};
    TempDir FDir;
};

} // namespace

TEST_F(TSKX_LoggerTest, NamesFilesByDayAndExtensionAndWritesExactBytes) {
    // No directory or a missing one: the working directory, not the program's.
    const fs::path started = fs::current_path();
    fs::current_path(FDir.Path());
    const std::string cwd = fs::current_path().string() + "/";
    EXPECT_EQ(TSKX_Logger("", "").Directory(), cwd);
    EXPECT_EQ(TSKX_Logger(FDir.Path() + "missing", "").Directory(), cwd);
    TSKX_Logger changed(FDir.Path(), "");
    changed.SetDirectory(""); // settings re-read without a LogDir
    EXPECT_EQ(changed.Directory(), cwd);
    fs::current_path(started);
    const std::string withoutSlash = FDir.Path().substr(0, FDir.Path().size() - 1);

    for (const auto& [name, extension] :
         {std::pair{"", ".log"}, std::pair{"log2", ".log2"}, std::pair{".txt", ".txt"}}) {
        TSKX_Logger logger(withoutSlash, name);
        ASSERT_TRUE(logger.WriteLog("a") && logger.WriteLog("b"));
        EXPECT_EQ(logger.FileName(), FDir.Path() + "20261207" + extension);
        EXPECT_EQ(FDir.ReadFile(std::string("20261207") + extension), "a\r\nb\r\n") << name;
    }
}

// The day of the name and of the prefixes is the local one.
TEST_F(TSKX_LoggerTest, LocalMidnightStartsANewFile) {
    ScopedTimeZone berlin(ZoneBerlin);
    TSKX_Logger logger(FDir.Path(), "");
    logger.SetTimePrefix(true);
    ScopedClock::Set(UtcInstant(2026, 12, 7, 22, 59, 59, 999)); // 23:59:59.999 local
    ASSERT_TRUE(logger.WriteLog("before\r\nmore"));
    ScopedClock::Set(UtcInstant(2026, 12, 7, 23)); // 00:00 local, still the 7th in UTC
    logger.SetDateTimePrefix(true);                // wins over the time prefix
    logger.SetAddLineBreak(false);
    ASSERT_TRUE(logger.WriteLog(std::string("after\0\xFF", 7)));
    EXPECT_EQ(FDir.ReadFile("20261207.log"), "23:59:59:999: before\r\nmore\r\n");
    EXPECT_EQ(FDir.ReadFile("20261208.log"),
              "2026.12.08-00:00:00:000: after" + std::string("\0\xFF", 2));
}

// Clean-up by age runs when a file is created: 30 November is seven days old and stays.
TEST_F(TSKX_LoggerTest, ADeletedFileIsCreatedAnewAfterCleanup) {
    TSKX_Logger logger(FDir.Path(), "");
    ASSERT_TRUE(logger.WriteLog("first"));
    FDir.WriteFile("20261129.log", "old");
    FDir.WriteFile("20261130.log", "old");
    logger.SetAutoCleanup(true);
    logger.SetMaxAgeDays(7);
    ASSERT_TRUE(logger.WriteLog("second")); // the file exists: no clean-up
    EXPECT_TRUE(FDir.Exists("20261129.log"));
    fs::remove(FDir.Path() + "20261207.log");
    ASSERT_TRUE(logger.WriteLog("third"));
    EXPECT_EQ(FileNames(FDir.Path()), (std::set<std::string>{"20261130.log", "20261207.log"}));
    EXPECT_EQ(FDir.ReadFile("20261207.log"), "third\r\n");
}

// Only day files of its own count: names that merely end in the extension, or hold a date
// among other characters, are none of the writer's.
TEST_F(TSKX_LoggerTest, CleanupDeletesOldestFilesOfItsOwnExtensionOnly) {
    const std::set<std::string> others = {"20261101.log2", "notes.txt",        "notes.log",
                                          "2026120.log",   "x20261201.log",    "20261201.log.1",
                                          "2026120a.log",  "20261201-old.log", "202612011.log"};
    for (const char* name :
         {"20261201.log", "20261202.log", "20261203.log", "20261204.log", "20261205.log"})
        FDir.WriteFile(name, "x");
    for (const std::string& name : others)
        FDir.WriteFile(name, "x");
    fs::create_directory(FDir.Path() + "20261001.log");
    TSKX_Logger logger(FDir.Path(), "");
    EXPECT_FALSE(logger.Cleanup()); // both limits 0
    EXPECT_EQ(FileNames(FDir.Path()).size(), 15u);
    logger.SetAutoCleanup(true);
    logger.SetMaxFiles(3);
    ASSERT_TRUE(logger.WriteLog("new"));
    std::set<std::string> kept = others;
    kept.insert({"20261001.log", "20261203.log", "20261204.log", "20261205.log", "20261207.log"});
    EXPECT_EQ(FileNames(FDir.Path()), kept);
    EXPECT_EQ(logger.DeleteErrorCount(), 0);

    // By age, for files no writer of ours has open: yesterday's stays with one day kept.
    for (const char* name : {"20261205.jsonl", "20261206.jsonl", "20261206.jsonl.x"})
        FDir.WriteFile(name, "x");
    bool failed = true;
    EXPECT_EQ(TSKX_Logger::DeleteOldDayFiles(FDir.Path(), ".jsonl", 1, failed), 1);
    EXPECT_FALSE(failed);
    EXPECT_FALSE(FDir.Exists("20261205.jsonl"));
    EXPECT_TRUE(FDir.Exists("20261206.jsonl") && FDir.Exists("20261206.jsonl.x"));
    EXPECT_EQ(TSKX_Logger::DeleteOldDayFiles(FDir.Path() + "gone", ".log", 1, failed), 0);
    EXPECT_FALSE(failed); // nothing to list, nothing failed
}

// Log files hold visitors' data: the owner's group may read them, nobody else.
TEST_F(TSKX_LoggerTest, FilesAreMadeForTheOwnerAndItsGroupOnly) {
    const mode_t before = ::umask(022);
    for (bool locked : {true, false}) {
        TSKX_Logger logger(FDir.Path(), locked ? "" : "log2");
        logger.SetUseLock(locked);
        ASSERT_TRUE(logger.WriteLog("x"));
        struct stat info {};
        ASSERT_EQ(::stat(logger.FileName().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u) << logger.FileName();
    }
    ::umask(before);
}

TEST_F(TSKX_LoggerTest, AVanishedDirectoryCountsAnErrorPerWrite) {
    TSKX_Logger logger(FDir.Path(), "");
    logger.SetDirectory(FDir.Path() + "gone");
    logger.SetAutoCleanup(true);
    logger.SetMaxFiles(1);
    const int descriptors = OpenDescriptorCount();
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FALSE(logger.WriteLog("lost"));
        EXPECT_EQ(logger.ErrorCount(), i);
        EXPECT_EQ(logger.WriteCount(), i);
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(logger.DeleteErrorCount(), 0);
    logger.SetDirectory(FDir.Path());
    EXPECT_TRUE(logger.WriteLog("back"));
    EXPECT_EQ(FDir.ReadFile("20261207.log"), "back\r\n");
}

// Every line ends up whole, with its CR LF, in one of the two directories.
TEST_F(TSKX_LoggerTest, ConcurrentWritesStayWholeWhileTheDirectoryChanges) {
    constexpr int kWriters = 4, kLines = 250;
    const std::string dirs[] = {FDir.Path() + "a/", FDir.Path() + "b/"};
    for (const std::string& dir : dirs)
        fs::create_directory(dir);
    auto line = [](int AThread, int AIndex) {
        return std::to_string(AThread) + " line " + std::to_string(AIndex) +
               std::string(200 + AIndex % 50, static_cast<char>('a' + AThread));
    };
    TSKX_Logger logger(dirs[0], "");
    logger.SetUseLock(true);
    std::atomic<int> running{kWriters}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t)
        threads.emplace_back([&, t] {
            try {
                for (int i = 0; i < kLines; ++i)
                    failures += logger.WriteLog(line(t, i)) ? 0 : 1;
            } catch (...) {
                ++failures;
            }
            --running;
        });
    threads.emplace_back([&] {
        try {
            for (int i = 0; running > 0; ++i, std::this_thread::yield())
                logger.SetDirectory(dirs[i % 2]);
        } catch (...) {
            ++failures;
        }
    });
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(logger.WriteCount(), kWriters * kLines);
    std::multiset<std::string> expected, written;
    for (int t = 0; t < kWriters; ++t)
        for (int i = 0; i < kLines; ++i)
            expected.insert(line(t, i) + "\r");
    for (const std::string& dir : dirs) {
        std::ifstream file(dir + "20261207.log", std::ios::binary);
        for (std::string text; std::getline(file, text);)
            written.insert(text);
    }
    EXPECT_TRUE(written == expected);
}

// A write that fails at any point, at once or after part of the record, leaves the file as it
// was before that record; the records around it are whole and the next one is written.
TEST_F(TSKX_LoggerTest, AFailedWriteLeavesNoPartOfItsRecord) {
    const std::string records[] = {"first record", "second, a longer record", "third", "fourth"};
    for (TWriteFault fault : {TWriteFault::Fail, TWriteFault::Short}) {
        // Each record takes one call; a short write takes two, the second failing.
        for (int failAt = 1; failAt <= 4; ++failAt) {
            TempDir dir;
            TSKX_Logger logger(dir.Path(), "");
            logger.SetUseLock(true);
            logger.SetFileWriteForTesting(FailingWrite(failAt, fault));
            std::string expected;
            for (int i = 0; i < 4; ++i) {
                const bool lost = i == failAt - 1;
                EXPECT_EQ(logger.WriteLog(records[i]), !lost) << failAt << " " << i;
                if (!lost)
                    expected += records[i] + "\r\n";
            }
            EXPECT_EQ(dir.ReadFile("20261207.log"), expected) << failAt;
            EXPECT_EQ(logger.WriteCount(), 4);
            EXPECT_EQ(logger.ErrorCount(), 1);
        }
    }
}

// The writer that keeps its file open (UseLock) leaves the files that opening the file for every
// write leaves, byte for byte: through a removed file, a renamed one (noticed by a write a
// second later), local midnight, a changed directory and a changed form of the names.
TEST_F(TSKX_LoggerTest, AKeptOpenFileLeavesWhatOpeningPerWriteLeaves) {
    TempDir keptDir, openedDir;
    TSKX_Logger kept(keptDir.Path(), "");
    kept.SetUseLock(true);
    TSKX_Logger opened(openedDir.Path(), "");
    const int descriptors = OpenDescriptorCount();
    auto onBoth = [&](const std::function<void(TSKX_Logger&, const TempDir&)>& AStep) {
        AStep(kept, keptDir);
        AStep(opened, openedDir);
    };
    // Each record also tells where it ended: the end of the file it went to, as it is now.
    auto write = [&](const std::string& AText) {
        onBoth([&](TSKX_Logger& ALogger, const TempDir&) {
            TFilePlace place;
            EXPECT_TRUE(ALogger.WriteLog(AText, &place));
            struct stat file {};
            ASSERT_EQ(::stat(ALogger.FileName().c_str(), &file), 0);
            EXPECT_EQ(place.Inode, static_cast<std::uint64_t>(file.st_ino)) << AText;
            EXPECT_EQ(place.End, static_cast<std::int64_t>(file.st_size)) << AText;
        });
    };
    write("first");
    write("second");
    onBoth([](TSKX_Logger&, const TempDir& ADir) { fs::remove(ADir.Path() + "20261207.log"); });
    write("after removal");
    onBoth([](TSKX_Logger&, const TempDir& ADir) {
        fs::rename(ADir.Path() + "20261207.log", ADir.Path() + "20261207.old");
    });
    ScopedClock::Set(UtcInstant(2026, 12, 7, 8, 49, 39, 500));
    write("after renaming");
    ScopedClock::Set(UtcInstant(2026, 12, 7, 23, 59, 59, 999));
    write("last of the day");
    ScopedClock::Set(UtcInstant(2026, 12, 8));
    write("next day");
    onBoth([](TSKX_Logger& ALogger, const TempDir& ADir) {
        fs::create_directory(ADir.Path() + "moved");
        ALogger.SetDirectory(ADir.Path() + "moved");
    });
    write("moved");
    onBoth([](TSKX_Logger& ALogger, const TempDir&) { ALogger.SetNameDateFormat("yyyy-mm-dd"); });
    write("named anew");

    EXPECT_EQ(FileTree(keptDir), FileTree(openedDir));
    EXPECT_EQ(FileTree(keptDir), (std::map<std::string, std::string>{
                                     {"20261207.old", "after removal\r\n"},
                                     {"20261207.log", "after renaming\r\nlast of the day\r\n"},
                                     {"20261208.log", "next day\r\n"},
                                     {"moved/20261208.log", "moved\r\n"},
                                     {"moved/2026-12-08.log", "named anew\r\n"}}));
    EXPECT_EQ(OpenDescriptorCount(), descriptors + 1); // only the file of the latest write
    EXPECT_EQ(kept.WriteCount(), opened.WriteCount());
    EXPECT_EQ(kept.ErrorCount(), 0);
}
