// TNetSmallFileCache: copies of the small files answered on every request, each kept with the
// identity its file had when it was read (device, inode, size, modification and change times).
// A hit then costs one stat of the path instead of an open, a stat, a read and a close; a file
// changed or replaced since is read anew. A file changed within the last SettleTime is read
// every time: file times advance in clock ticks, so a second change in the same tick as the
// read would leave the identity as it was. Any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

class TNetSmallFileCache {
public:
    // Files kept at most; further ones are read on every request.
    static constexpr std::size_t MaxFiles = 64;
    // How long a file must have stood unchanged before its copy is kept (longer than any tick
    // of the file times).
    static constexpr std::chrono::milliseconds SettleTime{100};

    struct TFile {
        // A regular file stands at the path (false: missing or not a regular file). One that
        // cannot be opened counts too, without Bytes: answering it fails.
        bool Regular = false;
        long long Size = 0; // its size now
        // Its bytes when Size is at most the caller's limit, as read from the unchanged file.
        std::shared_ptr<const std::string> Bytes;
    };

    // The file at APath; Bytes only for a regular file of at most AMaxSize bytes.
    TFile Look(const std::string& APath, std::size_t AMaxSize);

private:
    struct TIdentity {
        unsigned long long Device = 0, Inode = 0;
        long long Size = 0, Modified = 0, Changed = 0; // nanoseconds

        bool operator==(const TIdentity&) const = default;
    };
    struct TCopy {
        TIdentity Identity;
        std::shared_ptr<const std::string> Bytes;
    };

    std::mutex FLock; // guards FCopies
    std::unordered_map<std::string, TCopy> FCopies;
};
