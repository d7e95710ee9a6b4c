#include "config/config.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "base/ProgramDir.h"
#include "support/TempDir.h"

namespace {

// The three files of one test, in its own directory.
struct TConfigDir {
    TempDir Dir;
    TConfigFiles Files{Dir.Path() + "sk_KAV.ini", Dir.Path() + "sk_KAV.NN",
                       Dir.Path() + "sk_KAV.NL"};

    TKAV_GeneralConfig Loaded() const {
        TKAV_GeneralConfig config;
        EXPECT_TRUE(LoadConfig(config, Files));
        return config;
    }
};

const char* const DefaultSettingsFile = "[General]\r\n"
                                        "AutoStart=0\r\n"
                                        "ServerPort=88\r\n"
                                        "ResolveHostNames=0\r\n"
                                        "EvalIfModifiedSince=0\r\n"
                                        "CacheControlMaxAge=0\r\n"
                                        "CacheControlMaxAgeSecs=0\r\n"
                                        "CacheControlPrivate=0\r\n"
                                        "CacheControlNoCache=1\r\n"
                                        "PragmaNoCache=1\r\n"
                                        "LastModified=1\r\n"
                                        "LastModifiedDays=1\r\n"
                                        "Expires=1\r\n"
                                        "ExpiresSecs=3\r\n"
                                        "LogNoLogs=0\r\n"
                                        "UseNickNames=0\r\n"
                                        "GotoTNA=0\r\n"
                                        "LogDir=\r\n"
                                        "[OverviewLog]\r\n"
                                        "LogToScreen=0\r\n"
                                        "LogToFile=0\r\n"
                                        "LimitScreenLog=1\r\n"
                                        "ScreenLogLines=5000\r\n"
                                        "WrapLines=1\r\n"
                                        "LogNoLogs=0\r\n"
                                        "[DetailLog]\r\n"
                                        "LogToScreen=0\r\n"
                                        "LogToFile=0\r\n"
                                        "LimitScreenLog=1\r\n"
                                        "ScreenLogLines=5000\r\n"
                                        "WrapLines=1\r\n"
                                        "LogNoLogs=0\r\n";

} // namespace

TEST(configTest, NoFilesGiveTheDefaults) {
    TConfigDir dir;
    TKAV_GeneralConfig config;
    config.ServerPort = 1;
    config.NickNames = {"stale"};
    ASSERT_TRUE(LoadConfig(config, dir.Files));
    EXPECT_EQ(config.ServerPort, 88);
    EXPECT_TRUE(config.Expires && config.LastModified && config.CacheControlNoCache &&
                config.PragmaNoCache);
    EXPECT_EQ(config.ExpiresSecs, 3);
    EXPECT_EQ(config.LastModifiedDays, 1);
    EXPECT_EQ(config.OverviewScreenLogLines, 5000);
    EXPECT_EQ(config.DetailScreenLogLines, 5000);
    EXPECT_TRUE(config.OverviewWrapLines && config.DetailWrapLines);
    EXPECT_TRUE(config.OverviewLimitScreenLog && config.DetailLimitScreenLog);
    EXPECT_TRUE(config.NickNames.empty());
    EXPECT_EQ(config, TKAV_GeneralConfig());

    // a fresh save writes General (AutoStart first), then OverviewLog and DetailLog
    ASSERT_TRUE(SaveConfig(config, dir.Files));
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.ini"), DefaultSettingsFile);
}

TEST(configTest, ValuesFromTheFile) {
    struct Case {
        const char* Line;
        std::function<bool(const TKAV_GeneralConfig&)> Holds;
    };
    const Case cases[] = {
        {"[General]\nServerPort=0x50", [](auto& c) { return c.ServerPort == 80; }},
        {"[General]\nServerPort=abc", [](auto& c) { return c.ServerPort == 88; }},
        {"[General]\nAutoStart=2", [](auto& c) { return c.AutoStart; }},
        {"[General]\nAutoStart=", [](auto& c) { return !c.AutoStart; }},
        {"[general]\nexpires=0", [](auto& c) { return !c.Expires; }},
        {"[DetailLog]\nLogNoLogs=1", [](auto& c) { return c.DetailLogNoLogs && !c.LogNoLogs; }},
        {"[OverviewLog]\nScreenLogLines=12",
         [](auto& c) { return c.OverviewScreenLogLines == 12 && c.DetailScreenLogLines == 5000; }},
        {"[General]\nAppTitle=  Shop  ", [](auto& c) { return c.AppTitle == "Shop"; }},
        {"[General]\nLogDir=/no/such/dir", [](auto& c) { return c.LogDir.empty(); }},
    };
    for (const Case& c : cases) {
        TConfigDir dir;
        dir.Dir.WriteFile("sk_KAV.ini", c.Line);
        EXPECT_TRUE(c.Holds(dir.Loaded())) << c.Line;
    }
}

