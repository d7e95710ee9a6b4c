#include "logging/sk_WebLogging.h"

#include <cstdio>

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
