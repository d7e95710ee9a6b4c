#include "tracking/TTrackingService.h"

#include <atomic>
#include <clocale>
#include <filesystem>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "base/DateTime.h"
#include "logging/LogText.h"
#include "logging/lib_rfc1123.h"
#include "support/FakeNameServer.h"
#include "support/LoopbackClient.h"
#include "support/WaitUntil.h"
#include "tracking/StartupMessages.h"
#include "tracking/TTrackingHandler.h"
#include "tracking/TrackingFixture.h"

namespace {

using namespace std::chrono_literals;
using TrackingServiceTest = TrackingFixture;

// Root reads any file. While this lives, the calling thread lacks the two capabilities that let
// it, and so do the threads it starts meanwhile (the server's): they meet file modes as any
// user does. Nothing changes for another user.
class TFileModesHold {
public:
    TFileModesHold() {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &FHeader, FSaved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {FSaved[0], FSaved[1]};
        reduced[0].effective &= ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH));
        FReduced = ::syscall(SYS_capset, &FHeader, reduced) == 0;
    }
    ~TFileModesHold() {
        if (FReduced)
            ::syscall(SYS_capset, &FHeader, FSaved);
    }
    TFileModesHold(const TFileModesHold&) = delete;
    TFileModesHold& operator=(const TFileModesHold&) = delete;

private:
    __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FSaved[2]{};
    bool FReduced = false;
};

TEST_F(TrackingServiceTest, ContentFileChoiceByDocument) {
    Start();
    const std::string gif = ReadContentFile("1x1.gif");
    const std::string index = ReadContentFile("index.htm");
    struct Case {
        const char* Target;
        int Status;
        const std::string* Body; // nullptr: the error page
    } cases[] = {
        {"/pics/Track.Gif?x=1", 200, &gif},
        {"/a.gif.gif", 200, &gif},
        {"/gif", 404, nullptr},
        {"/x.gifs", 404, nullptr},
        {"/", 200, &index},
        {"/index.htm", 200, &index},
        {"/INDEX.HTM", 200, &index},
        {"/index.html", 404, nullptr},
    };
    for (const Case& c : cases) {
        std::string answer = Get(c.Target);
        EXPECT_EQ(StatusOf(answer), c.Status) << c.Target;
        if (c.Body) {
            EXPECT_EQ(BodyOf(answer), *c.Body) << c.Target;
        } else {
            EXPECT_EQ(
                BodyOf(answer),
                "<html><head><title>Error</title></head><body><h1>Not Found</h1></body></html>");
            EXPECT_FALSE(HasHeader(answer, "Date")) << c.Target;
        }
    }
    EXPECT_EQ(HeaderOf(Get("/robots.txt"), "Content-Type"), "text/plain");
    EXPECT_EQ(HeaderOf(Get("/x/t.gif"), "Content-Type"), "image/gif");
}

// The window's toolkit sets the process locale from the environment; under Turkish rules
// toupper('i') is 'i', which once made every ".gif" and "/index.htm" request a 404.
TEST_F(TrackingServiceTest, DocumentMatchDoesNotDependOnTheLocale) {
    if (!std::setlocale(LC_ALL, "tr_TR.UTF-8"))
        GTEST_SKIP() << "locale tr_TR.UTF-8 not generated (tools/deps.sh test makes it)";
    Start();
    for (const char* target : {"/t.gif", "/index.htm", "/robots.txt", "/PICS/T.GIF"})
        EXPECT_EQ(StatusOf(Get(target)), 200) << target;
    FService->StartStopServer(false);
    std::setlocale(LC_ALL, "C");
}

