#include "tracking/TTrackingHandler.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>

#include "base/DateTime.h"
#include "base/IPAddress.h"
#include "base/ProgramDir.h"
#include "config/config.h"
#include "http/NetHTTPForwarded.h"
#include "http/NetHTTPText.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPResponseInfo.h"
#include "http/TNetHTTPServer.h"
#include "logging/LogText.h"
#include "logging/lib_rfc1123.h"
#include "logging/sk_InetFuncs.h"
#include "stats/HitRules.h"
#include "tcp/TNetPeerThread.h"
#include "tracking/HitPrivacy.h"
#include "tracking/IHitStore.h"
#include "tracking/THitRecord.h"
#include "tracking/TVisitorKeys.h"

namespace {

struct TContentChoice {
    const char* Suffix; // document ends with it (nullptr: compare whole)
    const char* Whole1;
    const char* Whole2;
    const char* File;
    const char* ContentType;
};

// Tried in this order; a missing file is no match, so a later entry can still match.
constexpr TContentChoice ContentChoices[] = {
    {".GIF", nullptr, nullptr, "1x1.gif", "image/gif"},
    {nullptr, "/", "/INDEX.HTM", "index.htm", "text/html"},
    {nullptr, "/ROBOTS.TXT", nullptr, "robots.txt", "text/plain"},
};

bool EndsWith(const std::string& AText, const std::string& ASuffix) {
    return AText.size() >= ASuffix.size() &&
           AText.compare(AText.size() - ASuffix.size(), ASuffix.size(), ASuffix) == 0;
}

using TLookFile = std::function<TNetSmallFileCache::TFile(const std::string& APath)>;

// Chooses the content file for a document; empty when none matches. AFile: the chosen file as
// ALook found it, which the answer takes, so a hit looks at its file once.
std::string ChooseContentFile(const std::string& ADocument, std::string& AContentType,
                              const TLookFile& ALook, TNetSmallFileCache::TFile& AFile) {
    // ASCII only: the process locale (set by the window's toolkit) must not decide a match;
    // under a Turkish locale toupper leaves 'i' alone and "/t.gif" would be 404.
    std::string upper = UpperCaseAscii(ADocument);
    for (const TContentChoice& choice : ContentChoices) {
        bool matches = choice.Suffix
                           ? EndsWith(upper, choice.Suffix)
                           : (upper == choice.Whole1 || (choice.Whole2 && upper == choice.Whole2));
        if (!matches)
            continue;
        std::string path = ProgramFile(choice.File);
        AFile = ALook(path);
        if (AFile.Regular) {
            AContentType = choice.ContentType;
            return path;
        }
    }
    return {};
}

void AppendCacheControl(std::string& AText, const TKAV_GeneralConfig& ASettings) {
    const std::size_t start = AText.size();
    auto add = [&](std::string_view AItem) {
        if (AText.size() > start)
            AText += ", ";
        AText += AItem;
    };
    if (ASettings.CacheControlMaxAge) {
        add("max-age=");
        AText += std::to_string(ASettings.CacheControlMaxAgeSecs);
    }
    if (ASettings.CacheControlPrivate)
        add("private");
    if (ASettings.CacheControlNoCache)
        add("no-cache");
}

// The size of a file opened for reading, as the HEAD answer announces it; throws when the
// file cannot be opened, which the HTTP layer turns into a 500 answer: the message names no
// path, since it may reach the client.
long long FileSizeForHead(const std::string& APath) {
    std::FILE* file = std::fopen(APath.c_str(), "rb");
    if (!file)
        throw std::runtime_error("Cannot open the content file.");
    struct stat info {};
    int rc = ::fstat(fileno(file), &info);
    std::fclose(file);
    if (rc != 0)
        throw std::runtime_error("Cannot open the content file.");
    return info.st_size;
}

int PeerPortOf(TNetPeerThread& AThread) {
    TNetTCPServerConnection* connection = AThread.ServedConnection();
    return connection ? connection->Binding().RemotePort() : 0;
}

std::string_view TLSProtocolOf(TNetPeerThread& AThread) {
    TNetTCPServerConnection* connection = AThread.ServedConnection();
    return connection ? connection->SecureProtocol() : std::string_view();
}

} // namespace

