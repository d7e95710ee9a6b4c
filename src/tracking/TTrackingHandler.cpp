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
#include "tcp/TNetPeerThread.h"

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
        bool matches = choice.Suffix ? EndsWith(upper, choice.Suffix)
                                     : (upper == choice.Whole1 ||
                                        (choice.Whole2 && upper == choice.Whole2));
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

} // namespace

std::string ErrorPageOf(const std::string& AStatusText) {
    return "<html><head><title>Error</title></head><body><h1>" + AStatusText +
           "</h1></body></html>";
}

TTrackingHandler::TTrackingHandler(std::shared_ptr<THitLog> AHitLog, TNetHTTPServer& AServer)
    : FHitLog(std::move(AHitLog)), FServer(AServer) {}

namespace {

// The ranges of TrustedProxies when they hold APeerIP; none otherwise.
std::shared_ptr<const std::vector<TIPRange>> RangesTrusting(const std::string& APeerIP) {
    std::shared_ptr<const std::vector<TIPRange>> trusted =
        TrustedProxiesOf(*GeneralConfigSnapshot());
    if (trusted->empty())
        return nullptr;
    const std::optional<TIPAddress> peer = ParseIPAddress(APeerIP);
    return peer && InRanges(*trusted, *peer) ? trusted : nullptr;
}

} // namespace

bool TTrackingHandler::IsTrustedProxy(const std::string& APeerIP) {
    return RangesTrusting(APeerIP) != nullptr;
}

void TTrackingHandler::HTTPServerRequestHead(TNetPeerThread&, TNetHTTPRequestInfo& ARequestInfo) {
    const auto trusted = RangesTrusting(ARequestInfo.RemoteIP);
    if (!trusted)
        return; // from any other peer the forwarding headers are the client's own words
    const std::optional<TIPAddress> client = ForwardedClientOf(ARequestInfo.Headers, *trusted);
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

namespace {

// What one request decided about where its hit goes (steps before the answer).
struct THitRouting {
    bool ShowOnScreen = false;
    bool WriteOverviewFile = false;
    bool WriteDetailFile = false;
};

THitRouting RouteHit(const TKAV_GeneralConfig& ASettings, const std::string& ARemoteIP) {
    // The lookup would change no flag when every box is ticked.
    bool allTicked = ASettings.LogNoLogs && ASettings.OverviewLogNoLogs && ASettings.DetailLogNoLogs;
    bool listed = !allTicked && IsOnNoLogList(ASettings, ARemoteIP);
    THitRouting routing;
    routing.ShowOnScreen = !listed || ASettings.LogNoLogs;
    routing.WriteOverviewFile =
        (!listed || ASettings.OverviewLogNoLogs) && ASettings.OverviewLogToFile;
    routing.WriteDetailFile = (!listed || ASettings.DetailLogNoLogs) && ASettings.DetailLogToFile;
    return routing;
}

THitFacts FactsOf(const TKAV_GeneralConfig& ASettings, TNetPeerThread& AThread,
                  const TNetHTTPRequestInfo& ARequest) {
    THitFacts hit;
    hit.Command = ARequest.Command;
    hit.Document = ARequest.Document;
    hit.RemoteIP = ARequest.RemoteIP;
    hit.ProxyIP = ARequest.ProxyIP;
    hit.RemotePort = PeerPortOf(AThread);
    if (ASettings.ResolveHostNames)
        hit.HostName = HostNameOf(ARequest.RemoteIP);
    if (hit.HostName.empty())
        hit.HostName = ARequest.RemoteIP;
    if (ASettings.UseNickNames)
        hit.NickName = NickNameOf(ASettings, ARequest.RemoteIP);
    hit.Referer = ARequest.Headers.ValueOf("Referer");
    hit.UserAgent = ARequest.Headers.ValueOf("User-Agent");
    hit.Params = ARequest.Params;
    hit.HeaderLines = &ARequest.Headers;
    return hit;
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
    const TDateTime now = Now();
    // One snapshot for the whole request: settings and lists of one moment.
    std::shared_ptr<const TKAV_GeneralConfig> snapshot = GeneralConfigSnapshot();
    const TKAV_GeneralConfig& settings = *snapshot;
    THitLog& log = *FHitLog;

    THitFacts hit = FactsOf(settings, AThread, ARequestInfo);
    THitRouting routing = RouteHit(settings, ARequestInfo.RemoteIP);
    std::string detailBlock;
    if ((routing.ShowOnScreen && settings.DetailLogToScreen) || routing.WriteDetailFile)
        detailBlock = DetailBlockOf(hit);
    if (routing.WriteDetailFile)
        log.WriteDetailFile(settings, detailBlock);
    // A screen log that is switched off takes nothing: its records are not even built.
    const bool overviewShown = routing.ShowOnScreen && settings.OverviewLogToScreen;
    const bool detailShown = routing.ShowOnScreen && settings.DetailLogToScreen;
    if (overviewShown)
        log.AddOverviewLine(settings, OverviewLineOf(ShortTimeStamp(), hit));
    if (detailShown)
        log.AddDetailText(settings, detailBlock);

    auto logResponse = [&] {
        if (detailShown)
            log.LogResponseHeader(settings, AResponseInfo);
    };
    auto writeFileLine = [&](int AStatus, long long ASize) {
        log.WriteOverviewFileLine(settings, routing.WriteOverviewFile, ARequestInfo, hit.HostName,
                                  hit.Referer, hit.UserAgent, AStatus, ASize);
    };
    auto answerError = [&](int AStatus) {
        AResponseInfo.SetStatusCode(AStatus);
        AResponseInfo.ContentText = ErrorPageOf(AResponseInfo.StatusText);
        logResponse();
        writeFileLine(AStatus, 0);
    };

    std::string contentType;
    TNetSmallFileCache::TFile looked;
    const std::size_t smallLimit = TNetHTTPServer::SmallFileLimit(AResponseInfo);
    std::string contentFile = ChooseContentFile(
        ARequestInfo.Document, contentType,
        [&](const std::string& APath) { return FServer.SmallFiles().Look(APath, smallLimit); },
        looked);
    if (contentFile.empty()) {
        answerError(404);
        return;
    }

    const TDateTime lastModifiedDate = DateOf(now) - settings.LastModifiedDays;
    bool notModified = false;
    std::string ifModifiedSince = ARequestInfo.Headers.ValueOf("If-Modified-Since");
    if (settings.EvalIfModifiedSince && !ifModifiedSince.empty())
        notModified = lastModifiedDate <= ParseHttpDate(ifModifiedSince);

    bool isHead = SameCommand(ARequestInfo.Command, "HEAD");
    bool isGet = SameCommand(ARequestInfo.Command, "GET");
    if (!isHead && !isGet) {
        // The error page is HTML, whatever file the document named: keep the record's type.
        answerError(405);
        return;
    }
    AResponseInfo.ContentType = contentType;
    AddCachingLines(settings, now, lastModifiedDate, notModified, AResponseInfo);
    if (notModified) {
        AResponseInfo.SetStatusCode(304);
        AResponseInfo.ContentType.clear();
        logResponse();
        return;
    }
    if (isHead) {
        long long size = FileSizeForHead(contentFile);
        AResponseInfo.SetStatusCode(200);
        AResponseInfo.ContentLength = size;
        writeFileLine(200, size);
        logResponse();
        return;
    }
    AResponseInfo.ContentType.clear();
    logResponse();
    long long sent = FServer.AnswerWithLookedFile(AResponseInfo, contentFile, looked);
    writeFileLine(200, sent);
}
