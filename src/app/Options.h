// The program's command line: --headless, --dir, --port, --cert, --key, --report, --json, --help,
// --version.
// Parsed once on the main thread before anything else starts.
#pragma once

#include <optional>
#include <string>

struct TAppOptions {
    bool Headless = false;
    bool Help = false;
    bool Version = false;
    std::string Dir;         // empty: chosen at start-up (see SetUpProgramDir)
    std::optional<int> Port; // overrides ServerPort for this run only
    bool Report = false;     // print a day's statistics and exit
    std::string ReportDay;   // "yyyymmdd"; empty: today
    bool Json = false;       // the report as one JSON object
    // Override [TLS] CertFile and KeyFile for this run only (headless); no --key: the key is in
    // the certificate file.
    std::optional<std::string> CertFile;
    std::optional<std::string> KeyFile;
};

// Parses the arguments; false with AError set when they are not understood.
[[nodiscard]] bool ParseOptions(int argc, char** argv, TAppOptions& AOptions, std::string& AError);

// The usage text, ending in a line break.
std::string UsageText();
