// The real program, headless, on a temporary program directory and an OS-chosen port.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/LoopbackClient.h"
#include "support/TLSTestClient.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// One run of the program with its stdout and stderr captured; every wait is bounded.
class ProgramRun {
public:
    explicit ProgramRun(const std::vector<std::string>& AArgs) {
        int out[2], err[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> args = AArgs;
        args.insert(args.begin(), SKAV_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&FPid, SKAV_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        FOutFd = out[0];
        FErrFd = err[0];
    }
    ~ProgramRun() {
        if (FPid > 0 && !FExited) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        close(FOutFd);
        close(FErrFd);
    }

    // Reads output until AText appears in stderr or the time is up.
    bool WaitForErr(const std::string& AText, std::chrono::milliseconds ATimeout = 10s) {
        return WaitFor(FErr, AText, ATimeout);
    }
    bool WaitForOut(const std::string& AText, std::chrono::milliseconds ATimeout = 10s) {
        return WaitFor(FOut, AText, ATimeout);
    }
    // Waits for the exit (and the rest of the output); the status, or -1 after the timeout.
    int WaitForExit(std::chrono::milliseconds ATimeout = 15s) {
        auto deadline = std::chrono::steady_clock::now() + ATimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            Pump(20ms);
            int status = 0;
            if (waitpid(FPid, &status, WNOHANG) == FPid) {
                FExited = true;
                while (Pump(50ms)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }
    void Signal(int ASignal) { kill(FPid, ASignal); }
    // Whether stdout is read; a reader that stops lets the program's pipe fill up.
    bool ReadOut = true;
    const std::string& Out() const { return FOut; }
    const std::string& Err() const { return FErr; }

private:
    bool WaitFor(const std::string& AOutput, const std::string& AText,
                 std::chrono::milliseconds ATimeout) {
        auto deadline = std::chrono::steady_clock::now() + ATimeout;
        while (AOutput.find(AText) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !Pump(50ms))
                return AOutput.find(AText) != std::string::npos;
        }
        return true;
    }

    // Reads what is there; false when both pipes are at their end.
    bool Pump(std::chrono::milliseconds AWait) {
        pollfd fds[2] = {{ReadOut ? FOutFd : -1, POLLIN, 0}, {FErrFd, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(AWait.count())) <= 0)
            return !((FOutDone || !ReadOut) && FErrDone) && !FExited;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0)
                (i == 0 ? FOut : FErr).append(buffer, static_cast<size_t>(n));
            else
                (i == 0 ? FOutDone : FErrDone) = true;
        }
        return !((FOutDone || !ReadOut) && FErrDone);
    }

    pid_t FPid = -1;
    int FOutFd = -1, FErrFd = -1;
    bool FOutDone = false, FErrDone = false, FExited = false;
    std::string FOut, FErr;
};

std::string ContentFile(const char* AName) {
    std::ifstream in(std::string(SKAV_CONTENT_DIR) + AName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutContentFiles(const TempDir& ADir) {
    for (const char* name : {"1x1.gif", "index.htm", "robots.txt"})
        ADir.WriteFile(name, ContentFile(name));
}

// The port from "Server started, listening on [::]:N." (or "0.0.0.0:N." without IPv6).
int ListeningPortOf(const std::string& AErr) {
    const std::size_t at = AErr.find("listening on ");
    if (at == std::string::npos)
        return 0;
    return std::atoi(AErr.c_str() + AErr.rfind(':', AErr.find('\n', at)) + 1);
}

std::vector<std::string> TextsOf(const std::string& AErr) {
    std::vector<std::string> texts;
    std::size_t start = 0;
    while (start < AErr.size()) {
        std::size_t end = AErr.find('\n', start);
        std::string line = AErr.substr(start, end - start);
        texts.push_back(line.size() > 25 ? line.substr(25) : line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return texts;
}

TEST(HeadlessAppTest, ServesLogsAndStopsInOrderOnSigterm) {
    TempDir dir;
    PutContentFiles(dir);
    dir.WriteFile("sk_KAV.ini",
                  "[OverviewLog]\r\nLogToScreen=1\r\nLogToFile=1\r\n[General]\r\nLogDir=" +
                      dir.Path() + "\r\n");
    std::string settings = dir.ReadFile("sk_KAV.ini");
    ProgramRun run({"--headless", "--dir", dir.Path(), "--port", "0"});
    ASSERT_TRUE(run.WaitForErr("listening on")) << run.Err();
    int port = ListeningPortOf(run.Err());
    ASSERT_GT(port, 0);

    std::string answer = Exchange(port, "GET /t.gif?id=1 HTTP/1.1\r\nUser-Agent: UA/1\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(), 0) << run.Err();

    std::vector<std::string> texts = TextsOf(run.Err());
    ASSERT_GE(texts.size(), 6u) << run.Err();
    EXPECT_EQ(texts[0], "sk_KAV V1.0 - Program started");
    EXPECT_EQ(texts[1],
              "Program directory \"" + dir.Path() + "\", log directory \"" + dir.Path() + "\"");
    EXPECT_EQ(texts[2], "Trying to start server ...");
    EXPECT_EQ(texts[texts.size() - 3], "Trying to stop server ...");
    EXPECT_EQ(texts[texts.size() - 2], "Server stopped.");
    EXPECT_EQ(texts.back(), "sk_KAV V1.0 - Program stopped");
    // The overview line on stdout, the combined line in the file; the settings untouched.
    EXPECT_NE(run.Out().find(" GET /t.gif from  127.0.0.1:"), std::string::npos) << run.Out();
    EXPECT_NE(run.Out().find("UA: UA/1\n"), std::string::npos);
    EXPECT_EQ(dir.ReadFile("sk_KAV.ini"), settings);
    EXPECT_FALSE(dir.Exists("sk_KAV.NN"));
}

// --cert and --key serve HTTPS on the same port for this run, over the settings' own pair,
// also after SIGHUP re-read the settings.
TEST(HeadlessAppTest, TheCommandLinesCertificateServesHttpsForThisRun) {
    TempDir dir;
    PutContentFiles(dir);
    const TTestCertificate pair = TTestCA().Issue({"stats.test"}, 0x2A);
    dir.WriteFile("run.pem", pair.ChainPem);
    dir.WriteFile("run.key", pair.KeyPem);
    dir.WriteFile("sk_KAV.ini", "[TLS]\r\nCertFile=" + dir.Path() + "missing.pem\r\n");
    const std::string settings = dir.ReadFile("sk_KAV.ini");
    ProgramRun run({"--headless", "--dir", dir.Path(), "--port", "0", "--cert",
                    dir.Path() + "run.pem", "--key=" + dir.Path() + "run.key"});
    ASSERT_TRUE(run.WaitForErr("listening on")) << run.Err();
    const int port = ListeningPortOf(run.Err());
    EXPECT_NE(run.Err().find("HTTPS with the certificate \"" + dir.Path() + "run.pem\""),
              std::string::npos)
        << run.Err();
    const std::string request = "GET /t.gif HTTP/1.1\r\n\r\n";
    TTLSTestClient client;
    ASSERT_TRUE(client.Connect(port)) << client.Error();
    EXPECT_EQ(client.PeerSerial(), "2A");
    run.Signal(SIGHUP);
    ASSERT_TRUE(run.WaitForErr("Configuration re-read (SIGHUP)")) << run.Err();
    EXPECT_EQ(TLSExchange(port, request).substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(Exchange(port, request).substr(0, 15), "HTTP/1.1 200 OK");
    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(), 0) << run.Err();
    EXPECT_EQ(run.Err().find("missing.pem"), std::string::npos) << run.Err();
    EXPECT_EQ(dir.ReadFile("sk_KAV.ini"), settings);
}

TEST(HeadlessAppTest, TakenPortEndsWithStatusOne) {
    TempDir dir;
    ProgramRun first({"--headless", "--dir", dir.Path(), "--port", "0"});
    ASSERT_TRUE(first.WaitForErr("listening on")) << first.Err();
    int port = ListeningPortOf(first.Err());
    ProgramRun second({"--headless", "--dir", dir.Path(), "--port", std::to_string(port)});
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_NE(second.Err().find("Exception ENetCouldNotBindSocket when starting server."),
              std::string::npos)
        << second.Err();
    first.Signal(SIGINT);
    EXPECT_EQ(first.WaitForExit(), 0);
}

TEST(HeadlessAppTest, UnreadableSettingsFallBackToDefaults) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir.Path() + "sk_KAV.ini").c_str(), 0755), 0); // exists, cannot be read
    ProgramRun run({"--headless", "--dir", dir.Path(), "--port", "0"});
    ASSERT_TRUE(run.WaitForErr("listening on")) << run.Err();
    EXPECT_EQ(run.Err().rfind("Error loading configuration, using default values\n", 0), 0u)
        << run.Err();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(), 0);
}

TEST(HeadlessAppTest, ReportNeedsNoDisplayAndStartsNoServer) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        unsetenv(name);
    TempDir dir;
    dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + dir.Path() + "\r\nAutoStart=1\r\n");
    dir.WriteFile("20261208.log", "1.2.3.4 - - [08/Dec/2026:10:00:00 +0100] \"GET /t.gif  "
                                  "HTTP/1.1\" 200 43 \"\" \"Firefox/1\"\r\n");
    ProgramRun json({"--report", "20261208", "--dir", dir.Path(), "--json"});
    EXPECT_EQ(json.WaitForExit(), 0) << json.Err();
    EXPECT_EQ(json.Out().rfind(R"({"date":"2026-12-08","hits":1,"pageviews":1,"visitors":1,)", 0),
              0u)
        << json.Out();
    EXPECT_EQ(json.Err(), "");
    ProgramRun missing({"--report", "20261207", "--dir", dir.Path()});
    EXPECT_EQ(missing.WaitForExit(), 1);
    EXPECT_NE(missing.Err().find("20261207.log does not exist"), std::string::npos)
        << missing.Err();
    EXPECT_EQ(missing.Out(), "");
}

