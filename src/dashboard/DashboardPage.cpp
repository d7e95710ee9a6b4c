#include "dashboard/DashboardPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dashboard/HtmlText.h"

namespace {

// The chart's drawing area in the units of its viewBox (760 x 260).
constexpr int ChartLeft = 56;
constexpr int ChartRight = 748;
constexpr int ChartTop = 14;
constexpr int ChartBottom = 226;

struct TPreset {
    const char* Name;
    const char* Caption;
};
constexpr TPreset Presets[] = {{"today", "Today"},
                               {"yesterday", "Yesterday"},
                               {"7d", "Last 7 days"},
                               {"30d", "Last 30 days"},
                               {"month", "This month"}};

struct TListShown {
    const char* Name; // in "more="
    const char* Title;
    const char* Column;
    std::vector<TNameCount> TStatsSummary::*List;
    bool Links; // web addresses become links
};
constexpr TListShown Lists[] = {
    {"pages", "Pages", "Page", &TStatsSummary::Pages, true},
    {"sources", "Sources", "Source", &TStatsSummary::Sources, false},
    {"visitors", "Visitors", "Visitor", &TStatsSummary::VisitorNames, false},
    {"browsers", "Browsers", "Browser", &TStatsSummary::Browsers, false}};

// What the chart shows: page views per hour of one day, or per day of a range, each with the
// period just before.
struct TSeries {
    bool Hourly = false;
    std::vector<std::string> Labels;
    std::vector<std::uint64_t> Now;
    std::vector<std::uint64_t> Before;
};

std::string Number(std::uint64_t AValue) {
    return std::to_string(AValue);
}

std::string Attribute(const char* AName, const std::string& AValue) {
    return std::string(" ") + AName + "=\"" + HtmlText(AValue) + "\"";
}

std::string Coordinate(double AValue) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", AValue);
    return text;
}

TSeries SeriesOf(const TDashboardView& AView) {
    TSeries series;
    series.Hourly = AView.Range.Days.size() == 1;
    if (series.Hourly) {
        for (std::size_t hour = 0; hour < 24; ++hour) {
            char label[4];
            std::snprintf(label, sizeof label, "%02zu", hour);
            series.Labels.emplace_back(label);
            series.Now.push_back(AView.Range.Summary.Hours[hour]);
            series.Before.push_back(AView.Before.Summary.Hours[hour]);
        }
        return series;
    }
    for (std::size_t i = 0; i < AView.Range.Days.size(); ++i) {
        series.Labels.push_back(IsoDayText(AView.Range.Days[i].Day));
        series.Now.push_back(AView.Range.Days[i].PageViews);
        series.Before.push_back(i < AView.Before.Days.size() ? AView.Before.Days[i].PageViews : 0);
    }
    return series;
}

// A top for the value axis whose four steps are 1, 2 or 5 times a power of ten.
std::uint64_t AxisTop(std::uint64_t AMax) {
    constexpr std::uint64_t factors[] = {1, 2, 5};
    for (std::uint64_t power = 1;; power *= 10)
        for (std::uint64_t factor : factors)
            if (factor * power * 4 >= AMax || power > AMax)
                return factor * power * 4;
}

std::string ChartGrid(std::uint64_t ATop) {
    std::string svg;
    for (int step = 0; step <= 4; ++step) {
        const std::string y = Coordinate(ChartBottom - (ChartBottom - ChartTop) * step / 4.0);
        svg += "<line class=\"grid\" x1=\"" + std::to_string(ChartLeft) + "\" x2=\"" +
               std::to_string(ChartRight) + "\" y1=\"" + y + "\" y2=\"" + y + "\"/>";
        svg += "<text class=\"axis\" x=\"" + std::to_string(ChartLeft - 6) + "\" y=\"" + y +
               "\" dy=\"4\" text-anchor=\"end\">" + Number(ATop * step / 4) + "</text>";
    }
    return svg;
}

