// The dashboard port's answer to each request: the statistics pages and their JSON, the shared
// read-only view, sign-in and sign-out, and the style sheet, script and icon. Every answer
// carries the headers that keep the pages to their own content and out of caches. Peer
// threads, many at once; the settings are read from one snapshot per request.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dashboard/TDashboardStore.h"
#include "stats/StatsRange.h"

class TDashboardSessions;
class TLiveDay;
class TMessageThrottle;
class TNetHTTPResponseInfo;
class TNetPeerThread;
class TSignInThrottle;
struct TKAV_GeneralConfig;
struct TNetHTTPRequestInfo;

// Where the figures of closed days come from, for the settings of one request.
using TDaysSourceFactory = std::function<std::unique_ptr<IDayFiguresSource>(
    const TKAV_GeneralConfig& AConfig, const TLogDay& AToday)>;

class TDashboardHandler {
public:
    // The name of the session cookie.
    static constexpr const char* CookieName = "sk_kav_session";
    // The Server header of every answer, as on the tracking port.
    static constexpr const char* ServerSoftware = "sk_KAV/V1.0";
    // The longest a request waits for today's file to be read, or for a password check.
    static constexpr int WaitSeconds = 10;

    // Everything given must outlive the handler. AMessages takes the per-request Messages
    // lines (the owner says whose they are); ALive
    // counts today (when it follows another day, today's file is read for the request).
    TDashboardHandler(TDashboardSessions& ASessions, TSignInThrottle& AThrottle,
                      TMessageThrottle& AMessages, std::shared_ptr<TLiveDay> ALive,
                      TDaysSourceFactory ADays);

    // GET, HEAD and POST.
    void CommandGet(TNetPeerThread& AThread, TNetHTTPRequestInfo& ARequest,
                    TNetHTTPResponseInfo& AResponse);
    // Every other method: 405.
    void CommandOther(TNetPeerThread& AThread);

    // Whether a ShareToken opens the shared view: at least 16 characters that stand in a path
    // as they are (letters, digits, - _ . ~), so a guessable or mangled one opens nothing.
    static bool UsableShareToken(const std::string& AToken);

private:
    struct TAccess;

    void ServeView(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                   const TKAV_GeneralConfig& AConfig, const TAccess& AAccess);
    void ServeJson(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                   const TKAV_GeneralConfig& AConfig, bool AReadOnly);
    void ServeShare(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                    const TKAV_GeneralConfig& AConfig);
    void ServeSignInForm(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                         const TKAV_GeneralConfig& AConfig);
    void SignIn(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                const TKAV_GeneralConfig& AConfig);
    void SignOut(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse);
    // Whether the request may see the statistics; answers it (sign in first, 403) when not.
    bool Admitted(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                  const TKAV_GeneralConfig& AConfig, bool AJson, TAccess& AAccess);
    enum class TPasswordCheck { Busy, Refused, Wrong, Right };
    // Whether APassword is the stored one, after the checks of other requests (up to
    // WaitSeconds: Busy when they did not leave room in time), unless the client's allowance
    // is used up by then (Refused, with the seconds it waits in ARetryAfter). A wrong one is
    // counted before the next check starts, and told once when it uses up the allowance.
    TPasswordCheck CheckPassword(const std::string& AClientIP, const std::string& APassword,
                                 const std::string& AStored, int& ARetryAfter);
    // The same while this request holds the one check.
    TPasswordCheck CheckAlone(const std::string& AClientIP, const std::string& APassword,
                              const std::string& AStored, int& ARetryAfter);
    // The figures of a range for these settings: with a shared store from the database, today
    // too, for AInstance (empty: all); else from the files, today from the live count. False
    // when the store cannot be read (the Messages list says why, a line a minute at most).
    bool RangeOf(const TKAV_GeneralConfig& AConfig, const TLogDay& AToday, const TLogDay& AFrom,
                 const TLogDay& ATo, const std::string& AInstance, std::size_t ATop,
                 TRangeFigures& ARange);
    // The store's instances for the view's choice; empty when they cannot be read.
    std::vector<std::string> StoreInstances(const TKAV_GeneralConfig& AConfig);

    TDashboardSessions& FSessions;
    TSignInThrottle& FThrottle;
    TMessageThrottle& FMessages;
    std::shared_ptr<TLiveDay> FLive;
    TDaysSourceFactory FDays;
    TDashboardStore FStore;
    // One password check at a time: each costs hundreds of milliseconds of a processor, and a
    // crowd of strangers must not take them all. FCheckLock guards FChecking.
    std::mutex FCheckLock;
    std::condition_variable FCheckFree;
    bool FChecking = false;
};
