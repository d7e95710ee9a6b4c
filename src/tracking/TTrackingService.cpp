#include "tracking/TTrackingService.h"

#include <atomic>
#include <cxxabi.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

#include "base/DateTime.h"
#include "base/IPAddress.h"
#include "base/ProgramDir.h"
#include "config/config.h"
#include "http/TNetHTTPServer.h"
#include "logging/LogText.h"
#include "logging/TSKX_Logger.h"
#include "tcp/TNetThreadMgrReuse.h"
#include "tls/TNetTLSContext.h"
#include "tracking/HitPrivacy.h"
#include "tracking/IHitStore.h"
#include "tracking/ServerLimits.h"
#include "tracking/StartupMessages.h"
#include "tracking/THitLog.h"
#include "tracking/TTLSCertificateWatch.h"
#include "tracking/TTrackingHandler.h"
#include "tracking/TVisitorKeys.h"

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
    ApplyRequestLimits(AServer, AConfig);
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

// The tag to paste into pages, for this machine (or the certificate's name) and port.
std::string SnippetLineFor(const TKAV_GeneralConfig& AConfig, const TNetTLSContext* ATLS,
                           int APort) {
    char machine[256] = {};
    (void)::gethostname(machine, sizeof machine - 1);
    const std::vector<std::string> none;
    return PixelSnippetLine(SnippetHost(ATLS ? ATLS->Certificate().Names : none,
                                        CanonicalAddressText(AConfig.BindAddress), machine),
                            APort, ATLS != nullptr);
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
    // The store of this run, when a connection is set and the program has a store to make.
    void StartStore(const TKAV_GeneralConfig& AConfig);
    // Hits stop going to the store; it delivers or spools what it holds before it ends.
    void StopStore();
    void RemoveOldLogFiles(const TKAV_GeneralConfig& AConfig);

    std::shared_ptr<IScreenLists> Screen;
    std::shared_ptr<THitLog> HitLog;
    std::shared_ptr<TVisitorKeys> VisitorKeys;
    std::unique_ptr<TNetHTTPServer> HTTPServer;
    std::unique_ptr<TTrackingHandler> Handler;
    std::unique_ptr<TTLSCertificateWatch> TLS;
    std::shared_ptr<IHitStore> Store; // while the server runs with a store
    bool ServerRunning = false;
    std::atomic<int> ListeningPort{0};
    bool ShutDown = false;
    // The last clean-up of old log files: the day, the days kept and the directory it ran
    // for. Front end's thread only.
    int CleanedDay = -1;
    int CleanedKeepDays = 0;
    std::string CleanedDirectory;
};

TTrackingServiceImpl::TTrackingServiceImpl(std::shared_ptr<IScreenLists> AScreen)
    : Screen(std::move(AScreen)) {
    std::string logDir = GeneralConfigSnapshot()->LogDir;
    HitLog = std::make_shared<THitLog>(Screen, MakeLogger(logDir, ""), MakeLogger(logDir, "log2"));
    // Its lines end in LF alone (WriteJsonLine), not in the CR LF of the other two.
    auto jsonLogger = MakeLogger(logDir, "jsonl");
    jsonLogger->SetAddLineBreak(false);
    HitLog->SetJsonLogger(std::move(jsonLogger));
    THitLog* hitLog = HitLog.get();
    VisitorKeys = std::make_shared<TVisitorKeys>(
        VisitorKeyFilePath(), [hitLog](const std::string& AText) { hitLog->AddSysMessage(AText); });
    HTTPServer = std::make_unique<TNetHTTPServer>();
    Handler = std::make_unique<TTrackingHandler>(HitLog, *HTTPServer, VisitorKeys);
    TNetHTTPServer* server = HTTPServer.get();
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
        hitLog->Messages().ReportRefusal(
            ARefusal.Text(), AddressForMessages(*GeneralConfigSnapshot(), ARefusal.PeerIP),
            ARefusal.Limit);
    };
}

void TTrackingServiceImpl::Start() {
    if (HTTPServer->Active())
        HTTPServer->SetActive(false);
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
        StartStore(*config);
        HTTPServer->SetActive(true);
        const TNetSocketHandle& binding = HTTPServer->Bindings().Items(0);
        ListeningPort = binding.Port();
        // "0.0.0.0:88" for IPv4, "[::]:88" for the socket of both families.
        HitLog->AddSysMessage("Server started, listening on " +
                              AddressAndPort(binding.IP(), binding.Port()) + ".");
        HitLog->AddSysMessage(SnippetLineFor(*config, TLS->Current().get(), binding.Port()));
        ServerRunning = true;
        ReportMissingContentFiles(*HitLog);
    } catch (const std::exception& error) {
        HitLog->AddSysMessage("Exception " + ClassNameOf(error) +
                              " when starting server. Error is:\"" + error.what() + "\".");
        StopStore();
    }
}