// A desktop launcher starts the program in the home directory; the logs still belong in the
// program directory, and the start says where that is and whether anything is recorded.
TEST_F(TrackingServiceTest, EmptyLogDirMeansTheProgramDirectoryAndTheStartSaysSo) {
    TempDir elsewhere;
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.Path());
    Configure([](TKAV_GeneralConfig& AConfig) { AConfig.LogDir.clear(); });
    FService = std::make_unique<TTrackingService>(FScreen);
    FService->AddStartupMessages();
    Start();
    EXPECT_EQ(StatusOf(Get("/t.gif")), 200);
    std::filesystem::current_path(started);
    EXPECT_NE(OverviewFile().find("GET /t.gif"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
    EXPECT_NE(Messages().find(": Program directory \"" + FDir.Path() + "\", log directory \"" +
                              FDir.Path() + "\"\n"),
              std::string::npos)
        << Messages();
    EXPECT_EQ(Messages().find("hits will not be recorded"), std::string::npos);
}

TEST(StartupMessagesTest, WarnsOnlyWhenEveryLogIsOff) {
    TKAV_GeneralConfig config; // no settings file: every log off
    std::vector<std::string> lines = StartupMessages(config, "/p/", "/l/");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Program directory \"/p/\", log directory \"/l/\"");
    EXPECT_EQ(lines[1].rfind("All logs are off: hits will not be recorded.", 0), 0u);
    EXPECT_NE(lines[1].find("LogToFile=1"), std::string::npos);
    for (bool TKAV_GeneralConfig::*channel :
         {&TKAV_GeneralConfig::OverviewLogToScreen, &TKAV_GeneralConfig::OverviewLogToFile,
          &TKAV_GeneralConfig::DetailLogToScreen, &TKAV_GeneralConfig::DetailLogToFile}) {
        TKAV_GeneralConfig one;
        one.*channel = true;
        EXPECT_EQ(StartupMessages(one, "/p/", "/l/").size(), 1u);
    }
}