std::string ChartBars(const TSeries& ASeries, std::uint64_t ATop) {
    const double slot = double(ChartRight - ChartLeft) / double(ASeries.Now.size());
    const double width = std::max(1.0, slot * 0.7);
    // A label on every third hour, or on about ten of the days.
    const std::size_t every =
        ASeries.Hourly ? 3 : std::max<std::size_t>(1, (ASeries.Now.size() + 9) / 10);
    std::string svg;
    for (std::size_t i = 0; i < ASeries.Now.size(); ++i) {
        const double height = double(ASeries.Now[i]) / double(ATop) * (ChartBottom - ChartTop);
        const double x = ChartLeft + slot * double(i) + (slot - width) / 2;
        svg += "<rect class=\"bar\" id=\"bar-" + std::to_string(i) + "\" x=\"" + Coordinate(x) +
               "\" y=\"" + Coordinate(ChartBottom - height) + "\" width=\"" + Coordinate(width) +
               "\" height=\"" + Coordinate(height) + "\"><title>" + HtmlText(ASeries.Labels[i]) +
               ": " + Number(ASeries.Now[i]) + "</title></rect>";
        if (i % every == 0)
            svg += "<text class=\"axis\" x=\"" + Coordinate(x + width / 2) + "\" y=\"" +
                   std::to_string(ChartBottom + 18) + "\" text-anchor=\"middle\">" +
                   HtmlText(ASeries.Hourly ? ASeries.Labels[i] : ASeries.Labels[i].substr(5)) +
                   "</text>";
    }
    return svg;
}

std::string ChartLine(const TSeries& ASeries, std::uint64_t ATop) {
    const double slot = double(ChartRight - ChartLeft) / double(ASeries.Before.size());
    std::string points;
    for (std::size_t i = 0; i < ASeries.Before.size(); ++i) {
        const double y =
            ChartBottom - double(ASeries.Before[i]) / double(ATop) * (ChartBottom - ChartTop);
        points += (points.empty() ? "" : " ") + Coordinate(ChartLeft + slot * (double(i) + 0.5)) +
                  "," + Coordinate(y);
    }
    return "<polyline class=\"before\" points=\"" + points + "\"/>";
}

std::string Chart(const TSeries& ASeries) {
    const std::uint64_t max =
        std::max(*std::max_element(ASeries.Now.begin(), ASeries.Now.end()),
                 *std::max_element(ASeries.Before.begin(), ASeries.Before.end()));
    const std::uint64_t top = AxisTop(max);
    const std::string what = ASeries.Hourly ? "Page views per hour, with the day before as a line"
                                            : "Page views per day, with the days before as a line";
    return "<figure class=\"chart\"><svg id=\"chart\" viewBox=\"0 0 760 260\" role=\"img\"" +
           Attribute("aria-label", what + "; the table below holds the numbers") +
           Attribute("data-top", Number(top)) + Attribute("data-bottom", Number(ChartBottom)) +
           Attribute("data-height", Number(ChartBottom - ChartTop)) + ">" + ChartGrid(top) +
           ChartBars(ASeries, top) + ChartLine(ASeries, top) + "</svg><figcaption>" + what +
           ".</figcaption></figure>";
}

std::string ChartTable(const TSeries& ASeries) {
    std::string html =
        std::string("<table class=\"numbers\" id=\"chart-table\"><caption>") +
        (ASeries.Hourly ? "Page views per hour" : "Page views per day") +
        "</caption><thead><tr><th scope=\"col\">" + (ASeries.Hourly ? "Hour" : "Day") +
        "</th><th scope=\"col\">Page views</th><th scope=\"col\">" +
        (ASeries.Hourly ? "The day before" : "The days before") + "</th></tr></thead><tbody>";
    for (std::size_t i = 0; i < ASeries.Now.size(); ++i)
        html += "<tr><th scope=\"row\">" + HtmlText(ASeries.Labels[i]) + "</th><td id=\"n-" +
                std::to_string(i) + "\">" + Number(ASeries.Now[i]) + "</td><td>" +
                Number(ASeries.Before[i]) + "</td></tr>";
    return html + "</tbody></table>";
}

