#include "tracking/TTrackingService.h"

#include <atomic>
#include <cxxabi.h>
#include <typeinfo>

#include "base/ProgramDir.h"
#include "config/config.h"
#include "http/TNetHTTPServer.h"
#include "logging/TSKX_Logger.h"
#include "tracking/StartupMessages.h"
#include "tracking/THitLog.h"
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
    WireServer();
}

void TTrackingServiceImpl::WireServer() {
    TTrackingHandler* handler = Handler.get();
    THitLog* hitLog = HitLog.get();
    HTTPServer->OnCommandGet = [handler](TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest,
                                         TNetHTTPResponseInfo& AResponse) {
        handler->HTTPServerCommandGet(AThread, ARequest, AResponse);
    };
    HTTPServer->OnCommandOther = [handler](TNetPeerThread& AThread, const std::string& asCommand,
                                           const std::string& asData,
                                           const std::string& asVersion) {
        handler->HTTPServerCommandOther(AThread, asCommand, asData, asVersion);
    };
    HTTPServer->OnStatus = [hitLog](TNetComponent&, TNetStatus, const std::string& asStatusText) {
        hitLog->AddSysMessage("Server: Status= " + asStatusText);
    };
    // The listener keeps serving after such a failure; the user should still hear of it.
    HTTPServer->OnListenerError = [hitLog](TNetTCPServer&, const std::string& AMessage) {
        hitLog->AddSysMessage("Server: " + AMessage);
    };
}

void TTrackingServiceImpl::Start() {
    if (HTTPServer->Active())
        Screen->RunServingChanges([&] { HTTPServer->SetActive(false); });
    HTTPServer->SetServerSoftware(ServerSoftwareText);
    HTTPServer->Bindings().Clear();
    HTTPServer->SetDefaultPort(GeneralConfigSnapshot()->ServerPort);
    HTTPServer->Bindings().AddBinding();
    try {
        HitLog->AddSysMessage("Trying to start server ...");
        HTTPServer->SetActive(true);
        const TNetSocketHandle& binding = HTTPServer->Bindings().Items(0);
        ListeningPort = binding.Port();
        HitLog->AddSysMessage("Server started, listening on " + binding.IP() + ":" +
                              std::to_string(binding.Port()) + ".");
        ServerRunning = true;
    } catch (const std::exception& error) {
        HitLog->AddSysMessage("Exception " + ClassNameOf(error) + " when starting server. Error is:\"" +
                              error.what() + "\".");
    }
}

void TTrackingServiceImpl::Stop() {
    HitLog->AddSysMessage("Trying to stop server ...");
    // Peer threads may be waiting for the front end's thread to show their hit; it keeps
    // carrying out those changes while the stop waits, so the stop ends when they do.
    try {
        Screen->RunServingChanges([&] { HTTPServer->SetActive(false); });
    } catch (const std::exception& error) {
        HitLog->AddSysMessage("Exception " + ClassNameOf(error) + " when stopping server. Error is:\"" +
                              error.what() + "\".");
    }
    HitLog->AddSysMessage("Server stopped.");
    ServerRunning = false;
    ListeningPort = 0;
}

TTrackingService::TTrackingService(std::shared_ptr<IScreenLists> AScreen)
    : FImpl(std::make_shared<TTrackingServiceImpl>(std::move(AScreen))) {}

TTrackingService::~TTrackingService() { Shutdown(); }

void TTrackingService::StartStopServer(bool AStart) {
    if (FImpl->ShutDown)
        return;
    if (AStart && !FImpl->ServerRunning)
        FImpl->Start();
    else
        FImpl->Stop();
}

bool TTrackingService::ServerRunning() const { return FImpl->ServerRunning; }

int TTrackingService::ListeningPort() const { return FImpl->ListeningPort; }

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

void TTrackingService::AddSysMessage(const std::string& AText) { FImpl->HitLog->AddSysMessage(AText); }

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
