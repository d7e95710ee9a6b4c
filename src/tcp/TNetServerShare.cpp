#include "tcp/TNetServerShare.h"

#include <algorithm>

#include "tcp/TNetPeerThread.h"

void TNetServerShare::Add(std::shared_ptr<TNetPeerThread> AThread) {
    std::lock_guard<std::mutex> lock(FLock);
    FPeers.push_back(std::move(AThread));
}

void TNetServerShare::Remove(const TNetPeerThread* AThread) {
    std::shared_ptr<TNetPeerThread> removed; // released after unlocking
    {
        std::lock_guard<std::mutex> lock(FLock);
        auto found = std::find_if(FPeers.begin(), FPeers.end(),
                                  [AThread](const auto& APeer) { return APeer.get() == AThread; });
        if (found == FPeers.end())
            return;
        removed = std::move(*found);
        FPeers.erase(found);
    }
    FChanged.notify_all();
}

size_t TNetServerShare::Count() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPeers.size();
}

std::vector<std::shared_ptr<TNetPeerThread>> TNetServerShare::Snapshot() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPeers;
}

void TNetServerShare::CloseAll() {
    // Under the lock: a listed peer has not yet freed its connection (it leaves the list first).
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto& peer : FPeers)
        if (TNetTCPServerConnection* connection = peer->ServedConnection())
            connection->CloseSocketOnly();
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

bool TNetServerShare::CallServer(const std::function<void(TNetTCPServer&)>& ACall) {
    TNetTCPServer* server = nullptr;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FServer == nullptr)
            return false;
        server = FServer;
        ++FCallsInProgress;
    }
    struct TLeave {
        TNetServerShare& Share;
        ~TLeave() {
            {
                std::lock_guard<std::mutex> lock(Share.FLock);
                --Share.FCallsInProgress;
            }
            Share.FChanged.notify_all();
        }
    } leave{*this};
    ACall(*server);
    return true;
}

void TNetServerShare::DetachServer() {
    std::unique_lock<std::mutex> lock(FLock);
    FServer = nullptr;
    FChanged.wait(lock, [this] { return FCallsInProgress == 0; });
}
