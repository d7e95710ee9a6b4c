// TNetServerShare: what a server shares with its peer threads: the live peer list and the gate
// through which peer threads call the server (as INetPeerHost). Outlives the server while a peer
// thread holds it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/KeyedHash.h"
#include "tcp/INetPeerHost.h"
#include "tcp/TNetRefusal.h"
#include "tcp/TNetTCPServerConnection.h"

class TNetPeerThread;

class TNetServerShare {
public:
    explicit TNetServerShare(INetPeerHost& AServer) : FServer(&AServer) {}
    TNetServerShare(const TNetServerShare&) = delete;
    TNetServerShare& operator=(const TNetServerShare&) = delete;

    // The peer list (PeerThreads of the server). Any thread. A peer counts under its client's
    // key (TNetTCPServer::ClientKey) until it is removed; under none with an empty key. Its
    // connection, which it owns, is listed with it: a peer leaves the list before it frees it.
    void Add(std::shared_ptr<TNetPeerThread> AThread, TNetTCPServerConnection* AConnection,
             std::string AClientKey = {});
    void Remove(const TNetPeerThread* AThread);
    size_t Count() const;
    // The listed peers that count under AClientKey.
    int CountFrom(const std::string& AClientKey) const;
    // Moves a listed peer to count under AClientKey; false, leaving it where it was, when
    // ALimit is above 0 and that many peers count under AClientKey already.
    bool Recount(const TNetPeerThread* AThread, const std::string& AClientKey, int ALimit);
    std::vector<std::shared_ptr<TNetPeerThread>> Snapshot() const;
    // Closes the socket of every listed peer's connection, under the list's lock.
    void CloseAll();
    // Closes, oldest first, every listed connection accepted at or before ABefore whose request
    // has not arrived; the addresses of the clients closed. Under the list's lock.
    std::vector<std::string> CloseWaitingSince(std::chrono::steady_clock::time_point ABefore);
    // Waits until the list is empty or ATimeout passes; true when empty.
    bool WaitEmpty(std::chrono::milliseconds ATimeout) const;
    // Waits until fewer than AMax peers are listed, Wake is called or ATimeout passes.
    bool WaitBelow(size_t AMax, std::chrono::milliseconds ATimeout) const;
    // Wakes every waiter (the listener's wait for a free place).
    void Wake();

    // Runs ACall with the server unless it has been detached; false when it was not run.
    // Peer threads call the server only through here.
    bool CallServer(const std::function<void(INetPeerHost&)>& ACall);
    // Has the server count and report ARefusal, unless it has been detached. Peer thread.
    void ReportRefusal(const TNetRefusal& ARefusal);
    // No more calls after this; waits for the calls in progress to return. Server's thread.
    void DetachServer();

private:
    struct TPeer {
        std::shared_ptr<TNetPeerThread> Thread;
        TNetTCPServerConnection* Connection; // the thread's, alive while listed
        std::string ClientKey;
    };

    // One peer fewer under AClientKey (none for an empty key). Under FLock.
    void Uncount(const std::string& AClientKey);

    mutable std::mutex FLock; // guards the three fields below; FChanged waits on it
    mutable std::condition_variable FChanged;
    std::vector<TPeer> FPeers;
    // Listed peers by client key. The keys are the clients' addresses: keyed at random, so that
    // nobody can choose addresses that all land in one bucket.
    std::unordered_map<std::string, int, TKeyedHash, std::equal_to<>> FPerClient;
    unsigned FWakeCount = 0;
    INetPeerHost* const FServer;
    std::atomic<bool> FDetached{false}; // no CallServer runs the call any more
    std::atomic<int> FCallsInProgress{0};
};
