// Screen entries that any thread posts, each list's behind its own lock, until the front end's
// thread shows them (ShowQueued, on its timer). Post: any thread, never waits for the front
// end; ShowQueued: the front end's thread; Close: any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "tracking/IScreenLists.h"

class TQueuedScreenLists : public IScreenLists {
public:
    // Bytes one list may keep waiting; the oldest entries are left out beyond it.
    static constexpr std::size_t MaxQueuedBytes = 16 * 1024 * 1024;
    // How often a line at most tells how many entries were left out.
    static constexpr std::chrono::seconds LeftOutInterval{60};

    TQueuedScreenLists() = default;
    TQueuedScreenLists(const TQueuedScreenLists&) = delete;
    TQueuedScreenLists& operator=(const TQueuedScreenLists&) = delete;

    // Queues the entry. Beyond MaxQueuedBytes (a front end that does not take its entries),
    // entries that the list could not show any more once the newer ones are in (more lines
    // come after them than a limited list or the Messages list keeps) are dropped; then the
    // oldest, which are counted.
    void Post(TScreenLog ALog, std::string AText, int ALimit) override;
    // Appends what was posted to AView, each list in order, each entry after trimming its
    // list as the entry's limit says; the text changes once per list. When entries were left out
    // for MaxQueuedBytes, a Messages line says how many (once a LeftOutInterval at most). Front
    // end's thread.
    void ShowQueued(IScreenView& AView);
    // From now on posted entries are dropped (the front end is closing). Any thread.
    void Close();

private:
    struct TEntry {
        std::string Text;
        int Limit = 0;
        std::size_t Lines = 0;
    };
    struct TQueue {
        std::mutex Lock; // guards everything below
        std::deque<TEntry> Entries;
        std::size_t Lines = 0;
        std::size_t Bytes = 0;
        std::uint64_t LeftOut = 0; // beyond MaxQueuedBytes, since ShowQueued took the count
        bool Closed = false;
    };

    TQueue& QueueOf(TScreenLog ALog) { return FQueues[static_cast<int>(ALog)]; }
    static void Show(IScreenView& AView, TScreenLog ALog, const std::deque<TEntry>& AEntries);
    // Drops the oldest entries that no longer count. Under the queue's lock.
    static void LeaveOutOld(TQueue& AQueue, std::size_t AKeepLines);
    void ShowLeftOut(IScreenView& AView, std::uint64_t ALeftOut);

    TQueue FQueues[3];
    // Front end's thread only.
    std::uint64_t FLeftOutUntold = 0;
    std::chrono::steady_clock::time_point FLeftOutTold{};
};
