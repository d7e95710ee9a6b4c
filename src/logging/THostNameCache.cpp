#include "logging/THostNameCache.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "base/KeyedHash.h"

namespace {

using TClock = std::chrono::steady_clock;

} // namespace

struct THostNameCache::TState {
    struct TEntry {
        std::string Name;
        bool Known = false;       // answered; otherwise its look-up is queued or running
        TClock::time_point Until; // known: kept until then; else: callers wait until then
        std::uint64_t Serial = 0; // its place in Order
    };

    // Makes room for one more entry: the oldest answered entries go first; an entry whose
    // look-up is still out goes to the back of the line. Under Lock.
    void MakeRoom() {
        for (std::size_t tries = Order.size(); Entries.size() >= Limits.MaxEntries && tries > 0;
             --tries) {
            auto [address, serial] = std::move(Order.front());
            Order.pop_front();
            const auto found = Entries.find(address);
            if (found == Entries.end() || found->second.Serial != serial)
                continue;
            if (found->second.Known)
                Entries.erase(found);
            else
                Order.emplace_back(std::move(address), serial);
        }
    }
    // Queues a look-up of AAddress and makes sure a thread will take it. Under Lock.
    void Queue(const std::string& AAddress, const std::shared_ptr<TState>& ASelf) {
        Queued.push_back(AAddress);
        if (IdleThreads > 0 || Threads >= Limits.Threads) {
            Work.notify_one();
            return;
        }
        try {
            std::thread([ASelf] { RunThread(ASelf); }).detach();
            ++Threads;
        } catch (...) {
            // No thread to be had: the address stays queued for a thread that ends its wait.
        }
    }

    TLookup Lookup;
    TLimits Limits;
    std::mutex Lock;                  // guards everything below
    std::condition_variable Answered; // a look-up finished, or the cache closed
    std::condition_variable Work;     // an address was queued, or the cache closed
    // Keyed at random per process: clients choose the addresses.
    std::unordered_map<std::string, TEntry, TKeyedHash, std::equal_to<>> Entries;
    std::deque<std::pair<std::string, std::uint64_t>> Order; // entries, oldest first
    std::deque<std::string> Queued;
    std::uint64_t NextSerial = 0;
    int Threads = 0;
    int IdleThreads = 0;
    int Waiting = 0;
    bool Closed = false;
};

THostNameCache::THostNameCache(TLookup ALookup, TLimits ALimits)
    : FState(std::make_shared<TState>()) {
    FState->Lookup = std::move(ALookup);
    FState->Limits = ALimits;
}

THostNameCache::THostNameCache(TLookup ALookup) : THostNameCache(std::move(ALookup), TLimits()) {}

THostNameCache::~THostNameCache() {
    std::lock_guard<std::mutex> guard(FState->Lock);
    FState->Closed = true;
    FState->Queued.clear();
    FState->Work.notify_all();
    FState->Answered.notify_all();
}

std::string THostNameCache::NameOf(const std::string& AAddress, bool AWait) {
    TState& state = *FState;
    const TClock::time_point now = TClock::now();
    std::unique_lock<std::mutex> lock(state.Lock);
    auto found = state.Entries.find(AAddress);
    if (found != state.Entries.end() && found->second.Known && now < found->second.Until)
        return found->second.Name;
    if (found == state.Entries.end() || found->second.Known) {
        // Unknown, or known too long ago: looked up (again), unless the look-ups are full.
        if (state.Closed || state.Queued.size() >= state.Limits.MaxQueued)
            return {};
        if (found == state.Entries.end()) {
            state.MakeRoom();
            found = state.Entries.emplace(AAddress, TState::TEntry()).first;
            found->second.Serial = ++state.NextSerial;
            state.Order.emplace_back(AAddress, found->second.Serial);
        }
        found->second.Known = false;
        found->second.Until = now + state.Limits.Deadline;
        state.Queue(AAddress, FState);
    }
    if (!AWait || state.Waiting >= state.Limits.MaxWaiting)
        return {};
    // The entry stays while its look-up is out (MakeRoom passes it over), so the deadline
    // read here holds; the search is repeated after each wake-up all the same.
    const TClock::time_point deadline = found->second.Until;
    auto answered = [&] {
        found = state.Entries.find(AAddress);
        return state.Closed || found == state.Entries.end() || found->second.Known;
    };
    ++state.Waiting;
    const bool done = state.Answered.wait_until(lock, deadline, answered);
    --state.Waiting;
    return done && found != state.Entries.end() && found->second.Known ? found->second.Name
                                                                       : std::string();
}

void THostNameCache::RunThread(const std::shared_ptr<TState>& AState) {
    TState& state = *AState;
    std::unique_lock<std::mutex> lock(state.Lock);
    for (;;) {
        ++state.IdleThreads;
        const bool work = state.Work.wait_for(
            lock, state.Limits.ThreadIdle, [&] { return state.Closed || !state.Queued.empty(); });
        --state.IdleThreads;
        if (!work || state.Closed)
            break;
        const std::string address = std::move(state.Queued.front());
        state.Queued.pop_front();
        lock.unlock();
        std::string name;
        try {
            name = state.Lookup(address);
        } catch (...) {
            // A look-up that fails in any way finds no name.
        }
        lock.lock();
        const auto found = state.Entries.find(address);
        if (found != state.Entries.end() && !found->second.Known) {
            found->second.Known = true;
            found->second.Until =
                TClock::now() + (name.empty() ? state.Limits.NoNameAge : state.Limits.NameAge);
            found->second.Name = std::move(name);
        }
        state.Answered.notify_all();
    }
    --state.Threads;
}
