#include "dashboard/TDashboardHandler.h"

#include <chrono>
#include <cstdio>

#include "base/IPAddress.h"
#include "config/config.h"
#include "dashboard/DashboardFiles.h"
#include "dashboard/DashboardPage.h"
#include "dashboard/DashboardPassword.h"
#include "dashboard/DashboardQuery.h"
#include "dashboard/TDashboardSessions.h"
#include "dashboard/TSignInThrottle.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPResponseInfo.h"
#include "logging/LogText.h"
#include "stats/HitRules.h"
#include "stats/StatsReport.h"
#include "stats/TLiveDay.h"
#include "store/StoreStats.h"
#include "tcp/TNetPeerThread.h"
#include "tcp/TNetTCPServer.h"
#include "tcp/TNetTCPServerConnection.h"
#include "tls/Crypto.h"
#include "tracking/TMessageThrottle.h"

namespace {

constexpr TMessageThrottle::TKind SignInKind{"Dashboard sign-in", 10, std::chrono::seconds(1)};
// Every view asks the store while it is down: one line a minute says why.
constexpr TMessageThrottle::TKind StoreKind{"Dashboard store", 1, std::chrono::seconds(60)};
const char* const StoreDown = "The shared store cannot be read now: the Messages list of sk_KAV "
                              "says why. Try again later.";
const char* const HtmlType = "text/html; charset=utf-8";
const char* const JsonType = "application/json";

// On every answer: the page runs only our own script and style, loads only from here, is
// framed by nobody and sends nobody where it came from; nothing keeps a copy.
void AddSafetyHeaders(TNetHTTPResponseInfo& AResponse) {
    AResponse.Headers.AssignValue(
        "Content-Security-Policy",
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
        "connect-src 'self'; frame-ancestors 'none'; form-action 'self'");
    AResponse.Headers.AssignValue("X-Content-Type-Options", "nosniff");
    AResponse.Headers.AssignValue("Referrer-Policy", "no-referrer");
    AResponse.Headers.AssignValue("Cache-Control", "no-store");
}

void Answer(TNetHTTPResponseInfo& AResponse, int AStatus, std::string_view AType,
            std::string ABody) {
    AResponse.SetStatusCode(AStatus);
    AResponse.ContentType = std::string(AType);
    AResponse.ContentText = std::move(ABody);
}

void AnswerMessage(TNetHTTPResponseInfo& AResponse, int AStatus, const std::string& ATitle,
                   const std::string& AText) {
    Answer(AResponse, AStatus, HtmlType, MessageHtml(ATitle, AText));
}

void AnswerJsonError(TNetHTTPResponseInfo& AResponse, int AStatus, const std::string& AText) {
    // Our own texts: no quote or backslash to escape.
    Answer(AResponse, AStatus, JsonType, "{\"error\":\"" + AText + "\"}\n");
}

void Redirect(TNetHTTPResponseInfo& AResponse, const std::string& ALocation) {
    AResponse.SetStatusCode(303);
    AResponse.Headers.AssignValue("Location", ALocation);
    AResponse.ContentType.clear();
    AResponse.ContentLength = 0;
}

void AnswerTooMany(TNetHTTPResponseInfo& AResponse, int ARetryAfter) {
    AnswerMessage(AResponse, 429, "Too many sign-ins",
                  "Too many wrong passwords from your address: try again in a minute.");
    AResponse.Headers.AssignValue("Retry-After", std::to_string(ARetryAfter));
}

void NotFound(TNetHTTPResponseInfo& AResponse) {
    AnswerMessage(AResponse, 404, "Not found", "There is nothing at this address.");
}

// 405 with the methods the address takes; true when the request may go on.
bool MethodAllowed(const TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                   bool APost) {
    const bool allowed = APost ? ARequest.Command == "POST" : ARequest.Command != "POST";
    if (!allowed) {
        AnswerMessage(AResponse, 405, "Method not allowed",
                      "This address does not take that method.");
        AResponse.Headers.AssignValue("Allow", APost ? "POST" : "GET, HEAD");
    }
    return allowed;
}

void SetSessionCookie(TNetHTTPResponseInfo& AResponse, const std::string& AId) {
    // Secure only over TLS: a cookie marked so never comes back over plain HTTP.
    const bool secure = AResponse.Connection && AResponse.Connection->Secure();
    AResponse.Headers.Add(std::string("Set-Cookie: ") + TDashboardHandler::CookieName + "=" + AId +
                          (AId.empty() ? "; Max-Age=0" : "") +
                          "; Path=/; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : ""));
}

// The live session the request's cookie names (of several cookies of that name, the first
// that is one).
std::optional<TDashboardSessions::TSession> SessionOf(const TNetHTTPRequestInfo& ARequest,
                                                      TDashboardSessions& ASessions) {
    for (int i = ARequest.Cookies.FindByName(TDashboardHandler::CookieName); i >= 0;
         i = ARequest.Cookies.FindByName(TDashboardHandler::CookieName, i + 1))
        if (auto session = ASessions.Find(ARequest.Cookies.Items(i).Value))
            return session;
    return std::nullopt;
}

std::string FormValue(const TNetHTTPRequestInfo& ARequest, std::string_view AName) {
    std::string value;
    (void)FindParam(ARequest.ParamText, AName, value);
    return value;
}

bool IsLoopback(const std::string& AAddress) {
    static const TIPRange ranges[] = {*ParseIPRange("127.0.0.0/8"), *ParseIPRange("::1")};
    const std::optional<TIPAddress> address = ParseIPAddress(AAddress);
    return address && InRanges(ranges, *address);
}

// Whether a Host header names this machine: a loopback address or "localhost", with any port.
// A page of another site whose name its owner pointed at 127.0.0.1 sends that name here, and
// must not read statistics that no password guards.
bool LoopbackHost(std::string_view AHost) {
    std::string_view name = AHost;
    if (name.starts_with('[')) {
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos || (close + 1 < name.size() && name[close + 1] != ':'))
            return false;
        name = name.substr(1, close - 1);
    } else if (const std::size_t colon = name.find(':');
               colon != std::string_view::npos && colon == name.rfind(':')) {
        name = name.substr(0, colon);
    }
    if (name.ends_with('.'))
        name.remove_suffix(1);
    std::string lower(name);
    for (char& c : lower)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == "localhost" || IsLoopback(lower);
}

std::string ClockText() {
    const TDateTimeParts now = DecodeDateTime(Now());
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.Hour, now.Minute, now.Second);
    return text;
}

