#include "base/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

TRegularFile::TRegularFile(const std::string& APath, std::uint64_t AMaxBytes)
    : FMaxBytes(AMaxBytes) {
    // O_NONBLOCK: opening a FIFO would otherwise wait until someone opens it for writing.
    FFd = ::open(APath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) {
        Fail(errno == ENOENT ? TRegularFileStatus::Missing : TRegularFileStatus::Unreadable, errno);
        return;
    }
    struct stat info {};
    if (::fstat(FFd, &info) != 0) {
        Fail(TRegularFileStatus::Unreadable, errno);
        return;
    }
    FMode = info.st_mode & 07777;
    FDevice = static_cast<std::uint64_t>(info.st_dev);
    FInode = static_cast<std::uint64_t>(info.st_ino);
    if (S_ISDIR(info.st_mode))
        Fail(TRegularFileStatus::NotRegular, EISDIR);
    else if (!S_ISREG(info.st_mode))
        Fail(TRegularFileStatus::NotRegular, 0);
    else if (static_cast<std::uint64_t>(info.st_size) > FMaxBytes)
        Fail(TRegularFileStatus::TooLarge, 0);
    else
        FSize = static_cast<std::uint64_t>(info.st_size);
}

TRegularFile::~TRegularFile() {
    if (FFd >= 0)
        ::close(FFd);
}

void TRegularFile::Fail(TRegularFileStatus AStatus, int AError) {
    FStatus = AStatus;
    FError = AError;
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

long TRegularFile::Read(char* AInto, std::size_t ASize) {
    if (!IsOpen())
        return -1;
    for (;;) {
        const ssize_t got = ::read(FFd, AInto, ASize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Fail(TRegularFileStatus::Unreadable, errno);
            return -1;
        }
        FRead += static_cast<std::uint64_t>(got);
        // A file that grows while it is read (a log being written) is bounded all the same.
        if (FRead > FMaxBytes) {
            Fail(TRegularFileStatus::TooLarge, 0);
            return -1;
        }
        return static_cast<long>(got);
    }
}

std::string TRegularFile::Problem() const {
    switch (FStatus) {
    case TRegularFileStatus::Open:
        return {};
    case TRegularFileStatus::TooLarge:
        return "larger than " + ByteCountText(FMaxBytes);
    case TRegularFileStatus::NotRegular:
        if (FError == 0)
            return "not a regular file";
        break;
    default:
        break;
    }
    return std::system_category().message(FError);
}

bool TRegularFile::ReadAll(std::string& AText) {
    AText.clear();
    if (!IsOpen())
        return false;
    // One byte more than the size at opening tells the end, or a file that grew.
    AText.resize(static_cast<std::size_t>(FSize) + 1);
    std::size_t done = 0;
    for (long got; (got = Read(AText.data() + done, AText.size() - done)) > 0;) {
        done += static_cast<std::size_t>(got);
        if (done == AText.size()) // it grew: room up to one byte past the bound
            AText.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(done * 2ull, FMaxBytes) + 1));
    }
    AText.resize(IsOpen() ? done : 0);
    return IsOpen();
}

TRegularFileStatus ReadRegularFile(const std::string& APath, std::string& AText,
                                   std::uint64_t AMaxBytes, std::string* AProblem) {
    TRegularFile file(APath, AMaxBytes);
    (void)file.ReadAll(AText);
    if (AProblem)
        *AProblem = file.Problem();
    return file.Status();
}

std::string ByteCountText(std::uint64_t ABytes) {
    const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    while (unit + 1 < sizeof units / sizeof *units && ABytes >= 1024 && ABytes % 1024 == 0) {
        ABytes /= 1024;
        ++unit;
    }
    return std::to_string(ABytes) + " " + units[unit];
}
