// TLogFileDays: the figures of days from the overview files of one directory. A closed day
// comes from its summary file while the day's file is as it was, else it is read and
// summarised anew; today and later days are read from their files each time. Any thread;
// summaries are made one at a time in the process, so two views of a new range share the work.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "stats/StatsRange.h"

class TLogFileDays : public IDayFiguresSource {
public:
    // ADir with or without its trailing '/'; ANickNames as the settings hold them. ACancel,
    // when given and set, stops the reading (the days not read are Cancelled).
    TLogFileDays(std::string ADir, std::vector<std::string> ANickNames, const TLogDay& AToday,
                 const std::atomic<bool>* ACancel = nullptr);

    std::vector<TDayFigures> Days(const TLogDay& AFrom, const TLogDay& ATo) override;
    TDayFigures Day(const TLogDay& ADay) const;

private:
    TDayFigures ClosedDay(const TLogDay& ADay) const;
    // Reads the day's file whole.
    TDayFigures ReadDay(const TLogDay& ADay) const;

    std::string FDir;
    std::vector<std::string> FNickNames;
    TLogDay FToday;
    const std::atomic<bool>* FCancel;
};
