// TNetTCPServer: listens on its bindings and gives every accepted connection a peer thread.
// Properties, activation, deactivation and destruction on the owner's thread; events on peer
// threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "tcp/INetListenerHost.h"
#include "tcp/INetPeerHost.h"
#include "tcp/TNetComponent.h"
#include "tcp/TNetListenerThread.h"
#include "tcp/TNetPeerThread.h"
#include "tcp/TNetRefusal.h"
#include "tcp/TNetSecureSession.h"
#include "tcp/TNetServerShare.h"
#include "tcp/TNetSocketHandle.h"
#include "tcp/TNetStack.h"
#include "tcp/TNetThreadMgr.h"

using TNetServerThreadEvent = std::function<void(TNetPeerThread& AThread)>;
using TNetListenerErrorEvent =
    std::function<void(TNetTCPServer& ASender, const std::string& AMessage)>;
using TNetRefusedEvent = std::function<void(TNetTCPServer& ASender, const TNetRefusal& ARefusal)>;
using TNetThreadMgrFactory = std::function<std::shared_ptr<TNetThreadMgr>(TNetTCPServer* AOwner)>;

// Makes the manager of every server activated without one from now on; empty: a
// TNetThreadMgrDefault. For tests that run a whole suite with another manager; set it while no
// server activates.
void SetDefaultThreadMgrForTesting(TNetThreadMgrFactory AFactory);

using TNetPeerTest = std::function<bool(const std::string& APeerIP)>;

// A peer thread reaches it as INetPeerHost, through the share's gate; the listener as
// INetListenerHost, whose operations are the server's own business.
class TNetTCPServer : public TNetComponent, public INetPeerHost, private INetListenerHost {
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
    TNetSocketHandles& Bindings() override { return FBindings; }
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
    // The most connections at once from one client (ClientKey); one more is closed as it is
    // accepted, before a thread is made for it. 0: no limit.
    int MaxConnectionsPerIP() const { return FMaxConnectionsPerIP; }
    void SetMaxConnectionsPerIP(int ACount) { FMaxConnectionsPerIP = ACount; }
    // While more than three quarters of MaxConnections are busy, connections whose request has
    // not arrived within this time (ms) are closed, oldest first, so a new client finds a
    // thread. 0 or less: never. A connection served through OnExecute counts as arrived at once.
    int HeadTimeoutUnderLoad() const { return FHeadTimeoutUnderLoad; }
    void SetHeadTimeoutUnderLoad(int AMilliseconds) { FHeadTimeoutUnderLoad = AMilliseconds; }
    // The longest all sends of one connection may take together (ms, from its first send);
    // 0 or less (WaitForever) lifts the bound.
    int SendTimeout() const { return FSendTimeout; }
    void SetSendTimeout(int AMilliseconds) { FSendTimeout = AMilliseconds; }
    // With more than 0, connections reach the listener only once they have sent data or this
    // time (ms) has passed, where the system can do so (Linux). For protocols whose clients
    // speak first; 0 (the default) accepts every connection at once. Read at activation.
    int DeferAcceptTime() const { return FDeferAcceptTime; }
    void SetDeferAcceptTime(int AMilliseconds) { FDeferAcceptTime = AMilliseconds; }

    // Offers the secure channel on every connection accepted from now on (see
    // TNetTCPConnection::SetSecureAcceptor); none keeps them plain. Connections already
    // accepted keep what they were given. Any thread.
    void SetSecureAcceptor(std::shared_ptr<const TNetSecureAcceptor> AAcceptor);
    std::shared_ptr<const TNetSecureAcceptor> SecureAcceptor() const;
    // What the secure channels of the connections accepted from now on hold is charged to
    // ABudget (TNetTCPConnection::SetMemoryBudget); a protocol layer hands down the budget of
    // its requests. None: not charged. Set before activation.
    void SetMemoryBudget(std::shared_ptr<INetMemoryBudget> ABudget) {
        FMemoryBudget = std::move(ABudget);
    }

    // The key under which connections from one client are counted: the address text, and for
    // an IPv6 address its /64 ("2001:db8:1:2::/64"), since one machine commonly has a whole /64
    // to take addresses from.
    static std::string ClientKey(const std::string& APeerIP);

