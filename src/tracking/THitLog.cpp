#include "tracking/THitLog.h"

#include <algorithm>
#include <cstdio>

#include "base/DateTime.h"
#include "config/config.h"
#include "http/NetHTTPText.h"
#include "http/TNetHTTPRequestInfo.h"
#include "http/TNetHTTPResponseInfo.h"
#include "logging/LogText.h"
#include "logging/TSKX_Logger.h"
#include "logging/sk_InetFuncs.h"
#include "logging/sk_WebLogging.h"

namespace {

// A client's value in a record: escaped and cut.
void AppendValue(std::string& ABlock, std::string_view AValue) {
    AppendLogField(ABlock, {AValue}, TLogEscape::Text);
}

// One "Name: value" line of the detail block.
void AppendValueLine(std::string& ABlock, std::string_view AName, std::string_view AValue) {
    ABlock += AName;
    AppendValue(ABlock, AValue);
    ABlock += "\r\n";
}

// Appends the lines of one section of the detail block, each cut at LogFieldLimit and all of
// them at ALimit bytes; what is left out is marked by "..." (on the cut line, or on a line of
// its own). Every line ends in CR LF, the last one only when ABreakAfterLast.
template <typename TLineAt>
void AppendSection(std::string& ABlock, std::size_t ACount, TLineAt ALineAt, std::size_t ALimit,
                   bool ABreakAfterLast) {
    std::size_t left = ALimit;
    bool cut = false;
    for (std::size_t i = 0; i < ACount; ++i) {
        const std::string_view line = ALineAt(i);
        if (left == 0 && !line.empty()) {
            if (!cut)
                ABlock.append(LogCutMark).append("\r\n");
            return;
        }
        const std::size_t start = ABlock.size();
        cut = !AppendLogField(ABlock, {line}, TLogEscape::Text, std::min(LogFieldLimit, left));
        left -= std::min(left, ABlock.size() - start);
        if (i + 1 < ACount || ABreakAfterLast)
            ABlock += "\r\n";
    }
}

// The header lines a record keeps of a request whose credentials or address headers are
// redacted, or which was recorded under Do-Not-Track; views into the header list or into Made.
struct TShownHeaders {
    std::vector<std::string_view> Lines;
    std::vector<std::string> Made; // reserved for every line, so the views into it stay
};

constexpr std::string_view CredentialHeaders[] = {"Authorization", "Proxy-Authorization", "Cookie"};
// Headers that proxies and content networks write a client's address into.
constexpr std::string_view AddressHeaders[] = {
    "Forwarded",      "X-Forwarded-For",  "X-Real-IP",        "X-Client-IP",
    "True-Client-IP", "CF-Connecting-IP", "Fastly-Client-IP", "X-Cluster-Client-IP"};
constexpr std::string_view OptedOutHeaders[] = {"Referer", "User-Agent"};

// A folded header's further lines begin with a blank.
bool IsContinuation(std::string_view ALine) {
    return !ALine.empty() && IsHeaderBlank(ALine.front());
}

// Whether the line's name (before its colon, blanks before the colon left out) is one of
// ANames; a continuation line has no name.
template <std::size_t N>
bool NameIsOneOf(std::string_view ALine, const std::string_view (&ANames)[N]) {
    const std::size_t colon = ALine.find(':');
    if (colon == std::string_view::npos || IsContinuation(ALine))
        return false;
    std::string_view name = ALine.substr(0, colon);
    while (!name.empty() && IsHeaderBlank(name.back()))
        name.remove_suffix(1);
    return std::any_of(std::begin(ANames), std::end(ANames),
                       [&](std::string_view AName) { return SameTextAscii(name, AName); });
}

bool IsRedacted(const THitFacts& AHit, std::string_view ALine) {
    return (AHit.RedactCredentials && NameIsOneOf(ALine, CredentialHeaders)) ||
           (AHit.RedactAddressHeaders && NameIsOneOf(ALine, AddressHeaders));
}

// "Name: [redacted, N bytes]" for the header at AIndex; N counts its value as it would read
// unfolded (the further lines joined by one blank). AEnd: the index after its last line.
std::string RedactedLine(const TNetHeaderList& AHeaders, int AIndex, int& AEnd) {
    const std::string_view line = AHeaders.Strings(AIndex);
    const std::size_t colon = line.find(':');
    std::size_t bytes = TrimmedBlanks(line.substr(colon + 1)).size();
    for (AEnd = AIndex + 1; AEnd < AHeaders.Count() && IsContinuation(AHeaders.Strings(AEnd));
         ++AEnd) {
        const std::string_view more = TrimmedBlanks(AHeaders.Strings(AEnd));
        if (!more.empty())
            bytes += (bytes > 0 ? 1 : 0) + more.size();
    }
    return std::string(line.substr(0, colon)) + ": [redacted, " + std::to_string(bytes) + " bytes]";
}

// Fills AShown when the record keeps other lines than the request's own; false when it keeps
// them as they stand (nothing to leave out), so a normal hit copies no list.
bool ShownHeaderLines(const THitFacts& AHit, TShownHeaders& AShown) {
    const TNetHeaderList& headers = *AHit.HeaderLines;
    const int count = headers.Count();
    bool changed = AHit.OptedOut;
    for (int i = 0; i < count && !changed; ++i)
        changed = IsRedacted(AHit, headers.Strings(i));
    if (!changed)
        return false;
    AShown.Made.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count;) {
        const std::string_view line = headers.Strings(i);
        if (AHit.OptedOut) {
            // Only the two lines, and the empty one that closed the header.
            if (line.empty() || NameIsOneOf(line, OptedOutHeaders))
                AShown.Lines.push_back(line);
            ++i;
        } else if (IsRedacted(AHit, line)) {
            int end = i + 1;
            AShown.Made.push_back(RedactedLine(headers, i, end));
            AShown.Lines.push_back(AShown.Made.back());
            i = end;
        } else {
            AShown.Lines.push_back(line);
            ++i;
        }
    }
    return true;
}

