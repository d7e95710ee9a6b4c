// TNetThreadMgrReuse: the thread manager that keeps the platform threads of finished peer threads
// waiting (at most MaxWaiting, each for IdleTime) and runs the next connection's peer thread on
// one of them instead of making a new one. Every connection still gets a TNetPeerThread of its
// own, with the same steps and events. AcquireThread on the listener thread, ReturnThread on the
// peer thread, EndWaitingThreads and destruction on the server's thread; counts from any thread.
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

    TNetThreadMgrReuse(TNetTCPServer* AOwner, int AMaxWaiting,
                       std::chrono::milliseconds AIdleTime = DefaultIdleTime);
    // Ends the waiting threads (EndWaitingThreads).
    ~TNetThreadMgrReuse() override;

    // A new peer thread, as the default manager makes it, whose body runs on a waiting platform
    // thread when there is one, on a new one otherwise.
    std::shared_ptr<TNetPeerThread> AcquireThread() override;
    // Ends every waiting platform thread and waits (bounded) until they have left; those still
    // serving a connection end when it is done. The manager goes on: the next AcquireThread
    // starts keeping threads again.
    void EndWaitingThreads() override;

    int MaxWaiting() const { return FMaxWaiting; }
    std::chrono::milliseconds IdleTime() const { return FIdleTime; }
    // Platform threads waiting for a connection now.
    size_t WaitingThreadCount() const;
    // Platform threads of the manager that have not ended: waiting or serving.
    size_t PlatformThreadCount() const;

private:
    class TPool;
    std::shared_ptr<TPool> Pool() const;

    const int FMaxWaiting;
    const std::chrono::milliseconds FIdleTime;
    mutable std::mutex FPoolLock; // guards FPool, replaced by EndWaitingThreads
    // Shared with its platform threads, which outlive the manager while they serve.
    std::shared_ptr<TPool> FPool;
};
