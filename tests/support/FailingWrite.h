// A write call that fails the n-th time it is called, as a full disk does, for the seams of the
// log writers. Set up on the test's thread; the writers' threads call it.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

// Fail: the n-th call writes nothing and fails with ENOSPC. Short: the n-th call writes half of
// its bytes (at least one) and the call after it fails, as a disk that fills up mid-record.
enum class TWriteFault { Fail, Short };

// Counts the calls shared by every copy; AFailAt counts from 1, 0 never fails.
inline std::function<ssize_t(int, const char*, std::size_t)>
FailingWrite(int AFailAt, TWriteFault AFault,
             std::shared_ptr<std::atomic<int>> ACalls = std::make_shared<std::atomic<int>>(0)) {
    return [AFailAt, AFault, ACalls](int AFile, const char* AData, std::size_t ASize) -> ssize_t {
        const int call = ++*ACalls;
        const bool failNow = call == AFailAt + (AFault == TWriteFault::Short ? 1 : 0);
        if (AFailAt > 0 && failNow) {
            errno = ENOSPC;
            return -1;
        }
        if (AFailAt > 0 && AFault == TWriteFault::Short && call == AFailAt && ASize > 1)
            return ::write(AFile, AData, ASize / 2);
        return ::write(AFile, AData, ASize);
    };
}
