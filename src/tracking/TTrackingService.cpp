#include "tracking/TTrackingService.h"

#include <atomic>
#include <cxxabi.h>
#include <sys/stat.h>
#include <typeinfo>

#include "base/IPAddress.h"
#include "base/ProgramDir.h"
#include "config/config.h"
#include "http/TNetHTTPServer.h"
#include "logging/LogText.h"
#include "logging/TSKX_Logger.h"
#include "tcp/TNetThreadMgrReuse.h"
#include "tracking/StartupMessages.h"
#include "tracking/THitLog.h"
#include "tracking/TTLSCertificateWatch.h"
#include "tracking/TTrackingHandler.h"

namespace {

const char* const ServerSoftwareText = "sk_KAV/V1.0";

// The class name of an exception as the start error reports it ("ENetCouldNotBindSocket").
std::string ClassNameOf(const std::exception& AError) {
    const char* mangled = typeid(AError).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return name;
}

// Ports outside 1..65535 never wrap around to another port; 0 only where a run asked for it.
bool UsablePort(const TKAV_GeneralConfig& AConfig) {
    const int port = AConfig.ServerPort;
    return (port >= PortRange.Min && port <= PortRange.Max) ||
           (port == 0 && AConfig.PortZeroAllowed);
}

// The limits of one request and the threads kept, as the settings give them; a change counts
// from the next start.
void ApplyServerLimits(TNetHTTPServer& AServer, const TKAV_GeneralConfig& AConfig) {
    // The settings are clamped to their ranges when read, none below 0.
    AServer.SetMaxConnectionsPerIP(AConfig.MaxConnectionsPerIP);
    AServer.SetHeadTimeoutUnderLoad(AConfig.HeadTimeoutUnderLoad);
    AServer.SetMaxHeaderSize(static_cast<std::size_t>(AConfig.MaxHeaderSize));
    AServer.SetMaxBodySize(static_cast<std::size_t>(AConfig.MaxBodySize));
    AServer.SetMaxRequestMemory(static_cast<std::size_t>(AConfig.MaxRequestMemory));
    // A manager that keeps threads for the next connections, or none: the server then makes a
    // new thread for each (its default manager).
    AServer.SetThreadMgr(AConfig.ReuseThreads > 0
                             ? std::make_shared<TNetThreadMgrReuse>(&AServer, AConfig.ReuseThreads)
                             : nullptr);
}

// The content files are read on every request; one that is missing makes its answers 404,
// which the user should hear of once rather than find out from the log.
void ReportMissingContentFiles(THitLog& AHitLog) {
    for (const char* name : {"1x1.gif", "index.htm", "robots.txt"}) {
        const std::string path = ProgramDir() + name;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            AHitLog.AddSysMessage("Content file \"" + path +
                                  "\" is missing: requests for it are answered 404");
    }
}

std::shared_ptr<TSKX_Logger> MakeLogger(const std::string& ADir, const std::string& AName) {
    auto logger = std::make_shared<TSKX_Logger>(LogDirectoryFor(ADir), AName);
    logger->SetUseLock(true); // peer threads write concurrently
    return logger;
}

} // namespace

// Everything the peer threads reach. The HTTP server's destruction waits for the calls still
// inside it, so the handler, the hit log and the writers outlive every peer thread.
class TTrackingServiceImpl {
public:
    explicit TTrackingServiceImpl(std::shared_ptr<IScreenLists> AScreen);

    void Start();
    void Stop();
    void WireServer();

    std::shared_ptr<IScreenLists> Screen;
    std::shared_ptr<THitLog> HitLog;
    std::unique_ptr<TNetHTTPServer> HTTPServer;
    std::unique_ptr<TTrackingHandler> Handler;
    std::unique_ptr<TTLSCertificateWatch> TLS;
    bool ServerRunning = false;
    std::atomic<int> ListeningPort{0};
    bool ShutDown = false;
};

