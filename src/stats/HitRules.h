// The rules that turn one hit into what the statistics count: page view or not, bot or not,
// browser family, parameter values, the host of a URL, and names as they are shown.
// Pure functions; any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>

// Words that mark a User-Agent as a bot, in lower case; compared without regard to case.
std::span<const std::string_view> BotWords();
bool IsBotAgent(std::string_view AUserAgent);

// "Edge", "Opera", "Firefox", "Chrome", "Safari" or "other". Tested in that order, since
// Edge and Opera also name Chrome, and Chrome also names Safari.
std::string_view BrowserFamilyOf(std::string_view AUserAgent);

// True when the document ends in ".gif" in any letter case: the tracking image.
bool IsGifDocument(std::string_view ADocument);

// The value of the first item named AName in a parameter text (items separated by "&", or by
// the line break of a POST), URL-decoded (%XX and "+"). False when there is none.
bool FindParam(std::string_view AParams, std::string_view AName, std::string& AValue);

// Appends AText with %XX turned into its byte and "+" into a blank; a "%" that starts no
// valid escape stays as it is.
void AppendUrlDecoded(std::string_view AText, std::string& AOut);

// The URL up to its query ("?") or fragment ("#").
std::string_view WithoutQueryAndFragment(std::string_view AUrl);

// The host of a URL ("https://User@Example.COM:8080/x" gives "example.com"), in lower case,
// without user, port and trailing dot; a text without "scheme://" is read as starting with
// the host. Empty when there is none.
void AssignHostOf(std::string_view AUrl, std::string& AHost);

// A name as a terminal, a JSON text or the window shows it: UTF-8 characters as they are;
// control characters, the backslash and bytes that are not UTF-8 as \xHH, the way the log
// file writes them. The result is printable UTF-8.
std::string DisplayName(std::string_view AName);