std::string ErrorPageOf(const std::string& AStatusText) {
    return "<html><head><title>Error</title></head><body><h1>" + AStatusText +
           "</h1></body></html>";
}

TTrackingHandler::TTrackingHandler(std::shared_ptr<THitLog> AHitLog, TNetHTTPServer& AServer,
                                   std::shared_ptr<TVisitorKeys> AVisitorKeys)
    : FHitLog(std::move(AHitLog)), FServer(AServer),
      FHostNames(std::make_unique<THostNameCache>(&HostNameOf)),
      FVisitorKeys(std::move(AVisitorKeys)) {}

void TTrackingHandler::SetHostNameLookup(THostNameCache::TLookup ALookup,
                                         THostNameCache::TLimits ALimits) {
    FHostNames = std::make_unique<THostNameCache>(std::move(ALookup), ALimits);
}

void TTrackingHandler::SetHitStore(std::shared_ptr<IHitStore> AStore) {
    std::lock_guard<std::mutex> guard(FStoreLock);
    FStoreOn.store(AStore != nullptr, std::memory_order_release);
    FStore = std::move(AStore);
}

std::shared_ptr<IHitStore> TTrackingHandler::HitStore() const {
    if (!FStoreOn.load(std::memory_order_acquire))
        return nullptr;
    std::lock_guard<std::mutex> guard(FStoreLock);
    return FStore;
}

namespace {

// The ranges of TrustedProxies when they hold APeerIP; none otherwise.
std::shared_ptr<const std::vector<TIPRange>> RangesTrusting(const TKAV_GeneralConfig& ASettings,
                                                            const std::string& APeerIP) {
    std::shared_ptr<const std::vector<TIPRange>> trusted = TrustedProxiesOf(ASettings);
    if (trusted->empty())
        return nullptr;
    const std::optional<TIPAddress> peer = ParseIPAddress(APeerIP);
    return peer && InRanges(*trusted, *peer) ? trusted : nullptr;
}

// The settings the request's head was taken in (one snapshot for the whole request), or the
// current ones for a request that came without the head event.
std::shared_ptr<const TKAV_GeneralConfig> SettingsOf(const TNetHTTPRequestInfo& ARequest) {
    if (ARequest.HandlerState)
        return std::static_pointer_cast<const TKAV_GeneralConfig>(ARequest.HandlerState);
    return GeneralConfigSnapshot();
}

} // namespace

bool TTrackingHandler::IsTrustedProxy(const std::string& APeerIP) {
    return RangesTrusting(*GeneralConfigSnapshot(), APeerIP) != nullptr;
}

void TTrackingHandler::HTTPServerRequestHead(TNetPeerThread&, TNetHTTPRequestInfo& ARequestInfo) {
    std::shared_ptr<const TKAV_GeneralConfig> settings = GeneralConfigSnapshot();
    const auto trusted = RangesTrusting(*settings, ARequestInfo.RemoteIP);
    ARequestInfo.HandlerState = settings;
    if (!trusted)
        return; // from any other peer the forwarding headers are the client's own words
    const TNetForwardedHeader header = settings->ForwardedHeader == ForwardedHeaderNames[1]
                                           ? TNetForwardedHeader::Forwarded
                                           : TNetForwardedHeader::XForwardedFor;
    const std::optional<TIPAddress> client =
        ForwardedClientOf(ARequestInfo.Headers, *trusted, header);
    if (!client)
        return;
    ARequestInfo.ProxyIP = std::move(ARequestInfo.RemoteIP);
    ARequestInfo.RemoteIP = IPAddressText(*client);
}

void TTrackingHandler::HTTPServerCommandOther(TNetPeerThread&, const std::string& asCommand,
                                              const std::string&, const std::string&) {
    FHitLog->Messages().Report(
        CommandOtherKind,
        "Command other: " + LogField(asCommand, TLogEscape::Text, MessageTextLimit) +
            " ... not supported");
}

// What one request decided about where its hit goes.
struct THitRouting {
    // The hit counts where the statistics read (the overview file, the JSON line, the shared
    // store): not on the no-log list, or listed addresses go to the overview file too.
    bool Recorded = false;
    bool ShowOnScreen = false;
    bool WriteOverviewFile = false;
    bool WriteDetailFile = false;
};

