// TNetHTTPServer: a TCP server that reads one request per connection, answers it and closes.
// Properties and activation on the owner's thread; events and ServeConnection on peer threads.
#pragma once

#include "http/TNetHTTPMemoryBudget.h"
#include "http/TNetHTTPRefusal.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPRequestReader.h"
#include "http/TNetHTTPResponseInfo.h"
#include "http/TNetHTTPSessionList.h"
#include "http/TNetMimeTable.h"
#include "http/TNetSmallFileCache.h"
#include "tcp/TNetTCPServer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

using TNetHTTPGetEvent = std::function<void(
    TNetPeerThread& AThread, TNetHTTPRequestInfo& RequestInfo, TNetHTTPResponseInfo& ResponseInfo)>;
using TNetHTTPOtherEvent =
    std::function<void(TNetPeerThread& Thread, const std::string& asCommand,
                       const std::string& asData, const std::string& asVersion)>;
using TNetHTTPHeadEvent =
    std::function<void(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequestInfo)>;
using TNetHTTPCommandErrorEvent =
    std::function<void(TNetPeerThread& AThread, const std::string& AMessage)>;

class TNetHTTPServer : public TNetTCPServer {
public:
    TNetHTTPServer();
    // Deactivates and waits for peer threads still inside ServeConnection.
    ~TNetHTTPServer() override;

    // Session steps first (cleaner thread, idle time, events), then the TCP activation.
    void SetActive(bool AValue) override;

    bool ParseParams() const { return FParseParams; }
    void SetParseParams(bool AValue) { FParseParams = AValue; }
    const std::string& ServerSoftware() const { return FServerSoftware; }
    void SetServerSoftware(const std::string& AValue) { FServerSoftware = AValue; }
    bool SessionState() const { return FSessionState; }
    // Raises ENetHTTPCannotSwitchSessionStateWhenActive while the server is active.
    void SetSessionState(bool AValue);
    bool AutoStartSession() const { return FAutoStartSession; }
    void SetAutoStartSession(bool AValue) { FAutoStartSession = AValue; }
    int SessionTimeOut() const { return FSessionTimeOut; }
    void SetSessionTimeOut(int AMilliseconds) { FSessionTimeOut = AMilliseconds; }

    // Limits of one request; a request that breaks one is closed unanswered and reported
    // through OnRefused with its TNetHTTPRefusalReason and the limit.
    size_t MaxLineLength() const { return FLimits.MaxLineLength; }
    void SetMaxLineLength(size_t ABytes) { FLimits.MaxLineLength = ABytes; }
    int MaxHeaderLines() const { return FLimits.MaxHeaderLines; }
    void SetMaxHeaderLines(int ACount) { FLimits.MaxHeaderLines = ACount; }
    size_t MaxHeaderSize() const { return FLimits.MaxHeaderSize; }
    void SetMaxHeaderSize(size_t ABytes) { FLimits.MaxHeaderSize = ABytes; }
    size_t MaxBodySize() const { return FLimits.MaxBodySize; }
    void SetMaxBodySize(size_t ABytes) { FLimits.MaxBodySize = ABytes; }
    int RequestTimeout() const { return FLimits.RequestTimeout; }
    void SetRequestTimeout(int AMilliseconds) { FLimits.RequestTimeout = AMilliseconds; }
    // The most request bytes all connections may hold at once (a request that would pass it is
    // refused); 0: no limit. Any thread.
    size_t MaxRequestMemory() const { return FRequestMemory->Limit(); }
    void SetMaxRequestMemory(size_t ABytes) { FRequestMemory->SetLimit(ABytes); }
    // The request bytes held now, with what the connections' TLS holds. Any thread.
    size_t RequestMemoryHeld() const { return FRequestMemory->Held(); }

    TNetHTTPSessionList& SessionList() { return *FSessionList; }
    TNetMimeTable& MimeTable() { return *FMimeTable; }

