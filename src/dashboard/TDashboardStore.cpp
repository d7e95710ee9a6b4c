#include "dashboard/TDashboardStore.h"

#include <chrono>

bool TDashboardStore::Read(const std::string& AConnection, const TRead& ARead,
                           std::string& AError) {
    const auto start = std::chrono::steady_clock::now();
    if (TStoreConnection::NamesPassword(AConnection)) {
        AError = "[Store] Connection names a password; libpq's password file or PGPASSWORD "
                 "must hold it";
        return false;
    }
    std::unique_ptr<TStoreConnection> store;
    std::vector<TIdle> stale; // closed outside the lock
    {
        std::unique_lock<std::mutex> lock(FLock);
        if (!FTurn.wait_until(lock, start + std::chrono::seconds(WaitSeconds),
                              [this] { return FReaders < MaxReaders; })) {
            AError = "too many readers at once";
            return false;
        }
        ++FReaders;
        // One kept for these settings; those of older settings are closed.
        std::vector<TIdle> kept;
        for (TIdle& idle : FIdle) {
            if (idle.Connection != AConnection)
                stale.push_back(std::move(idle));
            else if (!store)
                store = std::move(idle.Store);
            else
                kept.push_back(std::move(idle));
        }
        FIdle = std::move(kept);
    }
    stale.clear();
    if (!store)
        store = std::make_unique<TStoreConnection>();
    const auto now = std::chrono::steady_clock::now();
    const bool read =
        (store->IsOpen() || store->Open(AConnection, now + std::chrono::seconds(WaitSeconds))) &&
        ARead(*store, now + std::chrono::seconds(ReadSeconds));
    if (!read)
        AError = store->Error();
    {
        std::lock_guard<std::mutex> guard(FLock);
        --FReaders;
        // A failure may leave a transaction or a half-read answer: start afresh next time.
        if (read && store->IsOpen())
            FIdle.push_back({AConnection, std::move(store)});
    }
    FTurn.notify_one();
    return read;
}