TTrackingServiceImpl::TTrackingServiceImpl(std::shared_ptr<IScreenLists> AScreen)
    : Screen(std::move(AScreen)) {
    std::string logDir = GeneralConfigSnapshot()->LogDir;
    HitLog = std::make_shared<THitLog>(Screen, MakeLogger(logDir, ""), MakeLogger(logDir, "log2"));
    HTTPServer = std::make_unique<TNetHTTPServer>();
    Handler = std::make_unique<TTrackingHandler>(HitLog, *HTTPServer);
    TNetHTTPServer* server = HTTPServer.get();
    THitLog* hitLog = HitLog.get();
    TLS = std::make_unique<TTLSCertificateWatch>(
        [hitLog](const std::string& AText) { hitLog->AddSysMessage(AText); },
        [server](std::shared_ptr<const TNetSecureAcceptor> AAcceptor) {
            server->SetSecureAcceptor(std::move(AAcceptor));
        });
    WireServer();
}

void TTrackingServiceImpl::WireServer() {
    TTrackingHandler* handler = Handler.get();
    THitLog* hitLog = HitLog.get();
    HTTPServer->OnCommandGet = [handler](TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest,
                                         TNetHTTPResponseInfo& AResponse) {
        handler->HTTPServerCommandGet(AThread, ARequest, AResponse);
    };
    HTTPServer->OnRequestHead = [handler](TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest) {
        handler->HTTPServerRequestHead(AThread, ARequest);
    };
    HTTPServer->SetForwarderTest(&TTrackingHandler::IsTrustedProxy);
    HTTPServer->OnCommandOther = [handler](TNetPeerThread& AThread, const std::string& asCommand,
                                           const std::string& asData,
                                           const std::string& asVersion) {
        handler->HTTPServerCommandOther(AThread, asCommand, asData, asVersion);
    };
    HTTPServer->OnStatus = [hitLog](TNetComponent&, TNetStatus, const std::string& asStatusText) {
        hitLog->AddSysMessage("Server: Status= " + asStatusText);
    };
    // The listener keeps serving after such a failure; the user should still hear of it,
    // but a failure that repeats with every accept must not flood the list.
    HTTPServer->OnListenerError = [hitLog](TNetTCPServer&, const std::string& AMessage) {
        hitLog->Messages().Report(ServerErrorKind, "Server: " + AMessage);
    };
    // A request the handler could not answer (a content file gone, descriptors run out): the
    // client got a 500 without the message, the user hears it here.
    HTTPServer->OnCommandError = [hitLog](TNetPeerThread&, const std::string& AMessage) {
        hitLog->Messages().Report(AnswerErrorKind,
                                  "Error answering a request: " +
                                      LogField(AMessage, TLogEscape::Text, MessageTextLimit));
    };
    // Fires on the listener thread too, up to thousands of times a second in an attack: the
    // throttle only counts here, and the front end's tick writes the lines.
    HTTPServer->OnRefused = [hitLog](TNetTCPServer&, const TNetRefusal& ARefusal) {
        hitLog->Messages().ReportRefusal(ARefusal.Text(), ARefusal.PeerIP, ARefusal.Limit);
    };
}

void TTrackingServiceImpl::Start() {
    if (HTTPServer->Active())
        Screen->RunServingChanges([&] { HTTPServer->SetActive(false); });
    const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
    HTTPServer->SetServerSoftware(ServerSoftwareText);
    HTTPServer->Bindings().Clear();
    HTTPServer->SetDefaultPort(config->ServerPort);
    // Empty: one socket for every IPv4 and IPv6 address (IPv4 alone where there is no IPv6).
    HTTPServer->Bindings().AddBinding().SetIP(CanonicalAddressText(config->BindAddress));
    ApplyServerLimits(*HTTPServer, *config);
    try {
        HitLog->AddSysMessage("Trying to start server ...");
        if (!UsablePort(*config)) {
            HitLog->AddSysMessage("Port " + std::to_string(config->ServerPort) +
                                  " is outside 1..65535: the server is not started.");
            return;
        }
        if (!ValidBindAddress(config->BindAddress)) {
            HitLog->AddSysMessage(
                "BindAddress \"" +
                LogField(config->BindAddress, TLogEscape::Text, MessageTextLimit) +
                "\" is no IPv4 or IPv6 address: the server is not started.");
            return;
        }
        // Before the first connection: the port speaks TLS from its first accept on.
        TLS->Apply(config->TLSCertFile, config->TLSKeyFile);
        HTTPServer->SetActive(true);
        const TNetSocketHandle& binding = HTTPServer->Bindings().Items(0);
        ListeningPort = binding.Port();
        // "0.0.0.0:88" for IPv4, "[::]:88" for the socket of both families.
        HitLog->AddSysMessage("Server started, listening on " +
                              AddressAndPort(binding.IP(), binding.Port()) + ".");
        ServerRunning = true;
        ReportMissingContentFiles(*HitLog);
    } catch (const std::exception& error) {
        HitLog->AddSysMessage("Exception " + ClassNameOf(error) +
                              " when starting server. Error is:\"" + error.what() + "\".");
    }
}

