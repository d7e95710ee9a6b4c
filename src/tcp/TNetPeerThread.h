// TNetPeerThread: the thread that serves one accepted connection and then frees itself.
// Made and launched by the listener thread; its steps and the server events run on it.
#pragma once

#include <memory>

#include "tcp/TNetServerShare.h"
#include "tcp/TNetTCPServerConnection.h"
#include "tcp/TNetThread.h"

class TNetPeerThread : public TNetThread {
public:
    // Peer threads get a small stack: a busy server runs hundreds of them.
    static constexpr size_t PeerStackSize = 256 * 1024;

    TNetPeerThread();
    ~TNetPeerThread() override;

    // The connection this thread owns and serves; none after Finish.
    TNetTCPServerConnection* ServedConnection() const { return FServedConnection.get(); }
    void SetServedConnection(std::unique_ptr<TNetTCPServerConnection> AConnection);
    // Set by the server before Launch: its shared part, and the thread manager the thread
    // came from.
    void SetServerShare(std::shared_ptr<TNetServerShare> AShare) { FShare = std::move(AShare); }
    void SetThreadMgr(std::shared_ptr<INetThreadSource> AThreadMgr) {
        FThreadMgr = std::move(AThreadMgr);
    }

protected:
    // Fires the server's OnConnect.
    void Prepare() override;
    // The server's ServeConnection; halts once the connection is closed.
    void Cycle() override;
    // Fires OnDisconnect, returns the thread, leaves the peer list, frees the connection.
    void Finish() override;

private:
    void ServeOnce();

    // The share first: the connection, which reports its refusals through it, goes before it.
    std::shared_ptr<TNetServerShare> FShare;
    std::shared_ptr<INetThreadSource> FThreadMgr;
    std::unique_ptr<TNetTCPServerConnection> FServedConnection;
};
