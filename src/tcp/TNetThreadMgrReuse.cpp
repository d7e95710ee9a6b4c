#include "tcp/TNetThreadMgrReuse.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <semaphore.h>
#include <thread>
#include <vector>

#include "tcp/NetPlatformThread.h"
#include "tcp/TNetPeerThread.h"

namespace {

// The longest EndWaitingThreads waits for the waiting threads to leave; they leave at once when
// woken, so only a machine that stalls could reach it.
constexpr std::chrono::seconds EndWaitBound{5};

// How soon a held connection whose platform thread could not be made is tried again at the
// earliest; meanwhile the first busy thread to finish takes it.
constexpr std::chrono::milliseconds FailureRetry{10};

// The longest a connection is held, in hold times, while busy threads still finish now and then.
constexpr int MaxHoldTimes = 5;

// Waits until ASemaphore is posted or ATimeout passes; false when it passed. The deadline is
// on the wall clock, as sem_timedwait has it: a clock set back only keeps a thread waiting
// longer, and a stop posts every waiter anyway.
bool WaitPosted(sem_t& ASemaphore, std::chrono::milliseconds ATimeout) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const long long nanoseconds = deadline.tv_nsec + (ATimeout.count() % 1000) * 1000000LL;
    deadline.tv_sec += static_cast<time_t>(ATimeout.count() / 1000 + nanoseconds / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    while (sem_timedwait(&ASemaphore, &deadline) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void WaitPosted(sem_t& ASemaphore) {
    while (sem_wait(&ASemaphore) != 0 && errno == EINTR) {
    }
}

} // namespace

// The platform threads: each runs one peer thread's body, then the body of a held connection,
// if any, or waits for the next one (while fewer than MaxWaiting wait, for IdleTime at most) or
// ends.
class TNetThreadMgrReuse::TPool : public INetThreadRunner,
                                  public std::enable_shared_from_this<TPool> {
public:
    struct TLimits {
        size_t MaxWaiting;
        std::chrono::milliseconds IdleTime;
        size_t RunningLimit;
        std::chrono::milliseconds HoldTime;
    };

    explicit TPool(const TLimits& ALimits) : FLimits(ALimits) {}

    bool Run(std::shared_ptr<TNetThread> AThread) override;
    std::chrono::milliseconds StartOverdue();
    void End();
    size_t Waiting() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FWaiting.size();
    }
    size_t Threads() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FThreads;
    }
    size_t Held() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FHeld.size();
    }

private:
    // One waiting platform thread, woken through a semaphore of its own: the hand-over costs
    // one wake-up, and the woken thread takes no lock to go on (a condition variable would make
    // it take the pool's lock again, which every thread and the listener pass through). Shared,
    // so a wake-up can be sent after the lock is given up to a waiter that may be gone.
    struct TWaiter {
        TWaiter() { sem_init(&Wake, 0, 0); }
        ~TWaiter() { sem_destroy(&Wake); }
        TWaiter(const TWaiter&) = delete;
        TWaiter& operator=(const TWaiter&) = delete;
        sem_t Wake; // posted once per wait: a job was handed over, or the pool ended
        std::shared_ptr<TNetThread> Job; // set under FLock before the post
    };
    // What a new platform thread runs: the pool's threads' loop, beginning with Job.
    struct TStart {
        std::shared_ptr<TPool> Pool;
        std::shared_ptr<TNetThread> Job;
        void operator()() { Pool->Serve(std::move(Job)); }
    };
    struct THeld {
        std::shared_ptr<TNetThread> Job;
        std::chrono::steady_clock::time_point Since;
    };

    // Runs AJob on a new platform thread; AJob is left as it was when that fails.
    bool StartThread(std::shared_ptr<TNetThread>& AJob);
    void Serve(std::shared_ptr<TNetThread> AJob);
    bool WaitForJob(const std::shared_ptr<TWaiter>& ASelf, std::shared_ptr<TNetThread>& AJob);
    // When a connection held since ASince is due for a platform thread of its own: once no busy
    // thread has finished for HoldTime while it waited (they are all stuck with slow clients),
    // or once it has waited MaxHoldTimes times that, however busy they are. Under FLock.
    std::chrono::steady_clock::time_point
    DueAt(std::chrono::steady_clock::time_point ASince) const {
        return std::min(std::max(ASince, FLastFinish) + FLimits.HoldTime,
                        ASince + MaxHoldTimes * FLimits.HoldTime);
    }

    const TLimits FLimits;
    mutable std::mutex FLock; // guards every field below; FChanged waits on it
    std::condition_variable FChanged;
    // The last to wait is woken first: its stack and caches are warm.
    std::vector<std::shared_ptr<TWaiter>> FWaiting;
    // Oldest first. Each one's peer thread is listed with the server, so a stop waits for it:
    // the busy threads take every one, also after End.
    std::deque<THeld> FHeld;
    std::chrono::steady_clock::time_point FLastFinish{}; // when a body last ended
    size_t FThreads = 0;                                 // platform threads in Serve
    size_t FBusy = 0;                                    // of those, running a body
    bool FEnded = false;
};

