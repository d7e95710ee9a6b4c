// A range of days: where the figures of each day come from (IDayFiguresSource), and their sum
// into the figures of the range. Free functions on any thread; a source says its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stats/StatsFile.h"
#include "stats/TDayStats.h"

// How many names of each list a day keeps for a range. A range adds up each day's first
// KeptNames names per list, so it shows the first 100 of one day exactly, and a name that a
// day did not keep is not added for that day.
inline constexpr std::size_t KeptNames = 200;
// The longest range summed at once, in days.
inline constexpr int MaxRangeDays = 366;

// One day as a source gives it.
struct TDayFigures {
    TLogDay Day;
    TReadStatus Status = TReadStatus::Missing; // Read, Missing, Failed or Cancelled
    std::string Error;                         // why it Failed
    TStatsSummary Summary;                     // lists of at most KeptNames names
};

// Where the figures of days come from: the overview files with their summaries, or a store
// that several servers feed.
class IDayFiguresSource {
public:
    virtual ~IDayFiguresSource() = default;
    // The figures of each day from AFrom to ATo (at most MaxRangeDays), oldest first. Any
    // thread.
    virtual std::vector<TDayFigures> Days(const TLogDay& AFrom, const TLogDay& ATo) = 0;
};

// One day of a range as its list shows it.
struct TDayLine {
    TLogDay Day;
    TReadStatus Status = TReadStatus::Missing;
    std::uint64_t PageViews = 0;
    std::uint64_t Visitors = 0;
};

struct TRangeFigures {
    TLogDay From;
    TLogDay To;
    // Totals, hours and lists added up over the days; Visitors is the sum of each day's.
    TStatsSummary Summary;
    std::vector<TDayLine> Days;        // every day of the range, oldest first
    std::vector<std::string> Failures; // "2026-12-08: Permission denied", per day that failed
};

TLogDay AddDays(const TLogDay& ADay, int ACount);
// Days from AFrom to ATo, both counted; 0 when ATo is before AFrom.
int DayCount(const TLogDay& AFrom, const TLogDay& ATo);

// Adds up the days (any order; days outside the range, or past its first MaxRangeDays, are
// passed over) with lists of the ATop names with the most views, ties in byte order of names.
TRangeFigures SumDays(const TLogDay& AFrom, const TLogDay& ATo,
                      const std::vector<TDayFigures>& ADays, std::size_t ATop);
