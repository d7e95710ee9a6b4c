// The real program, headless, on a temporary program directory and an OS-chosen port.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/ProgramRun.h"
#include "support/LoopbackClient.h"
#include "support/TLSTestClient.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

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
// The README's first steps in the build folder: run the program where the build put it, paste
// the tag its start gives, see the hit in the report. It runs on a copy of that folder, so the
// build's own log files stay the user's.
TEST(HeadlessAppTest, TheBuildFolderRecordsTheTagsHitsFromTheFirstStart) {
    const std::filesystem::path program(SKAV_PROGRAM);
    TempDir folder;
    std::filesystem::copy_file(program, folder.Path() + "sk_kav");
    for (const char* name : {"1x1.gif", "index.htm", "robots.txt", "sk_KAV.ini"})
        std::filesystem::copy_file(program.parent_path() / name, folder.Path() + name);
    ProgramRun run({"--headless", "--port", "0"}, folder.Path() + "sk_kav");
    ASSERT_TRUE(run.WaitForErr("alt=\"\">\n")) << run.Err();
    const std::size_t src = run.Err().find("<img src=\"http://");
    ASSERT_NE(src, std::string::npos) << run.Err();
    const std::size_t path = run.Err().find('/', src + 17);
    const std::string document = run.Err().substr(path, run.Err().find('"', path) - path);
    EXPECT_EQ(document, "/t.gif?page=home");
    const int port = ListeningPortOf(run.Err());
    EXPECT_NE(run.Err().find(":" + std::to_string(port) + document), std::string::npos);
    EXPECT_EQ(Exchange(port, "GET " + document + " HTTP/1.1\r\nUser-Agent: Firefox/1\r\n\r\n")
                  .substr(0, 15),
              "HTTP/1.1 200 OK");
    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(), 0) << run.Err();
    EXPECT_EQ(run.Err().find("hits will not be recorded"), std::string::npos) << run.Err();
    ProgramRun report({"--report"}, folder.Path() + "sk_kav");
    ASSERT_EQ(report.WaitForExit(), 0) << report.Err();
    EXPECT_NE(report.Out().find("\npage views  1\n"), std::string::npos) << report.Out();
    EXPECT_NE(report.Out().find("\nhome   "), std::string::npos) << report.Out();

    // A first start in an empty directory takes the build's example files: the pixel is there.
    TempDir empty;
    ProgramRun first({"--headless", "--dir", empty.Path() + "new", "--port", "0"});
    ASSERT_TRUE(first.WaitForErr("listening on")) << first.Err();
    EXPECT_NE(first.Err().find("copied 1x1.gif, index.htm, robots.txt, sk_KAV.ini from " +
                               std::string(SKAV_BUILD_SHARE_DIR)),
              std::string::npos)
        << first.Err();
    EXPECT_EQ(Exchange(ListeningPortOf(first.Err()), "GET /t.gif HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitForExit(), 0);
    EXPECT_NE(empty.ReadFile("new/sk_KAV.ini").find("LogToFile=1"), std::string::npos);
}

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
    ProgramRun range(
        {"--report", "--from", "20261207", "--to=20261208", "--dir", dir.Path(), "--json"});
    EXPECT_EQ(range.WaitForExit(), 0) << range.Err();
    EXPECT_EQ(range.Out().rfind(R"({"from":"2026-12-07","to":"2026-12-08","hits":1,)", 0), 0u)
        << range.Out();

    // A day's file that is no file is refused at once: a FIFO nobody writes, a link to a
    // device that never ends.
    ASSERT_EQ(mkfifo((dir.Path() + "20261206.log").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir.Path() + "20261205.log").c_str()), 0);
    for (const char* day : {"20261206", "20261205"}) {
        ProgramRun refused({"--report", day, "--dir", dir.Path()});
        EXPECT_EQ(refused.WaitForExit(10s), 1) << day;
        EXPECT_NE(refused.Err().find(std::string(day) + ".log: not a regular file"),
                  std::string::npos)
            << refused.Err();
    }
}

// The erasure from the command line: the settings' log directory, a line per file, exit 0;
// a word that names nobody ends with 1 and changes nothing.
TEST(HeadlessAppTest, EraseRemovesAVisitorFromTheLogDirectory) {
    TempDir dir;
    dir.WriteFile("sk_KAV.ini", "[General]\r\nLogDir=" + dir.Path() + "logs/\r\n");
    ASSERT_EQ(mkdir((dir.Path() + "logs").c_str(), 0700), 0);
    const std::string other = "1.2.3.4 - - [08/Dec/2026:10:00:00 +0100] \"GET /t.gif  "
                              "HTTP/1.1\" 200 43 \"\" \"Firefox/1\"\r\n";
    dir.WriteFile("logs/20261208.log", "10.0.0.7" + other.substr(7) + other);
    ProgramRun bad({"--erase", "10.0.0", "--dir", dir.Path()});
    EXPECT_EQ(bad.WaitForExit(), 1);
    EXPECT_NE(bad.Err().find("10.0.0 is neither an address nor a visitor id"), std::string::npos)
        << bad.Err();
    ProgramRun dry({"--erase", "10.0.0.7", "--dir", dir.Path(), "--dry-run"});
    EXPECT_EQ(dry.WaitForExit(), 0) << dry.Err();
    EXPECT_EQ(dry.Out().rfind("20261208.log: 1 of 2 records would be erased\n", 0), 0u)
        << dry.Out();
    ProgramRun erase({"--erase=10.0.0.7", "--dir", dir.Path()});
    EXPECT_EQ(erase.WaitForExit(), 0) << erase.Err();
    EXPECT_EQ(erase.Out(),
              "20261208.log: 1 of 2 records erased\n1 records erased from 1 files in " +
                  dir.Path() + "logs/\n");
    EXPECT_EQ(dir.ReadFile("logs/20261208.log"), other);
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
    const int dashboardPort = FreePort();
    dir.WriteFile("sk_KAV.ini", "[General]\r\nUseNickNames=1\r\nServerPort=1\r\n"
                                "[OverviewLog]\r\nLogToScreen=1\r\n[Dashboard]\r\nPort=" +
                                    std::to_string(dashboardPort) + "\r\n");
    dir.WriteFile("sk_KAV.NN", "127.0.0.1=Local\r\n");
    run.Signal(SIGHUP);
    ASSERT_TRUE(run.WaitForErr("Configuration re-read (SIGHUP); a new port takes effect at the "
                               "next start\n"))
        << run.Err();
    // Still on the same port, now with the overview on stdout and the nickname.
    EXPECT_EQ(Exchange(port, "GET /after.gif HTTP/1.1\r\n\r\n").substr(0, 12), "HTTP/1.1 200");
    EXPECT_TRUE(run.WaitForOut(" GET /after.gif from (Local) 127.0.0.1:")) << run.Out();
    EXPECT_EQ(run.Out().find("/before.gif"), std::string::npos);
    // The dashboard follows its settings at once, on a port of its own.
    ASSERT_TRUE(run.WaitForErr(
        "Dashboard started, listening on 127.0.0.1:" + std::to_string(dashboardPort) + ".\n"))
        << run.Err();
    EXPECT_NE(Exchange(dashboardPort, "GET / HTTP/1.1\r\n\r\n").find("No password is set"),
              std::string::npos);
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(), 0);
    const std::vector<std::string> texts = TextsOf(run.Err());
    EXPECT_EQ(texts.back(), "sk_KAV V1.0 - Program stopped");
    EXPECT_EQ(texts[texts.size() - 4], "Dashboard stopped.");
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
