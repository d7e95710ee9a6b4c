// Records a server's refusals as OnRefused reports them, for tests to compare. The event fires
// on server threads; Wait and Refusals on the test's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <vector>

#include "tcp/TNetTCPServer.h"

bool operator==(const TNetRefusal& A, const TNetRefusal& B);
void PrintTo(const TNetRefusal& ARefusal, std::ostream* AOut);

class TRefusalLog {
public:
    // Sets AServer's OnRefused; the log must outlive the server's activity.
    explicit TRefusalLog(TNetTCPServer& AServer);

    // The refusals once ACount have come, or whatever came within 10 s.
    std::vector<TNetRefusal> Wait(size_t ACount);
    std::vector<TNetRefusal> Refusals();

private:
    std::mutex FLock; // guards FRefusals
    std::condition_variable FAdded;
    std::vector<TNetRefusal> FRefusals;
};
