#include "config/FileText.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/RegularFile.h"

namespace {

// Closes a descriptor when the reading or writing step is left early.
class TDescriptor {
public:
    explicit TDescriptor(int AFd) : FFd(AFd) {}
    ~TDescriptor() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Fd() const { return FFd; }
    // Closes now and reports whether the data reached the file system.
    bool Close() {
        int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

bool WriteAll(int AFd, const std::string& AText) {
    size_t done = 0;
    while (done < AText.size()) {
        ssize_t n = ::write(AFd, AText.data() + done, AText.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file that a rename must replace: the target of a symbolic link, else APath itself.
std::string ResolvedTarget(const std::string& APath) {
    struct stat info {};
    if (::lstat(APath.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return APath;
    char buffer[PATH_MAX];
    if (::realpath(APath.c_str(), buffer) == nullptr)
        return APath; // a dangling link: replace the link itself
    return buffer;
}

std::string DirectoryOf(const std::string& APath) {
    size_t slash = APath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : APath.substr(0, slash);
}

// A name beside ATarget that no other writer of this process picks at the same time.
std::string TemporaryNameFor(const std::string& ATarget) {
    static std::atomic<unsigned> counter{0};
    return ATarget + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// Makes the rename itself durable; a failure here cannot undo it, so it is not reported.
void SyncDirectory(const std::string& ADir) {
    TDescriptor dir(::open(ADir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Fd() >= 0)
        ::fsync(dir.Fd());
}

enum class TTemporaryResult { Written, CannotCreate, CannotKeepOwner, Failed };

// The new file takes the old one's owner and mode, so a rename changes nothing but the text.
TTemporaryResult WriteTemporary(const std::string& ATemp, const struct stat* AOld,
                                const std::string& AText) {
    TDescriptor file(::open(ATemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.Fd() < 0)
        return TTemporaryResult::CannotCreate;
    if (AOld) {
        struct stat made {};
        if (::fstat(file.Fd(), &made) != 0)
            return TTemporaryResult::Failed;
        if ((made.st_uid != AOld->st_uid || made.st_gid != AOld->st_gid) &&
            ::fchown(file.Fd(), AOld->st_uid, AOld->st_gid) != 0)
            return TTemporaryResult::CannotKeepOwner;
        if (::fchmod(file.Fd(), AOld->st_mode & 07777) != 0)
            return TTemporaryResult::Failed;
    }
    const bool written = WriteAll(file.Fd(), AText) && ::fsync(file.Fd()) == 0 && file.Close();
    return written ? TTemporaryResult::Written : TTemporaryResult::Failed;
}

// Overwrites the file itself: owner, mode, links and inode stay. Not safe against a crash in
// the middle, so only used where no new file can be made beside it.
bool WriteInPlace(const std::string& ATarget, const std::string& AText) {
    TDescriptor file(::open(ATarget.c_str(), O_WRONLY | O_CLOEXEC));
    if (file.Fd() < 0)
        return false;
    return WriteAll(file.Fd(), AText) &&
           ::ftruncate(file.Fd(), static_cast<off_t>(AText.size())) == 0 &&
           ::fsync(file.Fd()) == 0 && file.Close();
}

} // namespace

TFileReadResult ReadFileText(const std::string& APath, std::string& AText, std::size_t AMaxBytes) {
    switch (ReadRegularFile(APath, AText, AMaxBytes)) {
    case TRegularFileStatus::Open:
        return TFileReadResult::Ok;
    case TRegularFileStatus::Missing:
        return TFileReadResult::Missing;
    default:
        return TFileReadResult::Failed;
    }
}

bool ReplaceFileText(const std::string& APath, const std::string& AText) {
    std::string target = ResolvedTarget(APath);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    std::string temp = TemporaryNameFor(target);
    const TTemporaryResult result = WriteTemporary(temp, exists ? &old : nullptr, AText);
    if (result == TTemporaryResult::Written && ::rename(temp.c_str(), target.c_str()) == 0) {
        SyncDirectory(DirectoryOf(target));
        return true;
    }
    if (result != TTemporaryResult::CannotCreate)
        ::unlink(temp.c_str());
    // A directory that takes no new files (a settings file shared in a read-only folder), or
    // a file whose owner we could not give the new one: the file itself may still be written.
    const bool inPlace =
        result == TTemporaryResult::CannotCreate || result == TTemporaryResult::CannotKeepOwner;
    return exists && inPlace && WriteInPlace(target, AText);
}
