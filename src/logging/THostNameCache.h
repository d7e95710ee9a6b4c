// Reverse look-ups of client addresses on a few threads of their own, with a cache of the
// answers (names and "no name" alike, each for a while) and a deadline for the caller, so a
// name server that does not answer never holds more than a few threads.
// NameOf: any thread, many at once. Construction and destruction: one owner.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class THostNameCache {
public:
    // The look-up itself: the registered name of an address, empty when there is none or it
    // failed (HostNameOf; tests put a fake in its place). It may block for as long as the
    // system's resolver does.
    using TLookup = std::function<std::string(const std::string& AAddress)>;

    struct TLimits {
        std::size_t MaxEntries = 4096;                   // answers kept; the oldest go first
        std::chrono::milliseconds NameAge{3600 * 1000};  // a name is kept this long
        std::chrono::milliseconds NoNameAge{300 * 1000}; // so is "no name" (or no answer)
        std::chrono::milliseconds Deadline{200};         // a caller waits this long at most
        int Threads = 4;                                 // look-ups at once
        std::size_t MaxQueued = 256;                     // addresses waiting for a thread
        int MaxWaiting = 8;                              // callers waiting at once; others do not
        std::chrono::milliseconds ThreadIdle{30 * 1000}; // an idle look-up thread ends then
    };

    explicit THostNameCache(TLookup ALookup, TLimits ALimits);
    explicit THostNameCache(TLookup ALookup);
    // Queued look-ups are dropped; a thread inside a look-up ends once it returns.
    ~THostNameCache();
    THostNameCache(const THostNameCache&) = delete;
    THostNameCache& operator=(const THostNameCache&) = delete;

    // The name of AAddress, or empty: it has none, or its look-up did not answer within the
    // deadline (counted from the look-up's start, so later callers for the same address wait
    // less), or too many look-ups or callers wait already. A name not known yet is looked up
    // for the next caller. AWait false: never waits, answers from the cache alone.
    std::string NameOf(const std::string& AAddress, bool AWait = true);

private:
    struct TState;
    static void RunThread(const std::shared_ptr<TState>& AState);

    // Shared with the look-up threads, which may outlive this object.
    std::shared_ptr<TState> FState;
};
