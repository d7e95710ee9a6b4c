// TLS and plain clients on one port of a transport server (an echo of one line) and of an HTTP
// server: versions, ALPN, resumption, broken, stalled and oversized handshakes, the memory
// budget, a renewed certificate.
#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include "NetTestHelpers.h"
#include "http/TNetHTTPServer.h"
#include "support/TLSTestClient.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/WaitUntil.h"
#include "tls/TNetTLSContext.h"

namespace {

std::shared_ptr<const TNetTLSContext> ContextOf(const TempDir& ADir,
                                                const TTestCertificate& APair) {
    ADir.WriteFile("chain.pem", APair.ChainPem);
    ADir.WriteFile("key.pem", APair.KeyPem);
    std::string error;
    auto context = TNetTLSContext::Load(ADir.Path() + "chain.pem", ADir.Path() + "key.pem", error);
    EXPECT_NE(context, nullptr) << error;
    return context;
}

class SecureConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.OnExecute = EchoLine;
        FServer.SetReadTimeout(1000);
        FServer.SetSecureAcceptor(ContextOf(FDir, FCA.Issue({"stats.test"}, 1)));
        FPort = ActivateOnLoopback(FServer);
    }
    void TearDown() override {
        FServer.SetActive(false);
        (void)OnlyThisThreadLeft();
    }

    TTestCA FCA;
    TempDir FDir;
    TNetTCPServer FServer;
    TRefusalLog FRefusals{FServer};
    int FPort = 0;
};

TEST_F(SecureConnectionTest, PlainAndTLSClientsShareOnePort) {
    const struct {
        int MaxVersion;
        std::vector<std::string> Offered;
        const char* Version;
        const char* Protocol;
    } cases[] = {
        {0, {}, "TLSv1.3", ""},
        {0, {"h2", "http/1.1"}, "TLSv1.3", "http/1.1"},
        {TLS1_2_VERSION, {"h2", "http/1.1"}, "TLSv1.2", "http/1.1"},
        {0, {"h2"}, "TLSv1.3", ""}, // nothing we speak: no protocol named, still served
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Exchange(FPort, "plain\r\n"), "echo plain\r\n");
        TTLSTestClient client;
        TTLSClientOptions options;
        options.MaxVersion = c.MaxVersion;
        options.Protocols = c.Offered;
        ASSERT_TRUE(client.Connect(FPort, options)) << client.Error();
        EXPECT_EQ(client.Version(), c.Version);
        EXPECT_EQ(client.Protocol(), c.Protocol);
        ASSERT_TRUE(client.Send("secure\r\n"));
        EXPECT_EQ(client.ReadUntilClose(), "echo secure\r\n");
        EXPECT_TRUE(client.ClosedInOrder()); // a whole answer, told apart from a cut one
    }
    EXPECT_TRUE(FRefusals.Refusals().empty());
}

TEST_F(SecureConnectionTest, AClientResumesItsSession) {
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        TTLSClientOptions options;
        options.MinVersion = options.MaxVersion = version;
        TTLSTestClient first;
        ASSERT_TRUE(first.Connect(FPort, options)) << first.Error();
        ASSERT_TRUE(first.Send("one\r\n"));
        EXPECT_EQ(first.ReadUntilClose(), "echo one\r\n");
        EXPECT_FALSE(first.Resumed());
        options.Resume = first.Session();
        ASSERT_NE(options.Resume, nullptr);
        TTLSTestClient second;
        ASSERT_TRUE(second.Connect(FPort, options)) << second.Error();
        EXPECT_TRUE(second.Resumed()) << version;
        ASSERT_TRUE(second.Send("two\r\n"));
        EXPECT_EQ(second.ReadUntilClose(), "echo two\r\n");
    }
}

// Half a hello and silence costs its thread only until the read's time is up; meanwhile
// everyone else is served.
TEST_F(SecureConnectionTest, HalfAHelloIsDroppedAtTheReadDeadline) {
    const std::string hello = ClientHelloBytes();
    ASSERT_GT(hello.size(), 100u);
    LoopbackClient stalled;
    ASSERT_TRUE(stalled.Connect(FPort));
    ASSERT_TRUE(stalled.Send(hello.substr(0, hello.size() / 2)));
    EXPECT_EQ(TLSExchange(FPort, "meanwhile\r\n"), "echo meanwhile\r\n");
    EXPECT_EQ(Exchange(FPort, "plain\r\n"), "echo plain\r\n");
    EXPECT_TRUE(stalled.WaitForClose(10s));
    EXPECT_EQ(FRefusals.Wait(1),
              (std::vector<TNetRefusal>{{TNetRefusalReason::ReadTimeout, "127.0.0.1", 1000}}));
}

// A broken handshake gets at most TLS's own alert, never an answer, and is refused once.
TEST_F(SecureConnectionTest, BrokenHandshakesAreRefusedWithoutAnAnswer) {
    const std::string raw[] = {
        std::string("\x16GET / HTTP/1.1\r\n\r\n"),                   // plain text after the mark
        std::string("\x16\x03\x01\x00\x08\x01\x00\x00\x04junk", 13), // a hello of junk
    };
    for (const std::string& bytes : raw) {
        LoopbackClient client;
        ASSERT_TRUE(client.Connect(FPort));
        (void)client.Send(bytes); // the server may close before it has taken everything
        const std::string answer = client.ReadUntilClose(10s);
        EXPECT_TRUE(answer.empty() || answer[0] == '\x15') << answer; // nothing or an alert
    }
    TTLSTestClient old;
    TTLSClientOptions tls10;
    tls10.Legacy = true;
    tls10.MinVersion = tls10.MaxVersion = TLS1_VERSION;
    EXPECT_FALSE(old.Connect(FPort, tls10));
    EXPECT_NE(old.Error().find("alert protocol version"), std::string::npos) << old.Error();
    const TNetRefusal failed{TNetRefusalReason::SecureHandshakeFailed, "127.0.0.1", -1};
    EXPECT_EQ(FRefusals.Wait(3), std::vector<TNetRefusal>(3, failed));
    EXPECT_EQ(failed.Text(), "TLS handshake failed");
    EXPECT_EQ(Exchange(FPort, "still\r\n"), "echo still\r\n");
}