    // Tells the peers that carry the connections of many clients (proxies). A connection from
    // one counts under no client when it is accepted, so MaxConnectionsPerIP does not cap the
    // peer; the protocol layer names the client it serves once it knows (CountAsClient). Asked
    // on the listener thread at every accept; set before activation. None: no such peers.
    void SetForwarderTest(TNetPeerTest ATest) { FForwarderTest = std::move(ATest); }
    // From now on AThread's connection counts under the key of AClientIP instead of the one it
    // counted under (none for a forwarding peer's). When that client has MaxConnectionsPerIP
    // connections already, the refusal (ForwardedClientLimit) is reported with AClientIP and
    // the result is false: the caller closes the connection. Peer thread, in a server call.
    bool CountAsClient(TNetPeerThread& AThread, const std::string& AClientIP);

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
    // Fires once for every client or request closed at a limit (ReportRefusal), on the listener
    // thread or on the peer thread; it may fire on several threads at once.
    TNetRefusedEvent OnRefused;

    // Counts the refusal and fires OnRefused (whose failures go no further). The transport
    // reports its own reasons; a protocol layer reports its own with this too. Any thread.
    void ReportRefusal(const std::error_code& AReason, const std::string& APeerIP,
                       long long ALimit) override;
    // Refusals so far by reason, since the server was made. Any thread.
    std::uint64_t RefusalCount(const std::error_code& AReason) const;
    std::map<std::error_code, std::uint64_t> RefusalCounts() const;

    // Closes every peer connection and waits up to TerminateWaitTime for the peer threads,
    // returning as soon as they are gone. The connections' close events fire on the calling
    // thread under the peer list's lock: they must not ask the server for its peer threads.
    void StopPeerThreads();

    // Per-connection steps, called on the peer thread. ServeConnection fires OnExecute and gives
    // whether it is set; a derived server replaces it with its own work.
    void FireConnect(TNetPeerThread& AThread) override;
    void FireDisconnect(TNetPeerThread& AThread) override;
    bool ServeConnection(TNetPeerThread& AThread) override;

protected:
    // Stops peer threads from calling into this server and waits for the calls in progress.
    // A derived server whose destructor frees what its steps use calls this first.
    void DetachPeerThreads();

private:
    void Activate();
    void Deactivate();
    void OpenBindings();
    void ReleaseBindings(bool AClearLocal);
    // The accept side (INetListenerHost), on the listener thread.
    bool WaitForRoom(std::chrono::milliseconds AWait) override;
    bool ClosesSlowRequests() const override { return FHeadTimeoutUnderLoad > 0; }
    void CloseSlowRequests() override;
    bool AdmitsClient(TNetTCPServerConnection& AConnection) override;
    void StartPeerThread(std::unique_ptr<TNetTCPServerConnection> AConnection,
                         const std::shared_ptr<TNetThreadMgr>& AThreadMgr) override;
    void ReportListenerError(const std::string& AMessage) override;
    // Whether more than three quarters of MaxConnections are busy.
    bool UnderLoad() const;

    int FSelectWait = 1000;
    bool FActive = false;
    bool FOwnsThreadMgr = false;
    std::shared_ptr<TNetThreadMgr> FThreadMgr;
    TNetSocketHandles FBindings;
    std::shared_ptr<TNetListenerThread> FListener;
    int FTerminateWaitTime = 5000;
    std::atomic<int> FMaxConnections{1000};
    std::atomic<int> FReadTimeout{30000};
    std::atomic<int> FMaxConnectionsPerIP{16};
    std::atomic<int> FHeadTimeoutUnderLoad{2000};
    std::atomic<int> FSendTimeout{30000};
    int FDeferAcceptTime = 0;
    TNetPeerThreadClass FPeerThreadClass;
    TNetPeerTest FForwarderTest;
    std::shared_ptr<TNetServerShare> FShare;
    mutable std::mutex FSecureLock; // guards FSecureAcceptor
    std::shared_ptr<const TNetSecureAcceptor> FSecureAcceptor;
    std::shared_ptr<INetMemoryBudget> FMemoryBudget;
    mutable std::mutex FRefusalLock; // guards FRefusals
    std::map<std::error_code, std::uint64_t> FRefusals;
};
