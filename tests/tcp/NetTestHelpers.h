// Helpers for the transport tests: bounded waits, a loopback pair, a stack that counts and fails.
// Each helper is used by one test thread unless its comment says otherwise.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "support/LoopbackClient.h"
#include "tcp/TNetStackPosix.h"
#include "tcp/TNetTCPConnection.h"

using namespace std::chrono_literals;

// Polls APredicate every few milliseconds; true as soon as it holds, false after ATimeout.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

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
