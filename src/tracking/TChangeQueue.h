// Changes handed from any thread to one front-end thread, each caller waiting until its change
// has run there. RunAndWait, Wake, Close: any thread; RunQueued, ServeUntil, RunServing: the
// front-end thread only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TChangeQueue {
public:
    TChangeQueue() = default;
    TChangeQueue(const TChangeQueue&) = delete;
    TChangeQueue& operator=(const TChangeQueue&) = delete;

    // Queues AChange and waits until the front-end thread has run it or the queue is closed
    // (then it is dropped). AOnQueued, when set, runs under the queue's lock right after the
    // change is queued, for a front end that must be woken up to serve it.
    void RunAndWait(const std::function<void()>& AChange,
                    const std::function<void()>& AOnQueued = nullptr);

    // Runs at most AMax of the queued changes; the number still queued afterwards.
    std::size_t RunQueued(std::size_t AMax);
    // Runs queued changes until ADone() is true, or until ADeadline when one is given. ADone is
    // asked under the queue's lock, after every change and whenever Wake is called; it must
    // not take other locks.
    void ServeUntil(const std::function<bool()>& ADone,
                    std::optional<std::chrono::steady_clock::time_point> ADeadline = std::nullopt);
    // Runs AWork on another thread while this thread serves the queue; returns when AWork has
    // finished and rethrows what it threw. Peer threads waiting for a change cannot block it.
    void RunServing(const std::function<void()>& AWork);

    // Makes ServeUntil ask its condition again.
    void Wake();
    // Drops every queued change and all later ones; every waiting caller returns.
    void Close();
    bool Closed() const;

private:
    struct TChange {
        std::function<void()> Run;
        bool Done = false;
    };

    void RunOne(std::unique_lock<std::mutex>& ALock);

    mutable std::mutex FLock;          // guards FQueue, FClosed, FWakeCount and every TChange::Done
    std::condition_variable FQueued;   // a change was queued, Wake or Close was called
    std::condition_variable FFinished; // a change was carried out or dropped
    std::deque<std::shared_ptr<TChange>> FQueue;
    bool FClosed = false;
    unsigned FWakeCount = 0;
};
