// Failed sign-ins per client: MaxFailures within a minute, then every sign-in of that client
// is refused until the minute that began with its first failure is over. Any thread; one lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class TSignInThrottle {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int MaxFailures = 5;
    static constexpr std::chrono::minutes Window{1};
    // Clients counted apart; beyond, the others share one count, so many addresses cannot
    // grow the table or escape the limit.
    static constexpr std::size_t MaxClients = 4096;

    explicit TSignInThrottle(TClock AClock = nullptr);

    // Whether AClient (a TNetTCPServer::ClientKey) may not try now; ARetryAfter the seconds
    // until it may.
    bool Refused(const std::string& AClient, int& ARetryAfter);
    // A failed sign-in of AClient; true when it was the one that used up the allowance (the
    // moment to tell the user once).
    bool Failed(const std::string& AClient);
    // A sign-in that succeeded: the client's count starts anew.
    void Succeeded(const std::string& AClient);

private:
    using TTime = std::chrono::steady_clock::time_point;
    struct TCount {
        TTime Start;
        int Failures = 0;
    };

    // The count AClient is kept under, made when missing. FLock held.
    TCount& CountOf(const std::string& AClient, TTime ANow);
    TTime Now() const;

    TClock FClock;
    // Guards FCounts.
    std::mutex FLock;
    std::map<std::string, TCount> FCounts; // "" is the shared count
};
