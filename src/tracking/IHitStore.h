// Where a hit's record goes besides the local files: a store that takes it and returns at
// once. The tracking layer knows only this interface; the program registers the one it has
// (the shared database's writer) before a server starts. Enqueue on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tracking/THitRecord.h"

class IHitStore {
public:
    virtual ~IHitStore() = default;
    // Takes the hit and returns; never waits for the store. Peer threads, many at once.
    virtual void Enqueue(THitRecord AHit) = 0;
};

struct THitStoreSettings {
    std::string Connection; // where the store is: its own text, never empty here
    std::string SpoolDir;   // for what cannot be delivered yet
    std::uint64_t MaxSpoolBytes = 0;
    // Receives each Messages line of the store, on a thread of its own; returns at once.
    std::function<void(const std::string&)> OnMessage;
};

using THitStoreFactory = std::function<std::unique_ptr<IHitStore>(THitStoreSettings)>;

// The store the service makes at each start while a connection is set; none: hits stay in
// the local files only. Before the first service is made, on the main thread.
void SetHitStoreFactory(THitStoreFactory AFactory);
const THitStoreFactory& HitStoreFactory();
