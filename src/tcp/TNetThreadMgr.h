// TNetThreadMgr: makes a peer thread for every accepted connection and keeps the live ones.
// Acquire on the listener thread, Return on the peer thread; the list has its own lock.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "tcp/TNetComponent.h"
#include "tcp/TNetThread.h"

class TNetPeerThread;
class TNetTCPServer;

// Makes a new, not yet launched peer thread; the server's default makes a TNetPeerThread.
using TNetPeerThreadClass = std::function<std::shared_ptr<TNetPeerThread>()>;

class TNetThreadMgr : public TNetBaseComponent,
                      public INetThreadSource,
                      public std::enable_shared_from_this<TNetThreadMgr> {
public:
    explicit TNetThreadMgr(TNetTCPServer* AOwner = nullptr) : FOwner(AOwner) {}
    ~TNetThreadMgr() override = default;

    TNetPeerThreadClass PeerThreadClass() const;
    void SetPeerThreadClass(TNetPeerThreadClass AClass);

    // A new suspended thread of PeerThreadClass; raises ENetThreadClassNotSpecified without one.
    virtual std::shared_ptr<TNetPeerThread> MakeThread();
    virtual std::shared_ptr<TNetPeerThread> AcquireThread() = 0;
    void ReturnThread(TNetThread& AThread) override = 0;
    // Ends the platform threads that a manager keeps waiting for the next connection (the
    // server's stop calls it); nothing for a manager that keeps none.
    virtual void EndWaitingThreads() {}
    // On the listener thread, between its waits: gives every connection that a manager holds
    // for one of its busy platform threads, and has held long enough, a platform thread of its
    // own. Returns how long until the next held one is due, negative when none is held (always
    // for a manager that holds none).
    virtual std::chrono::milliseconds StartOverdueThreads() {
        return std::chrono::milliseconds(-1);
    }

    // The threads handed out and not yet returned (identities only; the manager owns none).
    std::vector<TNetThread*> LiveThreads() const;
    size_t LiveThreadCount() const;

protected:
    void AddLive(TNetThread* AThread);
    void RemoveLive(TNetThread* AThread);
    TNetTCPServer* Owner() const { return FOwner; }

private:
    TNetTCPServer* FOwner;
    mutable std::mutex FListLock; // guards FLiveThreads and FPeerThreadClass
    std::vector<TNetThread*> FLiveThreads;
    TNetPeerThreadClass FPeerThreadClass;
};