// Days before today from the source, today from the live count (or from the source while the
// count follows another day, as just after midnight), later days from the source.
class TLiveTodayDays : public IDayFiguresSource {
public:
    TLiveTodayDays(IDayFiguresSource& ASource, TLiveDay& ALive, const TLogDay& AToday)
        : FSource(ASource), FLive(ALive), FToday(AToday) {}

    std::vector<TDayFigures> Days(const TLogDay& AFrom, const TLogDay& ATo) override {
        std::vector<TDayFigures> days;
        if (AFrom < FToday)
            days = FSource.Days(AFrom, std::min(ATo, AddDays(FToday, -1)));
        if (AFrom <= FToday && FToday <= ATo)
            days.push_back(Today());
        if (FToday < ATo) {
            std::vector<TDayFigures> later = FSource.Days(std::max(AFrom, AddDays(FToday, 1)), ATo);
            days.insert(days.end(), later.begin(), later.end());
        }
        return days;
    }

private:
    TDayFigures Today() {
        if (auto figures =
                FLive.Figures(FToday, std::chrono::seconds(TDashboardHandler::WaitSeconds)))
            return *figures;
        std::vector<TDayFigures> today = FSource.Days(FToday, FToday);
        if (!today.empty())
            return today.front();
        TDayFigures missing;
        missing.Day = FToday;
        return missing;
    }

    IDayFiguresSource& FSource;
    TLiveDay& FLive;
    TLogDay FToday;
};

