// The tracking server's answer to each request: the content file, status, anti-caching header
// lines and 304, and the recording of the hit. Peer threads, many at once; it holds no lock.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "logging/THostNameCache.h"
#include "tracking/THitLog.h"

class IHitStore;
class TNetPeerThread;
class TVisitorKeys;
class TNetHTTPServer;
struct TNetHTTPRequestInfo;
class TNetHTTPResponseInfo;
struct TKAV_GeneralConfig;
struct THitOutcome;
struct THitRouting;
struct THitPrivacy;

class TTrackingHandler {
public:
    // AVisitorKeys: the day's key of the visitor ids.
    TTrackingHandler(std::shared_ptr<THitLog> AHitLog, TNetHTTPServer& AServer,
                     std::shared_ptr<TVisitorKeys> AVisitorKeys);

    // The head of a GET, HEAD or POST request is in: when its peer is a trusted proxy
    // (TrustedProxies), the client the proxy forwarded for (in the header ForwardedHeader names)
    // takes the peer's place in RemoteIP, and ProxyIP names the proxy. From any other peer, and
    // when that header names no usable client, the request stays as it came. The dashboard's
    // port takes it too.
    static void HTTPServerRequestHead(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo);
    // Whether APeerIP is a trusted proxy under the current settings; the transport does not
    // cap such a peer at MaxConnectionsPerIP. Any thread (the listener's at every accept).
    static bool IsTrustedProxy(const std::string& APeerIP);
    // GET, HEAD and POST: decides the whole answer and sends it, then records the hit (the
    // host name looked up with a deadline), so that no record keeps the client waiting.
    void HTTPServerCommandGet(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo,
                              TNetHTTPResponseInfo& AResponseInfo);
    // Every other method: only a Messages line; the client gets no answer.
    void HTTPServerCommandOther(TNetPeerThread& AThread, const std::string& asCommand,
                                const std::string& asData, const std::string& asVersion);

    // Host names come from ALookup under ALimits from now on (HostNameOf otherwise). Before
    // the server starts.
    void SetHostNameLookup(THostNameCache::TLookup ALookup, THostNameCache::TLimits ALimits);
    // Each recorded hit goes to AStore too, after its files (nullptr: to none). Any thread; a
    // hit being recorded keeps the store it found.
    void SetHitStore(std::shared_ptr<IHitStore> AStore);

private:
    // Decides the answer and sends the file of a GET; AOutcome says how far it got.
    void Answer(const TKAV_GeneralConfig& ASettings, TDateTime ANow,
                const TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                THitOutcome& AOutcome);
    // The records of the hit on their channels, in their order. AWaitForName: the host name
    // may be waited for (up to the cache's deadline); otherwise only a known one is used.
    void RecordHit(const TKAV_GeneralConfig& ASettings, const THitRouting& ARouting,
                   const THitPrivacy& APrivacy, THitFacts& AHit,
                   const TNetHTTPRequestInfo& ARequest, const TNetHTTPResponseInfo& AResponse,
                   const THitOutcome& AOutcome, std::chrono::system_clock::time_point AInstant,
                   bool AWaitForName);
    std::shared_ptr<IHitStore> HitStore() const;

    std::shared_ptr<THitLog> FHitLog;
    TNetHTTPServer& FServer;
    std::unique_ptr<THostNameCache> FHostNames;
    std::shared_ptr<TVisitorKeys> FVisitorKeys;
    // With the store off a hit pays one load of FStoreOn, not the lock.
    std::atomic<bool> FStoreOn{false};
    mutable std::mutex FStoreLock; // guards FStore
    std::shared_ptr<IHitStore> FStore;
};

// The error page of 404 and 405 answers around the given reason phrase.
std::string ErrorPageOf(const std::string& AStatusText);
