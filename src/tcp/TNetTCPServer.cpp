#include "tcp/TNetTCPServer.h"

#include <algorithm>
#include <optional>
#include <sys/socket.h>

#include "base/IPAddress.h"
#include "tcp/NetExceptions.h"
#include "tcp/TNetThreadMgrDefault.h"

namespace {

// The factory of SetDefaultThreadMgrForTesting, made on first use: a test sets it while static
// objects are still being made.
struct TDefaultThreadMgr {
    std::mutex Lock;              // guards Factory
    TNetThreadMgrFactory Factory; // empty: TNetThreadMgrDefault
};

TDefaultThreadMgr& DefaultThreadMgr() {
    static TDefaultThreadMgr made;
    return made;
}

std::shared_ptr<TNetThreadMgr> MakeDefaultThreadMgr(TNetTCPServer* AOwner) {
    TDefaultThreadMgr& chosen = DefaultThreadMgr();
    std::lock_guard<std::mutex> lock(chosen.Lock);
    if (chosen.Factory)
        return chosen.Factory(AOwner);
    return std::make_shared<TNetThreadMgrDefault>(AOwner);
}

} // namespace

void SetDefaultThreadMgrForTesting(TNetThreadMgrFactory AFactory) {
    TDefaultThreadMgr& chosen = DefaultThreadMgr();
    std::lock_guard<std::mutex> lock(chosen.Lock);
    chosen.Factory = std::move(AFactory);
}

TNetTCPServer::TNetTCPServer()
    : FPeerThreadClass([] { return std::make_shared<TNetPeerThread>(); }),
      FShare(std::make_shared<TNetServerShare>(static_cast<INetPeerHost&>(*this))) {}

TNetTCPServer::~TNetTCPServer() {
    try {
        SetActive(false);
        StopPeerThreads();
    } catch (...) {
        // Destruction goes on: the remaining steps keep late peer threads away from us.
    }
    DetachPeerThreads();
}

void TNetTCPServer::DetachPeerThreads() {
    FShare->DetachServer();
}

void TNetTCPServer::SetActive(bool AValue) {
    if (AValue == FActive)
        return;
    if (AValue)
        Activate();
    else
        Deactivate();
    FActive = AValue;
}

void TNetTCPServer::SetThreadMgr(std::shared_ptr<TNetThreadMgr> AThreadMgr) {
    FThreadMgr = std::move(AThreadMgr);
    FOwnsThreadMgr = false;
}

void TNetTCPServer::Activate() {
    if (FBindings.Count() == 0)
        FBindings.AddBinding();
    OpenBindings();
    if (!FThreadMgr) {
        FThreadMgr = MakeDefaultThreadMgr(this);
        FOwnsThreadMgr = true;
    } else {
        FOwnsThreadMgr = false;
    }
    FThreadMgr->SetPeerThreadClass(FPeerThreadClass);
    FListener = std::make_shared<TNetListenerThread>(static_cast<INetListenerHost&>(*this));
    FListener->SetSelectWait(FSelectWait);
    FListener->SetThreadMgr(FThreadMgr);
    try {
        FListener->Launch();
    } catch (...) {
        FListener.reset();
        ReleaseBindings(false);
        throw;
    }
}

