#include "config/FileText.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

int EntriesIn(const std::string& ADir) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(ADir))
        ++count;
    return count;
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
    struct stat info {};
    ASSERT_EQ(::stat((dir.Path() + "f").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
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
