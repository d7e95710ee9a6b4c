#include "dashboard/TDashboardService.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "base/IPAddress.h"
#include "config/config.h"
#include "dashboard/DashboardPassword.h"
#include "dashboard/TDashboardSessions.h"
#include "dashboard/TSignInThrottle.h"
#include "http/TNetHTTPServer.h"
#include "logging/LogText.h"
#include "stats/TLiveDay.h"
#include "stats/TLogFileDays.h"
#include "tracking/ServerLimits.h"
#include "tracking/TMessageThrottle.h"
#include "tracking/TTLSCertificateWatch.h"
#include "tracking/TTrackingHandler.h"

namespace {

// Where the listener is to be, as the settings say.
struct TListen {
    int Port = 0;
    std::string Address;     // as the settings write it
    bool NoPassword = false; // then only a loopback address is listened on
    bool operator==(const TListen&) const = default;
};

TListen ListenOf(const TKAV_GeneralConfig& AConfig) {
    return {AConfig.DashboardPort, AConfig.DashboardBindAddress,
            AConfig.DashboardPasswordHash.empty()};
}

bool IsLoopbackText(const std::string& AAddress) {
    const std::string canonical = CanonicalAddressText(AAddress);
    return canonical == "::1" || canonical.starts_with("127.");
}

} // namespace

// What the peer threads reach lives here, beside the server; the server's destruction waits
// for the calls still inside it, so they all outlive every request.
class TDashboardServiceImpl {
public:
    explicit TDashboardServiceImpl(TDashboardService::TSink AMessages);

    void Follow(const TKAV_GeneralConfig& AConfig);
    void Start(const TListen& AListen, const TKAV_GeneralConfig& AConfig);
    void Stop();
    bool Refuses(const TListen& AListen);
    void WireServer();
    void StartCounting();
    void StopCounting();
    void CheckShareToken(const std::string& AToken);

    TDashboardService::TSink Say; // straight to the Messages list
    TMessageThrottle Messages;    // per-request lines, marked as the dashboard's
    TDashboardSessions Sessions;
    TSignInThrottle SignIns;
    std::shared_ptr<TLiveDay> Live = std::make_shared<TLiveDay>();
    // Set while the listener stops: a request still reading days gives up between two pieces
    // of a file, so the stop does not wait for a year of files to be summarised.
    std::atomic<bool> Stopping{false};
    TDaysSourceFactory Days = [this](const TKAV_GeneralConfig& AConfig, const TLogDay& AToday) {
        return std::make_unique<TLogFileDays>(LogDirOf(AConfig), AConfig.NickNames, AToday,
                                              &Stopping);
    };
    std::unique_ptr<TDashboardHandler> Handler;
    std::unique_ptr<TNetHTTPServer> Server;
    std::unique_ptr<TTLSCertificateWatch> TLS;
    bool AnyPort = false;
    bool ShutDown = false;
    TListen Current;               // while running
    std::optional<TListen> Failed; // a start that failed is not tried again for the same
    std::string PasswordHash;      // as last seen: a change ends every session
    std::string ShareToken;        // as last told of
    std::atomic<int> Port{0};

    // Today's count: a worker that takes the hits handed over every UpdateIntervalMs.
    std::thread Counter;
    std::mutex CounterLock; // guards CounterStop
    std::condition_variable CounterWake;
    bool CounterStop = false;
};

TDashboardServiceImpl::TDashboardServiceImpl(TDashboardService::TSink AMessages)
    : Say(std::move(AMessages)),
      Messages([this](const std::string& AText) { Say("Dashboard: " + AText); }) {
    TLS = std::make_unique<TTLSCertificateWatch>(
        [this](const std::string& AText) { Say("Dashboard: " + AText); },
        [this](std::shared_ptr<const TNetSecureAcceptor> AAcceptor) {
            if (Server)
                Server->SetSecureAcceptor(std::move(AAcceptor));
        });
}