void AppendHeaderSection(std::string& ABlock, const THitFacts& AHit) {
    if (!AHit.HeaderLines)
        return;
    TShownHeaders shown;
    if (ShownHeaderLines(AHit, shown)) {
        AppendSection(
            ABlock, shown.Lines.size(), [&](std::size_t AIndex) { return shown.Lines[AIndex]; },
            DetailHeadersLimit, false);
        return;
    }
    const TNetHeaderList& headers = *AHit.HeaderLines;
    AppendSection(
        ABlock, static_cast<std::size_t>(headers.Count()),
        [&](std::size_t AIndex) { return headers.Strings(static_cast<int>(AIndex)); },
        DetailHeadersLimit, false);
}

} // namespace

std::string LookupNickName(const std::vector<std::string>& ANickNames,
                           const std::string& AAddress) {
    const std::string key = TAddressIndex::KeyOf(AAddress);
    for (const std::string& line : ANickNames) {
        std::size_t eq = line.find('=');
        if (eq != std::string::npos && TAddressIndex::KeyOf(line.substr(0, eq)) == key)
            return line.substr(eq + 1);
    }
    return {};
}

bool IsNoLogAddress(const std::vector<std::string>& ANoLogs, const std::string& AAddress) {
    const std::string key = TAddressIndex::KeyOf(AAddress);
    for (const std::string& line : ANoLogs)
        if (TAddressIndex::KeyOf(line) == key)
            return true;
    return false;
}

std::string NickNameOf(const TKAV_GeneralConfig& ASettings, const std::string& AAddress) {
    if (!ASettings.Indexes.NickNames)
        return LookupNickName(ASettings.NickNames, AAddress);
    const std::string* name = ASettings.Indexes.NickNames->Find(AAddress);
    return name ? *name : std::string();
}

bool IsOnNoLogList(const TKAV_GeneralConfig& ASettings, const std::string& AAddress) {
    if (!ASettings.Indexes.NoLogs)
        return IsNoLogAddress(ASettings.NoLogs, AAddress);
    return ASettings.Indexes.NoLogs->Find(AAddress) != nullptr;
}

