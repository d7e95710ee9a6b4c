#include "http/TNetHTTPServer.h"

#include "http/NetHTTPExceptions.h"
#include "http/NetHTTPText.h"
#include "tcp/TNetPeerThread.h"
#include "tcp/TNetTCPServerConnection.h"

#include <fstream>

namespace {

// The connection's buffered input as the request reader sees it.
class TConnectionInput : public INetHTTPInput {
public:
    explicit TConnectionInput(TNetTCPConnection& AConnection) : FConnection(AConnection) {}
    const char* Data() const override { return FConnection.PendingInput().Memory(); }
    size_t Size() const override { return static_cast<size_t>(FConnection.InputSize()); }
    void Discard(size_t ACount) override { FConnection.DiscardInput(static_cast<int>(ACount)); }
    size_t Fill(int ATimeout) override {
        const int received = FConnection.FillInput(true, ATimeout);
        // A close with bytes still buffered returns 0 instead of raising.
        if (received <= 0 && !FConnection.IsConnected())
            throw ENetConnClosedGracefully();
        return received > 0 ? static_cast<size_t>(received) : 0;
    }

private:
    TNetTCPConnection& FConnection;
};

// Closes the connection on every way out of ServeConnection.
class TCloseOnExit {
public:
    explicit TCloseOnExit(TNetTCPConnection& AConnection) : FConnection(AConnection) {}
    ~TCloseOnExit() {
        try {
            FConnection.CloseConnection();
        } catch (...) {
            // Closing is the last step; a failure there has nothing left to spoil.
        }
    }
    TCloseOnExit(const TCloseOnExit&) = delete;
    TCloseOnExit& operator=(const TCloseOnExit&) = delete;

private:
    TNetTCPConnection& FConnection;
};

bool IsGetCommand(const std::string& ACommand) {
    return ACommand == "GET" || ACommand == "POST" || ACommand == "HEAD";
}

const std::string SessionCookieName = "NETHTTPSESSIONID";
// A string, not a literal: gcc 12 warns of a false overlap when a literal is assigned here.
const std::string SessionCookiePath = "/";

} // namespace

TNetHTTPServer::TNetHTTPServer()
    : FRequestMemory(std::make_shared<TNetHTTPMemoryBudget>()),
      FSessionList(std::make_unique<TNetHTTPSessionList>()),
      FMimeTable(std::make_unique<TNetMimeTable>()),
      FSmallFiles(std::make_unique<TNetSmallFileCache>()) {
    SetDefaultPort(80);
    // HTTP clients speak first: one that stays silent for as long as a request may take never
    // costs a thread.
    SetDeferAcceptTime(FLimits.RequestTimeout);
    SetMemoryBudget(FRequestMemory);
}

TNetHTTPServer::~TNetHTTPServer() {
    try {
        SetActive(false);
    } catch (...) {
        // Deactivation ends in any case; the base destructor repeats it.
    }
    DetachPeerThreads();
    StopSessions();
}

void TNetHTTPServer::SetSessionState(bool AValue) {
    if (Active())
        throw ENetHTTPCannotSwitchSessionStateWhenActive();
    FSessionState = AValue;
}

void TNetHTTPServer::StartSessions() {
    if (FSessionTimeOut <= 0)
        FSessionState = false;
    else
        FSessionList->SetIdleTime(FSessionTimeOut);
    FSessionList->OnSessionStart = OnSessionStart;
    FSessionList->OnSessionEnd = OnSessionEnd;
    if (FSessionState)
        FSessionCleaner = std::make_unique<TNetHTTPSessionCleanerThread>(*FSessionList);
}

void TNetHTTPServer::StopSessions() {
    if (FSessionCleaner) {
        FSessionCleaner->StopAndWait();
        FSessionCleaner.reset();
    }
    FSessionList->ClearSessions();
}

