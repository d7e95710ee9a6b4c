// A TNetHTTPServer on 127.0.0.1 with an OS-chosen port for end-to-end tests, a raw client
// that reads the answer until the server closes, and a record of what handlers saw.
// Owned by one test; the handlers run on peer threads, TCalls may be fed from any thread.
#pragma once

#include "http/TNetHTTPServer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// Activates AServer on 127.0.0.1, port 0; the port actually bound.
int Start(TNetHTTPServer& AServer);

// Sends ARequest (then half-closes when AShutdown) and reads until the server closes; fails
// the test unless that happens within 10 s, as the server closes after every request.
std::string Ask(int APort, const std::string& ARequest, bool AShutdown = false);

// One line per handler call, in the order of the calls.
class TCalls {
public:
    void Add(const std::string& ALine);
    // The lines once ACount have come, or whatever came within 10 s.
    std::vector<std::string> Wait(size_t ACount);

private:
    std::mutex FLock;
    std::condition_variable FAdded;
    std::vector<std::string> FLines;
};
