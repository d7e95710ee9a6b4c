// sk_kav: the composition root. Parses the command line, sets up the program directory and runs
// the window or, with --headless (or when built without the window), the terminal front end;
// --report only prints statistics (of the overview file, or with --store of the shared store),
// --erase only removes a visitor's records, --dashboard-password only writes a password's hash.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/EraseCommand.h"
#include "app/FirstRun.h"
#include "app/HeadlessApp.h"
#include "app/Options.h"
#include "app/PasswordCommand.h"
#include "config/config.h"
#include "dashboard/DashboardPassword.h"
#include "stats/StatsReport.h"
#include "store/StoreReport.h"
#include "store/TStoreWriter.h"
#include "tracking/IHitStore.h"
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
    // Hits reach the shared store whenever [Store] Connection names one.
    SetHitStoreFactory(&MakeStoreWriter);
    if (options.Report && options.Store && !options.ReportFrom.empty())
        return RunStoreRangeReport(options.ReportFrom, options.ReportTo, options.Instance,
                                   options.Json, stdout, stderr);
    if (options.Report && options.Store)
        return RunStoreReport(options.ReportDay, options.Instance, options.Json, stdout, stderr);
    if (options.Report && !options.ReportFrom.empty())
        return RunStatsRangeReport(options.ReportFrom, options.ReportTo, options.Json, stdout,
                                   stderr);
    if (options.Report)
        return RunStatsReport(options.ReportDay, options.Json, stdout, stderr);
    if (options.Erase)
        return RunLogErasure(*options.Erase, options.DryRun, stdout, stderr);
    if (options.DashboardPassword)
        return RunDashboardPassword(STDIN_FILENO, stdout, stderr, ConfigFilePath(), PasswordRounds);
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