// The tag is pasted as it stands: its host must be one the visitors' browsers can reach and,
// over https, the certificate's own name.
TEST(StartupMessagesTest, SnippetNamesAHostThePagesCanUse) {
    const struct {
        std::vector<std::string> Names;
        std::string BindAddress;
        std::string Host;
    } cases[] = {
        {{}, "", "tracker"},
        {{}, "0.0.0.0", "tracker"},
        {{}, "::", "tracker"},
        {{}, "192.0.2.7", "192.0.2.7"},
        {{"stats.example.org", "www.example.org"}, "", "stats.example.org"},
        {{"*.example.org", "example.org"}, "192.0.2.7", "example.org"},
        {{"*.example.org"}, "", "tracker"},
        {{"a.test\r\nforged", "b.test"}, "", "b.test"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SnippetHost(c.Names, c.BindAddress, "tracker"), c.Host) << c.BindAddress;
    EXPECT_EQ(SnippetHost({}, "", ""), "localhost");
    EXPECT_NE(PixelSnippetLine("2001:db8::7", 88, true)
                  .find("<img src=\"https://[2001:db8::7]:88/t.gif?page=home\""),
              std::string::npos);
}

TEST_F(TrackingServiceTest, HeadAnswersLengthWithoutBody) {
    Start();
    std::string answer = Request("HEAD /pics/Track.Gif?x=1 HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 200);
    EXPECT_EQ(HeaderOf(answer, "Content-Length"), "43");
    EXPECT_EQ(HeaderOf(answer, "Content-Type"), "image/gif");
    EXPECT_EQ(BodyOf(answer), "");
    EXPECT_NE(OverviewFile().find("\"HEAD /pics/Track.Gif x=1 HTTP/1.1\" 200 43"),
              std::string::npos)
        << OverviewFile();
    // The error page's length is announced, the page itself is not sent.
    std::string missing = Request("HEAD /nothing HTTP/1.1\r\n\r\n");
    EXPECT_EQ(StatusOf(missing), 404);
    EXPECT_EQ(HeaderOf(missing, "Content-Length"), std::to_string(ErrorPageOf("Not Found").size()));
    EXPECT_EQ(BodyOf(missing), "");
}

TEST_F(TrackingServiceTest, MissingGifAndPostAnswers) {
    Start();
    FDir.WriteFile("1x1.gif", "");
    std::remove((FDir.Path() + "1x1.gif").c_str());
    EXPECT_EQ(StatusOf(Get("/t.gif")), 404);

    std::string post = Request("POST /robots.txt HTTP/1.1\r\nContent-Length: 3\r\n\r\na=1");
    EXPECT_EQ(StatusOf(post), 405);
    EXPECT_EQ(BodyOf(post), "<html><head><title>Error</title></head><body><h1>Method not allowed"
                            "</h1></body></html>");
    EXPECT_FALSE(HasHeader(post, "Date"));
    EXPECT_FALSE(HasHeader(post, "Cache-Control"));
    EXPECT_EQ(HeaderOf(post, "Content-Type"), "text/html");
    EXPECT_EQ(StatusOf(Request("POST /nothing HTTP/1.1\r\nContent-Length: 0\r\n\r\n")), 404);

    std::string file = OverviewFile();
    EXPECT_NE(file.find("\"GET /t.gif  HTTP/1.1\" 404 0"), std::string::npos) << file;
    EXPECT_NE(file.find("\"POST /robots.txt a=1 HTTP/1.1\" 405 0"), std::string::npos) << file;
}

// A content file that is there but cannot be read is the server's failure (500, naming no path
// of this machine), not a missing file (404); no overview line is written for it.
TEST_F(TrackingServiceTest, AContentFileThatCannotBeReadIsAnswered500) {
    const TFileModesHold hold;
    ASSERT_EQ(::chmod((FDir.Path() + "1x1.gif").c_str(), 0), 0);
    Start();
    const std::string get = Get("/t.gif");
    EXPECT_EQ(StatusOf(get), 500) << get;
    EXPECT_EQ(get.find(FDir.Path()), std::string::npos) << get;
    EXPECT_EQ(StatusOf(Request("HEAD /t.gif HTTP/1.1\r\n\r\n")), 500);
    EXPECT_EQ(StatusOf(Get("/robots.txt")), 200);
    EXPECT_EQ(OverviewFile().find("/t.gif"), std::string::npos) << OverviewFile();
}

TEST_F(TrackingServiceTest, IfModifiedSinceAroundYesterdaysMidnight) {
    Configure([](TKAV_GeneralConfig& C) {
        C.EvalIfModifiedSince = true;
        C.LastModifiedDays = 1;
    });
    Start();
    TDateTime midnight = DateOf(Now()) - 1;
    auto ask = [&](const std::string& AValue) {
        return Get("/t.gif", "If-Modified-Since: " + AValue + "\r\n");
    };
    std::string atMidnight = ask(FormatHttpDate(midnight));
    EXPECT_EQ(StatusOf(atMidnight), 304);
    EXPECT_FALSE(HasHeader(atMidnight, "Last-Modified"));
    EXPECT_FALSE(HasHeader(atMidnight, "Content-Type"));
    EXPECT_EQ(BodyOf(atMidnight), "");
    EXPECT_TRUE(HasHeader(atMidnight, "Date"));

    std::string before = ask(FormatHttpDate(midnight - 1.0 / 86400));
    EXPECT_EQ(StatusOf(before), 200);
    EXPECT_EQ(HeaderOf(before, "Last-Modified"), FormatHttpDate(midnight));
    EXPECT_EQ(StatusOf(ask("yesterday")), 200);

    // A 304 writes no file line; the two 200s do.
    std::string file = OverviewFile();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 2) << file;

    Configure([](TKAV_GeneralConfig& C) { C.EvalIfModifiedSince = false; });
    EXPECT_EQ(StatusOf(ask(FormatHttpDate(Now()))), 200);
}

TEST_F(TrackingServiceTest, AntiCachingLines) {
    Configure([](TKAV_GeneralConfig& C) {
        C.CacheControlMaxAge = true;
        C.CacheControlMaxAgeSecs = 60;
        C.ExpiresSecs = 0;
    });
    Start();
    std::string answer = Get("/t.gif");
    EXPECT_EQ(HeaderOf(answer, "Cache-Control"), "max-age=60, no-cache");
    EXPECT_EQ(HeaderOf(answer, "Connection"), "close");
    EXPECT_EQ(HeaderOf(answer, "Pragma"), "no-cache");
    EXPECT_EQ(HeaderOf(answer, "Expires"), HeaderOf(answer, "Date"));

    Configure([](TKAV_GeneralConfig& C) {
        C.CacheControlMaxAge = C.CacheControlPrivate = C.CacheControlNoCache = false;
        C.PragmaNoCache = C.Expires = C.LastModified = false;
    });
    answer = Get("/t.gif");
    for (const char* name : {"Cache-Control", "Pragma", "Expires", "Last-Modified"})
        EXPECT_FALSE(HasHeader(answer, name)) << name;
    EXPECT_TRUE(HasHeader(answer, "Date"));

    Configure([](TKAV_GeneralConfig& C) { C.CacheControlPrivate = true; });
    EXPECT_EQ(HeaderOf(Get("/t.gif"), "Cache-Control"), "private");
}

TEST_F(TrackingServiceTest, NoLogPeerIsAnsweredButRecordedNowhere) {
    Configure([](TKAV_GeneralConfig& C) { C.NoLogs = {"10.0.0.9", "127.0.0.1"}; });
    Start();
    EXPECT_EQ(StatusOf(Get("/t.gif")), 200);
    EXPECT_TRUE(Lines(TScreenLog::Overview).empty());
    EXPECT_TRUE(Lines(TScreenLog::Detail).empty());
    EXPECT_EQ(OverviewFile(), "");
    EXPECT_EQ(DetailFile(), "");

    // Only the "Screen" box: both screens show it, neither file gets it.
    Configure([](TKAV_GeneralConfig& C) { C.LogNoLogs = true; });
    Get("/t.gif");
    EXPECT_EQ(Lines(TScreenLog::Overview).size(), 1u);
    EXPECT_FALSE(Lines(TScreenLog::Detail).empty());
    EXPECT_EQ(OverviewFile(), "");
    EXPECT_EQ(DetailFile(), "");
}

TEST_F(TrackingServiceTest, UnsupportedMethodGivesOnlyItsMessage) {
    Start();
    EXPECT_EQ(Request("OPTIONS * HTTP/1.1\r\n\r\n"), "");
    EXPECT_NE(Messages().find(": Command other: OPTIONS ... not supported\n"), std::string::npos);
    EXPECT_TRUE(Lines(TScreenLog::Overview).empty());
    EXPECT_EQ(OverviewFile(), "");
}

// Both files fail with every hit; the line keeps its text, its repeats within a minute are
// counted and the count is written when the server stops.
TEST_F(TrackingServiceTest, FailedLogWriteIsReportedAndTheHitStillAnswered) {
    Start();
    // The window hands a new directory to both writers at once.
    Configure([&](TKAV_GeneralConfig& C) { C.LogDir = FDir.Path() + "gone/"; });
    FService->SetLogDir(FDir.Path() + "gone/");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(StatusOf(Get("/t.gif")), 200);
    FService->StartStopServer(false);
    std::vector<std::string> lines = Lines(TScreenLog::Messages);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3].substr(25),
              "Error writing Logfile in Directory \"" + FDir.Path() + "gone/\"");
    EXPECT_EQ(lines[5].substr(25), "Error writing Logfile: 5 more lines of this kind left out");
    EXPECT_EQ(lines[6].substr(25), "Server stopped.");
}