void TDashboardServiceImpl::WireServer() {
    Handler = std::make_unique<TDashboardHandler>(Sessions, SignIns, Messages, Live, Days);
    TDashboardHandler* handler = Handler.get();
    Server->OnCommandGet = [handler](TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest,
                                     TNetHTTPResponseInfo& AResponse) {
        handler->CommandGet(AThread, ARequest, AResponse);
    };
    Server->OnCommandOther = [handler](TNetPeerThread& AThread, const std::string&,
                                       const std::string&,
                                       const std::string&) { handler->CommandOther(AThread); };
    // Behind a trusted proxy the client it names is the one signing in and counted.
    Server->SetForwarderTest(&TTrackingHandler::IsTrustedProxy);
    Server->OnRequestHead = &TTrackingHandler::HTTPServerRequestHead;
    Server->OnListenerError = [this](TNetTCPServer&, const std::string& AMessage) {
        Messages.Report(ServerErrorKind, "Server: " + AMessage);
    };
    Server->OnCommandError = [this](TNetPeerThread&, const std::string& AMessage) {
        Messages.Report(AnswerErrorKind,
                        "Error answering a request: " +
                            LogField(AMessage, TLogEscape::Text, MessageTextLimit));
    };
    Server->OnRefused = [this](TNetTCPServer&, const TNetRefusal& ARefusal) {
        Messages.ReportRefusal(ARefusal.Text(), ARefusal.PeerIP, ARefusal.Limit);
    };
}

bool TDashboardServiceImpl::Refuses(const TListen& AListen) {
    const bool portOk = (AListen.Port >= PortRange.Min && AListen.Port <= PortRange.Max) ||
                        (AListen.Port == 0 && AnyPort);
    if (!portOk)
        Say("Dashboard: Port " + std::to_string(AListen.Port) +
            " is outside 1..65535: the dashboard is not started.");
    else if (!ValidBindAddress(AListen.Address))
        Say("Dashboard: BindAddress \"" +
            LogField(AListen.Address, TLogEscape::Text, MessageTextLimit) +
            "\" is no IPv4 or IPv6 address: the dashboard is not started.");
    return !portOk || !ValidBindAddress(AListen.Address);
}

void TDashboardServiceImpl::Start(const TListen& AListen, const TKAV_GeneralConfig& AConfig) {
    if (Refuses(AListen)) {
        Failed = AListen;
        return;
    }
    std::string address = AListen.Address;
    if (AListen.NoPassword && !IsLoopbackText(address)) {
        address = "127.0.0.1";
        Say("Dashboard: no password is set, so it listens on 127.0.0.1 only "
            "(sk_kav --dashboard-password sets one).");
    }
    Stopping = false;
    Server = std::make_unique<TNetHTTPServer>();
    WireServer();
    Server->SetServerSoftware(TDashboardHandler::ServerSoftware);
    Server->SetParseParams(false); // forms and queries are read from ParamText
    Server->SetDefaultPort(AListen.Port);
    Server->Bindings().AddBinding().SetIP(CanonicalAddressText(address));
    ApplyRequestLimits(*Server, AConfig);
    try {
        TLS->Apply(AConfig.TLSCertFile, AConfig.TLSKeyFile);
        Server->SetActive(true);
    } catch (const std::exception& error) {
        Say("Dashboard cannot listen on " + AddressAndPort(address, AListen.Port) + ": " +
            error.what());
        Server.reset();
        Failed = AListen;
        return;
    }
    const TNetSocketHandle& binding = Server->Bindings().Items(0);
    Port = binding.Port();
    Current = AListen;
    Failed.reset();
    StartCounting();
    Say("Dashboard started, listening on " + AddressAndPort(binding.IP(), binding.Port()) + ".");
}

void TDashboardServiceImpl::Stop() {
    Stopping = true;
    StopCounting();
    try {
        Server->SetActive(false);
    } catch (const std::exception& error) {
        Say(std::string("Dashboard: error when stopping: ") + error.what());
    }
    Server.reset(); // waits for the requests still inside the handler
    Handler.reset();
    Messages.Flush();
    Port = 0;
    Say("Dashboard stopped.");
}

