#include "store/TStoreSpool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view Suffix = ".rows";
constexpr std::size_t NumberDigits = 16;

// The number of a spool file's name, or 0 when the name is none.
std::uint64_t NumberOf(const std::string& AName) {
    if (AName.size() != NumberDigits + Suffix.size() || !AName.ends_with(Suffix))
        return 0;
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < NumberDigits; ++i) {
        if (AName[i] < '0' || AName[i] > '9')
            return 0;
        number = number * 10 + static_cast<std::uint64_t>(AName[i] - '0');
    }
    return number;
}

std::string SystemError(const std::string& AWhat) {
    return AWhat + ": " + std::strerror(errno);
}

bool WriteAll(int AFd, std::string_view AData) {
    while (!AData.empty()) {
        const ssize_t written = ::write(AFd, AData.data(), AData.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        AData.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

TStoreSpool::TStoreSpool(std::string ADir, std::uint64_t AMaxBytes)
    : FDir(std::move(ADir)), FMaxBytes(AMaxBytes) {
    if (!FDir.empty() && FDir.back() != '/')
        FDir += '/';
}

TStoreSpool::~TStoreSpool() {
    if (FWriteFd >= 0)
        ::close(FWriteFd);
    if (FLockFd >= 0)
        ::close(FLockFd); // lets the lock go
}

std::string TStoreSpool::PathOf(std::uint64_t ANumber) const {
    char name[32];
    std::snprintf(name, sizeof name, "%016llu", static_cast<unsigned long long>(ANumber));
    return FDir + name + std::string(Suffix);
}

bool TStoreSpool::Open(std::string& AError) {
    std::error_code error;
    fs::create_directories(FDir, error);
    if (error) {
        AError = "cannot make " + FDir + ": " + error.message();
        return false;
    }
    const int lock = ::open((FDir + "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) {
        AError = SystemError("cannot open " + FDir + "lock");
        return false;
    }
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        AError = errno == EWOULDBLOCK ? FDir + " is in use by another process"
                                      : SystemError("cannot lock " + FDir + "lock");
        ::close(lock);
        return false;
    }
    FLockFd = lock;
    std::vector<TFile> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(FDir, error))
        if (std::uint64_t number = NumberOf(entry.path().filename().string()); number > 0)
            files.push_back({number, entry.file_size(error)});
    std::sort(files.begin(), files.end(),
              [](const TFile& A, const TFile& B) { return A.Number < B.Number; });
    for (const TFile& file : files) {
        FFiles.push_back(file);
        FBytes += file.Size;
        FNextNumber = file.Number + 1;
    }
    return true;
}

bool TStoreSpool::StartFile() {
    if (FWriteFd >= 0)
        ::close(FWriteFd);
    FWriteFd = ::open(PathOf(FNextNumber).c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (FWriteFd < 0)
        return false;
    FFiles.push_back({FNextNumber++, 0});
    return true;
}

TStoreSpool::TAppend TStoreSpool::Append(std::string_view ARows) {
    if (!IsOpen())
        return TAppend::Failed;
    if (FBytes + ARows.size() > FMaxBytes)
        return TAppend::Full;
    // Rows go into a file of this run only: one left by a killed run may end in half a row.
    if ((FWriteFd < 0 || FFiles.back().Size >= FileBytes) && !StartFile())
        return TAppend::Failed;
    TFile& file = FFiles.back();
    if (!WriteAll(FWriteFd, ARows)) {
        // Nothing of a batch may stay half written: the next rows would continue its line.
        if (::ftruncate(FWriteFd, static_cast<off_t>(file.Size)) != 0) {
            ::close(FWriteFd);
            FWriteFd = -1;
        }
        return TAppend::Failed;
    }
    file.Size += ARows.size();
    FBytes += ARows.size();
    return TAppend::Written;
}

void TStoreSpool::RemoveOldest() {
    if (FWriteFd >= 0 && FFiles.size() == 1) {
        ::close(FWriteFd);
        FWriteFd = -1;
    }
    ::unlink(PathOf(FFiles.front().Number).c_str());
    FBytes -= FFiles.front().Size;
    FFiles.pop_front();
    FReadAt = 0;
    FPeekedEnd = 0;
}

bool TStoreSpool::Peek(std::size_t AMaxRows, std::string& ARows, std::size_t& ACount,
                       std::string& AError) {
    ARows.clear();
    ACount = 0;
    std::size_t piece = 1 << 20;
    while (!FFiles.empty()) {
        const TFile& oldest = FFiles.front();
        const std::uint64_t left = oldest.Size > FReadAt ? oldest.Size - FReadAt : 0;
        const int fd = left == 0 ? -1 : ::open(PathOf(oldest.Number).c_str(), O_RDONLY | O_CLOEXEC);
        if (left > 0 && fd < 0) {
            AError = SystemError("cannot read " + PathOf(oldest.Number));
            return false;
        }
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece));
        ARows.resize(wanted);
        const ssize_t got =
            wanted == 0 ? 0 : ::pread(fd, ARows.data(), wanted, static_cast<off_t>(FReadAt));
        if (fd >= 0)
            ::close(fd);
        if (got < 0) {
            AError = SystemError("cannot read " + PathOf(oldest.Number));
            ARows.clear();
            return false;
        }
        ARows.resize(static_cast<std::size_t>(got));
        std::size_t end = 0;
        for (std::size_t at; ACount < AMaxRows && (at = ARows.find('\n', end)) != ARows.npos;
             ++ACount)
            end = at + 1;
        if (ACount > 0) {
            ARows.resize(end);
            FPeekedEnd = FReadAt + end;
            return true;
        }
        if (static_cast<std::uint64_t>(got) < left) {
            piece *= 2; // a row longer than the piece
            continue;
        }
        // Nothing whole is left: the file is done (a killed run's last half row is dropped).
        ARows.clear();
        RemoveOldest();
    }
    return true;
}

void TStoreSpool::Consumed() {
    if (FFiles.empty())
        return;
    FReadAt = FPeekedEnd;
    if (FReadAt >= FFiles.front().Size)
        RemoveOldest();
}
