#include "stats/CombinedLineReader.h"

#include <algorithm>

#include "base/HexDigit.h"

namespace {

constexpr std::string_view kMonthNames = "JanFebMarAprMayJunJulAugSepOctNovDec";
// "[dd/Mon/yyyy:hh:mm:ss +hhmm]"
constexpr std::size_t kDateLength = 28;

// AWidth decimal digits at AAt; false when any is not a digit.
bool ReadDigits(std::string_view AText, std::size_t AAt, std::size_t AWidth, int& AValue) {
    AValue = 0;
    for (std::size_t i = AAt; i < AAt + AWidth; ++i) {
        if (AText[i] < '0' || AText[i] > '9')
            return false;
        AValue = AValue * 10 + (AText[i] - '0');
    }
    return true;
}

bool ReadMonth(std::string_view AText, std::size_t AAt) {
    std::string_view name = AText.substr(AAt, 3);
    std::size_t at = kMonthNames.find(name);
    return at != std::string_view::npos && at % 3 == 0;
}

// The bracketed date at AAt with any zone (+hhmm or -hhmm); its hour.
bool ReadDate(std::string_view ALine, std::size_t AAt, int& AHour) {
    if (ALine.size() - AAt < kDateLength)
        return false;
    std::string_view d = ALine.substr(AAt, kDateLength);
    int day = 0, year = 0, minute = 0, second = 0, zoneHours = 0, zoneMinutes = 0;
    bool shape = d[0] == '[' && d[3] == '/' && d[7] == '/' && d[12] == ':' && d[15] == ':' &&
                 d[18] == ':' && d[21] == ' ' && (d[22] == '+' || d[22] == '-') && d[27] == ']';
    return shape && ReadDigits(d, 1, 2, day) && ReadMonth(d, 4) && ReadDigits(d, 8, 4, year) &&
           ReadDigits(d, 13, 2, AHour) && ReadDigits(d, 16, 2, minute) &&
           ReadDigits(d, 19, 2, second) && ReadDigits(d, 23, 2, zoneHours) &&
           ReadDigits(d, 25, 2, zoneMinutes) && day >= 1 && day <= 31 && AHour <= 23 &&
           minute <= 59 && second <= 60 && zoneMinutes <= 59;
}

// The double-quoted field at AAt: its inside (still escaped) and the position after it. A
// quote after an odd number of backslashes is escaped (\" of other writers) and does not end
// the field.
bool ReadQuoted(std::string_view ALine, std::size_t AAt, std::string_view& AInside,
                std::size_t& AEnd) {
    if (AAt >= ALine.size() || ALine[AAt] != '"')
        return false;
    for (std::size_t quote = ALine.find('"', AAt + 1); quote != std::string_view::npos;
         quote = ALine.find('"', quote + 1)) {
        std::size_t backslashes = 0;
        while (ALine[quote - 1 - backslashes] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0) {
            AInside = ALine.substr(AAt + 1, quote - AAt - 1);
            AEnd = quote + 1;
            return true;
        }
    }
    return false; // cut off inside the field
}

// A whole number at AAt up to the next blank or the end ("-" and a sign allowed when
// AHyphen); the position after it.
bool ReadNumber(std::string_view ALine, std::size_t AAt, bool AHyphen, int& AValue,
                std::size_t& AEnd) {
    AEnd = std::min(ALine.find(' ', AAt), ALine.size());
    std::string_view text = ALine.substr(AAt, AEnd - AAt);
    if (AHyphen && !text.empty() && text.front() == '-')
        text.remove_prefix(1);
    if (text.empty())
        return AHyphen && AEnd > AAt; // a lone "-": no size
    AValue = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        if (AValue < 100000000)
            AValue = AValue * 10 + (c - '0');
    }
    return true;
}

