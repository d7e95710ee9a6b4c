// The summary of a closed day kept beside its overview file ("yyyymmdd.stats"): the totals,
// hours and the first KeptNames names of each list, with what the day's file was when it was
// read, so a range reads a few kilobytes per day instead of every line. Free functions; any
// thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "stats/StatsFile.h"
#include "stats/TDayStats.h"

// What tells that a day's file changed since it was summarised: device, inode, size and
// modification time, and the nickname list that named its visitors.
struct TDaySource {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    std::int64_t ModifiedNs = 0;
    std::uint64_t NickNamesKey = 0;

    bool operator==(const TDaySource&) const = default;
};

// The identity of the file at APath and of the nickname list, and the file's owner: Read, or
// Missing, or Failed with the reason in AError (also for what is no regular file).
TReadStatus DaySourceOf(const std::string& APath, const std::vector<std::string>& ANickNames,
                        TDaySource& ASource, std::string& AError, uid_t* AOwner = nullptr);

// ADir + "yyyymmdd.stats".
std::string DaySummaryPath(const std::string& ADir, const TLogDay& ADay);

// The file's text: a version line, the source, the figures, and a checksum of all of it.
std::string DaySummaryText(const TDaySource& ASource, const TStatsSummary& ASummary);
// Reads a summary back; false when the text is damaged, of another version, or made from
// another source than ASource.
[[nodiscard]] bool ReadDaySummaryText(std::string_view AText, const TDaySource& ASource,
                                      TStatsSummary& ASummary);

// Writes the summary beside the file and renames it into place, so a reader never sees half a
// summary; false when it cannot (the directory is not ours to write).
bool WriteDaySummary(const std::string& APath, const TDaySource& ASource,
                     const TStatsSummary& ASummary);
// Reads the summary at APath if it was made from ASource.
[[nodiscard]] bool ReadDaySummary(const std::string& APath, const TDaySource& ASource,
                                  TStatsSummary& ASummary);
