// Whole-file reads and crash-safe whole-file replacement for the settings files.
// Any thread, as long as no two threads write the same path at once.
#pragma once

#include <string>

enum class TFileReadResult { Ok, Missing, Failed };

// Reads the whole file into AText. Missing: no such file (AText empty); Failed: it exists
// but cannot be read (no permission, a directory, an I/O error).
[[nodiscard]] TFileReadResult ReadFileText(const std::string& APath, std::string& AText);

// Writes AText to a new file beside APath, flushes it to disk and renames it over APath, so
// readers and a crash see either the old or the new file, never a part of one. An existing
// file keeps its owner, group and permission bits; a symbolic link keeps pointing where it did
// and its target is replaced. Where no new file can be made beside it (a directory we may not
// write) or its owner cannot be kept, an existing file is overwritten in place instead.
// False on failure: the old file is then untouched, unless a write in place broke off.
[[nodiscard]] bool ReplaceFileText(const std::string& APath, const std::string& AText);
