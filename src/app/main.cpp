// sk_kav: the composition root. Parses the command line, sets up the program directory and runs
// the window or, with --headless (or when built without the window), the terminal front end;
// --report only prints statistics.
#include <cstdio>
#include <string>

#include "app/FirstRun.h"
#include "app/HeadlessApp.h"
#include "app/Options.h"
#include "stats/StatsReport.h"
#ifdef SKAV_HAVE_GUI
#include "shell/DesktopApp.h"
#endif

int main(int argc, char** argv) {
    TAppOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "sk_kav: %s\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::puts("sk_KAV V1.0");
        return 0;
    }
    SetUpProgramDir(options.Dir);
    if (options.Report)
        return RunStatsReport(options.ReportDay, options.Json, stdout, stderr);
    if (options.Headless)
        return RunHeadlessApp(options);
#ifdef SKAV_HAVE_GUI
    if (options.CertFile) {
        // The window keeps its certificate in the settings (Network page).
        std::fprintf(stderr, "sk_kav: --cert and --key go with --headless\n%s",
                     UsageText().c_str());
        return 2;
    }
    return RunDesktopApp(argc, argv, options.Port);
#else
    std::fputs("sk_kav: built without the window; running headless\n", stderr);
    return RunHeadlessApp(options);
#endif
}
