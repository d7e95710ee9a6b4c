// INetListenerHost: what a listener thread asks of its server, the accept side of it; the server
// implements it. Called on the listener thread, which the server joins before it goes.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tcp/TNetSocketHandle.h"

class TNetTCPServerConnection;
class TNetThreadMgr;

class INetListenerHost {
public:
    virtual ~INetListenerHost() = default;

    // The listening sockets.
    virtual TNetSocketHandles& Bindings() = 0;
    // Waits up to AWait until one more connection may have a peer thread (MaxConnections); a
    // peer that leaves or a stop ends the wait early. True when one may.
    virtual bool WaitForRoom(std::chrono::milliseconds AWait) = 0;
    // Whether requests too slow under load are closed (CloseSlowRequests has work to do).
    virtual bool ClosesSlowRequests() const = 0;
    // Under load, closes the connections whose request is late.
    virtual void CloseSlowRequests() = 0;
    // Whether an accepted connection may have a thread (MaxConnectionsPerIP), with the key it
    // counts under set; reports the refusal when not.
    virtual bool AdmitsClient(TNetTCPServerConnection& AConnection) = 0;
    // A peer thread of AThreadMgr for an accepted connection, listed and launched. Raises when
    // no thread can be made; the connection goes with it.
    virtual void StartPeerThread(std::unique_ptr<TNetTCPServerConnection> AConnection,
                                 const std::shared_ptr<TNetThreadMgr>& AThreadMgr) = 0;
    // An accept or a thread creation failed (reported at most once a second).
    virtual void ReportListenerError(const std::string& AMessage) = 0;
};
