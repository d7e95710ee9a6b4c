#include "tracking/TChangeQueue.h"

#include <exception>
#include <thread>

void TChangeQueue::RunAndWait(const std::function<void()>& AChange,
                              const std::function<void()>& AOnQueued) {
    auto change = std::make_shared<TChange>();
    change->Run = AChange;
    std::unique_lock<std::mutex> lock(FLock);
    if (FClosed)
        return;
    FQueue.push_back(change);
    FQueued.notify_all();
    if (AOnQueued)
        AOnQueued();
    FFinished.wait(lock, [&] { return change->Done; });
}

void TChangeQueue::RunOne(std::unique_lock<std::mutex>& ALock) {
    std::shared_ptr<TChange> change = FQueue.front();
    FQueue.pop_front();
    ALock.unlock();
    try {
        change->Run();
    } catch (...) {
        // A failed change must not take the front end down; its caller goes on all the same.
    }
    ALock.lock();
    change->Done = true;
    FFinished.notify_all();
}

std::size_t TChangeQueue::RunQueued(std::size_t AMax) {
    std::unique_lock<std::mutex> lock(FLock);
    while (AMax-- > 0 && !FQueue.empty() && !FClosed)
        RunOne(lock);
    return FClosed ? 0 : FQueue.size();
}

void TChangeQueue::ServeUntil(const std::function<bool()>& ADone,
                              std::optional<std::chrono::steady_clock::time_point> ADeadline) {
    std::unique_lock<std::mutex> lock(FLock);
    while (!ADone() && !FClosed) {
        if (FQueue.empty()) {
            unsigned wakes = FWakeCount;
            auto woken = [&] { return !FQueue.empty() || FWakeCount != wakes || FClosed; };
            if (!ADeadline)
                FQueued.wait(lock, woken);
            else if (!FQueued.wait_until(lock, *ADeadline, woken))
                return;
            continue;
        }
        RunOne(lock);
    }
}

void TChangeQueue::RunServing(const std::function<void()>& AWork) {
    bool finished = false; // guarded by FLock
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            AWork();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(FLock);
        finished = true;
        ++FWakeCount;
        FQueued.notify_all();
    });
    ServeUntil([&] { return finished; });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

void TChangeQueue::Wake() {
    std::lock_guard<std::mutex> guard(FLock);
    ++FWakeCount;
    FQueued.notify_all();
}

void TChangeQueue::Close() {
    std::lock_guard<std::mutex> guard(FLock);
    FClosed = true;
    for (auto& change : FQueue)
        change->Done = true;
    FQueue.clear();
    FQueued.notify_all();
    FFinished.notify_all();
}

bool TChangeQueue::Closed() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FClosed;
}
