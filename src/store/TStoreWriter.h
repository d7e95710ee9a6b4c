// Delivery of hits to the shared store. A hit is queued and the caller goes on at once; one
// writer thread sends batches with COPY. While the database is unreachable, slow or refuses,
// batches go to the spool and are replayed in order once it takes rows again. Every row
// carries the instance, the writer's random start id and a sequence number under a unique key,
// so a batch sent twice (after a lost answer, or a replay after a kill) is written once.
// Enqueue and Status on any thread; the rest on the owner's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tracking/IHitStore.h"
#include "tracking/THitRecord.h"

struct TStoreWriterOptions {
    std::string Connection; // libpq connection string or URI
    std::string SpoolDir;
    std::uint64_t MaxSpoolBytes = 1ull << 30;
    // Hits waiting for the writer thread, in bytes of their texts, and rows it holds made;
    // past it they are not delivered (the writer only falls this far behind while the disk
    // stalls).
    std::size_t MaxQueueBytes = 64u << 20;
    std::size_t BatchRows = 1000;
    std::chrono::milliseconds BatchDelay{1000};
    // Longest wait for the database: a connection, a batch. Past it the batch is spooled.
    std::chrono::milliseconds DatabaseTimeout{5000};
    // Waits before trying the database again, doubled from the first to the last.
    std::chrono::milliseconds FirstRetryDelay{1000};
    std::chrono::milliseconds LastRetryDelay{16000};
    std::chrono::milliseconds ReportInterval{60000}; // for counts of hits not delivered
    // Receives each Messages line ("Store: ..."), on the writer thread; must not call back.
    std::function<void(const std::string&)> OnMessage;
};

struct TStoreStatus {
    bool Connected = false;
    std::uint64_t Delivered = 0;    // rows the database took
    std::uint64_t Spooled = 0;      // rows written to the spool
    std::uint64_t SpoolBytes = 0;   // bytes waiting in the spool
    std::uint64_t NotDelivered = 0; // queue or spool full, or refused as data
};

class TStoreWriter : public IHitStore {
public:
    // Starts the writer thread, which opens the spool (its rows go first) and connects.
    explicit TStoreWriter(TStoreWriterOptions AOptions);
    // Stop().
    ~TStoreWriter() override;
    TStoreWriter(const TStoreWriter&) = delete;
    TStoreWriter& operator=(const TStoreWriter&) = delete;

    // Queues the hit and returns; never waits for the database or the disk. Any thread.
    void Enqueue(THitRecord AHit) override;
    TStoreStatus Status() const;
    // The writer's start id, random per writer: the second part of each row's key.
    std::int64_t StartId() const { return FStartId; }

    // Sends what is queued within DatabaseTimeout, spools the rest, and ends the thread.
    void Stop();

private:
    struct TState;

    void Run();

    TStoreWriterOptions FOptions;
    const std::int64_t FStartId;
    std::mutex FLock; // guards FQueue, FQueueBytes, FFirstQueued, FStopping
    std::condition_variable FWake;
    // A deque: a long queue (the database away for a while) grows without moving the hits
    // already in it, which would hold every peer thread on FLock meanwhile.
    std::deque<THitRecord> FQueue;
    std::size_t FQueueBytes = 0;
    std::chrono::steady_clock::time_point FFirstQueued;
    bool FStopping = false;
    std::atomic<std::size_t> FHeldBytes{0};      // rows made, not yet sent or spooled
    std::atomic<std::uint64_t> FQueueDropped{0}; // not delivered since the last report
    std::atomic<bool> FConnected{false};
    std::atomic<std::uint64_t> FDelivered{0};
    std::atomic<std::uint64_t> FSpooled{0};
    std::atomic<std::uint64_t> FSpoolBytes{0};
    std::atomic<std::uint64_t> FNotDelivered{0};
    std::unique_ptr<TState> FState; // the writer thread's own
    std::thread FThread;
};

// The shared store's writer for the tracking service (SetHitStoreFactory): the settings' own
// texts and bound, and the Messages lines of the service.
std::unique_ptr<IHitStore> MakeStoreWriter(THitStoreSettings ASettings);