std::string DetailBlockOf(const THitFacts& AHit) {
    // Room for the fixed lines and every field as it stands, so that the block is built in one
    // allocation unless escapes make it longer.
    std::size_t room = 256 + AHit.HostName.size() + AHit.RemoteIP.size() + AHit.ProxyIP.size() +
                       AHit.NickName.size() + AHit.Command.size() + AHit.Document.size();
    for (const std::string& param : AHit.Params)
        room += param.size() + 2;
    if (AHit.HeaderLines)
        room += AHit.HeaderLines->TextSize();
    std::string block;
    block.reserve(std::min(room, DetailParamsLimit + DetailHeadersLimit + 1024));
    block += "\r\n";
    AppendLongTimeStamp(block, AHit.Time);
    block += " -------------- \r\n";
    // Under Do-Not-Track: the time, the request, Referer and User-Agent, nothing of who sent it.
    if (!AHit.OptedOut) {
        if (!AHit.NickName.empty())
            AppendValueLine(block, "NICKNAME: ", AHit.NickName);
        block += "From: ";
        AppendValue(block, AHit.HostName);
        block += " [";
        AppendValue(block, AHit.RemoteIP);
        block += "]\r\n";
        if (!AHit.VisitorId.empty())
            AppendValueLine(block, "Visitor: ", AHit.VisitorId);
        if (!AHit.ProxyIP.empty())
            AppendValueLine(block, "Proxy: ", AHit.ProxyIP);
        if (!AHit.TLSProtocol.empty())
            AppendValueLine(block, "TLS: ", AHit.TLSProtocol);
    }
    AppendValueLine(block, "Command: ", AHit.Command);
    AppendValueLine(block, "Document: ", AHit.Document);
    if (!AHit.Params.empty()) {
        block += "--- URI PARAMS START:\r\n";
        AppendSection(
            block, AHit.Params.size(),
            [&](std::size_t AIndex) -> std::string_view { return AHit.Params[AIndex]; },
            DetailParamsLimit, true);
        block += "--- URI PARAMS END\r\n";
    }
    // The header lines joined by CR LF; the closing empty line gives the last its line end.
    block += "--- HTTP HEADERS START:\r\n";
    AppendHeaderSection(block, AHit);
    block += "--- HTTP HEADERS END";
    return block;
}

std::string OverviewLineOf(const THitFacts& AHit) {
    std::string line = ShortTimeStamp(AHit.Time) + " ";
    AppendValue(line, AHit.Command);
    line += ' ';
    AppendValue(line, AHit.Document);
    line += " from ";
    if (AHit.OptedOut) {
        // Where the client stands otherwise, a "-" as in the combined line's host field.
        line += "- (Do-Not-Track) Ref.: ";
        AppendValue(line, AHit.Referer);
        line += " UA: ";
        AppendValue(line, AHit.UserAgent);
        return line;
    }
    if (!AHit.NickName.empty())
        AppendLogField(line, {"(", AHit.NickName, ")"}, TLogEscape::Text);
    line += ' ';
    // An IPv6 address in brackets, so its port stands apart from its groups.
    const bool v6 = AHit.RemoteIP.find(':') != std::string_view::npos;
    if (v6)
        line += '[';
    AppendValue(line, AHit.RemoteIP);
    line += (v6 ? "]:" : ":") + std::to_string(AHit.RemotePort) + " - [";
    AppendValue(line, AHit.HostName);
    line += "] Ref.: ";
    AppendValue(line, AHit.Referer);
    line += " UA: ";
    AppendValue(line, AHit.UserAgent);
    return line;
}

std::string ResponseHeaderBlockOf(const TNetHTTPResponseInfo& AResponse, int ALineCount) {
    std::string block = "--- RESPONSE HEADER START:\r\n" + std::to_string(AResponse.StatusCode) +
                        " " + AResponse.StatusText + "\r\n";
    const int count = ALineCount < 0 ? AResponse.Headers.Count()
                                     : std::min(ALineCount, AResponse.Headers.Count());
    for (int i = 0; i < count; ++i)
        block.append(AResponse.Headers.Strings(i)).append("\r\n");
    block += "--- RESPONSE HEADER END\r\n";
    return block;
}