TEST(configTest, LogDirMustExistAndEndsWithADelimiter) {
    TConfigDir dir;
    std::string logs = dir.Dir.Path() + "logs";
    std::filesystem::create_directory(logs);
    dir.Dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + logs + "\r\n");
    EXPECT_EQ(dir.Loaded().LogDir, logs + "/");

    std::filesystem::remove(logs);
    TKAV_GeneralConfig config = dir.Loaded();
    EXPECT_EQ(config.LogDir, "");
    ASSERT_TRUE(SaveConfig(config, dir.Files));
    EXPECT_NE(dir.Dir.ReadFile("sk_KAV.ini").find("\r\nLogDir=\r\n"), std::string::npos);
}

TEST(configTest, SavingKeepsHandWrittenLinesAndRoundTrips) {
    TConfigDir dir;
    dir.Dir.WriteFile("sk_KAV.ini", "; my shop\r\n[General]\r\nAppTitle=Shop\r\nMine=1\r\n");
    TKAV_GeneralConfig config = dir.Loaded();
    config.ServerPort = 8088;
    config.DetailLogToFile = true;
    config.CacheControlMaxAgeSecs = -7;
    config.AppTitle = "Overwritten?"; // never written
    config.NickNames = {"10.0.0.7=Anna", " 10.0.0.8 = Bob "};
    config.NoLogs = {"10.0.0.9"};
    for (int save = 0; save < 3; ++save)
        ASSERT_TRUE(SaveConfig(config, dir.Files));

    std::string text = dir.Dir.ReadFile("sk_KAV.ini");
    EXPECT_TRUE(text.starts_with("; my shop\r\n[General]\r\nAppTitle=Shop\r\nMine=1\r\n"));
    TKAV_GeneralConfig loaded = dir.Loaded();
    EXPECT_EQ(loaded.AppTitle, "Shop");
    loaded.AppTitle = config.AppTitle;
    EXPECT_EQ(loaded, config);
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.NN"), "10.0.0.7=Anna\r\n 10.0.0.8 = Bob \r\n");
}

TEST(configTest, ListFiles) {
    TConfigDir dir;
    dir.Dir.WriteFile("sk_KAV.NN", "10.0.0.7=Anna\n10.0.0.8=Bob");
    dir.Dir.WriteFile("sk_KAV.NL", "");
    TKAV_GeneralConfig config = dir.Loaded();
    EXPECT_EQ(config.NickNames, (std::vector<std::string>{"10.0.0.7=Anna", "10.0.0.8=Bob"}));
    EXPECT_TRUE(config.NoLogs.empty());
    ASSERT_TRUE(SaveConfig(config, dir.Files));
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.NN"), "10.0.0.7=Anna\r\n10.0.0.8=Bob\r\n");
    EXPECT_TRUE(dir.Dir.Exists("sk_KAV.NL"));
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.NL"), "");
}

TEST(configTest, UnreadableSettingsFileIsNeitherLoadedNorReplaced) {
    TConfigDir dir;
    std::filesystem::create_directory(dir.Files.Settings); // exists, cannot be read
    TKAV_GeneralConfig config;
    config.ServerPort = 1234;
    EXPECT_FALSE(LoadConfig(config, dir.Files));
    EXPECT_EQ(config.ServerPort, 1234);
    EXPECT_FALSE(SaveConfig(config, dir.Files));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Files.Settings));
    EXPECT_FALSE(dir.Dir.Exists("sk_KAV.NN"));
    EXPECT_EQ(LoadWindowPos(dir.Files.Settings, {1, 2, 3, 4}), (TWindowBounds{1, 2, 3, 4}));
}

TEST(configTest, ALineBreakInATextCannotForgeKeys) {
    TConfigDir dir;
    TKAV_GeneralConfig config;
    config.ServerPort = 99;
    config.LogDir = "/tmp/x\r\nServerPort=1\r\n";
    EXPECT_FALSE(SaveConfig(config, dir.Files));
    TKAV_GeneralConfig loaded = dir.Loaded();
    EXPECT_EQ(loaded.ServerPort, 99); // the keys before LogDir were saved
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.ini").find("ServerPort=1\r"), std::string::npos);
}

