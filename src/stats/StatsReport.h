// The report of one day in the terminal: a short text table or one JSON object, and the
// command behind `sk_kav --report`. Main thread of the report run; the builders on any thread.
#pragma once

#include <cstdio>
#include <string>

#include "stats/StatsFile.h"
#include "stats/TDayStats.h"

// {"date":"2026-12-08","hits":..,"pageviews":..,"visitors":..,"bots":..,"unreadable":..,
//  "hours":[24 numbers],"pages":[{"name":..,"views":..}],"sources":[..],"visitors_top":[..],
//  "browsers":[..]} on one line, ending with a line break.
std::string JsonReport(const TLogDay& ADay, const TStatsSummary& ASummary);
// The same figures as a short table for people.
std::string TextReport(const TLogDay& ADay, const std::string& APath,
                       const TStatsSummary& ASummary);

// Loads the settings (ProgramDir must be set), reads the overview file of ADay ("yyyymmdd",
// empty for today) from their log directory and prints the report to AOut. Returns 0, or 1
// with a message on AErr when the day is not valid or the file is missing or unreadable.
int RunStatsReport(const std::string& ADay, bool AJson, std::FILE* AOut, std::FILE* AErr);