// The identity field after the host when it holds a visitor id; other writers put "-" or an
// identd answer there, which names nobody we can count.
void AssignVisitorId(std::string_view ALine, std::size_t AHostEnd, std::string& AOut) {
    AOut.clear();
    constexpr std::size_t IdLength = 16;
    const std::string_view field = ALine.substr(AHostEnd + 1, IdLength + 1);
    if (field.size() == IdLength + 1 && field.back() == ' ' &&
        std::all_of(field.begin(), field.end() - 1,
                    [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        AOut.assign(field.substr(0, IdLength));
}

std::size_t FindDate(std::string_view ALine, std::size_t AFrom, int& AHour) {
    // A user name of an older line may hold a blank or a bracket: the first valid date wins.
    for (std::size_t at = ALine.find(" [", AFrom); at != std::string_view::npos;
         at = ALine.find(" [", at + 1))
        if (ReadDate(ALine, at + 1, AHour))
            return at + 1;
    return std::string_view::npos;
}

void AssignUnescaped(std::string_view AText, std::string& AOut) {
    AOut.clear();
    AppendUnescaped(AText, AOut);
}

void AssignTarget(std::string_view ATarget, THitLine& AHit) {
    std::size_t query = ATarget.find('?');
    std::string_view path = ATarget.substr(0, query);
    AssignUnescaped(path.substr(0, path.find('#')), AHit.Document);
    if (query != std::string_view::npos) {
        std::string_view rest = ATarget.substr(query + 1);
        AssignUnescaped(rest.substr(0, rest.find('#')), AHit.Params);
    }
}

// Our request text is command, document, parameter text and version, one blank between each,
// so it has at least three blanks; other writers join path and query with "?".
void SplitRequest(std::string_view ARequest, THitLine& AHit) {
    AHit.Command.clear();
    AHit.Document.clear();
    AHit.Params.clear();
    std::size_t first = ARequest.find(' ');
    AssignUnescaped(ARequest.substr(0, first), AHit.Command);
    if (first == std::string_view::npos)
        return;
    std::string_view rest = ARequest.substr(first + 1);
    std::string_view middle = rest.substr(0, rest.rfind(' '));
    std::size_t blank = middle.find(' ');
    if (blank == std::string_view::npos) {
        AssignTarget(middle, AHit);
        return;
    }
    AssignUnescaped(middle.substr(0, blank), AHit.Document);
    AssignUnescaped(middle.substr(blank + 1), AHit.Params);
}

void AssignQuotedText(std::string_view AText, std::string& AOut) {
    AssignUnescaped(AText == "-" ? std::string_view() : AText, AOut);
}

// Referer and user agent after the size; writers that add fields after the user agent
// separate them with a blank.
bool ReadAgentFields(std::string_view ALine, std::size_t AAt, THitLine& AHit) {
    std::string_view referer, agent;
    std::size_t end = 0;
    if (AAt >= ALine.size() || ALine[AAt] != ' ' || !ReadQuoted(ALine, AAt + 1, referer, end) ||
        end >= ALine.size() || ALine[end] != ' ' || !ReadQuoted(ALine, end + 1, agent, end) ||
        (end < ALine.size() && ALine[end] != ' '))
        return false;
    AssignQuotedText(referer, AHit.Referer);
    AssignQuotedText(agent, AHit.UserAgent);
    return true;
}

} // namespace

void AppendUnescaped(std::string_view AText, std::string& AOut) {
    // Most fields hold no escape at all: whole runs are copied at once.
    for (std::size_t at = 0; at < AText.size();) {
        std::size_t backslash = std::min(AText.find('\\', at), AText.size());
        AOut.append(AText.substr(at, backslash - at));
        if (backslash == AText.size())
            return;
        std::string_view rest = AText.substr(backslash);
        if (rest.size() >= 4 && rest[1] == 'x' && HexDigit(rest[2]) >= 0 &&
            HexDigit(rest[3]) >= 0) {
            AOut += static_cast<char>(HexDigit(rest[2]) * 16 + HexDigit(rest[3]));
            at = backslash + 4;
        } else if (rest.size() >= 2 && (rest[1] == '"' || rest[1] == '\\')) {
            AOut += rest[1];
            at = backslash + 2;
        } else {
            AOut += '\\';
            at = backslash + 1;
        }
    }
}

bool ReadCombinedLine(std::string_view ALine, THitLine& AHit) {
    if (!ALine.empty() && ALine.back() == '\r')
        ALine.remove_suffix(1);
    std::size_t hostEnd = ALine.find(' ');
    if (hostEnd == 0 || hostEnd == std::string_view::npos)
        return false;
    int hour = 0;
    std::size_t date = FindDate(ALine, hostEnd, hour);
    if (date == std::string_view::npos)
        return false;
    std::string_view request;
    std::size_t at = date + kDateLength;
    int status = 0, size = 0;
    if (at >= ALine.size() || ALine[at] != ' ' || !ReadQuoted(ALine, at + 1, request, at) ||
        at >= ALine.size() || ALine[at] != ' ' || !ReadNumber(ALine, at + 1, false, status, at) ||
        at >= ALine.size() || !ReadNumber(ALine, at + 1, true, size, at) ||
        !ReadAgentFields(ALine, at, AHit))
        return false;
    AssignUnescaped(ALine.substr(0, hostEnd), AHit.Host);
    AssignVisitorId(ALine, hostEnd, AHit.VisitorId);
    AHit.Hour = hour;
    AHit.Status = status;
    SplitRequest(request, AHit);
    return true;
}
