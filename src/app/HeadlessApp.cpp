#include "app/HeadlessApp.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/THeadlessOutput.h"
#include "config/config.h"
#include "dashboard/TDashboardService.h"
#include "tracking/IScreenLists.h"
#include "tracking/TTrackingService.h"

namespace {

const char* const AppTitleText = "sk_KAV V1.0";
// How often the throttled Messages lines are looked at while nothing else happens.
constexpr auto TickInterval = std::chrono::seconds(1);
// What the output may still take at the end; a reader that does not read gets no more.
constexpr auto OutputGrace = std::chrono::milliseconds(300);

// Set by the signal thread, read by the main thread's serving loop.
std::atomic<bool> GStopRequested{false};
std::atomic<bool> GReloadRequested{false};

// Wakes the main thread when a signal has come. Shared with the signal thread, which a signal
// may reach late during exit.
struct TWakeUp {
    std::mutex Lock;
    std::condition_variable Signalled;
};

// The screen logs go straight into the bounded output: the terminal scrolls, so there is
// nothing to keep or trim, and a peer thread never waits for the main thread.
class THeadlessScreen : public IScreenLists {
public:
    explicit THeadlessScreen(std::shared_ptr<THeadlessOutput> AOutput)
        : FOutput(std::move(AOutput)) {}
    void Post(TScreenLog ALog, std::string AText, int) override {
        FOutput->Push(ALog == TScreenLog::Messages ? THeadlessOutput::TStream::Err
                                                   : THeadlessOutput::TStream::Out,
                      AText);
    }

private:
    std::shared_ptr<THeadlessOutput> FOutput;
};

// SIGINT and SIGTERM stop, SIGHUP re-reads the settings. They are taken by one thread with
// sigwait: the handler-free way that lets the main thread act on them in order.
sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void StartSignalThread(std::shared_ptr<TWakeUp> AWakeUp) {
    std::thread([AWakeUp] {
        sigset_t set = HandledSignals();
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0)
                continue;
            std::lock_guard<std::mutex> guard(AWakeUp->Lock);
            (signal == SIGHUP ? GReloadRequested : GStopRequested).store(true);
            AWakeUp->Signalled.notify_all();
        }
    }).detach();
}

// What the command line sets for this run; headless never writes the settings file.
void ApplyOverrides(const TAppOptions& AOptions) {
    if (!AOptions.Port && !AOptions.CertFile)
        return;
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) {
        if (AOptions.Port) {
            AConfig.ServerPort = *AOptions.Port;
            AConfig.PortZeroAllowed = true; // --port 0: the system chooses
        }
        if (AOptions.CertFile) {
            AConfig.TLSCertFile = *AOptions.CertFile;
            AConfig.TLSKeyFile = AOptions.KeyFile.value_or("");
        }
    });
}

// SIGHUP: the settings file and both lists anew, for the requests that start afterwards; the
// port stays until the next start. Files that are still being written are waited for (up to a
// second); half a file is never applied.
void ReloadSettings(TTrackingService& AService, const TAppOptions& AOptions) {
    const TSettledLoad result = ReloadConfig([](std::chrono::steady_clock::time_point AUntil) {
        std::this_thread::sleep_until(AUntil);
    });
    if (result == TSettledLoad::Unreadable) {
        AService.AddSysMessage("Error loading configuration, keeping the current values");
        return;
    }
    if (result == TSettledLoad::Unsettled) {
        AService.AddSysMessage("Configuration not re-read: the settings files kept changing for "
                               "a second; keeping the current values");
        return;
    }
    ApplyOverrides(AOptions);
    AService.SetLogDir(GeneralConfigSnapshot()->LogDir);
    AService.AddLoadNotes();
    AService.AddSysMessage("Configuration re-read (SIGHUP); a new port takes effect at the "
                           "next start");
}

// Waits until a stop is asked for; re-reads the settings on SIGHUP and lets the throttled
// Messages lines out once a second, when the dashboard also follows the settings.
void Serve(TWakeUp& AWakeUp, TTrackingService& AService, TDashboardService& ADashboard,
           const TAppOptions& AOptions) {
    while (!GStopRequested.load()) {
        {
            std::unique_lock<std::mutex> lock(AWakeUp.Lock);
            AWakeUp.Signalled.wait_for(lock, TickInterval, [] {
                return GStopRequested.load() || GReloadRequested.load();
            });
        }
        if (GReloadRequested.exchange(false))
            ReloadSettings(AService, AOptions);
        AService.Tick();
        ADashboard.Tick();
    }
}

} // namespace

int RunHeadlessApp(const TAppOptions& AOptions) {
    sigset_t signals = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // every later thread inherits the mask
    std::signal(SIGPIPE, SIG_IGN);

    // Messages to stderr, the screen logs to stdout, through one writer that never holds up
    // the server, however slowly the terminal or pipe is read.
    auto output = std::make_shared<THeadlessOutput>(STDOUT_FILENO, STDERR_FILENO);
    auto screen = std::make_shared<THeadlessScreen>(output);
    if (!LoadConfig())
        output->Push(THeadlessOutput::TStream::Err,
                     "Error loading configuration, using default values");
    ApplyOverrides(AOptions);
    auto wakeUp = std::make_shared<TWakeUp>();
    StartSignalThread(wakeUp);

    int status = 0;
    {
        TTrackingService service(screen); // creates the two log writers
        TDashboardService dashboard(
            [&service](const std::string& AText) { service.AddSysMessage(AText); });
        service.AddOnOverviewLine(dashboard.OverviewLineSink());
        service.AddSysMessage(std::string(AppTitleText) + " - Program started");
        service.AddStartupMessages();
        service.AddLoadNotes();
        service.StartStopServer(true);
        if (service.ServerRunning()) {
            dashboard.Tick();
            Serve(*wakeUp, service, dashboard, AOptions);
            dashboard.Shutdown();
            service.StartStopServer(false);
            service.AddSysMessage(std::string(AppTitleText) + " - Program stopped");
        } else {
            status = 1;
        }
        service.Shutdown();
    }
    output->Close(OutputGrace);
    return status;
}