std::string Totals(const TStatsSummary& S) {
    const std::pair<const char*, std::uint64_t> totals[] = {
        {"hits", S.Hits}, {"pageviews", S.PageViews}, {"visitors", S.Visitors}, {"bots", S.Bots}};
    const char* captions[] = {"Hits", "Page views", "Visitors", "Bots"};
    std::string html = "<section class=\"totals\" aria-label=\"Totals\"><dl>";
    for (std::size_t i = 0; i < 4; ++i)
        html += std::string("<div><dt>") + captions[i] + "</dt><dd id=\"total-" + totals[i].first +
                "\">" + Number(totals[i].second) + "</dd></div>";
    if (S.OptedOut > 0)
        html += "<div><dt>Opted out</dt><dd id=\"total-optedout\">" + Number(S.OptedOut) +
                "</dd></div>";
    if (S.Unreadable > 0)
        html += "<div><dt>Unreadable lines</dt><dd id=\"total-unreadable\">" +
                Number(S.Unreadable) + "</dd></div>";
    return html + "</dl></section>";
}

std::string ViewLink(const TDashboardView& AView, const std::string& AQuery) {
    return HtmlText(AView.Base + "/?" + AQuery);
}

std::string NameCell(const TNameCount& AEntry, bool ALinks) {
    if (ALinks && IsWebLink(AEntry.Name))
        return "<a href=\"" + LinkAddress(AEntry.Name) +
               "\" rel=\"noreferrer noopener nofollow\">" + HtmlText(AEntry.Name) + "</a>";
    return HtmlText(AEntry.Name);
}

std::string TopList(const TDashboardView& AView, const TListShown& AList) {
    const std::vector<TNameCount>& names = AView.Range.Summary.*AList.List;
    const bool more = AView.Query.More == AList.Name;
    const std::size_t shown = std::min(names.size(), more ? MoreCount : ShortCount);
    std::string html = std::string("<section class=\"list\" id=\"list-") + AList.Name + "\"><h2>" +
                       AList.Title + "</h2><table><thead><tr><th scope=\"col\">" + AList.Column +
                       "</th><th scope=\"col\">Views</th></tr></thead><tbody>";
    for (std::size_t i = 0; i < shown; ++i)
        html += "<tr><td>" + NameCell(names[i], AList.Links) + "</td><td>" +
                Number(names[i].Views) + "</td></tr>";
    if (shown == 0)
        html += "<tr><td colspan=\"2\">(none)</td></tr>";
    html += "</tbody></table>";
    const std::string range = AView.Query.RangeText();
    if (more)
        html += "<p><a href=\"" + ViewLink(AView, range) + "\">fewer</a></p>";
    else if (names.size() > ShortCount)
        html +=
            "<p><a href=\"" + ViewLink(AView, range + "&more=" + AList.Name) + "\">more</a></p>";
    return html + "</section>";
}

std::string InstanceOption(const std::string& AValue, const std::string& ACaption, bool ASelected) {
    return "<option" + Attribute("value", AValue) + (ASelected ? " selected" : "") + ">" +
           HtmlText(ACaption) + "</option>";
}

// The store's instances to choose from, all of them first.
std::string InstanceChoice(const TDashboardView& AView) {
    if (!AView.Store)
        return {};
    const std::string& chosen = AView.Query.Instance;
    std::string html = " <label>Instance <select name=\"instance\">" +
                       InstanceOption("", "All instances", chosen.empty());
    bool listed = chosen.empty();
    for (const std::string& instance : AView.Instances) {
        html += InstanceOption(instance, instance, instance == chosen);
        listed = listed || instance == chosen;
    }
    if (!listed)
        html += InstanceOption(chosen, chosen, true);
    return html + "</select></label>";
}

std::string RangeNav(const TDashboardView& AView) {
    std::string html = "<nav aria-label=\"Range\"><ul>";
    for (const TPreset& preset : Presets) {
        const bool current = AView.Query.Preset == preset.Name;
        html += std::string("<li><a href=\"") +
                ViewLink(AView, std::string("range=") + preset.Name + AView.Query.InstanceText()) +
                "\"" + (current ? " aria-current=\"page\"" : "") + ">" + preset.Caption +
                "</a></li>";
    }
    html += "</ul><form method=\"get\" action=\"" + HtmlText(AView.Base + "/") +
            "\"><label>From <input type=\"date\" name=\"from\"" +
            Attribute("value", IsoDayText(AView.Query.From)) +
            "></label> <label>to <input type=\"date\" name=\"to\"" +
            Attribute("value", IsoDayText(AView.Query.To)) + "></label>" + InstanceChoice(AView) +
            " <button type=\"submit\">Show</button></form></nav>";
    return html;
}

