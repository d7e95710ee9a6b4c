#include "stats/StatsReport.h"

#include <algorithm>
#include <cstdio>

#include "config/config.h"
#include "stats/HitRules.h"
#include "stats/TLogFileDays.h"

namespace {

std::string JsonList(const std::vector<TNameCount>& AList) {
    std::string json = "[";
    for (const TNameCount& entry : AList) {
        if (json.size() > 1)
            json += ',';
        json +=
            "{\"name\":" + JsonText(entry.Name) + ",\"views\":" + std::to_string(entry.Views) + "}";
    }
    return json + "]";
}

// The figures' members of the report's object, without its braces.
std::string JsonFigures(const TStatsSummary& S) {
    std::string hours;
    for (std::uint64_t views : S.Hours)
        hours += (hours.empty() ? "" : ",") + std::to_string(views);
    return "\"hits\":" + std::to_string(S.Hits) + ",\"pageviews\":" + std::to_string(S.PageViews) +
           ",\"visitors\":" + std::to_string(S.Visitors) +
           ",\"optedout\":" + std::to_string(S.OptedOut) + ",\"bots\":" + std::to_string(S.Bots) +
           ",\"unreadable\":" + std::to_string(S.Unreadable) + ",\"hours\":[" + hours +
           "],\"pages\":" + JsonList(S.Pages) + ",\"sources\":" + JsonList(S.Sources) +
           ",\"visitors_top\":" + JsonList(S.VisitorNames) +
           ",\"browsers\":" + JsonList(S.Browsers);
}

// Characters, not bytes: names are UTF-8.
std::size_t ShownWidth(const std::string& AText) {
    return static_cast<std::size_t>(std::count_if(AText.begin(), AText.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The byte offset of character ACount (AText.size() when it has fewer).
std::size_t CharOffset(const std::string& AText, std::size_t ACount) {
    for (std::size_t at = 0; at < AText.size(); ++at)
        if ((static_cast<unsigned char>(AText[at]) & 0xC0) != 0x80 && ACount-- == 0)
            return at;
    return AText.size();
}

// A name cut to AWidth characters in its middle, so that its start and its end stay and the
// counts beside it stay in their column.
std::string Fitted(const std::string& AText, std::size_t AWidth) {
    const std::size_t width = ShownWidth(AText);
    if (width <= AWidth)
        return AText;
    const std::size_t head = (AWidth - 3) / 2;
    const std::size_t tail = AWidth - 3 - head;
    return AText.substr(0, CharOffset(AText, head)) + "..." +
           AText.substr(CharOffset(AText, width - tail));
}

std::string Padded(const std::string& AText, std::size_t AWidth, bool ARight) {
    std::size_t width = ShownWidth(AText);
    std::string fill(width < AWidth ? AWidth - width : 0, ' ');
    return ARight ? fill + AText : AText + fill;
}

std::string TotalsTable(const TStatsSummary& S) {
    const std::pair<const char*, std::uint64_t> rows[] = {
        {"hits", S.Hits},         {"page views", S.PageViews},
        {"visitors", S.Visitors}, {"opted out", S.OptedOut},
        {"bots", S.Bots},         {"unreadable", S.Unreadable}};
    std::size_t width = 0;
    for (const auto& row : rows)
        width = std::max(width, std::to_string(row.second).size());
    std::string text;
    for (const auto& row : rows)
        text +=
            Padded(row.first, 12, false) + Padded(std::to_string(row.second), width, true) + "\n";
    return text;
}

std::string HoursTable(const std::array<std::uint64_t, 24>& AHours) {
    std::size_t width = 2;
    for (std::uint64_t views : AHours)
        width = std::max(width, std::to_string(views).size());
    std::string hours = "hour  ", views = "views ";
    for (std::size_t hour = 0; hour < AHours.size(); ++hour) {
        char label[8];
        std::snprintf(label, sizeof label, "%02zu", hour);
        hours += " " + Padded(label, width, true);
        views += " " + Padded(std::to_string(AHours[hour]), width, true);
    }
    return hours + "\n" + views + "\n";
}

std::string TopTable(const std::string& ATitle, const std::vector<TNameCount>& AList) {
    constexpr std::size_t MaxNameColumn = 60;
    std::size_t nameWidth = ATitle.size();
    std::size_t viewsWidth = 5;
    for (const TNameCount& entry : AList) {
        nameWidth = std::max(nameWidth, std::min(ShownWidth(entry.Name), MaxNameColumn));
        viewsWidth = std::max(viewsWidth, std::to_string(entry.Views).size());
    }
    std::string text =
        Padded(ATitle, nameWidth, false) + "  " + Padded("views", viewsWidth, true) + "\n";
    for (const TNameCount& entry : AList)
        text += Padded(Fitted(entry.Name, nameWidth), nameWidth, false) + "  " +
                Padded(std::to_string(entry.Views), viewsWidth, true) + "\n";
    if (AList.empty())
        text += "(none)\n";
    return text;
}

std::string TopTables(const TStatsSummary& S) {
    return TopTable("pages", S.Pages) + "\n" + TopTable("sources", S.Sources) + "\n" +
           TopTable("visitor names", S.VisitorNames) + "\n" + TopTable("browsers", S.Browsers);
}

std::string DaysTable(const std::vector<TDayLine>& ADays) {
    std::size_t width = 8;
    for (const TDayLine& day : ADays)
        width = std::max(
            {width, std::to_string(day.PageViews).size(), std::to_string(day.Visitors).size()});
    std::string text = Padded("day", 10, false) + "  " + Padded("views", width, true) + "  " +
                       Padded("visitors", width, true) + "\n";
    for (const TDayLine& day : ADays) {
        const bool read = day.Status == TReadStatus::Read;
        text += IsoDayText(day.Day) + "  " +
                Padded(read ? std::to_string(day.PageViews) : "-", width, true) + "  " +
                Padded(read ? std::to_string(day.Visitors) : "-", width, true) +
                (day.Status == TReadStatus::Missing  ? "  (no log file)"
                 : day.Status == TReadStatus::Failed ? "  (unreadable)"
                                                     : "") +
                "\n";
    }
    return text;
}

} // namespace

std::string JsonText(const std::string& AText) {
    std::string json = "\"";
    for (char c : AText) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string JsonReport(const TLogDay& ADay, const TStatsSummary& S) {
    return "{\"date\":" + JsonText(IsoDayText(ADay)) + "," + JsonFigures(S) + "}\n";
}

std::string JsonRangeReport(const TRangeFigures& ARange) {
    std::string days;
    for (const TDayLine& day : ARange.Days)
        days += std::string(days.empty() ? "" : ",") +
                "{\"date\":" + JsonText(IsoDayText(day.Day)) +
                ",\"pageviews\":" + std::to_string(day.PageViews) +
                ",\"visitors\":" + std::to_string(day.Visitors) + "}";
    return "{\"from\":" + JsonText(IsoDayText(ARange.From)) +
           ",\"to\":" + JsonText(IsoDayText(ARange.To)) + "," + JsonFigures(ARange.Summary) +
           ",\"days\":[" + days + "]}\n";
}

std::string TextReport(const TLogDay& ADay, const std::string& APath, const TStatsSummary& S) {
    return "Statistics of " + IsoDayText(ADay) + " (" + DisplayName(APath) + ")\n\n" +
           TotalsTable(S) + "\npage views per hour\n" + HoursTable(S.Hours) + "\n" + TopTables(S);
}

std::string TextRangeReport(const TRangeFigures& ARange, const std::string& ADir) {
    return "Statistics of " + IsoDayText(ARange.From) + " to " + IsoDayText(ARange.To) + " (" +
           DisplayName(ADir) + ")\n\n" + TotalsTable(ARange.Summary) +
           "(visitors: the sum of each day's visitors)\n\npage views per day\n" +
           DaysTable(ARange.Days) + "\n" + TopTables(ARange.Summary);
}

namespace {

TKAV_GeneralConfig ReportConfig(std::FILE* AErr) {
    TKAV_GeneralConfig config;
    if (!LoadConfig(config, DefaultConfigFiles()))
        std::fputs("Error loading configuration, using default values\n", AErr);
    return config;
}

bool ParseReportDay(const std::string& AText, const char* AOption, TLogDay& ADay, std::FILE* AErr) {
    if (ParseLogDay(AText, ADay))
        return true;
    std::fprintf(AErr, "sk_kav: %s%s is not a day (yyyymmdd)\n", AOption,
                 DisplayName(AText).c_str());
    return false;
}

int Print(const std::string& AReport, std::FILE* AOut) {
    std::fwrite(AReport.data(), 1, AReport.size(), AOut);
    return std::fflush(AOut) == 0 ? 0 : 1;
}

} // namespace

bool PrepareReport(const std::string& ADay, TLogDay& AReportDay, TKAV_GeneralConfig& AConfig,
                   std::FILE* AErr) {
    AReportDay = LogDayOf(Now());
    if (!ADay.empty() && !ParseReportDay(ADay, "", AReportDay, AErr))
        return false;
    AConfig = ReportConfig(AErr);
    return true;
}

int RunStatsReport(const std::string& ADay, bool AJson, std::FILE* AOut, std::FILE* AErr) {
    TLogDay day;
    TKAV_GeneralConfig config;
    if (!PrepareReport(ADay, day, config, AErr))
        return 1;
    const std::string path = OverviewFilePath(LogDirOf(config), day);
    TDayStats stats(config.NickNames);
    std::string error;
    switch (ReadOverviewFile(path, stats, error)) {
    case TReadStatus::Read:
        break;
    case TReadStatus::Missing:
        std::fprintf(AErr, "sk_kav: no overview log for %s: %s does not exist\n",
                     IsoDayText(day).c_str(), DisplayName(path).c_str());
        return 1;
    default:
        std::fprintf(AErr, "sk_kav: cannot read %s: %s\n", DisplayName(path).c_str(),
                     error.c_str());
        return 1;
    }
    const TStatsSummary summary = stats.Summary();
    return Print(AJson ? JsonReport(day, summary) : TextReport(day, path, summary), AOut);
}

bool PrepareRangeReport(const std::string& AFrom, const std::string& ATo, TLogDay& AFromDay,
                        TLogDay& AToDay, TKAV_GeneralConfig& AConfig, std::FILE* AErr) {
    AToDay = LogDayOf(Now());
    if (!ParseReportDay(AFrom, "--from ", AFromDay, AErr) ||
        (!ATo.empty() && !ParseReportDay(ATo, "--to ", AToDay, AErr)))
        return false;
    if (AToDay < AFromDay) {
        std::fputs("sk_kav: --to is before --from\n", AErr);
        return false;
    }
    if (DayCount(AFromDay, AToDay) > MaxRangeDays) {
        std::fprintf(AErr, "sk_kav: a range holds at most %d days\n", MaxRangeDays);
        return false;
    }
    AConfig = ReportConfig(AErr);
    return true;
}

int RunStatsRangeReport(const std::string& AFrom, const std::string& ATo, bool AJson,
                        std::FILE* AOut, std::FILE* AErr) {
    TLogDay from, to;
    TKAV_GeneralConfig config;
    if (!PrepareRangeReport(AFrom, ATo, from, to, config, AErr))
        return 1;
    const std::string dir = LogDirOf(config);
    TLogFileDays source(dir, config.NickNames, LogDayOf(Now()));
    const TRangeFigures range = SumDays(from, to, source.Days(from, to), TDayStats::TopCount);
    for (const std::string& failure : range.Failures)
        std::fprintf(AErr, "sk_kav: cannot read the overview log of %s\n", failure.c_str());
    if (std::none_of(range.Days.begin(), range.Days.end(),
                     [](const TDayLine& ADay) { return ADay.Status != TReadStatus::Missing; })) {
        std::fprintf(AErr, "sk_kav: no overview log from %s to %s in %s\n",
                     IsoDayText(from).c_str(), IsoDayText(to).c_str(), DisplayName(dir).c_str());
        return 1;
    }
    const int printed = Print(AJson ? JsonRangeReport(range) : TextRangeReport(range, dir), AOut);
    return range.Failures.empty() ? printed : 1;
}
