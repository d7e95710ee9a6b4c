#include "base/ProgramDir.h"

#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex gLock; // guards gDir
std::string gDir;

std::string WithDelimiter(std::string ADir) {
    if (ADir.empty())
        return "./";
    if (ADir.back() != '/')
        ADir += '/';
    return ADir;
}

bool IsFile(const std::string& APath) {
    struct stat info {};
    return ::stat(APath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The home directory: $HOME, else the password database's entry, else empty.
std::string HomeDir(const char* AHome) {
    if (AHome != nullptr && *AHome != '\0')
        return AHome;
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

} // namespace

std::string ExecutableDir() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return "./";
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

TProgramDirChoice ChooseProgramDir(const std::string& AGiven, const std::string& AExecutableDir,
                                   const char* AXdgConfigHome, const char* AHome) {
    if (!AGiven.empty())
        return {WithDelimiter(AGiven), TProgramDirKind::Given};
    const std::string exe = WithDelimiter(AExecutableDir);
    if (IsFile(exe + "sk_KAV.ini") || IsFile(exe + "1x1.gif"))
        return {exe, TProgramDirKind::Portable};
    // A relative $XDG_CONFIG_HOME is to be ignored, as the XDG base directory rules say.
    std::string base = AXdgConfigHome != nullptr && AXdgConfigHome[0] == '/' ? AXdgConfigHome : "";
    if (base.empty()) {
        const std::string home = HomeDir(AHome);
        if (home.empty())
            return {exe, TProgramDirKind::Portable}; // nowhere else to go
        base = WithDelimiter(home) + ".config";
    }
    return {WithDelimiter(base) + "sk_kav/", TProgramDirKind::PerUser};
}

namespace {

// The directory, the executable's until one is set; under gLock.
const std::string& DirLocked() {
    if (gDir.empty())
        gDir = ExecutableDir();
    return gDir;
}

} // namespace

std::string ProgramDir() {
    std::lock_guard<std::mutex> guard(gLock);
    return DirLocked();
}

std::string ProgramFile(std::string_view AName) {
    std::lock_guard<std::mutex> guard(gLock);
    const std::string& dir = DirLocked();
    std::string path;
    path.reserve(dir.size() + AName.size());
    path.append(dir).append(AName);
    return path;
}

void SetProgramDir(const std::string& ADir) {
    std::lock_guard<std::mutex> guard(gLock);
    gDir = WithDelimiter(ADir);
}
