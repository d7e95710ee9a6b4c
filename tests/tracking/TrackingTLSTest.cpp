// HTTPS on the tracking server's port: the same answer and records as over plain HTTP, the
// certificate's Messages lines, renewal without a restart, expiry warnings and refusals.
#include <filesystem>
#include <regex>
#include <sys/stat.h>

#include "support/LoopbackClient.h"
#include "support/TLSTestClient.h"
#include "support/TestCertificates.h"
#include "support/WaitUntil.h"
#include "tracking/TTLSCertificateWatch.h"
#include "tracking/TrackingFixture.h"

namespace {

using namespace std::chrono_literals;

long long RealNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A client's port, where a record has one, made the same for comparing.
std::string WithoutPorts(const std::string& AText) {
    return std::regex_replace(AText, std::regex("127\\.0\\.0\\.1:[0-9]+"), "127.0.0.1:P");
}

size_t CountOf(const std::string& AText, const std::string& APart) {
    size_t count = 0;
    for (size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1))
        ++count;
    return count;
}

class TrackingTLSTest : public TrackingFixture {
protected:
    // Writes the pair to <AName>.pem and <AName>.key and names them in the settings.
    void UsePair(const std::string& AName, const TTestCertificate& APair,
                 const std::string& AKeyPem = "") {
        WritePair(AName, APair, AKeyPem);
        Configure([&](TKAV_GeneralConfig& AConfig) {
            AConfig.TLSCertFile = FDir.Path() + AName + ".pem";
            AConfig.TLSKeyFile = FDir.Path() + AName + ".key";
        });
    }
    void WritePair(const std::string& AName, const TTestCertificate& APair,
                   const std::string& AKeyPem = "") {
        FDir.WriteFile(AName + ".pem", APair.ChainPem);
        FDir.WriteFile(AName + ".key", AKeyPem.empty() ? APair.KeyPem : AKeyPem);
    }
    std::string Serial() {
        TTLSTestClient client;
        return client.Connect(FPort) ? client.PeerSerial() : "(" + client.Error() + ")";
    }
    void TickAt(long long AMs) {
        SetTestClockUtcMs(AMs);
        FService->Tick();
    }

    TTestCA FCA;
};

// The detail block alone tells the two apart, by its TLS line: upgraded requests are seen.
TEST_F(TrackingTLSTest, AnHttpsHitIsAnsweredAndRecordedAsAPlainOneSaveTheTLSLine) {
    UsePair("stats", FCA.Issue({"stats.test", "127.0.0.1"}, 1));
    SetTestClockUtcMs(RealNowMs()); // one Date for both answers
    Start();
    EXPECT_NE(Messages().find("HTTPS with the certificate \"" + FDir.Path() +
                              "stats.pem\" for stats.test, 127.0.0.1, valid until "),
              std::string::npos)
        << Messages();
    EXPECT_NE(Messages().find("<img src=\"https://stats.test:" + std::to_string(FPort) + "/t.gif"),
              std::string::npos);
    const std::string request = "GET /p.gif?page=/about HTTP/1.1\r\nHost: stats.test:88\r\n"
                                "Referer: https://www.example.org/about\r\n"
                                "User-Agent: Mozilla/5.0 (X11) Test\r\n\r\n";
    const std::string plain = Request(request);
    const std::string secure = TLSExchange(FPort, request);
    EXPECT_EQ(StatusOf(plain), 200);
    EXPECT_EQ(secure, plain);
    const std::string overview = OverviewFile();
    const size_t firstEnd = overview.find("\r\n") + 2;
    EXPECT_EQ(overview.substr(firstEnd), overview.substr(0, firstEnd));
    std::string detail = WithoutPorts(DetailFile());
    const std::string tlsLine = "]\r\nTLS: TLSv1.3\r\nCommand: ";
    const size_t tlsAt = detail.find(tlsLine);
    ASSERT_NE(tlsAt, std::string::npos) << detail;
    EXPECT_GT(tlsAt, detail.find("--- HTTP HEADERS END")) << "only the second hit came over TLS";
    detail.erase(tlsAt + 3, tlsLine.size() - 3 - 9);
    EXPECT_EQ(detail.substr(detail.size() / 2), detail.substr(0, detail.size() / 2));
    const std::vector<std::string> lines = Lines(TScreenLog::Overview);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(WithoutPorts(lines[1]), WithoutPorts(lines[0]));
}

