#include "tracking/TQueuedScreenLists.h"

#include <exception>

TQueuedScreenLists::TQueuedScreenLists(TAppendFn AOnAppend, bool AKeepLines)
    : TMemoryScreenLists(std::move(AOnAppend), AKeepLines),
      FFrontEndThread(std::this_thread::get_id()) {}

TQueuedScreenLists::~TQueuedScreenLists() { Close(); }

void TQueuedScreenLists::RunOnFrontEnd(const std::function<void()>& AChange) {
    if (OnFrontEndThread()) {
        TMemoryScreenLists::RunOnFrontEnd(AChange);
        return;
    }
    auto change = std::make_shared<TChange>();
    change->Run = AChange;
    std::unique_lock<std::mutex> lock(FQueueLock);
    if (FClosed)
        return;
    FQueue.push_back(change);
    FQueued.notify_all();
    FFinished.wait(lock, [&] { return change->Done || FClosed; });
}

void TQueuedScreenLists::ServeUntil(const std::function<bool()>& ADone) {
    std::unique_lock<std::mutex> lock(FQueueLock);
    while (!ADone()) {
        if (FQueue.empty()) {
            unsigned wakes = FWakeCount;
            FQueued.wait(lock, [&] { return !FQueue.empty() || FWakeCount != wakes || FClosed; });
            if (FClosed && FQueue.empty())
                return;
            continue;
        }
        std::shared_ptr<TChange> change = FQueue.front();
        FQueue.pop_front();
        lock.unlock();
        try {
            TMemoryScreenLists::RunOnFrontEnd(change->Run);
        } catch (...) {
            // A failed change must not take the front end down; the caller still goes on.
        }
        lock.lock();
        change->Done = true;
        FFinished.notify_all();
    }
}

void TQueuedScreenLists::RunServingChanges(const std::function<void()>& AWork) {
    bool finished = false; // guarded by FQueueLock
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            AWork();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(FQueueLock);
        finished = true;
        ++FWakeCount;
        FQueued.notify_all();
    });
    ServeUntil([&] { return finished || FClosed; });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

void TQueuedScreenLists::Wake() {
    std::lock_guard<std::mutex> guard(FQueueLock);
    ++FWakeCount;
    FQueued.notify_all();
}

void TQueuedScreenLists::Close() {
    std::lock_guard<std::mutex> guard(FQueueLock);
    FClosed = true;
    for (auto& change : FQueue)
        change->Done = true;
    FQueue.clear();
    FQueued.notify_all();
    FFinished.notify_all();
}
