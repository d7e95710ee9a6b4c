// Helpers for the transport tests: bounded waits, a loopback pair, servers on loopback.
// Each helper is used by one test thread unless its comment says otherwise.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/FailingStack.h"
#include "support/LoopbackClient.h"
#include "support/RefusalLog.h"
#include "support/WaitUntil.h"
#include "tcp/TNetStackPosix.h"
#include "tcp/TNetTCPConnection.h"
#include "tcp/TNetTCPServer.h"

using namespace std::chrono_literals;

// Activates AServer on 127.0.0.1 with an OS-chosen port; returns the port.
int ActivateOnLoopback(TNetTCPServer& AServer);

// A handler that echoes one line back with a prefix and closes.
void EchoLine(TNetPeerThread& AThread);

// ACount raw clients connected to APort.
std::vector<std::unique_ptr<LoopbackClient>> ConnectClients(int APort, int ACount);

// How long AStep takes.
template <typename F> std::chrono::milliseconds TimeOf(F AStep) {
    auto started = std::chrono::steady_clock::now();
    AStep();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started);
}

// A connection accepted from a raw loopback client.
struct TConnectedPair {
    TConnectedPair();
    TNetTCPConnection Connection;
    TNetSocketHandle Listening;
    LoopbackClient Client;
};
