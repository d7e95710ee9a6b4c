// Text of one access-log line in the NCSA common and combined formats.
// Pure builders; any thread.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "base/DateTime.h"

// The zone text for a UTC bias in seconds (UTC minus local): "+0100", "-0500", "+0530".
std::string LogZoneTextOf(int AUtcBiasSeconds);
// The zone text of the offset in force at the local time ALocal, so that a line written after
// a daylight-saving change, or in a half-hour zone, names the instant it was logged at.
std::string LogZoneTextAt(TDateTime ALocal);

// "07/Dec/2026:08:49:37 +0100" for a local time (no conversion; its own zone text appended).
std::string LogDateText(TDateTime ATime);

// host ident user [date] "request" status size. Empty identity and user become "-". Every
// text field is escaped and bounded: '"', '\\' and bytes below 0x20 or above 0x7E become \xHH,
// in host, identity and user also blanks and brackets, so a line stays one line and its fields
// stay in place; each field holds at most LogFieldLimit bytes, the request LogRequestLimit,
// a longer one is cut and ends in "...". ARequest may come in pieces, written as one field.
std::string CommonLogLine(std::string_view AHost, std::string_view AIdentity,
                          std::string_view AUser, TDateTime ATime,
                          std::initializer_list<std::string_view> ARequest, int AStatus, int ASize);
std::string CommonLogLine(std::string_view AHost, std::string_view AIdentity,
                          std::string_view AUser, TDateTime ATime, std::string_view ARequest,
                          int AStatus, int ASize);

// The common line, then "referer" "user agent" (note: the user agent comes first here).
std::string CombinedLogLine(std::string_view AHost, std::string_view AIdentity,
                            std::string_view AUser, TDateTime ATime,
                            std::initializer_list<std::string_view> ARequest, int AStatus,
                            int ASize, std::string_view AUserAgent, std::string_view AReferer);
std::string CombinedLogLine(std::string_view AHost, std::string_view AIdentity,
                            std::string_view AUser, TDateTime ATime, std::string_view ARequest,
                            int AStatus, int ASize, std::string_view AUserAgent,
                            std::string_view AReferer);
