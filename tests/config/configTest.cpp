#include "config/config.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "base/ProgramDir.h"
#include "config/FileText.h"
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

// Every key with its default, in the order a fresh save writes them.
const char* const DefaultSettingsFile =
    "[General]\r\nAutoStart=0\r\nServerPort=88\r\nResolveHostNames=0\r\nEvalIfModifiedSince=0\r\n"
    "CacheControlMaxAge=0\r\nCacheControlMaxAgeSecs=0\r\nCacheControlPrivate=0\r\n"
    "CacheControlNoCache=1\r\nPragmaNoCache=1\r\nLastModified=1\r\nLastModifiedDays=1\r\n"
    "Expires=1\r\nExpiresSecs=3\r\nLogNoLogs=0\r\nUseNickNames=0\r\nGotoTNA=0\r\nLogDir=\r\n"
    "MaxConnectionsPerIP=16\r\nHeadTimeoutUnderLoad=2000\r\nMaxBodySize=65536\r\n"
    "MaxHeaderSize=32768\r\nMaxRequestMemory=33554432\r\nReuseThreads=64\r\nBindAddress=\r\n"
    "TrustedProxies=\r\nForwardedHeader=X-Forwarded-For\r\n"
    "[OverviewLog]\r\nLogToScreen=0\r\nLogToFile=0\r\nLimitScreenLog=1\r\nScreenLogLines=5000\r\n"
    "WrapLines=1\r\nLogNoLogs=0\r\n"
    "[DetailLog]\r\nLogToScreen=0\r\nLogToFile=0\r\nLimitScreenLog=1\r\nScreenLogLines=5000\r\n"
    "WrapLines=1\r\nLogNoLogs=0\r\n"
    "[TLS]\r\nCertFile=\r\nKeyFile=\r\n"
    "[Store]\r\nConnection=\r\nMaxSpoolBytes=1073741824\r\n"
    "[Export]\r\nJsonFile=0\r\nInstance=\r\n"
    "[Dashboard]\r\nPort=0\r\nBindAddress=127.0.0.1\r\nPasswordHash=\r\nShareToken=\r\n"
    "[Privacy]\r\nMaskAddresses=0\r\nKeepIPv4Bits=16\r\nKeepIPv6Bits=32\r\nVisitorIds=0\r\n"
    "HonourDoNotTrack=0\r\nRedactCredentials=1\r\nKeepLogDays=0\r\n";

} // namespace

TEST(configTest, NoFilesGiveTheDefaults) {
    TConfigDir dir;
    TKAV_GeneralConfig config;
    config.ServerPort = 1;
    config.NickNames = {"stale"};
    ASSERT_TRUE(LoadConfig(config, dir.Files));
    EXPECT_EQ(config, TKAV_GeneralConfig());
    ASSERT_TRUE(SaveConfig(config, dir.Files));
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.ini"), DefaultSettingsFile);
}

