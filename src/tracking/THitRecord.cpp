#include "tracking/THitRecord.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "base/DateTime.h"
#include "base/Utf8.h"
#include "stats/HitRules.h"

namespace {

bool IsShortEscape(char32_t APoint) {
    return APoint == '"' || APoint == '\\' || APoint == '\b' || APoint == '\f' || APoint == '\n' ||
           APoint == '\r' || APoint == '\t';
}

// Characters that a terminal or a JavaScript reader of the line could take for something
// else; written as \uXXXX although JSON would allow most of them as they are.
bool NeedsUnicodeEscape(char32_t APoint) {
    return APoint < 0x20 || APoint == 0x7F || (APoint >= 0x80 && APoint <= 0x9F) ||
           APoint == 0x2028 || APoint == 0x2029;
}

// The bytes one character takes in the JSON line. ARepaired: a byte that starts no UTF-8
// character, written as the Latin-1 character it reads as.
std::size_t JsonWidth(char32_t APoint, std::size_t ABytes, bool ARepaired) {
    if (IsShortEscape(APoint))
        return 2;
    if (ARepaired || NeedsUnicodeEscape(APoint))
        return 6;
    return ABytes;
}

// Reads AText as UTF-8, a byte that starts no character as the Latin-1 character it is, and
// hands each character (its bytes in AText, its code point, whether it was repaired) to AEmit
// while their JSON widths stay within ALimit. True when the whole text fitted.
template <class TEmit>
bool ForEachCharWithin(std::string_view AText, std::size_t ALimit, TEmit&& AEmit) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < AText.size();) {
        const auto byte = static_cast<unsigned char>(AText[i]);
        const std::size_t length = byte < 0x80 ? 1 : Utf8Length(AText, i);
        const bool repaired = length == 0;
        const std::size_t bytes = repaired ? 1 : length;
        const char32_t point = bytes == 1 ? byte : Utf8CodePoint(AText, i, length);
        const std::size_t width = JsonWidth(point, bytes, repaired);
        if (width > ALimit - used)
            return false;
        used += width;
        AEmit(AText.substr(i, bytes), point, repaired);
        i += bytes;
    }
    return true;
}

void AppendJsonChar(std::string& AOut, std::string_view ABytes, char32_t APoint, bool ARepaired) {
    static constexpr char kShort[][3] = {"\\\"", "\\\\", "\\b", "\\f", "\\n", "\\r", "\\t"};
    static constexpr char32_t kShortPoints[] = {'"', '\\', '\b', '\f', '\n', '\r', '\t'};
    for (std::size_t k = 0; k < std::size(kShortPoints); ++k)
        if (APoint == kShortPoints[k]) {
            AOut += kShort[k];
            return;
        }
    if (ARepaired || NeedsUnicodeEscape(APoint)) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(APoint));
        AOut += escape;
        return;
    }
    AOut += ABytes;
}

// A JSON string of at most ALimit bytes between its quotes, plus LogCutMark when cut.
void AppendJsonString(std::string& AOut, std::string_view AText, std::size_t ALimit) {
    AOut += '"';
    const bool whole = ForEachCharWithin(
        AText, ALimit, [&AOut](std::string_view ABytes, char32_t APoint, bool ARepaired) {
            AppendJsonChar(AOut, ABytes, APoint, ARepaired);
        });
    if (!whole)
        AOut += LogCutMark;
    AOut += '"';
}

// Builds the object field by field.
class TJsonObject {
public:
    explicit TJsonObject(std::string& AOut) : FOut(AOut) { FOut += '{'; }

    void Text(const char* AName, std::string_view AValue, std::size_t ALimit = LogFieldLimit) {
        Name(AName);
        AppendJsonString(FOut, AValue, ALimit);
    }
    void Optional(const char* AName, const std::optional<std::string>& AValue) {
        if (AValue)
            Text(AName, *AValue);
    }
    void Raw(const char* AName, std::string_view AValue) {
        Name(AName);
        FOut += AValue;
    }
    void Number(const char* AName, long long AValue) { Raw(AName, std::to_string(AValue)); }
    void Flag(const char* AName, bool AValue) { Raw(AName, AValue ? "true" : "false"); }
    void End() { FOut += '}'; }

private:
    void Name(const char* AName) {
        if (FOut.back() != '{')
            FOut += ',';
        FOut += '"';
        FOut += AName;
        FOut += "\":";
    }

    std::string& FOut;
};

} // namespace

