// TDashboardService: the statistics dashboard on a port of its own, while the program runs and
// whatever the tracking server does. It follows the [Dashboard] settings (port, address,
// password, share token) and the TLS certificate of [TLS], serves with the same limits and
// refusal reports as the tracking port, and counts today in memory from the hits the tracking
// service hands over. Construction, Tick and Shutdown on the front end's thread; the sink on
// any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/FilePlace.h"
#include "dashboard/TDashboardHandler.h"

class TDashboardServiceImpl;

class TDashboardService {
public:
    using TSink = std::function<void(const std::string& AText)>;

    // How often today's count takes the hits handed over and looks for a new day.
    static constexpr int UpdateIntervalMs = 500;

    // AMessages receives the Messages lines (the tracking service's AddSysMessage); it must
    // stay usable until Shutdown has returned.
    explicit TDashboardService(TSink AMessages);
    ~TDashboardService(); // runs Shutdown when it has not run
    TDashboardService(const TDashboardService&) = delete;
    TDashboardService& operator=(const TDashboardService&) = delete;

    // For TTrackingService::AddOnOverviewLine, before the tracking server starts.
    std::function<void(const std::string& ALine, const TFilePlace& APlace)>
    OverviewLineSink() const;

    // Starts, restarts or stops the listener as the settings say now, keeps the certificate in
    // step with them and its files, ends every session when the password changed, and writes
    // the Messages lines that are due. The front end calls it at start and about once a second.
    void Tick();
    // Stops the listener (waiting for its requests) and today's count.
    void Shutdown();

    bool Running() const;
    // The port listened on (0 when not running).
    int ListeningPort() const;
    // Where a browser on this machine finds it: "http://127.0.0.1:8089/" (https with a
    // certificate); empty when not running.
    std::string LocalAddress() const;

    // Where the figures of closed days come from (default: the overview files and their
    // summaries). Set before the first Tick.
    void SetDaysSource(TDaysSourceFactory AFactory);
    // Port 0 in the settings lets the system choose a port instead of switching off.
    void SetAnyPortForTesting(bool AValue);

private:
    std::unique_ptr<TDashboardServiceImpl> FImpl;
};
