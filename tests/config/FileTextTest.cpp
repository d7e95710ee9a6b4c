#include "config/FileText.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

long EntriesIn(const std::string& ADir) {
    return std::distance(fs::directory_iterator(ADir), fs::directory_iterator());
}

} // namespace

TEST(FileTextTest, ReadTellsMissingFromUnreadable) {
    TempDir dir;
    std::string text = "stale";
    EXPECT_EQ(ReadFileText(dir.Path() + "none", text), TFileReadResult::Missing);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ReadFileText(dir.Path(), text), TFileReadResult::Failed);
    std::string big(100000, 'z');
    big[50000] = '\0';
    dir.WriteFile("f", big);
    EXPECT_EQ(ReadFileText(dir.Path() + "f", text), TFileReadResult::Ok);
    EXPECT_EQ(text, big);
}

TEST(FileTextTest, ReplaceKeepsModeFollowsLinksAndLeavesNoTemporary) {
    TempDir dir;
    dir.WriteFile("f", "old");
    ASSERT_EQ(::chmod((dir.Path() + "f").c_str(), 0640), 0);
    fs::create_symlink(dir.Path() + "f", dir.Path() + "link");
    ASSERT_TRUE(ReplaceFileText(dir.Path() + "link", "new"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() + "link"));
    EXPECT_EQ(dir.ReadFile("f"), "new");
    EXPECT_EQ(fs::status(dir.Path() + "f").permissions(), static_cast<fs::perms>(0640));
    EXPECT_EQ(EntriesIn(dir.Path()), 2);
}

TEST(FileTextTest, FailedReplaceKeepsTheOldFile) {
    TempDir dir;
    // a non-empty directory in the way makes the rename fail after the data was written
    fs::create_directory(dir.Path() + "busy");
    dir.WriteFile("busy/inside", "old");
    EXPECT_FALSE(ReplaceFileText(dir.Path() + "busy", "new"));
    EXPECT_EQ(dir.ReadFile("busy/inside"), "old");
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
    EXPECT_FALSE(ReplaceFileText(dir.Path() + "no/dir/f", "new"));
}
