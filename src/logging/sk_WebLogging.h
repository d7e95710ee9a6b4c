// Text of one access-log line in the NCSA common and combined formats.
// Pure builders; any thread. The zone text is fixed by the first call of LogZoneText.
#pragma once

#include <string>

#include "base/DateTime.h"

// Zone text of the log lines ("+0100", "-0500"), computed on the first call and unchanged for
// the rest of the run. Call it once at start-up, before the server can run.
const std::string& LogZoneText();
// The zone text for a given UTC bias in seconds (UTC minus local); whole hours only.
std::string LogZoneTextOf(int AUtcBiasSeconds);

// "07/Dec/2026:08:49:37 +0100" for a local time (no conversion; LogZoneText appended).
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
