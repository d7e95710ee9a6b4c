// The program's command line: --headless, --dir, --port, --help, --version.
// Parsed once on the main thread before anything else starts.
#pragma once

#include <optional>
#include <string>

struct TAppOptions {
    bool Headless = false;
    bool Help = false;
    bool Version = false;
    std::string Dir;              // empty: the executable's directory
    std::optional<int> Port;      // overrides ServerPort for this run only
};

// Parses the arguments; false with AError set when they are not understood.
[[nodiscard]] bool ParseOptions(int argc, char** argv, TAppOptions& AOptions, std::string& AError);

// The usage text, ending in a line break.
std::string UsageText();
