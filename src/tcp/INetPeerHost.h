// INetPeerHost: what a peer thread asks of the server that accepted its connection; the server
// implements it. Called on peer threads, and only through the gate of TNetServerShare, so never
// after the server has gone.
#pragma once

#include <string>
#include <system_error>

class TNetPeerThread;

class INetPeerHost {
public:
    virtual ~INetPeerHost() = default;

    // The per-connection steps: before, the work itself (false when there is none), after.
    virtual void FireConnect(TNetPeerThread& AThread) = 0;
    virtual bool ServeConnection(TNetPeerThread& AThread) = 0;
    virtual void FireDisconnect(TNetPeerThread& AThread) = 0;
    // Counts a client or request closed at a limit and reports it.
    virtual void ReportRefusal(const std::error_code& AReason, const std::string& APeerIP,
                               long long ALimit) = 0;
};