void TTrackingServiceImpl::StartStore(const TKAV_GeneralConfig& AConfig) {
    const THitStoreFactory& factory = HitStoreFactory();
    if (AConfig.StoreConnection.empty() || !factory)
        return;
    THitStoreSettings settings;
    settings.Connection = AConfig.StoreConnection;
    settings.SpoolDir = ProgramDir() + "sk_KAV.spool";
    settings.MaxSpoolBytes = static_cast<std::uint64_t>(AConfig.StoreMaxSpoolBytes);
    // Shared: a peer thread that outlived a stop may be the one that ends the store.
    settings.OnMessage = [hitLog = HitLog](const std::string& AText) {
        hitLog->AddSysMessage(AText);
    };
    Store = factory(std::move(settings));
    Handler->SetHitStore(Store);
}

void TTrackingServiceImpl::StopStore() {
    if (!Store)
        return;
    Handler->SetHitStore(nullptr);
    // A peer thread that outlived the server's stop may still hold it; the last one to let go
    // ends it.
    Store.reset();
}

void TTrackingServiceImpl::Stop() {
    HitLog->AddSysMessage("Trying to stop server ...");
    // No peer thread waits for the front end, so the stop ends as soon as they do.
    try {
        HTTPServer->SetActive(false);
    } catch (const std::exception& error) {
        HitLog->AddSysMessage("Exception " + ClassNameOf(error) +
                              " when stopping server. Error is:\"" + error.what() + "\".");
    }
    StopStore();
    HitLog->Messages().Flush(); // what was counted while it ran is told before it ends
    HitLog->AddSysMessage("Server stopped.");
    ServerRunning = false;
    ListeningPort = 0;
}

void TTrackingServiceImpl::RemoveOldLogFiles(const TKAV_GeneralConfig& AConfig) {
    // At the first tick, at each day change, and when the days kept or the directory change.
    const int keep = AConfig.KeepLogDays;
    const int today = static_cast<int>(DateOf(Now()));
    const std::string directory = HitLog->OverviewLogger().Directory();
    if (keep <= 0 ||
        (today == CleanedDay && keep == CleanedKeepDays && directory == CleanedDirectory))
        return;
    CleanedDay = today;
    CleanedKeepDays = keep;
    CleanedDirectory = directory;
    int removed = 0;
    bool failed = false;
    for (const char* extension : DayFileExtensions) {
        bool failedHere = false;
        removed += TSKX_Logger::DeleteOldDayFiles(directory, extension, keep, failedHere);
        failed = failed || failedHere;
    }
    HitLog->AddSysMessage("Log files older than " + std::to_string(keep) + " days removed from \"" +
                          directory + "\": " + std::to_string(removed) +
                          (failed ? " (some could not be removed)" : ""));
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
    FImpl->HitLog->JsonLogger()->SetDirectory(LogDirectoryFor(ADir));
}

std::string TTrackingService::LogDirectory() const {
    return FImpl->HitLog->OverviewLogger().Directory();
}

void TTrackingService::AddStartupMessages() {
    for (const std::string& line :
         StartupMessages(*GeneralConfigSnapshot(), ProgramDir(), LogDirectory()))
        AddSysMessage(line);
}

void TTrackingService::AddOnOverviewLine(
    std::function<void(const std::string& ALine, const TFilePlace& APlace)> AEvent) {
    FImpl->HitLog->AddOnOverviewLine(std::move(AEvent));
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
    // Yesterday's key is gone at midnight, also when no hit comes to replace it.
    FImpl->VisitorKeys->Renew(static_cast<int>(DateOf(Now())));
    const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
    if (FImpl->ServerRunning)
        FImpl->TLS->Check(config->TLSCertFile, config->TLSKeyFile);
    FImpl->RemoveOldLogFiles(*config);
    FImpl->HitLog->Messages().Tick();
}

void TTrackingService::SetLogFileWriteForTesting(
    const std::function<ssize_t(int, const char*, std::size_t)>& AWrite) {
    FImpl->HitLog->OverviewLogger().SetFileWriteForTesting(AWrite);
    FImpl->HitLog->DetailLogger().SetFileWriteForTesting(AWrite);
    FImpl->HitLog->JsonLogger()->SetFileWriteForTesting(AWrite);
}

void TTrackingService::SetHostNameLookupForTesting(THostNameCache::TLookup ALookup,
                                                   THostNameCache::TLimits ALimits) {
    FImpl->Handler->SetHostNameLookup(std::move(ALookup), ALimits);
}

void TTrackingService::Shutdown() {
    if (FImpl->ShutDown)
        return;
    FImpl->ShutDown = true;
    TTrackingServiceImpl& impl = *FImpl;
    // A peer thread that outlived the stop's wait may be inside the handler; the server's
    // destruction waits for it.
    impl.HitLog->DetachScreen();
    if (impl.HTTPServer->Active())
        impl.HTTPServer->SetActive(false);
    impl.HTTPServer.reset();
    impl.StopStore();
    impl.ServerRunning = false;
}
