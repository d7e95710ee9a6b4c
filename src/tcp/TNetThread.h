// TNetThread: a thread that runs Prepare, then Cycle until halted, then Finish; made suspended.
// Launch, HaltThread and Terminate from any thread; the steps run on the thread itself.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <pthread.h>

class TNetThread;

// Runs the bodies of threads that free themselves on platform threads it keeps (a thread
// manager's), instead of a new platform thread each. Any thread.
class INetThreadRunner {
public:
    virtual ~INetThreadRunner() = default;
    // Hands AThread's body to a platform thread of the runner's (which calls
    // TNetThread::RunBody); false when it cannot, and nothing was done.
    virtual bool Run(std::shared_ptr<TNetThread> AThread) = 0;
};

// Where a thread came from (a thread manager): takes it back when its work is done. On that
// thread.
class INetThreadSource {
public:
    virtual ~INetThreadSource() = default;
    virtual void ReturnThread(TNetThread& AThread) = 0;
};

class TNetThread : public std::enable_shared_from_this<TNetThread> {
public:
    // Made suspended: the platform thread starts at the first Launch. Always hold it in a
    // shared_ptr; the running thread keeps its own reference until its body ends.
    TNetThread();
    virtual ~TNetThread();
    TNetThread(const TNetThread&) = delete;
    TNetThread& operator=(const TNetThread&) = delete;

    // Starts (or resumes) a halted thread; nothing on a running one. Raises ENetException when
    // the platform cannot make the thread.
    void Launch();
    // Requests termination; the current cycle finishes first. Nothing on a halted thread.
    void HaltThread();
    // Requests termination and waits for the end (not for a thread that frees itself).
    virtual void HaltAndWait();
    bool Halted() const { return FHalted || FTerminated; }
    bool Terminated() const { return FTerminated; }
    void Terminate();
    // Waits for the body to end (joins); nothing when it never started or frees itself.
    void WaitFor();
    // True when the body has ended (or never started and was terminated).
    bool Finished() const { return FFinished; }

    // A detached thread frees itself when its body ends; set before Launch.
    bool FreeOnTerminate() const { return FFreeOnTerminate; }
    void SetFreeOnTerminate(bool AValue) { FFreeOnTerminate = AValue; }
    // Stack size of the platform thread in bytes (0: the system's default); set before Launch.
    size_t StackSize() const { return FStackSize; }
    void SetStackSize(size_t ABytes) { FStackSize = ABytes; }
    // Where the body of a thread that frees itself runs: with a runner, on a platform thread
    // the runner hands it to (a new one when the runner has none). Set before Launch.
    void SetRunner(std::shared_ptr<INetThreadRunner> ARunner) { FRunner = std::move(ARunner); }
    // The body as a platform thread runs it: Prepare, the cycles, Finish; nothing escapes.
    // For runners only.
    static void RunBody(const std::shared_ptr<TNetThread>& AThread);

    // The message of the exception that ended the thread, empty otherwise.
    std::string FailureText() const;
    // Fires on the thread with the exception that ends it.
    std::function<void(TNetThread& AThread, const std::exception& AException)> OnFailure;

protected:
    virtual void Cycle() = 0;
    virtual void Finish() {}
    virtual void Prepare() {}
    // Sleeps up to ADuration; returns early (false) when termination is requested.
    bool SleepUnlessTerminated(std::chrono::milliseconds ADuration);

private:
    void Execute();
    void RunSteps();
    void Fail(const std::string& AMessage, const std::exception* AException);
    void Start();

    std::atomic<bool> FHalted{true};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FFreeOnTerminate{false};
    size_t FStackSize = 0;
    std::shared_ptr<INetThreadRunner> FRunner;
    mutable std::mutex
        FLock; // guards FStarted, FJoinable, FThread, FFailureText; FWake waits on it
    std::condition_variable FWake;
    bool FStarted = false;
    bool FJoinable = false;
    pthread_t FThread{};
    std::string FFailureText;
};
