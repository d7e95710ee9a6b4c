// Programs a test runs to their end: the real sk_kav, or headless Chromium with the flags it
// needs on our machines. Every wait is bounded; one test thread.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

inline constexpr const char* ChromiumProgram = "/usr/bin/chromium";

// Chromium's arguments for a headless run with a new, empty profile in AProfileDir, without the
// background connections a closed network refuses (the program first, no page yet).
std::vector<std::string> HeadlessChromiumArgs(const std::string& AProfileDir);

// Starts AArgs (the program first) with its standard output into AOutFile and its standard
// error thrown away; each pair of AHanded (ours, theirs) gives it our descriptor under the
// number it has there. The child's id; -1 when it could not start.
pid_t StartProgram(const std::vector<std::string>& AArgs, const std::string& AOutFile,
                   const std::vector<std::pair<int, int>>& AHanded = {});
// Waits for the child APid to end, up to ATimeout; then kills it and waits for that.
void EndProgram(pid_t APid, std::chrono::milliseconds ATimeout);

// Runs AArgs as StartProgram does until it ends or ATimeout passes (then it is killed). What it
// wrote; empty when it could not start.
std::string RunToFile(const std::vector<std::string>& AArgs, const std::string& AOutFile,
                      std::chrono::milliseconds ATimeout);