// Why the query cannot be shown with these settings, or empty.
std::string QueryError(const TDashboardQuery& AQuery, const TKAV_GeneralConfig& AConfig) {
    if (!AQuery.Error.empty())
        return AQuery.Error;
    if (!AQuery.Instance.empty() && AConfig.StoreConnection.empty())
        return "An instance is chosen only from a shared store ([Store] Connection), and none "
               "is set.";
    return {};
}

std::vector<std::string> RangeNotes(const TRangeFigures& ARange, const TLogDay& AToday,
                                    const TKAV_GeneralConfig& AConfig) {
    std::vector<std::string> notes;
    // Today without a file has had no hit yet; later days cannot have one.
    int missing = 0, past = 0;
    for (const TDayLine& day : ARange.Days) {
        past += day.Day < AToday ? 1 : 0;
        missing += day.Day < AToday && day.Status == TReadStatus::Missing ? 1 : 0;
    }
    if (ARange.Days.size() > 1)
        notes.push_back("Visitors here are the sum of each day's visitors: one visitor on two "
                        "days counts twice.");
    if (missing > 0)
        notes.push_back(std::to_string(missing) + " of the " + std::to_string(past) +
                        " days before today have no overview log file.");
    for (const std::string& failure : ARange.Failures)
        notes.push_back("Cannot read the overview log of " + DisplayName(failure));
    // The store's days are all read; only its instances' own files matter to it.
    if (AConfig.StoreConnection.empty() && !AConfig.OverviewLogToFile && ARange.From <= AToday &&
        AToday <= ARange.To)
        notes.push_back("The overview log file is off (\"File\" under Overview on the Logging "
                        "page, LogToFile in [OverviewLog]): new hits are not counted.");
    return notes;
}

} // namespace

bool TDashboardHandler::UsableShareToken(const std::string& AToken) {
    if (AToken.size() < 16)
        return false;
    for (char c : AToken)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.' || c == '~'))
            return false;
    return true;
}

struct TDashboardHandler::TAccess {
    bool ReadOnly = false;
    bool NoPassword = false;
    std::string Base;
    std::string FormToken;
};

TDashboardHandler::TDashboardHandler(TDashboardSessions& ASessions, TSignInThrottle& AThrottle,
                                     TMessageThrottle& AMessages, std::shared_ptr<TLiveDay> ALive,
                                     TDaysSourceFactory ADays)
    : FSessions(ASessions), FThrottle(AThrottle), FMessages(AMessages), FLive(std::move(ALive)),
      FDays(std::move(ADays)) {}

void TDashboardHandler::CommandGet(TNetPeerThread&, TNetHTTPRequestInfo& ARequest,
                                   TNetHTTPResponseInfo& AResponse) {
    AddSafetyHeaders(AResponse);
    const std::shared_ptr<const TKAV_GeneralConfig> config = GeneralConfigSnapshot();
    const std::string& document = ARequest.Document;
    TAccess access;
    if (const TDashboardFile* file = DashboardFileOf(document)) {
        if (MethodAllowed(ARequest, AResponse, false))
            Answer(AResponse, 200, file->ContentType, std::string(file->Bytes));
    } else if (document.starts_with("/share/")) {
        ServeShare(ARequest, AResponse, *config);
    } else if (document == "/signin") {
        if (ARequest.Command == "POST")
            SignIn(ARequest, AResponse, *config);
        else
            ServeSignInForm(ARequest, AResponse, *config);
    } else if (document == "/signout") {
        if (MethodAllowed(ARequest, AResponse, true))
            SignOut(ARequest, AResponse);
    } else if (document == "/" || document == "/api/stats") {
        const bool json = document != "/";
        if (MethodAllowed(ARequest, AResponse, false) &&
            Admitted(ARequest, AResponse, *config, json, access))
            json ? ServeJson(ARequest, AResponse, *config, false)
                 : ServeView(ARequest, AResponse, *config, access);
    } else {
        NotFound(AResponse);
    }
}

void TDashboardHandler::CommandOther(TNetPeerThread& AThread) {
    TNetHTTPResponseInfo response(AThread.ServedConnection());
    response.ServerSoftware = ServerSoftware;
    AddSafetyHeaders(response);
    AnswerMessage(response, 405, "Method not allowed", "This address does not take that method.");
    response.Headers.AssignValue("Allow", "GET, HEAD, POST");
    response.WriteHeader();
    response.WriteContent();
}