TEST_F(TrackingServiceTest, StartStopMessagesAndToggling) {
    Start();
    EXPECT_TRUE(FService->ServerRunning());
    FService->StartStopServer(true); // a second start stops, as the button toggles
    EXPECT_FALSE(FService->ServerRunning());
    std::vector<std::string> lines = Lines(TScreenLog::Messages);
    ASSERT_EQ(lines.size(), 5u);
    // One socket for both families where there is IPv6; IPv4 alone as ever otherwise.
    const std::string any = HasIPv6Loopback() ? "[::]" : "0.0.0.0";
    char machine[256] = {};
    ASSERT_EQ(gethostname(machine, sizeof machine - 1), 0);
    const std::string texts[] = {
        "Trying to start server ...",
        "Server started, listening on " + any + ":" + std::to_string(FPort) + ".",
        "Put this into your pages, with each page's name after page=: <img src=\"http://" +
            std::string(machine) + ":" + std::to_string(FPort) +
            "/t.gif?page=home\" width=\"1\" height=\"1\" alt=\"\">",
        "Trying to stop server ...", "Server stopped."};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[i].substr(23, 2), ": ") << lines[i]; // long stamp, then ": "
        EXPECT_EQ(lines[i].substr(25), texts[i]);
    }
    // Stopping while stopped still reports both lines.
    FService->StartStopServer(false);
    EXPECT_EQ(Lines(TScreenLog::Messages).size(), 7u);
}