// What the answer leaves for the records, set where the answer is decided: the response header
// block and the overview file line come only from an answer that got that far.
struct THitOutcome {
    bool ResponseBlock = false; // the detail screen log gets the answer's status and lines
    int ResponseLines = 0;      // the answer's header lines that the handler added
    bool FileLine = false;      // the overview file gets a line with LogStatus and LogSize
    int LogStatus = 0;
    long long LogSize = 0;
};

namespace {

THitRouting RouteHit(const TKAV_GeneralConfig& ASettings, const std::string& ARemoteIP) {
    // The lookup would change no flag when every box is ticked.
    bool allTicked =
        ASettings.LogNoLogs && ASettings.OverviewLogNoLogs && ASettings.DetailLogNoLogs;
    bool listed = !allTicked && IsOnNoLogList(ASettings, ARemoteIP);
    THitRouting routing;
    routing.Recorded = !listed || ASettings.OverviewLogNoLogs;
    routing.ShowOnScreen = !listed || ASettings.LogNoLogs;
    routing.WriteOverviewFile =
        (!listed || ASettings.OverviewLogNoLogs) && ASettings.OverviewLogToFile;
    routing.WriteDetailFile = (!listed || ASettings.DetailLogNoLogs) && ASettings.DetailLogToFile;
    return routing;
}

// The hit's facts but its host name, which is looked up once the client has its answer. The
// client stands as APrivacy shows it; the nickname list matches its full address.
THitFacts FactsOf(const TKAV_GeneralConfig& ASettings, const THitPrivacy& APrivacy,
                  TNetPeerThread& AThread, const TNetHTTPRequestInfo& ARequest, TDateTime ANow) {
    THitFacts hit;
    hit.Time = ANow;
    hit.Command = ARequest.Command;
    hit.Document = ARequest.Document;
    hit.RemoteIP = APrivacy.Address;
    hit.ProxyIP = ARequest.ProxyIP;
    hit.RemotePort = PeerPortOf(AThread);
    hit.TLSProtocol = TLSProtocolOf(AThread);
    hit.VisitorId = APrivacy.VisitorId;
    hit.OptedOut = APrivacy.OptedOut;
    hit.RedactCredentials = ASettings.RedactCredentials;
    hit.RedactAddressHeaders = APrivacy.Masked;
    if (ASettings.UseNickNames && !APrivacy.OptedOut)
        hit.NickName = NickNameOf(ASettings, ARequest.RemoteIP);
    hit.Referer = ARequest.Headers.ValueOf("Referer");
    hit.UserAgent = ARequest.Headers.ValueOf("User-Agent");
    hit.Params = ARequest.Params;
    hit.HeaderLines = &ARequest.Headers;
    return hit;
}

// The record of a hit as its overview file line shows it, with the client as APrivacy has it:
// no address, port or visitor for a hit under Do-Not-Track.
THitRecord RecordOf(const TKAV_GeneralConfig& ASettings, const THitPrivacy& APrivacy,
                    const THitFacts& AHit, const TNetHTTPRequestInfo& ARequest,
                    const THitOutcome& AOutcome, std::chrono::system_clock::time_point AInstant) {
    THitRecord record;
    SetHitTime(record, AInstant);
    record.Instance = InstanceNameOf(ASettings);
    if (!APrivacy.OptedOut) {
        record.Address = APrivacy.Address;
        record.Port = AHit.RemotePort;
        if (ASettings.ResolveHostNames && !APrivacy.Masked)
            record.Host = AHit.HostName;
    }
    if (!APrivacy.VisitorId.empty())
        record.Visitor = APrivacy.VisitorId;
    record.NickName = AHit.NickName;
    record.Method = ARequest.Command;
    record.Document = ARequest.Document;
    record.Query = ARequest.ParamText;
    // Split before decoding, as the statistics read them: an encoded "=" or "&" stays text.
    record.Params = DecodedParamsOf(ARequest.ParamText);
    record.Status = AOutcome.LogStatus;
    record.Size = AOutcome.LogSize;
    record.Referer = AHit.Referer;
    record.UserAgent = AHit.UserAgent;
    if (!AHit.TLSProtocol.empty())
        record.TLS = std::string(AHit.TLSProtocol);
    record.Proxy = ARequest.ProxyIP;
    FillDerivedFields(record);
    return record;
}

// A header line of a name and a date, built where the list keeps it.
void AddDateLine(TNetHeaderList& AHeaders, std::string_view AName, TDateTime AValue) {
    AHeaders.AddBuilt([&](std::string& ALine) {
        ALine += AName;
        AppendHttpDate(ALine, AValue);
        return true;
    });
}

// The anti-caching lines of GET and HEAD answers, in their order.
void AddCachingLines(const TKAV_GeneralConfig& ASettings, TDateTime ANow,
                     TDateTime ALastModifiedDate, bool ANotModified,
                     TNetHTTPResponseInfo& AResponse) {
    TNetHeaderList& headers = AResponse.Headers;
    AddDateLine(headers, "Date: ", ANow);
    headers.Add("Connection: close");
    // Without a directive there is no line.
    headers.AddBuilt([&](std::string& ALine) {
        ALine += "Cache-Control: ";
        const std::size_t nameEnd = ALine.size();
        AppendCacheControl(ALine, ASettings);
        return ALine.size() > nameEnd;
    });
    if (ASettings.PragmaNoCache)
        headers.Add("Pragma: no-cache");
    if (ASettings.Expires)
        AddDateLine(headers, "Expires: ", ANow + ASettings.ExpiresSecs / SecsPerDay);
    if (ASettings.LastModified && !ANotModified)
        AddDateLine(headers, "Last-Modified: ", ALastModifiedDate);
}

bool SameCommand(const std::string& ACommand, const char* AName) {
    return UpperCaseAscii(ACommand) == AName;
}

} // namespace

