#include "tcp/TNetTCPServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "NetTestHelpers.h"
#include "tcp/NetExceptions.h"

TEST(TNetTCPServerTest, ActivationBindsReadsBackAndKeepsThePortAfterwards) {
    TNetTCPServer server;
    server.OnExecute = EchoLine;
    server.SetDefaultPort(0);
    server.SetActive(true); // no bindings: one is added, on every local address of both families
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_EQ(server.Bindings().Items(0).IP(), HasIPv6Loopback() ? "::" : "0.0.0.0");
    int port = server.Bindings().Items(0).Port();
    EXPECT_GT(port, 0);
    server.SetActive(true); // twice: nothing happens
    EXPECT_EQ(Exchange(port, "hello\r\n"), "echo hello\r\n");
    server.SetActive(false);
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.Bindings().Items(0).Port(), port);
    EXPECT_EQ(server.ThreadMgr(), nullptr);
    // A listener that sees the halt first (here: waiting for a free place) must not release
    // the sockets itself, clearing the address that the next activation binds again.
    server.SetMaxConnections(1);
    for (int i = 0; i < 20; ++i) {
        server.SetActive(true);
        LoopbackClient idle;
        ASSERT_TRUE(idle.Connect(port));
        ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 1; }));
        server.SetActive(false);
        ASSERT_EQ(server.Bindings().Items(0).Port(), port) << "cycle " << i;
    }
    server.SetActive(true);
    EXPECT_EQ(Exchange(port, "still\n"), "echo still\r\n");
}

TEST(TNetTCPServerTest, ATakenPortFailsActivationAndALaterOneSucceeds) {
    TNetTCPServer first, second;
    first.OnExecute = second.OnExecute = EchoLine;
    int port = ActivateOnLoopback(first);
    second.Bindings().AddBinding().SetIP("127.0.0.1");
    second.Bindings().Items(0).SetPort(port);
    EXPECT_THROW(second.SetActive(true), ENetCouldNotBindSocket);
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.ThreadMgr(), nullptr);
    EXPECT_EQ(second.Listener(), nullptr);
    first.SetActive(false);
    second.Bindings().Clear();
    second.Bindings().AddBinding().SetIP("127.0.0.1");
    second.Bindings().Items(0).SetPort(port);
    second.SetActive(true);
    EXPECT_EQ(Exchange(port, "again\n"), "echo again\r\n");
}

TEST(TNetTCPServerTest, TenClientsAtOnceGetTenThreadsAndLeaveEmptyLists) {
    TNetTCPServer server;
    std::promise<void> opener; // handlers wait (at most 10 s) until it is set
    auto gate = opener.get_future().share();
    server.OnExecute = [&](TNetPeerThread& AThread) {
        gate.wait_for(10s);
        EchoLine(AThread);
    };
    auto clients = ConnectClients(ActivateOnLoopback(server), 10);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(clients[i]->Send("client " + std::to_string(i) + "\n"));
    EXPECT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 10; }));
    EXPECT_EQ(server.ThreadMgr()->LiveThreadCount(), 10u);
    opener.set_value();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(clients[i]->ReadUntilClose(), "echo client " + std::to_string(i) + "\r\n");
    EXPECT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 0; }));
    EXPECT_EQ(server.ThreadMgr()->LiveThreadCount(), 0u);
}

TEST(TNetTCPServerTest, EachPeerThreadEndsWithTheFailureItsClientCaused) {
    auto flood = [](TNetPeerThread& AThread) {
        TNetTCPConnection& connection = *AThread.ServedConnection();
        connection.ReadLine();
        for (int i = 0; i < 1000; ++i)
            connection.SendText(std::string(65536, 'x'));
    };
    struct TCase {
        const char* Name;
        std::function<void(TNetPeerThread&)> Execute;
        std::function<void(LoopbackClient&)> Act;
        std::string Failure;
    } cases[] = {
        {"connect and close",
         [](TNetPeerThread& AThread) { AThread.ServedConnection()->ReadLine(); },
         [](LoopbackClient& AClient) { AClient.Close(); }, "Connection Closed Gracefully."},
        {"reset during the answer", flood,
         [](LoopbackClient& AClient) {
             EXPECT_TRUE(AClient.Send("GET\n"));
             EXPECT_FALSE(AClient.ReadSome(1000, 5s).empty());
             AClient.Reset();
         },
         ""},
        {"no work", nullptr,
         [](LoopbackClient& AClient) {
             EXPECT_TRUE(AClient.Send("hello\n"));
             EXPECT_EQ(AClient.ReadUntilClose(), ""); // closed unanswered
         },
         "No execute handler found."},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TNetTCPServer server;
        std::mutex lock;
        std::shared_ptr<TNetThread> peer;
        std::atomic<int> disconnects{0};
        server.OnConnect = [&](TNetPeerThread& AThread) {
            std::lock_guard<std::mutex> guard(lock);
            peer = AThread.shared_from_this();
        };
        server.OnExecute = c.Execute;
        server.OnDisconnect = [&](TNetPeerThread&) { ++disconnects; };
        LoopbackClient client;
        ASSERT_TRUE(client.Connect(ActivateOnLoopback(server)));
        c.Act(client);
        ASSERT_TRUE(WaitUntil([&] {
            std::lock_guard<std::mutex> guard(lock);
            return peer && peer->Finished();
        }));
        EXPECT_EQ(peer->FailureText(), c.Failure);
        EXPECT_EQ(disconnects, 1);
    }
}