bool TNetThreadMgrReuse::TPool::Run(std::shared_ptr<TNetThread> AThread) {
    std::shared_ptr<TWaiter> waiter;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FEnded)
            return false;
        // Held only while the busy threads are getting through their clients: when none has
        // finished for HoldTime, they wait for theirs, and the held one would be due at once.
        const auto now = std::chrono::steady_clock::now();
        if (FWaiting.empty() && FBusy >= FLimits.RunningLimit &&
            now - FLastFinish < FLimits.HoldTime) {
            FHeld.push_back(THeld{std::move(AThread), now});
            return true;
        }
        ++FBusy;
        if (!FWaiting.empty()) {
            waiter = std::move(FWaiting.back());
            FWaiting.pop_back();
            waiter->Job = std::move(AThread);
        } else {
            ++FThreads;
        }
    }
    if (waiter) {
        sem_post(&waiter->Wake);
        return true;
    }
    if (StartThread(AThread))
        return true;
    std::lock_guard<std::mutex> lock(FLock);
    --FThreads;
    --FBusy;
    FChanged.notify_all();
    return false;
}

std::chrono::milliseconds TNetThreadMgrReuse::TPool::StartOverdue() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<TNetThread>> due;
    std::chrono::milliseconds next(-1);
    {
        std::lock_guard<std::mutex> lock(FLock);
        while (!FHeld.empty() && DueAt(FHeld.front().Since) <= now) {
            due.push_back(std::move(FHeld.front().Job));
            FHeld.pop_front();
            ++FBusy;
            ++FThreads;
        }
        if (!FHeld.empty())
            next = std::chrono::ceil<std::chrono::milliseconds>(DueAt(FHeld.front().Since) - now);
    }
    for (std::shared_ptr<TNetThread>& job : due) {
        if (StartThread(job))
            continue;
        // No thread to be had now. A busy thread that finished meanwhile waits for it; else it
        // is held again, for the next to finish or the next try.
        std::shared_ptr<TWaiter> waiter;
        {
            std::lock_guard<std::mutex> lock(FLock);
            --FThreads;
            if (!FWaiting.empty()) {
                waiter = std::move(FWaiting.back());
                FWaiting.pop_back();
                waiter->Job = std::move(job); // still counted busy
            } else {
                --FBusy;
                FHeld.push_front(THeld{std::move(job), now});
                const std::chrono::milliseconds retry = std::max(FLimits.HoldTime, FailureRetry);
                next = next.count() < 0 ? retry : std::min(next, retry);
            }
        }
        if (waiter)
            sem_post(&waiter->Wake);
    }
    return next;
}

bool TNetThreadMgrReuse::TPool::StartThread(std::shared_ptr<TNetThread>& AJob) {
    const size_t stackSize = AJob->StackSize();
    auto start = std::make_unique<TStart>(TStart{shared_from_this(), std::move(AJob)});
    if (StartThreadWith(start, stackSize) == 0)
        return true;
    AJob = std::move(start->Job);
    return false;
}

void TNetThreadMgrReuse::TPool::Serve(std::shared_ptr<TNetThread> AJob) {
    const auto self = std::make_shared<TWaiter>();
    do {
        TNetThread::RunBody(AJob);
        // The peer thread frees itself here, as at the end of a platform thread of its own;
        // still counted busy, so an End that this runs (the last user of the manager) does not
        // wait for this very thread.
        AJob.reset();
    } while (WaitForJob(self, AJob));
    std::lock_guard<std::mutex> lock(FLock);
    --FThreads;
    FChanged.notify_all();
}

