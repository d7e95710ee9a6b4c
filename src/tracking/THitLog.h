// Hit records: the overview line, detail block and response header block of a hit, the routing
// lists, and the appends to the three screen lists and the two log files. Any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
    std::string_view Command;
    std::string_view Document;
    std::string_view RemoteIP; // the client: the peer, or the client behind a trusted proxy
    std::string_view ProxyIP;  // the trusted proxy the request came through; empty when none
    int RemotePort = 0;
    std::string HostName;
    std::string NickName; // not enclosed
    std::string Referer;
    std::string UserAgent;
    std::span<const std::string> Params;
    const TNetHeaderList* HeaderLines = nullptr; // in arrival order, ending with the empty line
};

// Client texts in the records below are escaped (control bytes, invalid UTF-8 as \xHH) and
// each cut at LogFieldLimit bytes; the detail block's parameters together at
// DetailParamsLimit, its header lines at DetailHeadersLimit. Normal traffic stays as it is.
inline constexpr std::size_t DetailParamsLimit = 4096;
inline constexpr std::size_t DetailHeadersLimit = 8192;

std::string DetailBlockOf(const THitFacts& AHit);
// The overview line behind the given short stamp.
std::string OverviewLineOf(const std::string& AShortStamp, const THitFacts& AHit);
std::string ResponseHeaderBlockOf(const TNetHTTPResponseInfo& AResponse);

class THitLog {
public:
    // Messages list limit: an append first drops the oldest line while it holds more.
    static constexpr int MaxSysMessages = 5000;

    // AClock paces the Messages lines (tests replace it; the steady clock otherwise).
    THitLog(std::shared_ptr<IScreenLists> AScreen, std::shared_ptr<TSKX_Logger> AOverviewLogger,
            std::shared_ptr<TSKX_Logger> ADetailLogger, TMessageThrottle::TClock AClock = nullptr);

    // Appends an entry to Memo1 / Memo2 with the lock, busy counter and trimming of that log;
    // ASettings gives the log's switches. Peer threads.
    void AddOverviewLine(const TKAV_GeneralConfig& ASettings, const std::string& AText);
    void AddDetailText(const TKAV_GeneralConfig& ASettings, const std::string& AText);
    void LogResponseHeader(const TKAV_GeneralConfig& ASettings,
                           const TNetHTTPResponseInfo& AResponse);
    // Writes the combined line when AWrite; a failed write becomes a Messages line (one a
    // minute, the rest counted).
    void WriteOverviewFileLine(const TKAV_GeneralConfig& ASettings, bool AWrite,
                               const TNetHTTPRequestInfo& ARequest, const std::string& AHostName,
                               const std::string& AReferer, const std::string& AUserAgent,
                               int ALogStatus, long long ALogSize);
    // Writes the detail block to the detail file; a failed write becomes a Messages line.
    void WriteDetailFile(const TKAV_GeneralConfig& ASettings, const std::string& ABlock);
    // Appends "<long stamp>: <text>" to the Messages list. Any thread.
    void AddSysMessage(const std::string& AText);
    // Per-request lines (unsupported commands, failed writes, refusals) go through here, so
    // they cannot flood the Messages list. Any thread.
    TMessageThrottle& Messages() { return FMessages; }

    // From now on nothing more reaches the screen lists (the front end is closing). Any thread.
    void DetachScreen();

    // Receives each combined line once the overview file holds it. Set before the server
    // starts; peer threads call it, many at once, so it must return at once.
    void SetOnOverviewLine(std::function<void(const std::string& ALine)> AEvent) {
        FOnOverviewLine = std::move(AEvent);
    }

    TSKX_Logger& OverviewLogger() { return *FOverviewLogger; }
    TSKX_Logger& DetailLogger() { return *FDetailLogger; }

private:
    struct TScreenLogState {
        explicit TScreenLogState(TScreenLog ALog) : Log(ALog) {}
        TScreenLog Log;
        std::mutex Lock;          // serialises the whole append sequence of one screen log
        std::atomic<int> Busy{0}; // appends of this log in progress
    };

    void AddScreenEntry(TScreenLogState& AState, bool AShown, bool ALimit, int ALines,
                        const std::string& AText);
    void TrimScreenLog(TScreenLog ALog, int ALimit);
    void ReportLogDirError(const TKAV_GeneralConfig& ASettings);
    bool ScreenAttached() const { return !FScreenDetached.load(); }

    std::shared_ptr<IScreenLists> FScreen;
    std::shared_ptr<TSKX_Logger> FOverviewLogger;
    std::shared_ptr<TSKX_Logger> FDetailLogger;
    TScreenLogState FOverview{TScreenLog::Overview};
    TScreenLogState FDetail{TScreenLog::Detail};
    std::atomic<bool> FScreenDetached{false};
    std::function<void(const std::string& ALine)> FOnOverviewLine;
    TMessageThrottle FMessages;
};
