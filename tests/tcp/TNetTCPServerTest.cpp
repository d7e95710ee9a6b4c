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
