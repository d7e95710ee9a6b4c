// Helpers for the transport tests: bounded waits, a loopback pair, a stack that counts and fails.
// Each helper is used by one test thread unless its comment says otherwise.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/LoopbackClient.h"
#include "tcp/TNetStackPosix.h"
#include "tcp/TNetTCPConnection.h"
#include "tcp/TNetTCPServer.h"

using namespace std::chrono_literals;

// Polls APredicate every few milliseconds; true as soon as it holds, false after ATimeout.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

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

// The POSIX stack with counted sends and accepts that fail on request. Any thread.
class TTestStack : public TNetStackPosix {
public:
    int SendOn(int ASocket, const void* ABuffer, int ALength, int AFlags) override;
    int AcceptOn(int ASocket, std::string& AIP, int& APort) override;

    std::atomic<int> Sends{0};
    std::atomic<int> AcceptFailures{0}; // the next this many accepts fail with AcceptErrno
    std::atomic<int> AcceptErrno{0};
};

// Puts a TTestStack in place for the scope of a test; the replaced stacks stay alive until the
// process ends, since a detached peer thread may still be closing its socket through one.
class TInjectedStack {
public:
    TInjectedStack();
    ~TInjectedStack();
    TTestStack& Stack() { return *FStack; }

private:
    TNetComponent FKeepStack;
    TTestStack* FStack;
};
