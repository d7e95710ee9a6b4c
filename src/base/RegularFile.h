// A file read as data (settings, lists, day files, certificates and keys): opened without
// waiting for a writer, taken only when it is a regular file once links are followed, and read
// no further than its reader allows, so a FIFO, a device or a file that never ends cannot hold
// a reader or fill its memory. One object per reader; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

enum class TRegularFileStatus {
    Open,       // ready to read
    Missing,    // no such file
    Unreadable, // it exists, but opening or reading it failed (no permission, an I/O error)
    NotRegular, // a directory, FIFO, device or socket
    TooLarge,   // more than the reader's bound, when opened or while read
};

class TRegularFile {
public:
    // Opens APath for reading; a file of more than AMaxBytes is refused.
    TRegularFile(const std::string& APath, std::uint64_t AMaxBytes);
    ~TRegularFile();
    TRegularFile(const TRegularFile&) = delete;
    TRegularFile& operator=(const TRegularFile&) = delete;

    TRegularFileStatus Status() const { return FStatus; }
    bool IsOpen() const { return FStatus == TRegularFileStatus::Open; }
    // The size and permission bits when it was opened.
    std::uint64_t Size() const { return FSize; }
    mode_t Mode() const { return FMode; }
    // Which file was opened, whatever its name is now.
    std::uint64_t Device() const { return FDevice; }
    std::uint64_t Inode() const { return FInode; }

    // Reads the next bytes into AInto: how many, 0 at the end. -1 when the read failed or the
    // file grew past the bound meanwhile; the status then tells which.
    long Read(char* AInto, std::size_t ASize);
    // Reads the rest of the file into AText; false, with AText empty, when a read fails or the
    // file grows past the bound.
    [[nodiscard]] bool ReadAll(std::string& AText);
    // What went wrong, in words for a message after the file's name: the system's reason, "not
    // a regular file" or "larger than 16 MiB". Empty while the file is open.
    std::string Problem() const;

private:
    void Fail(TRegularFileStatus AStatus, int AError);

    int FFd = -1;
    TRegularFileStatus FStatus = TRegularFileStatus::Open;
    int FError = 0;
    std::uint64_t FMaxBytes;
    std::uint64_t FSize = 0;
    std::uint64_t FRead = 0;
    mode_t FMode = 0;
    std::uint64_t FDevice = 0;
    std::uint64_t FInode = 0;
};

// The whole file into AText (empty unless Open comes back); AProblem, when given, receives
// TRegularFile::Problem.
TRegularFileStatus ReadRegularFile(const std::string& APath, std::string& AText,
                                   std::uint64_t AMaxBytes, std::string* AProblem = nullptr);

// "16 MiB", "1 GiB", "300 KiB", "1000 bytes": a bound as a message gives it.
std::string ByteCountText(std::uint64_t ABytes);