// Names without regard to case, hexadecimal, texts trimmed, a LogDir only if it exists.
TEST(configTest, ValuesFromTheFile) {
    TConfigDir dir;
    dir.Dir.WriteFile("sk_KAV.ini", "[general]\nServerPort=0x50\nAutoStart=2\nexpires=0\n"
                                    "AppTitle=  Shop  \nLogDir=/no/such/dir\n[DetailLog]\n"
                                    "LogNoLogs=1\n[OverviewLog]\nScreenLogLines=12");
    TKAV_GeneralConfig config = dir.Loaded();
    EXPECT_EQ(config.ServerPort, 80);
    EXPECT_TRUE(config.AutoStart && config.DetailLogNoLogs);
    EXPECT_FALSE(config.Expires || config.LogNoLogs);
    EXPECT_EQ(config.OverviewScreenLogLines, 100); // the window's field starts at 100
    EXPECT_EQ(config.DetailScreenLogLines, 5000);
    EXPECT_EQ(config.AppTitle, "Shop");
    EXPECT_EQ(config.LogDir, "");
    std::filesystem::create_directory(dir.Dir.Path() + "logs");
    dir.Dir.WriteFile("sk_KAV.ini", "[General]\r\nServerPort=abc\r\nAutoStart=\r\nLogDir=" +
                                        dir.Dir.Path() + "logs\r\n");
    config = dir.Loaded();
    EXPECT_EQ(config.ServerPort, 88);
    EXPECT_FALSE(config.AutoStart);
    EXPECT_EQ(config.LogDir, dir.Dir.Path() + "logs/");

    // Visitor ids follow the masking where the file does not say otherwise.
    const struct {
        const char* Privacy;
        bool VisitorIds;
    } follow[] = {{"MaskAddresses=1\r\n", true},
                  {"MaskAddresses=1\r\nVisitorIds=0\r\n", false},
                  {"MaskAddresses=1\r\nVisitorIds=maybe\r\n", true},
                  {"VisitorIds=1\r\n", true},
                  {"", false}};
    for (const auto& f : follow) {
        dir.Dir.WriteFile("sk_KAV.ini", std::string("[Privacy]\r\n") + f.Privacy);
        EXPECT_EQ(dir.Loaded().VisitorIds, f.VisitorIds) << f.Privacy;
    }
}

// Lists read with any line end (the last one may lack it) and written with CR LF.
TEST(configTest, SavingKeepsHandWrittenLinesAndListsAndRoundTrips) {
    TConfigDir dir;
    dir.Dir.WriteFile("sk_KAV.ini", "; my shop\r\n[General]\r\nAppTitle=Shop\r\nMine=1\r\n");
    dir.Dir.WriteFile("sk_KAV.NN", "10.0.0.7=Anna\n 10.0.0.8 = Bob ");
    dir.Dir.WriteFile("sk_KAV.NL", "");
    TKAV_GeneralConfig config = dir.Loaded();
    EXPECT_EQ(config.NickNames, (std::vector<std::string>{"10.0.0.7=Anna", " 10.0.0.8 = Bob "}));
    EXPECT_TRUE(config.NoLogs.empty());
    config.ServerPort = 8088;
    config.DetailLogToFile = true;
    config.CacheControlMaxAgeSecs = 77;
    config.MaxConnectionsPerIP = 0;
    config.MaxBodySize = 1000;
    config.TLSCertFile = "/etc/letsencrypt/live/stats.example.org/fullchain.pem";
    config.TLSKeyFile = "/etc/letsencrypt/live/stats.example.org/privkey.pem";
    config.StoreConnection = "postgresql://skav@db.example/stats?sslmode=verify-full";
    config.StoreMaxSpoolBytes = 0;
    config.ExportJsonFile = true;
    config.ExportInstance = "edge-1";
    config.DashboardPort = 8089;
    config.DashboardBindAddress = "";
    config.DashboardPasswordHash = "pbkdf2-sha256$600000$00ff$abcd";
    TKAV_GeneralConfig changedTitle = config;
    changedTitle.AppTitle = "Overwritten?"; // never written
    for (int save = 0; save < 3; ++save)
        ASSERT_TRUE(SaveConfig(changedTitle, dir.Files));
    EXPECT_TRUE(dir.Dir.ReadFile("sk_KAV.ini")
                    .starts_with("; my shop\r\n[General]\r\nAppTitle=Shop\r\nMine=1\r\n"));
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.NN"), "10.0.0.7=Anna\r\n 10.0.0.8 = Bob \r\n");
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.NL"), "");
    config.NoLogs = {"10.0.0.9"};
    ASSERT_TRUE(SaveConfig(config, dir.Files));
    EXPECT_EQ(dir.Loaded(), config);
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
    EXPECT_EQ(dir.Loaded().ServerPort, 99); // the keys before LogDir were saved
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
    EXPECT_EQ(dir.Dir.ReadFile("sk_KAV.ini"), "[General]\r\nAppTitle=Shop\r\n[windowpos]\r\n"
                                              "Top=20\r\nLeft=10\r\nHeight=300\r\nWidth=400\r\n");
}

