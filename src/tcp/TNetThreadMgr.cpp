#include "tcp/TNetThreadMgr.h"

#include <algorithm>

#include "tcp/NetExceptions.h"
#include "tcp/TNetPeerThread.h"

TNetPeerThreadClass TNetThreadMgr::PeerThreadClass() const {
    std::lock_guard<std::mutex> lock(FListLock);
    return FPeerThreadClass;
}

void TNetThreadMgr::SetPeerThreadClass(TNetPeerThreadClass AClass) {
    std::lock_guard<std::mutex> lock(FListLock);
    FPeerThreadClass = std::move(AClass);
}

std::shared_ptr<TNetPeerThread> TNetThreadMgr::MakeThread() {
    TNetPeerThreadClass make = PeerThreadClass();
    if (!make)
        throw ENetThreadClassNotSpecified();
    return make();
}

std::vector<TNetThread*> TNetThreadMgr::LiveThreads() const {
    std::lock_guard<std::mutex> lock(FListLock);
    return FLiveThreads;
}

size_t TNetThreadMgr::LiveThreadCount() const {
    std::lock_guard<std::mutex> lock(FListLock);
    return FLiveThreads.size();
}

void TNetThreadMgr::AddLive(TNetThread* AThread) {
    std::lock_guard<std::mutex> lock(FListLock);
    FLiveThreads.push_back(AThread);
}

void TNetThreadMgr::RemoveLive(TNetThread* AThread) {
    std::lock_guard<std::mutex> lock(FListLock);
    auto found = std::find(FLiveThreads.begin(), FLiveThreads.end(), AThread);
    if (found != FLiveThreads.end())
        FLiveThreads.erase(found);
}
