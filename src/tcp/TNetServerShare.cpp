#include "tcp/TNetServerShare.h"

#include <algorithm>

void TNetServerShare::Add(std::shared_ptr<TNetPeerThread> AThread,
                          TNetTCPServerConnection* AConnection, std::string AClientKey) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!AClientKey.empty())
        ++FPerClient[AClientKey];
    FPeers.push_back(TPeer{std::move(AThread), AConnection, std::move(AClientKey)});
}

void TNetServerShare::Uncount(const std::string& AClientKey) {
    auto client = FPerClient.find(AClientKey);
    if (client != FPerClient.end() && --client->second <= 0)
        FPerClient.erase(client);
}

bool TNetServerShare::Recount(const TNetPeerThread* AThread, const std::string& AClientKey,
                              int ALimit) {
    std::lock_guard<std::mutex> lock(FLock);
    auto found = std::find_if(FPeers.begin(), FPeers.end(), [AThread](const TPeer& APeer) {
        return APeer.Thread.get() == AThread;
    });
    if (found == FPeers.end() || found->ClientKey == AClientKey)
        return true;
    auto client = FPerClient.find(AClientKey);
    if (ALimit > 0 && client != FPerClient.end() && client->second >= ALimit)
        return false;
    Uncount(found->ClientKey);
    found->ClientKey = AClientKey;
    if (!AClientKey.empty())
        ++FPerClient[AClientKey];
    return true;
}

void TNetServerShare::Remove(const TNetPeerThread* AThread) {
    std::shared_ptr<TNetPeerThread> removed; // released after unlocking
    {
        std::lock_guard<std::mutex> lock(FLock);
        auto found = std::find_if(FPeers.begin(), FPeers.end(), [AThread](const TPeer& APeer) {
            return APeer.Thread.get() == AThread;
        });
        if (found == FPeers.end())
            return;
        Uncount(found->ClientKey);
        removed = std::move(found->Thread);
        FPeers.erase(found);
    }
    FChanged.notify_all();
}

int TNetServerShare::CountFrom(const std::string& AClientKey) const {
    std::lock_guard<std::mutex> lock(FLock);
    auto found = FPerClient.find(AClientKey);
    return found == FPerClient.end() ? 0 : found->second;
}

size_t TNetServerShare::Count() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPeers.size();
}

std::vector<std::shared_ptr<TNetPeerThread>> TNetServerShare::Snapshot() const {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<std::shared_ptr<TNetPeerThread>> threads;
    threads.reserve(FPeers.size());
    for (const TPeer& peer : FPeers)
        threads.push_back(peer.Thread);
    return threads;
}

void TNetServerShare::CloseAll() {
    // Under the lock: a listed peer has not yet freed its connection (it leaves the list first).
    std::lock_guard<std::mutex> lock(FLock);
    for (const TPeer& peer : FPeers)
        if (peer.Connection != nullptr)
            peer.Connection->CloseSocketOnly();
}

std::vector<std::string>
TNetServerShare::CloseWaitingSince(std::chrono::steady_clock::time_point ABefore) {
    std::lock_guard<std::mutex> lock(FLock); // as in CloseAll: the connections stay alive
    std::vector<TNetTCPServerConnection*> waiting;
    for (const TPeer& peer : FPeers) {
        TNetTCPServerConnection* connection = peer.Connection;
        if (connection && !connection->RequestArrived() && connection->AcceptedAt() <= ABefore)
            waiting.push_back(connection);
    }
    std::sort(waiting.begin(), waiting.end(),
              [](const auto* A, const auto* B) { return A->AcceptedAt() < B->AcceptedAt(); });
    std::vector<std::string> closed;
    for (TNetTCPServerConnection* connection : waiting) {
        std::string address = connection->Binding().RemoteIP();
        if (connection->CloseIfWaiting())
            closed.push_back(std::move(address));
    }
    return closed;
}

bool TNetServerShare::WaitEmpty(std::chrono::milliseconds ATimeout) const {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [this] { return FPeers.empty(); });
}

bool TNetServerShare::WaitBelow(size_t AMax, std::chrono::milliseconds ATimeout) const {
    std::unique_lock<std::mutex> lock(FLock);
    unsigned wakeCount = FWakeCount;
    return FChanged.wait_for(lock, ATimeout, [&] {
        return FPeers.size() < AMax || FWakeCount != wakeCount;
    }) && FPeers.size() < AMax;
}

void TNetServerShare::Wake() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        ++FWakeCount;
    }
    FChanged.notify_all();
}

bool TNetServerShare::CallServer(const std::function<void(INetPeerHost&)>& ACall) {
    // Every peer thread passes here several times per connection, so the gate takes no lock:
    // a call counts itself in before it looks at the detach flag, DetachServer sets the flag
    // before it looks at the count (both sequentially consistent), so either the call sees the
    // flag or the detach sees the call and waits for it.
    struct TLeave {
        TNetServerShare& Share;
        ~TLeave() {
            if (Share.FCallsInProgress.fetch_sub(1) == 1 && Share.FDetached.load()) {
                std::lock_guard<std::mutex> lock(Share.FLock); // no wake lost to the waiter
                Share.FChanged.notify_all();
            }
        }
    };
    FCallsInProgress.fetch_add(1);
    TLeave leave{*this};
    if (FDetached.load())
        return false;
    ACall(*FServer);
    return true;
}

void TNetServerShare::ReportRefusal(const TNetRefusal& ARefusal) {
    CallServer([&ARefusal](INetPeerHost& AServer) {
        AServer.ReportRefusal(ARefusal.Reason, ARefusal.PeerIP, ARefusal.Limit);
    });
}

void TNetServerShare::DetachServer() {
    FDetached.store(true);
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return FCallsInProgress.load() == 0; });
}
