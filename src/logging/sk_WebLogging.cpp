#include "logging/sk_WebLogging.h"

#include <ctime>

#include "logging/DecimalText.h"
#include "logging/LogText.h"
#include "logging/lib_rfc1123.h"

namespace {

// A field must neither end the line early nor shift the fields after it: quotes, backslashes
// and every byte outside printable ASCII are written as \xHH, as log analysers read them back;
// the unquoted fields also write blanks and brackets so. Every field is bounded.
void AppendQuoted(std::string& ALine, std::initializer_list<std::string_view> APieces,
                  std::size_t ALimit = LogFieldLimit) {
    ALine += '"';
    AppendLogField(ALine, APieces, TLogEscape::Quoted, ALimit);
    ALine += '"';
}

void AppendOrHyphen(std::string& ALine, std::string_view AText) {
    if (AText.empty())
        ALine += '-';
    else
        AppendLogField(ALine, {AText}, TLogEscape::Unquoted);
}

// The local wall-clock time read as if it were UTC, in seconds since 1970.
std::time_t WallClockAsUtc(const TDateTimeParts& AWall) {
    if (const std::optional<std::int64_t> seconds = SecondsSince1970(AWall))
        return static_cast<std::time_t>(*seconds);
    std::tm wall{};
    wall.tm_year = AWall.Year - 1900;
    wall.tm_mon = AWall.Month - 1;
    wall.tm_mday = AWall.Day;
    wall.tm_hour = AWall.Hour;
    wall.tm_min = AWall.Minute;
    wall.tm_sec = AWall.Second;
    return timegm(&wall);
}

// UTC minus local time at the local time AWall. The offset in force now is kept when the
// instant it gives for AWall has that same offset: lines logged now need no zone search, and
// the hour that repeats when clocks go back is read as the one being lived. Otherwise the
// offset of that instant under the zone's rules is taken.
int UtcBiasSecondsAt(const TDateTimeParts& AWall) {
    const std::time_t wall = WallClockAsUtc(AWall);
    const int now = UtcBiasSeconds();
    const std::optional<long> first = UtcOffsetAt(wall + now);
    if (!first)
        return now;
    if (-*first == now)
        return now;
    // the offset of the first guess's instant
    const std::optional<long> second = UtcOffsetAt(wall - *first);
    return second ? static_cast<int>(-*second) : now;
}

// "07/Dec/2026:08:49:37 +0100", see LogDateText.
void AppendLogDate(std::string& ALine, TDateTime ATime) {
    TDateTimeParts p = DecodeDateTime(ATime);
    AppendDayMonthYear(ALine, p, '/', 4);
    ALine += ':';
    AppendClockTime(ALine, p);
    ALine += ' ';
    ALine += LogZoneTextOf(UtcBiasSecondsAt(p));
}

} // namespace

std::string LogZoneTextOf(int AUtcBiasSeconds) {
    const int east = -AUtcBiasSeconds / 60; // minutes east of UTC
    const int magnitude = east < 0 ? -east : east;
    std::string text(1, east < 0 ? '-' : '+');
    AppendDigits(text, magnitude / 60, 2);
    AppendDigits(text, magnitude % 60, 2);
    return text;
}

std::string LogZoneTextAt(TDateTime ALocal) {
    return LogZoneTextOf(UtcBiasSecondsAt(DecodeDateTime(ALocal)));
}

std::string LogDateText(TDateTime ATime) {
    std::string text;
    AppendLogDate(text, ATime);
    return text;
}

std::string CommonLogLine(std::string_view AHost, std::string_view AIdentity,
                          std::string_view AUser, TDateTime ATime,
                          std::initializer_list<std::string_view> ARequest, int AStatus,
                          int ASize) {
    std::string line;
    // Room for the whole combined line of a browser (its user agent and referer included), so
    // that it is built in one allocation.
    line.reserve(384);
    AppendLogField(line, {AHost}, TLogEscape::Unquoted);
    line += ' ';
    AppendOrHyphen(line, AIdentity);
    line += ' ';
    AppendOrHyphen(line, AUser);
    line += " [";
    AppendLogDate(line, ATime);
    line += "] ";
    AppendQuoted(line, ARequest, LogRequestLimit);
    line += ' ';
    AppendDigits(line, AStatus, 1);
    line += ' ';
    AppendDigits(line, ASize, 1);
    return line;
}

std::string CommonLogLine(std::string_view AHost, std::string_view AIdentity,
                          std::string_view AUser, TDateTime ATime, std::string_view ARequest,
                          int AStatus, int ASize) {
    return CommonLogLine(AHost, AIdentity, AUser, ATime, {ARequest}, AStatus, ASize);
}

std::string CombinedLogLine(std::string_view AHost, std::string_view AIdentity,
                            std::string_view AUser, TDateTime ATime,
                            std::initializer_list<std::string_view> ARequest, int AStatus,
                            int ASize, std::string_view AUserAgent, std::string_view AReferer) {
    std::string line = CommonLogLine(AHost, AIdentity, AUser, ATime, ARequest, AStatus, ASize);
    line += ' ';
    AppendQuoted(line, {AReferer});
    line += ' ';
    AppendQuoted(line, {AUserAgent});
    return line;
}

std::string CombinedLogLine(std::string_view AHost, std::string_view AIdentity,
                            std::string_view AUser, TDateTime ATime, std::string_view ARequest,
                            int AStatus, int ASize, std::string_view AUserAgent,
                            std::string_view AReferer) {
    return CombinedLogLine(AHost, AIdentity, AUser, ATime, {ARequest}, AStatus, ASize, AUserAgent,
                           AReferer);
}
