// Where the overview files lie and how one is read into a TDayStats: days, file names, the
// log directory of the settings, the list of days with a file, and the streaming reader.
// Free functions; any thread.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/FilePlace.h"

class TDayStats;
struct TKAV_GeneralConfig;

// A calendar day, as in the names of the daily files.
struct TLogDay {
    int Year = 0;
    int Month = 0;
    int Day = 0;

    auto operator<=>(const TLogDay&) const = default;
};

TLogDay LogDayOf(TDateTime ATime);
// "20261208" into a day; false unless eight digits form a valid date.
[[nodiscard]] bool ParseLogDay(std::string_view AText, TLogDay& ADay);
std::string FileDayText(const TLogDay& ADay); // "20261208"
std::string IsoDayText(const TLogDay& ADay);  // "2026-12-08"
TLogDay DayBefore(const TLogDay& ADay);

// The directory the overview writer uses for these settings, with a trailing '/'.
std::string LogDirOf(const TKAV_GeneralConfig& AConfig);
// ADir + "yyyymmdd.log".
std::string OverviewFilePath(const std::string& ADir, const TLogDay& ADay);
// The days that have an overview file in ADir, newest first.
std::vector<TLogDay> ListLogDays(const std::string& ADir);

enum class TReadStatus { Read, Missing, Failed, Cancelled };

// A day's file larger than this is not read: a file of a real day is far smaller.
constexpr std::uint64_t MaxDayFileBytes = std::uint64_t(16) << 30;
// A line longer than this counts as one unreadable line.
constexpr std::size_t MaxLogLineBytes = 1u << 20;

// How much of a day file is read at once unless a reader says otherwise.
constexpr std::size_t DefaultReadPieceBytes = 1u << 20;

// Counts every line of the file into AStats, reading it in pieces of APieceBytes: memory
// stays small whatever the file's size. A last line without a line break (a file cut off
// while written) is counted like any other. Only a regular file of at most MaxDayFileBytes is
// read, and never waited for (a FIFO, a device or a link to one is Failed at once). Missing
// and Failed set AError to the reason. ACancel, when given and set, stops the reading between
// two pieces.
TReadStatus ReadOverviewFile(const std::string& APath, TDayStats& AStats, std::string& AError,
                             const std::atomic<bool>* ACancel = nullptr,
                             std::size_t APieceBytes = DefaultReadPieceBytes);
// The same for a file that is still written: a last line without its line break is left out,
// and AReadTo tells which file was read and how far (unknown when none was), so that a line
// handed over with its place (TFilePlace::Within) is counted once, from the file or apart.
TReadStatus ReadOverviewFileTo(const std::string& APath, TDayStats& AStats, std::string& AError,
                               TFilePlace& AReadTo, const std::atomic<bool>* ACancel = nullptr);
