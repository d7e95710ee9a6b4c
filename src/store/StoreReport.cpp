#include "store/StoreReport.h"

#include <functional>

#include "config/config.h"
#include "stats/StatsReport.h"
#include "store/StoreStats.h"

namespace {

// A range's queries read a few partitions a day; a database that takes longer is as good as
// down.
constexpr std::chrono::seconds ConnectTimeout{10};
constexpr std::chrono::seconds ReadTimeout{60};

// Opens the store the settings name and runs ARead on it; false with a message on AErr.
bool ReadStore(const TKAV_GeneralConfig& AConfig,
               const std::function<bool(TStoreConnection&, TStoreDeadline)>& ARead,
               std::FILE* AErr) {
    if (AConfig.StoreConnection.empty()) {
        std::fputs("sk_kav: no shared store: [Store] Connection is empty\n", AErr);
        return false;
    }
    if (TStoreConnection::NamesPassword(AConfig.StoreConnection)) {
        std::fputs("sk_kav: [Store] Connection names a password; libpq's password file or "
                   "PGPASSWORD must hold it\n",
                   AErr);
        return false;
    }
    TStoreConnection connection;
    const auto now = std::chrono::steady_clock::now();
    if (!connection.Open(AConfig.StoreConnection, now + ConnectTimeout) ||
        !ARead(connection, now + ReadTimeout)) {
        std::fprintf(AErr, "sk_kav: cannot read the shared store: %s\n",
                     connection.Error().c_str());
        return false;
    }
    return true;
}

std::string SourceText(const std::string& AInstance) {
    return AInstance.empty() ? "shared store, all instances"
                             : "shared store, instance " + AInstance;
}

int Print(const std::string& AReport, std::FILE* AOut) {
    std::fwrite(AReport.data(), 1, AReport.size(), AOut);
    return std::fflush(AOut) == 0 ? 0 : 1;
}

} // namespace

int RunStoreReport(const std::string& ADay, const std::string& AInstance, bool AJson,
                   std::FILE* AOut, std::FILE* AErr) {
    TLogDay day;
    TKAV_GeneralConfig config;
    TStatsSummary summary;
    if (!PrepareReport(ADay, day, config, AErr) ||
        !ReadStore(
            config,
            [&](TStoreConnection& AConnection, TStoreDeadline ADeadline) {
                return ReadStoreStats(AConnection, {day, day, AInstance}, ADeadline, summary);
            },
            AErr))
        return 1;
    return Print(AJson ? JsonReport(day, summary) : TextReport(day, SourceText(AInstance), summary),
                 AOut);
}

int RunStoreRangeReport(const std::string& AFrom, const std::string& ATo,
                        const std::string& AInstance, bool AJson, std::FILE* AOut,
                        std::FILE* AErr) {
    TLogDay from, to;
    TKAV_GeneralConfig config;
    TRangeFigures range;
    if (!PrepareRangeReport(AFrom, ATo, from, to, config, AErr) ||
        !ReadStore(
            config,
            [&](TStoreConnection& AConnection, TStoreDeadline ADeadline) {
                return ReadStoreRange(AConnection, {from, to, AInstance}, ADeadline, range);
            },
            AErr))
        return 1;
    return Print(AJson ? JsonRangeReport(range) : TextRangeReport(range, SourceText(AInstance)),
                 AOut);
}
