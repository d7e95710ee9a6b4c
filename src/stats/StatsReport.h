// The report of one day or a range of days in the terminal: a short text table or one JSON
// object, and the command behind `sk_kav --report`. Main thread of the report run; the
// builders on any thread.
#pragma once

#include <cstdio>
#include <string>

#include "stats/StatsFile.h"
#include "stats/StatsRange.h"
#include "stats/TDayStats.h"

// AText as a JSON string: quotes, backslashes and control characters escaped.
std::string JsonText(const std::string& AText);

// {"date":"2026-12-08","hits":..,"pageviews":..,"visitors":..,"optedout":..,"bots":..,
//  "unreadable":..,"hours":[24 numbers],"pages":[{"name":..,"views":..}],"sources":[..],
//  "visitors_top":[..],"browsers":[..]} on one line, ending with a line break.
std::string JsonReport(const TLogDay& ADay, const TStatsSummary& ASummary);
// The same figures as a short table for people.
std::string TextReport(const TLogDay& ADay, const std::string& APath,
                       const TStatsSummary& ASummary);

// A range: {"from":"2026-12-01","to":"2026-12-08", the members of the day's object from "hits"
// to "browsers", "days":[{"date":..,"pageviews":..,"visitors":..}, one per day of the range]}
// on one line, ending with a line break. A day without a log file counts 0.
std::string JsonRangeReport(const TRangeFigures& ARange);
// The same as a table, with the page views and visitors of each day; ADir is where the files
// were read.
std::string TextRangeReport(const TRangeFigures& ARange, const std::string& ADir);

struct TKAV_GeneralConfig;

// What every report starts with: the day ("yyyymmdd", empty for today) and the settings
// loaded (ProgramDir must be set; their defaults, said on AErr, when they cannot be read).
// False with a message on AErr when the day is not valid.
[[nodiscard]] bool PrepareReport(const std::string& ADay, TLogDay& AReportDay,
                                 TKAV_GeneralConfig& AConfig, std::FILE* AErr);

// The same for a range: its days ("yyyymmdd"; empty ATo: today), checked to be a range of at
// most MaxRangeDays, and the settings loaded. False with a message on AErr.
[[nodiscard]] bool PrepareRangeReport(const std::string& AFrom, const std::string& ATo,
                                      TLogDay& AFromDay, TLogDay& AToDay,
                                      TKAV_GeneralConfig& AConfig, std::FILE* AErr);

// Loads the settings (ProgramDir must be set), reads the overview file of ADay ("yyyymmdd",
// empty for today) from their log directory and prints the report to AOut. Returns 0, or 1
// with a message on AErr when the day is not valid or the file is missing or unreadable.
int RunStatsReport(const std::string& ADay, bool AJson, std::FILE* AOut, std::FILE* AErr);
// The same for the days from AFrom to ATo ("yyyymmdd"; empty ATo: today), at most
// MaxRangeDays, closed days through their summaries (TLogFileDays). Returns 1 with a message
// when a day is not valid, no day of the range has a file, or a file cannot be read (the
// report of the others is printed then).
int RunStatsRangeReport(const std::string& AFrom, const std::string& ATo, bool AJson,
                        std::FILE* AOut, std::FILE* AErr);
