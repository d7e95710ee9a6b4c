#include "app/FirstRun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempDir.h"

namespace {

using TNames = std::vector<std::string>;
const TNames kAll = {"1x1.gif", "index.htm", "robots.txt", "sk_KAV.ini"};

// An installed share directory with the four example files.
struct TShare {
    TShare() {
        for (const std::string& name : kAll)
            Dir.WriteFile(name, "example " + name + "\r\n");
        Dir.WriteFile("sk_KAV.ini", "[OverviewLog]\r\nLogToFile=1\r\n[General]\r\nLogDir=\r\n");
    }
    TempDir Dir;
};

} // namespace

TEST(FirstRunTest, ShareDirLiesBesideTheProgramsBinDir) {
    EXPECT_EQ(ShareDirOf("/usr/bin/"), "/usr/share/sk_kav/");
    EXPECT_EQ(ShareDirOf("/opt/sk/bin"), "/opt/sk/share/sk_kav/");
}

TEST(FirstRunTest, AFirstStartCopiesWhatIsMissingAndNeverOverwrites) {
    TShare share;
    TempDir home;
    const std::string dir = home.Path() + "cfg/sk_kav/";
    EXPECT_EQ(FillProgramDir(dir, share.Dir.Path(), "", 0700), kAll);
    struct stat info {};
    ASSERT_EQ(::stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(home.ReadFile("cfg/sk_kav/index.htm"), "example index.htm\r\n");
    EXPECT_EQ(home.ReadFile("cfg/sk_kav/sk_KAV.ini"), share.Dir.ReadFile("sk_KAV.ini"));
    // Not a first start any more: the settings file is there, so nothing comes back.
    home.WriteFile("cfg/sk_kav/index.htm", "mine");
    ::unlink((dir + "robots.txt").c_str());
    EXPECT_EQ(FillProgramDir(dir, share.Dir.Path(), ""), TNames{});
    EXPECT_EQ(home.ReadFile("cfg/sk_kav/index.htm"), "mine");
    EXPECT_FALSE(home.Exists("cfg/sk_kav/robots.txt"));

    // A directory with the user's own pixel but no settings yet keeps the pixel.
    TempDir own;
    own.WriteFile("1x1.gif", "my pixel");
    EXPECT_EQ(FillProgramDir(own.Path(), share.Dir.Path(), ""),
              (TNames{"index.htm", "robots.txt", "sk_KAV.ini"}));
    EXPECT_EQ(own.ReadFile("1x1.gif"), "my pixel");

    // Nothing installed to copy from (the build folder): nothing copied, the directory made.
    TempDir bare;
    EXPECT_EQ(FillProgramDir(bare.Path() + "new/", bare.Path() + "none/", ""), TNames{});
    EXPECT_TRUE(bare.Exists("new"));
}

TEST(FirstRunTest, TheServiceLogDirectoryGoesIntoTheCopiedSettings) {
    TShare share;
    TempDir state;
    EXPECT_EQ(FillProgramDir(state.Path(), share.Dir.Path(), "/var/log/sk_kav"), kAll);
    EXPECT_EQ(state.ReadFile("sk_KAV.ini"),
              "[OverviewLog]\r\nLogToFile=1\r\n[General]\r\nLogDir=/var/log/sk_kav/\r\n");
}