void TTrackingHandler::HTTPServerCommandGet(TNetPeerThread& AThread,
                                            TNetHTTPRequestInfo& ARequestInfo,
                                            TNetHTTPResponseInfo& AResponseInfo) {
    const std::chrono::system_clock::time_point instant = ClockNow();
    const TDateTime now = LocalDateTimeOf(instant);
    const std::shared_ptr<const TKAV_GeneralConfig> snapshot = SettingsOf(ARequestInfo);
    const TKAV_GeneralConfig& settings = *snapshot;
    const THitPrivacy privacy = PrivacyOf(settings, ARequestInfo, now, *FVisitorKeys);
    THitFacts hit = FactsOf(settings, privacy, AThread, ARequestInfo, now);
    const THitRouting routing = RouteHit(settings, ARequestInfo.RemoteIP);
    THitOutcome outcome;
    try {
        Answer(settings, now, ARequestInfo, AResponseInfo, outcome);
        AResponseInfo.Finish(ARequestInfo.Command == "HEAD");
    } catch (...) {
        // The HTTP layer answers 500 once this has left; what the hit got to is recorded
        // first, without waiting for a host name.
        RecordHit(settings, routing, privacy, hit, ARequestInfo, AResponseInfo, outcome, instant,
                  false);
        throw;
    }
    RecordHit(settings, routing, privacy, hit, ARequestInfo, AResponseInfo, outcome, instant, true);
}

