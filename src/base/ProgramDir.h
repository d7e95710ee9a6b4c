// The program directory: where the content files, the settings file and its lists lie.
// Any thread may read it; it is set once at start-up, before any other thread runs.
#pragma once

#include <string>

// The directory with a trailing '/': the executable's unless SetProgramDir chose another.
std::string ProgramDir();

// Sets the program directory (a trailing '/' is added when missing).
void SetProgramDir(const std::string& ADir);
