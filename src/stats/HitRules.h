// The rules that turn one hit into what the statistics count: page view or not, bot or not,
// browser family, parameter values, the host of a URL, and names as they are shown.
// Pure functions; any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The items of a parameter text in order (empty items left out), name and value URL-decoded;
// an item without "=" has an empty value.
std::vector<std::pair<std::string, std::string>> DecodedParamsOf(std::string_view AParams);

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

// The tracking image answered 200 or 304: a page view, or a bot's when IsBotAgent.
bool IsImageView(std::string_view ADocument, int AStatus);

inline constexpr std::string_view UnknownPage = "(unknown)";
inline constexpr std::string_view DirectSource = "(direct)";

// The page a view counts under: the "page" parameter when it is there and not empty, else the
// Referer without query and fragment, else UnknownPage.
void AssignPageOf(std::string_view AParams, std::string_view AReferer, std::string& APage);
// The source a view counts under: the host of the "ref" parameter, else DirectSource.
// AScratch: a buffer of the caller's, so a loop over many hits allocates rarely.
void AssignSourceOf(std::string_view AParams, std::string& ASource, std::string& AScratch);

// Names longer than this are cut before they are counted, never inside a UTF-8 character,
// and end in "...".
inline constexpr std::size_t MaxCountedNameBytes = 200;
void CutCountedName(std::string& AName);

// What the statistics make of one hit, for records that carry it along.
struct THitClass {
    bool PageView = false; // counted as a page view
    bool Bot = false;      // a view of the tracking image by a bot: counted apart
    std::string Page;      // the groups it counts under as a view (cut like counted names)
    std::string Source;
    std::string_view Browser;
};

// AParams: the parameter text, still URL-encoded (a POST: body, CR LF, query).
THitClass ClassifyHit(std::string_view ADocument, int AStatus, std::string_view AParams,
                      std::string_view AReferer, std::string_view AUserAgent);