void TTrackingHandler::Answer(const TKAV_GeneralConfig& ASettings, TDateTime ANow,
                              const TNetHTTPRequestInfo& ARequest, TNetHTTPResponseInfo& AResponse,
                              THitOutcome& AOutcome) {
    // The response header block shows the answer as it stands at this point.
    auto showResponse = [&] {
        AOutcome.ResponseBlock = true;
        AOutcome.ResponseLines = AResponse.Headers.Count();
    };
    auto fileLine = [&](int AStatus, long long ASize) {
        AOutcome.FileLine = true;
        AOutcome.LogStatus = AStatus;
        AOutcome.LogSize = ASize;
    };
    auto answerError = [&](int AStatus) {
        AResponse.SetStatusCode(AStatus);
        AResponse.ContentText = ErrorPageOf(AResponse.StatusText);
        showResponse();
        fileLine(AStatus, 0);
    };

    std::string contentType;
    TNetSmallFileCache::TFile looked;
    const std::size_t smallLimit = TNetHTTPServer::SmallFileLimit(AResponse);
    std::string contentFile = ChooseContentFile(
        ARequest.Document, contentType,
        [&](const std::string& APath) { return FServer.SmallFiles().Look(APath, smallLimit); },
        looked);
    if (contentFile.empty()) {
        answerError(404);
        return;
    }

    const TDateTime lastModifiedDate = DateOf(ANow) - ASettings.LastModifiedDays;
    bool notModified = false;
    std::string ifModifiedSince = ARequest.Headers.ValueOf("If-Modified-Since");
    if (ASettings.EvalIfModifiedSince && !ifModifiedSince.empty())
        notModified = lastModifiedDate <= ParseHttpDate(ifModifiedSince);

    bool isHead = SameCommand(ARequest.Command, "HEAD");
    bool isGet = SameCommand(ARequest.Command, "GET");
    if (!isHead && !isGet) {
        // The error page is HTML, whatever file the document named: keep the record's type.
        answerError(405);
        return;
    }
    AResponse.ContentType = contentType;
    AddCachingLines(ASettings, ANow, lastModifiedDate, notModified, AResponse);
    if (notModified) {
        AResponse.SetStatusCode(304);
        AResponse.ContentType.clear();
        showResponse();
        return;
    }
    if (isHead) {
        long long size = FileSizeForHead(contentFile);
        AResponse.SetStatusCode(200);
        AResponse.ContentLength = size;
        fileLine(200, size);
        showResponse();
        return;
    }
    AResponse.ContentType.clear();
    showResponse();
    long long sent = FServer.AnswerWithLookedFile(AResponse, contentFile, looked);
    fileLine(200, sent);
}

void TTrackingHandler::RecordHit(const TKAV_GeneralConfig& ASettings, const THitRouting& ARouting,
                                 const THitPrivacy& APrivacy, THitFacts& AHit,
                                 const TNetHTTPRequestInfo& ARequest,
                                 const TNetHTTPResponseInfo& AResponse, const THitOutcome& AOutcome,
                                 std::chrono::system_clock::time_point AInstant,
                                 bool AWaitForName) {
    // A screen log that is switched off takes nothing: its records are not even built.
    const bool overviewShown = ARouting.ShowOnScreen && ASettings.OverviewLogToScreen;
    const bool detailShown = ARouting.ShowOnScreen && ASettings.DetailLogToScreen;
    const bool fileLine = AOutcome.FileLine && ARouting.WriteOverviewFile;
    // The JSON line and the store take what the overview file takes, whether that file is on
    // or not.
    const bool recorded = AOutcome.FileLine && ARouting.Recorded;
    const bool jsonLine = recorded && ASettings.ExportJsonFile;
    const std::shared_ptr<IHitStore> store = recorded ? HitStore() : nullptr;
    if (!overviewShown && !detailShown && !ARouting.WriteDetailFile && !fileLine && !jsonLine &&
        !store)
        return;
    // A name not known in time is recorded as the address, as a name that is not found. A
    // masked address is not looked up: the name would tell what the mask leaves out.
    if (ASettings.ResolveHostNames && !APrivacy.Masked && !APrivacy.OptedOut)
        AHit.HostName = FHostNames->NameOf(ARequest.RemoteIP, AWaitForName);
    if (AHit.HostName.empty())
        AHit.HostName = APrivacy.Address;

    THitLog& log = *FHitLog;
    std::string detailBlock;
    if (detailShown || ARouting.WriteDetailFile)
        detailBlock = DetailBlockOf(AHit);
    if (ARouting.WriteDetailFile)
        log.WriteDetailFile(ASettings, detailBlock);
    if (overviewShown)
        log.AddOverviewLine(ASettings, OverviewLineOf(AHit));
    if (detailShown)
        log.AddDetailText(ASettings, std::move(detailBlock));
    if (detailShown && AOutcome.ResponseBlock)
        log.AddDetailText(ASettings, ResponseHeaderBlockOf(AResponse, AOutcome.ResponseLines));
    if (fileLine)
        log.WriteOverviewFileLine(ASettings, AHit, ARequest, AOutcome.LogStatus, AOutcome.LogSize);
    if (!jsonLine && !store)
        return;
    THitRecord record = RecordOf(ASettings, APrivacy, AHit, ARequest, AOutcome, AInstant);
    if (jsonLine)
        log.WriteJsonLine(ASettings, JsonLineOf(record));
    if (store)
        store->Enqueue(std::move(record));
}
