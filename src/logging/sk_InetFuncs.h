// Reverse host lookup and the two timestamp texts of the hit log.
// Free functions without shared state; any thread (lookups may run at once).
#pragma once

#include <string>

#include "base/DateTime.h"

// Registered host name of an IPv4 address in dotted text or an IPv6 address; empty text when
// there is none or on any failure. Blocks until the system resolver answers; no cache.
[[nodiscard]] std::string HostNameOf(const std::string& AAddress);

// A local time (now, unless given) as hh:nn:ss:zzz, e.g. 14:03:07:045 (fixed separators,
// whatever the locale).
std::string ShortTimeStamp(TDateTime ATime = Now());
// A local time (now, unless given) as yyyy/mm/dd hh:nn:ss:zzz, e.g. 2026/12/07 14:03:07:045.
std::string LongTimeStamp(TDateTime ATime = Now());
// The same, appended to AText.
void AppendLongTimeStamp(std::string& AText, TDateTime ATime = Now());
