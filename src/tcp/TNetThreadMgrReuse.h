// TNetThreadMgrReuse: the thread manager that keeps the platform threads of finished peer threads
// waiting (at most MaxWaiting, each for IdleTime) and runs the next connection's peer thread on
// one of them instead of making a new one. Every connection still gets a TNetPeerThread of its
// own, with the same steps and events. AcquireThread and StartOverdueThreads on the listener
// thread, ReturnThread on the peer thread, EndWaitingThreads and destruction on the server's
// thread; counts from any thread.
//
// When none waits, RunningLimit platform threads already run connections and one of them
// finished within HoldTime, a new connection is held for the first of them to finish, which
// takes it without going to sleep: far more threads than processors cost each hit their
// switches. A held connection gets a platform thread of its own once no busy thread has
// finished for HoldTime (they are all waiting for slow clients), and after five times that in
// any case; the listener gives it (StartOverdueThreads).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>

#include "tcp/TNetThreadMgrDefault.h"

class TNetThreadMgrReuse : public TNetThreadMgrDefault {
public:
    // How long a platform thread waits for the next connection before it ends.
    static constexpr std::chrono::milliseconds DefaultIdleTime{60000};
    // How long busy platform threads may all go without finishing before a held connection gets
    // a thread of its own: above a scheduler's time slice, so a busy machine alone does not
    // count as stuck.
    static constexpr std::chrono::milliseconds DefaultHoldTime{20};
    // Twice the processors: enough to keep them busy while some threads wait for their clients.
    static int DefaultRunningLimit();

    TNetThreadMgrReuse(TNetTCPServer* AOwner, int AMaxWaiting,
                       std::chrono::milliseconds AIdleTime = DefaultIdleTime,
                       int ARunningLimit = DefaultRunningLimit(),
                       std::chrono::milliseconds AHoldTime = DefaultHoldTime);
    // Ends the waiting threads (EndWaitingThreads).
    ~TNetThreadMgrReuse() override;

    // A new peer thread, as the default manager makes it, whose body runs on a waiting platform
    // thread when there is one, on a new one otherwise.
    std::shared_ptr<TNetPeerThread> AcquireThread() override;
    // Ends every waiting platform thread and waits (bounded) until they have left; those still
    // serving a connection end when it is done. The manager goes on: the next AcquireThread
    // starts keeping threads again.
    void EndWaitingThreads() override;
    std::chrono::milliseconds StartOverdueThreads() override;

    int MaxWaiting() const { return FMaxWaiting; }
    std::chrono::milliseconds IdleTime() const { return FIdleTime; }
    int RunningLimit() const { return FRunningLimit; }
    std::chrono::milliseconds HoldTime() const { return FHoldTime; }
    // Platform threads waiting for a connection now.
    size_t WaitingThreadCount() const;
    // Platform threads of the manager that have not ended: waiting or serving.
    size_t PlatformThreadCount() const;
    // Connections held for a busy platform thread now.
    size_t HeldConnectionCount() const;

private:
    class TPool;
    std::shared_ptr<TPool> Pool() const;
    std::shared_ptr<TPool> MakePool() const;

    const int FMaxWaiting;
    const std::chrono::milliseconds FIdleTime;
    const int FRunningLimit;
    const std::chrono::milliseconds FHoldTime;
    mutable std::mutex FPoolLock; // guards FPool, replaced by EndWaitingThreads
    // Shared with its platform threads, which outlive the manager while they serve.
    std::shared_ptr<TPool> FPool;
};
