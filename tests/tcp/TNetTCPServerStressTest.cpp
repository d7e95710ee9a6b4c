// Many connections with stops and starts in between; prints the figures it measures.
#include "tcp/TNetTCPServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <thread>
#include <vector>

#include "NetTestHelpers.h"
#include "support/TempDir.h"

namespace {

constexpr int ClientThreads = 50;
constexpr int ExchangesPerThread = 10;
constexpr int Rounds = 4;

struct TRoundResult {
    std::atomic<int> Answered{0}, Unanswered{0}, Wrong{0};
};

// ClientThreads threads, each ExchangesPerThread exchanges with the port.
void RunClients(int APort, TRoundResult& AResult) {
    std::vector<std::thread> clients;
    for (int t = 0; t < ClientThreads; ++t)
        clients.emplace_back([APort, t, &AResult] {
            for (int i = 0; i < ExchangesPerThread; ++i) {
                std::string line = std::to_string(t) + "-" + std::to_string(i);
                // A connection that meets a stop goes unanswered; the client tries again.
                auto deadline = std::chrono::steady_clock::now() + 30s;
                while (std::chrono::steady_clock::now() < deadline) {
                    std::string answer = Exchange(APort, line + "\r\n", 10s);
                    if (answer == "echo " + line + "\r\n") {
                        ++AResult.Answered;
                        break;
                    }
                    ++(answer.empty() ? AResult.Unanswered : AResult.Wrong);
                    std::this_thread::sleep_for(5ms);
                }
            }
        });
    for (auto& client : clients)
        client.join();
}

} // namespace

TEST(TNetTCPServerStressTest, ThousandsOfConnectionsWithStopsLeaveNoThreadsOrDescriptors) {
    std::thread([] {}).join(); // a sanitizer's own helper thread starts with the first thread
    const int descriptorsBefore = OpenDescriptorCount();
    const int threadsBefore = ThreadCount();
    int answered = 0, retried = 0;
    std::chrono::milliseconds longestStop{0};
    {
        TNetTCPServer server;
        server.OnExecute = EchoLine;
        server.SetMaxConnectionsPerIP(0); // every client comes from 127.0.0.1
        for (int round = 0; round < Rounds; ++round) {
            int port = ActivateOnLoopback(server);
            TRoundResult result;
            // Every other round the server stops and starts again (same port) under load.
            bool restarts = round % 2 == 1;
            std::thread stopper([&] {
                for (int stop = 1; restarts && stop <= 3; ++stop) {
                    WaitUntil([&] { return result.Answered >= 100 * stop; });
                    longestStop = std::max(longestStop, TimeOf([&] { server.SetActive(false); }));
                    std::this_thread::sleep_for(10ms);
                    server.SetActive(true);
                }
            });
            RunClients(port, result);
            stopper.join();
            server.SetActive(false);
            EXPECT_EQ(result.Wrong, 0);
            EXPECT_EQ(result.Answered, ClientThreads * ExchangesPerThread);
            answered += result.Answered;
            retried += result.Unanswered;
            EXPECT_EQ(server.PeerThreadCount(), 0u);
        }
    }
    // Detached peer threads may still be on their way out.
    bool descriptorsBack = WaitUntil([&] { return OpenDescriptorCount() <= descriptorsBefore; });
    bool threadsBack = WaitUntil([&] { return ThreadCount() <= threadsBefore; });
    std::cout << "[ figures  ] " << Rounds * ClientThreads * ExchangesPerThread << " exchanges, "
              << answered << " answered (" << retried
              << " retried after a stop, longest stop under load " << longestStop.count()
              << " ms); descriptors before " << descriptorsBefore << ", after "
              << OpenDescriptorCount() << "; threads before " << threadsBefore << ", after "
              << ThreadCount() << std::endl;
    EXPECT_TRUE(descriptorsBack);
    EXPECT_TRUE(threadsBack);
}

// The stop must close idle clients and wake the listener, not wait out its cycle.
TEST(TNetTCPServerStressTest, StopWithAHundredIdleClientsReturnsWellBeforeTheWaitTime) {
    TNetTCPServer server;
    server.SetSelectWait(60000);
    server.SetMaxConnectionsPerIP(0);
    server.OnExecute = EchoLine;
    auto clients = ConnectClients(ActivateOnLoopback(server), 100);
    ASSERT_TRUE(WaitUntil([&] { return server.PeerThreadCount() == 100; }));
    auto took = TimeOf([&] { server.SetActive(false); });
    std::cout << "[ figures  ] deactivation with 100 idle clients: " << took.count() << " ms\n";
    EXPECT_LT(took.count(), server.TerminateWaitTime() / 2);
    EXPECT_EQ(server.PeerThreadCount(), 0u);
    for (auto& client : clients)
        EXPECT_TRUE(client->WaitForClose(5s));
}
