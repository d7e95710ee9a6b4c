// A fresh directory under the system's temporary folder, removed with everything in it.
// Owned by one test; not shared between threads.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory with a trailing '/'.
    const std::string& Path() const { return FPath; }
    // Writes a file below the directory (ARelative without a leading '/').
    void WriteFile(const std::string& ARelative, const std::string& AContent) const;
    std::string ReadFile(const std::string& ARelative) const;
    bool Exists(const std::string& ARelative) const;

private:
    std::string FPath;
};

// Number of open descriptors of this process (entries of /proc/self/fd).
int OpenDescriptorCount();
// Number of threads of this process (entries of /proc/self/task).
int ThreadCount();