bool TDashboardHandler::Admitted(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                                 const TKAV_GeneralConfig& AConfig, bool AJson, TAccess& AAccess) {
    if (AConfig.DashboardPasswordHash.empty()) {
        // The listener holds a loopback address then; this also turns away a client that a
        // trusted proxy on this machine forwards.
        if (!IsLoopback(ARequest.RemoteIP)) {
            AJson ? AnswerJsonError(AResponse, 403, "no password is set")
                  : AnswerMessage(AResponse, 403, "No password",
                                  "No password is set: the statistics are shown on this "
                                  "machine only. Set one with sk_kav --dashboard-password.");
            return false;
        }
        if (!ARequest.Host.empty() && !LoopbackHost(ARequest.Host)) {
            AJson ? AnswerJsonError(AResponse, 403, "no password is set: ask 127.0.0.1")
                  : AnswerMessage(AResponse, 403, "No password",
                                  "No password is set: the statistics are shown only at a "
                                  "loopback address such as 127.0.0.1 or localhost, not under "
                                  "another name. Set a password with sk_kav "
                                  "--dashboard-password.");
            return false;
        }
        AAccess.NoPassword = true;
        return true;
    }
    const auto session = SessionOf(ARequest, FSessions);
    if (session && session->SignedIn) {
        AAccess.FormToken = session->Token;
        return true;
    }
    if (AJson)
        AnswerJsonError(AResponse, 401, "sign in first");
    else
        Redirect(AResponse, "/signin");
    return false;
}

bool TDashboardHandler::RangeOf(const TKAV_GeneralConfig& AConfig, const TLogDay& AToday,
                                const TLogDay& AFrom, const TLogDay& ATo,
                                const std::string& AInstance, std::size_t ATop,
                                TRangeFigures& ARange) {
    if (AConfig.StoreConnection.empty()) {
        const std::unique_ptr<IDayFiguresSource> source = FDays(AConfig, AToday);
        TLiveTodayDays days(*source, *FLive, AToday);
        ARange = SumDays(AFrom, ATo, days.Days(AFrom, ATo), ATop);
        return true;
    }
    std::string error;
    if (FStore.Read(
            AConfig.StoreConnection,
            [&](TStoreConnection& AConnection, TStoreDeadline ADeadline) {
                return ReadStoreRange(AConnection, {AFrom, ATo, AInstance, ATop}, ADeadline,
                                      ARange);
            },
            error))
        return true;
    FMessages.Report(StoreKind, "cannot read the shared store: " +
                                    LogField(error, TLogEscape::Text, MessageTextLimit));
    return false;
}

std::vector<std::string> TDashboardHandler::StoreInstances(const TKAV_GeneralConfig& AConfig) {
    std::vector<std::string> instances;
    std::string error;
    if (!FStore.Read(
            AConfig.StoreConnection,
            [&](TStoreConnection& AConnection, TStoreDeadline ADeadline) {
                return ReadStoreInstances(AConnection, ADeadline, instances);
            },
            error))
        instances.clear();
    return instances;
}

