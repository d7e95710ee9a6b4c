#include "stats/StatsRange.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_map>

namespace {

std::chrono::sys_days DaysOf(const TLogDay& ADay) {
    return std::chrono::year_month_day{std::chrono::year{ADay.Year},
                                       std::chrono::month{static_cast<unsigned>(ADay.Month)},
                                       std::chrono::day{static_cast<unsigned>(ADay.Day)}};
}

// Adds one list of every day, then keeps the ATop names with the most views. One list at a
// time, so a year of days holds at most MaxRangeDays * KeptNames names at once.
std::vector<TNameCount> SumList(const std::vector<const TStatsSummary*>& ADays,
                                std::vector<TNameCount> TStatsSummary::*AList, std::size_t ATop) {
    std::unordered_map<std::string_view, std::uint64_t> views;
    for (const TStatsSummary* day : ADays)
        for (const TNameCount& entry : day->*AList)
            views[entry.Name] += entry.Views;
    std::vector<TNameCount> all;
    all.reserve(views.size());
    for (const auto& [name, count] : views)
        all.push_back({std::string(name), count});
    const std::size_t top = std::min(ATop, all.size());
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(top), all.end(),
                      [](const TNameCount& A, const TNameCount& B) {
                          return A.Views != B.Views ? A.Views > B.Views : A.Name < B.Name;
                      });
    all.resize(top);
    return all;
}

void AddTotals(const TStatsSummary& ADay, TStatsSummary& ASum) {
    ASum.Hits += ADay.Hits;
    ASum.PageViews += ADay.PageViews;
    ASum.Visitors += ADay.Visitors;
    ASum.OptedOut += ADay.OptedOut;
    ASum.Bots += ADay.Bots;
    ASum.Unreadable += ADay.Unreadable;
    for (std::size_t hour = 0; hour < ASum.Hours.size(); ++hour)
        ASum.Hours[hour] += ADay.Hours[hour];
}

} // namespace

TLogDay AddDays(const TLogDay& ADay, int ACount) {
    const std::chrono::year_month_day day{DaysOf(ADay) + std::chrono::days{ACount}};
    return {static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month())),
            static_cast<int>(static_cast<unsigned>(day.day()))};
}

int DayCount(const TLogDay& AFrom, const TLogDay& ATo) {
    const auto count = (DaysOf(ATo) - DaysOf(AFrom)).count() + 1;
    return count > 0 ? static_cast<int>(count) : 0;
}

TRangeFigures SumDays(const TLogDay& AFrom, const TLogDay& ATo,
                      const std::vector<TDayFigures>& ADays, std::size_t ATop) {
    TRangeFigures range;
    range.From = AFrom;
    range.To = ATo;
    // A wider range is the caller's mistake; it never costs more than the longest one.
    const int count = std::min(DayCount(AFrom, ATo), MaxRangeDays);
    for (int i = 0; i < count; ++i)
        range.Days.push_back({AddDays(AFrom, i)});
    std::vector<const TStatsSummary*> read;
    for (const TDayFigures& day : ADays) {
        const auto index = static_cast<std::size_t>(DayCount(AFrom, day.Day)) - 1;
        if (day.Day < AFrom || day.Day > ATo || index >= range.Days.size())
            continue;
        TDayLine& line = range.Days[index];
        line.Status = day.Status;
        if (day.Status == TReadStatus::Failed)
            range.Failures.push_back(IsoDayText(day.Day) + ": " + day.Error);
        if (day.Status != TReadStatus::Read)
            continue;
        line.PageViews = day.Summary.PageViews;
        line.Visitors = day.Summary.Visitors;
        AddTotals(day.Summary, range.Summary);
        read.push_back(&day.Summary);
    }
    range.Summary.Pages = SumList(read, &TStatsSummary::Pages, ATop);
    range.Summary.Sources = SumList(read, &TStatsSummary::Sources, ATop);
    range.Summary.VisitorNames = SumList(read, &TStatsSummary::VisitorNames, ATop);
    range.Summary.Browsers = SumList(read, &TStatsSummary::Browsers, ATop);
    return range;
}
