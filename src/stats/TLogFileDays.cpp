#include "stats/TLogFileDays.h"

#include <mutex>
#include <unistd.h>

#include "stats/DaySummaryFile.h"

namespace {

// Held while a closed day is read and summarised: a second view of the same new range waits
// and then finds the summaries made, instead of reading every file a second time at once.
std::mutex& SummaryLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

TLogFileDays::TLogFileDays(std::string ADir, std::vector<std::string> ANickNames,
                           const TLogDay& AToday, const std::atomic<bool>* ACancel)
    : FDir(std::move(ADir)), FNickNames(std::move(ANickNames)), FToday(AToday), FCancel(ACancel) {}

std::vector<TDayFigures> TLogFileDays::Days(const TLogDay& AFrom, const TLogDay& ATo) {
    std::vector<TDayFigures> days;
    const int count = std::min(DayCount(AFrom, ATo), MaxRangeDays);
    for (int i = 0; i < count; ++i)
        days.push_back(Day(AddDays(AFrom, i)));
    return days;
}

TDayFigures TLogFileDays::Day(const TLogDay& ADay) const {
    if (FCancel && FCancel->load()) {
        TDayFigures cancelled;
        cancelled.Day = ADay;
        cancelled.Status = TReadStatus::Cancelled;
        return cancelled;
    }
    return ADay < FToday ? ClosedDay(ADay) : ReadDay(ADay);
}

TDayFigures TLogFileDays::ClosedDay(const TLogDay& ADay) const {
    const std::string summaryPath = DaySummaryPath(FDir, ADay);
    TDaySource source;
    TDayFigures figures;
    figures.Day = ADay;
    uid_t owner = 0;
    figures.Status =
        DaySourceOf(OverviewFilePath(FDir, ADay), FNickNames, source, figures.Error, &owner);
    if (figures.Status == TReadStatus::Missing)
        ::unlink(summaryPath.c_str()); // it names visitors: it goes when the log has gone
    if (figures.Status != TReadStatus::Read || ReadDaySummary(summaryPath, source, figures.Summary))
        return figures;
    std::lock_guard<std::mutex> guard(SummaryLock());
    if (ReadDaySummary(summaryPath, source, figures.Summary))
        return figures; // made while this one waited
    figures = ReadDay(ADay);
    // A summary made by another user (root reading the service's logs) would be one the
    // server could not replace when the day's file changes.
    if (figures.Status == TReadStatus::Read && owner == ::geteuid())
        (void)WriteDaySummary(summaryPath, source, figures.Summary);
    return figures;
}

TDayFigures TLogFileDays::ReadDay(const TLogDay& ADay) const {
    TDayFigures figures;
    figures.Day = ADay;
    TDayStats stats(FNickNames);
    figures.Status = ReadOverviewFile(OverviewFilePath(FDir, ADay), stats, figures.Error, FCancel);
    if (figures.Status == TReadStatus::Read)
        figures.Summary = stats.Summary(KeptNames);
    return figures;
}