// The process-wide record: files in the program directory, snapshots that never change.
TEST(configTest, ProcessWideRecordUsesTheProgramDirectory) {
    TempDir dir;
    SetProgramDir(dir.Path());
    EXPECT_EQ(ConfigFilePath(), dir.Path() + "sk_KAV.ini");
    EXPECT_EQ(NickNameFilePath(), dir.Path() + "sk_KAV.NN");
    EXPECT_EQ(NoLogFilePath(), dir.Path() + "sk_KAV.NL");
    dir.WriteFile("sk_KAV.ini", "[General]\r\nServerPort=8000\r\n");
    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig = TKAV_GeneralConfig(); });
    auto before = GeneralConfigSnapshot();
    ASSERT_TRUE(LoadConfig());
    EXPECT_EQ(before->ServerPort, 88);
    EXPECT_EQ(GeneralConfigSnapshot()->ServerPort, 8000);
    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) { AConfig.ServerPort = 9000; });
    ASSERT_TRUE(SaveConfig());
    SaveWindowPos({1, 2, 3, 4});
    EXPECT_EQ(LoadWindowPos(), (TWindowBounds{1, 2, 3, 4}));
    EXPECT_NE(dir.ReadFile("sk_KAV.ini").find("\r\nServerPort=9000\r\n"), std::string::npos);
}