TEST_F(TrackingTLSTest, APairThatCannotServeLeavesPlainHttpAndSaysWhy) {
    const TTestCertificate pair = FCA.Issue({"stats.test"}, 1);
    const struct {
        std::string Key; // the key file's text; empty: a directory in its place
        std::string Says;
    } cases[] = {
        {NewKeyPem(), "Cannot use HTTPS: key \"@stats.key\": does not match the certificate "
                      "\"@stats.pem\" (key values mismatch). Plain HTTP is served."},
        {"", "Cannot use HTTPS: key \"@stats.key\": Is a directory. Plain HTTP is served."},
    };
    for (const auto& c : cases) {
        UsePair("stats", pair, c.Key.empty() ? "x" : c.Key);
        if (c.Key.empty()) {
            std::filesystem::remove(FDir.Path() + "stats.key");
            std::filesystem::create_directory(FDir.Path() + "stats.key");
        }
        Start();
        std::string says = c.Says;
        for (size_t at; (at = says.find('@')) != std::string::npos;)
            says.replace(at, 1, FDir.Path());
        EXPECT_NE(Messages().find(says), std::string::npos) << Messages();
        EXPECT_EQ(StatusOf(Get("/p.gif")), 200);
        FService->StartStopServer(false);
    }
}

// The files are looked at once a minute; settings that name other files are taken at once.
TEST_F(TrackingTLSTest, ARenewedCertificateServesNewConnectionsWithoutARestart) {
    UsePair("stats", FCA.Issue({"stats.test"}, 1));
    const long long start = RealNowMs();
    SetTestClockUtcMs(start);
    Start();
    EXPECT_EQ(Serial(), "01");
    WritePair("stats", FCA.Issue({"stats.test"}, 2));
    TickAt(start + 30'000);
    EXPECT_EQ(Serial(), "01"); // not looked at yet
    TickAt(start + 61'000);
    EXPECT_EQ(Serial(), "02");
    EXPECT_NE(Messages().find("HTTPS certificate reloaded for new connections: \"" + FDir.Path() +
                              "stats.pem\" for stats.test, valid until "),
              std::string::npos);
    WritePair("stats", FCA.Issue({"stats.test"}, 3), NewKeyPem());
    TickAt(start + 122'000);
    EXPECT_EQ(Serial(), "02"); // a bad new pair keeps the one in use
    EXPECT_NE(Messages().find("Cannot reload HTTPS: key \"" + FDir.Path() +
                              "stats.key\": does not match the certificate"),
              std::string::npos);
    EXPECT_NE(Messages().find("The certificate loaded before stays in use."), std::string::npos);
    TickAt(start + 123'000); // told once, not at every look
    EXPECT_EQ(CountOf(Messages(), "Cannot reload HTTPS"), 1u);
    UsePair("other", FCA.Issue({"stats.test"}, 4));
    TickAt(start + 124'000);
    EXPECT_EQ(Serial(), "04");
    Configure([](TKAV_GeneralConfig& AConfig) { AConfig.TLSCertFile.clear(); });
    TickAt(start + 125'000);
    EXPECT_NE(Messages().find("HTTPS is off: no certificate file is set. Plain HTTP is served."),
              std::string::npos);
    EXPECT_EQ(StatusOf(Get("/p.gif")), 200);
}

TEST_F(TrackingTLSTest, ACertificateNearItsEndIsWarnedOfOnceADay) {
    UsePair("stats", FCA.Issue({"stats.test"}, 1, 5));
    const long long start = RealNowMs();
    SetTestClockUtcMs(start);
    Start();
    const std::string warning = "HTTPS certificate \"" + FDir.Path() + "stats.pem\" expires on ";
    EXPECT_NE(Messages().find(" (in 5 days): renew it"), std::string::npos) << Messages();
    for (long long hours : {2, 12, 23})
        TickAt(start + hours * 3'600'000);
    EXPECT_EQ(CountOf(Messages(), warning), 1u);
    TickAt(start + 25 * 3'600'000LL);
    EXPECT_EQ(CountOf(Messages(), warning), 2u);
    EXPECT_NE(Messages().find(" (in 4 days): renew it"), std::string::npos);
    TickAt(start + 6 * 24 * 3'600'000LL);
    EXPECT_NE(Messages().find("\" expired on "), std::string::npos) << Messages();
}

// A key that others may read is told of at each load; the certificate's names are escaped like
// a client's text, so a line end in its subject forges no Messages line.
TEST_F(TrackingTLSTest, AKeyOthersMayReadAndTheCertificatesOwnWordsAreToldSafely) {
    const std::string forged = "2026/12/10 10:00:00:000 HTTPS is off";
    UsePair("stats", FCA.Issue({"stats.test\r\n" + forged}, 1));
    const std::string key = FDir.Path() + "stats.key";
    ASSERT_EQ(::chmod(key.c_str(), 0640), 0);
    Start();
    const std::string warning = "HTTPS key \"" + key +
                                "\" can be read by its group or by others: let only its owner "
                                "read it (chmod 600)";
    EXPECT_EQ(CountOf(Messages(), warning), 1u) << Messages();
    EXPECT_NE(Messages().find("for stats.test\\x0D\\x0A" + forged + ", valid until "),
              std::string::npos)
        << Messages();
    EXPECT_EQ(Messages().find("\n" + forged), std::string::npos);
    FService->StartStopServer(false);
    ASSERT_EQ(::chmod(key.c_str(), 0600), 0);
    Start();
    EXPECT_EQ(CountOf(Messages(), warning), 1u);
    EXPECT_EQ(CountOf(Messages(), "HTTPS with the certificate"), 2u);
}

// However many handshakes fail, the Messages list gets a line now and a sum a minute later.
TEST_F(TrackingTLSTest, FailedHandshakesAreReportedAsRefusalsNotOneLineEach) {
    UsePair("stats", FCA.Issue({"stats.test"}, 1));
    Start();
    for (int i = 0; i < 5; ++i) {
        LoopbackClient client;
        ASSERT_TRUE(client.Connect(FPort));
        ASSERT_TRUE(client.Send(std::string("\x16\x03\x01\x00\x08\x01\x00\x00\x04junk", 13)));
        EXPECT_TRUE(client.WaitForClose(10s));
        FService->Tick();
    }
    const std::string text = "from 127.0.0.1: TLS handshake failed";
    EXPECT_TRUE(WaitUntil([&] {
        FService->Tick();
        return Messages().find("Refused 1 connection " + text) != std::string::npos;
    }));
    EXPECT_EQ(CountOf(Messages(), text), 1u);
    EXPECT_EQ(StatusOf(Get("/p.gif")), 200);
}

// The window's line: names and end, or what is wrong, in the warning colour when it matters.
TEST_F(TrackingTLSTest, ThePairsSummaryForTheWindow) {
    WritePair("good", FCA.Issue({"stats.test", "www.stats.test"}, 1, 90));
    WritePair("ending", FCA.Issue({"stats.test"}, 2, 3));
    WritePair("wrong", FCA.Issue({"stats.test"}, 3), NewKeyPem());
    const auto now = std::chrono::system_clock::now();
    const std::string dir = FDir.Path();
    TTLSPairSummary summary = DescribeTLSPair(dir + "good.pem", dir + "good.key", now);
    EXPECT_TRUE(summary.Text.starts_with("stats.test, www.stats.test; valid until "))
        << summary.Text;
    EXPECT_FALSE(summary.Warning);
    summary = DescribeTLSPair(dir + "ending.pem", dir + "ending.key", now);
    EXPECT_TRUE(summary.Text.ends_with(" (in 3 days)")) << summary.Text;
    EXPECT_TRUE(summary.Warning);
    summary = DescribeTLSPair(dir + "wrong.pem", dir + "wrong.key", now);
    EXPECT_NE(summary.Text.find("; key \"" + dir + "wrong.key\": does not match"),
              std::string::npos)
        << summary.Text;
    EXPECT_TRUE(summary.Warning);
    summary = DescribeTLSPair(dir + "none.pem", "", now);
    EXPECT_EQ(summary.Text, "certificate \"" + dir + "none.pem\": No such file or directory");
    EXPECT_TRUE(summary.Warning);
    EXPECT_EQ(DescribeTLSPair("", "", now).Text, "");
}

} // namespace