std::string SignOut(const TDashboardView& AView) {
    if (AView.FormToken.empty())
        return {};
    return "<form class=\"signout\" method=\"post\" action=\"/signout\"><input type=\"hidden\" "
           "name=\"token\"" +
           Attribute("value", AView.FormToken) +
           "><button type=\"submit\">Sign out</button></form>";
}

std::string Notes(const std::vector<std::string>& ANotes) {
    std::string html;
    for (const std::string& note : ANotes)
        html += "<p class=\"note\">" + HtmlText(note) + "</p>";
    return html;
}

std::string PageHead(const std::string& ATitle, const std::string& ABodyAttributes) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><meta "
           "name=\"viewport\" content=\"width=device-width, initial-scale=1\"><meta "
           "name=\"referrer\" content=\"no-referrer\"><title>" +
           HtmlText(ATitle) +
           "</title><link rel=\"icon\" href=\"/favicon.svg\" type=\"image/svg+xml\"><link "
           "rel=\"stylesheet\" href=\"/dashboard.css\"></head><body" +
           ABodyAttributes + ">";
}

std::string RangeTitle(const TDashboardView& AView) {
    const std::string from = IsoDayText(AView.Query.From);
    const std::string to = IsoDayText(AView.Query.To);
    return from == to ? from : from + " to " + to;
}

} // namespace

std::string DashboardHtml(const TDashboardView& AView) {
    const TSeries series = SeriesOf(AView);
    std::string body = Attribute(
        "data-api", AView.Base + "/api/stats?" + "from=" + FileDayText(AView.Query.From) +
                        "&to=" + FileDayText(AView.Query.To) + AView.Query.InstanceText());
    if (AView.Live)
        body += Attribute("data-live", series.Hourly ? "hours" : "days");
    std::string html = PageHead("sk_KAV statistics " + RangeTitle(AView), body);
    html += "<header><h1>sk_KAV statistics</h1><p class=\"range\">" + HtmlText(RangeTitle(AView)) +
            (AView.AsOf.empty() ? ""
                                : " <span class=\"asof\">as of <span id=\"asof\">" +
                                      HtmlText(AView.AsOf) + "</span></span>") +
            "</p>" + SignOut(AView) + RangeNav(AView) + "</header><main>" + Notes(AView.Notes) +
            Totals(AView.Range.Summary) + Chart(series) + ChartTable(series) +
            "<div class=\"lists\">";
    for (const TListShown& list : Lists)
        if (!AView.ReadOnly || list.List != &TStatsSummary::VisitorNames)
            html += TopList(AView, list);
    return html + "</div></main><script src=\"/dashboard.js\"></script></body></html>\n";
}

std::string SignInHtml(const std::string& AFormToken, const std::string& AMessage) {
    return PageHead("sk_KAV statistics: sign in", "") +
           "<main class=\"signin\"><h1>sk_KAV statistics</h1>" +
           (AMessage.empty() ? ""
                             : "<p class=\"note\" role=\"alert\">" + HtmlText(AMessage) + "</p>") +
           "<form method=\"post\" action=\"/signin\"><input type=\"hidden\" name=\"token\"" +
           Attribute("value", AFormToken) +
           "><label>Password <input type=\"password\" name=\"password\" "
           "autocomplete=\"current-password\" required autofocus></label> <button "
           "type=\"submit\">Sign in</button></form></main></body></html>\n";
}

std::string MessageHtml(const std::string& ATitle, const std::string& AText) {
    return PageHead("sk_KAV statistics: " + ATitle, "") + "<main class=\"signin\"><h1>" +
           HtmlText(ATitle) + "</h1><p>" + HtmlText(AText) +
           "</p><p><a href=\"/\">Back to the statistics</a></p></main></body></html>\n";
}
