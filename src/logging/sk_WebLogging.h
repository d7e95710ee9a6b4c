// Text of one access-log line in the NCSA common and combined formats.
// Pure builders; any thread.
#pragma once

#include <string>

#include "base/DateTime.h"

// The zone text for a UTC bias in seconds (UTC minus local): "+0100", "-0500", "+0530".
std::string LogZoneTextOf(int AUtcBiasSeconds);
// The zone text of the offset in force at the local time ALocal, so that a line written after
// a daylight-saving change, or in a half-hour zone, names the instant it was logged at.
std::string LogZoneTextAt(TDateTime ALocal);

// "07/Dec/2026:08:49:37 +0100" for a local time (no conversion; its own zone text appended).
std::string LogDateText(TDateTime ATime);

// host ident user [date] "request" status size. Empty identity and user become "-". Every
// text field is escaped: '"', '\\' and bytes below 0x20 or above 0x7E become \xHH, so a line
// stays one line and its fields stay in place.
std::string CommonLogLine(const std::string& AHost, const std::string& AIdentity,
                          const std::string& AUser, TDateTime ATime, const std::string& ARequest,
                          int AStatus, int ASize);

// The common line, then "referer" "user agent" (note: the user agent comes first here).
std::string CombinedLogLine(const std::string& AHost, const std::string& AIdentity,
                            const std::string& AUser, TDateTime ATime, const std::string& ARequest,
                            int AStatus, int ASize, const std::string& AUserAgent,
                            const std::string& AReferer);
