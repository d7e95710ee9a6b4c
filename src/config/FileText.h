// Whole-file reads and crash-safe whole-file replacement for the settings files.
// Any thread, as long as no two threads write the same path at once.
#pragma once

#include <cstddef>
#include <string>

enum class TFileReadResult { Ok, Missing, Failed };

// The largest settings or list file that is read.
inline constexpr std::size_t MaxFileTextSize = 16 * 1024 * 1024;

// Reads the whole file into AText. Missing: no such file (AText empty); Failed: it exists but
// is no regular file of at most AMaxBytes or cannot be read (no permission, a directory, a
// FIFO or device, an I/O error); AText is then empty. Opening never waits for a FIFO's writer.
[[nodiscard]] TFileReadResult ReadFileText(const std::string& APath, std::string& AText,
                                           std::size_t AMaxBytes = MaxFileTextSize);

// Writes AText to a new file beside APath, flushes it to disk and renames it over APath, so
// readers and a crash see either the old or the new file, never a part of one. An existing
// file keeps its owner, group and permission bits; a symbolic link keeps pointing where it did
// and its target is replaced. Where no new file can be made beside it (a directory we may not
// write) or its owner cannot be kept, an existing file is overwritten in place instead.
// False on failure: the old file is then untouched, unless a write in place broke off.
[[nodiscard]] bool ReplaceFileText(const std::string& APath, const std::string& AText);
