// One hit as a plain value: what the request said, what was answered, and what the statistics
// make of it; and its JSON line, the form the daily .jsonl file and the shared store take.
// Plain values and pure functions; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/LogText.h"

struct THitRecord {
    std::int64_t TimeMs = 0;            // the instant, in milliseconds since 1970 (UTC)
    std::int32_t UtcOffsetMinutes = 0;  // the local zone's offset east of UTC at that instant
    std::string Instance;               // which server took the hit
    std::optional<std::string> Address; // the client's address (as the settings keep it)
    std::optional<std::string> Visitor;
    int Port = 0;                    // the client's port
    std::optional<std::string> Host; // the looked-up name, when names are looked up
    std::string NickName;
    std::string Method;
    std::string Document;
    std::string Query; // the parameter text as sent (a POST: body, CR LF, query)
    std::vector<std::pair<std::string, std::string>> Params; // decoded, in order
    int Status = 0;
    long long Size = 0;
    std::string Referer;
    std::string UserAgent;
    std::optional<std::string> TLS; // protocol name of an HTTPS hit
    std::string Proxy;              // the trusted proxy it came through; empty when none

    // What the statistics make of the hit (FillDerivedFields).
    bool PageView = false;
    bool Bot = false;
    std::string Page;
    std::string Source;
    std::string Browser;
};

// TimeMs and UtcOffsetMinutes of an instant, in the local zone's rules of that instant.
void SetHitTime(THitRecord& AHit, std::chrono::system_clock::time_point ATime);
// PageView, Bot, Page, Source and Browser by the statistics' own rules, from Document,
// Status, Query, Referer and UserAgent.
void FillDerivedFields(THitRecord& AHit);

// Each text of the record is bounded like a log field: at most LogFieldLimit bytes as the JSON
// line writes it (escapes included), the query at HitQueryLimit, all parameters together at
// HitParamsLimit (later ones are left out); a cut text ends in LogCutMark.
inline constexpr std::size_t HitQueryLimit = LogRequestLimit;
inline constexpr std::size_t HitParamsLimit = 4096;

// The JSON object of one hit on one line, without a line end. Always valid JSON and valid
// UTF-8: bytes that are not UTF-8 are written as \u00XX of their Latin-1 reading; control
// characters, DEL, U+0080 to U+009F, U+2028 and U+2029 as escapes. Absent optional fields are
// left out. A parameter named twice keeps its first value, as the statistics read it.
std::string JsonLineOf(const THitRecord& AHit);
// The "params" object of that line.
std::string ParamsJsonOf(const THitRecord& AHit);
// "2026-12-08T14:03:07.045+01:00": the instant ATimeMs (milliseconds since 1970, UTC) as the
// local time of a zone AUtcOffsetMinutes east of UTC, with milliseconds and the offset.
std::string HitTimeText(std::int64_t ATimeMs, std::int32_t AUtcOffsetMinutes);
// A text of the record as a reader of its JSON line gets it back (bounded and cut the same).
std::string HitText(std::string_view AText, std::size_t ALimit = LogFieldLimit);
