#include "http/TNetSmallFileCache.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long long Nanoseconds(const timespec& ATime) {
    return static_cast<long long>(ATime.tv_sec) * 1000000000LL + ATime.tv_nsec;
}

// Reads until ASize bytes or the end of the file; the number read.
std::size_t ReadUpTo(int AFile, char* AInto, std::size_t ASize) {
    std::size_t done = 0;
    while (done < ASize) {
        const ssize_t got = read(AFile, AInto + done, ASize - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

} // namespace

TNetSmallFileCache::TFile TNetSmallFileCache::Look(const std::string& APath, std::size_t AMaxSize) {
    TFile result;
    struct stat info {};
    if (stat(APath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return result;
    auto identityOf = [](const struct stat& AInfo) {
        return TIdentity{static_cast<unsigned long long>(AInfo.st_dev),
                         static_cast<unsigned long long>(AInfo.st_ino), AInfo.st_size,
                         Nanoseconds(AInfo.st_mtim), Nanoseconds(AInfo.st_ctim)};
    };
    const TIdentity identity = identityOf(info);
    result.Regular = true;
    result.Size = info.st_size;
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > AMaxSize)
        return result;
    {
        std::lock_guard<std::mutex> lock(FLock);
        auto kept = FCopies.find(APath);
        if (kept != FCopies.end() && kept->second.Identity == identity) {
            result.Bytes = kept->second.Bytes;
            return result;
        }
    }
    // Non-blocking, so that a pipe put there meanwhile does not hold the thread. What is
    // answered is the file opened; its copy is kept only when it is still the one looked at
    // and was read whole.
    const int file = open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0)
        return result; // there, but not ours to read: its answer fails rather than says 404
    struct stat opened {};
    if (fstat(file, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(file);
        return TFile{};
    }
    result.Size = opened.st_size;
    if (opened.st_size < 0 || static_cast<unsigned long long>(opened.st_size) > AMaxSize) {
        close(file);
        return result;
    }
    auto bytes = std::make_shared<std::string>(static_cast<std::size_t>(opened.st_size), '\0');
    bytes->resize(ReadUpTo(file, bytes->data(), bytes->size()));
    close(file);
    result.Bytes = bytes;
    const long long settled =
        std::chrono::duration_cast<std::chrono::nanoseconds>(
            (std::chrono::system_clock::now() - SettleTime).time_since_epoch())
            .count();
    if (identityOf(opened) != identity || static_cast<long long>(bytes->size()) != info.st_size ||
        identity.Modified > settled || identity.Changed > settled)
        return result;
    std::lock_guard<std::mutex> lock(FLock);
    if (FCopies.size() < MaxFiles || FCopies.count(APath) != 0)
        FCopies[APath] = TCopy{identity, std::move(bytes)};
    return result;
}
