// In-memory screen lists whose changes run on one front-end thread (the one that created it),
// as the window's do: other threads queue a change and wait until that thread has run it.
// RunOnFrontEnd, Wake and Close: any thread. ServeUntil and RunServingChanges: the front end's.
#pragma once

#include <functional>
#include <thread>

#include "tracking/TChangeQueue.h"
#include "tracking/TMemoryScreenLists.h"

class TQueuedScreenLists : public TMemoryScreenLists {
public:
    explicit TQueuedScreenLists(TAppendFn AOnAppend = nullptr, bool AKeepLines = true);
    ~TQueuedScreenLists() override { Close(); }

    void RunOnFrontEnd(const std::function<void()>& AChange) override;
    void RunServingChanges(const std::function<void()>& AWork) override {
        FQueue.RunServing(AWork);
    }

    // Carries out queued changes until ADone() is true or, when given, ADeadline has passed;
    // ADone is asked after every change and whenever Wake is called.
    void ServeUntil(const std::function<bool()>& ADone,
                    std::optional<std::chrono::steady_clock::time_point> ADeadline = std::nullopt) {
        FQueue.ServeUntil(ADone, ADeadline);
    }
    // Makes ServeUntil ask its condition again (not from a signal handler).
    void Wake() { FQueue.Wake(); }
    // From now on changes from other threads are dropped and waiting callers return.
    void Close() { FQueue.Close(); }

private:
    std::thread::id FFrontEndThread;
    TChangeQueue FQueue;
};
