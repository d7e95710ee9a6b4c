// Daily log file writer: appends texts to Directory + date + Extension. With UseLock the day's
// file stays open between writes. Any thread; every member may be called while writes run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "base/DateTime.h"
#include "base/FilePlace.h"

// The endings of the day files (yyyymmdd and one of these) that the program writes into its
// log directory: the overview file, the detail file, the JSON lines. The retention of log
// files (KeepLogDays) deletes old ones of each.
inline constexpr const char* DayFileExtensions[] = {".log", ".log2", ".jsonl"};

// Whether AName is a date in AFormat (each yyyy, yy, mm and dd a run of digits, every other
// character itself) followed by AExtension: the clean-up and the eraser touch no other file.
bool IsDayFileName(std::string_view AName, const std::string& AFormat,
                   const std::string& AExtension);

class TSKX_Logger {
public:
    // ADirectory: empty or not an existing directory gives the current working directory.
    // AName: file extension; "" gives ".log", "log2" gives ".log2", ".txt" stays.
    TSKX_Logger(const std::string& ADirectory, const std::string& AName);
    ~TSKX_Logger();
    TSKX_Logger(const TSKX_Logger&) = delete;
    TSKX_Logger& operator=(const TSKX_Logger&) = delete;

    // Appends the text (with prefix and CR LF as set) to today's file; false when the file
    // cannot be created, opened or written. A record is written whole or not at all: a write
    // that fails part-way (a full disk) is cut back off the file, so the next one starts where
    // a record starts. Never throws.
    // With UseLock the file is kept open for the next write; a new day or Directory, a file
    // removed, a file renamed (its path is checked at most once a second; until then records
    // go to the renamed file) and any error open it anew, so a removed file is created again
    // by the next write. Without UseLock every write opens and closes the file.
    // APlace, when given, receives where the record ended (unknown unless it was written).
    [[nodiscard]] bool WriteLog(const std::string& AText, TFilePlace* APlace = nullptr);
    // Deletes this writer's oldest files by MaxAgeDays and MaxFiles, one per pass; false when
    // both limits are off or a deletion failed. Only files named a date in NameDateFormat
    // followed by the extension count.
    [[nodiscard]] bool Cleanup();
    // The same clean-up by age for the yyyymmdd files of one extension in ADirectory, whoever
    // writes them: how many it deleted; AFailed when a deletion failed (the clean-up stops
    // there) or both limits are off.
    static int DeleteOldDayFiles(const std::string& ADirectory, const std::string& AExtension,
                                 int AMaxAgeDays, bool& AFailed);

    // Directory of the files, always with a trailing '/'. The next write uses a new value; no
    // existence check is made; an empty one gives the current working directory.
    std::string Directory() const;
    void SetDirectory(const std::string& ADirectory);
    std::string Extension() const;
    // Full path of the file of the latest write (empty before the first).
    std::string FileName() const;
    // Date part of the file name; yyyy, yy, mm, dd are replaced, other characters kept.
    std::string NameDateFormat() const;
    void SetNameDateFormat(const std::string& AFormat);

    bool AddLineBreak() const { return FAddLineBreak; }
    void SetAddLineBreak(bool AValue) { FAddLineBreak = AValue; }
    bool TimePrefix() const { return FTimePrefix; }
    void SetTimePrefix(bool AValue) { FTimePrefix = AValue; }
    bool DateTimePrefix() const { return FDateTimePrefix; }
    void SetDateTimePrefix(bool AValue) { FDateTimePrefix = AValue; }
    bool AutoCleanup() const { return FAutoCleanup; }
    void SetAutoCleanup(bool AValue) { FAutoCleanup = AValue; }
    bool CleanupOnEveryWrite() const { return FCleanupOnEveryWrite; }
    void SetCleanupOnEveryWrite(bool AValue) { FCleanupOnEveryWrite = AValue; }
    int MaxAgeDays() const { return FMaxAgeDays; }
    void SetMaxAgeDays(int AValue) { FMaxAgeDays = AValue; }
    int MaxFiles() const { return FMaxFiles; }
    void SetMaxFiles(int AValue) { FMaxFiles = AValue; }
    // Takes the writer's lock around each write, so writes of one writer never interleave.
    bool UseLock() const { return FUseLock; }
    void SetUseLock(bool AValue) { FUseLock = AValue; }

