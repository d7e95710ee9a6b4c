// The spool: rows the database could not take yet, kept in order in numbered files of one
// directory until they are in the database, bounded in bytes. Rows are whole lines; a file is
// removed once all its rows are in. A lock file keeps a second process out of the directory.
// The writer thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

class TStoreSpool {
public:
    // A file takes rows until it holds this many bytes; then the next one starts. Rows of a
    // file that was being replayed when the program was killed are sent again (the database
    // keeps them once): at most one file's worth.
    static constexpr std::uint64_t FileBytes = 16 << 20;

    TStoreSpool(std::string ADir, std::uint64_t AMaxBytes);
    ~TStoreSpool();
    TStoreSpool(const TStoreSpool&) = delete;
    TStoreSpool& operator=(const TStoreSpool&) = delete;

    // Makes the directory when missing, takes its lock and finds the files earlier runs left.
    // False with AError; the spool then takes nothing.
    [[nodiscard]] bool Open(std::string& AError);
    bool IsOpen() const { return FLockFd >= 0; }

    enum class TAppend { Written, Full, Failed };
    // Appends whole lines. Full: they would take the files past the bound (nothing written).
    // Failed: the disk refused them (nothing of them stays).
    TAppend Append(std::string_view ARows);

    bool Empty() const { return FFiles.empty(); }
    std::uint64_t Bytes() const { return FBytes; }
    const std::string& Dir() const { return FDir; }

    // Up to AMaxRows whole lines from the oldest file, from where the last Consumed() left it;
    // empty when nothing waits. False with AError when a file cannot be read.
    [[nodiscard]] bool Peek(std::size_t AMaxRows, std::string& ARows, std::size_t& ACount,
                            std::string& AError);
    // The rows of the last Peek are in the database.
    void Consumed();

private:
    struct TFile {
        std::uint64_t Number = 0;
        std::uint64_t Size = 0;
    };

    std::string PathOf(std::uint64_t ANumber) const;
    void RemoveOldest();
    bool StartFile();

    std::string FDir;
    std::uint64_t FMaxBytes;
    std::deque<TFile> FFiles;     // oldest first
    std::uint64_t FBytes = 0;     // in all files
    std::uint64_t FReadAt = 0;    // in the oldest file: where the next Peek starts
    std::uint64_t FPeekedEnd = 0; // in the oldest file: the end of the last Peek
    int FLockFd = -1;
    int FWriteFd = -1; // the newest file, when this run made it
    std::uint64_t FNextNumber = 1;
};
