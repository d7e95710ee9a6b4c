// Hands the combined lines of new hits from the peer threads to the one thread that counts
// them (the window's), which takes them on a timer. Push from any thread, lock-free: a peer
// thread never waits for the counting thread. Every other member from the counting thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/FilePlace.h"

class TLiveHitQueue {
public:
    // The lines held at most (bytes, with their bookkeeping) while nobody takes them.
    static constexpr std::size_t DefaultMaxBytes = 16u << 20;

    struct TItem {
        std::uint64_t Seq; // numbered in the order the pushes began
        std::string Line;
        TFilePlace Place; // where the line ended in the overview file
    };

    explicit TLiveHitQueue(std::size_t AMaxBytes = DefaultMaxBytes) : FMaxBytes(AMaxBytes) {}
    ~TLiveHitQueue();
    TLiveHitQueue(const TLiveHitQueue&) = delete;
    TLiveHitQueue& operator=(const TLiveHitQueue&) = delete;

    // Keeps the line while the queue is switched on; a line that would pass the byte limit is
    // dropped and counted. Never blocks and never throws. Any thread.
    void Push(const std::string& ALine, const TFilePlace& APlace = {}) noexcept;

    // Switched off, Push keeps nothing: what a hit costs when nobody watches.
    void SetEnabled(bool AEnabled) { FEnabled.store(AEnabled); }
    bool Enabled() const { return FEnabled.load(); }
    // Every line numbered below this value began its push before this call.
    std::uint64_t NextSeq() const { return FNextSeq.load(); }
    // The sink that TTrackingService::AddOnOverviewLine takes. It shares the queue, so a peer
    // thread that outlives the queue's owner still finds it.
    static std::function<void(const std::string&, const TFilePlace&)>
    SinkOf(std::shared_ptr<TLiveHitQueue> AQueue);
    // Lines dropped at the byte limit since the start.
    std::uint64_t Dropped() const { return FDropped.load(); }

    // Everything pushed so far, lowest number first.
    std::vector<TItem> TakeAll();

private:
    struct TNode {
        TItem Item;
        TNode* Next = nullptr;
    };
    static std::size_t CostOf(const std::string& ALine) { return ALine.size() + sizeof(TNode); }

    std::atomic<TNode*> FHead{nullptr}; // newest first
    std::atomic<bool> FEnabled{false};
    std::atomic<std::uint64_t> FNextSeq{0};
    std::atomic<std::size_t> FBytes{0};
    std::atomic<std::uint64_t> FDropped{0};
    const std::size_t FMaxBytes;
};
