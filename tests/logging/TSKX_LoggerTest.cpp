#include "logging/TSKX_Logger.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

#include "ZoneAndClock.h"
#include "support/TempDir.h"

namespace {

std::string CurrentDirectory() {
    return std::filesystem::current_path().string() + "/";
}

std::set<std::string> FileNames(const std::string& ADirectory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ADirectory))
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

TEST_F(TSKX_LoggerTest, CreateChoosesDirectoryAndExtension) {
    // The working directory, not the program's (which is where the tests start).
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::create_directory(FDir.Path() + "cwd");
    std::filesystem::current_path(FDir.Path() + "cwd");
    TSKX_Logger inWorkingDir("", "");
    EXPECT_EQ(inWorkingDir.Directory(), CurrentDirectory());
    EXPECT_EQ(TSKX_Logger(FDir.Path() + "missing", "").Directory(), CurrentDirectory());
    EXPECT_TRUE(inWorkingDir.WriteLog("here"));
    std::filesystem::current_path(started);
    EXPECT_TRUE(FDir.Exists("cwd/20261207.log"));
    std::string withoutSlash = FDir.Path().substr(0, FDir.Path().size() - 1);
    EXPECT_EQ(TSKX_Logger(withoutSlash, "").Directory(), FDir.Path());
    EXPECT_EQ(TSKX_Logger(FDir.Path(), "").Directory(), FDir.Path());

    const std::pair<const char*, const char*> names[] = {
        {"", ".log"}, {"log2", ".log2"}, {".txt", ".txt"}, {"txt", ".txt"}};
    for (const auto& [name, extension] : names) {
        TSKX_Logger logger(FDir.Path(), name);
        EXPECT_EQ(logger.Extension(), extension);
        ASSERT_TRUE(logger.WriteLog("x"));
        EXPECT_EQ(logger.FileName(), FDir.Path() + "20261207" + extension);
        EXPECT_TRUE(FDir.Exists(std::string("20261207") + extension)) << name;
    }
}

TEST_F(TSKX_LoggerTest, WritesExactBytesAndOptionalPrefixes) {
    TSKX_Logger logger(FDir.Path(), "");
    EXPECT_EQ(logger.FileName(), "");
    ASSERT_TRUE(logger.WriteLog("a"));
    ASSERT_TRUE(logger.WriteLog("b"));
    EXPECT_EQ(FDir.ReadFile("20261207.log"), "a\r\nb\r\n");

    TSKX_Logger detail(FDir.Path(), "log2");
    detail.SetTimePrefix(true);
    ASSERT_TRUE(detail.WriteLog("one\r\ntwo"));
    detail.SetDateTimePrefix(true); // wins over the time prefix
    ASSERT_TRUE(detail.WriteLog("three"));
    detail.SetAddLineBreak(false);
    detail.SetDateTimePrefix(false);
    detail.SetTimePrefix(false);
    ASSERT_TRUE(detail.WriteLog(std::string("\0\xFF", 2)));
    EXPECT_EQ(FDir.ReadFile("20261207.log2"), "08:49:37:125: one\r\ntwo\r\n"
                                              "2026.12.07-08:49:37:125: three\r\n" +
                                                  std::string("\0\xFF", 2));
    EXPECT_EQ(detail.WriteCount(), 3);
    EXPECT_EQ(detail.ErrorCount(), 0);
}

TEST_F(TSKX_LoggerTest, LocalMidnightStartsANewFile) {
    ScopedTimeZone berlin(ZoneBerlin);
    TSKX_Logger logger(FDir.Path(), "");
    ScopedClock::Set(UtcInstant(2026, 12, 7, 22, 59, 59, 999)); // 23:59:59.999 local
    ASSERT_TRUE(logger.WriteLog("before"));
    ScopedClock::Set(UtcInstant(2026, 12, 7, 23, 0, 0, 0)); // 00:00 local, still the 7th in UTC
    ASSERT_TRUE(logger.WriteLog("after"));
    EXPECT_EQ(FDir.ReadFile("20261207.log"), "before\r\n");
    EXPECT_EQ(FDir.ReadFile("20261208.log"), "after\r\n");
    EXPECT_EQ(logger.FileName(), FDir.Path() + "20261208.log");
}

