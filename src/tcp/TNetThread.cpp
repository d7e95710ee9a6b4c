#include "tcp/TNetThread.h"

#include <cstring>

#include "tcp/NetExceptions.h"
#include "tcp/NetPlatformThread.h"

namespace {

// What the platform thread runs: the body, with its own reference to the thread object.
struct TBody {
    std::shared_ptr<TNetThread> Thread;
    void operator()() const { TNetThread::RunBody(Thread); }
};

} // namespace

TNetThread::TNetThread() = default;

TNetThread::~TNetThread() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FJoinable && !pthread_equal(FThread, pthread_self()))
        pthread_join(FThread, nullptr);
    else if (FJoinable)
        pthread_detach(FThread);
}

void TNetThread::Launch() {
    if (!Halted())
        return;
    FHalted = false;
    Start();
}

void TNetThread::Start() {
    const bool detached = FFreeOnTerminate;
    std::unique_lock<std::mutex> lock(FLock);
    if (FStarted)
        return;
    FStarted = true; // a second Start returns at once
    // A thread that frees itself may run its whole body, which takes this lock at its end,
    // before the platform hands the new thread over: it must not find the lock still held.
    // Nobody joins it, so nothing below needs the lock but a failure (it never ran then).
    if (detached)
        lock.unlock();
    if (FRunner && detached && FRunner->Run(shared_from_this()))
        return; // nobody joins a thread that frees itself: it may as well run on a kept one
    auto body = std::make_unique<TBody>(TBody{shared_from_this()});
    pthread_t thread{};
    const int error = StartThreadWith(body, FStackSize, detached ? nullptr : &thread);
    if (error != 0) {
        if (!lock.owns_lock())
            lock.lock();
        FStarted = false;
        FHalted = true;
        throw ENetThreadMgrError(std::string("Thread could not be created: ") +
                                 std::strerror(error));
    }
    if (!detached) {
        FThread = thread;
        FJoinable = true;
    }
}

void TNetThread::RunBody(const std::shared_ptr<TNetThread>& AThread) {
    try {
        AThread->Execute();
    } catch (...) {
        // Execute reports what it can; nothing may leave a thread.
    }
}

void TNetThread::Execute() {
    try {
        RunSteps();
    } catch (const std::exception& e) {
        Fail(e.what(), &e);
    } catch (...) {
        Fail("Unknown exception.", nullptr);
    }
    FFinished = true;
    std::lock_guard<std::mutex> lock(FLock);
    FWake.notify_all();
}

void TNetThread::RunSteps() {
    if (Terminated()) {
        Finish();
        return;
    }
    try {
        Prepare();
        while (!Halted())
            Cycle();
    } catch (...) {
        Finish();
        throw;
    }
    Finish();
}

void TNetThread::Fail(const std::string& AMessage, const std::exception* AException) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FFailureText = AMessage;
    }
    if (OnFailure && AException != nullptr) {
        try {
            OnFailure(*this, *AException);
        } catch (...) {
            // A failing failure handler changes nothing: the thread ends either way.
        }
    }
    Terminate();
}

void TNetThread::HaltThread() {
    if (Halted())
        return;
    Terminate();
    FHalted = true;
}

void TNetThread::HaltAndWait() {
    Terminate();
    FHalted = true;
    WaitFor();
}

void TNetThread::Terminate() {
    FTerminated = true;
    std::lock_guard<std::mutex> lock(FLock);
    FWake.notify_all();
}

void TNetThread::WaitFor() {
    pthread_t thread{};
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FJoinable || pthread_equal(FThread, pthread_self()))
            return;
        thread = FThread;
        FJoinable = false;
    }
    pthread_join(thread, nullptr);
}

std::string TNetThread::FailureText() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FFailureText;
}

bool TNetThread::SleepUnlessTerminated(std::chrono::milliseconds ADuration) {
    std::unique_lock<std::mutex> lock(FLock);
    return !FWake.wait_for(lock, ADuration, [this] { return Terminated(); });
}
