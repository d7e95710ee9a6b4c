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

bool CheckReportRange(const TAppOptions& AOptions, std::string& AError) {
    if ((!AOptions.ReportFrom.empty() || !AOptions.ReportTo.empty()) && !AOptions.Report)
        AError = "--from and --to go with --report";
    else if (!AOptions.ReportTo.empty() && AOptions.ReportFrom.empty())
        AError = "--to goes with --from";
    else if (!AOptions.ReportFrom.empty() && !AOptions.ReportDay.empty())
        AError = "--report takes a day or --from, not both";
    return AError.empty();
}

// Setting the password is a run of its own: it only writes the settings file.
bool CheckPasswordRun(const TAppOptions& AOptions, std::string& AError) {
    if (AOptions.DashboardPassword &&
        (AOptions.Report || AOptions.Headless || AOptions.Port || AOptions.CertFile))
        AError = "--dashboard-password goes only with --dir";
    return AError.empty();
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
        } else if (arg == "--from" || arg == "--to") {
            if (!takeValue())
                return false;
            TLogDay day;
            if (!ParseLogDay(value, day)) {
                AError = arg + " needs a day as yyyymmdd";
                return false;
            }
            (arg == "--from" ? AOptions.ReportFrom : AOptions.ReportTo) = value;
        } else if (arg == "--json" && !hasValue) {
            AOptions.Json = true;
        } else if (arg == "--dashboard-password" && !hasValue) {
            AOptions.DashboardPassword = true;
        } else if (arg == "--store" && !hasValue) {
            AOptions.Store = true;
        } else if (arg == "--instance") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                AError = "--instance needs a name";
                return false;
            }
            AOptions.Instance = value;
        } else if (arg == "--erase") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                AError = "--erase needs an address or a visitor id";
                return false;
            }
            AOptions.Erase = value;
        } else if (arg == "--dry-run" && !hasValue) {
            AOptions.DryRun = true;
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
    if (AOptions.Store && !AOptions.Report) {
        AError = "--store goes with --report";
        return false;
    }
    if (!AOptions.Instance.empty() && !AOptions.Store) {
        AError = "--instance goes with --store";
        return false;
    }
    if (AOptions.DryRun && !AOptions.Erase) {
        AError = "--dry-run goes with --erase";
        return false;
    }
    if (AOptions.Erase && (AOptions.Report || AOptions.Headless || AOptions.DashboardPassword)) {
        AError = "--erase goes alone (with --dir and --dry-run)";
        return false;
    }
    return CheckReportRange(AOptions, AError) && CheckPasswordRun(AOptions, AError);
}

std::string UsageText() {
    return "Usage: sk_kav [--headless] [--dir DIR] [--port N] [--cert FILE [--key FILE]]\n"
           "              [--help] [--version]\n"
           "       sk_kav --report [yyyymmdd | --from yyyymmdd [--to yyyymmdd]] [--dir DIR]\n"
           "              [--json] [--store [--instance NAME]]\n"
           "       sk_kav --erase ADDRESS|VISITORID [--dir DIR] [--dry-run]\n"
           "       sk_kav --dashboard-password [--dir DIR]\n"
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
           "  --from yyyymmdd [--to yyyymmdd]\n"
           "              with --report: the days from --from to --to (default: today),\n"
           "              at most 366, summed, with the page views and visitors of each\n"
           "  --json      with --report: one JSON object instead of the table\n"
           "  --store     with --report: the day or days of every instance from the shared\n"
           "              store ([Store] Connection) instead of this instance's overview\n"
           "              logs\n"
           "  --instance NAME\n"
           "              with --store: only the hits of the instance NAME ([Export]\n"
           "              Instance)\n"
           "  --erase ADDRESS|VISITORID\n"
           "              remove every record of that address (as the records show it:\n"
           "              a masked one matches the masked records) or visitor id from\n"
           "              the day files of the log directory, also while the server runs,\n"
           "              print how many left each file, and exit\n"
           "  --dry-run   with --erase: only count the records, change nothing\n"
           "  --dashboard-password\n"
           "              read a password for the dashboard (twice from a terminal, once\n"
           "              from a pipe), write its salted hash into sk_KAV.ini and exit\n"
           "  --help      show this text\n"
           "  --version   show the version\n";
}