void TNetHTTPServer::SetActive(bool AValue) {
    if (AValue == Active())
        return;
    if (!AValue) {
        // Peer threads first, so no request still in flight starts a session after the clear.
        try {
            TNetTCPServer::SetActive(false);
        } catch (...) {
            StopSessions();
            throw;
        }
        StopSessions();
        return;
    }
    StartSessions();
    try {
        TNetTCPServer::SetActive(true);
    } catch (...) {
        StopSessions(); // a failed activation leaves no cleaner thread behind
        throw;
    }
}

bool TNetHTTPServer::ServeConnection(TNetPeerThread& AThread) {
    TNetTCPServerConnection& connection = *AThread.ServedConnection();
    TCloseOnExit closer(connection);
    TConnectionInput input(connection);
    TNetHTTPRequestReader reader(input, FLimits, FRequestMemory.get());
    const std::string peerIP = connection.Binding().RemoteIP();
    std::string command, target, version;
    // The request line is split where it was received: it is never copied as a whole.
    auto parse = [&](std::string_view ALine) {
        ParseRequestLineOf(peerIP, ALine, command, target, version);
    };
    if (Refused(reader.ReadLineWith(parse), peerIP, reader))
        return true;
    if (IsGetCommand(command) && OnCommandGet)
        ServeRequest(AThread, connection, reader, peerIP, command, target, version);
    else if (connection.MarkRequestArrived() && OnCommandOther)
        OnCommandOther(AThread, command, target, version);
    return true;
}

bool TNetHTTPServer::Refused(const std::error_code& AReason, const std::string& APeerIP,
                             const TNetHTTPRequestReader& AReader) {
    if (!AReason)
        return false;
    ReportRefusal(AReason, APeerIP, AReader.LimitOf(AReason));
    return true;
}

// The request-line and credential failures stay exceptions that end the peer thread, as they
// always have; they are refusals too.
void TNetHTTPServer::ParseRequestLineOf(const std::string& APeerIP, std::string_view ALine,
                                        std::string& ACommand, std::string& ATarget,
                                        std::string& AVersion) {
    try {
        ParseRequestLine(ALine, ACommand, ATarget, AVersion);
    } catch (const ENetHTTPErrorParsingCommand&) {
        ReportRefusal(TNetHTTPRefusalReason::BadRequestLine, APeerIP, 0);
        throw;
    }
}

void TNetHTTPServer::FillRequest(TNetHTTPRequestInfo& ARequest, const std::string& ATarget,
                                 const std::string& AVersion) {
    try {
        FillRequestInfo(ARequest, ATarget, AVersion, FParseParams);
    } catch (const ENetHTTPUnsupportedAuthorisationScheme&) {
        ReportRefusal(TNetHTTPRefusalReason::BadAuthorization, ARequest.RemoteIP, 0);
        throw;
    } catch (const ENetTableNotFound&) {
        ReportRefusal(TNetHTTPRefusalReason::BadAuthorization, ARequest.RemoteIP, 0);
        throw;
    }
}

std::error_code TNetHTTPServer::ReadHeaders(TNetPeerThread& /*AThread*/,
                                            TNetHTTPRequestInfo& ARequestInfo,
                                            TNetHTTPRequestReader& AReader) {
    ARequestInfo.ParamText.clear();
    ARequestInfo.Headers.Clear();
    return AReader.ReadHeaders(ARequestInfo.Headers);
}

// The records live on the peer thread's stack: they end with the request.
void TNetHTTPServer::ServeRequest(TNetPeerThread& AThread, TNetTCPServerConnection& AConnection,
                                  TNetHTTPRequestReader& AReader, const std::string& APeerIP,
                                  const std::string& ACommand, const std::string& ATarget,
                                  const std::string& AVersion) {
    TNetHTTPRequestInfo request;
    request.RemoteIP = APeerIP;
    request.Command = ACommand;
    if (Refused(ReadHeaders(AThread, request, AReader), request.RemoteIP, AReader))
        return;
    // The head is in: from here a busy server no longer takes the connection for a slow one.
    // When it already has, the connection is closed and the refusal reported.
    if (!AConnection.MarkRequestArrived() || !AdmitsRequest(AThread, request))
        return;
    if (Refused(AReader.ReadBody(request.Headers, request.Command, request.ParamText),
                request.RemoteIP, AReader))
        return;
    FillRequest(request, ATarget, AVersion);

    TNetHTTPResponseInfo response(&AConnection);
    AttachSession(request, response);
    if (!OnlyCtl(FServerSoftware))
        response.ServerSoftware = FServerSoftware;
    CallHandler(AThread, request, response);
    response.Finish(ACommand == "HEAD");
}