TEST_F(SecureConnectionTest, ANewCertificateServesTheConnectionsAcceptedAfterIt) {
    TTLSTestClient before;
    ASSERT_TRUE(before.Connect(FPort)) << before.Error();
    EXPECT_EQ(before.PeerSerial(), "01");
    FServer.SetSecureAcceptor(ContextOf(FDir, FCA.Issue({"stats.test"}, 2)));
    TTLSTestClient after;
    ASSERT_TRUE(after.Connect(FPort)) << after.Error();
    EXPECT_EQ(after.PeerSerial(), "02");
    ASSERT_TRUE(before.Send("old\r\n")); // the earlier connection goes on as it began
    EXPECT_EQ(before.ReadUntilClose(), "echo old\r\n");
    FServer.SetSecureAcceptor(nullptr); // plain only: a TLS client's hello is no request line
    EXPECT_EQ(TLSExchange(FPort, "x\r\n"), "");
    EXPECT_EQ(Exchange(FPort, "plain\r\n"), "echo plain\r\n");
}

// Over HTTP the handshake counts toward the request's deadline.
TEST(SecureHTTPTest, TheHandshakeCountsTowardTheRequestDeadline) {
    TTestCA ca;
    TempDir dir;
    TNetHTTPServer server;
    TRefusalLog refusals(server);
    server.SetRequestTimeout(800);
    server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo& ARequest,
                             TNetHTTPResponseInfo& AResponse) {
        AResponse.ContentText = "doc " + ARequest.Document;
    };
    server.SetSecureAcceptor(ContextOf(dir, ca.Issue({"stats.test"}, 7)));
    const int port = ActivateOnLoopback(server);
    const std::string hello = ClientHelloBytes();
    LoopbackClient stalled;
    ASSERT_TRUE(stalled.Connect(port));
    ASSERT_TRUE(stalled.Send(hello.substr(0, 40)));
    const std::string answer = TLSExchange(port, "GET /a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.substr(answer.size() - 6), "doc /a");
    EXPECT_TRUE(stalled.WaitForClose(10s));
    EXPECT_EQ(refusals.Wait(1), (std::vector<TNetRefusal>{
                                    {TNetHTTPRefusalReason::RequestTimeout, "127.0.0.1", 800}}));
    server.SetActive(false);
}

// A hello announcing more than the bound is closed at its header, before the library reserves
// the room; the partial handshakes of many clients are charged to the request memory budget, and
// one that would pass it is closed. Both go unanswered, and everything charged comes back.
TEST(SecureHTTPTest, OversizedHellosAndHandshakesPastTheBudgetAreRefused) {
    TTestCA ca;
    TempDir dir;
    TNetHTTPServer server;
    TRefusalLog refusals(server);
    const long long budget = 256 * 1024;
    server.SetMaxRequestMemory(budget);
    server.SetMaxConnectionsPerIP(0);
    server.OnCommandGet = [](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {};
    server.SetSecureAcceptor(ContextOf(dir, ca.Issue({"stats.test"}, 7)));
    const int port = ActivateOnLoopback(server);
    LoopbackClient header; // 9 bytes: a record header, then a hello header announcing 131,000
    ASSERT_TRUE(header.Connect(port));
    ASSERT_TRUE(header.Send(HandshakeRecords(131000, 0)));
    EXPECT_EQ(header.ReadUntilClose(), "");
    const long long bound = TNetTLSContext::MaxHandshakeInput;
    EXPECT_EQ(refusals.Wait(1),
              (std::vector<TNetRefusal>{
                  {TNetRefusalReason::SecureHandshakeTooLarge, "127.0.0.1", bound}}));
    ASSERT_TRUE(WaitUntil([&] { return server.RequestMemoryHeld() == 0; }));
    // 30 KiB of a hello from each client, until the budget takes no more.
    const std::string partial = HandshakeRecords(31 * 1024, 30 * 1024);
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    while (refusals.Refusals().size() == 1 && clients.size() < 64) {
        const size_t before = server.RequestMemoryHeld();
        clients.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(clients.back()->Connect(port));
        ASSERT_TRUE(clients.back()->Send(partial));
        ASSERT_TRUE(WaitUntil([&] {
            return server.RequestMemoryHeld() >= before + partial.size() ||
                   refusals.Refusals().size() > 1;
        }));
    }
    EXPECT_EQ(refusals.Refusals().back(),
              (TNetRefusal{TNetRefusalReason::SecureMemoryBudget, "127.0.0.1", budget}));
    EXPECT_EQ(clients.back()->ReadUntilClose(), ""); // the one refused
    ASSERT_GE(clients.size(), 2u);
    EXPECT_GE(server.RequestMemoryHeld(), (clients.size() - 1) * partial.size());
    EXPECT_LE(server.RequestMemoryHeld(), static_cast<size_t>(budget));
    clients.clear();
    EXPECT_TRUE(WaitUntil([&] { return server.RequestMemoryHeld() == 0; }));
    server.SetActive(false);
}

} // namespace
