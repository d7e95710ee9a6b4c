#include "tcp/TNetTCPServer.h"

#include <algorithm>
#include <sys/socket.h>

#include "tcp/NetExceptions.h"
#include "tcp/TNetThreadMgrDefault.h"

TNetTCPServer::TNetTCPServer()
    : FPeerThreadClass([] { return std::make_shared<TNetPeerThread>(); }),
      FShare(std::make_shared<TNetServerShare>(*this)) {}

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
        FThreadMgr = std::make_shared<TNetThreadMgrDefault>(this);
        FOwnsThreadMgr = true;
    } else {
        FOwnsThreadMgr = false;
    }
    FThreadMgr->SetPeerThreadClass(FPeerThreadClass);
    FListener = std::make_shared<TNetListenerThread>(*this);
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
    if (FOwnsThreadMgr) {
        FThreadMgr.reset();
        FOwnsThreadMgr = false;
    }
    if (FListener) {
        FListener->WaitFor();
        FListener.reset();
    }
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
    return APeerIP;
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

bool TNetTCPServer::AdmitsClient(const std::string& APeerIP) {
    const int limit = FMaxConnectionsPerIP;
    // Only the listener adds peers, so the count cannot grow between this test and the adding.
    if (limit <= 0 || FShare->CountFrom(ClientKey(APeerIP)) < limit)
        return true;
    ReportRefusal(TNetRefusalReason::PerAddressLimit, APeerIP, limit);
    return false;
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
    AConnection->SetSecureAcceptor(SecureAcceptor());
    std::string clientKey = ClientKey(AConnection->Binding().RemoteIP());
    const std::shared_ptr<TNetThreadMgr>& manager = AThreadMgr;
    std::shared_ptr<TNetPeerThread> thread = manager->AcquireThread();
    thread->SetServedConnection(std::move(AConnection));
    thread->SetServerShare(FShare);
    thread->SetThreadMgr(manager);
    FShare->Add(thread, std::move(clientKey));
    try {
        thread->Launch();
    } catch (...) {
        // Never ran: out of both lists, and its connection closes with it.
        FShare->Remove(thread.get());
        manager->ReturnThread(*thread);
        throw;
    }
}

void TNetTCPServer::ReportListenerError(const std::string& AMessage) {
    if (OnListenerError)
        OnListenerError(*this, AMessage);
}
