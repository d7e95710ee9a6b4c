// HTTP dates: RFC 1123 texts to and from local date-time values, and the current UTC offset.
// Free functions without shared state; any thread.
#pragma once

#include <string>

#include "base/DateTime.h"

// Result of every failed parse: 29 December 1899 00:00, earlier than any date we produce, so
// "not modified since" comparisons treat an unreadable date as "modified".
constexpr TDateTime HttpDateInvalid = -1.0;

// UTC minus local time in whole seconds at the current moment (UTC+1 gives -3600).
int UtcBiasSeconds();

// "Sun, 06 Nov 1994 08:49:37 GMT" for a local value, converted with the offset in force now.
std::string FormatHttpDate(TDateTime AValue);
// The same, appended to AText.
void AppendHttpDate(std::string& AText, TDateTime AValue);

// Reads an RFC 1123 or RFC 850 date as GMT and returns it in local time (offset in force now);
// HttpDateInvalid when the text cannot be read or names an impossible date or time.
[[nodiscard]] TDateTime ParseHttpDate(const std::string& AText);
