// TNetTCPServerConnection: a connection accepted by a TNetTCPServer, owned by its peer thread.
// Same threads as TNetTCPConnection.
#pragma once

#include "tcp/TNetTCPConnection.h"

class TNetTCPServer;

class TNetTCPServerConnection : public TNetTCPConnection {
public:
    explicit TNetTCPServerConnection(TNetTCPServer& AServer) : FServer(AServer) {}

    // The server that accepted the connection; valid while a server call runs on the peer thread.
    TNetTCPServer& Server() const { return FServer; }

private:
    TNetTCPServer& FServer;
};
