#include "tcp/TNetThreadMgrReuse.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "NetTestHelpers.h"
#include "support/TempDir.h"

namespace {

// A server on loopback whose peer threads run under a manager that keeps AMaxWaiting threads.
struct TReuseServer {
    TReuseServer(int AMaxWaiting, std::chrono::milliseconds AIdleTime,
                 int ARunningLimit = TNetThreadMgrReuse::DefaultRunningLimit(),
                 std::chrono::milliseconds AHoldTime = TNetThreadMgrReuse::DefaultHoldTime) {
        Manager = std::make_shared<TNetThreadMgrReuse>(&Server, AMaxWaiting, AIdleTime,
                                                       ARunningLimit, AHoldTime);
        Server.SetThreadMgr(Manager);
        Server.SetMaxConnectionsPerIP(0);
    }
    TNetTCPServer Server;
    std::shared_ptr<TNetThreadMgrReuse> Manager;
};

// Holds ACount clients inside their handlers at once, then lets them all finish.
void ServeAtOnce(TReuseServer& AReuse, int ACount) {
    std::promise<void> opener;
    std::shared_future<void> gate = opener.get_future().share();
    AReuse.Server.OnExecute = [gate](TNetPeerThread& AThread) {
        gate.wait_for(10s);
        EchoLine(AThread);
    };
    const int port = ActivateOnLoopback(AReuse.Server);
    auto clients = ConnectClients(port, ACount);
    ASSERT_TRUE(WaitUntil([&] { return AReuse.Server.PeerThreadCount() == size_t(ACount); }));
    opener.set_value();
    for (auto& client : clients) {
        client->Send("x\n");
        EXPECT_TRUE(client->WaitForClose(5s));
    }
    ASSERT_TRUE(WaitUntil([&] { return AReuse.Server.PeerThreadCount() == 0; }));
}

} // namespace

// Connections one after another run on the one kept platform thread, each with a peer thread
// object of its own and its events in their order.
TEST(TNetThreadMgrReuseTest, AKeptThreadServesTheNextConnectionWithItsOwnPeerThread) {
    TReuseServer reuse(2, 60s);
    std::mutex lock; // guards the three below
    std::vector<std::string> events;
    std::set<pthread_t> platformThreads;
    std::weak_ptr<TNetThread> previous;
    bool previousFreed = true;
    auto note = [&](const char* AEvent, TNetPeerThread& AThread) {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(AEvent);
        platformThreads.insert(pthread_self());
        if (std::string(AEvent) == "connect") {
            previousFreed = previousFreed && previous.expired();
            previous = AThread.shared_from_this();
        }
    };
    reuse.Server.OnConnect = [&](TNetPeerThread& AThread) { note("connect", AThread); };
    reuse.Server.OnExecute = [&](TNetPeerThread& AThread) {
        note("execute", AThread);
        EchoLine(AThread);
    };
    reuse.Server.OnDisconnect = [&](TNetPeerThread& AThread) { note("disconnect", AThread); };
    const int port = ActivateOnLoopback(reuse.Server);
    constexpr int Connections = 20;
    for (int i = 0; i < Connections; ++i) {
        EXPECT_EQ(Exchange(port, "hit\n"), "echo hit\r\n");
        ASSERT_TRUE(WaitUntil([&] { return reuse.Manager->WaitingThreadCount() == 1; }));
    }
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> expected;
    for (int i = 0; i < Connections; ++i)
        expected.insert(expected.end(), {"connect", "execute", "disconnect"});
    EXPECT_EQ(events, expected);
    EXPECT_EQ(platformThreads.size(), 1u);
    EXPECT_TRUE(previousFreed);
    EXPECT_EQ(reuse.Manager->LiveThreadCount(), 0u);
    EXPECT_EQ(reuse.Server.PeerThreadCount(), 0u);
}