void TTrackingServiceImpl::Stop() {
    HitLog->AddSysMessage("Trying to stop server ...");
    // Peer threads may be waiting for the front end's thread to show their hit; it keeps
    // carrying out those changes while the stop waits, so the stop ends when they do.
    try {
        Screen->RunServingChanges([&] { HTTPServer->SetActive(false); });
    } catch (const std::exception& error) {
        HitLog->AddSysMessage("Exception " + ClassNameOf(error) +
                              " when stopping server. Error is:\"" + error.what() + "\".");
    }
    HitLog->Messages().Flush(); // what was counted while it ran is told before it ends
    HitLog->AddSysMessage("Server stopped.");
    ServerRunning = false;
    ListeningPort = 0;
}

TTrackingService::TTrackingService(std::shared_ptr<IScreenLists> AScreen)
    : FImpl(std::make_shared<TTrackingServiceImpl>(std::move(AScreen))) {}

TTrackingService::~TTrackingService() {
    Shutdown();
}

void TTrackingService::StartStopServer(bool AStart) {
    if (FImpl->ShutDown)
        return;
    if (AStart && !FImpl->ServerRunning)
        FImpl->Start();
    else
        FImpl->Stop();
}

bool TTrackingService::ServerRunning() const {
    return FImpl->ServerRunning;
}

int TTrackingService::ListeningPort() const {
    return FImpl->ListeningPort;
}

void TTrackingService::SetLogDir(const std::string& ADir) {
    FImpl->HitLog->OverviewLogger().SetDirectory(LogDirectoryFor(ADir));
    FImpl->HitLog->DetailLogger().SetDirectory(LogDirectoryFor(ADir));
}

std::string TTrackingService::LogDirectory() const {
    return FImpl->HitLog->OverviewLogger().Directory();
}

void TTrackingService::AddStartupMessages() {
    for (const std::string& line :
         StartupMessages(*GeneralConfigSnapshot(), ProgramDir(), LogDirectory()))
        AddSysMessage(line);
}

void TTrackingService::SetOnOverviewLine(std::function<void(const std::string& ALine)> AEvent) {
    FImpl->HitLog->SetOnOverviewLine(std::move(AEvent));
}

void TTrackingService::AddLoadNotes() {
    for (const TLoadNote& note : TakeLoadNotes())
        AddSysMessage(note.AboutLogDir ? note.Text + ": the log files go to \"" +
                                             FImpl->HitLog->OverviewLogger().Directory() + "\""
                                       : note.Text);
}

void TTrackingService::AddSysMessage(const std::string& AText) {
    FImpl->HitLog->AddSysMessage(AText);
}

void TTrackingService::Tick() {
    if (FImpl->ServerRunning) {
        const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
        FImpl->TLS->Check(config->TLSCertFile, config->TLSKeyFile);
    }
    FImpl->HitLog->Messages().Tick();
}

void TTrackingService::SetLogFileWriteForTesting(
    const std::function<ssize_t(int, const char*, std::size_t)>& AWrite) {
    FImpl->HitLog->OverviewLogger().SetFileWriteForTesting(AWrite);
    FImpl->HitLog->DetailLogger().SetFileWriteForTesting(AWrite);
}

void TTrackingService::Shutdown() {
    if (FImpl->ShutDown)
        return;
    FImpl->ShutDown = true;
    TTrackingServiceImpl& impl = *FImpl;
    // A peer thread that outlived the stop's wait may be inside the handler; the server's
    // destruction waits for it, while the front end keeps serving what it still hands over.
    impl.HitLog->DetachScreen();
    impl.Screen->RunServingChanges([&impl] {
        if (impl.HTTPServer->Active())
            impl.HTTPServer->SetActive(false);
        impl.HTTPServer.reset();
    });
    impl.ServerRunning = false;
}