bool TNetHTTPServer::AdmitsRequest(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest) {
    if (!OnRequestHead)
        return true;
    OnRequestHead(AThread, ARequest);
    return CountAsClient(AThread, ARequest.RemoteIP);
}

void TNetHTTPServer::AttachSession(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse) {
    if (!FSessionState)
        return;
    std::shared_ptr<TNetHTTPSession> session;
    for (int i = ARequest.Cookies.FindByName(SessionCookieName); i >= 0 && !session;
         i = ARequest.Cookies.FindByName(SessionCookieName, i + 1))
        session = FSessionList->FindSession(ARequest.Cookies.Items(i).Value, ARequest.RemoteIP);
    if (!session && FAutoStartSession) {
        session = FSessionList->StartSession(ARequest.RemoteIP);
        TNetCookie& cookie = AResponse.Cookies.Add();
        cookie.Name = SessionCookieName;
        cookie.Value = session->Id();
        cookie.Path = SessionCookiePath;
        cookie.MaxAge = FSessionTimeOut / 1000;
    }
    ARequest.Session = session;
    AResponse.Session = session;
}

// A failing handler becomes a 500 answer with its message as the body, unless the message might
// name a file of this machine ("Cannot open file ..."): then the body is the status text, and
// only OnCommandError hears the message.
void TNetHTTPServer::CallHandler(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest,
                                 TNetHTTPResponseInfo& AResponse) {
    try {
        OnCommandGet(AThread, ARequest, AResponse);
    } catch (const std::exception& e) {
        const std::string message = e.what();
        AResponse.SetStatusCode(500);
        AResponse.ContentText = MayNameAFile(message) ? AResponse.StatusText : message;
        if (OnCommandError)
            OnCommandError(AThread, message);
    } catch (...) {
        AResponse.SetStatusCode(500);
        AResponse.ContentText.clear();
    }
}

std::int64_t TNetHTTPServer::AnswerWithFile(TNetPeerThread& /*AThread*/,
                                            TNetHTTPResponseInfo& AResponseInfo,
                                            const std::string& AFileName) {
    return AnswerWithLookedFile(AResponseInfo, AFileName,
                                FSmallFiles->Look(AFileName, SmallFileLimit(AResponseInfo)));
}

std::size_t TNetHTTPServer::SmallFileLimit(const TNetHTTPResponseInfo& AResponseInfo) {
    const int sendBuffer = AResponseInfo.Connection->SendBufferSize();
    return sendBuffer > 0 ? static_cast<std::size_t>(sendBuffer) : 0;
}

std::int64_t TNetHTTPServer::AnswerWithLookedFile(TNetHTTPResponseInfo& AResponseInfo,
                                                  const std::string& AFileName,
                                                  const TNetSmallFileCache::TFile& AFile) {
    if (AResponseInfo.ContentType.empty())
        AResponseInfo.ContentType = FMimeTable->MimeTypeOf(AFileName);
    // A small file (a tracking pixel) goes out with the header in one write, from the copy
    // kept of it while the file stays as it was.
    if (!AFile.Regular)
        throw ENetException("Cannot open file \"" + AFileName + "\".");
    AResponseInfo.ContentLength = AFile.Size;
    if (AFile.Bytes) {
        AResponseInfo.WriteHeader(*AFile.Bytes);
        return static_cast<std::int64_t>(AFile.Bytes->size());
    }
    const long long size = AFile.Size;
    std::ifstream stream(AFileName, std::ios::binary);
    if (!stream.is_open())
        throw ENetException("Cannot open file \"" + AFileName + "\".");
    AResponseInfo.WriteHeader();
    AResponseInfo.Connection->SendStream(stream, true, false);
    return size;
}