// No more than the set number wait, each for the idle time at most; a stop ends those waiting
// at once, and the next start keeps threads again.
TEST(TNetThreadMgrReuseTest, AtMostTheSetNumberWaitAndAStopEndsThemAll) {
    std::thread([] {}).join(); // a sanitizer's own helper thread starts with the first thread
    const int threadsBefore = ThreadCount();
    struct TCase {
        int MaxWaiting;
        std::chrono::milliseconds IdleTime;
        bool Stop; // else the idle time ends them
    };
    for (const TCase& c : {TCase{3, 60s, true}, TCase{2, 2s, false}, TCase{0, 60s, true}}) {
        SCOPED_TRACE(c.MaxWaiting);
        TReuseServer reuse(c.MaxWaiting, c.IdleTime);
        ServeAtOnce(reuse, 5);
        ASSERT_TRUE(WaitUntil([&] {
            return reuse.Manager->PlatformThreadCount() == size_t(c.MaxWaiting) &&
                   reuse.Manager->WaitingThreadCount() == size_t(c.MaxWaiting);
        }));
        if (c.Stop) {
            EXPECT_LT(TimeOf([&] { reuse.Server.SetActive(false); }), 1000ms);
            EXPECT_EQ(reuse.Manager->WaitingThreadCount(), 0u);
        } else {
            EXPECT_TRUE(WaitUntil([&] { return reuse.Manager->PlatformThreadCount() == 0; }));
            reuse.Server.SetActive(false);
        }
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore; }))
            << ThreadCount() << " threads, " << threadsBefore << " before";
        // Started again, the same manager keeps threads again.
        ServeAtOnce(reuse, 2);
        EXPECT_TRUE(WaitUntil([&] {
            return reuse.Manager->WaitingThreadCount() == size_t(std::min(c.MaxWaiting, 2));
        }));
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore; }));
}

namespace {

// Echoes one line; the line "wait" first waits until Release. Notes each line's platform thread.
struct TStuckHandler {
    void Install(TNetTCPServer& AServer) {
        AServer.OnExecute = [this](TNetPeerThread& AThread) {
            TNetTCPConnection& connection = *AThread.ServedConnection();
            const std::string line = connection.ReadLine();
            {
                std::lock_guard<std::mutex> guard(Lock);
                ThreadOf[line] = pthread_self();
            }
            if (line == "wait") {
                Stuck = true;
                Gate.wait_for(10s);
            }
            connection.SendLine("echo " + line);
            connection.CloseConnection();
        };
    }
    void Release() { Opener.set_value(); }
    // A client whose handler gets stuck until Release, then the next client.
    void ConnectStuckThenNext(int APort, LoopbackClient& AStuck, LoopbackClient& ANext) {
        ASSERT_TRUE(AStuck.Connect(APort) && AStuck.Send("wait\n"));
        ASSERT_TRUE(WaitUntil([&] { return Stuck.load(); }));
        ASSERT_TRUE(ANext.Connect(APort) && ANext.Send("next\n"));
    }
    // Releases the stuck one; both are answered, the next on the stuck one's platform thread.
    void ExpectNextServedAfterIt(LoopbackClient& AStuck, LoopbackClient& ANext) {
        Release();
        EXPECT_EQ(ANext.ReadUntilClose(5s), "echo next\r\n");
        EXPECT_EQ(Thread("next"), Thread("wait"));
        EXPECT_EQ(AStuck.ReadUntilClose(5s), "echo wait\r\n");
    }
    pthread_t Thread(const std::string& ALine) {
        std::lock_guard<std::mutex> guard(Lock);
        return ThreadOf.at(ALine);
    }

    std::promise<void> Opener;
    std::shared_future<void> Gate = Opener.get_future().share();
    std::atomic<bool> Stuck{false};
    std::mutex Lock; // guards ThreadOf
    std::map<std::string, pthread_t> ThreadOf;
};

// Serves one client to its end: its platform thread has finished and waits for the next.
void FinishOne(TReuseServer& AReuse, int APort) {
    ASSERT_EQ(Exchange(APort, "first\n"), "echo first\r\n");
    // The client sees the close before the thread is done with the connection.
    ASSERT_TRUE(WaitUntil([&] { return AReuse.Manager->WaitingThreadCount() == 1; }));
}

} // namespace