    // The call that writes bytes to an open file, write(2) unless a test replaces it to make
    // the n-th call fail or fall short; an empty one restores write. Set it while no write
    // runs, or with UseLock on (it takes the writer's lock).
    using TFileWrite = std::function<ssize_t(int AFile, const char* AData, std::size_t ASize)>;
    void SetFileWriteForTesting(TFileWrite AWrite);

    int WriteCount() const { return FWriteCount; }
    int ErrorCount() const { return FErrorCount; }
    int DeleteErrorCount() const { return FDeleteErrorCount; }

private:
    struct TNames {
        std::string Directory;
        std::string Extension;
        std::string NameDateFormat;
    };
    TNames CurrentNames() const;
    void AppendPrefix(std::string& ABytes, const TDateTimeParts& ANow) const;
    // The file name of a write at ANow, also kept as FileName.
    std::string PathAt(const TDateTimeParts& ANow);
    // The same for a write under FLock, made once a day or after a change of the names.
    const std::string& LockedPathAt(const TDateTimeParts& ANow);
    bool WriteOnce(const std::string& AText, bool ALocked, TFilePlace* APlace);
    bool AppendToFile(const std::string& APath, const std::string& ABytes,
                      TFilePlace* APlace) const;
    // The kept-open file; under FLock.
    bool AppendToKeptFile(const std::string& APath, const std::string& ABytes,
                          std::chrono::system_clock::time_point ANow, TFilePlace* APlace);
    // Whether the kept file is no longer the one at its path; ASize gets its size otherwise.
    bool KeptFileMoved(std::chrono::system_clock::time_point ANow, off_t& ASize);
    bool OpenKeptFile(const std::string& APath, std::chrono::system_clock::time_point ANow);
    void CloseKeptFile();
    // Writes every byte; ADone tells how many reached the file, also when it fails.
    bool WriteAll(int AFile, const std::string& ABytes, std::size_t& ADone) const;
    bool CleanupIn(const TNames& ANames);
    // Deletes by the limits given, counting in ADeleted; false when both are off or a deletion
    // failed.
    static bool CleanupFiles(const TNames& ANames, int AMaxAgeDays, int AMaxFiles, int& ADeleted);
    // Counts the files of this writer and finds the name that sorts first; false when the
    // directory cannot be listed.
    static bool ListFiles(const TNames& ANames, std::string& AFirst, int& ACount);

    // Guards FDirectory, FExtension, FNameDateFormat and FFileName: the window's thread replaces
    // the directory while connection threads build file names from it. Never held across I/O.
    mutable std::mutex FNamesLock;
    std::string FExtension;
    std::string FFileName;
    std::mutex FLock; // makes writes wait for one another when UseLock is set
    std::string FDirectory;
    // Options and counters are atomics, so they may be read and changed while writes run.
    std::atomic<bool> FAddLineBreak{true};
    std::atomic<bool> FTimePrefix{false};
    std::atomic<bool> FDateTimePrefix{false};
    std::atomic<bool> FAutoCleanup{false};
    std::atomic<bool> FCleanupOnEveryWrite{false};
    std::atomic<int> FMaxAgeDays{0};
    std::atomic<int> FMaxFiles{0};
    std::atomic<bool> FUseLock{false};
    std::atomic<int> FWriteCount{0};
    std::atomic<int> FErrorCount{0};
    std::atomic<int> FDeleteErrorCount{0};
    std::string FNameDateFormat{"yyyymmdd"};
    std::atomic<unsigned> FNamesVersion{0}; // counts changes of the names, under FNamesLock
    TFileWrite FFileWrite;                  // empty: write(2); changed under FLock
    // Guarded by FLock: the file kept open between locked writes (-1: none), its path and
    // identity, and when the path was last compared with it (none: compare at the next write).
    int FKeptFile = -1;
    std::string FKeptPath;
    dev_t FKeptDevice = 0;
    ino_t FKeptInode = 0;
    std::optional<std::chrono::system_clock::time_point> FCheckedAt;
    // Guarded by FLock: the file name of the locked writes, the day (yyyymmdd) and the names'
    // version it was made for.
    std::string FLockedPath;
    int FLockedPathDay = -1;
    unsigned FLockedPathVersion = 0;
    // Guarded by FLock: the buffer the locked writes build their records in, kept up to
    // KeptRecordRoom bytes.
    static constexpr std::size_t KeptRecordRoom = 64 * 1024;
    std::string FRecord;
};
