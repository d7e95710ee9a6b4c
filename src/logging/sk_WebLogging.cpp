#include "logging/sk_WebLogging.h"

#include <cstdio>

#include "logging/LogText.h"
#include "logging/lib_rfc1123.h"

namespace {

constexpr const char kMonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

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

} // namespace

const std::string& LogZoneText() {
    static const std::string text = LogZoneTextOf(UtcBiasSeconds());
    return text;
}

std::string LogZoneTextOf(int AUtcBiasSeconds) {
    // Truncated toward zero: the minutes of a half-hour zone are dropped (+05:30 gives +0500).
    int hours = -AUtcBiasSeconds / 3600;
    char text[32];
    std::snprintf(text, sizeof text, "%c%02d00", hours < 0 ? '-' : '+', hours < 0 ? -hours : hours);
    return text;
}

std::string LogDateText(TDateTime ATime) {
    TDateTimeParts p = DecodeDateTime(ATime);
    char text[96];
    std::snprintf(text, sizeof text, "%02d/%.3s/%04d:%02d:%02d:%02d ", p.Day,
                  kMonthNames + 3 * (p.Month - 1), p.Year, p.Hour, p.Minute, p.Second);
    return text + LogZoneText();
}

std::string CommonLogLine(std::string_view AHost, std::string_view AIdentity,
                          std::string_view AUser, TDateTime ATime,
                          std::initializer_list<std::string_view> ARequest, int AStatus,
                          int ASize) {
    std::string line;
    line.reserve(128);
    AppendLogField(line, {AHost}, TLogEscape::Unquoted);
    line += ' ';
    AppendOrHyphen(line, AIdentity);
    line += ' ';
    AppendOrHyphen(line, AUser);
    line += " [" + LogDateText(ATime) + "] ";
    AppendQuoted(line, ARequest, LogRequestLimit);
    line += ' ' + std::to_string(AStatus) + ' ' + std::to_string(ASize);
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
