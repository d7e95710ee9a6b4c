// Hit records: the overview line, detail block and response header block of a hit, the routing
// lists, and the appends to the three screen lists and the two log files. Any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/FilePlace.h"
#include "tracking/IScreenLists.h"
#include "tracking/TMessageThrottle.h"

class TSKX_Logger;
class TNetHeaderList;
struct TNetHTTPRequestInfo;
class TNetHTTPResponseInfo;
struct TKAV_GeneralConfig;

// The nickname of AAddress: the text after the first "=" of the first line whose text before
// it equals the address, ignoring letter case and the spelling of an IPv6 address
// (TAddressIndex::KeyOf); empty when none. Scans the list.
std::string LookupNickName(const std::vector<std::string>& ANickNames, const std::string& AAddress);
// True when a whole line of the no-log list equals the address, compared likewise.
bool IsNoLogAddress(const std::vector<std::string>& ANoLogs, const std::string& AAddress);
// The same by the record's look-up tables, a hash look-up each (a scan for a record that was
// never published).
std::string NickNameOf(const TKAV_GeneralConfig& ASettings, const std::string& AAddress);
bool IsOnNoLogList(const TKAV_GeneralConfig& ASettings, const std::string& AAddress);

// What one hit is recorded as: the request's own texts, not copied, and the values the
// handler found. The views must outlive the records built from them.
struct THitFacts {
    TDateTime Time = 0; // when the request arrived: the records' stamps
    std::string_view Command;
    std::string_view Document;
    // The client as the records show it (the peer, or the client behind a trusted proxy):
    // its full or its masked address; empty for a hit recorded under Do-Not-Track.
    std::string_view RemoteIP;
    std::string_view ProxyIP;     // the trusted proxy the request came through; empty when none
    std::string_view TLSProtocol; // "TLSv1.3" for a hit that came over TLS; empty for plain
    int RemotePort = 0;
    std::string HostName;
    std::string NickName; // not enclosed
    std::string Referer;
    std::string UserAgent;
    std::span<const std::string> Params;
    const TNetHeaderList* HeaderLines = nullptr; // in arrival order, ending with the empty line
    std::string_view VisitorId;                  // 16 hex digits; empty: none
    // Do-Not-Track honoured: no address, port, host name, nickname, user name or visitor id;
    // the detail block keeps the time, the request, Referer and User-Agent.
    bool OptedOut = false;
    // The values of Authorization, Proxy-Authorization and Cookie are left out of the detail
    // block: "[redacted, N bytes]" stands for each.
    bool RedactCredentials = false;
    // So are the values of the headers that name client addresses (X-Forwarded-For and its
    // kin), when the records show addresses masked.
    bool RedactAddressHeaders = false;
};

// Client texts in the records below are escaped (control bytes, invalid UTF-8 as \xHH) and
// each cut at LogFieldLimit bytes; the detail block's parameters together at
// DetailParamsLimit, its header lines at DetailHeadersLimit. Normal traffic stays as it is.
inline constexpr std::size_t DetailParamsLimit = 4096;
inline constexpr std::size_t DetailHeadersLimit = 8192;

std::string DetailBlockOf(const THitFacts& AHit);
std::string OverviewLineOf(const THitFacts& AHit);
// The status and the first ALineCount header lines of the answer (all when below 0): the
// answer as it stood before sending it added its own lines.
std::string ResponseHeaderBlockOf(const TNetHTTPResponseInfo& AResponse, int ALineCount = -1);

class THitLog {
public:
    // AClock paces the Messages lines (tests replace it; the steady clock otherwise).
    THitLog(std::shared_ptr<IScreenLists> AScreen, std::shared_ptr<TSKX_Logger> AOverviewLogger,
            std::shared_ptr<TSKX_Logger> ADetailLogger, TMessageThrottle::TClock AClock = nullptr);

    // Posts an entry for Memo1 / Memo2, which the front end shows with the trimming of that
    // log; ASettings gives the log's switches. Never waits for the front end. Peer threads.
    void AddOverviewLine(const TKAV_GeneralConfig& ASettings, std::string AText);
    void AddDetailText(const TKAV_GeneralConfig& ASettings, std::string AText);
    // Writes the combined line of the hit (its request text from ARequest); a failed write
    // becomes a Messages line (one a minute, the rest counted).
    void WriteOverviewFileLine(const TKAV_GeneralConfig& ASettings, const THitFacts& AHit,
                               const TNetHTTPRequestInfo& ARequest, int ALogStatus,
                               long long ALogSize);
    // Writes the detail block to the detail file; a failed write becomes a Messages line.
    void WriteDetailFile(const TKAV_GeneralConfig& ASettings, const std::string& ABlock);
    // Writes one JSON line (without its line end) to the JSON lines file, when there is one;
    // a failed write becomes a Messages line.
    void WriteJsonLine(const TKAV_GeneralConfig& ASettings, std::string ALine);
    // Posts "<long stamp>: <text>" for the Messages list. Any thread; never waits.
    void AddSysMessage(const std::string& AText);
    // Per-request lines (unsupported commands, failed writes, refusals) go through here, so
    // they cannot flood the Messages list. Any thread.
    TMessageThrottle& Messages() { return FMessages; }

    // From now on nothing more reaches the screen lists (the front end is closing). Any thread.
    void DetachScreen();

    // Adds a receiver of each combined line once the overview file holds it, with where in the
    // file it ended. Added before the server starts; peer threads call each, many at once, so
    // it must return at once.
    void AddOnOverviewLine(
        std::function<void(const std::string& ALine, const TFilePlace& APlace)> AEvent) {
        FOnOverviewLine.push_back(std::move(AEvent));
    }

    TSKX_Logger& OverviewLogger() { return *FOverviewLogger; }
    TSKX_Logger& DetailLogger() { return *FDetailLogger; }
    // The writer of the daily JSON lines file (none: no such file). Set before the server
    // starts, like the event above.
    void SetJsonLogger(std::shared_ptr<TSKX_Logger> ALogger) { FJsonLogger = std::move(ALogger); }
    TSKX_Logger* JsonLogger() { return FJsonLogger.get(); }

private:
    void AddScreenEntry(TScreenLog ALog, bool AShown, bool ALimit, int ALines, std::string AText);
    void ReportLogDirError(const TKAV_GeneralConfig& ASettings);
    bool ScreenAttached() const { return !FScreenDetached.load(); }

    std::shared_ptr<IScreenLists> FScreen;
    std::shared_ptr<TSKX_Logger> FOverviewLogger;
    std::shared_ptr<TSKX_Logger> FDetailLogger;
    std::shared_ptr<TSKX_Logger> FJsonLogger;
    std::atomic<bool> FScreenDetached{false};
    std::vector<std::function<void(const std::string& ALine, const TFilePlace& APlace)>>
        FOnOverviewLine;
    TMessageThrottle FMessages;
};
