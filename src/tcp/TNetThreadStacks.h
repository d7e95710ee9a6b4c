// TNetThreadStacks: stacks for threads that free themselves, kept for the next such thread.
// The C library gives the unused part of an ended thread's stack back to the system before it
// keeps the stack for the next thread: one system call, and a flush of the other processors'
// address caches, per thread. With a new thread per connection that is a cost per hit. A
// thread started here runs on a stack this set mapped once and keeps, pages and all, for the
// next thread; each ended thread is joined here before its stack is used again. Any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include <pthread.h>

class TNetThread;

class TNetThreadStacks {
public:
    // At most this many unused stacks are kept; more go back to the system.
    static constexpr size_t MaxKept = 64;

    // The process's one set. Never destroyed: a thread may still be ending on one of its
    // stacks when the program exits.
    static TNetThreadStacks& Shared();

    TNetThreadStacks() = default;
    TNetThreadStacks(const TNetThreadStacks&) = delete;
    TNetThreadStacks& operator=(const TNetThreadStacks&) = delete;
    // Only for a set no thread runs on any more (tests): joins the ended ones, unmaps all.
    ~TNetThreadStacks();

    // Runs AThread's body (TNetThread::RunBody) on a new platform thread, on a kept stack of at
    // least AStackSize usable bytes. False when no stack or thread could be made: then nothing
    // was started and AThread is as it was.
    bool Start(std::shared_ptr<TNetThread>& AThread, size_t AStackSize);

    // Stacks mapped now: in use, ended and not yet joined, or kept unused.
    size_t MappedCount() const;
    // Joins every thread that has ended and keeps or unmaps its stack; true when none is left
    // running on a stack of the set.
    bool Collect();
    // Waits for every thread that has ended to exit, and joins it; a thread that ends later
    // is left to exit on its own. When the program ends, and when a set is destroyed.
    void JoinEnded();

private:
    struct TStack {
        char* Base = nullptr; // the mapping, its lowest page the guard
        size_t Size = 0;
    };
    struct TEnded {
        pthread_t Thread;
        TStack Stack;
    };
    struct TStart;

    static void* Entry(void* AArgument);
    static size_t MappingSize(size_t AStackSize);
    // Joins the threads that have ended and keeps their stacks (lock held).
    void Reap();
    // Keeps an unused stack, or unmaps it when enough are kept (lock held).
    void Keep(const TStack& AStack);
    static TStack Map(size_t ASize);
    static void Unmap(const TStack& AStack);

    mutable std::mutex FLock; // guards all below
    std::vector<TEnded> FEnded;
    std::vector<TStack> FFree;
    size_t FMapped = 0;
    bool FClosing = false;
};
