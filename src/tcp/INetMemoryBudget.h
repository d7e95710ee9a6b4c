// INetMemoryBudget: the bytes that all connections of a server may hold at once, charged by
// every layer that holds some for a client (the protocol's requests, the secure channels).
// Any thread.
#pragma once

#include <cstddef>

class INetMemoryBudget {
public:
    virtual ~INetMemoryBudget() = default;

    // Adds ABytes unless the total would pass the limit; false then, and nothing is added.
    [[nodiscard]] virtual bool TryTake(size_t ABytes) = 0;
    // Gives back bytes taken before.
    virtual void Give(size_t ABytes) = 0;
    // The most bytes held at once; 0: no limit.
    virtual size_t Limit() const = 0;
};
