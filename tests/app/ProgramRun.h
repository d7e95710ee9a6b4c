// The real program as a child process for end-to-end tests: its output captured, every wait
// bounded; and the content files and Messages lines such a run needs and gives. The test's
// thread. Needs SKAV_PROGRAM and SKAV_CONTENT_DIR.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

extern char** environ;

// One run of the program with its stdout and stderr captured; every wait is bounded.
class ProgramRun {
public:
    explicit ProgramRun(const std::vector<std::string>& AArgs,
                        const std::string& AProgram = SKAV_PROGRAM) {
        int out[2], err[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> args = AArgs;
        args.insert(args.begin(), AProgram);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&FPid, AProgram.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        FOutFd = out[0];
        FErrFd = err[0];
    }
    ~ProgramRun() {
        if (FPid > 0 && !FExited) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        close(FOutFd);
        close(FErrFd);
    }

    // Reads output until AText appears in stderr or the time is up.
    bool WaitForErr(const std::string& AText,
                    std::chrono::milliseconds ATimeout = std::chrono::seconds(10)) {
        return WaitFor(FErr, AText, ATimeout);
    }
    bool WaitForOut(const std::string& AText,
                    std::chrono::milliseconds ATimeout = std::chrono::seconds(10)) {
        return WaitFor(FOut, AText, ATimeout);
    }
    // Waits for the exit (and the rest of the output); the status, or -1 after the timeout.
    int WaitForExit(std::chrono::milliseconds ATimeout = std::chrono::seconds(15)) {
        auto deadline = std::chrono::steady_clock::now() + ATimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            Pump(std::chrono::milliseconds(20));
            int status = 0;
            if (waitpid(FPid, &status, WNOHANG) == FPid) {
                FExited = true;
                while (Pump(std::chrono::milliseconds(50))) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }
    void Signal(int ASignal) { kill(FPid, ASignal); }
    // Whether stdout is read; a reader that stops lets the program's pipe fill up.
    bool ReadOut = true;
    const std::string& Out() const { return FOut; }
    const std::string& Err() const { return FErr; }

private:
    bool WaitFor(const std::string& AOutput, const std::string& AText,
                 std::chrono::milliseconds ATimeout) {
        auto deadline = std::chrono::steady_clock::now() + ATimeout;
        while (AOutput.find(AText) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !Pump(std::chrono::milliseconds(50)))
                return AOutput.find(AText) != std::string::npos;
        }
        return true;
    }

    // Reads what is there; false when both pipes are at their end.
    bool Pump(std::chrono::milliseconds AWait) {
        pollfd fds[2] = {{ReadOut ? FOutFd : -1, POLLIN, 0}, {FErrFd, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(AWait.count())) <= 0)
            return !((FOutDone || !ReadOut) && FErrDone) && !FExited;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0)
                (i == 0 ? FOut : FErr).append(buffer, static_cast<size_t>(n));
            else
                (i == 0 ? FOutDone : FErrDone) = true;
        }
        return !((FOutDone || !ReadOut) && FErrDone);
    }

    pid_t FPid = -1;
    int FOutFd = -1, FErrFd = -1;
    bool FOutDone = false, FErrDone = false, FExited = false;
    std::string FOut, FErr;
};

inline std::string ContentFile(const char* AName) {
    std::ifstream in(std::string(SKAV_CONTENT_DIR) + AName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void PutContentFiles(const TempDir& ADir) {
    for (const char* name : {"1x1.gif", "index.htm", "robots.txt"})
        ADir.WriteFile(name, ContentFile(name));
}

// The port from "Server started, listening on [::]:N." (or "0.0.0.0:N." without IPv6).
inline int ListeningPortOf(const std::string& AErr) {
    const std::size_t at = AErr.find("listening on ");
    if (at == std::string::npos)
        return 0;
    return std::atoi(AErr.c_str() + AErr.rfind(':', AErr.find('\n', at)) + 1);
}

inline std::vector<std::string> TextsOf(const std::string& AErr) {
    std::vector<std::string> texts;
    std::size_t start = 0;
    while (start < AErr.size()) {
        std::size_t end = AErr.find('\n', start);
        std::string line = AErr.substr(start, end - start);
        texts.push_back(line.size() > 25 ? line.substr(25) : line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return texts;
}
