#include "app/FirstRun.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ProgramDir.h"
#include "config/FileText.h"
#include "config/TProfileFile.h"

namespace {

const char* const SettingsName = "sk_KAV.ini";
// The settings file last: a start that breaks off before it is a first start again.
const char* const ExampleFiles[] = {"1x1.gif", "index.htm", "robots.txt", "sk_KAV.ini"};

bool Exists(const std::string& APath) {
    struct stat info {};
    return ::stat(APath.c_str(), &info) == 0;
}

// Makes ADir and any missing parent; true when it is a directory afterwards.
bool MakeDirectories(const std::string& ADir, unsigned AMode) {
    for (std::size_t slash = ADir.find('/', 1); slash != std::string::npos;
         slash = ADir.find('/', slash + 1)) {
        const std::string part = ADir.substr(0, slash);
        if (::mkdir(part.c_str(), AMode) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return ::stat(ADir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes a new file; never replaces one that is there.
bool CreateFile(const std::string& APath, const std::string& AText) {
    const int fd = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < AText.size()) {
        const ssize_t n = ::write(fd, AText.data() + done, AText.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = ::close(fd) == 0 && done == AText.size();
    if (!ok)
        ::unlink(APath.c_str());
    return ok;
}

// The copied settings log where the service manager keeps logs (/var/log/sk_kav/).
bool PointLogDirAt(const std::string& ASettings, std::string ALogDir) {
    if (ALogDir.back() != '/')
        ALogDir += '/';
    TProfileFile file(ASettings);
    return file.Load() && file.WriteString("General", "LogDir", ALogDir) && file.Save();
}

// The first entry of a colon-separated list such as $LOGS_DIRECTORY, or empty.
std::string FirstOf(const char* AList) {
    if (AList == nullptr)
        return {};
    const std::string list(AList);
    return list.substr(0, list.find(':'));
}

std::string Joined(const std::vector<std::string>& ANames) {
    std::string text;
    for (const std::string& name : ANames)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

std::string ShareDirOf(const std::string& AExecutableDir) {
    std::string dir = AExecutableDir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const std::size_t slash = dir.rfind('/');
    const std::string prefix = slash == std::string::npos ? "./" : dir.substr(0, slash + 1);
    return prefix + "share/sk_kav/";
}

std::string ExampleFilesDirOf(const std::string& AExecutableDir) {
    const std::string share = ShareDirOf(AExecutableDir);
#ifdef SKAV_BUILD_TREE
    // The executable's directory is a real path; the build tree's name may hold a link.
    char tree[PATH_MAX];
    struct stat info {};
    if (::stat(share.c_str(), &info) != 0 && ::realpath(SKAV_BUILD_TREE, tree) != nullptr &&
        AExecutableDir.starts_with(std::string(tree) + "/"))
        return SKAV_BUILD_SHARE_DIR;
#endif
    return share;
}

std::vector<std::string> FillProgramDir(const std::string& ADir, const std::string& AShareDir,
                                        const std::string& ALogDir, unsigned AMode) {
    std::vector<std::string> copied;
    if (!MakeDirectories(ADir, AMode) || Exists(ADir + SettingsName))
        return copied;
    for (const char* name : ExampleFiles) {
        std::string text;
        if (Exists(ADir + name) || ReadFileText(AShareDir + name, text) != TFileReadResult::Ok)
            continue;
        if (CreateFile(ADir + name, text))
            copied.push_back(name);
    }
    if (!copied.empty() && copied.back() == SettingsName && !ALogDir.empty())
        (void)PointLogDirAt(ADir + SettingsName, ALogDir);
    return copied;
}

void SetUpProgramDir(const std::string& AGiven) {
    const std::string exe = ExecutableDir();
    const TProgramDirChoice choice =
        ChooseProgramDir(AGiven, exe, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    SetProgramDir(choice.Dir);
    if (choice.Kind == TProgramDirKind::Portable)
        return; // a portable copy brings its own files, the build folder gets them copied
    const std::string share = ExampleFilesDirOf(exe);
    // It holds the visitor-id key and, with an empty LogDir, the logs: visitors' data.
    const unsigned mode = choice.Kind == TProgramDirKind::PerUser ? 0700 : 0750;
    const std::vector<std::string> copied =
        FillProgramDir(choice.Dir, share, FirstOf(std::getenv("LOGS_DIRECTORY")), mode);
    if (!copied.empty())
        std::fprintf(stderr, "sk_kav: first start in %s: copied %s from %s\n", choice.Dir.c_str(),
                     Joined(copied).c_str(), share.c_str());
    else if (!Exists(choice.Dir))
        std::fprintf(stderr, "sk_kav: cannot make the program directory %s\n", choice.Dir.c_str());
}
