// What a view of the dashboard asks for in its query: a named range or a first and last day,
// and the top list shown long. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "stats/StatsFile.h"

struct TDashboardQuery {
    // "today", "yesterday", "7d" (the last 7 days), "30d" or "month" (this month so far);
    // empty when the days were given as from and to.
    std::string Preset;
    TLogDay From;
    TLogDay To;
    // "pages", "sources", "visitors" or "browsers": that list shows up to 100 names.
    std::string More;
    // With a shared store: the instance whose hits are shown; empty: all instances.
    std::string Instance;
    // Not empty: why the query cannot be shown (a plain text for the user).
    std::string Error;

    // The query that asks for the same days again ("range=7d", "from=20261201&to=20261208"),
    // with the instance, for links; safe in a URL as it is.
    std::string RangeText() const;
    // "&instance=..." for the instance chosen, safe in a URL; empty for all.
    std::string InstanceText() const;
};

// The longest instance name a query may ask for, in bytes.
inline constexpr std::size_t MaxInstanceBytes = 200;

// Reads range, from, to (yyyymmdd or yyyy-mm-dd; from alone reaches to AToday, to alone is
// one day), more and instance from a query text; without any of them, today. At most MaxRangeDays.
TDashboardQuery ParseDashboardQuery(std::string_view AQuery, const TLogDay& AToday);

// The same number of days just before the query's range.
void PeriodBefore(const TDashboardQuery& AQuery, TLogDay& AFrom, TLogDay& ATo);