void SetHitTime(THitRecord& AHit, std::chrono::system_clock::time_point ATime) {
    using namespace std::chrono;
    AHit.TimeMs = floor<milliseconds>(ATime.time_since_epoch()).count();
    const auto second = static_cast<std::time_t>(floor<seconds>(ATime.time_since_epoch()).count());
    const long offset = UtcOffsetAt(second).value_or(0);
    // Zones of the past had offsets in seconds; the text has room for minutes only.
    AHit.UtcOffsetMinutes = static_cast<std::int32_t>((offset + (offset < 0 ? -30 : 30)) / 60);
}

void FillDerivedFields(THitRecord& AHit) {
    THitClass hit =
        ClassifyHit(AHit.Document, AHit.Status, AHit.Query, AHit.Referer, AHit.UserAgent);
    AHit.PageView = hit.PageView;
    AHit.Bot = hit.Bot;
    AHit.Page = std::move(hit.Page);
    AHit.Source = std::move(hit.Source);
    AHit.Browser = hit.Browser;
}

std::string HitTimeText(std::int64_t ATimeMs, std::int32_t AUtcOffsetMinutes) {
    using namespace std::chrono;
    const milliseconds local(ATimeMs + std::int64_t{AUtcOffsetMinutes} * 60000);
    const sys_days day = floor<days>(sys_time<milliseconds>(local));
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> time(local - day.time_since_epoch());
    const int offset = AUtcOffsetMinutes < 0 ? -AUtcOffsetMinutes : AUtcOffsetMinutes;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03d%c%02d:%02d",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()),
                  static_cast<int>(time.subseconds().count()), AUtcOffsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    return text;
}

std::string HitText(std::string_view AText, std::size_t ALimit) {
    std::string text;
    text.reserve(std::min(AText.size(), ALimit));
    const bool whole = ForEachCharWithin(
        AText, ALimit, [&text](std::string_view ABytes, char32_t APoint, bool ARepaired) {
            if (!ARepaired) {
                text += ABytes;
                return;
            }
            text += static_cast<char>(0xC0 | APoint >> 6);
            text += static_cast<char>(0x80 | (APoint & 0x3F));
        });
    if (!whole)
        text += LogCutMark;
    return text;
}

std::string ParamsJsonOf(const THitRecord& AHit) {
    std::string json = "{";
    // Names as written, to keep the first of a name only. Ordered, not hashed: the client
    // chooses them. Items are looked at only while their own bytes could still fit, so a
    // text of many repeated names costs no more than one that fits.
    std::set<std::string, std::less<>> names;
    std::size_t looked = 0;
    for (const auto& [name, value] : AHit.Params) {
        looked += std::min(name.size(), LogFieldLimit) + std::min(value.size(), LogFieldLimit) + 2;
        if (looked > 2 * HitParamsLimit)
            break;
        std::string item;
        AppendJsonString(item, name, LogFieldLimit);
        if (!names.insert(item).second)
            continue;
        item += ':';
        AppendJsonString(item, value, LogFieldLimit);
        if (json.size() + 1 + item.size() + 1 > HitParamsLimit)
            break;
        if (json.size() > 1)
            json += ',';
        json += item;
    }
    return json + "}";
}

std::string JsonLineOf(const THitRecord& AHit) {
    std::string line;
    line.reserve(512);
    TJsonObject json(line);
    json.Raw("time", "\"" + HitTimeText(AHit.TimeMs, AHit.UtcOffsetMinutes) + "\"");
    json.Text("instance", AHit.Instance);
    json.Optional("address", AHit.Address);
    json.Optional("visitor", AHit.Visitor);
    json.Number("port", AHit.Port);
    json.Optional("host", AHit.Host);
    json.Text("nickname", AHit.NickName);
    json.Text("method", AHit.Method);
    json.Text("document", AHit.Document);
    json.Text("query", AHit.Query, HitQueryLimit);
    json.Raw("params", ParamsJsonOf(AHit));
    json.Number("status", AHit.Status);
    json.Number("size", AHit.Size);
    json.Text("referer", AHit.Referer);
    json.Text("user_agent", AHit.UserAgent);
    json.Optional("tls", AHit.TLS);
    json.Text("proxy", AHit.Proxy);
    json.Flag("pageview", AHit.PageView);
    json.Flag("bot", AHit.Bot);
    json.Text("page", AHit.Page);
    json.Text("source", AHit.Source);
    json.Text("browser", AHit.Browser);
    json.End();
    return line;
}
