// Who a hit is recorded as: an IPv6 client by its short address, an IPv4 client through the
// socket of both families as ever, and the client behind a trusted proxy in the proxy's place.
#include "tracking/TTrackingHandler.h"

#include <algorithm>
#include <chrono>

#include "support/LoopbackClient.h"
#include "tracking/TrackingFixture.h"

namespace {

using TrackingHandlerTest = TrackingFixture;

bool Contains(const std::vector<std::string>& ALines, const std::string& ALine) {
    return std::find(ALines.begin(), ALines.end(), ALine) != ALines.end();
}

// The overview line without its stamp.
std::string OverviewWithoutStamp(const std::vector<std::string>& ALines) {
    return ALines.empty() ? std::string() : ALines.back().substr(13);
}

const char* const ProxiedGet = "GET /t.gif HTTP/1.1\r\nHost: stats.example.org\r\n"
                               "X-Forwarded-For: 198.51.100.9, 203.0.113.5\r\n"
                               "User-Agent: UA\r\n\r\n";

} // namespace

TEST_F(TrackingHandlerTest, AnIPv6ClientIsRecordedByItsShortAddressInEveryRecord) {
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    Configure([](TKAV_GeneralConfig& C) {
        C.UseNickNames = true;
        C.NickNames = {"0:0:0:0:0:0:0:1=Six"};
    });
    Start();
    LoopbackClient client;
    ASSERT_TRUE(client.Connect6(FPort));
    ASSERT_TRUE(client.Send("GET /t.gif HTTP/1.1\r\nUser-Agent: UA\r\n\r\n"));
    EXPECT_EQ(StatusOf(client.ReadUntilClose()), 200);
    EXPECT_EQ(OverviewWithoutStamp(Lines(TScreenLog::Overview)),
              "GET /t.gif from (Six) [::1]:" + std::to_string(client.LocalPort()) +
                  " - [::1] Ref.:  UA: UA");
    EXPECT_TRUE(Contains(Lines(TScreenLog::Detail), "From: ::1 [::1]"));
    EXPECT_EQ(OverviewFile().rfind("::1 - - [", 0), 0u) << OverviewFile();
    EXPECT_NE(DetailFile().find("\r\nFrom: ::1 [::1]\r\n"), std::string::npos);

    // Kept off the logs by an entry in any spelling of the address.
    Configure([](TKAV_GeneralConfig& C) { C.NoLogs = {"0::1"}; });
    const std::size_t written = OverviewFile().size();
    EXPECT_EQ(StatusOf(Exchange6(FPort, "GET /t.gif HTTP/1.1\r\n\r\n")), 200);
    EXPECT_EQ(OverviewFile().size(), written);
    EXPECT_EQ(Lines(TScreenLog::Overview).size(), 1u);
}

