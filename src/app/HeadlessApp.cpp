#include "app/HeadlessApp.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/THeadlessOutput.h"
#include "config/config.h"
#include "tracking/TQueuedScreenLists.h"
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

// The thread shares the lists, so a signal that comes late during exit finds them alive.
void StartSignalThread(std::shared_ptr<TQueuedScreenLists> ALists) {
    std::thread([ALists] {
        sigset_t set = HandledSignals();
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0)
                continue;
            (signal == SIGHUP ? GReloadRequested : GStopRequested).store(true);
            ALists->Wake();
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
// port stays until the next start.
void ReloadSettings(TTrackingService& AService, const TAppOptions& AOptions) {
    if (!LoadConfig()) {
        AService.AddSysMessage("Error loading configuration, keeping the current values");
        return;
    }
    ApplyOverrides(AOptions);
    AService.SetLogDir(GeneralConfigSnapshot()->LogDir);
    AService.AddLoadNotes();
    AService.AddSysMessage("Configuration re-read (SIGHUP); a new port takes effect at the "
                           "next start");
}

// Serves the front end's changes until a stop is asked for; re-reads the settings on SIGHUP
// and lets the throttled Messages lines out once a second.
void Serve(TQueuedScreenLists& ALists, TTrackingService& AService, const TAppOptions& AOptions) {
    while (!GStopRequested.load()) {
        ALists.ServeUntil([] { return GStopRequested.load() || GReloadRequested.load(); },
                          std::chrono::steady_clock::now() + TickInterval);
        if (GReloadRequested.exchange(false))
            ReloadSettings(AService, AOptions);
        AService.Tick();
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
    auto print = [output](TScreenLog ALog, const std::string& AText) {
        output->Push(ALog == TScreenLog::Messages ? THeadlessOutput::TStream::Err
                                                  : THeadlessOutput::TStream::Out,
                     AText);
    };
    // The lists keep no lines: the terminal scrolls, so there is nothing to trim.
    auto lists = std::make_shared<TQueuedScreenLists>(print, false);
    if (!LoadConfig())
        output->Push(THeadlessOutput::TStream::Err,
                     "Error loading configuration, using default values");
    ApplyOverrides(AOptions);
    StartSignalThread(lists);

    int status = 0;
    {
        TTrackingService service(lists); // creates the two log writers
        service.AddSysMessage(std::string(AppTitleText) + " - Program started");
        service.AddStartupMessages();
        service.AddLoadNotes();
        service.StartStopServer(true);
        if (service.ServerRunning()) {
            Serve(*lists, service, AOptions);
            service.StartStopServer(false);
            service.AddSysMessage(std::string(AppTitleText) + " - Program stopped");
        } else {
            status = 1;
        }
        service.Shutdown();
    }
    lists->Close();
    output->Close(OutputGrace);
    return status;
}
