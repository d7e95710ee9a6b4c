#include "base/ProgramDir.h"

#include <mutex>
#include <unistd.h>

namespace {

std::mutex gLock; // guards gDir
std::string gDir;

std::string ExecutableDir() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return "./";
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

std::string WithDelimiter(std::string ADir) {
    if (ADir.empty())
        return "./";
    if (ADir.back() != '/')
        ADir += '/';
    return ADir;
}

} // namespace

std::string ProgramDir() {
    std::lock_guard<std::mutex> guard(gLock);
    if (gDir.empty())
        gDir = ExecutableDir();
    return gDir;
}

void SetProgramDir(const std::string& ADir) {
    std::lock_guard<std::mutex> guard(gLock);
    gDir = WithDelimiter(ADir);
}
