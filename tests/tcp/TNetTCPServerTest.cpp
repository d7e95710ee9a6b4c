#include "tcp/TNetTCPServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "NetTestHelpers.h"
#include "support/LoopbackClient.h"
#include "tcp/NetExceptions.h"
#include "tcp/TNetThreadMgrDefault.h"

namespace {

// A server on 127.0.0.1 with an OS-chosen port.
void ActivateOnLoopback(TNetTCPServer& AServer) {
    AServer.Bindings().Clear();
    AServer.Bindings().AddBinding().SetIP("127.0.0.1");
    AServer.SetActive(true);
}

int PortOf(const TNetTCPServer& AServer) {
    return AServer.Bindings().Items(0).Port();
}

// Echoes one line back with a prefix and closes.
void EchoLine(TNetPeerThread& AThread) {
    TNetTCPConnection& connection = *AThread.ServedConnection();
    std::string line = connection.ReadLine();
    connection.SendLine("echo " + line);
    connection.CloseConnection();
}

} // namespace

TEST(TNetTCPServerTest, ActivationBindsReadsBackAndKeepsThePortAfterwards) {
    TNetTCPServer server;
    server.OnExecute = EchoLine;
    server.SetDefaultPort(0);
    server.SetActive(true); // no bindings: one is added, on every local address
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_EQ(server.Bindings().Items(0).IP(), "0.0.0.0");
    int port = PortOf(server);
    EXPECT_GT(port, 0);
    server.SetActive(true); // twice: nothing happens
    EXPECT_EQ(Exchange(port, "hello\r\n"), "echo hello\r\n");
    server.SetActive(false);
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(PortOf(server), port);
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
        ASSERT_EQ(PortOf(server), port) << "cycle " << i;
    }
    server.SetActive(true);
    EXPECT_EQ(Exchange(port, "still\n"), "echo still\r\n");
}

TEST(TNetTCPServerTest, ATakenPortFailsActivationAndALaterOneSucceeds) {
    TNetTCPServer first, second;
    first.OnExecute = second.OnExecute = EchoLine;
    ActivateOnLoopback(first);
    second.Bindings().AddBinding().SetIP("127.0.0.1");
    second.Bindings().Items(0).SetPort(PortOf(first));
    EXPECT_THROW(second.SetActive(true), ENetCouldNotBindSocket);
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.ThreadMgr(), nullptr);
    EXPECT_EQ(second.Listener(), nullptr);
    int port = PortOf(first);
    first.SetActive(false);
    second.Bindings().Clear();
    second.Bindings().AddBinding().SetIP("127.0.0.1");
    second.Bindings().Items(0).SetPort(port);
    second.SetActive(true);
    EXPECT_EQ(Exchange(port, "again\n"), "echo again\r\n");
}

TEST(TNetTCPServerTest, TenClientsAtOnceGetTenThreadsAndLeaveEmptyLists) {
    TNetTCPServer server;
    std::mutex lock;
    std::condition_variable released;
    bool open = false;
    server.OnExecute = [&](TNetPeerThread& AThread) {
        std::unique_lock<std::mutex> guard(lock);
        released.wait_for(guard, 10s, [&] { return open; });
        guard.unlock();
        EchoLine(AThread);
    };
    ActivateOnLoopback(server);
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(clients.back()->Connect(PortOf(server)));
        ASSERT_TRUE(clients.back()->Send("client " + std::to_string(i) + "\n"));
    }
    EXPECT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 10; }));
    EXPECT_EQ(server.ThreadMgr()->LiveThreadCount(), 10u);
    {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
    }
    released.notify_all();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(clients[i]->ReadUntilClose(), "echo client " + std::to_string(i) + "\r\n");
    EXPECT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 0; }));
    EXPECT_EQ(server.ThreadMgr()->LiveThreadCount(), 0u);
}

TEST(TNetTCPServerTest, AClientThatClosesAtOnceEndsItsThreadGracefully) {
    TNetTCPServer server;
    std::atomic<int> connects{0}, disconnects{0};
    server.OnConnect = [&](TNetPeerThread&) { ++connects; };
    server.OnExecute = [](TNetPeerThread& AThread) { AThread.ServedConnection()->ReadLine(); };
    server.OnDisconnect = [&](TNetPeerThread&) { ++disconnects; };
    std::shared_ptr<TNetPeerThread> seen;
    ActivateOnLoopback(server);
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(PortOf(server)));
    ASSERT_TRUE(WaitUntil([&] {
        auto peers = server.PeerThreads();
        if (!peers.empty())
            seen = peers.front();
        return seen != nullptr;
    }));
    client.Close();
    ASSERT_TRUE(WaitUntil([&] { return seen->Finished(); }));
    EXPECT_EQ(seen->FailureText(), "Connection Closed Gracefully.");
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(disconnects, 1);
}

namespace {

// A gate that handlers wait at until the test opens it (bounded: 10 s).
class TGate {
public:
    void Wait() {
        std::unique_lock<std::mutex> guard(FLock);
        FOpened.wait_for(guard, 10s, [this] { return FOpen; });
    }
    void Open() {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FOpen = true;
        }
        FOpened.notify_all();
    }

private:
    std::mutex FLock; // guards FOpen
    std::condition_variable FOpened;
    bool FOpen = false;
};

std::vector<std::unique_ptr<LoopbackClient>> ConnectClients(int APort, int ACount) {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < ACount; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>());
        EXPECT_TRUE(clients.back()->Connect(APort));
    }
    return clients;
}

