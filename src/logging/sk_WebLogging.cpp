#include "logging/sk_WebLogging.h"

#include <cstdio>
#include <ctime>

#include "logging/lib_rfc1123.h"

namespace {

constexpr const char kMonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

// A field must neither end the line early nor shift the fields after it: quotes, backslashes
// and every byte outside printable ASCII are written as \xHH, as log analysers read them back.
std::string Escaped(const std::string& AText) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(AText.size());
    for (char c : AText) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || byte == '"' || byte == '\\') {
            result += "\\x";
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        } else {
            result += c;
        }
    }
    return result;
}

std::string Quoted(const std::string& AText) {
    return '"' + Escaped(AText) + '"';
}

std::string OrHyphen(const std::string& AText) {
    return AText.empty() ? "-" : Escaped(AText);
}

// The local wall-clock time read as if it were UTC, in seconds since 1970.
std::time_t WallClockAsUtc(const TDateTimeParts& AWall) {
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
    std::time_t instant = wall + now;
    std::tm local{};
    if (!localtime_r(&instant, &local))
        return now;
    if (-local.tm_gmtoff == now)
        return now;
    instant = wall - local.tm_gmtoff; // the offset of the first guess's instant
    std::tm second{};
    if (!localtime_r(&instant, &second))
        return now;
    return static_cast<int>(-second.tm_gmtoff);
}

} // namespace

std::string LogZoneTextOf(int AUtcBiasSeconds) {
    const int east = -AUtcBiasSeconds / 60; // minutes east of UTC
    const int magnitude = east < 0 ? -east : east;
    char text[32];
    std::snprintf(text, sizeof text, "%c%02d%02d", east < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

std::string LogZoneTextAt(TDateTime ALocal) {
    return LogZoneTextOf(UtcBiasSecondsAt(DecodeDateTime(ALocal)));
}

std::string LogDateText(TDateTime ATime) {
    TDateTimeParts p = DecodeDateTime(ATime);
    char text[96];
    std::snprintf(text, sizeof text, "%02d/%.3s/%04d:%02d:%02d:%02d ", p.Day,
                  kMonthNames + 3 * (p.Month - 1), p.Year, p.Hour, p.Minute, p.Second);
    return text + LogZoneTextOf(UtcBiasSecondsAt(p));
}

std::string CommonLogLine(const std::string& AHost, const std::string& AIdentity,
                          const std::string& AUser, TDateTime ATime, const std::string& ARequest,
                          int AStatus, int ASize) {
    return Escaped(AHost) + ' ' + OrHyphen(AIdentity) + ' ' + OrHyphen(AUser) + " [" +
           LogDateText(ATime) + "] " + Quoted(ARequest) + ' ' + std::to_string(AStatus) + ' ' +
           std::to_string(ASize);
}

std::string CombinedLogLine(const std::string& AHost, const std::string& AIdentity,
                            const std::string& AUser, TDateTime ATime, const std::string& ARequest,
                            int AStatus, int ASize, const std::string& AUserAgent,
                            const std::string& AReferer) {
    return CommonLogLine(AHost, AIdentity, AUser, ATime, ARequest, AStatus, ASize) + ' ' +
           Quoted(AReferer) + ' ' + Quoted(AUserAgent);
}