// With every allowed thread busy and getting through its clients, a new connection is held
// for one of them: the first to finish serves it next on its own platform thread. When they
// stay stuck, the held one gets a thread of its own after the hold time, and when none has
// finished lately, a new connection is not held at all. A stop ends the held ones too.
TEST(TNetThreadMgrReuseTest, AConnectionBeyondTheRunningLimitIsHeldBrieflyForABusyThread) {
    std::thread([] {}).join(); // a sanitizer's own helper thread starts with the first thread
    const int threadsBefore = ThreadCount();
    struct TCase {
        bool FinishedLately;
        std::chrono::milliseconds HoldTime;
        bool ServedByTheBusyThread; // else at once by another
    };
    for (const TCase& c :
         {TCase{true, 60s, true}, TCase{true, 100ms, false}, TCase{false, 60s, false}}) {
        SCOPED_TRACE(c.HoldTime.count());
        TStuckHandler handler; // outlives the server's threads
        TReuseServer reuse(4, 60s, 1, c.HoldTime);
        handler.Install(reuse.Server);
        const int port = ActivateOnLoopback(reuse.Server);
        if (c.FinishedLately) {
            ASSERT_NO_FATAL_FAILURE(FinishOne(reuse, port));
        }
        LoopbackClient stuck, next;
        ASSERT_NO_FATAL_FAILURE(handler.ConnectStuckThenNext(port, stuck, next));
        if (c.ServedByTheBusyThread) {
            ASSERT_TRUE(WaitUntil([&] { return reuse.Manager->HeldConnectionCount() == 1; }));
            EXPECT_EQ(reuse.Manager->PlatformThreadCount(), 1u);
            handler.ExpectNextServedAfterIt(stuck, next);
            EXPECT_EQ(reuse.Manager->PlatformThreadCount(), 1u);
        } else {
            EXPECT_EQ(next.ReadUntilClose(5s), "echo next\r\n");
            EXPECT_NE(handler.Thread("next"), handler.Thread("wait"));
            handler.Release();
            EXPECT_EQ(stuck.ReadUntilClose(5s), "echo wait\r\n");
        }
        EXPECT_EQ(reuse.Manager->HeldConnectionCount(), 0u);
    }

    // A held connection whose own platform thread cannot be made stays held, and the busy
    // thread takes it when it finishes.
    {
        TStuckHandler handler;
        TReuseServer reuse(4, 60s, 1, 1s);
        handler.Install(reuse.Server);
        std::atomic<int> made{0};
        reuse.Server.SetPeerThreadClass([&made] {
            auto thread = std::make_shared<TNetPeerThread>();
            if (++made == 3)                           // the connection after "first" and "wait"
                thread->SetStackSize(size_t(1) << 46); // more than any address space gives
            return thread;
        });
        const int port = ActivateOnLoopback(reuse.Server);
        ASSERT_NO_FATAL_FAILURE(FinishOne(reuse, port));
        LoopbackClient stuck, next;
        ASSERT_NO_FATAL_FAILURE(handler.ConnectStuckThenNext(port, stuck, next));
        EXPECT_EQ(next.ReadSome(100, 1500ms), ""); // its hold time passed: tried and failed
        EXPECT_EQ(reuse.Manager->HeldConnectionCount(), 1u);
        handler.ExpectNextServedAfterIt(stuck, next);
    }

    // Stopped while one waits for its line and the next is held behind it.
    TStuckHandler handler;
    TReuseServer reuse(4, 60s, 1, 60s);
    handler.Install(reuse.Server);
    const int port = ActivateOnLoopback(reuse.Server);
    ASSERT_NO_FATAL_FAILURE(FinishOne(reuse, port));
    auto clients = ConnectClients(port, 2);
    ASSERT_TRUE(WaitUntil([&] { return reuse.Manager->HeldConnectionCount() == 1; }));
    EXPECT_LT(TimeOf([&] { reuse.Server.SetActive(false); }), 2000ms);
    EXPECT_EQ(reuse.Server.PeerThreadCount(), 0u);
    EXPECT_EQ(reuse.Manager->HeldConnectionCount(), 0u);
    for (auto& client : clients)
        EXPECT_TRUE(client->WaitForClose(5s));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore; }));
}
