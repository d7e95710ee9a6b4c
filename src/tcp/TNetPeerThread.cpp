#include "tcp/TNetPeerThread.h"

#include "tcp/NetExceptions.h"

TNetPeerThread::TNetPeerThread() {
    SetFreeOnTerminate(true);
    SetStackSize(PeerStackSize);
}

TNetPeerThread::~TNetPeerThread() = default;

void TNetPeerThread::SetServedConnection(std::unique_ptr<TNetTCPServerConnection> AConnection) {
    FServedConnection = std::move(AConnection);
}

void TNetPeerThread::Prepare() {
    if (FShare)
        FShare->CallServer([this](INetPeerHost& AServer) { AServer.FireConnect(*this); });
}

void TNetPeerThread::Cycle() {
    try {
        ServeOnce();
    } catch (const ENetSocketError& e) {
        int code = e.SocketErrorCode();
        if ((code == NetErrConnAborted || code == NetErrConnReset) && FServedConnection)
            FServedConnection->CloseConnection();
    } catch (const ENetClosedSocket&) {
        // Nothing to do: the connection check below ends the thread.
    }
    if (!FServedConnection || !FServedConnection->IsConnected())
        HaltThread();
}

void TNetPeerThread::ServeOnce() {
    bool served = false;
    bool called = FShare && FShare->CallServer([this, &served](INetPeerHost& AServer) {
        served = AServer.ServeConnection(*this);
    });
    if (!called) {
        // The server is gone: nothing can serve the connection any more.
        if (FServedConnection)
            FServedConnection->CloseConnection();
        return;
    }
    if (!served)
        throw ENetNoExecuteSpecified();
}

void TNetPeerThread::Finish() {
    // Each step runs even when the one before raised; the first failure is passed on.
    std::exception_ptr failure;
    try {
        if (FShare)
            FShare->CallServer([this](INetPeerHost& AServer) { AServer.FireDisconnect(*this); });
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        if (FThreadMgr)
            FThreadMgr->ReturnThread(*this);
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (FShare)
        FShare->Remove(this);
    FServedConnection.reset();
    if (failure)
        std::rethrow_exception(failure);
}
