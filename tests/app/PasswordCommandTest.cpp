// `sk_kav --dashboard-password` in memory: from a pipe, from a terminal (twice, the echo off),
// and what it refuses; only the one key of the settings file changes.
#include "app/PasswordCommand.h"

#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "dashboard/DashboardPassword.h"
#include "support/TempDir.h"

namespace {

class PasswordCommandTest : public ::testing::Test {
protected:
    // Runs the command with AInput waiting on AIn (written to AWriteEnd first); its status.
    int Run(int AIn, int AWriteEnd, const std::string& AInput) {
        EXPECT_EQ(::write(AWriteEnd, AInput.data(), AInput.size()),
                  static_cast<ssize_t>(AInput.size()));
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = RunDashboardPassword(AIn, out, err, FDir.Path() + "sk_KAV.ini", 1000);
        FErr = ReadBack(err);
        std::fclose(out);
        return status;
    }
    int RunPiped(const std::string& AInput) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], AInput.data(), AInput.size()),
                  static_cast<ssize_t>(AInput.size()));
        ::close(fds[1]);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = RunDashboardPassword(fds[0], out, err, FDir.Path() + "sk_KAV.ini", 1000);
        FErr = ReadBack(err);
        std::fclose(out);
        ::close(fds[0]);
        return status;
    }
    static std::string ReadBack(std::FILE* AFile) {
        std::rewind(AFile);
        std::string text(4096, '\0');
        text.resize(std::fread(text.data(), 1, text.size(), AFile));
        std::fclose(AFile);
        return text;
    }
    std::string StoredHash() {
        const std::string ini = FDir.ReadFile("sk_KAV.ini");
        const std::size_t at = ini.find("PasswordHash=");
        return at == std::string::npos ? std::string()
                                       : ini.substr(at + 13, ini.find("\r\n", at) - at - 13);
    }

    TempDir FDir;
    std::string FErr;
};

TEST_F(PasswordCommandTest, FromAPipeOneLine) {
    FDir.WriteFile("sk_KAV.ini", "; mine\r\n[General]\r\nServerPort=8088\r\n");
    ASSERT_EQ(RunPiped("from a pipe\r\nignored\n"), 0) << FErr;
    EXPECT_TRUE(PasswordMatches("from a pipe", StoredHash())) << StoredHash();
    EXPECT_TRUE(FDir.ReadFile("sk_KAV.ini")
                    .starts_with("; mine\r\n[General]\r\nServerPort=8088\r\n[Dashboard]\r\n"));
    for (const std::string& refused :
         std::vector<std::string>{"", "\n", "\r\n", std::string(1100, 'x') + "\n"}) {
        const std::string before = FDir.ReadFile("sk_KAV.ini");
        EXPECT_EQ(RunPiped(refused), 1) << refused;
        EXPECT_EQ(FDir.ReadFile("sk_KAV.ini"), before);
    }
}

TEST_F(PasswordCommandTest, FromATerminalTwiceWithoutEcho) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(Run(slave, master, "typed secret\ntyped secret\n"), 0) << FErr;
    EXPECT_TRUE(PasswordMatches("typed secret", StoredHash()));
    EXPECT_EQ(FErr, "New dashboard password: \nThe same again: \n");
    termios mode{};
    ASSERT_EQ(::tcgetattr(slave, &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ECHO); // given back
    const std::string kept = StoredHash();
    EXPECT_EQ(Run(slave, master, "one\nanother\n"), 1);
    EXPECT_NE(FErr.find("the two passwords differ"), std::string::npos) << FErr;
    EXPECT_EQ(StoredHash(), kept);
    ::close(master);
    ::close(slave);
}

} // namespace