bool TNetThreadMgrReuse::TPool::WaitForJob(const std::shared_ptr<TWaiter>& ASelf,
                                           std::shared_ptr<TNetThread>& AJob) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FLastFinish = std::chrono::steady_clock::now();
        if (!FHeld.empty()) { // taken at once, still counted busy
            AJob = std::move(FHeld.front().Job);
            FHeld.pop_front();
            return true;
        }
        --FBusy;
        if (FEnded || FWaiting.size() >= FLimits.MaxWaiting) {
            FChanged.notify_all();
            return false;
        }
        FWaiting.push_back(ASelf);
    }
    const bool posted = WaitPosted(ASelf->Wake, FLimits.IdleTime);
    // Posted with a job: Run wrote it before the post, and no other post can come meanwhile.
    if (posted && ASelf->Job) {
        AJob = std::move(ASelf->Job); // Run counted it busy
        return true;
    }
    std::unique_lock<std::mutex> lock(FLock);
    if (!ASelf->Job) { // idle too long, or the pool ended: still on the list, which Run empties
        FWaiting.erase(std::find(FWaiting.begin(), FWaiting.end(), ASelf));
        FChanged.notify_all();
        return false;
    }
    lock.unlock();
    // Off the list with a job: Run took it, and its post follows if it has not yet come.
    if (!posted)
        WaitPosted(ASelf->Wake);
    AJob = std::move(ASelf->Job); // Run counted it busy
    return true;
}

void TNetThreadMgrReuse::TPool::End() {
    std::unique_lock<std::mutex> lock(FLock);
    FEnded = true;
    for (const std::shared_ptr<TWaiter>& waiter : FWaiting)
        sem_post(&waiter->Wake);
    // Those serving a connection end after it; the others leave now.
    FChanged.wait_for(lock, EndWaitBound, [this] { return FThreads == FBusy; });
}

int TNetThreadMgrReuse::DefaultRunningLimit() {
    // hardware_concurrency gives 0 where it cannot tell.
    return static_cast<int>(std::max(2u, 2 * std::thread::hardware_concurrency()));
}

TNetThreadMgrReuse::TNetThreadMgrReuse(TNetTCPServer* AOwner, int AMaxWaiting,
                                       std::chrono::milliseconds AIdleTime, int ARunningLimit,
                                       std::chrono::milliseconds AHoldTime)
    : TNetThreadMgrDefault(AOwner), FMaxWaiting(std::max(AMaxWaiting, 0)), FIdleTime(AIdleTime),
      FRunningLimit(std::max(ARunningLimit, 1)),
      FHoldTime(std::max(AHoldTime, std::chrono::milliseconds(0))), FPool(MakePool()) {}

std::shared_ptr<TNetThreadMgrReuse::TPool> TNetThreadMgrReuse::MakePool() const {
    return std::make_shared<TPool>(TPool::TLimits{static_cast<size_t>(FMaxWaiting), FIdleTime,
                                                  static_cast<size_t>(FRunningLimit), FHoldTime});
}

TNetThreadMgrReuse::~TNetThreadMgrReuse() {
    Pool()->End();
}

std::shared_ptr<TNetThreadMgrReuse::TPool> TNetThreadMgrReuse::Pool() const {
    std::lock_guard<std::mutex> lock(FPoolLock);
    return FPool;
}

std::shared_ptr<TNetPeerThread> TNetThreadMgrReuse::AcquireThread() {
    std::shared_ptr<TNetPeerThread> thread = TNetThreadMgrDefault::AcquireThread();
    thread->SetRunner(Pool());
    return thread;
}

void TNetThreadMgrReuse::EndWaitingThreads() {
    std::shared_ptr<TPool> ended;
    {
        std::lock_guard<std::mutex> lock(FPoolLock);
        ended = std::exchange(FPool, MakePool());
    }
    ended->End();
}

size_t TNetThreadMgrReuse::WaitingThreadCount() const {
    return Pool()->Waiting();
}

size_t TNetThreadMgrReuse::PlatformThreadCount() const {
    return Pool()->Threads();
}

size_t TNetThreadMgrReuse::HeldConnectionCount() const {
    return Pool()->Held();
}

std::chrono::milliseconds TNetThreadMgrReuse::StartOverdueThreads() {
    return Pool()->StartOverdue();
}
