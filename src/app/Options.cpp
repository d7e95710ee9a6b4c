#include "app/Options.h"

#include <charconv>

#include "stats/StatsFile.h"

namespace {

// Any whole number: one outside 1..65535 (0 aside) refuses the start with a Messages line.
bool ParsePort(const std::string& AText, int& APort) {
    const char* end = AText.data() + AText.size();
    auto [ptr, ec] = std::from_chars(AText.data(), end, APort);
    return !AText.empty() && ec == std::errc() && ptr == end;
}

} // namespace

bool ParseOptions(int argc, char** argv, TAppOptions& AOptions, std::string& AError) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                AError = "option " + arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (arg == "--headless" && !hasValue) {
            AOptions.Headless = true;
        } else if (arg == "--help" && !hasValue) {
            AOptions.Help = true;
        } else if (arg == "--version" && !hasValue) {
            AOptions.Version = true;
        } else if (arg == "--dir") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                AError = "--dir needs a directory";
                return false;
            }
            AOptions.Dir = value;
        } else if (arg == "--port") {
            if (!takeValue())
                return false;
            int port = 0;
            if (!ParsePort(value, port)) {
                AError = "--port needs a number";
                return false;
            }
            AOptions.Port = port;
        } else if (arg == "--cert" || arg == "--key") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                AError = arg + " needs a file";
                return false;
            }
            (arg == "--cert" ? AOptions.CertFile : AOptions.KeyFile) = value;
        } else if (arg == "--report") {
            // The day is optional: a following word that is no option is taken as the day.
            if (!hasValue && i + 1 < argc && argv[i + 1][0] != '-') {
                value = argv[++i];
                hasValue = true;
            }
            TLogDay day;
            if (hasValue && !ParseLogDay(value, day)) {
                AError = "--report needs a day as yyyymmdd";
                return false;
            }
            AOptions.Report = true;
            AOptions.ReportDay = value;
        } else if (arg == "--json" && !hasValue) {
            AOptions.Json = true;
        } else {
            AError = std::string("unknown argument: ") + argv[i];
            return false;
        }
    }
    if (AOptions.KeyFile && !AOptions.CertFile) {
        AError = "--key goes with --cert";
        return false;
    }
    if (AOptions.Json && !AOptions.Report) {
        AError = "--json goes with --report";
        return false;
    }
    return true;
}

std::string UsageText() {
    return "Usage: sk_kav [--headless] [--dir DIR] [--port N] [--cert FILE [--key FILE]]\n"
           "              [--help] [--version]\n"
           "       sk_kav --report [yyyymmdd] [--dir DIR] [--json]\n"
           "  --headless  run the tracking server without a window, until SIGINT or SIGTERM\n"
           "  --dir DIR   program directory: content files, settings and list files\n"
           "              (default: the executable's directory when it holds sk_KAV.ini\n"
           "              or 1x1.gif, else ~/.config/sk_kav, filled on first start)\n"
           "  --port N    listen on port N for this run only (0: a free port)\n"
           "  --cert FILE, --key FILE\n"
           "              with --headless: serve HTTPS on the same port with this PEM\n"
           "              certificate chain and key for this run only (no --key: the key\n"
           "              is in FILE of --cert)\n"
           "  --report [yyyymmdd]\n"
           "              print the statistics of that day's overview log (default: today)\n"
           "              and exit; needs no display and never starts the server\n"
           "  --json      with --report: one JSON object instead of the table\n"
           "  --help      show this text\n"
           "  --version   show the version\n";
}
