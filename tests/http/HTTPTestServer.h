// A TNetHTTPServer on 127.0.0.1 with an OS-chosen port for end-to-end tests, and a client
// helper that sends raw bytes and reads the raw answer until the server closes.
// Owned by one test; the handlers run on peer threads.
#pragma once

#include "http/TNetHTTPServer.h"

#include <chrono>
#include <memory>
#include <string>

class HTTPTestServer {
public:
    HTTPTestServer();
    ~HTTPTestServer();
    TNetHTTPServer& Server() { return *FServer; }
    // Activates on 127.0.0.1, port 0; the port actually bound.
    int Start();
    int Port() const { return FPort; }

private:
    std::unique_ptr<TNetHTTPServer> FServer;
    int FPort = 0;
};

struct TAnswer {
    std::string Bytes;
    bool Closed = false; // the server closed within the wait
};

// Sends ARequest (then half-closes when AShutdown) and reads until the server closes.
TAnswer Ask(int APort, const std::string& ARequest, bool AShutdown = false,
            std::chrono::milliseconds AWait = std::chrono::seconds(10));
