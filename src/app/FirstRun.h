// The program directory at start-up: chosen, made and, on its first start, filled from the
// installed example files. Main thread, before any other thread starts.
#pragma once

#include <string>
#include <vector>

// Where an installed program keeps its example files: <prefix>/share/sk_kav/ for a program in
// <prefix>/bin/. AExecutableDir ends with '/'.
std::string ShareDirOf(const std::string& AExecutableDir);

// Where a first start takes the example files from: ShareDirOf(AExecutableDir); for a program
// that runs from its build tree, which has no share directory, the build's copy of it.
std::string ExampleFilesDirOf(const std::string& AExecutableDir);

// Fills ADir on its first start (no "sk_KAV.ini" there yet) with whatever is missing of the
// content files and the example settings in AShareDir; nothing is overwritten. A non-empty
// ALogDir (the service manager's log directory) becomes LogDir of the copied settings. Makes
// ADir (mode AMode) when it is missing. Returns the names copied, in order.
std::vector<std::string> FillProgramDir(const std::string& ADir, const std::string& AShareDir,
                                        const std::string& ALogDir, unsigned AMode = 0750);

// Chooses the program directory (AGiven from --dir, else the executable's own, else the
// user's configuration directory), fills it on first start and sets ProgramDir. What it
// copied, or could not do, is said on stderr.
void SetUpProgramDir(const std::string& AGiven);
