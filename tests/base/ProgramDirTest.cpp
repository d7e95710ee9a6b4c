#include "base/ProgramDir.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

struct TDirs {
    TempDir Exe;
    TempDir Home;
};

} // namespace

TEST(ProgramDirTest, ChoosesGivenThenPortableThenPerUser) {
    TDirs d;
    const std::string xdg = d.Home.Path() + "cfg";
    const std::string home = d.Home.Path() + "user"; // no trailing '/': one is added
    const auto kindAndDir = [&](const std::string& AGiven, const char* AXdg) {
        const TProgramDirChoice choice = ChooseProgramDir(AGiven, d.Exe.Path(), AXdg, home.c_str());
        return std::make_pair(choice.Kind, choice.Dir);
    };
    using K = TProgramDirKind;
    // Nothing beside the executable: the user's configuration directory.
    EXPECT_EQ(kindAndDir("", xdg.c_str()), std::make_pair(K::PerUser, xdg + "/sk_kav/"));
    EXPECT_EQ(kindAndDir("", nullptr), std::make_pair(K::PerUser, home + "/.config/sk_kav/"));
    EXPECT_EQ(kindAndDir("", ""), std::make_pair(K::PerUser, home + "/.config/sk_kav/"));
    EXPECT_EQ(kindAndDir("", "relative/cfg"),
              std::make_pair(K::PerUser, home + "/.config/sk_kav/"));
    // --dir always wins.
    EXPECT_EQ(kindAndDir("/srv/track", xdg.c_str()),
              std::make_pair(K::Given, std::string("/srv/track/")));
    // A content file or a settings file beside the executable: portable use.
    for (const char* marker : {"1x1.gif", "sk_KAV.ini"}) {
        TDirs p;
        p.Exe.WriteFile(marker, "x");
        const TProgramDirChoice choice = ChooseProgramDir("", p.Exe.Path(), xdg.c_str(), nullptr);
        EXPECT_EQ(choice.Kind, K::Portable) << marker;
        EXPECT_EQ(choice.Dir, p.Exe.Path()) << marker;
    }
    // Other files (a log, the lists) do not make a directory portable.
    d.Exe.WriteFile("robots.txt", "x");
    d.Exe.WriteFile("sk_KAV.NN", "x");
    EXPECT_EQ(kindAndDir("", xdg.c_str()).first, K::PerUser);
}