    // Set before activation.
    // Fires on the peer thread once the head of a GET, POST or HEAD request has arrived,
    // before its body is read. It may name the client the request stands for (RemoteIP, with
    // the peer in ProxyIP); the request then counts under that client for MaxConnectionsPerIP
    // (TNetTCPServer::CountAsClient), and one beyond the limit is closed unanswered.
    TNetHTTPHeadEvent OnRequestHead;
    TNetHTTPGetEvent OnCommandGet;     // GET, POST and HEAD
    TNetHTTPOtherEvent OnCommandOther; // every other command
    // Fires on the peer thread with the message of a failure of OnCommandGet. The client's 500
    // answer carries the message only when it cannot name a file (NetHTTPText.h).
    TNetHTTPCommandErrorEvent OnCommandError;
    TOnSessionStartEvent OnSessionStart;
    TOnSessionEndEvent OnSessionEnd;

    // Reads one request, dispatches it, answers and closes the connection; always true.
    bool ServeConnection(TNetPeerThread& AThread) override;
    // Fills the request's header list (the closing empty line included); clears ParamText.
    // The reason when the request is refused.
    [[nodiscard]] virtual std::error_code ReadHeaders(TNetPeerThread& AThread,
                                                      TNetHTTPRequestInfo& ARequestInfo,
                                                      TNetHTTPRequestReader& AReader);
    // Answers with the file (content type by its name unless set); the bytes of the file sent.
    virtual std::int64_t AnswerWithFile(TNetPeerThread& AThread,
                                        TNetHTTPResponseInfo& AResponseInfo,
                                        const std::string& AFileName);
    // The same with the file as the caller looked at it just now (SmallFiles().Look with
    // SmallFileLimit), so a hit looks at the file once.
    std::int64_t AnswerWithLookedFile(TNetHTTPResponseInfo& AResponseInfo,
                                      const std::string& AFileName,
                                      const TNetSmallFileCache::TFile& AFile);
    // The copies of small files, and the size up to which a connection's answer takes the file
    // from them (its send buffer).
    TNetSmallFileCache& SmallFiles() { return *FSmallFiles; }
    static std::size_t SmallFileLimit(const TNetHTTPResponseInfo& AResponseInfo);

private:
    void StartSessions();
    void StopSessions();
    void ServeRequest(TNetPeerThread& AThread, TNetTCPServerConnection& AConnection,
                      TNetHTTPRequestReader& AReader, const std::string& APeerIP,
                      const std::string& ACommand, const std::string& ATarget,
                      const std::string& AVersion);
    // OnRequestHead, then the count of the request under its client; false when refused.
    bool AdmitsRequest(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest);
    // Reports AReason unless it is empty; true when the request is refused.
    bool Refused(const std::error_code& AReason, const std::string& APeerIP,
                 const TNetHTTPRequestReader& AReader);
    void ParseRequestLineOf(const std::string& APeerIP, std::string_view ALine,
                            std::string& ACommand, std::string& ATarget, std::string& AVersion);
    void FillRequest(TNetHTTPRequestInfo& ARequest, const std::string& ATarget,
                     const std::string& AVersion);
    void AttachSession(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse);
    void CallHandler(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest,
                     TNetHTTPResponseInfo& AResponse);

    bool FParseParams = true;
    std::string FServerSoftware;
    bool FSessionState = false;
    bool FAutoStartSession = false;
    int FSessionTimeOut = 0;
    TNetHTTPLimits FLimits;
    // Shared with the connections, whose TLS gives its part back when they go.
    std::shared_ptr<TNetHTTPMemoryBudget> FRequestMemory;
    std::unique_ptr<TNetHTTPSessionList> FSessionList;
    std::unique_ptr<TNetMimeTable> FMimeTable;
    std::unique_ptr<TNetSmallFileCache> FSmallFiles;
    std::unique_ptr<TNetHTTPSessionCleanerThread> FSessionCleaner;
};
