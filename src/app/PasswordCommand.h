// `sk_kav --dashboard-password`: reads a new password for the dashboard and keeps its salted
// hash in the settings file. Main thread, in a run of its own.
#pragma once

#include <cstdio>
#include <string>

// Reads the password from AIn (a terminal: twice, without echo, asking on AErr; a pipe: its
// first line) and writes [Dashboard] PasswordHash of ASettingsPath, leaving every other line.
// ARounds: the hash's rounds (tests pass fewer). Returns 0, or 1 with a message on AErr.
int RunDashboardPassword(int AIn, std::FILE* AOut, std::FILE* AErr,
                         const std::string& ASettingsPath, int ARounds);
