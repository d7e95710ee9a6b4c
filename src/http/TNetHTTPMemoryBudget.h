// TNetHTTPMemoryBudget: the request bytes that all peers of a server hold at once, kept within
// a limit; the transport charges the connections' secure channels to it too. Any thread;
// lock-free.
#pragma once

#include <atomic>
#include <cstddef>

#include "tcp/INetMemoryBudget.h"

class TNetHTTPMemoryBudget final : public INetMemoryBudget {
public:
    // The most bytes held at once; 0: no limit.
    size_t Limit() const override { return FLimit; }
    void SetLimit(size_t ABytes) { FLimit = ABytes; }
    size_t Held() const { return FHeld; }

    // Adds ABytes unless the total would pass the limit; false then, and nothing is added.
    [[nodiscard]] bool TryTake(size_t ABytes) override {
        const size_t limit = FLimit;
        size_t held = FHeld.load();
        do {
            if (limit > 0 && (ABytes > limit || held > limit - ABytes))
                return false;
        } while (!FHeld.compare_exchange_weak(held, held + ABytes));
        return true;
    }
    void Give(size_t ABytes) override { FHeld -= ABytes; }

private:
    std::atomic<size_t> FLimit{32 * 1024 * 1024};
    std::atomic<size_t> FHeld{0};
};
