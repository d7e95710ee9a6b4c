// `sk_kav --report --store`: a day or a range of days of the shared store in the terminal,
// every instance's hits or one instance's, in the same shape as the reports of the overview
// files. Main thread of the report run.
#pragma once

#include <cstdio>
#include <string>

// Loads the settings (ProgramDir must be set), reads ADay ("yyyymmdd", empty for today) from
// the database [Store] Connection names, for the instance AInstance (empty: all), and prints
// the report to AOut. Returns 0, or 1 with a message on AErr when the day is not valid, no
// store is set or the database cannot be read.
int RunStoreReport(const std::string& ADay, const std::string& AInstance, bool AJson,
                   std::FILE* AOut, std::FILE* AErr);
// The same for the days from AFrom to ATo ("yyyymmdd"; empty ATo: today), at most
// MaxRangeDays, with the page views and visitors of each day.
int RunStoreRangeReport(const std::string& AFrom, const std::string& ATo,
                        const std::string& AInstance, bool AJson, std::FILE* AOut, std::FILE* AErr);
