// TNetListenerThread: waits on a server's listening sockets and hands each connection to a peer
// thread. Made, halted and joined by the server's thread; its cycles run on the thread itself.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tcp/INetListenerHost.h"
#include "tcp/TNetSocketHandle.h"
#include "tcp/TNetThread.h"

class TNetThreadMgr;

class TNetListenerThread : public TNetThread {
public:
    // How long the listener pauses after a failed accept that may recur at once.
    static constexpr std::chrono::milliseconds FailureBackoff{100};
    // How often a listener waiting for a free place looks for requests too slow to keep.
    static constexpr std::chrono::milliseconds SlowRequestCheck{100};
    // At most this many connections are accepted from one socket after one wait, so the
    // other sockets, stops and slow requests are looked at between runs.
    static constexpr int AcceptRun = 16;

    explicit TNetListenerThread(INetListenerHost& AServer) : FServer(AServer) {}

    int SelectWait() const { return FSelectWait; }
    void SetSelectWait(int AMilliseconds) { FSelectWait = AMilliseconds; }
    // The manager that makes the peer threads; set by the server before Launch.
    void SetThreadMgr(std::shared_ptr<TNetThreadMgr> AThreadMgr) {
        FThreadMgr = std::move(AThreadMgr);
    }

protected:
    // Waits for the listening sockets, then accepts the waiting connections of each ready one.
    void Cycle() override;
    // After a failure that ends the listener: releases the listening sockets (clearing their
    // addresses), last to first.
    void Finish() override;

private:
    bool WaitForRoom();
    // AWait, cut short to when the next connection that the thread manager holds for a busy
    // thread is due for one of its own; those already due get theirs here.
    std::chrono::milliseconds UntilOverdue(std::chrono::milliseconds AWait);
    // Accepts one connection and starts its thread; false when none was waiting or the
    // accept or the thread failed (the run ends there).
    bool AcceptOn(int AListening);
    void ReportFailure(const std::string& AMessage, int ACode);

    int FSelectWait = 1000;
    std::vector<TNetSocketHandle::TPin> FPins;
    std::vector<int> FDescriptors;
    std::vector<int> FReady;
    INetListenerHost& FServer;
    std::shared_ptr<TNetThreadMgr> FThreadMgr;
    std::chrono::steady_clock::time_point FLastReport{};
    bool FReported = false;
};
