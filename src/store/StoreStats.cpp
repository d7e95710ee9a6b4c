#include "store/StoreStats.h"

#include <algorithm>

#include "stats/HitRules.h"

namespace {

// The hits of the query's days: parameters $1 and $2 (first and last day) and $3 (instance,
// empty for all). The range on time lets the database read only the partitions that can hold
// those local days (no zone is more than a day from UTC).
constexpr std::string_view Hits =
    " FROM skav_hits WHERE time >= ($1::date - 1)::timestamp AT TIME ZONE 'UTC'"
    " AND time < ($2::date + 2)::timestamp AT TIME ZONE 'UTC'"
    " AND (time AT TIME ZONE 'UTC' + utc_offset * interval '1 minute')::date"
    " BETWEEN $1::date AND $2::date AND ($3 = '' OR instance = $3)";

// A hit that names its client: not recorded under Do-Not-Track.
constexpr std::string_view Named = "address IS NOT NULL";

// Who a page view counts for, as the file's statistics count: a visitor id is the visitor,
// whatever the address and browser; a hit without one is its address or name with its browser.
constexpr std::string_view VisitorKey =
    "(coalesce('v' || visitor, 'a' || coalesce(host, address, '')), CASE WHEN visitor IS NULL "
    "THEN user_agent END)";

constexpr std::string_view LocalDay =
    "(time AT TIME ZONE 'UTC' + utc_offset * interval '1 minute')::date";

constexpr std::string_view LocalHour =
    "extract(hour FROM time AT TIME ZONE 'UTC' + utc_offset * interval '1 minute')::int";

std::uint64_t Count(const std::optional<std::string>& AText) {
    return AText ? std::stoull(*AText) : 0;
}

class TStatsReader {
public:
    TStatsReader(TStoreConnection& AConnection, const TStoreStatsQuery& AQuery,
                 TStoreDeadline ADeadline)
        : FConnection(AConnection), FFirst(IsoDayText(AQuery.First)),
          FLast(IsoDayText(AQuery.Last)), FInstance(AQuery.Instance), FTop(AQuery.Top),
          FDeadline(ADeadline) {}

    bool Totals(TStatsSummary& ASummary) {
        // A hit under Do-Not-Track (no address) is a page view of nobody.
        if (!Rows("SELECT count(*), count(*) FILTER (WHERE pageview), count(*) FILTER "
                  "(WHERE bot), count(DISTINCT " +
                  std::string(VisitorKey) + ") FILTER (WHERE pageview AND " + std::string(Named) +
                  "), count(*) FILTER (WHERE pageview AND NOT " + std::string(Named) + ")" +
                  std::string(Hits)))
            return false;
        ASummary.Hits = Count(FRows.at(0).at(0));
        ASummary.PageViews = Count(FRows.at(0).at(1));
        ASummary.Bots = Count(FRows.at(0).at(2));
        ASummary.Visitors = Count(FRows.at(0).at(3));
        ASummary.OptedOut = Count(FRows.at(0).at(4));
        return true;
    }

    bool Hours(std::array<std::uint64_t, 24>& AHours) {
        if (!Rows("SELECT " + std::string(LocalHour) + ", count(*)" + std::string(Hits) +
                  " AND pageview GROUP BY 1"))
            return false;
        for (const auto& row : FRows)
            AHours.at(Count(row.at(0))) = Count(row.at(1));
        return true;
    }

