// The dashboard's pages as HTML: the statistics of a range (totals, the chart as inline SVG
// with its numbers in a table beneath, the top lists), the sign-in form and short messages.
// Every text from a log is escaped where it stands. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dashboard/DashboardQuery.h"
#include "stats/StatsRange.h"

// What one view of the dashboard shows.
struct TDashboardView {
    // Where the view's links and its JSON lie: "" when signed in, "/share/<token>" for the
    // read-only view.
    std::string Base;
    bool ReadOnly = false; // the shared view: no sign-out, no visitor names
    std::string FormToken; // the session's anti-forgery token for sign-out; empty: no form
    TDashboardQuery Query; // the range asked for and the list shown long
    TLogDay Today;
    TRangeFigures Range;            // lists of up to MoreCount names
    TRangeFigures Before;           // the period of the same length just before
    bool Live = false;              // the range ends today: the script refreshes its figures
    std::string AsOf;               // "hh:mm:ss" of the figures
    std::vector<std::string> Notes; // plain texts said above the figures
    // The figures come from the shared store: the form offers its instances (and the one
    // asked for, when it has no hits yet) besides all of them.
    bool Store = false;
    std::vector<std::string> Instances;
};

// Names of a list shown, and with "more".
inline constexpr std::size_t ShortCount = 10;
inline constexpr std::size_t MoreCount = 100;

std::string DashboardHtml(const TDashboardView& AView);
// The sign-in form with the pending session's token; AMessage (plain text) above it.
std::string SignInHtml(const std::string& AFormToken, const std::string& AMessage);
// A page that only says AText (plain) under ATitle, with a link back to the dashboard.
std::string MessageHtml(const std::string& ATitle, const std::string& AText);