TEST(HeadlessAppTest, CommandLineAnswers) {
    ProgramRun bad({"--no-such-option"});
    EXPECT_EQ(bad.WaitForExit(), 2);
    EXPECT_NE(bad.Err().find("Usage: sk_kav"), std::string::npos);
    ProgramRun help({"--help"});
    EXPECT_EQ(help.WaitForExit(), 0);
    EXPECT_NE(help.Out().find("--headless"), std::string::npos);
    ProgramRun version({"--version"});
    EXPECT_EQ(version.WaitForExit(), 0);
    EXPECT_EQ(version.Out(), "sk_KAV V1.0\n");
}

// A reader that never reads stdout: the hits are answered all the same, SIGTERM ends the
// program at once, and once stdout is read again a line says how many lines were left out.
TEST(HeadlessAppTest, AnOutputThatIsNotReadNeverHoldsTheServer) {
    TempDir dir;
    PutContentFiles(dir);
    dir.WriteFile("sk_KAV.ini",
                  "[OverviewLog]\r\nLogToScreen=1\r\n[DetailLog]\r\nLogToScreen=1\r\n");
    ProgramRun run({"--headless", "--dir", dir.Path(), "--port", "0"});
    run.ReadOut = false;
    ASSERT_TRUE(run.WaitForErr("listening on")) << run.Err();
    const int port = ListeningPortOf(run.Err());
    // Each hit writes about 3 KiB to stdout: far more than the pipe and the buffer take.
    const std::string agent = "User-Agent: " + std::string(1500, 'a') + "\x1B[2J\r\n";
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(Exchange(port, "GET /t.gif HTTP/1.1\r\n" + agent + "\r\n", 5s).substr(0, 12),
                  "HTTP/1.1 200")
            << "hit " << i;
    run.ReadOut = true;
    ASSERT_TRUE(run.WaitForOut(" left out: the output was not read in time\n")) << run.Err();
    Exchange(port, "GET /after.gif HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(run.WaitForOut(" GET /after.gif from "));
    EXPECT_EQ(run.Out().find('\x1B'), std::string::npos);

    run.ReadOut = false;
    for (int i = 0; i < 400; ++i)
        Exchange(port, "GET /t.gif HTTP/1.1\r\n" + agent + "\r\n", 5s);
    const auto signalled = std::chrono::steady_clock::now();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 3s); // about one second at most
}

