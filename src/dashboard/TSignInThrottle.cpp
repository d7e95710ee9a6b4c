#include "dashboard/TSignInThrottle.h"

TSignInThrottle::TSignInThrottle(TClock AClock) : FClock(std::move(AClock)) {}

TSignInThrottle::TTime TSignInThrottle::Now() const {
    return FClock ? FClock() : std::chrono::steady_clock::now();
}

TSignInThrottle::TCount& TSignInThrottle::CountOf(const std::string& AClient, TTime ANow) {
    auto found = FCounts.find(AClient);
    if (found == FCounts.end() && FCounts.size() >= MaxClients)
        std::erase_if(FCounts,
                      [&](const auto& AItem) { return ANow - AItem.second.Start >= Window; });
    if (found == FCounts.end() && FCounts.size() >= MaxClients)
        found = FCounts.try_emplace(std::string()).first;
    else if (found == FCounts.end())
        found = FCounts.try_emplace(AClient).first;
    TCount& count = found->second;
    if (count.Failures > 0 && ANow - count.Start >= Window)
        count = TCount();
    return count;
}

bool TSignInThrottle::Refused(const std::string& AClient, int& ARetryAfter) {
    const TTime now = Now();
    std::lock_guard<std::mutex> guard(FLock);
    const TCount& count = CountOf(AClient, now);
    if (count.Failures < MaxFailures)
        return false;
    const auto left = std::chrono::ceil<std::chrono::seconds>(count.Start + Window - now);
    ARetryAfter = static_cast<int>(std::max<std::chrono::seconds::rep>(1, left.count()));
    return true;
}

bool TSignInThrottle::Failed(const std::string& AClient) {
    const TTime now = Now();
    std::lock_guard<std::mutex> guard(FLock);
    TCount& count = CountOf(AClient, now);
    if (count.Failures == 0)
        count.Start = now;
    return ++count.Failures == MaxFailures;
}

void TSignInThrottle::Succeeded(const std::string& AClient) {
    std::lock_guard<std::mutex> guard(FLock);
    FCounts.erase(AClient);
}
