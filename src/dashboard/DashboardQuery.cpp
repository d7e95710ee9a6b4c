#include "dashboard/DashboardQuery.h"

#include "dashboard/HtmlText.h"
#include "stats/HitRules.h"
#include "stats/StatsRange.h"

namespace {

// yyyymmdd, or yyyy-mm-dd as a date field of a form sends it.
bool ParseQueryDay(std::string AText, TLogDay& ADay) {
    if (AText.size() == 10 && AText[4] == '-' && AText[7] == '-')
        AText = AText.substr(0, 4) + AText.substr(5, 2) + AText.substr(8, 2);
    return ParseLogDay(AText, ADay);
}

bool PresetRange(const std::string& APreset, const TLogDay& AToday, TLogDay& AFrom, TLogDay& ATo) {
    ATo = AToday;
    if (APreset == "today")
        AFrom = AToday;
    else if (APreset == "yesterday")
        AFrom = ATo = AddDays(AToday, -1);
    else if (APreset == "7d")
        AFrom = AddDays(AToday, -6);
    else if (APreset == "30d")
        AFrom = AddDays(AToday, -29);
    else if (APreset == "month")
        AFrom = {AToday.Year, AToday.Month, 1};
    else
        return false;
    return true;
}

bool ReadDays(std::string_view AQuery, const TLogDay& AToday, TDashboardQuery& AResult) {
    std::string from, to;
    const bool hasFrom = FindParam(AQuery, "from", from) && !from.empty();
    const bool hasTo = FindParam(AQuery, "to", to) && !to.empty();
    if (!hasFrom && !hasTo)
        return false;
    AResult.Preset.clear();
    if ((hasFrom && !ParseQueryDay(from, AResult.From)) ||
        (hasTo && !ParseQueryDay(to, AResult.To)))
        AResult.Error = "A day is given as yyyymmdd or yyyy-mm-dd.";
    else if (!hasTo)
        AResult.To = AResult.From < AToday ? AToday : AResult.From;
    else if (!hasFrom)
        AResult.From = AResult.To;
    return true;
}

} // namespace

std::string TDashboardQuery::RangeText() const {
    if (!Preset.empty())
        return "range=" + Preset + InstanceText();
    return "from=" + FileDayText(From) + "&to=" + FileDayText(To) + InstanceText();
}

std::string TDashboardQuery::InstanceText() const {
    return Instance.empty() ? std::string() : "&instance=" + QueryValue(Instance);
}

TDashboardQuery ParseDashboardQuery(std::string_view AQuery, const TLogDay& AToday) {
    TDashboardQuery query;
    query.Preset = "today";
    std::string value;
    if (FindParam(AQuery, "range", value) && !value.empty())
        query.Preset = value;
    if (!ReadDays(AQuery, AToday, query) &&
        !PresetRange(query.Preset, AToday, query.From, query.To))
        query.Error = "There is no range called that: today, yesterday, 7d, 30d or month.";
    if (query.Error.empty() && query.To < query.From)
        query.Error = "The first day is after the last.";
    else if (query.Error.empty() && DayCount(query.From, query.To) > MaxRangeDays)
        query.Error = "A range holds at most " + std::to_string(MaxRangeDays) + " days.";
    if (FindParam(AQuery, "more", value) &&
        (value == "pages" || value == "sources" || value == "visitors" || value == "browsers"))
        query.More = value;
    if (FindParam(AQuery, "instance", value)) {
        if (value.size() <= MaxInstanceBytes)
            query.Instance = value;
        else if (query.Error.empty())
            query.Error =
                "An instance's name is at most " + std::to_string(MaxInstanceBytes) + " bytes.";
    }
    if (!query.Error.empty()) {
        query.Preset = "today";
        query.From = query.To = AToday;
    }
    return query;
}

void PeriodBefore(const TDashboardQuery& AQuery, TLogDay& AFrom, TLogDay& ATo) {
    const int days = DayCount(AQuery.From, AQuery.To);
    ATo = AddDays(AQuery.From, -1);
    AFrom = AddDays(AQuery.From, -days);
}
