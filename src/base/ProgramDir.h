// The program directory: where the content files, the settings file and its lists lie.
// Any thread may read it; it is set once at start-up, before any other thread runs.
#pragma once

#include <string>
#include <string_view>

// The directory with a trailing '/': the executable's unless SetProgramDir chose another.
std::string ProgramDir();
// The path of a file in it, made in one piece.
std::string ProgramFile(std::string_view AName);

// Sets the program directory (a trailing '/' is added when missing).
void SetProgramDir(const std::string& ADir);

// The directory of the running executable, with a trailing '/'.
std::string ExecutableDir();

// How the program directory was found.
enum class TProgramDirKind {
    Given,    // --dir
    Portable, // the executable's own directory: a portable copy, or the build folder
    PerUser,  // the user's configuration directory, made and filled on first start
};

struct TProgramDirChoice {
    std::string Dir; // with a trailing '/'
    TProgramDirKind Kind = TProgramDirKind::Given;
};

// Chooses the program directory, in this order: AGiven (--dir) when not empty; else
// AExecutableDir when it holds "sk_KAV.ini" or "1x1.gif"; else "sk_kav/" in AXdgConfigHome
// when that is an absolute path, else in AHome + "/.config". The environment's values are
// passed in (nullptr when unset) so that the choice can be tried without changing it.
TProgramDirChoice ChooseProgramDir(const std::string& AGiven, const std::string& AExecutableDir,
                                   const char* AXdgConfigHome, const char* AHome);