TEST_F(TrackingServiceTest, TakenPortGivesTheStartError) {
    Start();
    int taken = FPort;
    auto other = std::make_shared<TMemoryScreenLists>();
    Configure([&](TKAV_GeneralConfig& C) { C.ServerPort = taken; });
    TTrackingService second(other);
    second.StartStopServer(true);
    EXPECT_FALSE(second.ServerRunning());
    std::vector<std::string> lines = other->Lines(TScreenLog::Messages);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(25),
              "Exception ENetCouldNotBindSocket when starting server. Error is:\"Could not bind "
              "socket. Address and port are already in use.\".");
    // Freed, the port can be taken by the second service.
    FService->StartStopServer(false);
    second.StartStopServer(true);
    EXPECT_TRUE(second.ServerRunning());
    second.StartStopServer(false);
}

TEST_F(TrackingServiceTest, StopWhileRequestsAreInProgress) {
    Start();
    // Clients that sent half a request keep their peer threads busy reading.
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(clients.back()->Connect(FPort));
        clients.back()->Send("GET /t.gif HTTP/1.1\r\nHost: a\r\n");
    }
    std::atomic<bool> stop{false};
    std::thread hammer([&] {
        while (!stop)
            Exchange(FPort, "GET /t.gif HTTP/1.1\r\n\r\n", std::chrono::seconds(2));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto started = std::chrono::steady_clock::now();
    FService->StartStopServer(false);
    auto took = std::chrono::steady_clock::now() - started;
    stop = true;
    hammer.join();
    EXPECT_FALSE(FService->ServerRunning());
    EXPECT_LT(took, std::chrono::seconds(4)); // the connections were closed, not waited out
    for (auto& client : clients)
        EXPECT_TRUE(client->WaitForClose(std::chrono::seconds(5)));
    std::string messages = Messages();
    EXPECT_NE(messages.find("Server stopped."), std::string::npos);
}

// Threads kept for the next connections change nothing that is answered or recorded, a start
// reads the setting anew, and a stop leaves no thread behind.
TEST_F(TrackingServiceTest, KeptThreadsRecordWhatNewThreadsRecordAndAStopEndsThem) {
    std::thread([] {}).join(); // a sanitizer's own helper thread starts with the first thread
    const int threadsBefore = ThreadCount();
    SetTestClockUtcMs(1796625727045LL); // the records' stamps stay the same between the runs
    std::string files[2], answers[2];
    for (int reuse : {0, 4}) {
        Configure([&](TKAV_GeneralConfig& C) { C.ReuseThreads = reuse; });
        Start();
        for (const char* target : {"/a.gif?id=1", "/", "/robots.txt", "/missing"}) {
            const std::string answer = Get(target);
            answers[reuse > 0] += answer.substr(0, answer.find("\r\n")) + BodyOf(answer);
        }
        FService->StartStopServer(false);
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore; })) << reuse;
        files[reuse > 0] = OverviewFile() + DetailFile();
        std::filesystem::remove(FDir.Path() + DailyFileName(".log"));
        std::filesystem::remove(FDir.Path() + DailyFileName(".log2"));
    }
    ResetTestClock();
    EXPECT_EQ(answers[1], answers[0]);
    EXPECT_EQ(files[1], files[0]);
    EXPECT_NE(files[0].find("GET /a.gif id=1 HTTP/1.1"), std::string::npos) << files[0];
}

