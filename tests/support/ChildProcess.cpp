#include "support/ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>

#include "support/WaitUntil.h"

extern char** environ;

std::vector<std::string> HeadlessChromiumArgs(const std::string& AProfileDir) {
    return {ChromiumProgram,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--user-data-dir=" + AProfileDir};
}

pid_t StartProgram(const std::vector<std::string>& AArgs, const std::string& AOutFile,
                   const std::vector<std::pair<int, int>>& AHanded) {
    std::vector<std::string> args = AArgs;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [ours, theirs] : AHanded)
        posix_spawn_file_actions_adddup2(&actions, ours, theirs);
    posix_spawn_file_actions_addopen(&actions, 1, AOutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

void EndProgram(pid_t APid, std::chrono::milliseconds ATimeout) {
    if (!WaitUntil([APid] { return waitpid(APid, nullptr, WNOHANG) == APid; }, ATimeout)) {
        kill(APid, SIGKILL);
        waitpid(APid, nullptr, 0);
    }
}

std::string RunToFile(const std::vector<std::string>& AArgs, const std::string& AOutFile,
                      std::chrono::milliseconds ATimeout) {
    const pid_t pid = StartProgram(AArgs, AOutFile);
    if (pid < 0)
        return {};
    EndProgram(pid, ATimeout);
    std::ifstream in(AOutFile, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
