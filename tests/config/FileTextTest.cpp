#include "config/FileText.h"

#include <filesystem>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

long EntriesIn(const std::string& ADir) {
    return std::distance(fs::directory_iterator(ADir), fs::directory_iterator());
}

// The ids of "nobody", which owns nothing here.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// Runs AStep as a user who may write AFile but not create files in its directory: as root in a
// child that became "nobody" (the file is given to it), else as ourselves in a directory made
// read-only. True when AStep returned true.
bool RunWithoutDirectoryWrite(const std::string& ADir, const std::string& AFile,
                              const std::function<bool()>& AStep) {
    if (::chmod(ADir.c_str(), 0555) != 0)
        return false;
    if (::geteuid() != 0)
        return AStep();
    if (::chown(AFile.c_str(), kNobody, kNoGroup) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(kNoGroup) == 0 && ::setuid(kNobody) == 0;
        ::_exit(dropped && AStep() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
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

TEST(FileTextTest, AFolderThatTakesNoNewFilesGetsTheFileWrittenInPlace) {
    TempDir dir;
    dir.WriteFile("sk_KAV.ini", "[General]\r\nAutoStart=1\r\nServerPort=8088\r\n");
    const std::string file = dir.Path() + "sk_KAV.ini";
    ASSERT_EQ(::chmod(file.c_str(), 0664), 0);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    EXPECT_TRUE(RunWithoutDirectoryWrite(
        dir.Path(), file, [&] { return ReplaceFileText(file, "[General]\r\nAutoStart=0\r\n"); }));
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(dir.ReadFile("sk_KAV.ini"), "[General]\r\nAutoStart=0\r\n"); // shorter: cut
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
    // Nothing to write in place: a file that is not there yet cannot be made.
    EXPECT_FALSE(RunWithoutDirectoryWrite(
        dir.Path(), file, [&] { return ReplaceFileText(dir.Path() + "sk_KAV.NN", "x\r\n"); }));
    ::chmod(dir.Path().c_str(), 0700);
}

TEST(FileTextTest, ReplacingKeepsTheOwnerAndGroup) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another owner";
    TempDir dir;
    dir.WriteFile("sk_KAV.ini", "old");
    const std::string file = dir.Path() + "sk_KAV.ini";
    ASSERT_EQ(::chown(file.c_str(), kNobody, kNoGroup), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(ReplaceFileText(file, "new"));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_gid, kNoGroup);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.ReadFile("sk_KAV.ini"), "new");
}