TEST(TNetTCPServerTest, PeersOutlivingAZeroWaitNeverTouchAFreedManagerOrServer) {
    auto server = std::make_unique<TNetTCPServer>();
    std::promise<void> opener; // handlers wait (at most 10 s) until it is set
    auto gate = opener.get_future().share();
    std::atomic<int> disconnects{0};
    server->OnExecute = [&](TNetPeerThread& AThread) {
        gate.wait_for(10s); // ignores the close meanwhile, as a slow handler would
        AThread.ServedConnection()->SendText("late");
    };
    server->OnDisconnect = [&](TNetPeerThread&) { ++disconnects; };
    server->SetTerminateWaitTime(0);
    auto clients = ConnectClients(ActivateOnLoopback(*server), 3);
    ASSERT_TRUE(WaitUntil([&] { return server->PeerThreadCount() == 3; }));
    EXPECT_LT(TimeOf([&] { server->SetActive(false); }), 1000ms);
    EXPECT_EQ(server->PeerThreadCount(), 3u); // left running, their manager already dropped
    std::thread later([&] {
        std::this_thread::sleep_for(100ms);
        opener.set_value();
    });
    server.reset(); // waits for the handlers still inside the server, then frees it
    later.join();
    EXPECT_LE(disconnects, 3);
    for (auto& client : clients)
        EXPECT_TRUE(client->WaitForClose(5s));
}

TEST(TNetTCPServerTest, AtTheConnectionLimitNewClientsWaitForAFreePlace) {
    TNetTCPServer server;
    std::promise<void> opener; // handlers wait (at most 10 s) until it is set
    auto gate = opener.get_future().share();
    server.SetMaxConnections(2);
    server.OnExecute = [&](TNetPeerThread& AThread) {
        gate.wait_for(10s);
        EchoLine(AThread);
    };
    auto clients = ConnectClients(ActivateOnLoopback(server), 4);
    for (size_t i = 0; i < clients.size(); ++i)
        clients[i]->Send(std::to_string(i) + "\n");
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 2; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.PeerThreadCount(), 2u);
    opener.set_value();
    for (size_t i = 0; i < clients.size(); ++i)
        EXPECT_EQ(clients[i]->ReadUntilClose(), "echo " + std::to_string(i) + "\r\n");
}

TEST(TNetTCPServerTest, FailedAcceptsAndThreadsAreReportedAndServingGoesOn) {
    TInjectedStack injected;
    TNetTCPServer server;
    std::mutex lock;
    std::vector<std::string> errors;
    server.OnListenerError = [&](TNetTCPServer& ASender, const std::string& AMessage) {
        EXPECT_EQ(&ASender, &server);
        std::lock_guard<std::mutex> guard(lock);
        errors.push_back(AMessage);
    };
    server.OnExecute = EchoLine;
    std::atomic<bool> failThread{false};
    server.SetPeerThreadClass([&]() -> std::shared_ptr<TNetPeerThread> {
        if (failThread.exchange(false))
            throw ENetException("no thread today");
        return std::make_shared<TNetPeerThread>();
    });
    int port = ActivateOnLoopback(server);
    injected.Stack().FailCalls(TFailingStack::TCall::Accept, 1, EMFILE, 5); // out of descriptors
    EXPECT_EQ(Exchange(port, "first\n", 10s), "echo first\r\n");
    // Five failures, the accept that served, and perhaps a look for the next connection.
    EXPECT_GE(injected.Stack().Calls(TFailingStack::TCall::Accept), 6);
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(errors.size(), 1u); // five failures within a second: one report
    }
    std::this_thread::sleep_for(1100ms);
    failThread = true;
    EXPECT_EQ(Exchange(port, "second\n", 5s), ""); // no thread: closed unanswered
    EXPECT_EQ(Exchange(port, "third\n", 5s), "echo third\r\n");
    EXPECT_TRUE(server.Active());
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(errors, (std::vector<std::string>{"Socket Error # 10024\r\nToo many open files.",
                                                "no thread today"}));
}

