#include "stats/StatsFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>

#include "base/RegularFile.h"
#include "config/config.h"
#include "stats/TDayStats.h"

namespace {

std::string WithDelimiter(std::string ADir) {
    if (!ADir.empty() && ADir.back() != '/')
        ADir += '/';
    return ADir;
}

// Splits the bytes that arrive in pieces into lines; a line longer than MaxLogLineBytes is
// counted as soon as it is too long and the rest of it is passed over.
class TLineSplitter {
public:
    explicit TLineSplitter(TDayStats& AStats) : FStats(AStats) {}

    void Feed(const char* AData, std::size_t ASize) {
        const char* end = AData + ASize;
        while (AData < end) {
            auto* newline = static_cast<const char*>(std::memchr(AData, '\n', end - AData));
            const char* stop = newline ? newline : end;
            Take(std::string_view(AData, stop - AData), newline != nullptr);
            FTailBytes = newline ? 0 : FTailBytes + (stop - AData);
            AData = newline ? newline + 1 : end;
        }
    }
    // The bytes after the last line break fed.
    std::size_t TailBytes() const { return FTailBytes; }
    void Finish() {
        if (!FPending.empty())
            FStats.AddLine(FPending);
        FPending.clear();
    }

private:
    void Take(std::string_view APart, bool AComplete) {
        if (!FSkipping && FPending.empty() && AComplete) {
            FStats.AddLine(APart); // the usual case: a whole line inside one piece
        } else if (!FSkipping) {
            if (FPending.size() + APart.size() > MaxLogLineBytes) {
                FStats.AddUnreadableLine();
                FPending.clear();
                FSkipping = !AComplete;
                return;
            }
            FPending.append(APart);
            if (AComplete) {
                FStats.AddLine(FPending);
                FPending.clear();
            }
        } else if (AComplete) {
            FSkipping = false;
        }
    }

    TDayStats& FStats;
    std::string FPending;
    bool FSkipping = false;
    std::size_t FTailBytes = 0;
};

} // namespace

TLogDay LogDayOf(TDateTime ATime) {
    TDateTimeParts parts = DecodeDateTime(ATime);
    return {parts.Year, parts.Month, parts.Day};
}

bool ParseLogDay(std::string_view AText, TLogDay& ADay) {
    if (AText.size() != 8 ||
        !std::all_of(AText.begin(), AText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    auto number = [&](std::size_t AAt, std::size_t ALength) {
        int value = 0;
        for (char c : AText.substr(AAt, ALength))
            value = value * 10 + (c - '0');
        return value;
    };
    TLogDay day{number(0, 4), number(4, 2), number(6, 2)};
    TDateTime unused = 0;
    if (!TryEncodeDateTime(day.Year, day.Month, day.Day, 0, 0, 0, 0, unused))
        return false;
    ADay = day;
    return true;
}

std::string FileDayText(const TLogDay& ADay) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", ADay.Year, ADay.Month, ADay.Day);
    return text;
}

std::string IsoDayText(const TLogDay& ADay) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", ADay.Year, ADay.Month, ADay.Day);
    return text;
}

TLogDay DayBefore(const TLogDay& ADay) {
    return LogDayOf(EncodeDateTime(ADay.Year, ADay.Month, ADay.Day) - 1);
}

std::string LogDirOf(const TKAV_GeneralConfig& AConfig) {
    return WithDelimiter(LogDirectoryFor(AConfig.LogDir));
}

std::string OverviewFilePath(const std::string& ADir, const TLogDay& ADay) {
    return WithDelimiter(ADir) + FileDayText(ADay) + ".log";
}

std::vector<TLogDay> ListLogDays(const std::string& ADir) {
    std::vector<TLogDay> days;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(ADir.c_str()), closedir);
    if (!dir)
        return days;
    while (const dirent* entry = readdir(dir.get())) {
        std::string_view name = entry->d_name;
        TLogDay day;
        if (name.size() == 12 && name.substr(8) == ".log" && ParseLogDay(name.substr(0, 8), day))
            days.push_back(day);
    }
    std::sort(days.rbegin(), days.rend());
    return days;
}

namespace {

TReadStatus ReadDayFile(const std::string& APath, TDayStats& AStats, std::string& AError,
                        const std::atomic<bool>* ACancel, std::size_t APieceBytes,
                        TFilePlace* AReadTo) {
    TRegularFile file(APath, MaxDayFileBytes);
    auto failed = [&] {
        AError = file.Problem();
        return file.Status() == TRegularFileStatus::Missing ? TReadStatus::Missing
                                                            : TReadStatus::Failed;
    };
    if (!file.IsOpen())
        return failed();
    const std::size_t pieceBytes = std::max<std::size_t>(APieceBytes, 1);
    std::unique_ptr<char[]> piece(new char[pieceBytes]);
    TLineSplitter lines(AStats);
    std::uint64_t total = 0;
    for (;;) {
        if (ACancel && ACancel->load())
            return TReadStatus::Cancelled;
        const long got = file.Read(piece.get(), pieceBytes);
        if (got < 0)
            return failed();
        if (got == 0)
            break;
        lines.Feed(piece.get(), static_cast<std::size_t>(got));
        total += static_cast<std::uint64_t>(got);
    }
    if (!AReadTo) {
        lines.Finish();
        return TReadStatus::Read;
    }
    // A last line without its line break may be one still being written: it is left to
    // whoever hands the whole line over.
    *AReadTo = {file.Device(), file.Inode(), static_cast<std::int64_t>(total - lines.TailBytes())};
    return TReadStatus::Read;
}

} // namespace

TReadStatus ReadOverviewFile(const std::string& APath, TDayStats& AStats, std::string& AError,
                             const std::atomic<bool>* ACancel, std::size_t APieceBytes) {
    return ReadDayFile(APath, AStats, AError, ACancel, APieceBytes, nullptr);
}

TReadStatus ReadOverviewFileTo(const std::string& APath, TDayStats& AStats, std::string& AError,
                               TFilePlace& AReadTo, const std::atomic<bool>* ACancel) {
    AReadTo = TFilePlace();
    return ReadDayFile(APath, AStats, AError, ACancel, DefaultReadPieceBytes, &AReadTo);
}