// Readers on several threads must always see one whole record: the port, both lists and
// their lengths all from the same change.
TEST(configTest, ReadersNeverSeeAHalfChangedRecord) {
    constexpr int Changes = 3000;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, started{0};
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
            } while (!done.load());
        } catch (...) {
            ++torn;
        }
    };
    ChangeGeneralConfig([](TKAV_GeneralConfig& AConfig) {
        AConfig = TKAV_GeneralConfig();
        AConfig.ServerPort = 0;
    });
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back(reader);
    // overlap the readers with the changes; the wait is bounded, the checks hold regardless
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (started.load() < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    for (int change = 1; change <= Changes; ++change)
        ChangeGeneralConfig([change](TKAV_GeneralConfig& AConfig) {
            AConfig = TKAV_GeneralConfig();
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
    EXPECT_EQ(GeneralConfigSnapshot()->ServerPort, Changes);
}

// Numbers are held to the ranges of the window's fields, so no extreme value reaches a header
// line; the port is kept as written: a port outside 1..65535 refuses the start instead.
TEST(configTest, NumbersFromTheFileAreClampedToTheWindowsRanges) {
    TConfigDir dir;
    dir.Dir.WriteFile(
        "sk_KAV.ini",
        "[General]\r\nServerPort=65625\r\nCacheControlMaxAgeSecs=-2147483648\r\n"
        "LastModifiedDays=2147483647\r\nExpiresSecs=0x7FFFFFFF\r\n"
        "MaxConnectionsPerIP=-1\r\nHeadTimeoutUnderLoad=1\r\nMaxBodySize=999999999\r\n"
        "MaxHeaderSize=0\r\nMaxRequestMemory=1\r\nReuseThreads=99999\r\n[OverviewLog]\r\n"
        "ScreenLogLines=99999999\r\n[DetailLog]\r\nScreenLogLines=-5\r\n"
        "[Store]\r\nMaxSpoolBytes=-1\r\n"
        "[Privacy]\r\nKeepIPv4Bits=33\r\nKeepIPv6Bits=-1\r\nKeepLogDays=3651\r\n");
    const TKAV_GeneralConfig c = dir.Loaded();
    EXPECT_EQ(c.ServerPort, 65625);
    EXPECT_FALSE(c.PortZeroAllowed);
    const std::pair<int32_t, int32_t> clamped[] = {
        {c.CacheControlMaxAgeSecs, 0},
        {c.LastModifiedDays, 100000},
        {c.ExpiresSecs, 100000},
        {c.MaxConnectionsPerIP, 0},
        {c.HeadTimeoutUnderLoad, HeadTimeoutRange.Min},
        {c.MaxBodySize, BodySizeRange.Max},
        {c.MaxHeaderSize, HeaderSizeRange.Min},
        {c.MaxRequestMemory, RequestMemoryRange.Min},
        {c.ReuseThreads, ReuseThreadsRange.Max},
        {c.OverviewScreenLogLines, 1000000},
        {c.DetailScreenLogLines, 1000},
        {c.StoreMaxSpoolBytes, 0},
        {c.KeepIPv4Bits, 32},
        {c.KeepIPv6Bits, 0},
        {c.KeepLogDays, 3650},
    };
    for (std::size_t i = 0; i < std::size(clamped); ++i)
        EXPECT_EQ(clamped[i].first, clamped[i].second) << i;
}

// A list file that is a FIFO, a device or too large gives an empty list and a note, never a
// start that hangs or runs out of memory; so does a LogDir that is no directory.
TEST(configTest, UntrustworthyFilesGiveEmptyListsAndNotes) {
    TConfigDir dir;
    ASSERT_EQ(::mkfifo(dir.Files.NickNames.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.Files.NoLogs);
    dir.Dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + dir.Files.Settings + "\r\n");
    std::vector<TLoadNote> notes;
    TKAV_GeneralConfig config;
    config.NickNames = {"stale"};
    // Bounded even where opening the FIFO would wait: a writer is opened for it then.
    auto load =
        std::async(std::launch::async, [&] { return LoadConfig(config, dir.Files, &notes); });
    if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "opening the FIFO waited for a writer";
        ::close(::open(dir.Files.NickNames.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_TRUE(load.get());
    EXPECT_TRUE(config.NickNames.empty());
    EXPECT_TRUE(config.NoLogs.empty());
    EXPECT_EQ(config.LogDir, "");
    const std::vector<TLoadNote> expected = {
        {"Log directory \"" + dir.Files.Settings + "\" is not a directory", true},
        {"Nickname list \"" + dir.Files.NickNames +
         "\" is no readable file of at most 16 MiB: the list is empty"},
        {"No-log list \"" + dir.Files.NoLogs +
         "\" is no readable file of at most 16 MiB: the list is empty"}};
    EXPECT_EQ(notes, expected);

    // A regular file past 16 MiB is refused as well, and so is such a settings file.
    std::filesystem::remove(dir.Files.NoLogs);
    std::filesystem::remove(dir.Files.NickNames);
    dir.Dir.WriteFile("sk_KAV.NL", "10.0.0.1\r\n");
    std::filesystem::resize_file(dir.Files.NoLogs, MaxFileTextSize + 1);
    notes.clear();
    EXPECT_TRUE(LoadConfig(config, dir.Files, &notes));
    EXPECT_TRUE(config.NoLogs.empty());
    EXPECT_EQ(notes.size(), 2u);
    std::filesystem::resize_file(dir.Files.Settings, MaxFileTextSize + 1);
    EXPECT_FALSE(LoadConfig(config, dir.Files));
}

// A settings file rewritten in place is empty, then half written, for a moment: a reload takes
// only what two reads in a row agree on, and keeps the record when the files do not settle.
TEST(configTest, AReloadTakesOnlyWhatTwoReadsInARowAgreeOn) {
    using namespace std::chrono_literals;
    TConfigDir dir;
    const std::string full = "[General]\r\nServerPort=8088\r\nLogDir=" + dir.Dir.Path() + "\r\n";
    const struct {
        std::vector<std::string> Writes; // the file's text at each read, the last one kept
        TSettledLoad Result;
    } cases[] = {
        {{"", full.substr(0, 24), full}, TSettledLoad::Loaded},
        {{full, full}, TSettledLoad::Loaded},
        {std::vector<std::string>(100, ""), TSettledLoad::Unsettled}, // made different below
    };
    for (const auto& c : cases) {
        std::size_t reads = 0;
        auto write = [&] {
            const std::size_t at = std::min(reads++, c.Writes.size() - 1);
            dir.Dir.WriteFile(
                "sk_KAV.ini",
                c.Writes[at] + (c.Writes[at].empty() && at > 0 ? "; " + std::to_string(at) : ""));
        };
        write();
        TKAV_GeneralConfig config;
        config.ServerPort = 99;
        const TSettledLoad result = LoadSettledConfig(
            config, dir.Files, nullptr,
            [&](std::chrono::steady_clock::time_point AUntil) {
                std::this_thread::sleep_until(AUntil);
                write();
            },
            300ms, 10ms);
        EXPECT_EQ(result, c.Result) << c.Writes.front();
        EXPECT_EQ(config.ServerPort, c.Result == TSettledLoad::Loaded ? 8088 : 99);
        EXPECT_EQ(config.LogDir, c.Result == TSettledLoad::Loaded ? dir.Dir.Path() : "");
    }
    std::filesystem::remove(dir.Files.Settings);
    std::filesystem::create_directory(dir.Files.Settings);
    TKAV_GeneralConfig config;
    EXPECT_EQ(LoadSettledConfig(config, dir.Files, nullptr, [](auto) {}), TSettledLoad::Unreadable);
}

// Both lists are found by one hash look-up, with the rules of the scan they replace.
TEST(configTest, PublishedListsCarryTheirLookupTables) {
    ChangeGeneralConfig([](TKAV_GeneralConfig& C) {
        C = TKAV_GeneralConfig();
        C.NickNames = {"10.0.0.8 =Blank", "10.0.0.7=Anna",     "10.0.0.7=Bert",
                       "no equals",       "10.0.0.9= Cleo =x", "Host.Example=Dora"};
        C.NoLogs = {"10.0.0.1 ", "10.0.0.2", "ABC"};
    });
    auto config = GeneralConfigSnapshot();
    const TAddressIndex& nicks = *config->Indexes.NickNames;
    const std::pair<const char*, const char*> names[] = {
        {"10.0.0.7", "Anna"},     {"10.0.0.8", nullptr},  {"10.0.0.8 ", "Blank"},
        {"10.0.0.9", " Cleo =x"}, {"no equals", nullptr}, {"host.EXAMPLE", "Dora"}};
    for (const auto& [address, name] : names) {
        const std::string* found = nicks.Find(address);
        ASSERT_EQ(found != nullptr, name != nullptr) << address;
        if (found) {
            EXPECT_EQ(*found, name);
        }
    }
    const TAddressIndex& noLogs = *config->Indexes.NoLogs;
    EXPECT_FALSE(noLogs.Find("10.0.0.1"));
    EXPECT_TRUE(noLogs.Find("10.0.0.2"));
    EXPECT_TRUE(noLogs.Find("abc"));
    EXPECT_FALSE(noLogs.Find("10.0.0.20"));
    // A change that leaves the lists keeps their tables; a changed list gets a new one.
    ChangeGeneralConfig([](TKAV_GeneralConfig& C) { C.ServerPort = 99; });
    EXPECT_EQ(GeneralConfigSnapshot()->Indexes.NickNames.get(), &nicks);
    ChangeGeneralConfig([](TKAV_GeneralConfig& C) { C.NoLogs.push_back("10.0.0.20"); });
    EXPECT_TRUE(GeneralConfigSnapshot()->Indexes.NoLogs->Find("10.0.0.20"));
}

TEST(configTest, LoadNotesWaitForTheMessagesList) {
    TempDir dir;
    SetProgramDir(dir.Path());
    dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=/no/such/dir\r\n");
    (void)TakeLoadNotes();
    ASSERT_TRUE(LoadConfig());
    std::vector<TLoadNote> notes = TakeLoadNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Text, "Log directory \"/no/such/dir\" is not a directory");
    EXPECT_TRUE(TakeLoadNotes().empty());
}

// An IPv6 address matches however a list writes it; an IPv4-mapped one is its IPv4 address.
TEST(configTest, ListsMatchIPv6AddressesInTheirShortForm) {
    ChangeGeneralConfig([](TKAV_GeneralConfig& C) {
        C = TKAV_GeneralConfig();
        C.NickNames = {"2001:DB8::1=Six", "2001:db8:0::1=Second", "::ffff:10.0.0.7=Anna"};
        C.NoLogs = {"2001:0db8:0000::2", "FE80::1"};
    });
    auto config = GeneralConfigSnapshot();
    const TAddressIndex& nicks = *config->Indexes.NickNames;
    ASSERT_TRUE(nicks.Find("2001:db8::1"));
    EXPECT_EQ(*nicks.Find("2001:db8::1"), "Six"); // the first line of the address wins
    ASSERT_TRUE(nicks.Find("10.0.0.7"));
    EXPECT_EQ(*nicks.Find("10.0.0.7"), "Anna");
    const TAddressIndex& noLogs = *config->Indexes.NoLogs;
    EXPECT_TRUE(noLogs.Find("2001:db8::2"));
    EXPECT_TRUE(noLogs.Find("fe80::1"));
    EXPECT_FALSE(noLogs.Find("2001:db8::"));
}

// The address settings: what the start and the proxies take, and what is told at load.
TEST(configTest, BindAddressAndTrustedProxies) {
    for (const char* good : {"", "127.0.0.1", "::1", "::", "2001:DB8::7"})
        EXPECT_TRUE(ValidBindAddress(good)) << good;
    for (const char* bad : {"localhost", " 127.0.0.1", "[::1]", "127.0.0.1:88", "10.0.0.0/8"})
        EXPECT_FALSE(ValidBindAddress(bad)) << bad;

    TConfigDir dir;
    dir.Dir.WriteFile("sk_KAV.ini", "[General]\r\nBindAddress=127.0.0.1\r\n"
                                    "TrustedProxies=127.0.0.1, proxy.example,10.0.0.0/8\r\n");
    std::vector<TLoadNote> notes;
    TKAV_GeneralConfig config;
    ASSERT_TRUE(LoadConfig(config, dir.Files, &notes));
    EXPECT_EQ(config.BindAddress, "127.0.0.1");
    EXPECT_EQ(notes, (std::vector<TLoadNote>{
                         {"TrustedProxies: \"proxy.example\" is no address or range: it is "
                          "passed over"}}));
    ChangeGeneralConfig([&](TKAV_GeneralConfig& C) { C = config; });
    const auto trusted = GeneralConfigSnapshot()->Indexes.TrustedProxies;
    ASSERT_TRUE(trusted);
    EXPECT_EQ(trusted->size(), 2u);
    EXPECT_TRUE(InRanges(*trusted, *ParseIPAddress("10.1.2.3")));
    EXPECT_EQ(TrustedProxiesOf(config)->size(), 2u); // a record never published

    // The header of the proxies, in either spelling; another one is read as the default.
    for (const auto& [value, taken] : {std::pair{"forwarded", "Forwarded"},
                                       {"x-forwarded-for", "X-Forwarded-For"},
                                       {"X-Real-IP", "X-Forwarded-For"}}) {
        dir.Dir.WriteFile("sk_KAV.ini", std::string("[General]\r\nForwardedHeader=") + value);
        notes.clear();
        ASSERT_TRUE(LoadConfig(config, dir.Files, &notes));
        EXPECT_EQ(config.ForwardedHeader, taken) << value;
        EXPECT_EQ(notes.size(), value == std::string("X-Real-IP") ? 1u : 0u) << value;
    }
    EXPECT_EQ(notes.at(0).Text, "ForwardedHeader: \"X-Real-IP\" is neither X-Forwarded-For nor "
                                "Forwarded: X-Forwarded-For is read");
}
