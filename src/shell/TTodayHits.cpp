#include "shell/TTodayHits.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/DateTime.h"

namespace {

// The line ends in the first ASize bytes of the file; stops early when ACancel is set.
std::uint64_t CountLines(const std::string& APath, off_t ASize,
                         std::shared_ptr<std::atomic<bool>> ACancel) {
    const int fd = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::uint64_t lines = 0;
    char buffer[64 * 1024];
    for (off_t left = ASize; left > 0 && !ACancel->load();) {
        const ssize_t n =
            ::read(fd, buffer, static_cast<std::size_t>(std::min<off_t>(left, sizeof buffer)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        lines += static_cast<std::uint64_t>(std::count(buffer, buffer + n, '\n'));
        left -= n;
    }
    ::close(fd);
    return lines;
}

} // namespace

TTodayHits::TTodayHits()
    : FLive(std::make_shared<std::atomic<std::uint64_t>>(0)),
      FCancel(std::make_shared<std::atomic<bool>>(false)) {}

TTodayHits::~TTodayHits() {
    FCancel->store(true);
    if (FCounting.valid())
        FCounting.wait();
}

std::function<void(const std::string&, const TFilePlace&)> TTodayHits::Sink() const {
    return [live = FLive](const std::string&, const TFilePlace&) {
        live->fetch_add(1, std::memory_order_relaxed);
    };
}

void TTodayHits::Update(const std::string& ALogDir) {
    const TLogDay today = LogDayOf(Now());
    if (FStarted && today == FDay && ALogDir == FDir)
        return;
    FStarted = true;
    FDay = today;
    FDir = ALogDir;
    FCancel->store(true); // an older count is of no use any more
    if (FCounting.valid())
        FCounting.wait();
    FCancel = std::make_shared<std::atomic<bool>>(false);
    // Lines written from here on are counted live; those before, in the file as it is now.
    FLive->store(0);
    const std::string path = OverviewFilePath(FDir, FDay);
    struct stat info {};
    const off_t size = ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
    FFileLines.reset();
    FCounting = std::async(std::launch::async, CountLines, path, size, FCancel);
}

std::optional<std::uint64_t> TTodayHits::Count() {
    if (FCounting.valid() &&
        FCounting.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        FFileLines = FCounting.get();
    if (!FFileLines)
        return std::nullopt;
    return *FFileLines + FLive->load();
}