TEST(configTest, WindowPosition) {
    TConfigDir dir;
    const std::string& path = dir.Files.Settings;
    EXPECT_EQ(LoadWindowPos(path, {}), (TWindowBounds{0, 0, 373, 819}));

    dir.Dir.WriteFile("sk_KAV.ini",
                      "[General]\r\nAppTitle=Shop\r\n[windowpos]\r\nTop=x\r\nLeft=-8");
    EXPECT_EQ(LoadWindowPos(path, {}), (TWindowBounds{-8, 0, 373, 819}));

    SaveWindowPos(path, {10, 20, 300, 400});
    EXPECT_EQ(LoadWindowPos(path, {}), (TWindowBounds{10, 20, 300, 400}));
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.ini"), "[General]\r\nAppTitle=Shop\r\n[windowpos]\r\n"
                                              "Top=20\r\nLeft=10\r\nHeight=300\r\nWidth=400\r\n");
}

TEST(configTest, ProcessWideRecordUsesTheProgramDirectory) {
    TempDir dir;
    SetProgramDir(dir.Path());
    EXPECT_EQ(ConfigFilePath(), dir.Path() + "sk_KAV.ini");
    EXPECT_EQ(NickNameFilePath(), dir.Path() + "sk_KAV.NN");
    EXPECT_EQ(NoLogFilePath(), dir.Path() + "sk_KAV.NL");

    dir.WriteFile("sk_KAV.ini", "[General]\r\nServerPort=8000\r\n");
    dir.WriteFile("sk_KAV.NL", "10.0.0.9\r\n");
    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig = TKAV_GeneralConfig(); });
    auto before = GeneralConfigSnapshot();
    ASSERT_TRUE(LoadConfig());
    auto after = GeneralConfigSnapshot();
    EXPECT_EQ(before->ServerPort, 88); // a snapshot never changes once taken
    EXPECT_EQ(after->ServerPort, 8000);
    EXPECT_EQ(after->NoLogs, std::vector<std::string>{"10.0.0.9"});

    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig.ServerPort = 9000; });
    ASSERT_TRUE(SaveConfig());
    SaveWindowPos({1, 2, 3, 4});
    EXPECT_EQ(LoadWindowPos(), (TWindowBounds{1, 2, 3, 4}));
    TKAV_GeneralConfig reloaded;
    ASSERT_TRUE(LoadConfig(reloaded, DefaultConfigFiles()));
    EXPECT_EQ(reloaded.ServerPort, 9000);
}

// Readers on several threads must always see one whole record: the port, both lists and
// their lengths all from the same change.
TEST(configTest, ReadersNeverSeeAHalfChangedRecord) {
    constexpr int Changes = 3000;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<long> reads{0};
    std::atomic<int> started{0};
    auto reader = [&] {
        ++started;
        try {
            do {
                auto config = GeneralConfigSnapshot();
                const std::string mark = "=" + std::to_string(config->ServerPort);
                bool whole = config->NickNames.size() == config->NoLogs.size() &&
                             config->NickNames.size() == size_t(config->ServerPort % 17);
                for (const std::string& line : config->NickNames)
                    whole = whole && line.ends_with(mark);
                torn += whole ? 0 : 1;
                ++reads;
            } while (!done.load());
        } catch (...) {
            ++torn;
        }
    };
    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig = TKAV_GeneralConfig(); });
    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig.ServerPort = 0; });
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back(reader);
    // overlap the readers with the changes; the wait is bounded, the checks hold regardless
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (started.load() < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    for (int change = 1; change <= Changes; ++change)
        ChangeGeneralConfig([change](TKAV_GeneralConfig& AConfig) {
            AConfig.NickNames.clear();
            AConfig.NoLogs.clear();
            AConfig.ServerPort = change; // a torn record would show an old port or list
            for (int i = 0; i < change % 17; ++i) {
                AConfig.NickNames.push_back("10.0.0." + std::to_string(i) + "=" +
                                            std::to_string(change));
                AConfig.NoLogs.push_back("10.0.1." + std::to_string(i));
            }
        });
    done = true;
    for (std::thread& thread : readers)
        thread.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(GeneralConfigSnapshot()->ServerPort, Changes);
}
