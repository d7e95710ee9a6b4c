// The program's command line: --headless, --dir, --port, --cert, --key, --report, --from, --to,
// --json, --store, --instance, --erase, --dry-run, --dashboard-password, --help, --version.
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
    std::string ReportFrom;  // "yyyymmdd": a range from this day; empty: one day
    std::string ReportTo;    // "yyyymmdd": the range's last day; empty: today
    bool Json = false;       // the report as one JSON object
    bool Store = false;      // the report from the shared store instead of the overview file
    std::string Instance;    // with Store: one instance's hits only; empty: all
    // Remove every record of this address or visitor id from the log files and exit.
    std::optional<std::string> Erase;
    bool DryRun = false; // with Erase: count, change nothing
    // Override [TLS] CertFile and KeyFile for this run only (headless); no --key: the key is in
    // the certificate file.
    std::optional<std::string> CertFile;
    std::optional<std::string> KeyFile;
    bool DashboardPassword = false; // read a password and keep its hash in the settings file
};

// Parses the arguments; false with AError set when they are not understood.
[[nodiscard]] bool ParseOptions(int argc, char** argv, TAppOptions& AOptions, std::string& AError);

// The usage text, ending in a line break. The man page's synopsis and options are made from
// it (tools/ManPage.cpp): the command lines first, then each option on a line of its own
// starting with two blanks and "-", its text after two blanks or on lines indented further.
std::string UsageText();
