// In-memory screen lists whose changes run on one front-end thread (the one that created it),
// as the window's do: other threads queue a change and wait until that thread has run it.
// RunOnFrontEnd and Close: any thread. ServeUntil and RunServingChanges: the front-end thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "tracking/TMemoryScreenLists.h"

class TQueuedScreenLists : public TMemoryScreenLists {
public:
    explicit TQueuedScreenLists(TAppendFn AOnAppend = nullptr, bool AKeepLines = true);
    ~TQueuedScreenLists() override;

    void RunOnFrontEnd(const std::function<void()>& AChange) override;
    void RunServingChanges(const std::function<void()>& AWork) override;

    // Carries out queued changes until ADone() is true; ADone is checked after every change and
    // whenever Wake is called. Front-end thread only.
    void ServeUntil(const std::function<bool()>& ADone);
    // Makes ServeUntil look at its condition again. Any thread (not from a signal handler).
    void Wake();
    // From now on changes are dropped and waiting callers return. Any thread.
    void Close();

private:
    struct TChange {
        std::function<void()> Run;
        bool Done = false;
    };

    bool OnFrontEndThread() const { return std::this_thread::get_id() == FFrontEndThread; }

    std::thread::id FFrontEndThread;
    std::mutex FQueueLock; // guards FQueue, FClosed, FWakeCount and every TChange::Done
    std::condition_variable FQueued;   // a change was queued, Wake or Close was called
    std::condition_variable FFinished; // a change was carried out or dropped
    std::deque<std::shared_ptr<TChange>> FQueue;
    bool FClosed = false;
    unsigned FWakeCount = 0;
};
