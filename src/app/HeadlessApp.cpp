#include "app/HeadlessApp.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <thread>

#include "config/config.h"
#include "tracking/TQueuedScreenLists.h"
#include "tracking/TTrackingService.h"

namespace {

const char* const AppTitleText = "sk_KAV V1.0";

// Each entry is written whole with one call, so lines of concurrent hits never mix.
void PrintEntry(TScreenLog ALog, const std::string& AText) {
    std::FILE* out = ALog == TScreenLog::Messages ? stderr : stdout;
    std::string entry = AText + "\n";
    std::fwrite(entry.data(), 1, entry.size(), out);
    std::fflush(out);
}

// SIGINT and SIGTERM are taken by one thread with sigwait: the handler-free way that lets the
// main thread wake up and shut down in order.
sigset_t ShutdownSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The thread shares the lists, so a signal that comes late during exit finds them alive.
void StartSignalThread(std::atomic<bool>& AStopRequested,
                       std::shared_ptr<TQueuedScreenLists> ALists) {
    std::thread([&AStopRequested, ALists] {
        sigset_t set = ShutdownSignals();
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        AStopRequested.store(true);
        ALists->Wake();
    }).detach();
}

void ApplyPortOverride(std::optional<int> APort) {
    if (!APort)
        return;
    ChangeGeneralConfig([&](TKAV_GeneralConfig& AConfig) { AConfig.ServerPort = *APort; });
}

} // namespace

int RunHeadlessApp(std::optional<int> APortOverride) {
    sigset_t signals = ShutdownSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // every later thread inherits the mask
    std::signal(SIGPIPE, SIG_IGN);

    // The lists keep no lines: the terminal scrolls, so there is nothing to trim.
    auto lists = std::make_shared<TQueuedScreenLists>(PrintEntry, false);
    if (!LoadConfig())
        std::fputs("Error loading configuration, using default values\n", stderr);
    ApplyPortOverride(APortOverride);

    static std::atomic<bool> stopRequested{false};
    StartSignalThread(stopRequested, lists);

    int status = 0;
    {
        TTrackingService service(lists); // creates the two log writers
        service.AddSysMessage(std::string(AppTitleText) + " - Program started");
        service.AddStartupMessages();
        service.StartStopServer(true);
        if (service.ServerRunning()) {
            lists->ServeUntil([] { return stopRequested.load(); });
            service.StartStopServer(false);
            service.AddSysMessage(std::string(AppTitleText) + " - Program stopped");
        } else {
            status = 1;
        }
        service.Shutdown();
    }
    lists->Close();
    return status;
}
