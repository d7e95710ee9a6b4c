// The limits of one request and one client that the settings give a server, shared by every
// port the program serves. Owner's thread, while the server is inactive.
#pragma once

class TNetHTTPServer;
struct TKAV_GeneralConfig;

// Connections per client, the head time under load, the header and body sizes and the memory
// all requests may hold (each setting is clamped to its range when read, none below 0).
void ApplyRequestLimits(TNetHTTPServer& AServer, const TKAV_GeneralConfig& AConfig);
