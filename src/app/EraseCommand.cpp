#include "app/EraseCommand.h"

#include "config/config.h"
#include "logging/TLogEraser.h"
#include "stats/HitRules.h"
#include "stats/StatsFile.h"

int RunLogErasure(const std::string& AWho, bool ADryRun, std::FILE* AOut, std::FILE* AErr) {
    const std::optional<TEraseTarget> target = ParseEraseTarget(AWho);
    if (!target) {
        std::fprintf(AErr, "sk_kav: %s is neither an address nor a visitor id (16 hex digits)\n",
                     DisplayName(AWho).c_str());
        return 1;
    }
    TKAV_GeneralConfig config;
    if (!LoadConfig(config, DefaultConfigFiles()))
        std::fputs("Error loading configuration, using default values\n", AErr);
    const std::string directory = LogDirOf(config);
    const char* const done = ADryRun ? "would be erased" : "erased";
    std::size_t files = 0, erased = 0;
    TLogEraser eraser(directory, *target, ADryRun);
    std::string error;
    const bool ok = eraser.Run(
        [&](const TErasedFile& AFile) {
            ++files;
            erased += AFile.Erased;
            std::fprintf(AOut, "%s: %zu of %zu records %s\n", AFile.Name.c_str(), AFile.Erased,
                         AFile.Records, done);
            std::fflush(AOut);
        },
        error);
    if (!ok) {
        std::fprintf(AErr,
                     "sk_kav: erasing in %s stopped: %s\nThat file is as it was; the files "
                     "listed before are done: run the command again to finish.\n",
                     DisplayName(directory).c_str(), DisplayName(error).c_str());
        return 1;
    }
    std::fprintf(AOut, "%zu records %s from %zu files in %s\n", erased, done, files,
                 DisplayName(directory).c_str());
    return std::fflush(AOut) == 0 ? 0 : 1;
}
