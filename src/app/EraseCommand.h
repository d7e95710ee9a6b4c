// The command behind `sk_kav --erase`: removes a visitor's records from the log directory of
// the settings and prints what it did. Main thread of the erase run.
#pragma once

#include <cstdio>
#include <string>

// Loads the settings (ProgramDir must be set) and erases every record of AWho (an address or
// a visitor id) from the day files of their log directory, printing a line per file to AOut.
// Returns 0, or 1 with a message on AErr (AWho neither, a file that could not be rewritten).
int RunLogErasure(const std::string& AWho, bool ADryRun, std::FILE* AOut, std::FILE* AErr);