void TDashboardServiceImpl::StartCounting() {
    CounterStop = false;
    Counter = std::thread([this] {
        std::unique_lock<std::mutex> lock(CounterLock);
        while (!CounterStop) {
            lock.unlock();
            const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
            Live->Update(LogDirOf(*config), config->NickNames, LogDayOf(Now()));
            lock.lock();
            CounterWake.wait_for(lock,
                                 std::chrono::milliseconds(TDashboardService::UpdateIntervalMs),
                                 [this] { return CounterStop; });
        }
    });
}

void TDashboardServiceImpl::StopCounting() {
    {
        std::lock_guard<std::mutex> guard(CounterLock);
        CounterStop = true;
    }
    CounterWake.notify_all();
    if (Counter.joinable())
        Counter.join();
    Live->Stop(); // nobody looks: hits cost nothing more
}

void TDashboardServiceImpl::CheckShareToken(const std::string& AToken) {
    if (AToken == ShareToken)
        return;
    ShareToken = AToken;
    if (AToken.empty())
        return;
    if (!TDashboardHandler::UsableShareToken(AToken))
        Say("Dashboard: ShareToken must be at least 16 letters, digits or - _ . ~: the share "
            "link is off.");
}

void TDashboardServiceImpl::Follow(const TKAV_GeneralConfig& AConfig) {
    if (AConfig.DashboardPasswordHash != PasswordHash) {
        PasswordHash = AConfig.DashboardPasswordHash;
        Sessions.Clear(); // whoever signed in with the old one signs in again
        if (!PasswordHash.empty() && !ValidPasswordHash(PasswordHash))
            Say("Dashboard: PasswordHash is no hash that sk_kav --dashboard-password writes: "
                "nobody can sign in.");
    }
    CheckShareToken(AConfig.DashboardShareToken);
    const TListen wanted = ListenOf(AConfig);
    if (Server && wanted != Current)
        Stop();
    const bool on = wanted.Port != 0 || AnyPort;
    if (!Server && on && (!Failed || *Failed != wanted))
        Start(wanted, AConfig);
    if (!on)
        Failed.reset();
    if (Server)
        TLS->Check(AConfig.TLSCertFile, AConfig.TLSKeyFile);
}

TDashboardService::TDashboardService(TSink AMessages)
    : FImpl(std::make_unique<TDashboardServiceImpl>(std::move(AMessages))) {}

TDashboardService::~TDashboardService() {
    Shutdown();
}

std::function<void(const std::string&, const TFilePlace&)>
TDashboardService::OverviewLineSink() const {
    return FImpl->Live->Sink();
}

void TDashboardService::Tick() {
    if (FImpl->ShutDown)
        return;
    FImpl->Follow(*GeneralConfigSnapshot());
    FImpl->Messages.Tick();
}

void TDashboardService::Shutdown() {
    if (FImpl->ShutDown)
        return;
    FImpl->ShutDown = true;
    if (FImpl->Server)
        FImpl->Stop();
}

bool TDashboardService::Running() const {
    return FImpl->Server != nullptr;
}

int TDashboardService::ListeningPort() const {
    return FImpl->Port;
}

std::string TDashboardService::LocalAddress() const {
    if (!FImpl->Server)
        return {};
    const std::string address = CanonicalAddressText(FImpl->Server->Bindings().Items(0).IP());
    const std::string host = address.empty() || address == "0.0.0.0" ? "127.0.0.1"
                             : address == "::"                       ? "::1"
                                                                     : address;
    return std::string(FImpl->TLS->Current() ? "https" : "http") + "://" +
           AddressAndPort(host, FImpl->Port) + "/";
}

void TDashboardService::SetDaysSource(TDaysSourceFactory AFactory) {
    FImpl->Days = std::move(AFactory);
}

void TDashboardService::SetAnyPortForTesting(bool AValue) {
    FImpl->AnyPort = AValue;
}
