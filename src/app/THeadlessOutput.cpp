#include "app/THeadlessOutput.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <string.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "logging/LogText.h"

namespace {

// A write no larger than this does not block once poll says the pipe takes bytes.
constexpr std::size_t ChunkSize = 4096;
// How often the writer looks at the clock while an output does not move.
constexpr int PollMilliseconds = 100;
// How long a line may wait before the writer looks for it by itself: lines that come one by
// one are written together, without waking the writer for each.
constexpr auto GatherTime = std::chrono::milliseconds(20);
// What wakes a waiting writer before then: under load a wake-up per chunk cost a switch of
// threads every few hits.
constexpr std::size_t WakeBytes = 16 * ChunkSize;

std::string LeftOutLine(std::uint64_t ACount) {
    return "... " + std::to_string(ACount) + (ACount == 1 ? " line" : " lines") +
           " left out: the output was not read in time\n";
}

// The bytes of AText from AOffset that one write takes: at most ChunkSize, and whole lines
// unless one line is longer, so that lines of stdout and stderr on one terminal stay apart.
std::size_t ChunkAt(const std::string& AText, std::size_t AOffset) {
    const std::size_t left = AText.size() - AOffset;
    if (left <= ChunkSize)
        return left;
    const char* start = AText.data() + AOffset;
    const void* lastBreak = ::memrchr(start, '\n', ChunkSize);
    return lastBreak ? static_cast<std::size_t>(static_cast<const char*>(lastBreak) - start) + 1
                     : ChunkSize;
}

} // namespace

struct THeadlessOutput::TState {
    struct TQueue {
        int Fd = -1;
        std::string Waiting;       // whole lines, in order
        std::uint64_t Dropped = 0; // since the last "left out" line
        bool Broken = false;       // the reader is gone: nothing more is kept
    };

    // Queues the line; false when it does not fit. Under Lock.
    bool Add(TQueue& AQueue, std::string_view ALine) {
        if (AQueue.Waiting.size() + ALine.size() > Capacity / 2)
            return false;
        AQueue.Waiting.append(ALine);
        return true;
    }
    // Once there is room again, says how many lines the gap holds. Under Lock.
    void TellDropped(TQueue& AQueue) {
        if (AQueue.Dropped > 0 && Add(AQueue, LeftOutLine(AQueue.Dropped)))
            AQueue.Dropped = 0;
    }

    std::size_t Capacity = DefaultCapacity;
    std::mutex Lock; // guards everything below
    std::condition_variable Changed;
    TQueue Queues[2];
    std::uint64_t DroppedTotal = 0;
    bool WriterWaiting = false; // the writer waits for lines: WakeBytes wake it
    bool Closing = false;
    std::chrono::steady_clock::time_point Deadline{};
    bool Finished = false;
};

THeadlessOutput::THeadlessOutput(int AOutFd, int AErrFd, std::size_t ACapacity)
    : FState(std::make_shared<TState>()) {
    FState->Capacity = ACapacity;
    FState->Queues[0].Fd = AOutFd;
    FState->Queues[1].Fd = AErrFd;
    std::thread([state = FState] {
        try {
            RunWriter(state);
        } catch (...) {
            // Out of memory: the output ends here, the program goes on.
            std::lock_guard<std::mutex> guard(state->Lock);
            state->Finished = true;
            state->Changed.notify_all();
        }
    }).detach();
}

THeadlessOutput::~THeadlessOutput() {
    Close(std::chrono::milliseconds(0));
}

void THeadlessOutput::Push(TStream AStream, std::string_view AText) {
    // The line is escaped before the lock, into a buffer each thread keeps: the lock is held
    // for a copy, and a busy server allocates nothing per line.
    thread_local std::string line;
    line.clear();
    AppendLogField(line, {AText}, TLogEscape::Lines, NoLogLimit);
    line += '\n';
    {
        std::lock_guard<std::mutex> guard(FState->Lock);
        TState::TQueue& queue = FState->Queues[AStream == TStream::Out ? 0 : 1];
        if (queue.Broken || FState->Closing)
            return;
        FState->TellDropped(queue);
        if (queue.Dropped > 0 || !FState->Add(queue, line)) {
            ++queue.Dropped;
            ++FState->DroppedTotal;
        } else if (FState->WriterWaiting && queue.Waiting.size() >= WakeBytes) {
            // A busy writer comes back for the lines by itself, a waiting one within GatherTime.
            FState->Changed.notify_all();
        }
    }
    if (line.capacity() > WakeBytes)
        std::string().swap(line); // a thread keeps no more than an ordinary line's room
}

std::uint64_t THeadlessOutput::Dropped() const {
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->DroppedTotal;
}

void THeadlessOutput::Close(std::chrono::milliseconds AWait) {
    if (FClosed)
        return;
    FClosed = true;
    std::unique_lock<std::mutex> lock(FState->Lock);
    FState->Closing = true;
    FState->Deadline = std::chrono::steady_clock::now() + AWait;
    FState->Changed.notify_all();
    // The writer looks at the deadline at least every PollMilliseconds, unless a write holds
    // it; then it is left behind and the program ends all the same.
    FState->Changed.wait_until(lock,
                               FState->Deadline + std::chrono::milliseconds(2 * PollMilliseconds),
                               [&] { return FState->Finished; });
}

void THeadlessOutput::RunWriter(const std::shared_ptr<TState>& AState) {
    TState& state = *AState;
    // What the writer has taken of each stream, written from offset on; once written, the
    // buffer goes back to the stream for its next lines, so neither side allocates again.
    std::string current[2];
    std::size_t offset[2] = {0, 0};
    std::unique_lock<std::mutex> lock(state.Lock);
    for (;;) {
        bool pending = false;
        for (int s = 0; s < 2; ++s) {
            TState::TQueue& queue = state.Queues[s];
            if (offset[s] == current[s].size() && !queue.Waiting.empty()) {
                current[s].clear();
                current[s].swap(queue.Waiting);
                offset[s] = 0;
            }
            if (queue.Waiting.empty())
                state.TellDropped(queue); // the output moved: the count follows what was kept
            pending = pending || offset[s] < current[s].size();
        }
        const bool late = state.Closing && std::chrono::steady_clock::now() >= state.Deadline;
        if ((state.Closing && !pending) || late)
            break;
        if (!pending) {
            state.WriterWaiting = true;
            state.Changed.wait_for(lock, GatherTime);
            state.WriterWaiting = false;
            continue;
        }
        lock.unlock();
        pollfd fds[2];
        nfds_t count = 0;
        int streams[2];
        for (int s = 0; s < 2; ++s)
            if (offset[s] < current[s].size()) {
                fds[count] = {state.Queues[s].Fd, POLLOUT, 0};
                streams[count++] = s;
            }
        const int ready = ::poll(fds, count, PollMilliseconds);
        bool broken[2] = {false, false};
        for (nfds_t i = 0; ready > 0 && i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            const int s = streams[i];
            const ssize_t n =
                ::write(fds[i].fd, current[s].data() + offset[s], ChunkAt(current[s], offset[s]));
            if (n > 0)
                offset[s] += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                broken[s] = true; // the reader closed (EPIPE) or the descriptor is bad
        }
        lock.lock();
        for (int s = 0; s < 2; ++s)
            if (broken[s]) {
                TState::TQueue& queue = state.Queues[s];
                queue.Broken = true;
                queue.Waiting.clear();
                current[s].clear();
                offset[s] = 0;
            }
    }
    state.Finished = true;
    state.Changed.notify_all();
}
