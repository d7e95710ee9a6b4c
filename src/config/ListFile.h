// The two list files (nicknames, no-log addresses): plain text, one entry per line.
// Any thread, as long as no two threads write the same path at once.
#pragma once

#include <string>
#include <vector>

#include "config/FileText.h"

// Lines separated by CR, LF or CR LF, taken as they stand; a last line without a line end
// counts, an empty text gives no lines.
std::vector<std::string> SplitListLines(const std::string& AText);

// Every line followed by CR LF; no lines give an empty text.
std::string JoinListLines(const std::vector<std::string>& ALines);

// Writes the whole file crash-safely; false on failure, the old file then untouched.
[[nodiscard]] bool WriteListFile(const std::string& APath, const std::vector<std::string>& ALines);
