#include "logging/TSKX_Logger.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "base/DateTime.h"
#include "logging/DecimalText.h"

namespace {

std::string WithDelimiter(std::string ADirectory) {
    if (!ADirectory.empty() && ADirectory.back() != '/')
        ADirectory += '/';
    return ADirectory;
}

std::string CurrentDirectory() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::current_path(error);
    return error ? std::string("./") : path.string();
}

bool IsDirectory(const std::string& APath) {
    struct stat info {};
    return stat(APath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string InitialDirectory(const std::string& ADirectory) {
    std::string directory = ADirectory.empty() ? CurrentDirectory() : ADirectory;
    if (!IsDirectory(directory))
        directory = CurrentDirectory();
    return WithDelimiter(directory);
}

std::string InitialExtension(const std::string& AName) {
    if (AName.empty())
        return ".log";
    return AName.front() == '.' ? AName : "." + AName;
}

// Replaces yyyy, yy, mm and dd; every other character is kept as it stands.
void AppendDateText(std::string& AText, const std::string& AFormat, const TDateTimeParts& AParts) {
    for (std::size_t i = 0; i < AFormat.size();) {
        if (AFormat.compare(i, 4, "yyyy") == 0) {
            AppendDigits(AText, AParts.Year, 4);
            i += 4;
        } else if (AFormat.compare(i, 2, "yy") == 0) {
            AppendDigits(AText, AParts.Year % 100, 2);
            i += 2;
        } else if (AFormat.compare(i, 2, "mm") == 0 || AFormat.compare(i, 2, "dd") == 0) {
            AppendDigits(AText, AFormat[i] == 'm' ? AParts.Month : AParts.Day, 2);
            i += 2;
        } else {
            AText += AFormat[i++];
        }
    }
}

std::string DateText(const std::string& AFormat, const TDateTimeParts& AParts) {
    std::string text;
    AppendDateText(text, AFormat, AParts);
    return text;
}

// How often a kept-open file is compared with its path: a file renamed or replaced meanwhile is
// noticed within this time, and the next write creates it anew.
constexpr std::chrono::seconds PathCheckInterval{1};

bool FileExists(const std::string& APath) {
    struct stat info {};
    return stat(APath.c_str(), &info) == 0;
}

bool IsListedFile(const std::string& ADirectory, const dirent& AEntry) {
    if (AEntry.d_type == DT_DIR)
        return false;
    if (AEntry.d_type != DT_UNKNOWN)
        return true;
    return !IsDirectory(ADirectory + AEntry.d_name);
}

bool EndsWith(const std::string& AText, const std::string& AEnd) {
    return AText.size() >= AEnd.size() &&
           AText.compare(AText.size() - AEnd.size(), AEnd.size(), AEnd) == 0;
}

} // namespace

TSKX_Logger::TSKX_Logger(const std::string& ADirectory, const std::string& AName)
    : FExtension(InitialExtension(AName)), FDirectory(InitialDirectory(ADirectory)) {}

TSKX_Logger::~TSKX_Logger() {
    CloseKeptFile();
}

std::string TSKX_Logger::Directory() const {
    std::lock_guard<std::mutex> guard(FNamesLock);
    return FDirectory;
}

void TSKX_Logger::SetDirectory(const std::string& ADirectory) {
    // An empty directory means the working directory, as at creation (settings re-read
    // without a LogDir).
    std::string directory = WithDelimiter(ADirectory.empty() ? CurrentDirectory() : ADirectory);
    std::lock_guard<std::mutex> guard(FNamesLock);
    FDirectory.swap(directory);
    ++FNamesVersion;
}

std::string TSKX_Logger::Extension() const {
    std::lock_guard<std::mutex> guard(FNamesLock);
    return FExtension;
}

std::string TSKX_Logger::FileName() const {
    std::lock_guard<std::mutex> guard(FNamesLock);
    return FFileName;
}

std::string TSKX_Logger::NameDateFormat() const {
    std::lock_guard<std::mutex> guard(FNamesLock);
    return FNameDateFormat;
}

void TSKX_Logger::SetNameDateFormat(const std::string& AFormat) {
    std::lock_guard<std::mutex> guard(FNamesLock);
    FNameDateFormat = AFormat;
    ++FNamesVersion;
}

TSKX_Logger::TNames TSKX_Logger::CurrentNames() const {
    std::lock_guard<std::mutex> guard(FNamesLock);
    return {FDirectory, FExtension, FNameDateFormat};
}

bool TSKX_Logger::WriteLog(const std::string& AText) {
    try {
        if (!FUseLock)
            return WriteOnce(AText, false);
        std::lock_guard<std::mutex> guard(FLock);
        return WriteOnce(AText, true);
    } catch (...) { // out of memory: a failed write, never an exception for the caller
        ++FErrorCount;
        return false;
    }
}

void TSKX_Logger::AppendPrefix(std::string& ABytes, const TDateTimeParts& ANow) const {
    const bool withDate = FDateTimePrefix; // each switch read once: another thread may flip it
    if (withDate) {
        AppendDateText(ABytes, "yyyy.mm.dd", ANow);
        ABytes += '-';
    }
    if (withDate || FTimePrefix) {
        AppendTimeOfDay(ABytes, ANow);
        ABytes += ": ";
    }
}

std::string TSKX_Logger::PathAt(const TDateTimeParts& ANow) {
    std::lock_guard<std::mutex> guard(FNamesLock);
    std::string path;
    // A date part is never longer than its format: the path is built in one allocation.
    path.reserve(FDirectory.size() + FNameDateFormat.size() + FExtension.size());
    path = FDirectory;
    AppendDateText(path, FNameDateFormat, ANow);
    path += FExtension;
    FFileName = path;
    return path;
}

const std::string& TSKX_Logger::LockedPathAt(const TDateTimeParts& ANow) {
    // The name changes only with the date (the format has no time fields) or the names.
    const int day = ANow.Year * 10000 + ANow.Month * 100 + ANow.Day;
    const unsigned version = FNamesVersion.load();
    if (FLockedPath.empty() || day != FLockedPathDay || version != FLockedPathVersion) {
        FLockedPath = PathAt(ANow);
        FLockedPathDay = day;
        FLockedPathVersion = version;
    }
    return FLockedPath;
}

bool TSKX_Logger::WriteOnce(const std::string& AText, bool ALocked) {
    const std::chrono::system_clock::time_point instant = ClockNow();
    const TDateTimeParts now = DecodeDateTime(LocalDateTimeOf(instant));
    // Under the writer's lock the record is built in the buffer the last one used.
    std::string unlockedBytes;
    std::string& bytes = ALocked ? FRecord : unlockedBytes;
    bytes.clear();
    bytes.reserve(AText.size() + 32);
    AppendPrefix(bytes, now);
    bytes += AText;
    if (FAddLineBreak)
        bytes += "\r\n";
    ++FWriteCount;
    std::string unlockedPath;
    const std::string& path = ALocked ? LockedPathAt(now) : (unlockedPath = PathAt(now));
    if (FAutoCleanup && (!FileExists(path) || FCleanupOnEveryWrite)) {
        (void)CleanupIn(CurrentNames());
        if (ALocked)
            FCheckedAt.reset(); // it may have deleted the kept file
    }
    // The kept-open file is shared between writes, so it needs the writer's lock.
    const bool written =
        ALocked ? AppendToKeptFile(path, bytes, instant) : AppendToFile(path, bytes);
    if (ALocked && FRecord.capacity() > KeptRecordRoom)
        std::string().swap(FRecord); // an unusually long record does not keep its memory
    if (written)
        return true;
    ++FErrorCount;
    return false;
}

bool TSKX_Logger::AppendToKeptFile(const std::string& APath, const std::string& ABytes,
                                   std::chrono::system_clock::time_point ANow) {
    // A new day or directory, or a file removed or renamed since: the next file is opened.
    if (FKeptFile >= 0 && (APath != FKeptPath || KeptFileMoved(ANow)))
        CloseKeptFile();
    if (FKeptFile < 0 && !OpenKeptFile(APath, ANow))
        return false;
    std::size_t written = 0;
    if (WriteAll(FKeptFile, ABytes, written))
        return true;
    // Nothing else of ours appends under the writer's lock: the part of the record that reached
    // the file is exactly what lies before its end. After any error the file is opened anew.
    struct stat after {};
    if (written > 0 && fstat(FKeptFile, &after) == 0 &&
        after.st_size >= static_cast<off_t>(written))
        (void)ftruncate(FKeptFile, after.st_size - static_cast<off_t>(written));
    CloseKeptFile();
    return false;
}

bool TSKX_Logger::KeptFileMoved(std::chrono::system_clock::time_point ANow) {
    // A removed file is noticed by the next write, so no record goes with it: an fstat of the
    // descriptor costs no path look-up.
    struct stat kept {};
    if (fstat(FKeptFile, &kept) != 0 || kept.st_nlink == 0)
        return true;
    // A renamed or replaced one at most once per interval (its records meanwhile go to the
    // renamed file). A clock set back counts as time passed.
    if (FCheckedAt && ANow >= *FCheckedAt && ANow - *FCheckedAt < PathCheckInterval)
        return false;
    FCheckedAt = ANow;
    struct stat info {};
    return stat(FKeptPath.c_str(), &info) != 0 || info.st_dev != FKeptDevice ||
           info.st_ino != FKeptInode;
}

bool TSKX_Logger::OpenKeptFile(const std::string& APath,
                               std::chrono::system_clock::time_point ANow) {
    int file = open(APath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    struct stat info {};
    if (fstat(file, &info) != 0) {
        close(file);
        return false;
    }
    FKeptFile = file;
    FKeptPath = APath;
    FKeptDevice = info.st_dev;
    FKeptInode = info.st_ino;
    FCheckedAt = ANow;
    return true;
}

void TSKX_Logger::CloseKeptFile() {
    if (FKeptFile >= 0)
        close(FKeptFile);
    FKeptFile = -1;
    FKeptPath.clear();
    FCheckedAt.reset();
}

bool TSKX_Logger::AppendToFile(const std::string& APath, const std::string& ABytes) const {
    // Without the writer's lock every write opens the file for itself; O_APPEND puts every
    // write at the end, whoever else appends.
    int file = open(APath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    // Under the writer's lock nothing else of ours appends meanwhile: what a failed write
    // left behind is exactly what lies past this length.
    struct stat before {};
    bool written = false;
    std::size_t part = 0;
    if (fstat(file, &before) == 0) {
        written = WriteAll(file, ABytes, part);
        if (!written)
            (void)ftruncate(file, before.st_size);
    }
    bool closed = close(file) == 0;
    return written && closed;
}

bool TSKX_Logger::WriteAll(int AFile, const std::string& ABytes, std::size_t& ADone) const {
    std::size_t& done = ADone;
    while (done < ABytes.size()) {
        const char* data = ABytes.data() + done;
        const std::size_t size = ABytes.size() - done;
        ssize_t n = FFileWrite ? FFileWrite(AFile, data, size) : write(AFile, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void TSKX_Logger::SetFileWriteForTesting(TFileWrite AWrite) {
    std::lock_guard<std::mutex> guard(FLock); // after the writes that used the old one
    FFileWrite = std::move(AWrite);
}

bool TSKX_Logger::Cleanup() {
    try {
        return CleanupIn(CurrentNames());
    } catch (...) {
        return false;
    }
}

bool TSKX_Logger::CleanupIn(const TNames& ANames) {
    int maxAge = FMaxAgeDays, maxFiles = FMaxFiles;
    if (maxAge <= 0 && maxFiles <= 0)
        return false;
    std::string limit;
    if (maxAge > 0)
        limit = DateText("yyyymmdd", DecodeDateTime(DateOf(Now()) - maxAge)) + ANames.Extension;
    // One deletion per pass, the name that sorts first; the directory is listed anew each time.
    for (;;) {
        std::string first;
        int count = 0;
        if (!ListFiles(ANames, first, count))
            return true;
        bool tooOld = count > 0 && maxAge > 0 && first < limit;
        bool tooMany = maxFiles > 0 && count > maxFiles;
        if (!tooOld && !tooMany)
            return true;
        if (unlink((ANames.Directory + first).c_str()) != 0) {
            ++FDeleteErrorCount;
            return false;
        }
    }
}

bool TSKX_Logger::ListFiles(const TNames& ANames, std::string& AFirst, int& ACount) {
    DIR* dir = opendir(ANames.Directory.empty() ? "." : ANames.Directory.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (!EndsWith(name, ANames.Extension) || !IsListedFile(ANames.Directory, *entry))
            continue;
        if (ACount == 0 || name < AFirst)
            AFirst = name;
        ++ACount;
    }
    closedir(dir);
    return true;
}