template <typename F> std::chrono::milliseconds TimeOf(F AStep) {
    auto started = std::chrono::steady_clock::now();
    AStep();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started);
}

} // namespace

TEST(TNetTCPServerTest, StopWithIdleClientsClosesThemAndReturnsWellBeforeTheWaitTime) {
    TNetTCPServer server;
    server.SetSelectWait(60000); // the stop must wake the listener, not wait out its cycle
    server.OnExecute = EchoLine;
    ActivateOnLoopback(server);
    auto clients = ConnectClients(PortOf(server), 5);
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 5; }));
    auto took = TimeOf([&] { server.SetActive(false); });
    EXPECT_LT(took, std::chrono::milliseconds(server.TerminateWaitTime() / 2));
    EXPECT_EQ(server.PeerThreadCount(), 0u);
    for (auto& client : clients)
        EXPECT_TRUE(client->WaitForClose(5s));
}

TEST(TNetTCPServerTest, PeersOutlivingAZeroWaitNeverTouchAFreedManagerOrServer) {
    auto server = std::make_unique<TNetTCPServer>();
    TGate gate;
    std::atomic<int> disconnects{0};
    server->OnExecute = [&](TNetPeerThread& AThread) {
        gate.Wait(); // ignores the close meanwhile, as a slow handler would
        AThread.ServedConnection()->SendText("late");
    };
    server->OnDisconnect = [&](TNetPeerThread&) { ++disconnects; };
    server->SetTerminateWaitTime(0);
    ActivateOnLoopback(*server);
    auto clients = ConnectClients(PortOf(*server), 3);
    ASSERT_TRUE(WaitUntil([&] { return server->PeerThreadCount() == 3; }));
    auto took = TimeOf([&] { server->SetActive(false); });
    EXPECT_LT(took, 1000ms);
    EXPECT_EQ(server->PeerThreadCount(), 3u); // left running, their manager already dropped
    std::thread opener([&] {
        std::this_thread::sleep_for(100ms);
        gate.Open();
    });
    server.reset(); // waits for the handlers still inside the server, then frees it
    opener.join();
    EXPECT_LE(disconnects, 3);
    for (auto& client : clients)
        EXPECT_TRUE(client->WaitForClose(5s));
}

TEST(TNetTCPServerTest, AResetDuringTheAnswerEndsTheThreadWithoutFailure) {
    TNetTCPServer server;
    std::mutex lock;
    std::shared_ptr<TNetThread> peer;
    server.OnConnect = [&](TNetPeerThread& AThread) {
        std::lock_guard<std::mutex> guard(lock);
        peer = AThread.shared_from_this();
    };
    server.OnExecute = [](TNetPeerThread& AThread) {
        TNetTCPConnection& connection = *AThread.ServedConnection();
        connection.ReadLine();
        std::string block(65536, 'x');
        for (int i = 0; i < 1000; ++i)
            connection.SendText(block);
    };
    ActivateOnLoopback(server);
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(PortOf(server)));
    ASSERT_TRUE(client.Send("GET\n"));
    EXPECT_FALSE(client.ReadSome(1000, 5s).empty());
    client.Reset();
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> guard(lock);
        return peer && peer->Finished();
    }));
    EXPECT_EQ(peer->FailureText(), "");
}

TEST(TNetTCPServerTest, WithoutWorkEachThreadFailsAndClosesItsConnection) {
    TNetTCPServer server;
    std::mutex lock;
    std::shared_ptr<TNetThread> peer;
    server.OnConnect = [&](TNetPeerThread& AThread) {
        std::lock_guard<std::mutex> guard(lock);
        peer = AThread.shared_from_this();
    };
    ActivateOnLoopback(server);
    EXPECT_EQ(Exchange(PortOf(server), "hello\n"), "");
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> guard(lock);
        return peer && peer->Finished();
    }));
    EXPECT_EQ(peer->FailureText(), "No execute handler found.");
}

TEST(TNetTCPServerTest, AtTheConnectionLimitNewClientsWaitForAFreePlace) {
    TNetTCPServer server;
    TGate gate;
    server.SetMaxConnections(2);
    server.OnExecute = [&](TNetPeerThread& AThread) {
        gate.Wait();
        EchoLine(AThread);
    };
    ActivateOnLoopback(server);
    auto clients = ConnectClients(PortOf(server), 4);
    for (size_t i = 0; i < clients.size(); ++i)
        clients[i]->Send(std::to_string(i) + "\n");
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 2; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.PeerThreadCount(), 2u);
    gate.Open();
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
    auto errorCount = [&] {
        std::lock_guard<std::mutex> guard(lock);
        return errors.size();
    };
    ActivateOnLoopback(server);
    injected.Stack().AcceptErrno = EMFILE;
    injected.Stack().AcceptFailures = 5; // descriptors run out for a while
    EXPECT_EQ(Exchange(PortOf(server), "first\n", 10s), "echo first\r\n");
    EXPECT_EQ(injected.Stack().AcceptFailures, 0);
    EXPECT_EQ(errorCount(), 1u); // five failures within a second: one report
    std::this_thread::sleep_for(1100ms);
    failThread = true;
    EXPECT_EQ(Exchange(PortOf(server), "second\n", 5s), ""); // no thread: closed unanswered
    EXPECT_EQ(Exchange(PortOf(server), "third\n", 5s), "echo third\r\n");
    EXPECT_TRUE(server.Active());
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(errors, (std::vector<std::string>{"Socket Error # 10024\r\nToo many open files.",
                                                "no thread today"}));
}