TEST(TNetTCPServerTest, ConnectionsFromOneAddressBeyondTheLimitAreClosedBeforeAThreadIsMade) {
    TNetTCPServer server;
    std::promise<void> opener; // handlers wait (at most 10 s) until it is set
    auto gate = opener.get_future().share();
    std::atomic<int> connects{0};
    server.SetMaxConnectionsPerIP(2);
    server.OnConnect = [&](TNetPeerThread&) { ++connects; };
    server.OnExecute = [&](TNetPeerThread& AThread) {
        gate.wait_for(10s);
        EchoLine(AThread);
    };
    TRefusalLog refusals(server);
    const int port = ActivateOnLoopback(server);
    auto held = ConnectClients(port, 2);
    for (size_t i = 0; i < held.size(); ++i)
        ASSERT_TRUE(held[i]->Send("held " + std::to_string(i) + "\n"));
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 2; }));
    LoopbackClient third;
    ASSERT_TRUE(third.Connect(port));
    EXPECT_TRUE(third.WaitForClose(5s));
    EXPECT_EQ(refusals.Wait(1),
              (std::vector<TNetRefusal>{{TNetRefusalReason::PerAddressLimit, "127.0.0.1", 2}}));
    LoopbackClient other; // another address has places of its own
    ASSERT_TRUE(other.Connect(port, "127.0.0.2"));
    ASSERT_TRUE(other.Send("other\n"));
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 3; }));
    opener.set_value();
    EXPECT_EQ(other.ReadUntilClose(), "echo other\r\n");
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(held[i]->ReadUntilClose(), "echo held " + std::to_string(i) + "\r\n");
    EXPECT_EQ(connects, 3); // none for the refused client
    // The places come back as the connections end.
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 0; }));
    auto again = ConnectClients(port, 2);
    for (auto& client : again)
        ASSERT_TRUE(client->Send("again\n"));
    for (auto& client : again)
        EXPECT_EQ(client->ReadUntilClose(), "echo again\r\n");
    EXPECT_EQ(server.RefusalCount(TNetRefusalReason::PerAddressLimit), 1u);
}

TEST(TNetTCPServerTest, AReadTimeoutIsReportedAsARefusal) {
    TNetTCPServer server;
    server.SetReadTimeout(100);
    server.OnExecute = EchoLine;
    TRefusalLog refusals(server);
    LoopbackClient idle;
    ASSERT_TRUE(idle.Connect(ActivateOnLoopback(server)));
    EXPECT_TRUE(idle.WaitForClose(5s));
    EXPECT_EQ(refusals.Wait(1),
              (std::vector<TNetRefusal>{{TNetRefusalReason::ReadTimeout, "127.0.0.1", 100}}));
}

namespace {

// Answers each client with the address its connection reads for the peer.
void EchoPeerAddress(TNetPeerThread& AThread) {
    TNetTCPConnection& connection = *AThread.ServedConnection();
    connection.SendLine(connection.Binding().RemoteIP());
    connection.CloseConnection();
}

int ActivateOn(TNetTCPServer& AServer, const std::string& AIP) {
    AServer.Bindings().Clear();
    AServer.Bindings().AddBinding().SetIP(AIP);
    AServer.SetActive(true);
    return AServer.Bindings().Items(0).Port();
}

} // namespace

// One socket serves both families; an IPv4 client reads as it always did, never ::ffff:...
TEST(TNetTCPServerTest, BothFamiliesOnOneSocketAndOneAddressAlone) {
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
    TNetTCPServer server;
    server.OnExecute = EchoPeerAddress;
    int port = ActivateOn(server, "");
    EXPECT_EQ(server.Bindings().Items(0).IP(), "::");
    EXPECT_EQ(Exchange(port, ""), "127.0.0.1\r\n");
    EXPECT_EQ(Exchange6(port, ""), "::1\r\n");
    server.SetActive(false);
    server.SetActive(true); // the same socket of both families again
    EXPECT_EQ(Exchange(port, ""), "127.0.0.1\r\n");
    EXPECT_EQ(Exchange6(port, ""), "::1\r\n");
    server.SetActive(false);

    const struct {
        const char* IP;
        bool IPv4, IPv6;
    } alone[] = {{"127.0.0.1", true, false}, {"::1", false, true}, {"::", true, true}};
    for (const auto& c : alone) {
        port = ActivateOn(server, c.IP);
        EXPECT_EQ(server.Bindings().Items(0).IP(), c.IP);
        LoopbackClient v4, v6;
        EXPECT_EQ(v4.Connect(port), c.IPv4) << c.IP;
        EXPECT_EQ(v6.Connect6(port), c.IPv6) << c.IP;
        server.SetActive(false);
    }
}

