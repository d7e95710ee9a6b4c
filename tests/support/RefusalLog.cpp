#include "support/RefusalLog.h"

#include <chrono>

bool operator==(const TNetRefusal& A, const TNetRefusal& B) {
    return A.Reason == B.Reason && A.PeerIP == B.PeerIP && A.Limit == B.Limit;
}

void PrintTo(const TNetRefusal& ARefusal, std::ostream* AOut) {
    *AOut << ARefusal.Reason.category().name() << ":" << ARefusal.Reason.value() << " ("
          << ARefusal.Text() << ") from " << ARefusal.PeerIP << ", limit " << ARefusal.Limit;
}

TRefusalLog::TRefusalLog(TNetTCPServer& AServer) {
    AServer.OnRefused = [this](TNetTCPServer&, const TNetRefusal& ARefusal) {
        std::lock_guard<std::mutex> lock(FLock);
        FRefusals.push_back(ARefusal);
        FAdded.notify_all();
    };
}

std::vector<TNetRefusal> TRefusalLog::Wait(size_t ACount) {
    std::unique_lock<std::mutex> lock(FLock);
    FAdded.wait_for(lock, std::chrono::seconds(10), [&] { return FRefusals.size() >= ACount; });
    return FRefusals;
}

std::vector<TNetRefusal> TRefusalLog::Refusals() {
    std::lock_guard<std::mutex> lock(FLock);
    return FRefusals;
}
