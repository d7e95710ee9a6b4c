// The tracking server's answer to each request: the content file, status, anti-caching header
// lines and 304, and the recording of the hit. Peer threads, many at once; it holds no lock.
#pragma once

#include <memory>
#include <string>

#include "tracking/THitLog.h"

class TNetPeerThread;
class TNetHTTPServer;
struct TNetHTTPRequestInfo;
class TNetHTTPResponseInfo;

class TTrackingHandler {
public:
    TTrackingHandler(std::shared_ptr<THitLog> AHitLog, TNetHTTPServer& AServer);

    // The head of a GET, HEAD or POST request is in: when its peer is a trusted proxy
    // (TrustedProxies), the client the proxy forwarded for (X-Forwarded-For, Forwarded) takes
    // the peer's place in RemoteIP, and ProxyIP names the proxy. From any other peer, and when
    // the headers name no usable client, the request stays as it came.
    void HTTPServerRequestHead(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo);
    // Whether APeerIP is a trusted proxy under the current settings; the transport does not
    // cap such a peer at MaxConnectionsPerIP. Any thread (the listener's at every accept).
    static bool IsTrustedProxy(const std::string& APeerIP);
    // GET, HEAD and POST: decides the whole answer; sends GET files itself.
    void HTTPServerCommandGet(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo,
                              TNetHTTPResponseInfo& AResponseInfo);
    // Every other method: only a Messages line; the client gets no answer.
    void HTTPServerCommandOther(TNetPeerThread& AThread, const std::string& asCommand,
                                const std::string& asData, const std::string& asVersion);

private:
    std::shared_ptr<THitLog> FHitLog;
    TNetHTTPServer& FServer;
};

// The error page of 404 and 405 answers around the given reason phrase.
std::string ErrorPageOf(const std::string& AStatusText);