TEST_F(TrackingHandlerTest, BindAddressListensOnThatAddressAlone) {
    Configure([](TKAV_GeneralConfig& C) { C.BindAddress = "127.0.0.1"; });
    Start();
    EXPECT_NE(
        Messages().find("Server started, listening on 127.0.0.1:" + std::to_string(FPort) + ".\n"),
        std::string::npos)
        << Messages();
    EXPECT_EQ(StatusOf(Get("/t.gif")), 200);
    LoopbackClient v6;
    EXPECT_FALSE(v6.Connect6(FPort)); // ::1 is refused
    FService->StartStopServer(false);

    Configure([](TKAV_GeneralConfig& C) { C.BindAddress = "localhost"; });
    FService->StartStopServer(true);
    EXPECT_FALSE(FService->ServerRunning());
    EXPECT_NE(Messages().find("BindAddress \"localhost\" is no IPv4 or IPv6 address: the server "
                              "is not started.\n"),
              std::string::npos)
        << Messages();

    if (!HasIPv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    Configure([](TKAV_GeneralConfig& C) { C.BindAddress = "0:0::1"; });
    Start();
    EXPECT_NE(Messages().find("listening on [::1]:" + std::to_string(FPort) + ".\n"),
              std::string::npos);
    EXPECT_EQ(StatusOf(Exchange6(FPort, "GET /t.gif HTTP/1.1\r\n\r\n")), 200);
    LoopbackClient v4;
    EXPECT_FALSE(v4.Connect(FPort));
}

// The client a trusted proxy forwards for stands wherever the peer stood: screen, files,
// nickname and no-log lists; the detail block names the proxy.
TEST_F(TrackingHandlerTest, TheClientBehindATrustedProxyTakesThePeersPlace) {
    Configure([](TKAV_GeneralConfig& C) {
        C.TrustedProxies = "127.0.0.1";
        C.UseNickNames = true;
        C.NickNames = {"203.0.113.5=Visitor"};
    });
    Start();
    LoopbackClient proxy;
    ASSERT_TRUE(proxy.Connect(FPort) && proxy.Send(ProxiedGet));
    EXPECT_EQ(StatusOf(proxy.ReadUntilClose()), 200);
    EXPECT_EQ(OverviewWithoutStamp(Lines(TScreenLog::Overview)),
              "GET /t.gif from (Visitor) 203.0.113.5:" + std::to_string(proxy.LocalPort()) +
                  " - [203.0.113.5] Ref.:  UA: UA");
    const std::vector<std::string> detail = Lines(TScreenLog::Detail);
    const auto from = std::find(detail.begin(), detail.end(), "From: 203.0.113.5 [203.0.113.5]");
    ASSERT_NE(from, detail.end());
    EXPECT_EQ(*std::next(from), "Proxy: 127.0.0.1");
    EXPECT_EQ(OverviewFile().rfind("203.0.113.5 - - [", 0), 0u) << OverviewFile();
    EXPECT_NE(DetailFile().find("From: 203.0.113.5 [203.0.113.5]\r\nProxy: 127.0.0.1\r\n"),
              std::string::npos);

    // The visitor's own "Forwarded", which a proxy that writes X-Forwarded-For passes on,
    // changes nothing; with ForwardedHeader=Forwarded the roles change.
    const std::string both = "X-Forwarded-For: 203.0.113.5\r\n"
                             "Forwarded: for=\"[2001:DB8:cafe::17]:4711\";proto=https\r\n";
    EXPECT_EQ(StatusOf(Get("/t.gif", "X-Forwarded-For: 203.0.113.5\r\nForwarded: for=unknown\r\n")),
              200);
    EXPECT_NE(
        OverviewWithoutStamp(Lines(TScreenLog::Overview)).find(" from (Visitor) 203.0.113.5:"),
        std::string::npos);
    Configure([](TKAV_GeneralConfig& C) { C.ForwardedHeader = "Forwarded"; });
    EXPECT_EQ(StatusOf(Get("/t.gif", both)), 200);
    EXPECT_NE(OverviewWithoutStamp(Lines(TScreenLog::Overview)).find(" from  [2001:db8:cafe::17]:"),
              std::string::npos);
    Configure([](TKAV_GeneralConfig& C) { C.ForwardedHeader = "X-Forwarded-For"; });

    // The no-log list sees the client, not the proxy.
    Configure([](TKAV_GeneralConfig& C) { C.NoLogs = {"203.0.113.5"}; });
    const std::size_t shown = Lines(TScreenLog::Overview).size();
    EXPECT_EQ(StatusOf(Request(ProxiedGet)), 200);
    EXPECT_EQ(Lines(TScreenLog::Overview).size(), shown);
}

// From a peer that is not trusted, and when a trusted one sends what cannot be used, the
// headers change nothing: the hit is the peer's, without a proxy line.
TEST_F(TrackingHandlerTest, UntrustedPeersAndUnusableHeadersChangeNothing) {
    Configure([](TKAV_GeneralConfig& C) { C.TrustedProxies = "10.9.9.9, 2001:db8::/32"; });
    Start();
    const std::string unusable[] = {"X-Forwarded-For: 203.0.113.5, unknown\r\n",
                                    "Forwarded: for=_hidden\r\n",
                                    "Forwarded: for=192.0.2.2\r\n", // not the proxy's
                                    "X-Forwarded-For: " + std::string(5000, '7') + "\r\n"};
    EXPECT_EQ(StatusOf(Request(ProxiedGet)), 200); // an untrusted peer
    Configure([](TKAV_GeneralConfig& C) { C.TrustedProxies = "127.0.0.1"; });
    for (const std::string& headers : unusable)
        EXPECT_EQ(StatusOf(Get("/t.gif", headers)), 200) << headers.substr(0, 60);
    for (const std::string& line : Lines(TScreenLog::Overview))
        EXPECT_NE(line.find(" from  127.0.0.1:"), std::string::npos) << line;
    EXPECT_EQ(Lines(TScreenLog::Overview).size(), 5u);
    for (const std::string& line : Lines(TScreenLog::Detail))
        EXPECT_NE(line.rfind("Proxy: ", 0), 0u) << line;
}

// A trusted proxy is not capped at MaxConnectionsPerIP; each client behind it is, once its
// request's head is in.
TEST_F(TrackingHandlerTest, TheLimitCountsEachClientBehindATrustedProxy) {
    Configure([](TKAV_GeneralConfig& C) {
        C.TrustedProxies = "127.0.0.1";
        C.MaxConnectionsPerIP = 2;
    });
    Start();
    const std::string head = "POST /t.gif HTTP/1.1\r\nContent-Length: 4\r\n"
                             "X-Forwarded-For: 203.0.113.5\r\n\r\n";
    // Three requests of one client stay in progress (their bodies have not come); whichever
    // head is counted last is one too many.
    LoopbackClient clients[3];
    for (LoopbackClient& client : clients)
        ASSERT_TRUE(client.Connect(FPort) && client.Send(head + "ab"));
    int refused = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (refused < 0 && std::chrono::steady_clock::now() < deadline)
        for (int i = 0; i < 3 && refused < 0; ++i)
            if (clients[i].WaitForClose(std::chrono::milliseconds(20)))
                refused = i;
    ASSERT_GE(refused, 0) << "no request was refused";
    // Another client through the same proxy is served meanwhile.
    EXPECT_EQ(StatusOf(Get("/t.gif", "X-Forwarded-For: 203.0.113.6\r\n")), 200);
    for (int i = 0; i < 3; ++i) {
        if (i == refused)
            continue;
        ASSERT_TRUE(clients[i].Send("cd"));
        EXPECT_EQ(StatusOf(clients[i].ReadUntilClose()), 405); // a POST to the pixel
    }
    const std::string line = ": Refused 1 connection from 203.0.113.5: too many connections "
                             "from one address behind a proxy (limit 2)\n";
    EXPECT_TRUE(TickUntilMessage(line)) << Messages();
}
