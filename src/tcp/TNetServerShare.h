// TNetServerShare: what a server shares with its peer threads: the live peer list and the gate
// through which peer threads call the server. Outlives the server while a peer thread holds it.
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

class TNetPeerThread;
class TNetTCPServer;

class TNetServerShare {
public:
    explicit TNetServerShare(TNetTCPServer& AServer) : FServer(&AServer) {}
    TNetServerShare(const TNetServerShare&) = delete;
    TNetServerShare& operator=(const TNetServerShare&) = delete;

    // The peer list (PeerThreads of the server). Any thread. A peer counts under its client's
    // key (TNetTCPServer::ClientKey) until it is removed; under none with an empty key.
    void Add(std::shared_ptr<TNetPeerThread> AThread, std::string AClientKey = {});
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
    bool CallServer(const std::function<void(TNetTCPServer&)>& ACall);
    // No more calls after this; waits for the calls in progress to return. Server's thread.
    void DetachServer();

private:
    struct TPeer {
        std::shared_ptr<TNetPeerThread> Thread;
        std::string ClientKey;
    };

    // One peer fewer under AClientKey (none for an empty key). Under FLock.
    void Uncount(const std::string& AClientKey);

    mutable std::mutex FLock; // guards the three fields below; FChanged waits on it
    mutable std::condition_variable FChanged;
    std::vector<TPeer> FPeers;
    std::unordered_map<std::string, int> FPerClient; // listed peers by client key
    unsigned FWakeCount = 0;
    TNetTCPServer* const FServer;
    std::atomic<bool> FDetached{false}; // no CallServer runs the call any more
    std::atomic<int> FCallsInProgress{0};
};