void TNetTCPServer::OpenBindings() {
    for (int i = 0; i < FBindings.Count(); ++i) {
        TNetSocketHandle& binding = FBindings.Items(i);
        binding.OpenSocket(SOCK_STREAM, 0);
        int reuse = 1;
        binding.SetOption(SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        binding.BindLocal();
        if (FDeferAcceptTime > 0)
            binding.DeferAccept(FDeferAcceptTime);
        // The system's longest backlog: a burst of clients must not lose its handshakes.
        binding.StartListening(SOMAXCONN);
    }
}

void TNetTCPServer::Deactivate() {
    if (FListener) {
        FListener->HaltThread();
        FShare->Wake();
    }
    ReleaseBindings(false);
    StopPeerThreads();
    std::shared_ptr<TNetThreadMgr> manager = FThreadMgr;
    if (FOwnsThreadMgr) {
        FThreadMgr.reset();
        FOwnsThreadMgr = false;
    }
    if (FListener) {
        FListener->WaitFor();
        FListener.reset();
    }
    // After the listener, which acquires threads: a stop leaves no thread waiting.
    if (manager)
        manager->EndWaitingThreads();
}

void TNetTCPServer::ReleaseBindings(bool AClearLocal) {
    for (int i = 0; i < FBindings.Count(); ++i)
        FBindings.Items(i).ReleaseSocket(AClearLocal);
}

void TNetTCPServer::StopPeerThreads() {
    FShare->CloseAll();
    // Returns as soon as the list is empty; the bound is whole polling steps, as configured.
    int steps = FTerminateWaitTime / PollInterval;
    if (steps > 0)
        FShare->WaitEmpty(std::chrono::milliseconds(steps * PollInterval));
}

std::vector<std::shared_ptr<TNetPeerThread>> TNetTCPServer::PeerThreads() const {
    return FShare->Snapshot();
}

size_t TNetTCPServer::PeerThreadCount() const {
    return FShare->Count();
}

void TNetTCPServer::FireConnect(TNetPeerThread& AThread) {
    if (OnConnect)
        OnConnect(AThread);
}

void TNetTCPServer::FireDisconnect(TNetPeerThread& AThread) {
    if (OnDisconnect)
        OnDisconnect(AThread);
}

bool TNetTCPServer::ServeConnection(TNetPeerThread& AThread) {
    if (!OnExecute)
        return false;
    // What the handler reads is its own affair: the connection is never taken for a slow one.
    AThread.ServedConnection()->MarkRequestArrived();
    OnExecute(AThread);
    return true;
}

void TNetTCPServer::SetSecureAcceptor(std::shared_ptr<const TNetSecureAcceptor> AAcceptor) {
    std::lock_guard<std::mutex> lock(FSecureLock);
    FSecureAcceptor.swap(AAcceptor);
    // the one replaced goes after the lock, with the last connection that uses it
}

std::shared_ptr<const TNetSecureAcceptor> TNetTCPServer::SecureAcceptor() const {
    std::lock_guard<std::mutex> lock(FSecureLock);
    return FSecureAcceptor;
}

std::string TNetTCPServer::ClientKey(const std::string& APeerIP) {
    if (APeerIP.find(':') == std::string::npos)
        return APeerIP; // IPv4 text, as the peer's address always was
    const std::optional<TIPAddress> address = ParseIPAddress(APeerIP);
    if (!address || address->IsV4())
        return APeerIP;
    return IPAddressText(RangeOf(*address, 64).First) + "/64";
}

bool TNetTCPServer::CountAsClient(TNetPeerThread& AThread, const std::string& AClientIP) {
    TNetTCPServerConnection* connection = AThread.ServedConnection();
    if (connection == nullptr)
        return false;
    std::string key = ClientKey(AClientIP);
    if (key == connection->ClientKey())
        return true;
    const int limit = FMaxConnectionsPerIP;
    if (!FShare->Recount(&AThread, key, limit)) {
        ReportRefusal(TNetRefusalReason::ForwardedClientLimit, AClientIP, limit);
        return false;
    }
    connection->SetClientKey(std::move(key));
    return true;
}

void TNetTCPServer::ReportRefusal(const std::error_code& AReason, const std::string& APeerIP,
                                  long long ALimit) {
    {
        std::lock_guard<std::mutex> lock(FRefusalLock);
        ++FRefusals[AReason];
    }
    if (!OnRefused)
        return;
    try {
        OnRefused(*this, TNetRefusal{AReason, APeerIP, ALimit});
    } catch (...) {
        // The client is closed either way; a failing report must not end the listener.
    }
}

std::uint64_t TNetTCPServer::RefusalCount(const std::error_code& AReason) const {
    std::lock_guard<std::mutex> lock(FRefusalLock);
    auto found = FRefusals.find(AReason);
    return found == FRefusals.end() ? 0 : found->second;
}

std::map<std::error_code, std::uint64_t> TNetTCPServer::RefusalCounts() const {
    std::lock_guard<std::mutex> lock(FRefusalLock);
    return FRefusals;
}

bool TNetTCPServer::AdmitsClient(TNetTCPServerConnection& AConnection) {
    const std::string peerIP = AConnection.Binding().RemoteIP();
    if (FForwarderTest && FForwarderTest(peerIP))
        return true; // counted once the protocol names the client (CountAsClient)
    AConnection.SetClientKey(ClientKey(peerIP));
    const int limit = FMaxConnectionsPerIP;
    // Only the listener adds peers. A peer thread moving its connection to this key between
    // the test and the adding (CountAsClient, same limit) can put one more under it for the
    // life of one of them; never more than one per such race.
    if (limit <= 0 || FShare->CountFrom(AConnection.ClientKey()) < limit)
        return true;
    ReportRefusal(TNetRefusalReason::PerAddressLimit, peerIP, limit);
    return false;
}

bool TNetTCPServer::WaitForRoom(std::chrono::milliseconds AWait) {
    const size_t limit = static_cast<size_t>(std::max(FMaxConnections.load(), 1));
    return FShare->WaitBelow(limit, AWait);
}

bool TNetTCPServer::UnderLoad() const {
    const size_t limit = static_cast<size_t>(std::max(FMaxConnections.load(), 1));
    return FShare->Count() * 4 > limit * 3;
}

void TNetTCPServer::CloseSlowRequests() {
    const int timeout = FHeadTimeoutUnderLoad;
    if (timeout <= 0 || !UnderLoad())
        return;
    const auto before = TNetTCPServerConnection::TClock::now() - std::chrono::milliseconds(timeout);
    for (const std::string& address : FShare->CloseWaitingSince(before))
        ReportRefusal(TNetRefusalReason::HeadTimeoutUnderLoad, address, timeout);
}

void TNetTCPServer::StartPeerThread(std::unique_ptr<TNetTCPServerConnection> AConnection,
                                    const std::shared_ptr<TNetThreadMgr>& AThreadMgr) {
    AConnection->SetReadTimeout(FReadTimeout);
    AConnection->SetSendTimeout(FSendTimeout);
    if (std::shared_ptr<const TNetSecureAcceptor> acceptor = SecureAcceptor()) {
        AConnection->SetMemoryBudget(FMemoryBudget);
        AConnection->SetSecureAcceptor(std::move(acceptor));
    }
    // The peer thread holds the share as long as it holds the connection: a plain pointer
    // does, and a copy of the report costs no allocation.
    AConnection->SetRefusalReport(
        [share = FShare.get()](const TNetRefusal& ARefusal) { share->ReportRefusal(ARefusal); });
    std::string clientKey = AConnection->ClientKey();
    TNetTCPServerConnection* connection = AConnection.get();
    std::shared_ptr<TNetPeerThread> thread = AThreadMgr->AcquireThread();
    thread->SetServedConnection(std::move(AConnection));
    thread->SetServerShare(FShare);
    thread->SetThreadMgr(AThreadMgr);
    FShare->Add(thread, connection, std::move(clientKey));
    try {
        thread->Launch();
    } catch (...) {
        // Never ran: out of both lists, and its connection closes with it.
        FShare->Remove(thread.get());
        AThreadMgr->ReturnThread(*thread);
        throw;
    }
}

void TNetTCPServer::ReportListenerError(const std::string& AMessage) {
    if (OnListenerError)
        OnListenerError(*this, AMessage);
}
