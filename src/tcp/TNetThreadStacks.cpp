#include "tcp/TNetThreadStacks.h"

#include <cstdlib>
#include <new>

#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include "tcp/TNetThread.h"

// What a new thread needs before it runs, kept above its stack in the same mapping: nothing is
// allocated per thread.
struct TNetThreadStacks::TStart {
    TNetThreadStacks* Stacks;
    TStack Stack;
    std::shared_ptr<TNetThread> Thread;
};

namespace {

constexpr size_t StartRoom = 64; // keeps the stack's top aligned for any type

size_t PageSize() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// The thread's own block of thread-local data goes at the top of a stack given to the C
// library, so it takes room from the stack; under a sanitizer that block is most of a MiB.
size_t StaticThreadDataSize() {
    static const size_t size = [] {
        size_t total = 0;
        dl_iterate_phdr(
            [](dl_phdr_info* AInfo, size_t, void* ATotal) {
                for (int i = 0; i < AInfo->dlpi_phnum; ++i) {
                    const auto& header = AInfo->dlpi_phdr[i];
                    if (header.p_type == PT_TLS)
                        *static_cast<size_t*>(ATotal) += header.p_memsz + header.p_align;
                }
                return 0;
            },
            &total);
        return total;
    }();
    return size;
}

} // namespace

TNetThreadStacks& TNetThreadStacks::Shared() {
    static TNetThreadStacks* stacks = [] {
        auto* made = new TNetThreadStacks;
        // Threads that ended since the last start are joined before the program ends, so
        // that none is left unjoined; later ones let themselves go.
        std::atexit([] { Shared().JoinEnded(); });
        return made;
    }();
    return *stacks;
}

void TNetThreadStacks::JoinEnded() {
    std::lock_guard<std::mutex> lock(FLock);
    FClosing = true;
    for (const TEnded& ended : FEnded) {
        pthread_join(ended.Thread, nullptr); // ended: only its exit is left to wait for
        Keep(ended.Stack);
    }
    FEnded.clear();
}

TNetThreadStacks::~TNetThreadStacks() {
    JoinEnded();
    for (const TStack& stack : FFree)
        Unmap(stack);
}

size_t TNetThreadStacks::MappingSize(size_t AStackSize) {
    static_assert(sizeof(TStart) <= StartRoom);
    const size_t page = PageSize();
    const size_t least = static_cast<size_t>(PTHREAD_STACK_MIN);
    const size_t usable = AStackSize < least ? least : AStackSize;
    return (usable + StaticThreadDataSize() + StartRoom + page - 1) / page * page + page;
}

bool TNetThreadStacks::Start(std::shared_ptr<TNetThread>& AThread, size_t AStackSize) {
    const size_t size = MappingSize(AStackSize);
    TStack stack;
    {
        std::lock_guard<std::mutex> lock(FLock);
        Reap();
        for (size_t i = FFree.size(); i-- > 0;) {
            if (FFree[i].Size == size) {
                stack = FFree[i];
                FFree[i] = FFree.back();
                FFree.pop_back();
                break;
            }
        }
    }
    if (stack.Base == nullptr) {
        stack = Map(size);
        if (stack.Base == nullptr)
            return false;
        std::lock_guard<std::mutex> lock(FLock);
        ++FMapped;
        if (FFree.capacity() < MaxKept)
            FFree.reserve(MaxKept); // keeping a stack never allocates, even while ending
    }
    char* top = stack.Base + stack.Size - StartRoom;
    char* bottom = stack.Base + PageSize();
    auto* start = new (top) TStart{this, stack, std::move(AThread)};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, bottom, static_cast<size_t>(top - bottom));
    pthread_t thread{};
    const int error = pthread_create(&thread, &attributes, &TNetThreadStacks::Entry, start);
    pthread_attr_destroy(&attributes);
    if (error == 0)
        return true;
    AThread = std::move(start->Thread);
    start->~TStart();
    std::lock_guard<std::mutex> lock(FLock);
    Keep(stack);
    return false;
}

void* TNetThreadStacks::Entry(void* AArgument) {
    auto* start = static_cast<TStart*>(AArgument);
    TNetThreadStacks& stacks = *start->Stacks;
    const TStack stack = start->Stack;
    {
        std::shared_ptr<TNetThread> thread = std::move(start->Thread);
        start->~TStart();
        TNetThread::RunBody(thread);
    }
    // From here on only the exit runs on this stack; it is used again once the join succeeds.
    try {
        std::lock_guard<std::mutex> lock(stacks.FLock);
        if (!stacks.FClosing) {
            // Those that ended before are let go here too, so that a burst of connections
            // does not hold its stacks until the next one comes.
            stacks.Reap();
            stacks.FEnded.push_back(TEnded{pthread_self(), stack});
            return nullptr;
        }
    } catch (...) {
        // No room to say so.
    }
    // Nobody will join this thread; its stack stays mapped while the program lasts.
    pthread_detach(pthread_self());
    return nullptr;
}

void TNetThreadStacks::Reap() {
    for (size_t i = 0; i < FEnded.size();) {
        // Busy while the thread is still on its way out; tried again at the next start.
        if (pthread_tryjoin_np(FEnded[i].Thread, nullptr) != 0) {
            ++i;
            continue;
        }
        Keep(FEnded[i].Stack);
        FEnded[i] = FEnded.back();
        FEnded.pop_back();
    }
}

void TNetThreadStacks::Keep(const TStack& AStack) {
    if (FFree.size() < MaxKept) {
        FFree.push_back(AStack);
        return;
    }
    Unmap(AStack);
    --FMapped;
}

bool TNetThreadStacks::Collect() {
    std::lock_guard<std::mutex> lock(FLock);
    Reap();
    return FFree.size() == FMapped;
}

size_t TNetThreadStacks::MappedCount() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FMapped;
}

TNetThreadStacks::TStack TNetThreadStacks::Map(size_t ASize) {
    void* base = mmap(nullptr, ASize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (base == MAP_FAILED)
        return {};
    if (mprotect(base, PageSize(), PROT_NONE) != 0) {
        munmap(base, ASize);
        return {};
    }
    return TStack{static_cast<char*>(base), ASize};
}

void TNetThreadStacks::Unmap(const TStack& AStack) {
    munmap(AStack.Base, AStack.Size);
}
