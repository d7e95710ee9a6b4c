// Where a record ended in the file it was appended to: which file (device and inode, so a file
// replaced under the same name is another) and the offset just past the record. A reader that
// knows how far it read a file can tell whether a record handed to it separately was among
// what it read. Plain data; any thread.
#pragma once

#include <cstdint>

struct TFilePlace {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t End = -1; // -1: not known

    bool Known() const { return End >= 0; }
    // Whether a record that ended here lies within ARead: the same file, read at least this far.
    bool Within(const TFilePlace& ARead) const {
        return Known() && ARead.Known() && Device == ARead.Device && Inode == ARead.Inode &&
               End <= ARead.End;
    }
};
