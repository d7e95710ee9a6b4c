// Today's hits for the tray tip: the lines of today's overview file as it was when counting
// began, and each line the tracking service writes to it since. Window's thread, except the
// sink it hands out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "stats/StatsFile.h"

class TTodayHits {
public:
    TTodayHits();
    ~TTodayHits(); // stops a count in progress and waits for it
    TTodayHits(const TTodayHits&) = delete;
    TTodayHits& operator=(const TTodayHits&) = delete;

    // For TTrackingService::AddOnOverviewLine: counts each line written to the overview file.
    // Any thread; never waits.
    std::function<void(const std::string& ALine, const TFilePlace& APlace)> Sink() const;

    // Counts anew when the day or the log directory (ALogDir, with a trailing '/') differs
    // from the last call's; the file is counted on a worker thread.
    void Update(const std::string& ALogDir);
    // Today's hits; nothing while the file is being counted.
    std::optional<std::uint64_t> Count();

private:
    std::shared_ptr<std::atomic<std::uint64_t>> FLive; // lines written since counting began
    std::shared_ptr<std::atomic<bool>> FCancel;
    std::future<std::uint64_t> FCounting;
    std::optional<std::uint64_t> FFileLines;
    TLogDay FDay;
    std::string FDir;
    bool FStarted = false;
};
