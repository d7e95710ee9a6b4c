// TNetTCPServer: listens on its bindings and gives every accepted connection a peer thread.
// Properties, activation, deactivation and destruction on the owner's thread; events on peer
// threads.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tcp/TNetComponent.h"
#include "tcp/TNetListenerThread.h"
#include "tcp/TNetPeerThread.h"
#include "tcp/TNetServerShare.h"
#include "tcp/TNetSocketHandle.h"
#include "tcp/TNetStack.h"
#include "tcp/TNetThreadMgr.h"

using TNetServerThreadEvent = std::function<void(TNetPeerThread& AThread)>;
using TNetListenerErrorEvent =
    std::function<void(TNetTCPServer& ASender, const std::string& AMessage)>;

class TNetTCPServer : public TNetComponent {
public:
    // The step of the wait for peer threads at deactivation.
    static constexpr int PollInterval = 25;

    TNetTCPServer();
    // Deactivates, then waits until no peer thread is inside a server call (see DetachPeerThreads).
    ~TNetTCPServer() override;

    bool Active() const { return FActive; }
    // Activation opens, binds and listens on every binding and starts the listener; a failure
    // raises and leaves the server inactive. Deactivation stops the listener, closes every peer
    // connection, waits up to TerminateWaitTime for the peer threads and joins the listener.
    virtual void SetActive(bool AValue);

    // The listening addresses; change them only while the server is inactive.
    TNetSocketHandles& Bindings() { return FBindings; }
    const TNetSocketHandles& Bindings() const { return FBindings; }
    void SetBindings(const TNetSocketHandles& ABindings) { FBindings.Assign(ABindings); }
    int DefaultPort() const { return FBindings.DefaultPort(); }
    void SetDefaultPort(int APort) { FBindings.SetDefaultPort(APort); }

    int SelectWait() const { return FSelectWait; }
    void SetSelectWait(int AMilliseconds) { FSelectWait = AMilliseconds; }
    int TerminateWaitTime() const { return FTerminateWaitTime; }
    void SetTerminateWaitTime(int AMilliseconds) { FTerminateWaitTime = AMilliseconds; }
    // The most peer threads at once; at the limit new connections wait in the listen backlog.
    int MaxConnections() const { return FMaxConnections; }
    void SetMaxConnections(int ACount) { FMaxConnections = ACount; }
    // The longest wait for data on a connection (ms); WaitForever lifts the bound.
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int AMilliseconds) { FReadTimeout = AMilliseconds; }

    // The thread manager; activation makes a TNetThreadMgrDefault when none is set.
    std::shared_ptr<TNetThreadMgr> ThreadMgr() const { return FThreadMgr; }
    void SetThreadMgr(std::shared_ptr<TNetThreadMgr> AThreadMgr);
    bool OwnsThreadMgr() const { return FOwnsThreadMgr; }
    TNetPeerThreadClass PeerThreadClass() const { return FPeerThreadClass; }
    void SetPeerThreadClass(TNetPeerThreadClass AClass) { FPeerThreadClass = std::move(AClass); }
    TNetListenerThread* Listener() const { return FListener.get(); }

    // The live peer threads (a snapshot) and their number. Any thread.
    std::vector<std::shared_ptr<TNetPeerThread>> PeerThreads() const;
    size_t PeerThreadCount() const;

    // Fire on peer threads with the peer thread as AThread.
    TNetServerThreadEvent OnExecute;
    TNetServerThreadEvent OnConnect;
    TNetServerThreadEvent OnDisconnect;
    // Fires on the listener thread when an accept or a thread creation fails (the listener
    // backs off and goes on serving); at most once a second.
    TNetListenerErrorEvent OnListenerError;

    // Closes every peer connection and waits up to TerminateWaitTime for the peer threads,
    // returning as soon as they are gone. The connections' close events fire on the calling
    // thread under the peer list's lock: they must not ask the server for its peer threads.
    void StopPeerThreads();

    // Per-connection steps, called on the peer thread. ServeConnection fires OnExecute and gives
    // whether it is set; a derived server replaces it with its own work.
    virtual void FireConnect(TNetPeerThread& AThread);
    virtual void FireDisconnect(TNetPeerThread& AThread);
    virtual bool ServeConnection(TNetPeerThread& AThread);

protected:
    // Stops peer threads from calling into this server and waits for the calls in progress.
    // A derived server whose destructor frees what its steps use calls this first.
    void DetachPeerThreads();

private:
    friend class TNetListenerThread;

    void Activate();
    void Deactivate();
    void OpenBindings();
    void ReleaseBindings(bool AClearLocal);
    // Listener side: a peer thread for an accepted connection, listed and launched.
    void StartPeerThread(std::unique_ptr<TNetTCPServerConnection> AConnection,
                         const std::shared_ptr<TNetThreadMgr>& AThreadMgr);
    void ReportListenerError(const std::string& AMessage);

    int FSelectWait = 1000;
    bool FActive = false;
    bool FOwnsThreadMgr = false;
    std::shared_ptr<TNetThreadMgr> FThreadMgr;
    TNetSocketHandles FBindings;
    std::shared_ptr<TNetListenerThread> FListener;
    int FTerminateWaitTime = 5000;
    std::atomic<int> FMaxConnections{1000};
    std::atomic<int> FReadTimeout{30000};
    TNetPeerThreadClass FPeerThreadClass;
    std::shared_ptr<TNetServerShare> FShare;
};