    // Each day's page views and visitors, every day of the range in order.
    bool Days(const TLogDay& AFirst, const TLogDay& ALast, std::vector<TDayLine>& ADays) {
        if (!Rows("SELECT to_char(" + std::string(LocalDay) +
                  ", 'YYYYMMDD'), count(*) FILTER (WHERE pageview), count(DISTINCT " +
                  std::string(VisitorKey) + ") FILTER (WHERE pageview AND " + std::string(Named) +
                  ")" + std::string(Hits) + " GROUP BY 1"))
            return false;
        for (TLogDay day = AFirst; !(ALast < day); day = AddDays(day, 1))
            ADays.push_back({day, TReadStatus::Read, 0, 0});
        for (const auto& row : FRows) {
            TLogDay day;
            if (!ParseLogDay(row.at(0).value_or(""), day) || day < AFirst || ALast < day)
                continue;
            TDayLine& line = ADays.at(static_cast<std::size_t>(DayCount(AFirst, day) - 1));
            line.PageViews = Count(row.at(1));
            line.Visitors = Count(row.at(2));
        }
        return true;
    }

    // The top of one grouping of page views, most views first, then by name in byte order.
    bool Top(std::string_view AName, std::vector<TNameCount>& AList, std::string_view AAnd = "") {
        if (FTop == 0)
            return true;
        const std::string name(AName);
        if (!Rows("SELECT " + name + ", count(*)" + std::string(Hits) + " AND pageview" +
                  std::string(AAnd) + " GROUP BY " + name + " ORDER BY count(*) DESC, " + name +
                  " COLLATE \"C\" LIMIT " + std::to_string(FTop)))
            return false;
        for (const auto& row : FRows)
            AList.push_back({DisplayName(row.at(0).value_or("")), Count(row.at(1))});
        return true;
    }

private:
    bool Rows(const std::string& ASql) {
        return FConnection.Exec(ASql, {FFirst, FLast, FInstance}, FDeadline, &FRows);
    }

    TStoreConnection& FConnection;
    std::string FFirst;
    std::string FLast;
    std::string FInstance;
    std::size_t FTop;
    TStoreDeadline FDeadline;
    TStoreRows FRows;
};

} // namespace

bool ReadStoreStats(TStoreConnection& AConnection, const TStoreStatsQuery& AQuery,
                    TStoreDeadline ADeadline, TStatsSummary& ASummary) {
    TStatsReader reader(AConnection, AQuery, ADeadline);
    ASummary = {};
    return reader.Totals(ASummary) && reader.Hours(ASummary.Hours) &&
           reader.Top("page", ASummary.Pages) && reader.Top("source", ASummary.Sources) &&
           reader.Top("coalesce(nullif(nickname, ''), host, address, '')", ASummary.VisitorNames,
                      " AND " + std::string(Named)) &&
           reader.Top("browser", ASummary.Browsers);
}

bool ReadStoreRange(TStoreConnection& AConnection, const TStoreStatsQuery& AQuery,
                    TStoreDeadline ADeadline, TRangeFigures& ARange) {
    ARange = {};
    ARange.From = AQuery.First;
    ARange.To = AQuery.Last;
    if (!ReadStoreStats(AConnection, AQuery, ADeadline, ARange.Summary) ||
        !TStatsReader(AConnection, AQuery, ADeadline).Days(AQuery.First, AQuery.Last, ARange.Days))
        return false;
    ARange.Summary.Visitors = 0;
    for (const TDayLine& day : ARange.Days)
        ARange.Summary.Visitors += day.Visitors;
    return true;
}

bool ReadStoreInstances(TStoreConnection& AConnection, TStoreDeadline ADeadline,
                        std::vector<std::string>& AInstances) {
    TStoreRows rows;
    AInstances.clear();
    // One index probe per instance instead of reading every row's.
    if (!AConnection.Exec("WITH RECURSIVE i (v) AS (SELECT min(instance) FROM skav_hits "
                          "UNION ALL SELECT (SELECT min(instance) FROM skav_hits WHERE instance "
                          "> i.v) FROM i WHERE i.v IS NOT NULL) SELECT v FROM i WHERE v IS NOT "
                          "NULL",
                          ADeadline, &rows))
        return false;
    for (const auto& row : rows)
        AInstances.push_back(row.at(0).value_or(""));
    std::sort(AInstances.begin(), AInstances.end());
    return true;
}