// A port outside 1..65535 never wraps around to another one: the start is refused and says so.
// 0 lets the system choose only where the run asked for it (--port 0), never from the file.
TEST_F(TrackingServiceTest, PortsOutsideTheRangeRefuseTheStart) {
    FService = std::make_unique<TTrackingService>(FScreen);
    for (int port : {65536 + 8080, -1, 0}) {
        Configure([&](TKAV_GeneralConfig& C) {
            C.ServerPort = port;
            C.PortZeroAllowed = false;
        });
        FScreen->Clear(TScreenLog::Messages);
        FService->StartStopServer(true);
        EXPECT_FALSE(FService->ServerRunning()) << port;
        EXPECT_EQ(Messages().substr(Messages().find("\n") + 26),
                  "Port " + std::to_string(port) +
                      " is outside 1..65535: the server is not "
                      "started.\n");
    }
    Configure([](TKAV_GeneralConfig& C) { C.PortZeroAllowed = true; });
    Start();
}

TEST_F(TrackingServiceTest, AMissingContentFileIsToldAtTheStart) {
    std::remove((FDir.Path() + "index.htm").c_str());
    Start();
    EXPECT_NE(Messages().find(": Content file \"" + FDir.Path() +
                              "index.htm\" is missing: requests for it are answered 404\n"),
              std::string::npos)
        << Messages();
    EXPECT_EQ(Messages().find("1x1.gif"), std::string::npos);
}

// The limits of the settings reach the server at its start: one byte over is not answered.
TEST_F(TrackingServiceTest, BodyAndHeaderLimitsComeFromTheSettings) {
    Configure([](TKAV_GeneralConfig& C) {
        C.MaxBodySize = 100;
        C.MaxHeaderSize = 2048;
    });
    Start();
    auto post = [&](std::size_t ABody) {
        return Request("POST /t.gif HTTP/1.1\r\nContent-Length: " + std::to_string(ABody) +
                       "\r\n\r\n" + std::string(ABody, 'b'));
    };
    EXPECT_EQ(StatusOf(post(100)), 405);
    EXPECT_EQ(post(101), "");
    EXPECT_EQ(StatusOf(Get("/t.gif", "X-Pad: " + std::string(1500, 'p') + "\r\n")), 200);
    EXPECT_EQ(Get("/t.gif", "X-Pad: " + std::string(2100, 'p') + "\r\n"), "");
}

// A 4 KiB unknown method sent again and again: ten lines, each cut at 256 bytes of escaped
// text, then one line for the rest.
TEST_F(TrackingServiceTest, UnsupportedCommandsCannotFloodTheMessages) {
    Start();
    const std::string method = "X\x1B" + std::string(4000, 'M');
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i)
        Request(method + " / HTTP/1.1\r\n\r\n");
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    FService->StartStopServer(false);
    const std::string cut =
        "Command other: X\\x1B" + std::string(MessageTextLimit - 5, 'M') + "... ... not supported";
    long written = 0, leftOut = 0;
    for (const std::string& line : Lines(TScreenLog::Messages)) {
        const std::string text = line.substr(25);
        if (text == cut)
            ++written;
        else if (text.starts_with("Command other: "))
            leftOut += std::stol(text.substr(15));
    }
    EXPECT_EQ(written + leftOut, 30);
    EXPECT_GE(written, 10);
    EXPECT_LE(written, 10 * (seconds + 1)); // a slow machine may spread them over seconds
}

