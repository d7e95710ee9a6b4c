// TLiveDay: today's figures in memory, for answers that must not read a whole day's file: the
// file is read once, then each new hit that the tracking service hands over is counted. The
// sink on any thread (never waits); Update on one thread (the owner's worker); Figures on any.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/FilePlace.h"
#include "stats/StatsRange.h"

class TLiveHitQueue;

class TLiveDay {
public:
    TLiveDay();
    ~TLiveDay();
    TLiveDay(const TLiveDay&) = delete;
    TLiveDay& operator=(const TLiveDay&) = delete;

    // For TTrackingService's overview-line listeners: keeps each new combined line while the
    // day is followed. The queue is shared, so a peer thread that outlives this object still
    // finds it.
    std::function<void(const std::string& ALine, const TFilePlace& APlace)> Sink() const;

    // Follows ADay in ADir: reads the day's file anew when the day, the directory or the
    // nickname list changed (or lines were dropped because nobody took them), else counts the
    // lines handed over. The reading happens here, outside the lock that Figures takes.
    void Update(const std::string& ADir, const std::vector<std::string>& ANickNames,
                const TLogDay& ADay);
    // Stops following: the sink keeps nothing and the figures are dropped.
    void Stop();

    // The figures of ADay with lists of KeptNames names, the lines handed over counted first;
    // waits up to AWait while the day's file is being read. None when ADay is not the day
    // followed, or its file is still being read.
    std::optional<TDayFigures> Figures(const TLogDay& ADay, std::chrono::milliseconds AWait);

    // Called by each reading of the day's file right after the file was read, on the reading
    // thread: lets a test write and hand over lines at the worst moment.
    void SetAfterReadingForTesting(std::function<void()> AHook) {
        FAfterReading = std::move(AHook);
    }

private:
    struct TFollowed {
        std::string Dir;
        std::vector<std::string> NickNames;
        TLogDay Day;
        bool operator==(const TFollowed&) const = default;
    };

    void Load(const TFollowed& AFollowed);
    // Counts what was handed over. FLock held.
    void TakeLines();

    std::shared_ptr<TLiveHitQueue> FQueue;
    // Guards everything below, and the queue's taking side (one taker at a time).
    std::mutex FLock;
    std::condition_variable FLoaded; // a reading ended
    bool FLoading = false;
    std::optional<TFollowed> FFollowed; // set once the first reading ended
    TReadStatus FStatus = TReadStatus::Missing;
    std::string FError;
    std::unique_ptr<TDayStats> FStats;
    TFilePlace FReadTo; // handed-over lines that ended within it were counted from the file
    std::uint64_t FDroppedSeen = 0;
    std::function<void()> FAfterReading;
};