void TDashboardHandler::ServeView(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                                  const TKAV_GeneralConfig& AConfig, const TAccess& AAccess) {
    TDashboardView view;
    view.Today = LogDayOf(Now());
    view.Query = ParseDashboardQuery(ARequest.ParamText, view.Today);
    if (const std::string error = QueryError(view.Query, AConfig); !error.empty()) {
        AnswerMessage(AResponse, 400, "Cannot show these days", error);
        return;
    }
    view.Base = AAccess.Base;
    view.ReadOnly = AAccess.ReadOnly;
    view.FormToken = AAccess.FormToken;
    TLogDay beforeFrom, beforeTo;
    PeriodBefore(view.Query, beforeFrom, beforeTo);
    const std::string& instance = view.Query.Instance;
    if (!RangeOf(AConfig, view.Today, view.Query.From, view.Query.To, instance, MoreCount,
                 view.Range) ||
        !RangeOf(AConfig, view.Today, beforeFrom, beforeTo, instance, 0, view.Before)) {
        AnswerMessage(AResponse, 503, "Shared store unavailable", StoreDown);
        return;
    }
    view.Store = !AConfig.StoreConnection.empty();
    if (view.Store) {
        view.Instances = StoreInstances(AConfig);
        view.Notes.push_back(instance.empty() ? "From the shared store: the hits of all instances."
                                              : "From the shared store: the hits of the instance " +
                                                    DisplayName(instance) + ".");
    }
    view.Live = view.Query.From <= view.Today && view.Today <= view.Query.To;
    view.AsOf = view.Live ? ClockText() : std::string();
    if (AAccess.NoPassword)
        view.Notes.push_back("No password is set: anyone who reaches this port on this machine "
                             "sees these statistics. Set one with sk_kav --dashboard-password "
                             "(or on the Dashboard page of the window).");
    if (AAccess.ReadOnly)
        view.Notes.push_back("A read-only view for whoever has its link.");
    for (std::string& note : RangeNotes(view.Range, view.Today, AConfig))
        view.Notes.push_back(std::move(note));
    Answer(AResponse, 200, HtmlType, DashboardHtml(view));
}

void TDashboardHandler::ServeJson(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                                  const TKAV_GeneralConfig& AConfig, bool AReadOnly) {
    const TLogDay today = LogDayOf(Now());
    const TDashboardQuery query = ParseDashboardQuery(ARequest.ParamText, today);
    if (const std::string error = QueryError(query, AConfig); !error.empty()) {
        AnswerJsonError(AResponse, 400, error);
        return;
    }
    std::string top;
    std::size_t count = TDayStats::TopCount;
    if (FindParam(ARequest.ParamText, "top", top) && !top.empty())
        count = std::clamp<std::size_t>(std::strtoul(top.c_str(), nullptr, 10), 1, MoreCount);
    TRangeFigures range;
    if (!RangeOf(AConfig, today, query.From, query.To, query.Instance, count, range)) {
        AnswerJsonError(AResponse, 503, "the shared store cannot be read now");
        return;
    }
    if (AReadOnly)
        range.Summary.VisitorNames.clear(); // addresses are for the owner's eyes only
    Answer(AResponse, 200, JsonType, JsonRangeReport(range));
}

void TDashboardHandler::ServeShare(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                                   const TKAV_GeneralConfig& AConfig) {
    std::string_view rest = std::string_view(ARequest.Document).substr(7);
    const std::size_t slash = rest.find('/');
    const std::string_view token = rest.substr(0, slash);
    const std::string_view what = slash == std::string_view::npos ? "" : rest.substr(slash);
    if (!UsableShareToken(AConfig.DashboardShareToken) ||
        !SameSecret(token, AConfig.DashboardShareToken) ||
        (what != "" && what != "/" && what != "/api/stats")) {
        NotFound(AResponse);
        return;
    }
    if (!MethodAllowed(ARequest, AResponse, false))
        return;
    TAccess access;
    access.ReadOnly = true;
    access.Base = "/share/" + AConfig.DashboardShareToken;
    if (what == "/api/stats")
        ServeJson(ARequest, AResponse, AConfig, true);
    else
        ServeView(ARequest, AResponse, AConfig, access);
}

void TDashboardHandler::ServeSignInForm(TNetHTTPRequestInfo& ARequest,
                                        TNetHTTPResponseInfo& AResponse,
                                        const TKAV_GeneralConfig& AConfig) {
    const auto session = SessionOf(ARequest, FSessions);
    if (AConfig.DashboardPasswordHash.empty() || (session && session->SignedIn)) {
        Redirect(AResponse, "/");
        return;
    }
    const auto pending = session ? session : FSessions.StartPending();
    if (!pending) {
        AnswerMessage(AResponse, 503, "Not now",
                      "The system gave no random numbers for a session.");
        return;
    }
    if (!session)
        SetSessionCookie(AResponse, pending->Id);
    Answer(AResponse, 200, HtmlType, SignInHtml(pending->Token, ""));
}