THitLog::THitLog(std::shared_ptr<IScreenLists> AScreen,
                 std::shared_ptr<TSKX_Logger> AOverviewLogger,
                 std::shared_ptr<TSKX_Logger> ADetailLogger, TMessageThrottle::TClock AClock)
    : FScreen(std::move(AScreen)), FOverviewLogger(std::move(AOverviewLogger)),
      FDetailLogger(std::move(ADetailLogger)),
      FMessages([this](const std::string& AText) { AddSysMessage(AText); }, std::move(AClock)) {}

void THitLog::AddOverviewLine(const TKAV_GeneralConfig& ASettings, std::string AText) {
    AddScreenEntry(TScreenLog::Overview, ASettings.OverviewLogToScreen,
                   ASettings.OverviewLimitScreenLog, ASettings.OverviewScreenLogLines,
                   std::move(AText));
}

void THitLog::AddDetailText(const TKAV_GeneralConfig& ASettings, std::string AText) {
    AddScreenEntry(TScreenLog::Detail, ASettings.DetailLogToScreen, ASettings.DetailLimitScreenLog,
                   ASettings.DetailScreenLogLines, std::move(AText));
}

void THitLog::AddScreenEntry(TScreenLog ALog, bool AShown, bool ALimit, int ALines,
                             std::string AText) {
    if (!AShown || !ScreenAttached())
        return;
    // A limit below 1 counts as 1.
    FScreen->Post(ALog, std::move(AText), ALimit ? std::max(ALines, 1) : 0);
}

void THitLog::AddSysMessage(const std::string& AText) {
    if (ScreenAttached())
        FScreen->Post(TScreenLog::Messages, LongTimeStamp() + ": " + AText, 0);
}

void THitLog::ReportLogDirError(const TKAV_GeneralConfig& ASettings) {
    FMessages.Report(LogWriteKind,
                     "Error writing Logfile in Directory \"" + ASettings.LogDir + "\"");
}

void THitLog::WriteDetailFile(const TKAV_GeneralConfig& ASettings, const std::string& ABlock) {
    if (!FDetailLogger->WriteLog(ABlock))
        ReportLogDirError(ASettings);
}

void THitLog::WriteJsonLine(const TKAV_GeneralConfig& ASettings, std::string ALine) {
    if (!FJsonLogger)
        return;
    ALine += '\n'; // JSON lines end in LF alone, whatever the other files do
    if (!FJsonLogger->WriteLog(ALine))
        ReportLogDirError(ASettings);
}

void THitLog::WriteOverviewFileLine(const TKAV_GeneralConfig& ASettings, const THitFacts& AHit,
                                    const TNetHTTPRequestInfo& ARequest, int ALogStatus,
                                    long long ALogSize) {
    // The request field in pieces: a POST body is not copied into a text of its own first.
    // Under Do-Not-Track the host is "-", and the user name is left out with the rest of who
    // sent it; the identity field holds the visitor id where there is one.
    const TNetHTTPRequestInfo& r = ARequest;
    std::string line = CombinedLogLine(
        AHit.OptedOut ? std::string_view("-") : std::string_view(AHit.HostName), AHit.VisitorId,
        AHit.OptedOut ? std::string_view() : std::string_view(r.AuthUsername), AHit.Time,
        {r.Command, " ", r.Document, " ", r.ParamText, " ", r.Version}, ALogStatus,
        static_cast<int>(ALogSize), AHit.UserAgent, AHit.Referer);
    TFilePlace place;
    if (!FOverviewLogger->WriteLog(line, FOnOverviewLine.empty() ? nullptr : &place)) {
        ReportLogDirError(ASettings);
        return;
    }
    for (const auto& receiver : FOnOverviewLine)
        receiver(line, place);
}

void THitLog::DetachScreen() {
    FScreenDetached.store(true);
}