// SIGHUP re-reads the settings and lists for the next requests and says so; it no longer
// ends the program. Words at the start name what will not work as the user may think.
TEST(HeadlessAppTest, SighupReReadsTheSettingsAndTheStartTellsWhatIsAmiss) {
    TempDir dir;
    PutContentFiles(dir);
    std::remove((dir.Path() + "robots.txt").c_str());
    dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + dir.Path() + "nowhere\r\n");
    ProgramRun run({"--headless", "--dir", dir.Path(), "--port", "0"});
    ASSERT_TRUE(run.WaitForErr("listening on")) << run.Err();
    const int port = ListeningPortOf(run.Err());
    ASSERT_TRUE(run.WaitForErr("robots.txt\" is missing: requests for it are answered 404\n"))
        << run.Err();
    EXPECT_NE(run.Err().find("Log directory \"" + dir.Path() +
                             "nowhere\" is not a directory: the log files go to \""),
              std::string::npos)
        << run.Err();

    Exchange(port, "GET /before.gif HTTP/1.1\r\n\r\n");
    dir.WriteFile("sk_KAV.ini", "[General]\r\nUseNickNames=1\r\nServerPort=1\r\n"
                                "[OverviewLog]\r\nLogToScreen=1\r\n");
    dir.WriteFile("sk_KAV.NN", "127.0.0.1=Local\r\n");
    run.Signal(SIGHUP);
    ASSERT_TRUE(run.WaitForErr("Configuration re-read (SIGHUP); a new port takes effect at the "
                               "next start\n"))
        << run.Err();
    // Still on the same port, now with the overview on stdout and the nickname.
    EXPECT_EQ(Exchange(port, "GET /after.gif HTTP/1.1\r\n\r\n").substr(0, 12), "HTTP/1.1 200");
    EXPECT_TRUE(run.WaitForOut(" GET /after.gif from (Local) 127.0.0.1:")) << run.Out();
    EXPECT_EQ(run.Out().find("/before.gif"), std::string::npos);
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(), 0);
    EXPECT_EQ(TextsOf(run.Err()).back(), "sk_KAV V1.0 - Program stopped");
}

TEST(HeadlessAppTest, APortOutsideTheRangeRefusesTheStart) {
    TempDir dir;
    for (const char* port : {"65617", "-1"}) {
        ProgramRun run({"--headless", "--dir", dir.Path(), "--port", port});
        EXPECT_EQ(run.WaitForExit(), 1);
        EXPECT_NE(run.Err().find(std::string("Port ") + port +
                                 " is outside 1..65535: the server is not started.\n"),
                  std::string::npos)
            << run.Err();
    }
    dir.WriteFile("sk_KAV.ini", "[General]\r\nServerPort=0\r\n");
    ProgramRun fromFile({"--headless", "--dir", dir.Path()});
    EXPECT_EQ(fromFile.WaitForExit(), 1);
    EXPECT_NE(fromFile.Err().find("Port 0 is outside 1..65535"), std::string::npos);
}

} // namespace