TEST_F(TSKX_LoggerTest, ADeletedFileIsCreatedAnewAfterCleanup) {
    TSKX_Logger logger(FDir.Path(), "");
    ASSERT_TRUE(logger.WriteLog("first"));
    FDir.WriteFile("20261101.log", "old");
    logger.SetAutoCleanup(true);
    logger.SetMaxAgeDays(7);
    ASSERT_TRUE(logger.WriteLog("second")); // the file exists: no clean-up
    EXPECT_TRUE(FDir.Exists("20261101.log"));
    std::filesystem::remove(FDir.Path() + "20261207.log");
    ASSERT_TRUE(logger.WriteLog("third")); // a new file: clean-up first
    EXPECT_FALSE(FDir.Exists("20261101.log"));
    EXPECT_EQ(FDir.ReadFile("20261207.log"), "third\r\n");

    logger.SetCleanupOnEveryWrite(true);
    FDir.WriteFile("20261102.log", "old");
    ASSERT_TRUE(logger.WriteLog("fourth"));
    EXPECT_FALSE(FDir.Exists("20261102.log"));
}

TEST_F(TSKX_LoggerTest, CleanupDeletesOldestFilesOfItsOwnExtensionOnly) {
    for (const char* name : {"20261201.log", "20261202.log", "20261203.log", "20261204.log",
                             "20261205.log", "20261101.log2", "notes.txt"})
        FDir.WriteFile(name, "x");
    std::filesystem::create_directory(FDir.Path() + "20261001.log");
    TSKX_Logger logger(FDir.Path(), "");
    logger.SetAutoCleanup(true);
    logger.SetMaxFiles(3);
    ASSERT_TRUE(logger.WriteLog("new"));
    EXPECT_EQ(FileNames(FDir.Path()),
              (std::set<std::string>{"20261001.log", "20261101.log2", "20261203.log",
                                     "20261204.log", "20261205.log", "20261207.log", "notes.txt"}));
    EXPECT_EQ(logger.DeleteErrorCount(), 0);
}

TEST_F(TSKX_LoggerTest, CleanupByAgeAndWithBothLimitsOff) {
    for (const char* name : {"20261129.log", "20261130.log", "20261201.log"})
        FDir.WriteFile(name, "x");
    TSKX_Logger logger(FDir.Path(), "");
    EXPECT_FALSE(logger.Cleanup()); // both limits 0
    EXPECT_EQ(FileNames(FDir.Path()).size(), 3u);
    logger.SetMaxAgeDays(7);
    EXPECT_TRUE(logger.Cleanup());
    EXPECT_EQ(FileNames(FDir.Path()), (std::set<std::string>{"20261130.log", "20261201.log"}));
}

TEST_F(TSKX_LoggerTest, AVanishedDirectoryCountsAnErrorPerWrite) {
    TSKX_Logger logger(FDir.Path(), "");
    logger.SetDirectory(FDir.Path() + "gone");
    EXPECT_EQ(logger.Directory(), FDir.Path() + "gone/");
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

namespace {

std::string LineOf(int AThread, int AIndex) {
    return "thread " + std::to_string(AThread) + " line " + std::to_string(AIndex) + " " +
           std::string(200 + AIndex % 50, static_cast<char>('a' + AThread));
}

// Every line of the writer's files in the directories; a line without CR LF shows as such.
std::multiset<std::string> LinesIn(const std::vector<std::string>& ADirectories) {
    std::multiset<std::string> lines;
    for (const std::string& dir : ADirectories) {
        std::ifstream file(dir + "20261207.log", std::ios::binary);
        for (std::string line; std::getline(file, line);)
            lines.insert(!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1)
                                                              : "unterminated: " + line);
    }
    return lines;
}

} // namespace

TEST_F(TSKX_LoggerTest, ConcurrentWritesStayWholeWhileTheDirectoryChanges) {
    constexpr int kWriters = 4, kLines = 250;
    const std::vector<std::string> dirs = {FDir.Path() + "a/", FDir.Path() + "b/"};
    for (const std::string& dir : dirs)
        std::filesystem::create_directory(dir);
    TSKX_Logger logger(dirs[0], "");
    logger.SetUseLock(true);
    std::atomic<int> running{kWriters}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t)
        threads.emplace_back([&, t] {
            try {
                for (int i = 0; i < kLines; ++i)
                    if (!logger.WriteLog(LineOf(t, i)))
                        ++failures;
            } catch (...) {
                ++failures;
            }
            --running;
        });
    threads.emplace_back([&] {
        try {
            for (int i = 0; running > 0; ++i) {
                logger.SetDirectory(dirs[i % 2]);
                if (logger.FileName().empty() && logger.WriteCount() > 0)
                    ++failures; // never a half-set name
                std::this_thread::yield();
            }
        } catch (...) {
            ++failures;
        }
    });
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(logger.WriteCount(), kWriters * kLines);
    EXPECT_EQ(logger.ErrorCount(), 0);
    std::multiset<std::string> expected;
    for (int t = 0; t < kWriters; ++t)
        for (int i = 0; i < kLines; ++i)
            expected.insert(LineOf(t, i));
    EXPECT_TRUE(LinesIn(dirs) == expected);
}
