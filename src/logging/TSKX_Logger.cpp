#include "logging/TSKX_Logger.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/DateTime.h"
#include "logging/DecimalText.h"

namespace {

// Where a record appended to a file of ASizeBefore bytes ends. Every appender of ours holds the
// file's lock from the size's reading to the end of its write, so nothing comes between: the
// size is the one the lock's holder already read, and a record costs no system call more.
TFilePlace PlaceOfRecord(dev_t ADevice, ino_t AInode, off_t ASizeBefore, std::size_t ABytes) {
    return {static_cast<std::uint64_t>(ADevice), static_cast<std::uint64_t>(AInode),
            static_cast<std::int64_t>(ASizeBefore) + static_cast<std::int64_t>(ABytes)};
}

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

// The writer and an eraser of records (sk_kav --erase) take turns through this lock on the
// file: one write or one rewrite at a time.
bool LockFile(int AFile) {
    while (::flock(AFile, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void UnlockFile(int AFile) {
    (void)::flock(AFile, LOCK_UN);
}

// How often a write tries the file at its path anew when it finds the one it opened replaced
// meanwhile: only an eraser that keeps replacing it could use them all up.
constexpr int ReplacedFileAttempts = 8;

constexpr mode_t LogFileMode = 0640; // visitors' data: the owner's group may read, no one else

} // namespace

bool IsDayFileName(std::string_view AName, const std::string& AFormat,
                   const std::string& AExtension) {
    if (AName.size() < AExtension.size() || !AName.ends_with(AExtension))
        return false;
    AName.remove_suffix(AExtension.size());
    std::size_t at = 0;
    auto digits = [&](std::size_t ACount) {
        for (std::size_t i = 0; i < ACount; ++i, ++at)
            if (at >= AName.size() || AName[at] < '0' || AName[at] > '9')
                return false;
        return true;
    };
    for (std::size_t i = 0; i < AFormat.size();) {
        const std::size_t run = AFormat.compare(i, 4, "yyyy") == 0 ? 4
                                : AFormat.compare(i, 2, "yy") == 0 ||
                                        AFormat.compare(i, 2, "mm") == 0 ||
                                        AFormat.compare(i, 2, "dd") == 0
                                    ? 2
                                    : 0;
        if (run > 0) {
            if (!digits(run))
                return false;
            i += run;
        } else if (at < AName.size() && AName[at] == AFormat[i]) {
            ++at;
            ++i;
        } else {
            return false;
        }
    }
    return at == AName.size();
}

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

bool TSKX_Logger::WriteLog(const std::string& AText, TFilePlace* APlace) {
    if (APlace)
        *APlace = TFilePlace();
    try {
        if (!FUseLock)
            return WriteOnce(AText, false, APlace);
        std::lock_guard<std::mutex> guard(FLock);
        return WriteOnce(AText, true, APlace);
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

bool TSKX_Logger::WriteOnce(const std::string& AText, bool ALocked, TFilePlace* APlace) {
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
    const bool written = ALocked ? AppendToKeptFile(path, bytes, instant, APlace)
                                 : AppendToFile(path, bytes, APlace);
    if (ALocked && FRecord.capacity() > KeptRecordRoom)
        std::string().swap(FRecord); // an unusually long record does not keep its memory
    if (written)
        return true;
    ++FErrorCount;
    return false;
}

bool TSKX_Logger::AppendToKeptFile(const std::string& APath, const std::string& ABytes,
                                   std::chrono::system_clock::time_point ANow, TFilePlace* APlace) {
    // A new day or directory: the next file is opened.
    if (FKeptFile >= 0 && APath != FKeptPath)
        CloseKeptFile();
    // A file removed or renamed since, or replaced by an eraser while this write waited for
    // its lock: the file at the path is opened and locked anew, so no record goes into a file
    // that is no longer the day's.
    off_t sizeBefore = 0;
    for (int attempt = 1;; ++attempt) {
        if (FKeptFile < 0 && !OpenKeptFile(APath, ANow))
            return false;
        if (!LockFile(FKeptFile)) {
            CloseKeptFile();
            return false;
        }
        if (!KeptFileMoved(ANow, sizeBefore))
            break;
        CloseKeptFile(); // and its lock
        if (attempt == ReplacedFileAttempts)
            return false;
    }
    std::size_t written = 0;
    if (WriteAll(FKeptFile, ABytes, written)) {
        if (APlace)
            *APlace = PlaceOfRecord(FKeptDevice, FKeptInode, sizeBefore, ABytes.size());
        UnlockFile(FKeptFile);
        return true;
    }
    // Nothing else of ours appends under the writer's lock: the part of the record that reached
    // the file is exactly what lies before its end. After any error the file is opened anew.
    struct stat after {};
    if (written > 0 && fstat(FKeptFile, &after) == 0 &&
        after.st_size >= static_cast<off_t>(written))
        (void)ftruncate(FKeptFile, after.st_size - static_cast<off_t>(written));
    CloseKeptFile();
    return false;
}

bool TSKX_Logger::KeptFileMoved(std::chrono::system_clock::time_point ANow, off_t& ASize) {
    // A removed file is noticed by the next write, so no record goes with it: an fstat of the
    // descriptor costs no path look-up. So is one an eraser replaced: it leaves the old file
    // without a name, as it rewrites only files that have no other.
    struct stat kept {};
    if (fstat(FKeptFile, &kept) != 0 || kept.st_nlink == 0)
        return true;
    ASize = kept.st_size;
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
    int file = open(APath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, LogFileMode);
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

bool TSKX_Logger::AppendToFile(const std::string& APath, const std::string& ABytes,
                               TFilePlace* APlace) const {
    // Without the writer's lock every write opens the file for itself; O_APPEND puts every
    // write at the end, whoever else appends. The file's lock keeps it from an eraser's rewrite.
    int file = -1;
    for (int attempt = 1; file < 0; ++attempt) {
        file = open(APath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, LogFileMode);
        if (file < 0)
            return false;
        struct stat locked {};
        if (!LockFile(file) || fstat(file, &locked) != 0 ||
            (locked.st_nlink == 0 && attempt == ReplacedFileAttempts)) {
            close(file);
            return false;
        }
        if (locked.st_nlink == 0) { // replaced while this write waited: the new one
            close(file);
            file = -1;
        }
    }
    // Under the writer's lock nothing else of ours appends meanwhile: what a failed write
    // left behind is exactly what lies past this length.
    struct stat before {};
    bool written = false;
    std::size_t part = 0;
    if (fstat(file, &before) == 0) {
        written = WriteAll(file, ABytes, part);
        if (!written)
            (void)ftruncate(file, before.st_size);
        else if (APlace)
            *APlace = PlaceOfRecord(before.st_dev, before.st_ino, before.st_size, ABytes.size());
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
    const int maxAge = FMaxAgeDays, maxFiles = FMaxFiles; // each read once: they may change
    int deleted = 0;
    if (CleanupFiles(ANames, maxAge, maxFiles, deleted))
        return true;
    if (maxAge > 0 || maxFiles > 0)
        ++FDeleteErrorCount;
    return false;
}

int TSKX_Logger::DeleteOldDayFiles(const std::string& ADirectory, const std::string& AExtension,
                                   int AMaxAgeDays, bool& AFailed) {
    int deleted = 0;
    AFailed =
        !CleanupFiles({WithDelimiter(ADirectory), AExtension, "yyyymmdd"}, AMaxAgeDays, 0, deleted);
    return deleted;
}

bool TSKX_Logger::CleanupFiles(const TNames& ANames, int AMaxAgeDays, int AMaxFiles,
                               int& ADeleted) {
    if (AMaxAgeDays <= 0 && AMaxFiles <= 0)
        return false;
    std::string limit;
    if (AMaxAgeDays > 0)
        limit = DateText(ANames.NameDateFormat, DecodeDateTime(DateOf(Now()) - AMaxAgeDays)) +
                ANames.Extension;
    // One deletion per pass, the name that sorts first; the directory is listed anew each time.
    for (;;) {
        std::string first;
        int count = 0;
        if (!ListFiles(ANames, first, count))
            return true;
        bool tooOld = count > 0 && AMaxAgeDays > 0 && first < limit;
        bool tooMany = AMaxFiles > 0 && count > AMaxFiles;
        if (!tooOld && !tooMany)
            return true;
        if (unlink((ANames.Directory + first).c_str()) != 0)
            return false;
        ++ADeleted;
    }
}

bool TSKX_Logger::ListFiles(const TNames& ANames, std::string& AFirst, int& ACount) {
    DIR* dir = opendir(ANames.Directory.empty() ? "." : ANames.Directory.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        // Only this writer's day files: a "notes.log" beside them is none of its business.
        if (!IsDayFileName(name, ANames.NameDateFormat, ANames.Extension) ||
            !IsListedFile(ANames.Directory, *entry))
            continue;
        if (ACount == 0 || name < AFirst)
            AFirst = name;
        ++ACount;
    }
    closedir(dir);
    return true;
}
