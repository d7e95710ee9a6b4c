// The statistics of the shared store: the figures a day's overview file gives (TStatsSummary),
// over any range of days, for one instance or all of them, one GROUP BY per list. Names come
// back as display names, like the file's. The caller's thread, on a connection it opened.
#pragma once

#include <string>
#include <vector>

#include "stats/StatsFile.h"
#include "stats/StatsRange.h"
#include "stats/TDayStats.h"
#include "store/TStoreConnection.h"

struct TStoreStatsQuery {
    TLogDay First;
    TLogDay Last;
    std::string Instance; // empty: all instances
    // Names per list; 0 reads the totals and hours only.
    std::size_t Top = TDayStats::TopCount;
};

// A hit counts on its own local day and hour, as its instance's files hold it; visitors and
// hits under Do-Not-Track by the files' rules (a visitor id is the visitor; a hit without an
// address is a page view of nobody). Visitor names are the nicknames the instances recorded
// (else host name or address). False with AConnection.Error().
[[nodiscard]] bool ReadStoreStats(TStoreConnection& AConnection, const TStoreStatsQuery& AQuery,
                                  TStoreDeadline ADeadline, TStatsSummary& ASummary);

// The same over a range as the overview files' range gives it (SumDays): totals, hours and lists
// of all its days, and each day's page views and visitors. The range's visitors are the sum of
// each day's, as the files count them; every day is Read (one without hits counts 0). False
// with AConnection.Error().
[[nodiscard]] bool ReadStoreRange(TStoreConnection& AConnection, const TStoreStatsQuery& AQuery,
                                  TStoreDeadline ADeadline, TRangeFigures& ARange);

// The instances that have hits in the store, in byte order.
[[nodiscard]] bool ReadStoreInstances(TStoreConnection& AConnection, TStoreDeadline ADeadline,
                                      std::vector<std::string>& AInstances);
