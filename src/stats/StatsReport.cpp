#include "stats/StatsReport.h"

#include <algorithm>
#include <cstdio>

#include "config/config.h"
#include "stats/HitRules.h"

namespace {

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

// Characters, not bytes: names are UTF-8.
std::size_t ShownWidth(const std::string& AText) {
    return static_cast<std::size_t>(std::count_if(AText.begin(), AText.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Padded(const std::string& AText, std::size_t AWidth, bool ARight) {
    std::size_t width = ShownWidth(AText);
    std::string fill(width < AWidth ? AWidth - width : 0, ' ');
    return ARight ? fill + AText : AText + fill;
}

std::string TotalsTable(const TStatsSummary& S) {
    const std::pair<const char*, std::uint64_t> rows[] = {{"hits", S.Hits},
                                                          {"page views", S.PageViews},
                                                          {"visitors", S.Visitors},
                                                          {"bots", S.Bots},
                                                          {"unreadable", S.Unreadable}};
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
        text += Padded(entry.Name, nameWidth, false) + "  " +
                Padded(std::to_string(entry.Views), viewsWidth, true) + "\n";
    if (AList.empty())
        text += "(none)\n";
    return text;
}

} // namespace

std::string JsonReport(const TLogDay& ADay, const TStatsSummary& S) {
    std::string hours;
    for (std::uint64_t views : S.Hours)
        hours += (hours.empty() ? "" : ",") + std::to_string(views);
    return "{\"date\":" + JsonText(IsoDayText(ADay)) + ",\"hits\":" + std::to_string(S.Hits) +
           ",\"pageviews\":" + std::to_string(S.PageViews) +
           ",\"visitors\":" + std::to_string(S.Visitors) + ",\"bots\":" + std::to_string(S.Bots) +
           ",\"unreadable\":" + std::to_string(S.Unreadable) + ",\"hours\":[" + hours +
           "],\"pages\":" + JsonList(S.Pages) + ",\"sources\":" + JsonList(S.Sources) +
           ",\"visitors_top\":" + JsonList(S.VisitorNames) +
           ",\"browsers\":" + JsonList(S.Browsers) + "}\n";
}

std::string TextReport(const TLogDay& ADay, const std::string& APath, const TStatsSummary& S) {
    return "Statistics of " + IsoDayText(ADay) + " (" + DisplayName(APath) + ")\n\n" +
           TotalsTable(S) + "\npage views per hour\n" + HoursTable(S.Hours) + "\n" +
           TopTable("pages", S.Pages) + "\n" + TopTable("sources", S.Sources) + "\n" +
           TopTable("visitor names", S.VisitorNames) + "\n" + TopTable("browsers", S.Browsers);
}

int RunStatsReport(const std::string& ADay, bool AJson, std::FILE* AOut, std::FILE* AErr) {
    TLogDay day = LogDayOf(Now());
    if (!ADay.empty() && !ParseLogDay(ADay, day)) {
        std::fprintf(AErr, "sk_kav: %s is not a day (yyyymmdd)\n", DisplayName(ADay).c_str());
        return 1;
    }
    TKAV_GeneralConfig config;
    if (!LoadConfig(config, DefaultConfigFiles()))
        std::fputs("Error loading configuration, using default values\n", AErr);
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
    const std::string report = AJson ? JsonReport(day, summary) : TextReport(day, path, summary);
    std::fwrite(report.data(), 1, report.size(), AOut);
    return std::fflush(AOut) == 0 ? 0 : 1;
}