void TDashboardHandler::SignIn(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                               const TKAV_GeneralConfig& AConfig) {
    const std::string client = TNetTCPServer::ClientKey(ARequest.RemoteIP);
    int retryAfter = 0;
    if (FThrottle.Refused(client, retryAfter)) {
        AnswerTooMany(AResponse, retryAfter);
        return;
    }
    if (AConfig.DashboardPasswordHash.empty()) {
        Redirect(AResponse, "/");
        return;
    }
    const auto session = SessionOf(ARequest, FSessions);
    if (!session || session->SignedIn ||
        !SameSecret(FormValue(ARequest, "token"), session->Token)) {
        // Not from our form: a page elsewhere may not sign anybody in.
        AnswerMessage(AResponse, 403, "Sign-in form expired",
                      "This sign-in did not come from a current sign-in form: open it again.");
        return;
    }
    switch (CheckPassword(ARequest.RemoteIP, FormValue(ARequest, "password"),
                          AConfig.DashboardPasswordHash, retryAfter)) {
    case TPasswordCheck::Busy:
        AnswerMessage(AResponse, 503, "Not now", "Too many sign-ins at once: try again soon.");
        return;
    case TPasswordCheck::Refused:
        AnswerTooMany(AResponse, retryAfter);
        return;
    case TPasswordCheck::Wrong:
        Answer(AResponse, 403, HtmlType, SignInHtml(session->Token, "Wrong password."));
        return;
    case TPasswordCheck::Right:
        break;
    }
    const auto signedIn = FSessions.SignIn(session->Id);
    if (!signedIn) {
        AnswerMessage(AResponse, 503, "Not now",
                      "The system gave no random numbers for a session.");
        return;
    }
    SetSessionCookie(AResponse, signedIn->Id);
    Redirect(AResponse, "/");
}

TDashboardHandler::TPasswordCheck TDashboardHandler::CheckPassword(const std::string& AClientIP,
                                                                   const std::string& APassword,
                                                                   const std::string& AStored,
                                                                   int& ARetryAfter) {
    {
        std::unique_lock<std::mutex> lock(FCheckLock);
        if (!FCheckFree.wait_for(lock, std::chrono::seconds(WaitSeconds),
                                 [this] { return !FChecking; }))
            return TPasswordCheck::Busy;
        FChecking = true;
    }
    const TPasswordCheck result = CheckAlone(AClientIP, APassword, AStored, ARetryAfter);
    {
        std::lock_guard<std::mutex> guard(FCheckLock);
        FChecking = false;
    }
    FCheckFree.notify_one();
    return result;
}

TDashboardHandler::TPasswordCheck TDashboardHandler::CheckAlone(const std::string& AClientIP,
                                                                const std::string& APassword,
                                                                const std::string& AStored,
                                                                int& ARetryAfter) {
    // Asked again now: the sign-ins of one client that waited for their turn together would
    // otherwise all be checked, however many of them went wrong meanwhile.
    const std::string client = TNetTCPServer::ClientKey(AClientIP);
    if (FThrottle.Refused(client, ARetryAfter))
        return TPasswordCheck::Refused;
    if (PasswordMatches(APassword, AStored)) {
        FThrottle.Succeeded(client);
        return TPasswordCheck::Right;
    }
    if (FThrottle.Failed(client))
        FMessages.Report(SignInKind, std::to_string(TSignInThrottle::MaxFailures) +
                                         " wrong passwords within a minute from " +
                                         DisplayName(AClientIP) +
                                         ": its sign-ins are refused until the minute is over");
    return TPasswordCheck::Wrong;
}

void TDashboardHandler::SignOut(TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse) {
    const auto session = SessionOf(ARequest, FSessions);
    if (!session || !SameSecret(FormValue(ARequest, "token"), session->Token)) {
        AnswerMessage(AResponse, 403, "Not signed out",
                      "This sign-out did not come from the dashboard's own page.");
        return;
    }
    FSessions.End(session->Id);
    SetSessionCookie(AResponse, "");
    Redirect(AResponse, "/signin");
}