TEST(TNetTCPServerTest, WithoutIPv6TheServerListensOnEveryIPv4Address) {
    TInjectedStack injected;
    injected.Stack().SetWithoutIPv6(true);
    TNetTCPServer server;
    server.OnExecute = EchoPeerAddress;
    const int port = ActivateOn(server, "");
    EXPECT_EQ(server.Bindings().Items(0).IP(), "0.0.0.0");
    EXPECT_EQ(Exchange(port, ""), "127.0.0.1\r\n");
    server.SetActive(false);
    server.Bindings().Items(0).SetIP("::"); // asked for by name, IPv6 must be there
    EXPECT_THROW(server.SetActive(true), ENetSocketError);
    EXPECT_FALSE(server.Active());
}

TEST(TNetTCPServerTest, AnIPv6ClientCountsByItsSlash64) {
    const std::pair<const char*, const char*> keys[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::9", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::9", "2001:db8:1:3::/64"},
        {"::1", "::/64"},
        {"fe80::fc:ff:fe00:1", "fe80::/64"},
        {"not an address", "not an address"},
    };
    for (const auto& [address, key] : keys)
        EXPECT_EQ(TNetTCPServer::ClientKey(address), key) << address;
}

// A proxy's connections are not capped as they come; each counts under the client the protocol
// names for it, and a client beyond the limit is refused while other clients are served.
TEST(TNetTCPServerTest, AForwardersConnectionsCountUnderTheirClients) {
    TNetTCPServer server;
    std::promise<void> opener; // held clients wait (at most 10 s) until it is set
    auto gate = opener.get_future().share();
    server.SetMaxConnectionsPerIP(2);
    server.SetForwarderTest([](const std::string& APeerIP) { return APeerIP == "127.0.0.1"; });
    std::atomic<int> counted = 0;
    server.OnExecute = [&](TNetPeerThread& AThread) {
        TNetTCPConnection& connection = *AThread.ServedConnection();
        const std::string client = connection.ReadLine(); // the client the proxy names
        if (!server.CountAsClient(AThread, client))
            return connection.CloseConnection();
        ++counted;
        gate.wait_for(10s);
        connection.SendLine("served " + client);
        connection.CloseConnection();
    };
    TRefusalLog refusals(server);
    const int port = ActivateOnLoopback(server);
    auto clients = ConnectClients(port, 6); // more than the limit from the proxy's address
    // The last two are one too many: the same address, and the same IPv6 /64.
    const char* named[] = {"203.0.113.5", "203.0.113.5", "2001:db8::1",
                           "2001:db8::2", "203.0.113.5", "2001:db8::3"};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(clients[i]->Send(std::string(named[i]) + "\n"));
    // The first four are counted before the last two name theirs, so that it is the last two
    // that find their clients full.
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 6 && counted == 4; }));
    for (int i = 4; i < 6; ++i) {
        ASSERT_TRUE(clients[i]->Send(std::string(named[i]) + "\n"));
        EXPECT_TRUE(clients[i]->WaitForClose(5s));
    }
    EXPECT_EQ(refusals.Wait(2), (std::vector<TNetRefusal>{
                                    {TNetRefusalReason::ForwardedClientLimit, "203.0.113.5", 2},
                                    {TNetRefusalReason::ForwardedClientLimit, "2001:db8::3", 2}}));
    LoopbackClient direct; // a client of its own address is capped as it connects
    ASSERT_TRUE(direct.Connect(port, "127.0.0.2"));
    ASSERT_TRUE(direct.Send("127.0.0.2\n"));
    opener.set_value();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(clients[i]->ReadUntilClose(), "served " + std::string(named[i]) + "\r\n");
    EXPECT_EQ(direct.ReadUntilClose(), "served 127.0.0.2\r\n");
    EXPECT_EQ(server.RefusalCount(TNetRefusalReason::ForwardedClientLimit), 2u);
    EXPECT_EQ(server.RefusalCount(TNetRefusalReason::PerAddressLimit), 0u);
}