// A client over the per-address limit is refused by the listener; the refusal reaches the
// Messages list at the front end's next tick, with the address and the limit, while the
// client's first connections are still served.
TEST_F(TrackingServiceTest, RefusalsOfTheServerReachTheMessagesAtTheTick) {
    Configure([](TKAV_GeneralConfig& C) { C.MaxConnectionsPerIP = 2; });
    Start();
    LoopbackClient held[2];
    for (LoopbackClient& client : held) // a byte each, so the kernel hands them over
        ASSERT_TRUE(client.Connect(FPort) && client.Send("G"));
    const std::string line = ": Refused 1 connection from 127.0.0.1: too many connections "
                             "from one address (limit 2)\n";
    LoopbackClient third;
    ASSERT_TRUE(third.Connect(FPort) && third.Send("GET /t.gif HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(third.WaitForClose());
    EXPECT_TRUE(TickUntilMessage(line)) << Messages();
    for (LoopbackClient& client : held) {
        ASSERT_TRUE(client.Send("ET /t.gif HTTP/1.1\r\n\r\n"));
        EXPECT_EQ(StatusOf(client.ReadUntilClose()), 200);
    }

    // With addresses masked, the line names the client as the records do (one or two
    // refusals: the first connections' threads may still be counted).
    Configure([](TKAV_GeneralConfig& C) {
        C.MaskAddresses = true;
        C.KeepIPv4Bits = 8;
    });
    LoopbackClient again[3];
    for (LoopbackClient& client : again)
        ASSERT_TRUE(client.Connect(FPort) && client.Send("G"));
    EXPECT_TRUE(TickUntilMessage(" from 127.0.0.0: too many connections from one address "
                                 "(limit 2)\n"))
        << Messages();
    const std::string messages = Messages();
    EXPECT_EQ(messages.find("from 127.0.0.1", messages.find(line) + line.size()), std::string::npos)
        << messages;
}

// Clients hit the server at once with both screen logs on while the front end takes the
// entries: each client's hits keep their order in every record, and every screen entry is
// whole, a detail block or a response header block, never mixed with another.
TEST_F(TrackingServiceTest, RecordsKeepTheirOrderWithTheScreenLogsOnUnderLoad) {
    Start();
    constexpr int Clients = 4, Hits = 40;
    std::atomic<int> finished{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < Hits; ++i) {
                const std::string target = "/c" + std::to_string(c) + "-" + std::to_string(i);
                EXPECT_EQ(StatusOf(Exchange(FPort, "GET " + target + ".gif HTTP/1.1\r\n\r\n")),
                          200);
            }
            ++finished;
        });
    while (finished.load() < Clients) // the front end's turns, while the hits come
        Lines(TScreenLog::Detail);
    for (auto& client : clients)
        client.join();

    // The hit (client * 1000 + its number) of each record, in the order of the records.
    auto hitsIn = [](const std::string& AText, const std::string& ABefore) {
        std::vector<int> hits;
        for (std::size_t at = 0; (at = AText.find(ABefore + "/c", at)) != std::string::npos;) {
            at += ABefore.size() + 2;
            const std::size_t dash = AText.find('-', at);
            hits.push_back(std::stoi(AText.substr(at, dash - at)) * 1000 +
                           std::stoi(AText.substr(dash + 1)));
        }
        return hits;
    };
    std::string overview;
    for (const std::string& line : Lines(TScreenLog::Overview))
        overview += line + "\n";
    const std::vector<std::string> detail = Lines(TScreenLog::Detail);
    std::string detailScreen;
    for (const std::string& line : detail)
        detailScreen += line + "\n";
    for (const auto& [name, hits] :
         {std::pair{"overview screen", hitsIn(overview, " GET ")},
          std::pair{"detail screen", hitsIn(detailScreen, "Document: ")},
          std::pair{"overview file", hitsIn(OverviewFile(), "\"GET ")},
          std::pair{"detail file", hitsIn(DetailFile(), "Document: ")}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(hits.size(), static_cast<std::size_t>(Clients * Hits));
        int next[Clients] = {};
        for (int hit : hits)
            EXPECT_EQ(hit % 1000, next[hit / 1000]++);
    }
    const std::vector<std::string> block = {"",
                                            "",
                                            "From: 127.0.0.1 [127.0.0.1]",
                                            "Command: GET",
                                            "",
                                            "--- HTTP HEADERS START:",
                                            "--- HTTP HEADERS END"};
    int blocks = 0, responses = 0;
    for (std::size_t i = 0; i < detail.size();) {
        if (detail[i] == "--- RESPONSE HEADER START:") {
            ASSERT_LE(i + 9, detail.size());
            EXPECT_EQ(detail[i + 1], "200 OK");
            EXPECT_EQ(detail[i + 8], "--- RESPONSE HEADER END");
            ++responses;
            i += 9;
            continue;
        }
        ASSERT_LE(i + block.size(), detail.size());
        for (std::size_t k = 0; k < block.size(); ++k)
            if (!block[k].empty()) {
                EXPECT_EQ(detail[i + k], block[k]) << "line " << i + k;
            }
        EXPECT_EQ(detail[i + 4].rfind("Document: /c", 0), 0u) << detail[i + 4];
        ++blocks;
        i += block.size();
    }
    EXPECT_EQ(blocks, Clients * Hits);
    EXPECT_EQ(responses, Clients * Hits);
}

// ResolveHostNames with a name server that does not answer: the client has its whole answer
// while the look-up is held, the records show the address once the deadline has passed, and a
// name that comes later is kept for the next hits.
TEST_F(TrackingServiceTest, ASilentNameServerDelaysNoAnswerAndTheRecordsShowTheAddress) {
    Configure([](TKAV_GeneralConfig& C) { C.ResolveHostNames = true; });
    auto names = std::make_shared<FakeNameServer>(std::map<std::string, std::string>{}, true);
    THostNameCache::TLimits limits;
    limits.Deadline = 100ms;
    FService = std::make_unique<TTrackingService>(FScreen);
    FService->SetHostNameLookupForTesting(names->Lookup(), limits);
    Start();
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(FPort));
    ASSERT_TRUE(client.Send("GET /t.gif HTTP/1.1\r\n\r\n"));
    const std::string gif = ReadContentFile("1x1.gif");
    std::string answer;
    while (answer.find("\r\n\r\n") == std::string::npos || BodyOf(answer).size() < gif.size()) {
        const std::string part = client.ReadSome(4096);
        if (part.empty())
            break;
        answer += part;
    }
    EXPECT_EQ(StatusOf(answer), 200);
    EXPECT_EQ(BodyOf(answer), gif);
    EXPECT_EQ(names->Answered(), 0); // the answer did not wait for the name server
    EXPECT_TRUE(client.WaitForClose());
    ASSERT_EQ(Lines(TScreenLog::Overview).size(), 1u);
    EXPECT_NE(Lines(TScreenLog::Overview)[0].find(" - [127.0.0.1] Ref.: "), std::string::npos);
    EXPECT_NE(DetailFile().find("\r\nFrom: 127.0.0.1 [127.0.0.1]\r\n"), std::string::npos);
    EXPECT_EQ(OverviewFile().rfind("127.0.0.1 - - [", 0), 0u);

    names->Speak({{"127.0.0.1", "visitor.example"}});
    EXPECT_TRUE(WaitUntil([&] {
        Get("/t.gif");
        return Lines(TScreenLog::Overview).back().find(" - [visitor.example] Ref.: ") !=
               std::string::npos;
    }));
    EXPECT_NE(DetailFile().find("\r\nFrom: visitor.example [127.0.0.1]\r\n"), std::string::npos);
    EXPECT_NE(OverviewFile().find("\nvisitor.example - - ["), std::string::npos);
}

} // namespace
